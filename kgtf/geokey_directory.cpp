// KgtfGeoKeyDirectoryTag: a GeoKey directory built key by key in memory.
#include "geokey_directory.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "kerr_exception.h"
#include "kgtf.h"
#include "kmsc.h"

namespace {

const char* kSource = "KgtfGeoKeyDirectoryTag";
constexpr unsigned short kDoubleParams = 34736;
constexpr unsigned short kAsciiParams = 34737;
constexpr size_t kMaxField = std::numeric_limits<unsigned short>::max();

}  // namespace

KgtfGeoKeyDirectoryTag::KgtfGeoKeyDirectoryTag() = default;
KgtfGeoKeyDirectoryTag::KgtfGeoKeyDirectoryTag(const KgtfGeoKeyDirectoryTag& other) = default;
KgtfGeoKeyDirectoryTag& KgtfGeoKeyDirectoryTag::operator=(const KgtfGeoKeyDirectoryTag& other) =
    default;
KgtfGeoKeyDirectoryTag::~KgtfGeoKeyDirectoryTag() = default;

bool KgtfGeoKeyDirectoryTag::checkForDuplicates(unsigned short key) {
  return std::any_of(entries_.begin(), entries_.end(),
                     [key](const Entry& e) { return e.keyId == key; });
}

// The directory's fields are 16 bits: what does not fit them is refused, not
// wrapped.
void KgtfGeoKeyDirectoryTag::entryAdd(unsigned short key, unsigned short location, size_t count,
                                      size_t offset) {
  KerrExceptionA frame(kSource, "KgtfGeoKeyDirectoryTag::addGeoKey");
  if (count > kMaxField || offset > kMaxField || header_.numberOfKeys == kMaxField)
    frame.Throw(__LINE__, "Key %u does not fit a GeoKey directory", key);
  entries_.push_back(
      {key, location, static_cast<unsigned short>(count), static_cast<unsigned short>(offset)});
  ++header_.numberOfKeys;
}

void KgtfGeoKeyDirectoryTag::addGeoKey(unsigned short key, unsigned short value) {
  if (checkForDuplicates(key)) return;
  entryAdd(key, 0, 1, value);
}

void KgtfGeoKeyDirectoryTag::addGeoKey(unsigned short key, KstrStringList& strings) {
  if (checkForDuplicates(key) || strings.count <= 0) return;
  KerrExceptionA frame(kSource, "KgtfGeoKeyDirectoryTag::addGeoKey");
  const size_t before = ascii_.size();
  std::string text = ascii_.c_str();
  size_t characters = 0;
  for (int32_t i = 0; i < strings.count; ++i) {
    const char* s = strings.strings[i] ? strings.strings[i] : "";
    text += s;
    text += '|';
    characters += std::strlen(s);
  }
  if (text.size() > kMaxField) frame.Throw(__LINE__, "Key %u does not fit a GeoKey directory", key);
  entryAdd(key, kAsciiParams, characters, before);
  if (!ascii_.assign(text.c_str())) frame.Throw(__LINE__, "Out of memory");
  asciiStrings_ = static_cast<unsigned short>(asciiStrings_ + strings.count);
}

void KgtfGeoKeyDirectoryTag::addGeoKey(unsigned short key, KgdaBaseData& values) {
  if (checkForDuplicates(key)) return;
  KerrExceptionA frame(kSource, "KgtfGeoKeyDirectoryTag::addGeoKey");
  const int64_t count = kgda_BaseDataValueCount(&values);
  if (count <= 0 || values.data == nullptr) return;
  if (size_t(count) + doubles_.size() > kMaxField)
    frame.Throw(__LINE__, "Key %u does not fit a GeoKey directory", key);
  Kpxm_ConvertFunc convert = kmsc_AddressOf_kpxm_Convert();
  std::vector<double> converted;
  for (int32_t r = 0; r < values.rows; ++r)
    for (int32_t c = 0; c < values.columns; ++c) {
      const auto* at = static_cast<const unsigned char*>(values.data) + r * values.rowStride +
                       c * values.columnStride;
      double value = 0.0;
      if (!convert(values.pixelType, at, KMSC_PIXEL_F64, &value, 1))
        frame.Throw(__LINE__, "Values of pixel type %d cannot be read", values.pixelType);
      converted.push_back(value);
    }
  entryAdd(key, kDoubleParams, converted.size(), doubles_.size());
  doubles_.insert(doubles_.end(), converted.begin(), converted.end());
}

void KgtfGeoKeyDirectoryTag::GetEPRJ(
    LegacyHelperTemplate<_kprj_MapProjectionEx, KtxtTextA>& projection, KtxtTextA& units,
    LegacyHelperTemplate<_kprj_ElevationInfo, KtxtTextA>& elevation) {
  KerrExceptionA frame(kSource, "KgtfGeoKeyDirectoryTag::GetEPRJ");
  const unsigned short header[4] = {header_.keyDirectoryVersion, header_.keyRevision,
                                    header_.minorRevision, header_.numberOfKeys};
  std::vector<unsigned short> entries;
  for (const Entry& e : entries_)
    entries.insert(entries.end(), {e.keyId, e.tiffTagLocation, e.count, e.valueOffset});
  elevation.reset();
  kmsc_HeapFree(units.release());
  projection.reset();
  kgtf_ConvertCSFromGeoKeysToEPRJ(header, entries.data(),
                                  static_cast<unsigned short>(doubles_.size()), doubles_.data(),
                                  asciiStrings_, ascii(), projection.address(), &units.buffer(),
                                  elevation.address(), frame.slot());
  frame.Check(__LINE__);
}
