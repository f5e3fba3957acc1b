// Zone systems on reading: complete host projection records from the codes
// of State Plane, UTM, Gauss-Kruger, Map Grid of Australia, RSO, Bogota and
// British National Grid systems, and from any other code through the EPSG
// translator.
//
// Choices of this library:
// - Bogota zones (projection codes 18051 to 18054): the latitude of origin
//   (slot 5) is 4 degrees 35' 56.57" north for all four zones, and the
//   central meridian (slot 4) is the zone's own west longitude: 77, 74, 71
//   and 68 degrees 4' 51.3" west for 18051 to 18054, stored negative, as the
//   EPSG registry has them (EPSG 21891 to 21894).
// - State Plane by projection code: 10000 + zone for NAD27 and
//   10000 + zone + 30 for NAD83, accepted only when the State Plane table
//   has that zone for that datum.
// - Map Grid of Australia by projection code: 17348 to 17358 are zones 48 to
//   58 of MGA, 17448 to 17458 the same zones of the older AMG grid; both give
//   a UTM record of that zone in the southern hemisphere.
#include "geocoding.h"

#include <cmath>

#include "citation.h"
#include "epsg_helper.h"
#include "kgtf_internal.h"
#include "kint.h"
#include "kmsc.h"
#include "tables.h"

namespace {

enum : int32_t { kUtm = 1, kStatePlane = 2, kTransverseMercator = 9, kGaussKruger = 36 };

constexpr double kDegree = M_PI / 180.0;

// Applies a spheroid and a datum to the record's spheroid; false with the
// host's report in the slot.
bool geodesyApply(Kprj_ProParameters* pro, const char* spheroid, const char* datum,
                  Kerr_Report** err) {
  if (pro->spheroid == nullptr && (pro->spheroid = kprj_SpheroidCreate(err)) == nullptr)
    return false;
  if (!kprj_SpheroidByName(kint_GetInit(), spheroid, pro->spheroid, err)) return false;
  return datum == nullptr ||
         kprj_DatumByName(kint_GetInit(), spheroid, datum, pro->spheroid->datum, err);
}

// A Transverse Mercator record with a spheroid record ready to fill.
Kprj_ProParameters* transverseMercatorCreate(Kerr_Report** err) {
  Kprj_ProParameters* pro = kgtf_ProParametersCreate(kTransverseMercator, 0);
  if (pro != nullptr && (pro->spheroid = kprj_SpheroidCreate(err)) == nullptr)
    kprj_ProParametersFree(&pro, nullptr);
  return pro;
}

struct TransverseMercatorParameters {
  double scale, centralMeridian, originLatitude, falseEasting, falseNorthing;
};

void transverseMercatorSet(Kprj_ProParameters* pro, const TransverseMercatorParameters& p) {
  pro->parameters[2] = p.scale;
  pro->parameters[4] = p.centralMeridian;
  pro->parameters[5] = p.originLatitude;
  pro->parameters[6] = p.falseEasting;
  pro->parameters[7] = p.falseNorthing;
}

// The geodesy of an RSO grid from its datum and ellipsoid keys; false after a
// report under the reader's label.
bool rsoGeodesyRead(KerrFrame& frame, KgtfKeySource keys, Kprj_ProParameters* pro) {
  uint16_t datumCode = 0, ellipsoidCode = 0;
  bool hasDatum = GeoKeyShortGet(keys, GeogGeodeticDatumGeoKey, &datumCode);
  bool hasEllipsoid = GeoKeyShortGet(keys, GeogEllipsoidGeoKey, &ellipsoidCode);
  char* datum = hasDatum && datumCode != kUserDefined ? kgtf_GetDatumName(datumCode) : nullptr;
  char* spheroid = nullptr;
  bool ok = true;
  if (pro->spheroid == nullptr && (pro->spheroid = kprj_SpheroidCreate(frame.slot())) == nullptr) {
    ok = false;
    frame.calleeFailed(__LINE__, "kprj_SpheroidCreate");
  } else if (hasEllipsoid && ellipsoidCode != kUserDefined) {
    const char* name = spheroidNameByCode(ellipsoidCode);
    if (!(ok = kprj_SpheroidByName(kint_GetInit(), name, pro->spheroid, frame.slot())))
      frame.calleeFailed(__LINE__, "kprj_SpheroidByName");
    else if (datum != nullptr && !(ok = kprj_DatumByName(kint_GetInit(), name, datum,
                                                         pro->spheroid->datum, frame.slot())))
      frame.calleeFailed(__LINE__, "kprj_DatumByName");
  } else if (datum != nullptr) {
    if ((spheroid = kprj_GetSpheroidNameByDatumName(kint_GetInit(), datum, frame.slot())) ==
        nullptr) {
      ok = false;
      frame.calleeFailed(__LINE__, "kprj_GetSpheroidNameByDatumName");
    } else if (!(ok = kprj_SpheroidByName(kint_GetInit(), spheroid, pro->spheroid, frame.slot()))) {
      frame.calleeFailed(__LINE__, "kprj_SpheroidByName");
    } else if (!(ok = kprj_DatumByName(kint_GetInit(), spheroid, datum, pro->spheroid->datum,
                                       frame.slot()))) {
      frame.calleeFailed(__LINE__, "kprj_DatumByName");
    }
  }
  kmsc_HeapFree(datum);
  kmsc_HeapFree(spheroid);
  return ok;
}

}  // namespace

Kprj_ProParameters* kgtf_StatePlaneParametersCreate(int32_t zone, int32_t nadCode,
                                                    Kerr_Report** err) {
  static const char* kLabel = "kgtf_StatePlaneParametersCreate";
  struct Geodesy {
    const char* spheroid;
    const char* datum;
  };
  static const Geodesy kByNad[] = {
      {"Clarke 1866", "NAD27"}, {"GRS 1980", "NAD83"}, {"GRS 1980", "HARN"}};
  KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
  Kprj_ProParameters* pro = kgtf_ProParametersCreate(kStatePlane, zone);
  if (pro == nullptr) return frame.calleeFailed(__LINE__, "kgtf_ProParametersCreate"), nullptr;
  pro->parameters[0] = nadCode;
  if (nadCode < 1 || nadCode > 3) {
    frame.fail(__LINE__, "Unexpected nad code %ld", static_cast<long>(nadCode));
    return pro;
  }
  geodesyApply(pro, kByNad[nadCode - 1].spheroid, kByNad[nadCode - 1].datum, frame.slot());
  return pro;
}

Kprj_ProParameters* kgtf_BNGParametersCreate(Kerr_Report** err) {
  Kprj_ProParameters* pro = transverseMercatorCreate(err);
  if (pro == nullptr) return nullptr;
  transverseMercatorSet(
      pro, {0.9996012717, -0.03490658503988659, 0.8552113334772214, 400000.0, -100000.0});
  geodesyApply(pro, "Airy", "Ord. Survey G. Britain 1936", err);
  return pro;
}

Kprj_ProParameters* kgtf_MGAParametersCreate(int32_t pcsCode, Kerr_Report** err) {
  if (pcsCode < 28348 || pcsCode > 28358) return nullptr;
  Kprj_ProParameters* pro = transverseMercatorCreate(err);
  if (pro == nullptr) return nullptr;
  // The central meridian as the grid defines it, to eight decimals.
  double meridian = std::round((6 * (pcsCode - 28300) - 183) * kDegree * 1e8) / 1e8;
  transverseMercatorSet(pro, {0.9996, meridian, 0.0, 500000.0, 10000000.0});
  geodesyApply(pro, "GRS 1980", "GDA94", err);
  return pro;
}

Kprj_ProParameters* kgtf_RSOParametersCreate(int32_t pcsCode, Kerr_Report** err) {
  Kprj_ProParameters* pro = kprj_ProParametersCreateByName("RSO", err);
  if (pro == nullptr) return nullptr;
  pro->parameters[0] = pro->parameters[1] = pro->parameters[2] = 0.0;
  if (pcsCode == 3167 || pcsCode == 3168) {
    pro->parameters[0] = pcsCode == 3167 ? 40000.0 : 804671.299775;
    pro->parameters[2] = 1.0;
    geodesyApply(pro, "Modified Everest", "Kertau 1948", err);
  } else {
    geodesyApply(pro, "Everest (Sabah & Sarawak)", "Timbalai 1948", err);
  }
  return pro;
}

Kprj_ProParameters* kgtf_BogotaParametersCreate(int32_t projectionCode, Kerr_Report** err) {
  // Degrees west; every zone's meridian lies 4' 51.3" past its whole degree.
  static const double kMeridians[] = {77.0, 74.0, 71.0, 68.0};
  constexpr double kMinutesSeconds = 4.0 / 60.0 + 51.3 / 3600.0;
  Kprj_ProParameters* pro = transverseMercatorCreate(err);
  if (pro == nullptr) return nullptr;
  int32_t zone = projectionCode - 18051;
  double meridian = zone >= 0 && zone < 4 ? -(kMeridians[zone] + kMinutesSeconds) * kDegree : 0.0;
  transverseMercatorSet(pro, {1.0, meridian, 0.08026851648247711, 1000000.0, 1000000.0});
  geodesyApply(pro, "International 1909", "Bogota Observatory", err);
  return pro;
}

Kprj_ProParameters* EPSGProParametersGet(int32_t code) {
  _kprj_MapProjectionEx* projection = nullptr;
  char* units = nullptr;
  GetProjAndUnitsFromEPSG(code, &projection, &units);
  kmsc_HeapFree(units);
  const auto* form = static_cast<const Kprj_ProParameters*>(
      kprj_MapProjectionCSRGet(projection, "Kprj_ProParameters"));
  Kprj_ProParameters* pro = form != nullptr ? kprj_ProParametersCopy(form, nullptr) : nullptr;
  kprj_ProjectionFree(&projection, nullptr);
  return pro;
}

Kprj_ProParameters* EPSGConversionParametersGet(KgtfKeySource keys, int32_t code) {
  // Some conversions' host forms depend on the ellipsoid. The geographic
  // reader runs again on the finished record, and reports there what is
  // wrong with the keys; here only the axes matter.
  const Kprj_SpheroidEntry* wgs84 = kprj_SpheroidEntryByName("WGS 84");
  double a = wgs84 != nullptr ? wgs84->semiMajor : 0.0;
  double b = wgs84 != nullptr ? wgs84->semiMinor : 0.0;
  if (Kprj_ProParameters* geographic = kgtf_ProParametersCreate(0, 0)) {
    Kerr_Report* report = nullptr;
    kgtf_GCSRead(keys, geographic, &report);
    kerr_DeleteErrorReportEx(&report);
    const Kprj_Spheroid* spheroid = geographic->spheroid;
    if (spheroid != nullptr && spheroid->semiMinor > 0.0 &&
        spheroid->semiMajor >= spheroid->semiMinor) {
      a = spheroid->semiMajor;
      b = spheroid->semiMinor;
    }
    kprj_ProParametersFree(&geographic, nullptr);
  }
  return GetProParametersFromEPSGConversion(code, a, b);
}

Kprj_ProParameters* kgtf_ProjectionReadUTM(KgtfKeySource keys, int32_t code, Kerr_Report** err) {
  KerrFrame frame(keys.label("kgtf_ProjectionReadUTM"), err, KERR_PRINT_NOVSL);
  bool north = code >= 16001 && code <= 16060;
  bool south = code >= 16101 && code <= 16160;
  if (!north && !south) return frame.fail(__LINE__, "kgtf_ProjectionReadUTM failed"), nullptr;
  Kprj_ProParameters* pro = kgtf_ProParametersCreate(kUtm, code - (north ? 16000 : 16100));
  if (pro == nullptr) return frame.fail(__LINE__, "kgtf_ProjectionReadUTM failed"), nullptr;
  pro->parameters[3] = north ? 1.0 : -1.0;
  if (kgtf_GCSRead(keys, pro, frame.slot()) != 1 || frame.hasReport())
    frame.fail(__LINE__, "kgtf_ProjectionReadUTM failed");
  return pro;
}

Kprj_ProParameters* kgtf_ProjectionReadGaussKruger(KgtfKeySource keys, int32_t code,
                                                   Kerr_Report** err) {
  KerrFrame frame(keys.label("kgtf_ProjectionReadGaussKruger"), err, KERR_PRINT_NOVSL);
  int32_t zone = code - 16200;
  if (zone < 0 || zone > 5) return frame.fail(__LINE__, "%s failed", frame.label()), nullptr;
  Kprj_ProParameters* pro = kgtf_ProParametersCreate(kGaussKruger, zone);
  if (pro == nullptr) return frame.fail(__LINE__, "%s failed", frame.label()), nullptr;
  bool suppress = errorSuppressionGet();
  uint16_t linear = 9001, angular = 9102;
  GeoKeyShortGet(keys, ProjLinearUnitsGeoKey, &linear);
  GeoKeyShortGet(keys, GeogAngularUnitsGeoKey, &angular);
  double* p = pro->parameters;
  bool read = getParamWBU(ProjNatOriginLongGeoKey, keys, getAngularParam, angular, &p[4],
                          ProjCenterLongGeoKey, ProjFalseOriginLongGeoKey, 0) &&
              getParamWBU(ProjNatOriginLatGeoKey, keys, getAngularParam, angular, &p[5],
                          ProjFalseOriginLatGeoKey, ProjCenterLatGeoKey, 0) &&
              getParamWBU(ProjFalseEastingGeoKey, keys, getLinearParam, linear, &p[6],
                          ProjCenterEastingGeoKey, ProjFalseOriginEastingGeoKey, 0) &&
              getParamWBU(ProjFalseNorthingGeoKey, keys, getLinearParam, linear, &p[7],
                          ProjCenterNorthingGeoKey, ProjFalseOriginNorthingGeoKey, 0);
  if (!read && !suppress) frame.fail(__LINE__, "getParamWBU failed");
  return pro;
}

Kprj_ProParameters* kgtf_ProjectionReadRSO(KgtfKeySource keys, int32_t code, Kerr_Report** err) {
  static const char* kLabel = "kgtf_ProjectionReadRSO";
  KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
  uint16_t linear = 9001;
  GeoKeyShortGet(keys, ProjLinearUnitsGeoKey, &linear);
  Kprj_ProParameters* pro = kprj_ProParametersCreateByName("RSO", frame.slot());
  if (pro == nullptr)
    return frame.calleeFailed(__LINE__, "kprj_ProParametersCreateByName"), nullptr;
  if (code == 19935) {
    pro->parameters[2] = 1.0;
    double easting = 0.0;
    if (getLinearParam(keys, ProjCenterEastingGeoKey, linear, &easting))
      pro->parameters[0] = easting;
  } else {
    pro->parameters[2] = 0.0;
  }
  rsoGeodesyRead(frame, keys, pro);
  return pro;
}

Kprj_ProParameters* kgtf_ProjectionReadMapGridAustralia(KgtfKeySource keys, int32_t code,
                                                        Kerr_Report** err) {
  KerrFrame frame(keys.label("kgtf_ProjectionReadMapGridAustralia"), err, KERR_PRINT_NOVSL);
  int32_t zone = code >= 17448 ? code - 17400 : code - 17300;
  if (zone < 48 || zone > 58 || (code > 17358 && code < 17448))
    return frame.fail(__LINE__, "%s failed", frame.label()), nullptr;
  Kprj_ProParameters* pro = kgtf_ProParametersCreate(kUtm, zone);
  if (pro == nullptr) return frame.fail(__LINE__, "%s failed", frame.label()), nullptr;
  pro->parameters[3] = -1.0;  // both grids lie south of the equator
  return pro;
}

bool statePlaneZoneOfProjection(int32_t code, int32_t* zone, int32_t* nadCode) {
  if (code < 10101 || code > 15999) return false;
  int32_t number = code - 10000;
  int32_t nad = number % 100 >= 30 ? 2 : 1;
  int32_t z = nad == 2 ? number - 30 : number;
  if (statePlanePcsRowByNadZone(nad, -z) == nullptr) return false;
  *zone = -z;
  *nadCode = nad;
  return true;
}

Kprj_ProParameters* kgtf_ProjectionReadStatePlane(KgtfKeySource keys, int32_t code,
                                                  Kerr_Report** err) {
  KerrFrame frame(keys.label("kgtf_ProjectionReadStatePlane"), err, KERR_PRINT_NOVSL);
  int32_t zone = 0, nad = 0;
  if (!statePlaneZoneOfProjection(code, &zone, &nad))
    return frame.fail(__LINE__, "kgtf_ProjectionReadStatePlane failed"), nullptr;
  return kgtf_StatePlaneParametersCreate(zone, nad, frame.slot());
}
