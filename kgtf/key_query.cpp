// GeoKey queries: the keys of a key reader and their values as text, with
// libgeotiff's names for coded values.
#include <geotiffio.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kgtf.h"
#include "kmsc.h"
#include "kstr.h"

namespace {

constexpr int kLastKey = 65535;

// The values of a numeric key joined by ", ", each with `format`.
template <typename T, typename Shown>
std::string numbersText(GTIF* gtif, geokey_t key, int count, const char* format, Shown shown) {
  std::string text;
  char value[64];
  for (int i = 0; i < count; ++i) {
    T stored{};
    if (GTIFKeyGet(gtif, key, &stored, i, 1) != 1) break;
    std::snprintf(value, sizeof value, format, shown(stored));
    text += (i ? ", " : "") + std::string(value);
  }
  return text;
}

std::string asciiText(GTIF* gtif, geokey_t key, int count) {
  // libgeotiff writes the count's characters and a terminator.
  std::vector<char> buffer(size_t(count) + 1, '\0');
  GTIFKeyGet(gtif, key, buffer.data(), 0, count);
  buffer[size_t(count)] = '\0';
  return buffer.data();
}

// libgeotiff's name of a coded value; with the reader, codes its tables lack
// are named from PROJ's database as its own listing names them.
std::string codeName(GTIF* gtif, geokey_t key, int value) {
  const char* name = GTIFValueNameEx(gtif, key, value);
  return name != nullptr ? name : "";
}

// A single SHORT or SSHORT is a code with a name; several are numbers.
template <typename T>
std::string codedText(GTIF* gtif, geokey_t key, int count, const char* format) {
  if (count > 1) return numbersText<T>(gtif, key, count, format, [](T v) { return v; });
  T value = 0;
  GTIFKeyGet(gtif, key, &value, 0, 1);
  return codeName(gtif, key, value);
}

std::string keyText(GTIF* gtif, geokey_t key, int count, tagtype_t type) {
  auto same = [](auto v) { return v; };
  switch (type) {
    case TYPE_SHORT:
      return codedText<uint16_t>(gtif, key, count, "%hu");
    case TYPE_SSHORT:
      return codedText<int16_t>(gtif, key, count, "%hd");
    case TYPE_BYTE:
      return numbersText<uint8_t>(gtif, key, count, "%hu",
                                  [](uint8_t v) { return static_cast<unsigned short>(v); });
    case TYPE_SBYTE:
      return numbersText<int8_t>(gtif, key, count, "%hd",
                                 [](int8_t v) { return static_cast<short>(v); });
    case TYPE_LONG:
      return numbersText<uint32_t>(gtif, key, count, "%lu",
                                   [](uint32_t v) { return static_cast<unsigned long>(v); });
    case TYPE_SLONG:
      return numbersText<int32_t>(gtif, key, count, "%ld",
                                  [](int32_t v) { return static_cast<long>(v); });
    case TYPE_FLOAT:
      return numbersText<float>(gtif, key, count, "%f", [](float v) { return double(v); });
    case TYPE_DOUBLE:
      return numbersText<double>(gtif, key, count, "%f", same);
    case TYPE_ASCII:
      return asciiText(gtif, key, count);
    default:
      return "Unknown";
  }
}

}  // namespace

extern "C" void kgtf_AvailableKeys(GTIF* gtif, int32_t** keys, int32_t* count, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    KerrFrame frame("kgtf_AvailableKeys", err);
    if (keys == nullptr) return frame.fail(__LINE__, "Error determining tags in this file");
    *keys = nullptr;
    if (count != nullptr) *count = 0;
    if (gtif == nullptr) return;
    std::vector<int32_t> found;
    for (int key = 1; key <= kLastKey; ++key)
      if (GTIFKeyInfo(gtif, static_cast<geokey_t>(key), nullptr, nullptr) > 0) found.push_back(key);
    if (found.empty()) return;
    auto* list = static_cast<int32_t*>(kmsc_HeapMalloc(sizeof(int32_t) * found.size()));
    if (list == nullptr) return frame.fail(__LINE__, "No Memory!!");
    std::copy(found.begin(), found.end(), list);
    *keys = list;
    if (count != nullptr) *count = int32_t(found.size());
  });
}

extern "C" char* kgtf_GetKeyValue(GTIF* gtif, int32_t key, Kerr_Report** err) {
  return kerrGuard(__func__, err, static_cast<char*>(nullptr), [&]() -> char* {
    KerrFrame frame("kgtf_GetKeyValue", err);
    if (gtif == nullptr || key < 1 || key > kLastKey) return nullptr;
    tagtype_t type = TYPE_UNKNOWN;
    const auto id = static_cast<geokey_t>(key);
    int count = GTIFKeyInfo(gtif, id, nullptr, &type);
    if (count < 1) return nullptr;
    char* text = kstr_Duplicate(keyText(gtif, id, count, type).c_str());
    if (text == nullptr) frame.fail(__LINE__, "Error creating string");
    return text;
  });
}
