// EPSGTranslator: EPSG codes to host projection records and back, over PROJ.
#include "epsg_translator.h"
#include "epsg_internal.h"

#include <proj_experimental.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "kcvt.h"
#include "kerr.h"
#include "kint.h"
#include "kmsc.h"
#include "kstr.h"

using namespace kepsg;

namespace {

// The host names spheroids by axes within this distance (meters).
constexpr double kAxisTolerance = 1e-4;
constexpr double kUnitTolerance = 1e-12;
// Host forms computed from two parameter sets of one projection (Hotine
// variants, converted Mercator and Lambert forms) agree to about 1e-14;
// anything a survey could tell apart is far above this.
constexpr double kFormTolerance = 1e-10;
constexpr int32_t kGeographic = 0;

// Host unit names, tried in order: the first whose factor is the unit's wins.
const char* const kLinearUnits[] = {"meters",
                                    "international_feet",
                                    "us_survey_feet",
                                    "modified_american_feet",
                                    "clarke_feet",
                                    "indian_feet",
                                    "link",
                                    "benoit_link",
                                    "sears_link",
                                    "benoit_chain",
                                    "sears_chain",
                                    "sears_yard",
                                    "indian_yard",
                                    "fathom",
                                    "sears_foot",
                                    "nautical_mile_international",
                                    "benoit_chain_1895_b",
                                    "kilometers",
                                    "centimeters",
                                    "millimeters",
                                    "miles"};
const char* const kAngularUnits[] = {"dd", "radians", "grad", "dm", "ds"};
// The vertical datums of the host's elevation records.
const char* const kVerticalDatums[] = {"NGVD29 (CONTUS)", "NAVD 88 (CONTUS) (GEOID99)",
                                       "World Wide 15-Minute Geoid Height (EGM96)"};

struct ProDelete {
  void operator()(Kprj_ProParameters* pro) const { kprj_ProParametersFree(&pro, nullptr); }
};
struct ProjectionDelete {
  void operator()(_kprj_MapProjectionEx* projection) const {
    kprj_ProjectionFree(&projection, nullptr);
  }
};
struct ElevationDelete {
  void operator()(_kprj_ElevationInfo* info) const { kprj_ElevationInfoFree(&info, nullptr); }
};
using ProPtr = std::unique_ptr<Kprj_ProParameters, ProDelete>;
using NarrowProjectionPtr = std::unique_ptr<_kprj_MapProjectionEx, ProjectionDelete>;
using NarrowElevationPtr = std::unique_ptr<_kprj_ElevationInfo, ElevationDelete>;

// A host call's report slot; a failed call throws with the report's text.
class HostCall {
 public:
  ~HostCall() { kerr_DeleteErrorReportEx(&report_); }
  Kerr_Report** slot() { return &report_; }
  void check(bool ok, const char* callee) {
    if (ok && report_ == nullptr) return;
    std::string text = std::string(callee) + " failed";
    if (report_ != nullptr) text += std::string(": ") + kerr_ReportMessage(report_);
    kerr_DeleteErrorReportEx(&report_);
    throw std::runtime_error(text);
  }
  void clear() { kerr_DeleteErrorReportEx(&report_); }

 private:
  Kerr_Report* report_ = nullptr;
};

int epsgCodeOf(const PJ* object) {
  const char* auth = proj_get_id_auth_name(object, 0);
  const char* code = proj_get_id_code(object, 0);
  if (auth == nullptr || code == nullptr || std::strcmp(auth, "EPSG") != 0) return 0;
  return std::atoi(code);
}

const char* hostUnitName(double factor, int kind) {
  const char* const* names = kind == KCVT_LINEAR ? kLinearUnits : kAngularUnits;
  size_t count = kind == KCVT_LINEAR ? sizeof kLinearUnits / sizeof *kLinearUnits
                                     : sizeof kAngularUnits / sizeof *kAngularUnits;
  for (size_t i = 0; i < count; ++i) {
    double toBase = 0.0;
    if (kcvt_UnitsFactor(names[i], &toBase) == kind && nearlyEqual(toBase, factor, kUnitTolerance))
      return names[i];
  }
  return nullptr;
}

struct Axes {
  double factor = 0.0;
  std::string unit;
  std::string firstDirection;
};

// The unit the axes of a system share.
Axes axesOf(PJ_CONTEXT* context, const PJ* crs) {
  PjPtr cs(proj_crs_get_coordinate_system(context, crs));
  if (!cs) fail("PROJ gives no coordinate system for %s", proj_get_name(crs));
  Axes axes;
  int count = proj_cs_get_axis_count(context, cs.get());
  for (int i = 0; i < count; ++i) {
    const char *direction = nullptr, *unit = nullptr;
    double factor = 0.0;
    if (!proj_cs_get_axis_info(context, cs.get(), i, nullptr, nullptr, &direction, &factor, &unit,
                               nullptr, nullptr))
      fail("PROJ could not read axis %d of %s", i, proj_get_name(crs));
    if (i == 0) {
      axes.factor = factor;
      axes.unit = unit ? unit : "?";
      axes.firstDirection = direction ? direction : "";
    } else if (!nearlyEqual(factor, axes.factor, kUnitTolerance)) {
      fail("The axes of %s have different units", proj_get_name(crs));
    }
  }
  if (count < 1) fail("%s has no axes", proj_get_name(crs));
  return axes;
}

std::string narrowText(const KtxtTextU& text) {
  char* narrow = ktxt_Text_Unicode2Ascii(text.c_str());
  if (narrow == nullptr) fail("Out of memory");
  std::string out = narrow;
  kmsc_HeapFree(narrow);
  return out;
}

void ellipsoidAxes(PJ_CONTEXT* context, const PJ* crs, double& a, double& b, int& code) {
  PjPtr ellipsoid(proj_get_ellipsoid(context, crs));
  int computed = 0;
  double inverseFlattening = 0.0;
  if (!ellipsoid || !proj_ellipsoid_get_parameters(context, ellipsoid.get(), &a, &b, &computed,
                                                   &inverseFlattening))
    fail("PROJ gives no ellipsoid for %s", proj_get_name(crs));
  code = epsgCodeOf(ellipsoid.get());
}

bool onGreenwich(PJ_CONTEXT* context, const PJ* crs) {
  PjPtr meridian(proj_get_prime_meridian(context, crs));
  double longitude = 0.0;
  return meridian &&
         proj_prime_meridian_get_parameters(context, meridian.get(), &longitude, nullptr,
                                            nullptr) &&
         longitude == 0.0;
}

// The host's datum of an EPSG datum code on a named host spheroid, if the
// host tables carry the code.
bool applyHostDatum(Kprj_Spheroid& spheroid, int code) {
  if (code == 0 || spheroid.name == nullptr || spheroid.name[0] == '\0') return false;
  std::vector<const char*> names;
  for (int32_t i = 0; const Kprj_DatumEntry* entry = kprj_DatumEntryByIndex(i); ++i)
    if (entry->epsgCode == code) names.push_back(entry->name);
  for (int32_t i = 0; const Kprj_SpheroidEntry* entry = kprj_SpheroidEntryByIndex(i); ++i)
    if (entry->datumEpsgCode == code) names.push_back(entry->name);
  for (const char* name : names) {
    HostCall call;
    if (kprj_DatumByName(kint_GetInit(), spheroid.name, name, spheroid.datum, call.slot()))
      return true;
  }
  return false;
}

// Spheroid and datum of a geodetic datum into a host spheroid record.
void applyDatum(PJ_CONTEXT* context, const PJ* datum, Kprj_Spheroid& spheroid) {
  double a = 0.0, b = 0.0;
  int ellipsoidCode = 0;
  ellipsoidAxes(context, datum, a, b, ellipsoidCode);
  const Kprj_SpheroidEntry* known = nullptr;
  for (int32_t i = 0; known == nullptr; ++i) {
    const Kprj_SpheroidEntry* entry = kprj_SpheroidEntryByIndex(i);
    if (entry == nullptr) break;
    if (ellipsoidCode != 0 && entry->epsgCode == ellipsoidCode &&
        std::fabs(entry->semiMajor - a) <= kAxisTolerance &&
        std::fabs(entry->semiMinor - b) <= kAxisTolerance)
      known = entry;
  }
  HostCall call;
  if (known != nullptr)
    call.check(kprj_SpheroidByName(kint_GetInit(), known->name, &spheroid, call.slot()),
               "kprj_SpheroidByName");
  else
    call.check(kprj_SpheroidByAxes(a, b, &spheroid, call.slot()), "kprj_SpheroidByAxes");

  int datumCode = epsgCodeOf(datum);
  if (applyHostDatum(spheroid, datumCode)) return;
  // The host tables do not know the datum: keep PROJ's name and the code.
  char* name = kstr_Duplicate(proj_get_name(datum) ? proj_get_name(datum) : "");
  if (name == nullptr || spheroid.datum == nullptr) {
    kmsc_HeapFree(name);
    fail("Out of memory");
  }
  kmsc_HeapFree(spheroid.datum->name);
  spheroid.datum->name = name;
  spheroid.datum->epsgCode = datumCode;
}

// Spheroid and datum of a geodetic system into a host spheroid record.
void applyGeodesy(PJ_CONTEXT* context, const PJ* geodetic, Kprj_Spheroid& spheroid) {
  PjPtr datum(proj_crs_get_datum_forced(context, geodetic));
  if (!datum) fail("PROJ gives no datum for %s", proj_get_name(geodetic));
  applyDatum(context, datum.get(), spheroid);
}

struct SpheroidDelete {
  void operator()(Kprj_Spheroid* spheroid) const { kprj_SpheroidFree(&spheroid, nullptr); }
};
using SpheroidPtr = std::unique_ptr<Kprj_Spheroid, SpheroidDelete>;

// A new host spheroid record with the datum of `datum`.
Kprj_Spheroid* spheroidOfDatum(PJ_CONTEXT* context, const PJ* datum) {
  HostCall call;
  SpheroidPtr spheroid(kprj_SpheroidCreate(call.slot()));
  call.check(spheroid != nullptr, "kprj_SpheroidCreate");
  applyDatum(context, datum, *spheroid);
  return spheroid.release();
}

int datumCodeOf(const Kprj_Spheroid& spheroid) {
  const Kprj_Datum* datum = spheroid.datum;
  if (datum == nullptr) return 0;
  if (datum->epsgCode != 0) return datum->epsgCode;
  if (const Kprj_DatumEntry* entry = kprj_DatumEntryByName(datum->name)) return entry->epsgCode;
  if (const Kprj_SpheroidEntry* entry = kprj_SpheroidEntryByName(datum->name))
    return entry->datumEpsgCode;
  return 0;
}

}  // namespace

EPSGTranslator::EPSGTranslator() : context_(proj_context_create()) {
  if (context_ == nullptr) throw std::runtime_error("PROJ could not create a context");
  // Failures reach the caller as exceptions; PROJ's own messages would only
  // repeat them on stderr.
  proj_log_level(context_, PJ_LOG_NONE);
}

EPSGTranslator::~EPSGTranslator() {
  proj_context_destroy(context_);
}

namespace {

PjPtr crsFromCode(PJ_CONTEXT* context, long code) {
  if (code <= 0) fail("%ld is not an EPSG code", code);
  std::string text = std::to_string(code);
  PjPtr crs(proj_create_from_database(context, "EPSG", text.c_str(), PJ_CATEGORY_CRS, 0, nullptr));
  if (!crs) fail("EPSG:%ld is not a coordinate system in the EPSG registry", code);
  return crs;
}

_kprj_ElevationInfo* verticalToHost(PJ_CONTEXT* context, long code) {
  PjPtr crs = crsFromCode(context, code);
  if (proj_get_type(crs.get()) != PJ_TYPE_VERTICAL_CRS)
    fail("EPSG:%ld (%s) is not a vertical system", code, proj_get_name(crs.get()));
  PjPtr datum(proj_crs_get_datum_forced(context, crs.get()));
  int datumCode = datum ? epsgCodeOf(datum.get()) : 0;
  const char* datumName = nullptr;
  for (const char* name : kVerticalDatums) {
    const Kprj_DatumEntry* entry = kprj_VerticalDatumEntryByName(name);
    if (entry != nullptr && datumCode != 0 && entry->epsgCode == datumCode) datumName = entry->name;
  }
  if (datumName == nullptr)
    fail("The vertical datum of EPSG:%ld (%s) has no host name", code,
         datum ? proj_get_name(datum.get()) : "?");
  Axes axes = axesOf(context, crs.get());
  const char* units = hostUnitName(axes.factor, KCVT_LINEAR);
  if (units == nullptr) fail("EPSG:%ld: the unit %s has no host name", code, axes.unit.c_str());
  const char* kind = axes.firstDirection == "up"     ? "height"
                     : axes.firstDirection == "down" ? "depth"
                                                     : nullptr;
  if (kind == nullptr) fail("EPSG:%ld: axis direction %s", code, axes.firstDirection.c_str());
  HostCall call;
  NarrowElevationPtr narrow(
      kprj_ElevationInfoCreateByName("Undefined", datumName, units, kind, call.slot()));
  call.check(narrow != nullptr, "kprj_ElevationInfoCreateByName");
  _kprj_ElevationInfo* wide = kprj_ElevationInfoToUNICODE(narrow.get(), call.slot());
  call.check(wide != nullptr, "kprj_ElevationInfoToUNICODE");
  return wide;
}

}  // namespace

void EPSGTranslator::exportToEPRJ(
    const long& code, const long& verticalCode,
    LegacyHelperTemplate<_kprj_MapProjectionEx, KtxtTextU>& projection, KtxtTextU& units,
    LegacyHelperTemplate<_kprj_ElevationInfo, KtxtTextU>& elevation) {
  PjPtr crs = crsFromCode(context_, code);
  PJ_TYPE type = proj_get_type(crs.get());
  bool geographic = type == PJ_TYPE_GEOGRAPHIC_2D_CRS;
  if (!geographic && type != PJ_TYPE_PROJECTED_CRS)
    fail("EPSG:%ld (%s) is neither a geographic 2D nor a projected system", code,
         proj_get_name(crs.get()));
  PjPtr geodetic(proj_crs_get_geodetic_crs(context_, crs.get()));
  if (!geodetic || proj_get_type(geodetic.get()) != PJ_TYPE_GEOGRAPHIC_2D_CRS)
    fail("EPSG:%ld (%s) is not based on a geographic 2D system", code, proj_get_name(crs.get()));
  if (!onGreenwich(context_, geodetic.get()))
    fail("EPSG:%ld (%s) counts longitude from a meridian other than Greenwich", code,
         proj_get_name(crs.get()));

  HostProjection host;
  host.number = kGeographic;
  if (!geographic) {
    double a = 0.0, b = 0.0;
    int ellipsoidCode = 0;
    ellipsoidAxes(context_, geodetic.get(), a, b, ellipsoidCode);
    PjPtr conversion(proj_crs_get_coordoperation(context_, crs.get()));
    if (!conversion) fail("EPSG:%ld has no conversion", code);
    try {
      host = conversionToHost(context_, conversion.get(), a, b, true);
    } catch (const std::runtime_error& e) {
      fail("EPSG:%ld (%s): %s", code, proj_get_name(crs.get()), e.what());
    }
  }
  Axes axes = axesOf(context_, crs.get());
  const char* unitsName = hostUnitName(axes.factor, geographic ? KCVT_ANGULAR : KCVT_LINEAR);
  if (unitsName == nullptr) fail("EPSG:%ld: the unit %s has no host name", code, axes.unit.c_str());

  HostCall call;
  ProPtr pro(kprj_ProParametersCreateByName(kprj_ProjectionNameByNumber(host.number), call.slot()));
  call.check(pro != nullptr, "kprj_ProParametersCreateByName");
  pro->zone = host.zone;
  for (int i = 0; i < KPRJ_PARAMETER_COUNT; ++i) pro->parameters[i] = host.parameters[i];
  applyGeodesy(context_, geodetic.get(), *pro->spheroid);

  NarrowProjectionPtr narrow(kprj_ProjectionInit(kint_GetInit(), pro.get(), call.slot()));
  call.check(narrow != nullptr, "kprj_ProjectionInit");
  LegacyHelperTemplate<_kprj_MapProjectionEx, KtxtTextU> wide(
      kprj_MapProjectionToUNICODE(narrow.get(), call.slot()));
  call.check(static_cast<bool>(wide), "kprj_MapProjectionToUNICODE");
  LegacyHelperTemplate<_kprj_ElevationInfo, KtxtTextU> wideElevation(
      verticalCode != 0 ? verticalToHost(context_, verticalCode) : nullptr);
  wchar_t* wideUnits = ktxt_Text_Ascii2Unicode(unitsName);
  if (wideUnits == nullptr) fail("Out of memory");

  projection = std::move(wide);
  units.adopt(wideUnits);
  elevation = std::move(wideElevation);
}

std::string EPSGTranslator::exportUnits(long code) {
  PjPtr crs = crsFromCode(context_, code);
  const PJ_TYPE type = proj_get_type(crs.get());
  const bool geographic = type == PJ_TYPE_GEOGRAPHIC_2D_CRS || type == PJ_TYPE_GEOGRAPHIC_3D_CRS;
  if (!geographic && type != PJ_TYPE_PROJECTED_CRS && type != PJ_TYPE_VERTICAL_CRS)
    fail("EPSG:%ld (%s) is not a geographic, projected or vertical system", code,
         proj_get_name(crs.get()));
  Axes axes = axesOf(context_, crs.get());
  const char* name = hostUnitName(axes.factor, geographic ? KCVT_ANGULAR : KCVT_LINEAR);
  if (name == nullptr) fail("EPSG:%ld: the unit %s has no host name", code, axes.unit.c_str());
  return name;
}

Kprj_Spheroid* EPSGTranslator::exportDatum(long code) {
  if (code <= 0) fail("%ld is not an EPSG code", code);
  std::string text = std::to_string(code);
  PjPtr datum(
      proj_create_from_database(context_, "EPSG", text.c_str(), PJ_CATEGORY_DATUM, 0, nullptr));
  const PJ_TYPE type = datum ? proj_get_type(datum.get()) : PJ_TYPE_UNKNOWN;
  if (type != PJ_TYPE_GEODETIC_REFERENCE_FRAME && type != PJ_TYPE_DYNAMIC_GEODETIC_REFERENCE_FRAME)
    fail("EPSG:%ld is not a geodetic datum in the EPSG registry", code);
  if (!onGreenwich(context_, datum.get()))
    fail("EPSG:%ld (%s) counts longitude from a meridian other than Greenwich", code,
         proj_get_name(datum.get()));
  return spheroidOfDatum(context_, datum.get());
}

Kprj_Spheroid* EPSGTranslator::exportGeographicDatum(long code) {
  PjPtr crs = crsFromCode(context_, code);
  const PJ_TYPE type = proj_get_type(crs.get());
  if (type != PJ_TYPE_GEOGRAPHIC_2D_CRS && type != PJ_TYPE_GEOGRAPHIC_3D_CRS)
    fail("EPSG:%ld (%s) is not a geographic system", code, proj_get_name(crs.get()));
  if (!onGreenwich(context_, crs.get()))
    fail("EPSG:%ld (%s) counts longitude from a meridian other than Greenwich", code,
         proj_get_name(crs.get()));
  PjPtr datum(proj_crs_get_datum_forced(context_, crs.get()));
  if (!datum) fail("PROJ gives no datum for %s", proj_get_name(crs.get()));
  return spheroidOfDatum(context_, datum.get());
}

namespace {

// The host record of `conversion` used on an ellipsoid of axes a >= b > 0;
// `label` names the conversion in failures.
Kprj_ProParameters* conversionOnEllipsoid(PJ_CONTEXT* context, const PJ* conversion, double a,
                                          double b, const std::string& label) {
  if (!(b > 0.0) || !(a >= b) || !std::isfinite(a))
    fail("%s: %g, %g are not the axes of an ellipsoid", label.c_str(), a, b);
  // A conversion alone has no ellipsoid; inside a projected system on the
  // caller's, PROJ can convert the methods whose parameters depend on it.
  double inverseFlattening = a == b ? 0.0 : a / (a - b);
  PjPtr ellipsoidal(
      proj_create_ellipsoidal_2D_cs(context, PJ_ELLPS2D_LONGITUDE_LATITUDE, nullptr, 0.0));
  PjPtr geographic(ellipsoidal
                       ? proj_create_geographic_crs(context, "unnamed", "unnamed", "unnamed", a,
                                                    inverseFlattening, "Greenwich", 0.0, "degree",
                                                    0.0174532925199433, ellipsoidal.get())
                       : nullptr);
  PjPtr cartesian(proj_create_cartesian_2D_cs(context, PJ_CART2D_EASTING_NORTHING, "metre", 1.0));
  PjPtr crs(geographic && cartesian
                ? proj_create_projected_crs(context, "unnamed", geographic.get(), conversion,
                                            cartesian.get())
                : nullptr);
  PjPtr bound(crs ? proj_crs_get_coordoperation(context, crs.get()) : nullptr);
  if (!bound) fail("PROJ could not use %s on an ellipsoid", label.c_str());
  HostProjection host;
  try {
    host = conversionToHost(context, bound.get(), a, b, true);
  } catch (const std::runtime_error& e) {
    // The translator's failures name the method; a label that is the method
    // would only repeat it.
    if (std::strncmp(e.what(), label.c_str(), label.size()) == 0) throw;
    fail("%s: %s", label.c_str(), e.what());
  }

  HostCall call;
  ProPtr pro(kprj_ProParametersCreateByName(kprj_ProjectionNameByNumber(host.number), call.slot()));
  call.check(pro != nullptr, "kprj_ProParametersCreateByName");
  pro->zone = host.zone;
  for (int i = 0; i < KPRJ_PARAMETER_COUNT; ++i) pro->parameters[i] = host.parameters[i];
  kprj_SpheroidFree(&pro->spheroid, nullptr);
  return pro.release();
}

}  // namespace

Kprj_ProParameters* EPSGTranslator::exportConversion(long code, double semiMajor,
                                                     double semiMinor) {
  if (code <= 0) fail("%ld is not an EPSG code", code);
  std::string text = std::to_string(code);
  PjPtr conversion(proj_create_from_database(context_, "EPSG", text.c_str(),
                                             PJ_CATEGORY_COORDINATE_OPERATION, 0, nullptr));
  if (!conversion || proj_get_type(conversion.get()) != PJ_TYPE_CONVERSION)
    fail("EPSG:%ld is not a conversion in the EPSG registry", code);
  const char* name = proj_get_name(conversion.get()) ? proj_get_name(conversion.get()) : "?";
  return conversionOnEllipsoid(context_, conversion.get(), semiMajor, semiMinor,
                               "EPSG:" + text + " (" + name + ")");
}

Kprj_ProParameters* EPSGTranslator::exportProjectedDefinition(const std::string& definition,
                                                              double semiMajor, double semiMinor) {
  PjPtr crs(proj_create(context_, definition.c_str()));
  if (!crs || proj_get_type(crs.get()) != PJ_TYPE_PROJECTED_CRS)
    fail("PROJ does not read \"%s\" as a projected system", definition.c_str());
  PjPtr conversion(proj_crs_get_coordoperation(context_, crs.get()));
  if (!conversion) fail("PROJ gives no conversion for \"%s\"", definition.c_str());
  const char* method = nullptr;
  proj_coordoperation_get_method_info(context_, conversion.get(), &method, nullptr, nullptr);
  return conversionOnEllipsoid(context_, conversion.get(), semiMajor, semiMinor,
                               method != nullptr ? method : definition);
}

bool EPSGTranslator::isDeprecated(long code) {
  if (code <= 0) return false;
  std::string text = std::to_string(code);
  PjPtr object(
      proj_create_from_database(context_, "EPSG", text.c_str(), PJ_CATEGORY_CRS, 0, nullptr));
  return object && proj_is_deprecated(object.get());
}

double EPSGTranslator::exportUnitFactor(long code, bool angular) {
  std::string text = std::to_string(code);
  const char* name = nullptr;
  const char* category = nullptr;
  double factor = 0.0;
  if (code <= 0 ||
      !proj_uom_get_info_from_database(context_, "EPSG", text.c_str(), &name, &factor, &category))
    fail("EPSG:%ld is not a unit of the EPSG registry", code);
  const char* wanted = angular ? "angular" : "linear";
  if (category == nullptr || std::strcmp(category, wanted) != 0 || !(factor > 0.0) ||
      !std::isfinite(factor))
    fail("EPSG:%ld (%s) is not a %s unit with a factor", code, name ? name : "?", wanted);
  return factor;
}

namespace {

// The geographic 2D systems of a datum that share the record's spheroid,
// current ones on Greenwich only.
std::vector<PjPtr> geographicSystems(PJ_CONTEXT* context, const Kprj_Spheroid& spheroid) {
  int datumCode = datumCodeOf(spheroid);
  if (datumCode == 0)
    fail("The datum %s has no EPSG code",
         spheroid.datum && spheroid.datum->name && spheroid.datum->name[0] ? spheroid.datum->name
                                                                           : "(unnamed)");
  std::string text = std::to_string(datumCode);
  PjListPtr list(
      proj_query_geodetic_crs_from_datum(context, "EPSG", "EPSG", text.c_str(), "geographic 2D"));
  std::vector<PjPtr> out;
  int count = list ? proj_list_get_count(list.get()) : 0;
  for (int i = 0; i < count; ++i) {
    PjPtr crs(proj_list_get(context, list.get(), i));
    if (!crs || proj_is_deprecated(crs.get()) || !onGreenwich(context, crs.get())) continue;
    double a = 0.0, b = 0.0;
    int ellipsoidCode = 0;
    ellipsoidAxes(context, crs.get(), a, b, ellipsoidCode);
    if (std::fabs(a - spheroid.semiMajor) > kAxisTolerance ||
        std::fabs(b - spheroid.semiMinor) > kAxisTolerance)
      fail("The spheroid %s (%.4f, %.4f) is not the ellipsoid of datum EPSG:%d",
           spheroid.name ? spheroid.name : "", spheroid.semiMajor, spheroid.semiMinor, datumCode);
    out.push_back(std::move(crs));
  }
  if (out.empty()) fail("Datum EPSG:%d has no geographic system on Greenwich", datumCode);
  return out;
}

// Matching entries, ranked first (lowest) to last.
using Ranked = std::set<std::pair<int, int>>;  // rank, code

// Entries that match differ at most in name and axis order, which a host
// record does not carry; the first by rank, then by code, is taken.
long firstCode(const Ranked& codes, const char* what) {
  if (codes.empty()) fail("No EPSG system is exactly the record's %s", what);
  return codes.begin()->second;
}

long geographicCode(PJ_CONTEXT* context, const Kprj_Spheroid& spheroid, double factor) {
  Ranked codes;
  for (const PjPtr& crs : geographicSystems(context, spheroid))
    if (nearlyEqual(axesOf(context, crs.get()).factor, factor, kUnitTolerance))
      codes.insert({0, epsgCodeOf(crs.get())});
  return firstCode(codes, "geographic system");
}

// The conversion in the host's terms, for comparing two conversions: UTM
// zones stay Transverse Mercator so that any record of a zone compares.
bool hostForm(PJ_CONTEXT* context, const PJ* conversion, const PJ* geodetic, HostProjection& out) {
  double a = 0.0, b = 0.0;
  int ellipsoidCode = 0;
  try {
    ellipsoidAxes(context, geodetic, a, b, ellipsoidCode);
    out = conversionToHost(context, conversion, a, b, false);
    return true;
  } catch (const std::runtime_error&) {
    return false;  // a form the host cannot hold is not the record's
  }
}

bool sameHostForm(const HostProjection& x, const HostProjection& y) {
  if (x.number != y.number) return false;
  for (int i = 0; i < KPRJ_PARAMETER_COUNT; ++i)
    if (!nearlyEqual(x.parameters[i], y.parameters[i], kFormTolerance)) return false;
  return true;
}

// PROJ proposes registry entries for the record's system, built in both axis
// orders and in the other parameter set of its method (identify finds only
// entries in the same order and method). An entry matches when it is on the
// record's datum, in the record's units, and its conversion has the record's
// host form. Entries in the host's own axis order (easting first) rank first.
long projectedCode(PJ_CONTEXT* context, const Kprj_ProParameters& pro, double factor,
                   const char* unitsName) {
  int datumCode = datumCodeOf(*pro.spheroid);
  std::vector<PjPtr> bases = geographicSystems(context, *pro.spheroid);
  std::vector<PjPtr> conversions;
  conversions.push_back(hostToConversion(context, pro));
  HostProjection wanted;
  if (!hostForm(context, conversions.front().get(), bases.front().get(), wanted))
    fail("The %s record has no exact PROJ form", pro.name);
  double a = 0.0, b = 0.0;
  int ellipsoidCode = 0;
  ellipsoidAxes(context, bases.front().get(), a, b, ellipsoidCode);
  if (PjPtr other = otherMethod(context, conversions.front().get(), a, b))
    conversions.push_back(std::move(other));

  std::set<int> proposed;
  for (const PjPtr& conversion : conversions) {
    for (PJ_CARTESIAN_CS_2D_TYPE order : {PJ_CART2D_EASTING_NORTHING, PJ_CART2D_NORTHING_EASTING}) {
      PjPtr cs(proj_create_cartesian_2D_cs(context, order, unitsName, factor));
      PjPtr crs(cs ? proj_create_projected_crs(context, "unnamed", bases.front().get(),
                                               conversion.get(), cs.get())
                   : nullptr);
      if (!crs) fail("PROJ could not build the system of the %s record", pro.name);
      int* confidence = nullptr;
      PjListPtr candidates(proj_identify(context, crs.get(), "EPSG", nullptr, &confidence));
      proj_int_list_destroy(confidence);
      int count = candidates ? proj_list_get_count(candidates.get()) : 0;
      for (int i = 0; i < count; ++i) {
        PjPtr candidate(proj_list_get(context, candidates.get(), i));
        if (candidate) proposed.insert(epsgCodeOf(candidate.get()));
      }
    }
  }

  Ranked codes;
  for (int code : proposed) {
    std::string text = std::to_string(code);
    PjPtr candidate(
        proj_create_from_database(context, "EPSG", text.c_str(), PJ_CATEGORY_CRS, 0, nullptr));
    if (!candidate || proj_is_deprecated(candidate.get()) ||
        proj_get_type(candidate.get()) != PJ_TYPE_PROJECTED_CRS)
      continue;
    PjPtr base(proj_crs_get_geodetic_crs(context, candidate.get()));
    PjPtr datum(base ? proj_crs_get_datum_forced(context, base.get()) : nullptr);
    if (!datum || epsgCodeOf(datum.get()) != datumCode || !onGreenwich(context, base.get()))
      continue;
    Axes axes = axesOf(context, candidate.get());
    if (!nearlyEqual(axes.factor, factor, kUnitTolerance)) continue;
    PjPtr conversion(proj_crs_get_coordoperation(context, candidate.get()));
    HostProjection form;
    if (conversion && hostForm(context, conversion.get(), base.get(), form) &&
        sameHostForm(form, wanted))
      codes.insert({axes.firstDirection == "east" ? 0 : 1, code});
  }
  std::string what = std::string(pro.name ? pro.name : "?") + " system";
  return firstCode(codes, what.c_str());
}

long verticalCodeOf(PJ_CONTEXT* context, const _kprj_ElevationInfo& wide) {
  HostCall call;
  NarrowElevationPtr info(kprj_ElevationInfoToASCII(&wide, call.slot()));
  call.check(info != nullptr, "kprj_ElevationInfoToASCII");
  if (info->datumCode == 0) return 0;
  double factor = 0.0;
  if (kcvt_UnitsFactor(info->unitsName.narrow, &factor) != KCVT_LINEAR)
    fail("Elevation units %s are not a length", info->unitsName.narrow);
  const char* direction = kstr_Eqic(info->kind.narrow, "depth") ? "down" : "up";
  // PROJ does not identify vertical systems; the registry has a few hundred,
  // so they are compared one by one.
  PROJ_CRS_LIST_PARAMETERS* filter = proj_get_crs_list_parameters_create();
  PJ_TYPE types[] = {PJ_TYPE_VERTICAL_CRS};
  filter->types = types;
  filter->typesCount = 1;
  filter->allow_deprecated = 0;
  int count = 0;
  std::unique_ptr<PROJ_CRS_INFO*, void (*)(PROJ_CRS_INFO**)> list(
      proj_get_crs_info_list_from_database(context, "EPSG", filter, &count),
      proj_crs_info_list_destroy);
  proj_get_crs_list_parameters_destroy(filter);
  Ranked codes;
  for (int i = 0; list != nullptr && i < count; ++i) {
    PjPtr candidate(proj_create_from_database(context, "EPSG", list.get()[i]->code, PJ_CATEGORY_CRS,
                                              0, nullptr));
    PjPtr datum(candidate ? proj_crs_get_datum_forced(context, candidate.get()) : nullptr);
    if (!datum || epsgCodeOf(datum.get()) != info->datumCode) continue;
    Axes axes = axesOf(context, candidate.get());
    if (nearlyEqual(axes.factor, factor, kUnitTolerance) && axes.firstDirection == direction)
      codes.insert({0, epsgCodeOf(candidate.get())});
  }
  return firstCode(codes, "elevation");
}

}  // namespace

namespace {

std::string wktOf(PJ_CONTEXT* context, const PJ* crs) {
  const char* options[] = {"MULTILINE=NO", nullptr};
  const char* wkt = proj_as_wkt(context, crs, PJ_WKT2_2019, options);
  if (wkt == nullptr) fail("PROJ cannot state %s as WKT", proj_get_name(crs));
  return wkt;
}

// The geographic system of a record's geodesy: the registry's for its datum
// where it has one on these axes, else one built on the axes.
PjPtr geographicBase(PJ_CONTEXT* context, const Kprj_Spheroid& spheroid) {
  if (datumCodeOf(spheroid) != 0) {
    std::vector<PjPtr> systems = geographicSystems(context, spheroid);
    if (!systems.empty()) return std::move(systems.front());
  }
  double a = spheroid.semiMajor, b = spheroid.semiMinor;
  if (!(b > 0.0) || !(a >= b)) fail("The spheroid's axes %g, %g are not an ellipsoid's", a, b);
  const char* ellipsoid = spheroid.name && spheroid.name[0] ? spheroid.name : "unknown";
  const char* datum = spheroid.datum && spheroid.datum->name && spheroid.datum->name[0]
                          ? spheroid.datum->name
                          : "unknown";
  PjPtr cs(proj_create_ellipsoidal_2D_cs(context, PJ_ELLPS2D_LONGITUDE_LATITUDE, nullptr, 0.0));
  PjPtr base(cs ? proj_create_geographic_crs(context, "unknown", datum, ellipsoid, a,
                                             a == b ? 0.0 : a / (a - b), "Greenwich", 0.0, "degree",
                                             0.0174532925199433, cs.get())
                : nullptr);
  if (!base) fail("PROJ could not build a geographic system on %s", ellipsoid);
  return base;
}

}  // namespace

std::string EPSGTranslator::exportName(long code, std::string& wkt) {
  PjPtr crs = crsFromCode(context_, code);
  wkt = wktOf(context_, crs.get());
  return proj_get_name(crs.get()) ? proj_get_name(crs.get()) : "";
}

std::string EPSGTranslator::exportWKT(const Kprj_ProParameters& pro, const std::string& unitsName) {
  const char* name = pro.name ? pro.name : "?";
  if (pro.type != KPRJ_PROJECTION_INTERNAL) fail("The external projection %s has no WKT", name);
  if (pro.spheroid == nullptr) fail("The %s record has no spheroid", name);
  PjPtr base = geographicBase(context_, *pro.spheroid);
  if (pro.number == kGeographic) return wktOf(context_, base.get());
  double factor = 0.0;
  if (kcvt_UnitsFactor(unitsName.c_str(), &factor) != KCVT_LINEAR)
    fail("Projected units %s are not a length", unitsName.c_str());
  PjPtr conversion = hostToConversion(context_, pro);
  PjPtr cs(
      proj_create_cartesian_2D_cs(context_, PJ_CART2D_EASTING_NORTHING, unitsName.c_str(), factor));
  PjPtr crs(
      cs ? proj_create_projected_crs(context_, "unknown", base.get(), conversion.get(), cs.get())
         : nullptr);
  if (!crs) fail("PROJ could not build the system of the %s record", name);
  return wktOf(context_, crs.get());
}

void EPSGTranslator::importFromEPRJ(
    const LegacyHelperTemplate<_kprj_MapProjectionEx, KtxtTextU>& projection,
    const KtxtTextU& units, const LegacyHelperTemplate<_kprj_ElevationInfo, KtxtTextU>& elevation,
    long& code, long& verticalCode, bool projectedOnly) {
  code = 0;
  verticalCode = 0;
  const auto* pro = static_cast<const Kprj_ProParameters*>(
      projection ? kprj_MapProjectionCSRGet(projection.get(), KPRJ_FORM_PRO_PARAMETERS) : nullptr);
  if (pro == nullptr) fail("The projection holds no parameter record");
  const char* name = pro->name ? pro->name : "?";
  if (pro->type != KPRJ_PROJECTION_INTERNAL)
    fail("The external projection %s has no EPSG code", name);
  if (pro->spheroid == nullptr) fail("The %s record has no spheroid", name);

  std::string unitsName = narrowText(units);
  double factor = 0.0;
  int kind = kcvt_UnitsFactor(unitsName.c_str(), &factor);
  long found = 0;
  if (pro->number == kGeographic) {
    if (projectedOnly) fail("A geographic record has no projected system code");
    if (kind != KCVT_ANGULAR) fail("Geographic units %s are not angular", unitsName.c_str());
    found = geographicCode(context_, *pro->spheroid, factor);
  } else {
    if (kind != KCVT_LINEAR) fail("Projected units %s are not a length", unitsName.c_str());
    found = projectedCode(context_, *pro, factor, unitsName.c_str());
  }
  long vertical = elevation ? verticalCodeOf(context_, *elevation.get()) : 0;
  code = found;
  verticalCode = vertical;
}
