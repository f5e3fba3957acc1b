/* ktxt: narrow and wide text.
 *
 * Narrow text is UTF-8, wide text is wchar_t (UCS-4 here). The C primitives
 * return new heap strings (kmsc_HeapFree); KtxtTextA and KtxtTextU own one heap
 * buffer each, which may be null (an empty text that was never set).
 */
#ifndef KTXT_H
#define KTXT_H

#include <stddef.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* strcmp that orders null before every string and accepts two nulls. */
int ktxt_Text_strcmp(const char* a, const char* b);
size_t ktxt_Text_strlen(const char* text); /* 0 for null */
/* UTF-8 to wide and back; null gives null. Invalid UTF-8 becomes U+FFFD: one
 * for a truncated sequence, one for every other byte that begins no character
 * (lead bytes C0, C1 and F5 to FF, stray continuation bytes, and each byte of
 * an overlong form, a surrogate or a value past U+10FFFF). Wide characters
 * that are not valid code points become '?'. */
wchar_t* ktxt_Text_Ascii2Unicode(const char* text);
char* ktxt_Text_Unicode2Ascii(const wchar_t* text);

#pragma GCC visibility pop
#ifdef __cplusplus
}

#include <cwchar>
#include <cstring>

#include "kmsc.h"

/* Owning text over a host-heap buffer. */
template <typename CharT>
class KtxtText {
 public:
  KtxtText() = default;
  explicit KtxtText(const CharT* text) { assign(text); }
  KtxtText(const KtxtText& other) { assign(other.buffer_); }
  KtxtText& operator=(const KtxtText& other) {
    if (this != &other) assign(other.buffer_);
    return *this;
  }
  ~KtxtText() { kmsc_HeapFree(buffer_); }

  /* Copies `text` (null empties the text). Returns false when out of memory. */
  bool assign(const CharT* text) {
    CharT* copy = text ? duplicate(text, length(text)) : nullptr;
    if (text && !copy) return false;
    kmsc_HeapFree(buffer_);
    buffer_ = copy;
    return true;
  }
  /* Takes ownership of a heap string. */
  void adopt(CharT* heapText) {
    if (heapText == buffer_) return;
    kmsc_HeapFree(buffer_);
    buffer_ = heapText;
  }
  /* Gives up the buffer to the caller, leaving the text null. */
  CharT* release() {
    CharT* out = buffer_;
    buffer_ = nullptr;
    return out;
  }
  /* The raw buffer slot, for host code that frees or replaces it directly. */
  CharT*& buffer() { return buffer_; }
  const CharT* get() const { return buffer_; }
  const CharT* c_str() const { return buffer_ ? buffer_ : empty(); }
  size_t size() const { return buffer_ ? length(buffer_) : 0; }
  bool isEmpty() const { return size() == 0; }

 private:
  static size_t length(const CharT* text) {
    size_t n = 0;
    while (text[n] != CharT(0)) ++n;
    return n;
  }
  static CharT* duplicate(const CharT* text, size_t n) {
    auto* copy = static_cast<CharT*>(kmsc_HeapMalloc((n + 1) * sizeof(CharT)));
    if (copy) std::memcpy(copy, text, n * sizeof(CharT));
    return copy;
  }
  static const CharT* empty() {
    static const CharT zero = CharT(0);
    return &zero;
  }

  CharT* buffer_ = nullptr;
};

typedef KtxtText<char> KtxtTextA;
typedef KtxtText<wchar_t> KtxtTextU;

#endif /* __cplusplus */

#endif
