// GeoKey directories held in memory: the entries become the keys of an
// in-memory libgeotiff key handle, so that the readers of GeoTIFF files read
// them too (one family of readers, whatever holds the keys), and the
// vertical keys give the elevation record.
#include <geotiffio.h>

#include <cstring>
#include <memory>
#include <string>

#include "citation.h"
#include "geocoding.h"
#include "kerr_guard.h"
#include "kgtf.h"
#include "kgtf_internal.h"
#include "kmsc.h"
#include "kstr.h"
#include "tables.h"

namespace {

constexpr unsigned short kDoubleParams = 34736;
constexpr unsigned short kAsciiParams = 34737;

struct DirectoryEntry {
  unsigned short key, location, count, offset;
};

// One entry's key set in the handle; false (with a notice) for values that
// lie outside the doubles or the text.
bool entrySet(GTIF* gtif, const DirectoryEntry& e, unsigned short doubleCount,
              const double* doubles, const char* ascii, size_t asciiLength, KerrFrame& frame) {
  const auto key = static_cast<geokey_t>(e.key);
  switch (e.location) {
    case 0:
      return GTIFKeySet(gtif, key, TYPE_SHORT, 1, int(e.offset)) != 0;
    case kDoubleParams:
      if (doubles == nullptr || e.count == 0 || size_t(e.offset) + e.count > doubleCount) break;
      // libgeotiff takes a single double by value and several by address.
      return (e.count == 1 ? GTIFKeySet(gtif, key, TYPE_DOUBLE, 1, doubles[e.offset])
                           : GTIFKeySet(gtif, key, TYPE_DOUBLE, e.count, doubles + e.offset)) != 0;
    case kAsciiParams: {
      if (ascii == nullptr || size_t(e.offset) + e.count > asciiLength) break;
      std::string text(ascii + e.offset, e.count);
      return GTIFKeySet(gtif, key, TYPE_ASCII, 0, text.c_str()) != 0;
    }
    default:
      return true;  // found, with nothing to read
  }
  frame.warn(__LINE__, KERR_NOTICE, "Key %u: %u values at %u lie outside its parameters", e.key,
             e.count, e.offset);
  return false;
}

// The keys of the directory in a key handle; the first entry of a key wins,
// and without GTModelTypeGeoKey the first coordinate system key names it.
GtifPtr keysLoad(const unsigned short* header, const unsigned short* entries,
                 unsigned short doubleCount, const double* doubles, const char* ascii,
                 KerrFrame& frame) {
  GtifPtr gtif(GTIFNew(nullptr));
  if (!gtif) return gtif;
  const size_t asciiLength = ascii != nullptr ? std::strlen(ascii) : 0;
  int modelType = 0;
  bool modelKey = false;
  for (unsigned i = 0; entries != nullptr && i < header[3]; ++i) {
    DirectoryEntry e{entries[4 * i], entries[4 * i + 1], entries[4 * i + 2], entries[4 * i + 3]};
    if (GTIFKeyInfo(gtif.get(), static_cast<geokey_t>(e.key), nullptr, nullptr) > 0) continue;
    if (e.key == GTModelTypeGeoKey && e.location == 0) modelKey = true;
    if (modelType == 0 && e.key == ProjectedCSTypeGeoKey) modelType = ModelTypeProjected;
    if (modelType == 0 && e.key == GeographicTypeGeoKey) modelType = ModelTypeGeographic;
    entrySet(gtif.get(), e, doubleCount, doubles, ascii, asciiLength, frame);
  }
  if (!modelKey && modelType != 0)
    GTIFKeySet(gtif.get(), GTModelTypeGeoKey, TYPE_SHORT, 1, modelType);
  return gtif;
}

// The elevation of VerticalCSTypeGeoKey in the units of VerticalUnitsGeoKey
// ("meters" without one); "Undefined" for a system the table lacks.
_kprj_ElevationInfo* verticalRead(GTIF* gtif, std::string* units, KerrFrame& frame) {
  uint16_t code = 0;
  const char* unitName =
      GeoKeyShortGet(gtif, VerticalUnitsGeoKey, &code) ? linearUnitsNameByCode(code) : nullptr;
  *units = unitName != nullptr ? unitName : "meters";
  const KgtfVerticalCsRow* row =
      GeoKeyShortGet(gtif, VerticalCSTypeGeoKey, &code) ? verticalCsRowByCode(code) : nullptr;
  _kprj_ElevationInfo* info = nullptr;
  if (row != nullptr)
    info = kprj_ElevationInfoCreateByName(row->spheroid,
                                          row->verticalDatum ? row->verticalDatum : row->spheroid,
                                          units->c_str(), "height", frame.slot());
  frame.drop();  // a system the host cannot name is undefined, not a failure
  if (info == nullptr)
    info = kprj_ElevationInfoCreateByName("Undefined", "Undefined", units->c_str(), "height",
                                          frame.slot());
  return info;
}

}  // namespace

extern "C" void kgtf_ConvertCSFromGeoKeysToEPRJ(const unsigned short* header,
                                                const unsigned short* entries,
                                                unsigned short doubleCount, const double* doubles,
                                                unsigned short /*asciiCount*/, const char* ascii,
                                                _kprj_MapProjectionEx** projection,
                                                char** unitsName, _kprj_ElevationInfo** elevation,
                                                Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kgtf_ConvertCSFromGeoKeysToEPRJ";
    KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
    if (projection != nullptr) *projection = nullptr;
    if (unitsName != nullptr) *unitsName = nullptr;
    if (elevation != nullptr) *elevation = nullptr;
    if (header == nullptr || projection == nullptr || unitsName == nullptr || elevation == nullptr)
      return frame.fail(__LINE__, "Args");
    GtifPtr gtif = keysLoad(header, entries, doubleCount, doubles, ascii, frame);
    if (!gtif) return frame.fail(__LINE__, "GTIFNew failed");

    char* name = nullptr;
    char* units = nullptr;
    _kprj_MapProjectionEx* mapProjection = nullptr;
    if (GeoTIFFGeocodingGet(gtif.get(), &name, &units, &mapProjection, frame.slot()) != 0) {
      frame.calleeFailed(__LINE__, "GeoTIFFGeocodingGet");
      return;
    }
    kmsc_HeapFree(name);
    std::string verticalUnits;
    _kprj_ElevationInfo* info = verticalRead(gtif.get(), &verticalUnits, frame);
    // Without a coordinate system the vertical system has nothing to stand on.
    if (info != nullptr && mapProjection == nullptr) {
      kprj_ElevationInfoFree(&info, nullptr);
      info = kprj_ElevationInfoCreateByName("Undefined", "Undefined", verticalUnits.c_str(),
                                            "height", frame.slot());
    }
    if (info == nullptr) {
      kmsc_HeapFree(units);
      kprj_ProjectionFree(&mapProjection, nullptr);
      return frame.calleeFailed(__LINE__, "kprj_ElevationInfoCreateByName");
    }
    *projection = mapProjection;
    *unitsName = units;
    *elevation = info;
  });
}
