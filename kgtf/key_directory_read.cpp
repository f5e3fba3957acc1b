// GeoKey directories held in memory: the geocoding readers of GeoTIFF files
// read them through a key source of their own, and the vertical keys give
// the elevation record.
#include <geotiffio.h>

#include <cstring>
#include <memory>
#include <string>

#include "citation.h"
#include "epsg_helper.h"
#include "geocoding.h"
#include "image_metadata.h"
#include "kerr_guard.h"
#include "kgtf.h"
#include "key_source.h"
#include "kgtf_internal.h"
#include "ktxt.h"
#include "kmsc.h"
#include "kstr.h"
#include "tables.h"

namespace {

// The vertical record of VerticalCSTypeGeoKey in the units of
// VerticalUnitsGeoKey (without one, the registry's units of the system's
// code, else meters; in *units); "Undefined" for a system the table lacks.
// No citation rule on this road.
_kprj_ElevationInfo* verticalRead(const gk_CSInfo& record, std::string* units, KerrFrame& frame) {
  const KgtfVerticalSystem system = VerticalSystemRead(KgtfKeySource(nullptr, &record), false);
  *units = system.units;
  _kprj_ElevationInfo* info = system.known() ? system.create(frame.slot()) : nullptr;
  frame.drop();  // a system the host cannot name is undefined, not a failure
  if (info == nullptr) info = system.undefined(frame.slot());
  return info;
}

// The units of the host's coordinates: the record's, except that a
// projected system in other linear units keeps them (the directory's unit
// key, else the registry's for a standard code), so feet are not read as
// meters. No units preference is consulted.
char* unitsNameGet(KgtfKeySource keys, const Kprj_ProParameters* pro) {
  if (pro == nullptr) return kstr_Duplicate(kprj_UnitsNameOther());
  uint16_t modelType = 0, code = 0;
  if (GeoKeyShortGet(keys, GTModelTypeGeoKey, &modelType) && modelType == ModelTypeProjected) {
    const char* named =
        GeoKeyShortGet(keys, ProjLinearUnitsGeoKey, &code) ? linearUnitsNameByCode(code) : nullptr;
    if (named != nullptr) return kstr_Duplicate(named);
    if (GeoKeyShortGet(keys, ProjectedCSTypeGeoKey, &code) && code != kUserDefined) {
      char* registry = GetUnitsNameFromEPSG(code);
      if (registry != nullptr) return registry;
    }
  }
  return kstr_Duplicate(DefaultUnitsNameGet(pro, nullptr));
}

}  // namespace

extern "C" void kgtf_ConvertCSFromGeoKeysToEPRJ(const unsigned short* header,
                                                const unsigned short* entries,
                                                unsigned short doubleCount, const double* doubles,
                                                unsigned short asciiCount, const char* ascii,
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
    const gk_CSInfo record =
        gk_CSInfoCreate(header, entries, doubleCount, doubles, asciiCount, ascii);
    GtifPtr gtif = keyDirHandleCreate(record);
    if (!gtif) return frame.fail(__LINE__, "GTIFNew failed");
    const KgtfKeySource keys(gtif.get(), &record);

    ProPtr pro;
    bool read = geocodingContain(frame, [&] {
      Kprj_ProParameters* made = nullptr;
      if (GeocodingRecordRead(keys, frame, &made)) pro.reset(made);
    });
    if (!read || frame.hasReport()) return;
    KtxtTextA units;
    units.adopt(unitsNameGet(keys, pro.get()));
    if (units.get() == nullptr) return frame.fail(__LINE__, "kstr_Duplicate failed");
    KtxtTextA name;
    _kprj_MapProjectionEx* mapProjection = nullptr;
    if (!GeocodingProjectionMake(pro.get(), frame, &name.buffer(), &mapProjection)) return;

    std::string verticalUnits;
    _kprj_ElevationInfo* info = verticalRead(record, &verticalUnits, frame);
    // Without a coordinate system the vertical system has nothing to stand on.
    if (info != nullptr && mapProjection == nullptr) {
      kprj_ElevationInfoFree(&info, nullptr);
      info = kprj_ElevationInfoCreateByName("Undefined", "Undefined", verticalUnits.c_str(),
                                            "height", frame.slot());
    }
    if (info == nullptr) {
      kprj_ProjectionFree(&mapProjection, nullptr);
      return frame.calleeFailed(__LINE__, "kprj_ElevationInfoCreateByName");
    }
    *projection = mapProjection;
    *unitsName = units.release();
    *elevation = info;
  });
}
