#include "kstr.h"
#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kmsc.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool isNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// Appends the value of the variable starting at path[i] ('$' seen); returns
// the index after it, or npos when the variable is not set.
size_t expandVariable(const char* path, size_t i, std::string& out, std::string& name) {
  size_t start = i + 1;
  size_t end;
  if (path[start] == '{') {
    const char* close = std::strchr(path + start, '}');
    if (close == nullptr) {
      name = path + start;
      return std::string::npos;
    }
    name.assign(path + start + 1, close);
    end = static_cast<size_t>(close - path) + 1;
  } else {
    end = start;
    while (isNameChar(path[end])) ++end;
    name.assign(path + start, path + end);
    if (name.empty()) {  // a lone '$' stays as it is
      out += '$';
      return start;
    }
  }
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::string::npos;
  out += value;
  return end;
}

}  // namespace

extern "C" {

char* kstr_DuplicateN(const char* text, size_t length) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> char* {
    if (text == nullptr) return nullptr;
    if (length == static_cast<size_t>(-1)) return nullptr;
    auto* copy = static_cast<char*>(kmsc_HeapMalloc(length + 1));
    if (copy != nullptr) std::memcpy(copy, text, length);
    return copy;
  });
}

char* kstr_Duplicate(const char* text) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> char* {
    return text ? kstr_DuplicateN(text, std::strlen(text)) : nullptr;
  });
}

char* kstr_Sprintf(char* previous, const char* format, Kerr_Report** err, ...) {
  static const char* kLabel = "kstr_Sprintf";
  KerrFrame frame(kLabel, err);
  if (format == nullptr) return frame.fail(__LINE__, "Args"), nullptr;
  va_list args, copy;
  va_start(args, err);
  va_copy(copy, args);
  int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  char* text = nullptr;
  if (length >= 0) text = static_cast<char*>(kmsc_HeapMalloc(static_cast<size_t>(length) + 1));
  if (text != nullptr) std::vsnprintf(text, static_cast<size_t>(length) + 1, format, args);
  va_end(args);
  if (text == nullptr) return frame.fail(__LINE__, "Formatting failed"), nullptr;
  kmsc_HeapFree(previous);
  return text;
}

int kstr_Eqnic(const char* a, const char* b, size_t n) {
  return kerrGuard(__func__, nullptr, 0, [&]() -> int {
    if (a == nullptr || b == nullptr) return a == b;
    for (size_t i = 0; i < n; ++i) {
      int ca = std::tolower(static_cast<unsigned char>(a[i]));
      int cb = std::tolower(static_cast<unsigned char>(b[i]));
      if (ca != cb) return 0;
      if (ca == 0) return 1;
    }
    return 1;
  });
}

int kstr_Eqic(const char* a, const char* b) {
  return kerrGuard(__func__, nullptr, 0,
                   [&]() -> int { return kstr_Eqnic(a, b, static_cast<size_t>(-1)); });
}

char* kstr_PathExpand(const char* path, int32_t, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> char* {
    static const char* kLabel = "kstr_PathExpand";
    KerrFrame frame(kLabel, err);
    if (path == nullptr) return frame.fail(__LINE__, "Args"), nullptr;
    std::string out;
    size_t i = 0;
    if (path[0] == '~' && (path[1] == '\0' || path[1] == '/')) {
      const char* home = std::getenv("HOME");
      if (home == nullptr) return frame.fail(__LINE__, "Undefined variable %s", "HOME"), nullptr;
      out = home;
      i = 1;
    }
    std::string name;
    while (path[i] != '\0') {
      if (path[i] != '$') {
        out += path[i++];
        continue;
      }
      i = expandVariable(path, i, out, name);
      if (i == std::string::npos)
        return frame.fail(__LINE__, "Undefined variable %s", name.c_str()), nullptr;
    }
    char* result = kstr_DuplicateN(out.data(), out.size());
    if (result == nullptr) frame.calleeFailed(__LINE__, "kstr_Duplicate");
    return result;
  });
}

int kstr_StringListAppend(KstrStringList** list, const char* text, Kerr_Report** err) {
  return kerrGuard(__func__, err, -1, [&]() -> int {
    static const char* kLabel = "kstr_StringListAppend";
    KerrFrame frame(kLabel, err);
    if (list == nullptr || text == nullptr) return frame.fail(__LINE__, "Args"), -1;
    KstrStringList* target = *list;
    bool created = target == nullptr;
    if (created) target = static_cast<KstrStringList*>(kmsc_HeapMalloc(sizeof(KstrStringList)));
    char* copy = kstr_Duplicate(text);
    char** grown = nullptr;
    if (target != nullptr && copy != nullptr)
      grown = static_cast<char**>(kmsc_HeapRealloc(
          target->strings, (static_cast<size_t>(target->count) + 1) * sizeof(char*)));
    if (grown == nullptr) {
      kmsc_HeapFree(copy);
      if (created) kmsc_HeapFree(target);
      return frame.fail(__LINE__, "Out of memory"), -1;
    }
    grown[target->count++] = copy;
    target->strings = grown;
    *list = target;
    return 0;
  });
}

KstrStringList* kstr_StringListCopy(const KstrStringList* list, int32_t, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> KstrStringList* {
    static const char* kLabel = "kstr_StringListCopy";
    KerrFrame frame(kLabel, err);
    if (list == nullptr) return nullptr;
    KstrStringList* copy = nullptr;
    for (int32_t i = 0; i < list->count; ++i) {
      if (kstr_StringListAppend(&copy, list->strings[i], frame.slot()) != 0) {
        frame.calleeFailed(__LINE__, "kstr_StringListAppend");
        kstr_StringListDelete(&copy, nullptr);
        return nullptr;
      }
    }
    if (copy == nullptr)
      copy = static_cast<KstrStringList*>(kmsc_HeapMalloc(sizeof(KstrStringList)));
    if (copy == nullptr) frame.fail(__LINE__, "Out of memory");
    return copy;
  });
}

void kstr_StringListDelete(KstrStringList** list, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    KerrFrame frame("kstr_StringListDelete", err);
    if (list == nullptr || *list == nullptr) return;
    for (int32_t i = 0; i < (*list)->count; ++i) kmsc_HeapFree((*list)->strings[i]);
    kmsc_HeapFree((*list)->strings);
    kmsc_HeapFree(*list);
    *list = nullptr;
  });
}

}  // extern "C"
