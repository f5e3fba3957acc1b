// Reading an image's geocoding: GeoKeys to the host projection record, its
// spheroid and datum, the projection name and the units name. Codes go
// through the code tables and the zone systems; codes no table knows go to
// the EPSG translation, which reports by exception (contained by the exported
// readers through geocodingContain).
#include <cstring>
#include <memory>
#include <string>

#include "citation.h"
#include "epsg_helper.h"
#include "geocoding.h"
#include "kerr_exception.h"
#include "kgtf.h"
#include "kint.h"
#include "kmsc.h"
#include "kstr.h"
#include "ktxt.h"
#include "tables.h"

namespace {

constexpr int kNumberUTM = 1;
constexpr int kNumberStatePlane = 2;
constexpr int kSlotHemisphere = 3;

// A SHORT key, or `fallback` when it is absent or malformed.
int32_t shortKeyOr(KgtfKeySource keys, geokey_t key, int32_t fallback) {
  uint16_t value = 0;
  return GeoKeyShortGet(keys, key, &value) ? value : fallback;
}

// The value after `marker` in `text` from `from` on, up to a line feed, a
// '|' or the end. `endedAtSeparator` tells whether more values may follow.
bool citationValue(const std::string& text, const char* marker, size_t& from, std::string& value,
                   bool& endedAtSeparator) {
  size_t start = text.find(marker, from);
  if (start == std::string::npos) return false;
  start += std::strlen(marker);
  size_t end = text.find_first_of("\n|", start);
  endedAtSeparator = end != std::string::npos;
  if (!endedAtSeparator) end = text.size();
  value = text.substr(start, end - start);
  from = end;
  return true;
}

bool ensureSpheroid(Kprj_ProParameters* pro, KerrFrame& frame) {
  if (pro->spheroid != nullptr) return true;
  pro->spheroid = kprj_SpheroidCreate(frame.slot());
  if (pro->spheroid == nullptr) frame.calleeFailed(__LINE__, "kprj_SpheroidCreate");
  return pro->spheroid != nullptr;
}

// Names the spheroid and, when a datum is named, applies it.
bool applyGeodesy(Kprj_Spheroid* spheroid, const char* spheroidName, const char* datumName,
                  KerrFrame& frame) {
  if (!kprj_SpheroidByName(kint_GetInit(), spheroidName, spheroid, frame.slot()))
    return frame.calleeFailed(__LINE__, "kprj_SpheroidByName"), false;
  if (datumName != nullptr &&
      !kprj_DatumByName(kint_GetInit(), spheroidName, datumName, spheroid->datum, frame.slot()))
    return frame.calleeFailed(__LINE__, "kprj_DatumByName"), false;
  return true;
}

// The geodesy of an EPSG geographic system or datum that the tables lack,
// from the registry, in place of the record's spheroid. False, with the
// record as it was, for a code PROJ does not know either.
bool registryGeodesyApply(Kprj_ProParameters* pro, int32_t code, bool geographicSystem) {
  if (code <= 0 || code == kUserDefined) return false;
  Kprj_Spheroid* spheroid = nullptr;
  try {
    spheroid = GetSpheroidFromEPSGDatum(code, geographicSystem);
  } catch (...) {
    return false;  // the code keeps the road it had: user-defined keys
  }
  if (spheroid == nullptr) return false;
  kprj_SpheroidFree(&pro->spheroid, nullptr);
  pro->spheroid = spheroid;
  return true;
}

Kprj_ProParameters* utmPcsRead(const KgtfUtmPcsRow& row, KerrFrame& frame) {
  ProPtr pro(kgtf_ProParametersCreate(kNumberUTM, row.zone));
  if (!pro) return frame.calleeFailed(__LINE__, "kgtf_ProParametersCreate"), nullptr;
  pro->parameters[kSlotHemisphere] = row.hemisphere > 0 ? 1.0 : -1.0;
  if (ensureSpheroid(pro.get(), frame)) applyGeodesy(pro->spheroid, row.spheroid, row.datum, frame);
  return pro.release();
}

// A projected system named by a code of one of the zone systems, else by the
// EPSG translation.
Kprj_ProParameters* standardPcsRead(int32_t code, KerrFrame& frame) {
  Kprj_ProParameters* pro = nullptr;
  const char* callee = nullptr;
  const KgtfStatePlanePcsRow* statePlane = statePlanePcsRowByCode(code);
  if (statePlane != nullptr && statePlane->zone != -1) {
    pro = kgtf_StatePlaneParametersCreate(statePlane->zone, statePlane->nadCode, frame.slot());
    callee = "kgtf_StatePlaneParametersCreate";
  } else if (const KgtfUtmPcsRow* utm = utmPcsRowByCode(code)) {
    return utmPcsRead(*utm, frame);
  } else if (code >= 21891 && code <= 21894) {
    pro = kgtf_BogotaParametersCreate(code - 21891 + 18051, frame.slot());
    callee = "kgtf_BogotaParametersCreate";
  } else if (code == 3167 || code == 3168 || (code >= 29871 && code <= 29873)) {
    pro = kgtf_RSOParametersCreate(code, frame.slot());
    callee = "kgtf_RSOParametersCreate";
  } else if (code == 27700) {
    pro = kgtf_BNGParametersCreate(frame.slot());
    callee = "kgtf_BNGParametersCreate";
  } else {
    pro = kgtf_MGAParametersCreate(code, frame.slot());
    callee = "kgtf_MGAParametersCreate";
    if (pro == nullptr && !frame.hasReport()) pro = EPSGProParametersGet(code);
  }
  if (frame.hasReport())
    frame.calleeFailed(__LINE__, callee);
  else if (pro == nullptr)
    frame.fail(__LINE__, "Unknown ProjectedCSTypeGeoKey");
  return pro;
}

// ProjectedCSTypeGeoKey 32767: the projection and the geographic system come
// from their own keys.
Kprj_ProParameters* userDefinedPcsRead(KgtfKeySource keys, KerrFrame& frame) {
  ProPtr pro(kgtf_ProjectionRead(keys, frame.slot()));
  if (!pro || frame.hasReport()) {
    frame.fail(__LINE__, "Error obtaining projection");
    return pro.release();
  }
  // A State Plane zone brings the geodesy of its NAD; geographic keys of the
  // file would only contradict it.
  if (pro->type == KPRJ_PROJECTION_INTERNAL && pro->number == kNumberStatePlane)
    return pro.release();
  if (!kgtf_GCSRead(keys, pro.get(), frame.slot()) || frame.hasReport())
    frame.fail(__LINE__, "Error obtaining geographic coordinate system");
  return pro.release();
}

enum class Axes { Applied, Missing, Refused };

// The semi-major and semi-minor axes of a user-defined ellipsoid, in meters.
// Missing axes leave the spheroid; Refused after the host's report.
Axes axesApply(KgtfKeySource keys, int linearUnit, Kprj_Spheroid* spheroid, KerrFrame& frame) {
  double a = 0.0, b = 0.0, inverseFlattening = 0.0;
  if (!getLinearParam(keys, GeogSemiMajorAxisGeoKey, linearUnit, &a)) return Axes::Missing;
  if (getRawParam(keys, GeogInvFlatteningGeoKey, 0, &inverseFlattening)) {
    // An inverse flattening of 0 is how writers state a sphere.
    b = inverseFlattening == 0.0 ? a : a * (1.0 - 1.0 / inverseFlattening);
  } else if (!getLinearParam(keys, GeogSemiMinorAxisGeoKey, linearUnit, &b)) {
    return Axes::Missing;
  }
  if (kprj_SpheroidByAxes(a, b, spheroid, frame.slot())) return Axes::Applied;
  frame.calleeFailed(__LINE__, "kprj_SpheroidByAxes");
  return Axes::Refused;
}

bool hasName(const Kprj_Spheroid* spheroid) {
  return spheroid->name != nullptr && spheroid->name[0] != '\0';
}

// What a citation of ours says of the geodesy. False when a step failed (a
// warning was shown); the caller then ends quietly.
bool citationGeodesyApply(const char* citation, const char* datumFromCode, Kprj_Spheroid* spheroid,
                          KerrFrame& frame) {
  std::string text(citation);
  size_t from = 0;
  bool more = false;
  std::string ellipsoid, datum;
  bool hasEllipsoid = citationValue(text, "Ellipsoid = ", from, ellipsoid, more);
  bool hasDatum = hasEllipsoid && more && citationValue(text, "Datum = ", from, datum, more);
  if (hasEllipsoid && ellipsoid != "?" && !hasName(spheroid)) {
    char* name = kprj_CharStrCreate(ellipsoid.c_str());
    if (name == nullptr)
      return frame.warn(__LINE__, KERR_WARNING, "kprj_CharStrCreate failed"), false;
    kmsc_HeapFree(spheroid->name);
    spheroid->name = name;
  }
  const char* datumName = hasDatum ? datum.c_str() : datumFromCode;
  if (datumName != nullptr && std::strcmp(datumName, "?") != 0 && hasName(spheroid) &&
      !kprj_DatumByName(kint_GetInit(), spheroid->name, datumName, spheroid->datum, frame.slot()))
    return frame.warn(__LINE__, KERR_WARNING, "kprj_DatumByName failed"), false;
  return true;
}

}  // namespace

Kprj_ProParameters* kgtf_ProParametersCreate(int32_t number, int32_t zone) {
  const char* name = projectionNameByNumber(number);
  if (name == nullptr) return nullptr;
  ProPtr pro(kprj_ProParametersCreate(nullptr));
  if (!pro || pro->parameters == nullptr) return nullptr;
  char* copy = kprj_CharStrCreate(name);
  if (copy == nullptr) return nullptr;
  kmsc_HeapFree(pro->name);
  pro->name = copy;
  pro->type = KPRJ_PROJECTION_INTERNAL;
  pro->number = number;
  pro->zone = zone;
  // Callers choose the geodesy; a record without a spheroid says none is known.
  kprj_SpheroidFree(&pro->spheroid, nullptr);
  return pro.release();
}

Kprj_ProParameters* kgtf_PCSRead(KgtfKeySource keys, Kerr_Report** err) {
  KerrFrame frame(keys.label("kgtf_PCSRead"), err, KERR_PRINT_NOVSL);
  uint16_t code = 0;
  if (!GeoKeyShortGet(keys, ProjectedCSTypeGeoKey, &code)) {
    // Present but unreadable (wrong type or count) is a code nobody knows.
    if (GeoKeyPresent(keys, ProjectedCSTypeGeoKey))
      frame.fail(__LINE__, "Unknown ProjectedCSTypeGeoKey");
    return nullptr;
  }
  if (code == kUserDefined) return userDefinedPcsRead(keys, frame);
  return standardPcsRead(code, frame);
}

int kgtf_GCSRead(KgtfKeySource keys, Kprj_ProParameters* pro, Kerr_Report** err) {
  KerrFrame frame(keys.label("kgtf_GCSRead"), err, KERR_PRINT_NOVSL);
  if (pro == nullptr) return frame.fail(__LINE__, "Args"), 0;
  int32_t code = shortKeyOr(keys, GeographicTypeGeoKey, kUserDefined);
  const KgtfGcsRow* row = code != kUserDefined ? gcsRowByCode(code) : nullptr;
  if (row != nullptr) {
    if (ensureSpheroid(pro, frame)) applyGeodesy(pro->spheroid, row->spheroid, row->datum, frame);
    return 1;
  }
  if (registryGeodesyApply(pro, code, true)) return 1;
  kgtf_GCSReadUserDefined(keys, pro, frame.slot());
  if (frame.hasReport()) frame.fail(__LINE__, "kgtf_GCSReadUserDefined failed!");
  return 1;
}

int kgtf_GCSReadUserDefined(KgtfKeySource keys, Kprj_ProParameters* pro, Kerr_Report** err) {
  KerrFrame frame(keys.label("kgtf_GCSReadUserDefined"), err, KERR_PRINT_NOVSL);
  if (pro == nullptr) return frame.fail(__LINE__, "Args"), 0;
  int32_t datumCode = shortKeyOr(keys, GeogGeodeticDatumGeoKey, -1);
  int32_t ellipsoidCode = shortKeyOr(keys, GeogEllipsoidGeoKey, -1);
  int32_t angularUnit = shortKeyOr(keys, GeogAngularUnitsGeoKey, kDecimalDegrees);
  int32_t linearUnit = shortKeyOr(keys, GeogLinearUnitsGeoKey, kMeters);
  int32_t meridian = shortKeyOr(keys, GeogPrimeMeridianGeoKey, kGreenwich);
  // The host's geographic systems are on Greenwich in degrees; others are
  // left as they are.
  if (meridian != kGreenwich || angularUnit != kDecimalDegrees) return 1;
  if (!ensureSpheroid(pro, frame)) return 0;
  Kprj_Spheroid* spheroid = pro->spheroid;
  Kint_Init* init = kint_GetInit();

  KtxtTextA datumName;
  datumName.adopt(kgtf_GetDatumName(static_cast<uint16_t>(datumCode)));
  bool unknownDatum = false;
  if (datumName.get() != nullptr) {
    KtxtTextA spheroidName;
    spheroidName.adopt(kprj_GetSpheroidNameByDatumName(init, datumName.get(), frame.slot()));
    if (spheroidName.get() == nullptr)
      return frame.calleeFailed(__LINE__, "kprj_GetSpheroidNameByDatumName"), 0;
    if (!kprj_SpheroidByName(init, spheroidName.get(), spheroid, frame.slot()))
      return frame.calleeFailed(__LINE__, "kprj_SpheroidByName"), 0;
    if (!kprj_DatumByName(init, spheroidName.get(), datumName.get(), spheroid->datum, frame.slot()))
      return frame.calleeFailed(__LINE__, "kprj_DatumByName"), 0;
  } else if (registryGeodesyApply(pro, datumCode, false)) {
    spheroid = pro->spheroid;
  } else {
    unknownDatum = datumCode != kUserDefined;
    if (ellipsoidCode != -1 && ellipsoidCode != kUserDefined) {
      if (!kprj_SpheroidByName(init, spheroidNameByCode(ellipsoidCode), spheroid, frame.slot()))
        return frame.calleeFailed(__LINE__, "kprj_SpheroidByName"), 0;
    } else {
      const Axes axes = axesApply(keys, linearUnit, spheroid, frame);
      if (axes == Axes::Refused) return 0;
      // Keys a host holds in memory end at missing axes; the citation and
      // the unknown-datum check are for an image's keys.
      if (axes == Axes::Missing && keys.inMemory()) return 1;
    }
  }

  KtxtTextA citation;
  citation.adopt(GeoKeyAsciiGet(keys, GeogCitationGeoKey));
  if (citation.get() != nullptr) {
    if (std::strncmp(citation.get(), kCitationLabel, std::strlen(kCitationLabel)) == 0) {
      unknownDatum = false;
      if (!citationGeodesyApply(citation.get(), datumName.get(), spheroid, frame)) return 1;
    }
    if (!keys.inMemory() &&
        std::strcmp(citation.get(), "User Defined, Horizontal Datum PULKOVO 1942") == 0 &&
        hasName(spheroid) &&
        !kprj_DatumByName(init, spheroid->name, "Pulkovo 1942", spheroid->datum, frame.slot()))
      return frame.warn(__LINE__, KERR_WARNING, "kprj_DatumByName Pulkovo 1942 failed"), 1;
  }
  if (unknownDatum) return frame.report(__LINE__, KERR_WARNING, "Unknown datum: %d", datumCode), 0;
  return 1;
}

Kprj_ProParameters* kgtf_ProjectionRead(KgtfKeySource keys, Kerr_Report** err) {
  KerrFrame frame(keys.label("kgtf_ProjectionRead"), err, KERR_PRINT_NOVSL);
  uint16_t code = 0;
  if (!GeoKeyShortGet(keys, ProjectionGeoKey, &code))
    return frame.fail(__LINE__, "ProjectionGeoKey not found"), nullptr;

  if (code == kUserDefined) {
    ProPtr pro(kgtf_CoordTransRead(keys, frame.slot()));
    // A warning about a value the host cannot hold does not spoil the record.
    if (pro && frame.hasReport() && kerr_ReportSeverity(*frame.slot()) < KERR_ERROR)
      frame.showAndDrop();
    if (!pro || frame.hasReport()) {
      frame.fail(__LINE__, "Error obtaining coordinate transformation");
      return nullptr;
    }
    return pro.release();
  }

  // The failure messages of the key-directory road are its own for two
  // readers; it has no RSO rows and no EPSG conversions.
  struct Reader {
    int32_t first, last;
    Kprj_ProParameters* (*read)(KgtfKeySource, int32_t, Kerr_Report**);
    const char *name, *directoryName;
  };
  static const Reader kReaders[] = {
      {16001, 16160, kgtf_ProjectionReadUTM, "kgtf_ProjectionReadUTM", "kgtf_ProjectionReadUTM"},
      {16200, 16205, kgtf_ProjectionReadGaussKruger, "kgtf_ProjectionReadGaussKruger",
       "gk_CSInfoProjectionReadGaussKruger"},
      {17348, 17358, kgtf_ProjectionReadMapGridAustralia, "kgtf_ProjectionReadMapGridAustralia",
       "gk_CSInfoProjectionReadMapGridAustralia"},
      {17448, 17458, kgtf_ProjectionReadMapGridAustralia, "kgtf_ProjectionReadMapGridAustralia",
       "gk_CSInfoProjectionReadMapGridAustralia"},
      {10101, 15999, kgtf_ProjectionReadStatePlane, "kgtf_ProjectionReadStatePlane",
       "kgtf_ProjectionReadStatePlane"},
      {19935, 19935, kgtf_ProjectionReadRSO, "kgtf_ProjectionReadRSO", nullptr},
      {19958, 19958, kgtf_ProjectionReadRSO, "kgtf_ProjectionReadRSO", nullptr},
  };
  for (const Reader& reader : kReaders) {
    const char* name = keys.inMemory() ? reader.directoryName : reader.name;
    if (code < reader.first || code > reader.last || name == nullptr) continue;
    Kprj_ProParameters* pro = reader.read(keys, code, frame.slot());
    if (frame.hasReport()) frame.calleeFailed(__LINE__, name);
    return pro;
  }
  if (keys.inMemory()) return nullptr;
  // ProjectionGeoKey names a conversion, not a coordinate system.
  return EPSGConversionParametersGet(keys, code);
}

bool GeocodingRecordRead(KgtfKeySource keys, KerrFrame& frame, Kprj_ProParameters** record) {
  *record = nullptr;
  uint16_t modelType = 0;
  GeoKeyShortGet(keys, GTModelTypeGeoKey, &modelType);
  ProPtr pro;
  switch (modelType) {
    case ModelTypeProjected:
      pro.reset(kgtf_PCSRead(keys, frame.slot()));
      if (frame.hasReport()) return frame.calleeFailed(__LINE__, "kgtf_PCSRead"), false;
      break;
    case ModelTypeGeographic:
    case ModelTypeGeocentric:
      pro.reset(kgtf_ProParametersCreate(0, 0));
      if (!pro) return frame.calleeFailed(__LINE__, "kgtf_ProParametersCreate"), false;
      kgtf_GCSRead(keys, pro.get(), frame.slot());
      if (frame.hasReport()) return frame.calleeFailed(__LINE__, "kgtf_GCSRead"), false;
      break;
    case 0:
    case kUserDefined:
      break;
    default:
      frame.warn(__LINE__, KERR_WARNING, "Unrecognized model type %d", modelType);
      break;
  }
  *record = pro.release();
  return true;
}

bool GeocodingProjectionMake(const Kprj_ProParameters* pro, KerrFrame& frame, char** name,
                             _kprj_MapProjectionEx** projection) {
  *name = nullptr;
  *projection = nullptr;
  KtxtTextA projectionName;
  projectionName.adopt(kstr_Duplicate(pro && pro->name ? pro->name : kprj_ProjectionNameUnknown()));
  if (projectionName.get() == nullptr) return frame.fail(__LINE__, "kstr_Duplicate failed"), false;
  if (pro) {
    _kprj_MapProjectionEx* made = kprj_ProjectionInit(kint_GetInit(), pro, frame.slot());
    if (made == nullptr || frame.hasReport()) {
      kprj_ProjectionFree(&made, nullptr);
      return frame.calleeFailed(__LINE__, "kprj_ProjectionInit"), false;
    }
    *projection = made;
  }
  *name = projectionName.release();
  return true;
}

int GeoTIFFGeocodingGet(GTIF* gtif, char** projectionName, char** unitsName,
                        _kprj_MapProjectionEx** projection, Kerr_Report** err) {
  static const char* kLabel = "GeoTIFFGeocodingGet";
  KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
  if (projectionName != nullptr) *projectionName = nullptr;
  if (unitsName != nullptr) *unitsName = nullptr;
  if (projection != nullptr) *projection = nullptr;
  if (gtif == nullptr || projectionName == nullptr || unitsName == nullptr || projection == nullptr)
    return frame.fail(__LINE__, "Args"), -1;

  Kprj_ProParameters* record = nullptr;
  if (!GeocodingRecordRead(gtif, frame, &record)) return -1;
  ProPtr pro(record);
  KtxtTextA units;
  kgtf_UnitsNameGet(gtif, &units.buffer(), frame.slot());
  if (frame.hasReport()) return frame.calleeFailed(__LINE__, "kgtf_UnitsNameGet"), -1;
  // Without a units key a standard system's units are the registry's (GDAL
  // leaves the key out for EPSG codes); the defaults cover the rest.
  uint16_t modelType = 0, pcs = 0;
  if (units.get() == nullptr && GeoKeyShortGet(gtif, GTModelTypeGeoKey, &modelType) &&
      modelType == ModelTypeProjected && GeoKeyShortGet(gtif, ProjectedCSTypeGeoKey, &pcs) &&
      pcs != kUserDefined)
    units.adopt(GetUnitsNameFromEPSG(pcs));
  if (units.get() == nullptr) {
    const char* fallback = pro ? DefaultUnitsNameGet(pro.get(), gtif) : kprj_UnitsNameOther();
    units.adopt(kstr_Duplicate(fallback));
    if (units.get() == nullptr) return frame.fail(__LINE__, "kstr_Duplicate failed"), -1;
  }
  char* name = nullptr;
  if (!GeocodingProjectionMake(pro.get(), frame, &name, projection)) return -1;
  *projectionName = name;
  *unitsName = units.release();
  return 0;
}

bool geocodingContain(KerrFrame& frame, const std::function<void()>& work) {
  try {
    work();
    return true;
  } catch (KerrExceptionA& e) {
    // The exception's own chain is the story; whatever the work left in the
    // slot before it threw is superseded.
    Kerr_Report* cause = e.releaseReport();
    frame.drop();
    *frame.slot() = cause;
    frame.fail(__LINE__, "%s", e.what());
  } catch (const std::exception& e) {
    frame.drop();
    frame.fail(__LINE__, "%s", e.what());
  } catch (...) {
    frame.drop();
    frame.fail(__LINE__, "Unknown exception");
  }
  return false;
}
