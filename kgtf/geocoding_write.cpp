// Writing geocoding: a host projection record into GeoKeys. Standard codes
// where a table (or the EPSG translation) knows the system, a user-defined
// system spelt out key by key otherwise (geocoding_write_user.cpp), and
// citations that say in words what was written.
#include <cstring>
#include <string>

#include "citation.h"
#include "epsg_helper.h"
#include "geocoding.h"
#include "kcvt.h"
#include "kerr_guard.h"
#include "kgtf.h"
#include "kgtf_internal.h"
#include "kint.h"
#include "kstr.h"
#include "ktxt.h"
#include "tables.h"

namespace {

constexpr int kUsSurveyFeet = 9003;
constexpr int kSearsChain = 9011;
constexpr int kSearsFoot = 9041;
constexpr int kNumberGeographic = 0;
constexpr int kNumberUTM = 1;
constexpr int kNumberStatePlane = 2;
const char* const kProParametersForm = "Kprj_ProParameters";

// Names compare as the tables do; an absent name equals only an absent name.
bool sameName(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return kstr_Eqic(a, b) != 0;
}

const char* orQuestionMark(const char* name) {
  return name != nullptr ? name : "?";
}

const KgtfGcsRow* gcsRowByNames(const char* spheroid, const char* datum) {
  for (size_t i = 0; i < gcsTableSize; ++i)
    if (sameName(gcsTable[i].spheroid, spheroid) && sameName(gcsTable[i].datum, datum))
      return &gcsTable[i];
  return nullptr;
}

const KgtfUtmPcsRow* utmRowByZone(int32_t zone, int32_t hemisphere, const char* spheroid,
                                  const char* datum) {
  for (size_t i = 0; i < utmPcsTableSize; ++i) {
    const KgtfUtmPcsRow& row = utmPcsTable[i];
    if (row.zone == zone && row.hemisphere == hemisphere && sameName(row.spheroid, spheroid) &&
        sameName(row.datum, datum))
      return &row;
  }
  return nullptr;
}

// One value converted from `from` into `to`; false (value untouched) when the
// host cannot convert it.
bool unitsConvert(double* value, const char* from, const char* to) {
  double result = 0.0;
  Kerr_Report* report = nullptr;
  int ok = kcvt_UnitsConvertByName(value, from, &result, to, 1, &report);
  kerr_DeleteErrorReportEx(&report);
  if (ok) *value = result;
  return ok != 0;
}

int setParam(GTIF* gtif, int key, int unitCode, double value, const KgtfCodeName* table,
             size_t size, const char* from) {
  int matched = 0;
  for (size_t i = 0; i < size; ++i) {
    if (table[i].code != unitCode) continue;
    double converted = value;
    unitsConvert(&converted, from, table[i].name);
    GTIFKeySet(gtif, static_cast<geokey_t>(key), TYPE_DOUBLE, 1, converted);
    matched = 1;
  }
  return matched;
}

const char* nadName(int32_t nadCode) {
  switch (nadCode) {
    case 1:
      return "27";
    case 2:
      return "83";
    case 3:
      return "HARN";
    default:
      return "?";
  }
}

// The State Plane code of a zone number as the tables store it (negative).
// Mississippi on NAD83 is the one zone pair whose code the table cannot give
// by zone alone: the meter and the US foot systems both exist.
int32_t statePlaneCode(int32_t nadCode, int32_t zone, const char* unitsName) {
  if (nadCode == 2 && (zone == -2301 || zone == -2302)) {
    int32_t unitCode = unitsCodeByName(unitsName);
    if (unitCode == kMeters) return zone == -2301 ? 26994 : 26995;
    if (unitCode == kUsSurveyFeet) return zone == -2301 ? 2254 : 2255;
    return 0;
  }
  const KgtfStatePlanePcsRow* row = statePlanePcsRowByNadZone(nadCode, zone);
  return row != nullptr ? row->code : 0;
}

// The EPSG geographic system of the record's spheroid and datum; 0 when the
// registry has none.
int32_t registryGeographicCode(const Kprj_ProParameters* pro) {
  Kprj_ProParameters* geographic = kgtf_ProParametersCreate(kNumberGeographic, 0);
  if (geographic == nullptr) return 0;
  Kerr_Report* report = nullptr;
  geographic->spheroid = kprj_SpheroidCopy(pro->spheroid, &report);
  _kprj_MapProjectionEx* projection =
      geographic->spheroid ? kprj_ProjectionInit(kint_GetInit(), geographic, &report) : nullptr;
  const int32_t code = projection ? GetEPSGCode(projection, "dd", false) : 0;
  kprj_ProjectionFree(&projection, nullptr);
  kprj_ProParametersFree(&geographic, nullptr);
  kerr_DeleteErrorReportEx(&report);
  return code;
}

}  // namespace

int citationKeySet(GTIF* gtif, geokey_t key, const std::string& lines) {
  std::string text = lines;
  if (CitationWritePreference()) {
    KtxtTextA header;
    header.adopt(CitationHeaderCreate(nullptr));
    if (header.get() == nullptr) return 0;
    text = header.get() + lines;
  }
  return GTIFKeySet(gtif, key, TYPE_ASCII, 0, text.c_str());
}

int shortKeySet(GTIF* gtif, geokey_t key, int value) {
  return GTIFKeySet(gtif, key, TYPE_SHORT, 1, value);
}

void SpheroidAndDatumNamesGet(const Kprj_ProParameters* pro, const char** spheroidName,
                              const char** datumName) {
  *spheroidName = nullptr;
  *datumName = nullptr;
  if (pro == nullptr || pro->spheroid == nullptr) return;
  const Kprj_Spheroid* spheroid = pro->spheroid;
  // The host spells "no name" as the empty string.
  if (spheroid->name != nullptr && spheroid->name[0] != '\0') *spheroidName = spheroid->name;
  const Kprj_Datum* datum = spheroid->datum;
  if (datum != nullptr && datum->name != nullptr && datum->name[0] != '\0' &&
      !kstr_Eqic(datum->name, "Undefined"))
    *datumName = datum->name;
}

int setAngularParam(GTIF* gtif, int key, int unitCode, double value) {
  return setParam(gtif, key, unitCode, value, angularUnitsTable, angularUnitsTableSize, "radians");
}

int setLinearParam(GTIF* gtif, int key, int unitCode, double value) {
  return setParam(gtif, key, unitCode, value, linearUnitsTable, linearUnitsTableSize, "meters");
}

const char* GeoTIFFUnitsNameGet(const Kprj_ProParameters* pro, const char* projectionName,
                                const char* fallback) {
  bool internal = pro != nullptr && pro->type == KPRJ_PROJECTION_INTERNAL;
  if ((internal && pro->number == kNumberGeographic) ||
      (projectionName != nullptr && std::strcmp(projectionName, "Geographic (Lat/Lon)") == 0))
    return "dd";
  if (projectionName != nullptr && kstr_Eqic(projectionName, kprj_ProjectionNameUnknown()))
    return fallback;
  if (internal && pro->number == kNumberStatePlane && kprj_NADCodeGet(pro) != 2)
    return "us_survey_feet";
  return "meters";
}

int GCSWrite(GTIF* gtif, const Kprj_ProParameters* pro, Kerr_Report** err) {
  static const char* kLabel = "GCSWrite";
  KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
  if (gtif == nullptr || pro == nullptr) return frame.fail(__LINE__, "Args"), 0;
  if (pro->spheroid == nullptr) return 1;
  const char *spheroid = nullptr, *datum = nullptr;
  SpheroidAndDatumNamesGet(pro, &spheroid, &datum);
  // A row whose code the registry has deprecated (SAD69's 4291) names other
  // geodesy than the record's today: the registry's code wins.
  const KgtfGcsRow* row = gcsRowByNames(spheroid, datum);
  if (row != nullptr && !EPSGCodeDeprecated(row->code)) {
    shortKeySet(gtif, GeographicTypeGeoKey, row->code);
    return 1;
  }
  // A datum the registry knows: its geographic system's code, or at least
  // the datum's and the ellipsoid's codes, which readers resolve the same way.
  const int32_t datumCode = pro->spheroid->datum ? pro->spheroid->datum->epsgCode : 0;
  if (datumCode > 0 && datumCode < kUserDefined) {
    if (int32_t code = registryGeographicCode(pro); code > 0 && code < kUserDefined) {
      shortKeySet(gtif, GeographicTypeGeoKey, code);
      return 1;
    }
  }
  shortKeySet(gtif, GeographicTypeGeoKey, kUserDefined);
  const bool datumKnown = datumCode > 0 && datumCode < kUserDefined;
  const int32_t ellipsoidCode = pro->spheroid->epsgCode;
  shortKeySet(gtif, GeogGeodeticDatumGeoKey, datumKnown ? datumCode : kUserDefined);
  shortKeySet(gtif, GeogEllipsoidGeoKey,
              ellipsoidCode > 0 && ellipsoidCode < kUserDefined ? ellipsoidCode : kUserDefined);
  shortKeySet(gtif, GeogPrimeMeridianGeoKey, kGreenwich);
  shortKeySet(gtif, GeogLinearUnitsGeoKey, kMeters);
  shortKeySet(gtif, GeogAngularUnitsGeoKey, kDecimalDegrees);
  GTIFKeySet(gtif, GeogSemiMajorAxisGeoKey, TYPE_DOUBLE, 1, pro->spheroid->semiMajor);
  GTIFKeySet(gtif, GeogSemiMinorAxisGeoKey, TYPE_DOUBLE, 1, pro->spheroid->semiMinor);
  citationKeySet(
      gtif, GeogCitationGeoKey,
      std::string("Unable to match Ellipsoid (Datum) to a GeographicTypeGeoKey value\n") +
          "Ellipsoid = " + orQuestionMark(spheroid) + "\nDatum = " + orQuestionMark(datum));
  return 1;
}

int PCSWriteUTM(GTIF* gtif, const Kprj_ProParameters* pro, Kerr_Report** err) {
  static const char* kLabel = "PCSWriteUTM";
  KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
  if (gtif == nullptr || pro == nullptr || pro->parameters == nullptr)
    return frame.fail(__LINE__, "Args"), 0;
  const char *spheroid = nullptr, *datum = nullptr;
  SpheroidAndDatumNamesGet(pro, &spheroid, &datum);
  int32_t hemisphere = pro->parameters[3] >= 0.0 ? 1 : -1;
  int32_t zone = pro->zone;
  if (const KgtfUtmPcsRow* row = utmRowByZone(zone, hemisphere, spheroid, datum)) {
    shortKeySet(gtif, ProjectedCSTypeGeoKey, row->code);
  } else {
    shortKeySet(gtif, ProjectedCSTypeGeoKey, kUserDefined);
    // A zone outside 1..60 has no UTM projection code; its record cannot be
    // made into a valid one either, so the user-defined system stops here.
    if (zone >= 1 && zone <= 60)
      shortKeySet(gtif, ProjectionGeoKey, (hemisphere > 0 ? 16000 : 16100) + zone);
    Kerr_Report* dropped = nullptr;
    GCSWrite(gtif, pro, &dropped);
    kerr_DeleteErrorReportEx(&dropped);
  }
  citationKeySet(gtif, PCSCitationGeoKey,
                 "UTM Zone " + std::to_string(zone) + (hemisphere > 0 ? "N" : "S") +
                     "\nEllipsoid = " + orQuestionMark(spheroid) +
                     "\nDatum = " + orQuestionMark(datum));
  return 1;
}

int PCSWriteStatePlane(GTIF* gtif, const Kprj_ProParameters* pro, const char* unitsName,
                       Kerr_Report** err) {
  static const char* kLabel = "PCSWriteStatePlane";
  KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
  if (gtif == nullptr || pro == nullptr) return frame.fail(__LINE__, "Args"), 0;
  int32_t nadCode = kprj_NADCodeGet(pro);
  int32_t zone = pro->zone;
  int32_t tableZone = zone;
  if (zone > 0) {
    const Kprj_SPEntry* entry =
        kprj_SPEntryByZoneNumber(kint_GetInit(), zone, nadCode, frame.slot());
    // A zone the host does not know on that NAD has no code: nothing is
    // written, and that is not a failure.
    if (entry == nullptr || frame.hasReport()) return frame.drop(), 1;
    tableZone = entry->zone;
  }
  int32_t code = statePlaneCode(nadCode, tableZone, unitsName);
  if (code == 0) return 1;
  shortKeySet(gtif, ProjectedCSTypeGeoKey, code);
  citationKeySet(gtif, PCSCitationGeoKey,
                 "State Plane Zone " + std::to_string(zone) + "\nNAD = " + nadName(nadCode));
  return 1;
}

int PCSWriteRSO(GTIF* gtif, const char* unitsName, const Kprj_ProParameters* pro,
                Kerr_Report** err) {
  static const char* kLabel = "PCSWriteRSO";
  KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
  int32_t unitCode = unitsCodeByName(unitsName);
  if (gtif == nullptr || pro == nullptr || pro->parameters == nullptr)
    return frame.fail(__LINE__, "Args"), 0;
  // Parameter 2 is 0.0 on the Borneo grids (Timbalai 1948) and 1.0 on West
  // Malaysia's (Kertau 1948), as the readers build them.
  bool borneo = pro->parameters[2] == 0.0;
  int32_t code = kUserDefined;
  switch (unitCode) {
    case kMeters:
      code = borneo ? 29873 : 3168;
      break;
    case kSearsChain:
      code = borneo ? 29871 : 3167;
      break;
    case kSearsFoot:
      code = borneo ? 29872 : kUserDefined;
      break;
    default:
      break;
  }
  shortKeySet(gtif, ProjectedCSTypeGeoKey, code);
  if (code != kUserDefined) return 1;

  double easting = pro->parameters[0], northing = pro->parameters[1];
  if (unitCode == -1) {
    unitsConvert(&easting, unitsName, "meters");
    unitsConvert(&northing, unitsName, "meters");
    unitCode = kMeters;
  }
  shortKeySet(gtif, ProjectionGeoKey, borneo ? 19958 : 19935);
  shortKeySet(gtif, ProjLinearUnitsGeoKey, unitCode);
  const char *spheroid = nullptr, *datum = nullptr;
  SpheroidAndDatumNamesGet(pro, &spheroid, &datum);
  if (spheroid == nullptr || datum == nullptr)
    return frame.fail(__LINE__, "Unknown Datum and Spheroid"), 0;
  shortKeySet(gtif, GeogGeodeticDatumGeoKey, kgtf_GetDatumCode(datum));
  shortKeySet(gtif, GeogEllipsoidGeoKey, kgtf_GetSpheroidCode(spheroid));
  setLinearParam(gtif, ProjCenterEastingGeoKey, unitCode, easting);
  setLinearParam(gtif, ProjCenterNorthingGeoKey, unitCode, northing);
  return 1;
}

int PCSWriteEPSG(GTIF* gtif, const _kprj_MapProjectionEx* projection, const char* unitsName,
                 Kerr_Report** err) {
  static const char* kLabel = "PCSWriteRSO";
  KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
  if (gtif == nullptr || projection == nullptr) return frame.fail(__LINE__, "Args"), 0;
  int32_t code = GetEPSGCode(projection, unitsName);
  if (code <= 0 || code > 65535)
    return frame.fail(__LINE__, "Could not export projection to EPSG."), 0;
  shortKeySet(gtif, ProjectedCSTypeGeoKey, code);
  int32_t unitCode = unitsCodeByName(unitsName);
  if (unitCode != -1) {
    shortKeySet(gtif, ProjLinearUnitsGeoKey, unitCode);
    return 1;
  }
  // Units GeoTIFF has no code for: user-defined, with their size. Units the
  // host cannot size either leave the system's own units to stand.
  double metersPerUnit = 1.0;
  if (unitsConvert(&metersPerUnit, unitsName, "meters")) {
    shortKeySet(gtif, ProjLinearUnitsGeoKey, kUserDefined);
    GTIFKeySet(gtif, ProjLinearUnitSizeGeoKey, TYPE_DOUBLE, 1, metersPerUnit);
  }
  return 1;
}

void PCSWriteByNumber(GTIF* gtif, const Kprj_ProParameters* pro) {
  Kerr_Report* dropped = nullptr;
  if (pro == nullptr) return;
  if (pro->number == kNumberUTM)
    PCSWriteUTM(gtif, pro, &dropped);
  else if (pro->number == kNumberStatePlane)
    PCSWriteStatePlane(gtif, pro, nullptr, &dropped);
  else
    PCSWriteUserDefined(gtif, pro, &dropped);
  kerr_DeleteErrorReportEx(&dropped);
}

int GeoTIFFGeocodingSet(GTIF* gtif, const char* projectionName, const char* unitsName,
                        const _kprj_MapProjectionEx* projection, Kerr_Report** err) {
  static const char* kLabel = "GeoTIFFGeocodingSet";
  KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
  if (gtif == nullptr) return frame.fail(__LINE__, "Args"), 0;
  const auto* pro = projection != nullptr
                        ? static_cast<const Kprj_ProParameters*>(
                              kprj_MapProjectionCSRGet(projection, kProParametersForm))
                        : nullptr;
  if (pro == nullptr) return frame.fail(__LINE__, "Empty projection!"), 0;

  int32_t code = ProjectionCodeGet(pro, projectionName);
  int modelType = code == 0 ? ModelTypeGeographic : code > 0 ? ModelTypeProjected : 0;
  if (!ModelTypeSet(gtif, modelType, frame.slot()))
    return frame.calleeFailed(__LINE__, "ModelTypeSet"), 0;

  if (pro->name != nullptr && kstr_Eqic(pro->name, "RSO")) {
    if (!PCSWriteRSO(gtif, unitsName, pro, frame.slot()))
      return frame.calleeFailed(__LINE__, "PCSWriteRSO"), 0;
  } else if (code == -1) {
    frame.warn(__LINE__, KERR_WARNING,
               "%s:  Cannot translate projection to GeoTIFF; information may be lost",
               projectionName != nullptr ? projectionName : kprj_ProjectionNameUnknown());
  } else if (code == kNumberGeographic) {
    if (!GCSWrite(gtif, pro, frame.slot())) return frame.calleeFailed(__LINE__, "GCSWrite"), 0;
  } else if (code == kNumberUTM) {
    if (!PCSWriteUTM(gtif, pro, frame.slot()))
      return frame.calleeFailed(__LINE__, "PCSWriteUTM"), 0;
  } else if (code == kNumberStatePlane) {
    if (!PCSWriteStatePlane(gtif, pro, unitsName, frame.slot()))
      return frame.calleeFailed(__LINE__, "PCSWriteStatePlane"), 0;
  } else {
    // Other projections (the RSO family by name too): a standard code where
    // the EPSG registry has one, the system spelt out otherwise.
    if (!PCSWriteEPSG(gtif, projection, unitsName, frame.slot())) {
      frame.drop();
      if (!PCSWriteUserDefined(gtif, pro, frame.slot()))
        return frame.calleeFailed(__LINE__, "PCSWriteUserDefined"), 0;
    }
  }

  kgtf_UnitsNameSet(gtif, unitsName, frame.slot());
  if (frame.hasReport()) return frame.calleeFailed(__LINE__, "kgtf_UnitsNameSet"), 0;
  return 1;
}

extern "C" void kgtf_ProParametersWrite(GTIF* gtif, const char* unitsName,
                                        const char* projectionName, const Kprj_ProParameters* pro,
                                        Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kgtf_ProParametersWrite";
    KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
    if (gtif == nullptr) return frame.fail(__LINE__, "Args");
    const char* units = unitsName != nullptr ? unitsName : kprj_UnitsNameOther();
    const char* name = projectionName != nullptr ? projectionName : kprj_ProjectionNameUnknown();
    // This citation goes out in full whatever "write_citation" says: it is
    // the only record of the host's names for these keys.
    KtxtTextA citation;
    citation.adopt(CitationTextCreate(pro == nullptr, name, units,
                                      GeoTIFFUnitsNameGet(pro, projectionName, units),
                                      frame.slot()));
    if (citation.get() == nullptr) return frame.calleeFailed(__LINE__, "kstr_Sprintf");
    if (!GTIFKeySet(gtif, GTCitationGeoKey, TYPE_ASCII, 0, citation.get()))
      return frame.fail(__LINE__, "GTIFKeySet failed");

    if (pro == nullptr || pro->type == KPRJ_PROJECTION_EXTERNAL) return;
    if (pro->number == kNumberGeographic) {
      if (!GCSWrite(gtif, pro, frame.slot())) frame.fail(__LINE__, "Error writing GCS data");
      return;
    }
    PCSWriteByNumber(gtif, pro);
  });
}
