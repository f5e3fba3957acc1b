// Image metadata from an image's GeoKeys: the security marking, description,
// date and time, the null value and the vertical reference of its heights.
#include "image_metadata.h"

#include <cctype>
#include <cfloat>
#include <cstring>
#include <limits>
#include <vector>

#include "epsg_helper.h"
#include "kerr_guard.h"
#include "kgtf.h"
#include "kgtf_internal.h"
#include "kstr.h"
#include "ktxt.h"
#include "tables.h"
#include "tiff_diagnostics.h"

namespace {

// The bytes of an ASCII key (libgeotiff counts its terminator among them)
// and one more zero; false when the key is absent or holds numbers, which
// have no text to read.
bool keyTextRead(GTIF* gtif, geokey_t key, std::vector<char>* text) {
  int size = 0;
  tagtype_t type = TYPE_UNKNOWN;
  const int count = GTIFKeyInfo(gtif, key, &size, &type);
  if (count < 1 || type != TYPE_ASCII || size != 1) return false;
  text->assign(static_cast<size_t>(count) + 1, '\0');
  GTIFKeyGet(gtif, key, text->data(), 0, 0);
  return true;
}

// Bytes of the key's data, without the zero keyTextRead adds.
size_t dataSize(const std::vector<char>& text) {
  return text.size() - 1;
}

// N - 1 characters of `text` from `first`, and a terminating zero; callers
// check that they lie within the key's data.
template <size_t N>
void fieldSet(char (&field)[N], const std::vector<char>& text, size_t first) {
  std::memcpy(field, text.data() + first, N - 1);
  field[N - 1] = '\0';
}

// The marking by the first character, as hosts compare it (spelling included).
const char* classificationName(char first) {
  switch (std::tolower(static_cast<unsigned char>(first))) {
    case 'c':
      return "CONFIDENTAL";
    case 'r':
      return "RESTRICTED";
    case 's':
      return "SECRET";
    case 't':
      return "TOP SECRET";
    case 'u':
      return "UNCLASSIFIED";
    default:
      return "CLASS: UNKNOWN";
  }
}

// Key 1101 ("xxxxYYYY?MM?DD?hh?mm?ss"), then 34001 ("YYYYMMDD") and 34002
// ("hh?mm?ss") over it; a key shorter than its layout is ignored.
void dateTimeRead(GTIF* gtif, Kmsc_ImageMetadata* when) {
  std::vector<char> text;
  if (keyTextRead(gtif, kDateTimeKey, &text) && dataSize(text) >= 24) {
    fieldSet(when->year, text, 4);
    fieldSet(when->month, text, 9);
    fieldSet(when->day, text, 12);
    fieldSet(when->hour, text, 15);
    fieldSet(when->minute, text, 18);
    fieldSet(when->second, text, 21);
  }
  if (keyTextRead(gtif, kDateKey, &text) && dataSize(text) >= 8) {
    fieldSet(when->year, text, 0);
    fieldSet(when->month, text, 4);
    fieldSet(when->day, text, 6);
  }
  if (keyTextRead(gtif, kTimeKey, &text) && dataSize(text) >= 8) {
    fieldSet(when->hour, text, 0);
    fieldSet(when->minute, text, 3);
    fieldSet(when->second, text, 6);
  }
}

// A heap string that is freed unless handed on.
struct HeapString {
  char* text = nullptr;
  ~HeapString() { kmsc_HeapFree(text); }
  char* release() {
    char* kept = text;
    text = nullptr;
    return kept;
  }
};

// Replaces a string field of the record, freeing what it held.
void stringReplace(char** field, HeapString& value) {
  kmsc_HeapFree(*field);
  *field = value.release();
}

// A double beyond the float range becomes an infinity, not an undefined
// conversion.
float toFloat(double value) {
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  if (value > FLT_MAX) return kInfinity;
  if (value < -FLT_MAX) return -kInfinity;
  return static_cast<float>(value);
}

template <typename T>
void numberStore(GTIF* gtif, int size, float* value) {
  T stored{};
  if (size == static_cast<int>(sizeof(T)) && GTIFKeyGet(gtif, kNullValueKey, &stored, 0, 1) == 1)
    *value = toFloat(static_cast<double>(stored));
}

bool citationIsEgm96(KgtfKeySource keys) {
  HeapString citation;
  citation.text = GeoKeyAsciiGet(keys, VerticalCitationGeoKey);
  return citation.text != nullptr && kstr_Eqnic(citation.text, "EGM96 Geoid", 11);
}

// The key view of an image, or null with "GTIFNew failed". libgeotiff's
// messages about the keys become host reports.
GtifPtr keysOpen(TIFF* tif, KerrFrame& frame) {
  GtifPtr gtif(ktifGtifNew(tif));
  if (!gtif) frame.fail(__LINE__, "GTIFNew failed");
  return gtif;
}

}  // namespace

void DODImageMetadataRead(GTIF* gtif, Kmsc_ImageMetadata** metadata, KerrFrame& frame) {
  if (gtif == nullptr || metadata == nullptr) return frame.fail(__LINE__, "Args");
  // The new contents are made apart and stored at the end, so that a failure
  // leaves the host's record as it was.
  Kmsc_ImageMetadata next = *metadata != nullptr ? **metadata : Kmsc_ImageMetadata{};
  dateTimeRead(gtif, &next);
  std::vector<char> text;
  HeapString classification, description, status;
  if (keyTextRead(gtif, kClassificationKey, &text) &&
      (classification.text = kstr_Duplicate(classificationName(text[0]))) == nullptr)
    return frame.fail(__LINE__, "No memory");
  if (keyTextRead(gtif, kDescriptionKey, &text) &&
      (description.text = kstr_Duplicate(text.data())) == nullptr)
    return frame.fail(__LINE__, "No memory");
  if ((status.text = kstr_Duplicate("ONLINE")) == nullptr) return frame.fail(__LINE__, "No memory");
  Kmsc_ImageMetadata* record = *metadata;
  if (record == nullptr && (record = kmsc_ImageMetadataCreate(frame.slot())) == nullptr)
    return frame.calleeFailed(__LINE__, "kmsc_ImageMetadataCreate");

  if (classification.text != nullptr) stringReplace(&next.classification, classification);
  if (description.text != nullptr) stringReplace(&next.description, description);
  stringReplace(&next.status, status);
  next.archived = 0;
  *record = next;
  *metadata = record;
}

int32_t NullValueRead(GTIF* gtif, float* value) {
  if (gtif == nullptr) return 0;
  int size = 0;
  tagtype_t type = TYPE_UNKNOWN;
  const int count = GTIFKeyInfo(gtif, kNullValueKey, &size, &type);
  if (count < 1) return 0;
  // One number is the value; a key of several values is present but holds none.
  if (count != 1 || value == nullptr) return 1;
  switch (type) {
    case TYPE_BYTE:
      numberStore<uint8_t>(gtif, size, value);
      break;
    case TYPE_SHORT:
      numberStore<uint16_t>(gtif, size, value);
      break;
    case TYPE_LONG:
      numberStore<uint32_t>(gtif, size, value);
      break;
    case TYPE_FLOAT:
      numberStore<float>(gtif, size, value);
      break;
    case TYPE_DOUBLE:
      numberStore<double>(gtif, size, value);
      break;
    case TYPE_SBYTE:
      numberStore<int8_t>(gtif, size, value);
      break;
    case TYPE_SSHORT:
      numberStore<int16_t>(gtif, size, value);
      break;
    case TYPE_SLONG:
      numberStore<int32_t>(gtif, size, value);
      break;
    default:  // rational and text hold no value of ours
      break;
  }
  return 1;
}

void ElevationInfoRead(GTIF* gtif, _kprj_ElevationInfo** info, KerrFrame& frame) {
  const KgtfKeySource keys(gtif);
  if (gtif == nullptr || !GeoKeyPresent(keys, VerticalCSTypeGeoKey)) return;
  const KgtfVerticalSystem system = VerticalSystemRead(keys, true);
  if (!system.known()) return;
  _kprj_ElevationInfo* made = system.create(frame.slot());
  if (made == nullptr) return frame.fail(__LINE__, "Error creating elevation info");
  if (info != nullptr)
    *info = made;
  else
    kprj_ElevationInfoFree(&made, nullptr);
}

_kprj_ElevationInfo* KgtfVerticalSystem::create(Kerr_Report** slot) const {
  return kprj_ElevationInfoCreateByName(spheroid, datum, units.c_str(), "height", slot);
}

_kprj_ElevationInfo* KgtfVerticalSystem::undefined(Kerr_Report** slot) const {
  return kprj_ElevationInfoCreateByName("Undefined", "Undefined", units.c_str(), "height", slot);
}

KgtfVerticalSystem VerticalSystemRead(KgtfKeySource keys, bool egm96Citation) {
  KgtfVerticalSystem system;
  uint16_t code = 0;
  const bool unitKey = GeoKeyShortGet(keys, VerticalUnitsGeoKey, &code);
  if (unitKey)
    if (const char* name = linearUnitsNameByCode(code)) system.units = name;
  if (!GeoKeyShortGet(keys, VerticalCSTypeGeoKey, &code)) return system;
  if (!unitKey && code != kUserDefined) {
    KtxtTextA registry;
    registry.adopt(GetUnitsNameFromEPSG(code));
    if (registry.get() != nullptr) system.units = registry.get();
  }
  if (const KgtfVerticalCsRow* row = verticalCsRowByCode(code)) {
    system.spheroid = row->spheroid;
    system.datum = row->verticalDatum != nullptr ? row->verticalDatum : row->spheroid;
  } else if (egm96Citation && code == kUserDefined && citationIsEgm96(keys)) {
    system.spheroid = "WGS 84";
    system.datum = "World Wide 15-Minute Geoid Height (EGM96)";
  }
  return system;
}

extern "C" void kgtf_DODImageMetadataGet(TIFF* tif, Kmsc_ImageMetadata** metadata,
                                         Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kgtf_DODImageMetadataGet";
    KerrFrame frame(kLabel, err);
    if (tif == nullptr) return frame.fail(__LINE__, "Invalid TIFF handle");
    if (metadata == nullptr) return frame.fail(__LINE__, "Args");
    GtifPtr gtif = keysOpen(tif, frame);
    if (gtif) DODImageMetadataRead(gtif.get(), metadata, frame);
  });
}

extern "C" int32_t kgtf_NullValueGet(TIFF* tif, float* value, Kerr_Report** err) {
  return kerrGuard(__func__, err, 0, [&]() -> int32_t {
    static const char* kLabel = "kgtf_NullValueGet";
    KerrFrame frame(kLabel, err);
    if (tif == nullptr) return frame.fail(__LINE__, "Invalid TIFF handle"), 0;
    GtifPtr gtif = keysOpen(tif, frame);
    return gtif ? NullValueRead(gtif.get(), value) : 0;
  });
}

extern "C" void kgtf_GetElevationInfo(TIFF* tif, _kprj_ElevationInfo** info, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kgtf_GetElevationInfo";
    KerrFrame frame(kLabel, err);
    if (tif == nullptr) return;  // no image, no keys: nothing to hand back
    GtifPtr gtif = keysOpen(tif, frame);
    if (gtif) ElevationInfoRead(gtif.get(), info, frame);
  });
}
