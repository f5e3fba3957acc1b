// The two sources of GeoKeys for the geocoding readers: an image's libgeotiff
// handle and a directory held in memory, read alike through typed key reads.
#include "key_source.h"

#include <cstring>
#include <string>

#include "kerr_frame.h"
#include "kmsc.h"

namespace {

constexpr uint16_t kDoubleParams = 34736;
constexpr uint16_t kAsciiParams = 34737;

enum Field { kKey, kLocation, kCount, kOffset };

// File readers and their key-directory twins, for report labels.
const struct {
  const char *file, *directory;
} kTwinLabels[] = {
    {"getParamWBU", "gk_CSInfoGetParamWBU"},
    {"kgtf_CoordTransRead", "gk_CSInfoCoordTransRead"},
    {"kgtf_ProjectionRead", "gk_CSInfoProjectionRead"},
    {"kgtf_ProjectionReadUTM", "gk_CSInfoProjectionReadUTM"},
    {"kgtf_ProjectionReadGaussKruger", "gk_CSInfoProjectionReadGaussKruger"},
    {"kgtf_ProjectionReadMapGridAustralia", "gk_CSInfoProjectionReadMapGridAustralia"},
    {"kgtf_ProjectionReadStatePlane", "gk_CSInfoProjectionReadStatePlane"},
    {"kgtf_PCSRead", "gk_CSInfoPCSRead"},
    {"kgtf_GCSRead", "gk_CSInfoGCSRead"},
    {"kgtf_GCSReadUserDefined", "gk_CSInfoGCSReadUserDefined"},
};

void outsideNotice(const uint16_t* e, size_t first, size_t count) {
  KerrFrame frame("keyDirKeyGet", nullptr, KERR_PRINT_NOVSL);
  frame.warn(__LINE__, KERR_NOTICE, "Key %u: %zu values at %zu lie outside its parameters", e[kKey],
             count, first);
}

// The model type a directory without GTModelTypeGeoKey implies.
int inferredModelType(const gk_CSInfo& record) {
  for (size_t i = 0; i + 3 < record.entries.size(); i += 4) {
    if (record.entries[i] == ProjectedCSTypeGeoKey) return ModelTypeProjected;
    if (record.entries[i] == GeographicTypeGeoKey) return ModelTypeGeographic;
  }
  return 0;
}

}  // namespace

const uint16_t* gk_CSInfo::entryFind(int key) const {
  for (size_t i = 0; i + 3 < entries.size(); i += 4)
    if (entries[i] == key) return &entries[i];
  return nullptr;
}

gk_CSInfo gk_CSInfoCreate(const uint16_t* header, const uint16_t* entries, uint16_t doubleCount,
                          const double* doubles, uint16_t asciiCount, const char* ascii) {
  gk_CSInfo record;
  if (header != nullptr) std::memcpy(record.header, header, sizeof record.header);
  if (entries != nullptr) record.entries.assign(entries, entries + 4 * size_t(record.header[3]));
  record.doubleCount = doubles != nullptr ? doubleCount : 0;
  record.doubles = doubles;
  record.asciiCount = asciiCount;
  record.ascii = ascii;
  record.asciiLength = ascii != nullptr ? std::strlen(ascii) : 0;
  return record;
}

int keyDirKeyGet(int key, const gk_CSInfo& record, void* destination, int index, int count) {
  const uint16_t* e = record.entryFind(key);
  if (key == GTModelTypeGeoKey && (e == nullptr || e[kLocation] != 0)) {
    const int modelType = inferredModelType(record);
    if (modelType == 0) return 0;
    *static_cast<uint16_t*>(destination) = static_cast<uint16_t>(modelType);
    return 1;
  }
  if (e == nullptr) return 0;
  switch (e[kLocation]) {
    case 0:
      std::memcpy(destination, &e[kOffset], sizeof(uint16_t));
      return 1;
    case kDoubleParams: {
      const size_t first = size_t(e[kOffset]) + size_t(index < 0 ? 0 : index);
      const size_t wanted = count < 0 ? 0 : size_t(count);
      if (index < 0 || first + wanted > record.doubleCount)
        return outsideNotice(e, first, wanted), 0;
      std::memcpy(destination, record.doubles + first, wanted * sizeof(double));
      return 1;
    }
    case kAsciiParams: {
      if (size_t(e[kOffset]) + e[kCount] > record.asciiLength)
        return outsideNotice(e, e[kOffset], e[kCount]), 0;
      auto* text = static_cast<char*>(destination);
      std::memcpy(text, record.ascii + e[kOffset], e[kCount]);
      text[e[kCount]] = '\0';
      return 1;
    }
    default:
      return 1;  // found, with nothing the reader can take
  }
}

GtifPtr keyDirHandleCreate(const gk_CSInfo& record) {
  GtifPtr gtif(GTIFNew(nullptr));
  if (!gtif) return gtif;
  for (size_t i = 0; i + 3 < record.entries.size(); i += 4) {
    const uint16_t* e = &record.entries[i];
    const auto key = static_cast<geokey_t>(e[kKey]);
    if (record.entryFind(e[kKey]) != e) continue;  // the first entry of a key wins
    switch (e[kLocation]) {
      case 0:
        GTIFKeySet(gtif.get(), key, TYPE_SHORT, 1, int(e[kOffset]));
        break;
      case kDoubleParams:
        if (e[kCount] == 0 || size_t(e[kOffset]) + e[kCount] > record.doubleCount) break;
        // libgeotiff takes a single double by value and several by address.
        if (e[kCount] == 1)
          GTIFKeySet(gtif.get(), key, TYPE_DOUBLE, 1, record.doubles[e[kOffset]]);
        else
          GTIFKeySet(gtif.get(), key, TYPE_DOUBLE, e[kCount], record.doubles + e[kOffset]);
        break;
      case kAsciiParams:
        if (size_t(e[kOffset]) + e[kCount] <= record.asciiLength)
          GTIFKeySet(gtif.get(), key, TYPE_ASCII, 0,
                     std::string(record.ascii + e[kOffset], e[kCount]).c_str());
        break;
      default:
        break;
    }
  }
  uint16_t modelType = 0;
  if (GTIFKeyInfo(gtif.get(), GTModelTypeGeoKey, nullptr, nullptr) == 0 &&
      keyDirKeyGet(GTModelTypeGeoKey, record, &modelType, 0, 1))
    GTIFKeySet(gtif.get(), GTModelTypeGeoKey, TYPE_SHORT, 1, int(modelType));
  return gtif;
}

const char* KgtfKeySource::label(const char* fileLabel) const {
  if (directory == nullptr) return fileLabel;
  for (const auto& twin : kTwinLabels)
    if (std::strcmp(twin.file, fileLabel) == 0) return twin.directory;
  return fileLabel;
}

bool GeoKeyShortGet(KgtfKeySource keys, geokey_t key, uint16_t* value) {
  if (value == nullptr) return false;
  if (keys.directory != nullptr) {
    const uint16_t* e = keys.directory->entryFind(key);
    if (e != nullptr && e[kLocation] != 0 && key != GTModelTypeGeoKey) return false;
    return keyDirKeyGet(key, *keys.directory, value, 0, 1) == 1;
  }
  if (keys.gtif == nullptr) return false;
  int size = 0;
  tagtype_t type = TYPE_UNKNOWN;
  if (GTIFKeyInfo(keys.gtif, key, &size, &type) != 1 || type != TYPE_SHORT || size != 2)
    return false;
  return GTIFKeyGet(keys.gtif, key, value, 0, 1) == 1;
}

bool GeoKeyDoubleGet(KgtfKeySource keys, geokey_t key, double* value) {
  if (value == nullptr) return false;
  if (keys.directory != nullptr) {
    const uint16_t* e = keys.directory->entryFind(key);
    if (e == nullptr || e[kLocation] != kDoubleParams) return false;
    return keyDirKeyGet(key, *keys.directory, value, 0, 1) == 1;
  }
  if (keys.gtif == nullptr) return false;
  int size = 0;
  tagtype_t type = TYPE_UNKNOWN;
  if (GTIFKeyInfo(keys.gtif, key, &size, &type) < 1) return false;
  if (type != TYPE_DOUBLE || size != static_cast<int>(sizeof(double))) return false;
  return GTIFKeyGet(keys.gtif, key, value, 0, 1) == 1;
}

bool GeoKeyPresent(KgtfKeySource keys, geokey_t key) {
  if (keys.directory != nullptr) return keys.directory->entryFind(key) != nullptr;
  return keys.gtif != nullptr && GTIFKeyInfo(keys.gtif, key, nullptr, nullptr) > 0;
}

char* GeoKeyAsciiGet(KgtfKeySource keys, geokey_t key) {
  if (keys.directory != nullptr) {
    // The entry's Count, as the directory states it.
    const uint16_t* e = keys.directory->entryFind(key);
    if (e == nullptr || e[kLocation] != kAsciiParams) return nullptr;
    auto* text = static_cast<char*>(kmsc_HeapMalloc(size_t(e[kCount]) + 1));
    if (text != nullptr && !keyDirKeyGet(key, *keys.directory, text, 0, 0))
      kmsc_HeapFree(text), text = nullptr;
    return text;
  }
  if (keys.gtif == nullptr) return nullptr;
  int size = 0;
  tagtype_t type = TYPE_UNKNOWN;
  int count = GTIFKeyInfo(keys.gtif, key, &size, &type);
  if (count < 1 || type != TYPE_ASCII || size != 1) return nullptr;
  // A key's count is at most 65535, so the size cannot overflow.
  auto* text = static_cast<char*>(kmsc_HeapMalloc(static_cast<size_t>(count) + 1));
  if (text == nullptr) return nullptr;
  GTIFKeyGet(keys.gtif, key, text, 0, 0);
  text[count] = '\0';
  return text;
}
