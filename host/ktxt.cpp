#include "ktxt.h"
#include "kmsc.h"

#include <cstring>
#include <string>

namespace {

// Decodes one UTF-8 sequence at s; advances s. Malformed input gives U+FFFD
// and consumes one byte.
char32_t decodeUtf8(const unsigned char*& s) {
  unsigned char c = *s++;
  if (c < 0x80) return c;
  int extra = c >= 0xF0 && c < 0xF8 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : -1;
  if (extra < 0 || (c >= 0xE0 && extra == 1)) return 0xFFFD;
  char32_t value = c & (0x3F >> extra);
  for (int i = 0; i < extra; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0xFFFD;
    value = (value << 6) | (s[i] & 0x3F);
  }
  static const char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
  if (value < minimum[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
    return 0xFFFD;
  s += extra;
  return value;
}

void encodeUtf8(char32_t c, std::string& out) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = '?';
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

extern "C" {

int ktxt_Text_strcmp(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return (a != nullptr) - (b != nullptr);
  return std::strcmp(a, b);
}

size_t ktxt_Text_strlen(const char* text) {
  return text ? std::strlen(text) : 0;
}

wchar_t* ktxt_Text_Ascii2Unicode(const char* text) {
  if (text == nullptr) return nullptr;
  std::wstring wide;
  for (const auto* s = reinterpret_cast<const unsigned char*>(text); *s != 0;)
    wide += static_cast<wchar_t>(decodeUtf8(s));
  auto* out = static_cast<wchar_t*>(kmsc_HeapMalloc((wide.size() + 1) * sizeof(wchar_t)));
  if (out != nullptr) std::memcpy(out, wide.data(), wide.size() * sizeof(wchar_t));
  return out;
}

char* ktxt_Text_Unicode2Ascii(const wchar_t* text) {
  if (text == nullptr) return nullptr;
  std::string narrow;
  for (; *text != 0; ++text) encodeUtf8(static_cast<char32_t>(*text), narrow);
  auto* out = static_cast<char*>(kmsc_HeapMalloc(narrow.size() + 1));
  if (out != nullptr) std::memcpy(out, narrow.data(), narrow.size());
  return out;
}

}  // extern "C"
