#include "ktxt.h"
#include "kerr_guard.h"
#include "kmsc.h"

#include <cstring>
#include <string>

namespace {

// Decodes one UTF-8 sequence at s; advances s. Malformed input gives one
// U+FFFD for its longest start that could still have become a character (a
// truncated sequence is one U+FFFD, a stray byte another). Overlong forms,
// surrogates and values past U+10FFFF are refused at their second byte, so
// each of their bytes is a U+FFFD of its own.
char32_t decodeUtf8(const unsigned char*& s) {
  const unsigned char c = *s++;
  if (c < 0x80) return c;
  const int extra = c >= 0xC2 && c <= 0xDF   ? 1
                    : c >= 0xE0 && c <= 0xEF ? 2
                    : c >= 0xF0 && c <= 0xF4 ? 3
                                             : -1;
  if (extra < 0) return 0xFFFD;  // continuation bytes, C0, C1, F5 to FF
  // The second byte's range rules out the overlong, surrogate and too large.
  const unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
  const unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
  char32_t value = c & (0x3F >> extra);
  for (int i = 0; i < extra; ++i) {
    const unsigned char next = s[i];
    if (i == 0 ? next < low || next > high : (next & 0xC0) != 0x80) {
      s += i;
      return 0xFFFD;
    }
    value = (value << 6) | (next & 0x3F);
  }
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
  return kerrGuard(__func__, nullptr, 0, [&]() -> int {
    if (a == nullptr || b == nullptr) return (a != nullptr) - (b != nullptr);
    return std::strcmp(a, b);
  });
}

size_t ktxt_Text_strlen(const char* text) {
  return kerrGuard(__func__, nullptr, 0, [&]() -> size_t { return text ? std::strlen(text) : 0; });
}

wchar_t* ktxt_Text_Ascii2Unicode(const char* text) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> wchar_t* {
    if (text == nullptr) return nullptr;
    std::wstring wide;
    for (const auto* s = reinterpret_cast<const unsigned char*>(text); *s != 0;)
      wide += static_cast<wchar_t>(decodeUtf8(s));
    auto* out = static_cast<wchar_t*>(kmsc_HeapMalloc((wide.size() + 1) * sizeof(wchar_t)));
    if (out != nullptr) std::memcpy(out, wide.data(), wide.size() * sizeof(wchar_t));
    return out;
  });
}

char* ktxt_Text_Unicode2Ascii(const wchar_t* text) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> char* {
    if (text == nullptr) return nullptr;
    std::string narrow;
    for (; *text != 0; ++text) encodeUtf8(static_cast<char32_t>(*text), narrow);
    auto* out = static_cast<char*>(kmsc_HeapMalloc(narrow.size() + 1));
    if (out != nullptr) std::memcpy(out, narrow.data(), narrow.size());
    return out;
  });
}

}  // extern "C"
