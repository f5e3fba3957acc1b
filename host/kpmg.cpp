#include "kpmg.h"
#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kmsc.h"
#include "kstr.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <map>
#include <new>
#include <string>

namespace {

// A preferences file is a few hundred bytes; anything this large is not one.
constexpr size_t kMaxFileBytes = 16u << 20;

using Layer = std::map<std::string, std::string>;

struct Store {
  bool initialised = false;
  Layer setter;
  Layer file;
  bool haveFile = false;
  std::string fileName;
};

Store& store() {
  static Store instance;
  return instance;
}

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

std::string trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && isBlank(text[begin])) ++begin;
  while (end > begin && isBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string lower(const std::string& text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// A dot in a group would make "a.b"+"c" and "a"+"b.c" the same entry.
bool validGroup(const std::string& group) {
  return !group.empty() && group.find('.') == std::string::npos;
}

bool validName(const std::string& group, const std::string& key) {
  return validGroup(group) && !key.empty();
}

std::string storeKey(const std::string& group, const std::string& key) {
  return lower(group) + "." + lower(key);
}

// Trimmed text; a value wholly in double quotes loses the quotes and keeps
// its blanks. False for an opening quote without its closing one.
bool parseValue(const std::string& raw, std::string& value) {
  value = trim(raw);
  if (value.empty() || value[0] != '"') return true;
  if (value.size() < 2 || value.back() != '"') return false;
  value = value.substr(1, value.size() - 2);
  return true;
}

bool validUtf8(const std::string& text) {
  size_t i = 0, n = text.size();
  while (i < n) {
    auto c = static_cast<unsigned char>(text[i]);
    size_t extra;
    unsigned long code;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1, code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2, code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3, code = c & 0x07;
    } else {
      return false;
    }
    if (n - i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
      auto t = static_cast<unsigned char>(text[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      code = (code << 6) | (t & 0x3F);
    }
    // Overlong forms, surrogates and values past the last code point.
    if ((extra == 2 && code < 0x800) || (extra == 3 && code < 0x10000) || code > 0x10FFFF ||
        (code >= 0xD800 && code <= 0xDFFF))
      return false;
    i += extra + 1;
  }
  return true;
}

// Reads the whole file; on failure `why` says what went wrong.
bool readWholeFile(const char* path, std::string& content, std::string& why) {
  FILE* fp = std::fopen(path, "rb");
  if (fp == nullptr) {
    why = std::strerror(errno);
    return false;
  }
  content.clear();
  char chunk[8192];
  bool ok = true;
  for (;;) {
    size_t got = std::fread(chunk, 1, sizeof chunk, fp);
    if (content.size() + got > kMaxFileBytes) {
      why = "file too large";
      ok = false;
      break;
    }
    content.append(chunk, got);
    if (got < sizeof chunk) {
      if (std::ferror(fp)) {
        why = errno ? std::strerror(errno) : "read error";
        ok = false;
      }
      break;
    }
  }
  std::fclose(fp);
  return ok;
}

void logBadLine(const char* path, int number, const std::string& line) {
  kerr_MessageLog(-1, "Preferences file %s line %d ignored: %s", path, number, line.c_str());
}

// Parses the file text into `layer`, logging and skipping what does not parse.
// A later entry for the same group and key replaces an earlier one.
void parseFile(const char* path, const std::string& content, Layer& layer) {
  size_t pos = 0;
  if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
  std::string group;
  bool inGroup = false;
  for (int number = 1; pos <= content.size(); ++number) {
    size_t end = content.find('\n', pos);
    if (end == std::string::npos) end = content.size();
    std::string line = trim(content.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line.find('\0') != std::string::npos || !validUtf8(line)) {
      logBadLine(path, number, line);
      continue;
    }
    if (line[0] == '[') {
      std::string name = line.back() == ']' ? trim(line.substr(1, line.size() - 2)) : "";
      if (!validGroup(name)) {
        logBadLine(path, number, line);
        continue;
      }
      group = name;
      inGroup = true;
      continue;
    }
    size_t eq = line.find('=');
    std::string key = eq == std::string::npos ? "" : trim(line.substr(0, eq));
    std::string value;
    if (!inGroup || key.empty() || !parseValue(line.substr(eq + 1), value)) {
      logBadLine(path, number, line);
      continue;
    }
    layer[storeKey(group, key)] = value;
  }
}

// Replaces the file layer with the file named by the variable, if any.
void loadFromEnvironment() {
  Store& s = store();
  s.initialised = true;
  s.file.clear();
  s.haveFile = false;
  s.fileName.clear();
  const char* path = std::getenv(KPMG_PREFERENCES_VARIABLE);
  if (path == nullptr || path[0] == '\0') return;
  std::string content, why;
  if (!readWholeFile(path, content, why)) {
    kerr_MessageLog(-1, "Preferences file %s ignored: %s", path, why.c_str());
    return;
  }
  parseFile(path, content, s.file);
  s.haveFile = true;
  s.fileName = path;
}

void ensureLoaded() {
  if (!store().initialised) loadFromEnvironment();
}

// The winning value, or null when only the default applies.
const std::string* lookup(const char* group, const char* key, const char** source = nullptr) {
  ensureLoaded();
  Store& s = store();
  std::string name = storeKey(group, key);
  auto it = s.setter.find(name);
  if (it != s.setter.end()) {
    if (source) *source = "set";
    return &it->second;
  }
  it = s.file.find(name);
  if (it != s.file.end()) {
    if (source) *source = "file";
    return &it->second;
  }
  if (source) *source = "default";
  return nullptr;
}

bool parseNumber(const std::string& text, double& number) {
  // Numbers in the file are written with a point whatever the host's locale.
  static locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  std::string t = trim(text);
  if (t.empty() || cLocale == static_cast<locale_t>(nullptr)) return false;
  char* end = nullptr;
  double value = strtod_l(t.c_str(), &end, cLocale);
  if (end != t.c_str() + t.size() || !std::isfinite(value)) return false;
  number = value;
  return true;
}

bool parseBoolean(const std::string& text, int& flag) {
  static const char* const kTrue[] = {"true", "yes", "on", "1"};
  static const char* const kFalse[] = {"false", "no", "off", "0"};
  std::string t = trim(text);
  for (int index = 0; index < 4; ++index) {
    if (kstr_Eqic(t.c_str(), kTrue[index]) || kstr_Eqic(t.c_str(), kFalse[index])) {
      flag = kstr_Eqic(t.c_str(), kTrue[index]);
      return true;
    }
  }
  return false;
}

// The spelling in `values` ("|"-separated) that `text` matches, trimmed and
// without regard to ASCII case; false when it matches none.
bool acceptedValue(const char* values, const std::string& text, std::string& accepted) {
  const std::string wanted = trim(text);
  for (const char* start = values;;) {
    const char* end = std::strchr(start, '|');
    std::string candidate = end ? std::string(start, end) : std::string(start);
    if (kstr_Eqic(candidate.c_str(), wanted.c_str())) {
      accepted = candidate;
      return true;
    }
    if (end == nullptr) return false;
    start = end + 1;
  }
}

// The shared road of the three getters: arguments, lookup, parse, and the
// default on any failure. `kind` names the value in the malformed-value
// report; with a null `kind` the parser makes its own report.
template <typename T, typename Parse>
T preferenceRead(KerrFrame& frame, const char* group, const char* key, T defaultValue,
                 const char* kind, Parse parse) {
  if (group == nullptr || key == nullptr) return frame.fail(__LINE__, "Args"), defaultValue;
  // Exhausted memory is the exported caller's guard's: it gives the default.
  const std::string* value = lookup(group, key);
  if (value == nullptr) return defaultValue;
  T result;
  if (!parse(*value, result)) {
    if (kind != nullptr)
      frame.fail(__LINE__, "Malformed %s '%s' for %s.%s", kind, value->c_str(), group, key);
    return defaultValue;
  }
  return result;
}

}  // namespace

extern "C" {

char* kpmg_GetEnumPreference(const char* group, const char* key, const char* defaultValue,
                             const char* values, Kerr_Report** err) {
  return kerrGuard(__func__, err, const_cast<char*>(defaultValue), [&]() -> char* {
    static const char* kLabel = "kpmg_GetEnumPreference";
    KerrFrame frame(kLabel, err);
    // A misspelt value is the default, as a malformed number is, but only a
    // warning: the read itself worked.
    auto parse = [&](const std::string& text, char*& copy) {
      std::string accepted = text;
      if (values != nullptr && !acceptedValue(values, text, accepted)) {
        std::string allowed(values);
        for (size_t at = 0; (at = allowed.find('|', at)) != std::string::npos; at += 2)
          allowed.replace(at, 1, ", ");
        frame.report(__LINE__, KERR_WARNING, "Unknown value '%s' for %s.%s (allowed: %s)",
                     text.c_str(), group, key, allowed.c_str());
        return false;
      }
      copy = kstr_DuplicateN(accepted.c_str(), accepted.size());
      if (copy == nullptr) throw std::bad_alloc();
      return true;
    };
    return preferenceRead<char*>(frame, group, key, const_cast<char*>(defaultValue), nullptr,
                                 parse);
  });
}

double kpmg_GetNumberPreference(const char* group, const char* key, double defaultValue,
                                Kerr_Report** err) {
  return kerrGuard(__func__, err, defaultValue, [&]() -> double {
    static const char* kLabel = "kpmg_GetNumberPreference";
    KerrFrame frame(kLabel, err);
    return preferenceRead<double>(frame, group, key, defaultValue, "number", parseNumber);
  });
}

int kpmg_GetBooleanPreference(const char* group, const char* key, int defaultValue,
                              Kerr_Report** err) {
  return kerrGuard(__func__, err, defaultValue, [&]() -> int {
    static const char* kLabel = "kpmg_GetBooleanPreference";
    KerrFrame frame(kLabel, err);
    return preferenceRead<int>(frame, group, key, defaultValue, "boolean", parseBoolean);
  });
}

int kpmg_SetPreference(const char* group, const char* key, const char* value, Kerr_Report** err) {
  return kerrGuard(__func__, err, -1, [&]() -> int {
    static const char* kLabel = "kpmg_SetPreference";
    KerrFrame frame(kLabel, err);
    if (group == nullptr || key == nullptr) return frame.fail(__LINE__, "Args"), -1;
    if (!validName(group, key))
      return frame.fail(__LINE__, "Invalid preference name '%s.%s'", group, key), -1;
    ensureLoaded();
    std::string name = storeKey(group, key);
    if (value == nullptr)
      store().setter.erase(name);
    else
      store().setter[name] = value;
    return 0;
  });
}

int kpmg_SetPreferenceAssignment(const char* assignment, Kerr_Report** err) {
  return kerrGuard(__func__, err, -1, [&]() -> int {
    static const char* kLabel = "kpmg_SetPreferenceAssignment";
    KerrFrame frame(kLabel, err);
    if (assignment == nullptr) return frame.fail(__LINE__, "Args"), -1;
    std::string text(assignment);
    size_t eq = text.find('=');
    size_t dot = text.find('.');
    std::string group, key, value;
    bool ok = eq != std::string::npos && dot < eq;
    if (ok) {
      group = trim(text.substr(0, dot));
      key = trim(text.substr(dot + 1, eq - dot - 1));
      ok = validName(group, key) && parseValue(text.substr(eq + 1), value);
    }
    if (!ok) return frame.fail(__LINE__, "Malformed preference '%s'", assignment), -1;
    if (kpmg_SetPreference(group.c_str(), key.c_str(), value.c_str(), frame.slot()) != 0)
      return frame.calleeFailed(__LINE__, "kpmg_SetPreference"), -1;
    return 0;
  });
}

void kpmg_ClearPreferences(void) {
  kerrGuardVoid(__func__, nullptr, [&] { store().setter.clear(); });
}

int kpmg_Reload(Kerr_Report** err) {
  return kerrGuard(__func__, err, -1, [&]() -> int {
    static const char* kLabel = "kpmg_Reload";
    KerrFrame frame(kLabel, err);
    try {
      loadFromEnvironment();
      return 0;
    } catch (...) {
      store().file.clear();
      store().haveFile = false;
      return frame.fail(__LINE__, "Out of memory"), -1;
    }
  });
}

int kpmg_LoadFile(const char* path, Kerr_Report** err) {
  return kerrGuard(__func__, err, -1, [&]() -> int {
    static const char* kLabel = "kpmg_LoadFile";
    KerrFrame frame(kLabel, err);
    if (path == nullptr) return frame.fail(__LINE__, "Args"), -1;
    std::string content, why;
    if (!readWholeFile(path, content, why))
      return frame.fail(__LINE__, "Cannot read preferences file %s: %s", path, why.c_str()), -1;
    Layer layer;
    parseFile(path, content, layer);
    std::string name(path);
    Store& s = store();
    s.file.swap(layer);
    s.fileName.swap(name);
    s.haveFile = true;
    s.initialised = true;
    return 0;
  });
}

const char* kpmg_GetPreferenceSource(const char* group, const char* key) {
  return kerrGuard(__func__, nullptr, "default", [&]() -> const char* {
    const char* source = "default";
    if (group == nullptr || key == nullptr) return source;
    lookup(group, key, &source);
    return source;
  });
}

const char* kpmg_PreferencesFileName(void) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> const char* {
    ensureLoaded();
    return store().haveFile ? store().fileName.c_str() : nullptr;
  });
}

}  // extern "C"
