// User-defined coordinate transformations: ProjCoordTransGeoKey and its
// parameter keys to a host projection record, with the fallback keys that
// writers use interchangeably and the unit conversions of each parameter.
#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <algorithm>
#include <exception>
#include <memory>
#include <string>

#include <geo_normalize.h>

#include "citation.h"
#include "epsg_helper.h"
#include "geocoding.h"
#include "kcvt.h"
#include "kmsc.h"
#include "kpmg.h"
#include "ktif_prefs.h"
#include "ktxt.h"
#include "tables.h"

namespace {

// Unit codes assumed when the file names none.

// One key that must hold a double.
bool doubleKeyGet(KgtfKeySource keys, int key, double* value) {
  return GeoKeyDoubleGet(keys, static_cast<geokey_t>(key), value);
}

// A unit code from a SHORT key, or the default.
int unitCodeGet(KgtfKeySource keys, int key, int fallback) {
  uint16_t value = 0;
  return GeoKeyShortGet(keys, static_cast<geokey_t>(key), &value) ? value : fallback;
}

// Reads a key in `fromUnits` and converts it into `toUnits`.
int convertedParam(KgtfKeySource keys, int key, const char* fromUnits, const char* toUnits,
                   double* destination) {
  double scratch = 0.0;
  if (!doubleKeyGet(keys, key, &scratch) || fromUnits == nullptr) return 0;
  // The conversion's own report is not looked at: a failed conversion leaves
  // the destination as it was, which is what the record then holds.
  Kerr_Report* own = nullptr;
  kcvt_UnitsConvertByName(&scratch, fromUnits, destination, toUnits, 1, &own);
  kerr_DeleteErrorReportEx(&own);
  return 1;
}

// EPSG codes of the sexagesimal angle forms: DDD.MMSSsss and DDD.MMmm.
constexpr int kSexagesimalDMS = 9110;
constexpr int kSexagesimalDM = 9111;

// Degrees from a sexagesimal value; the small bias keeps a stored 30.3 from
// reading as 29 minutes and 99.99... seconds.
double sexagesimalDegrees(double value, bool withSeconds) {
  double magnitude = std::fabs(value);
  double degrees = std::floor(magnitude);
  double rest = (magnitude - degrees) * 100.0;  // minutes, seconds as their hundredths
  double minutes = withSeconds ? std::floor(rest + 1e-9) : rest;
  double seconds = withSeconds ? std::fmax(0.0, (rest - minutes) * 100.0) : 0.0;
  double result = degrees + minutes / 60.0 + seconds / 3600.0;
  return value < 0.0 ? -result : result;
}

// The factor to radians or meters of a unit code the tables lack, from the
// registry; false for a code it does not know as that kind of unit.
bool registryFactor(int unitCode, bool angular, double* factor) {
  if (angular && (unitCode == kSexagesimalDMS || unitCode == kSexagesimalDM)) {
    *factor = 0.0;  // not a factor: see registryParam
    return true;
  }
  return GetUnitFactorFromEPSG(unitCode, angular, factor);
}

// Reads a key in a unit the tables lack and converts it to radians or meters.
int registryParam(KgtfKeySource keys, int key, int unitCode, bool angular, double* destination) {
  double value = 0.0, factor = 0.0;
  if (!doubleKeyGet(keys, key, &value) || !registryFactor(unitCode, angular, &factor)) return 0;
  if (angular && factor == 0.0)
    *destination = sexagesimalDegrees(value, unitCode == kSexagesimalDMS) * (M_PI / 180.0);
  else
    *destination = value * factor;
  return 1;
}

enum class Kind { kRaw, kAngular, kLinear };

// What a step of a transformation reads.
enum class Step {
  kParam,           // one parameter with its fallbacks
  kAzimuth,         // the Oblique Mercator azimuth, in its own unit when named
  kLccFalseOrigin,  // a false-origin longitude apart from the centre: warned about
  kEqcParallels,    // Equidistant Conic: one or two standard parallels
  kTrueScale,       // Mercator, Equirectangular: the latitude of true scale
};

struct ParamStep {
  Step step;
  int slot;
  Kind kind;
  int key;
  int fallback1;
  int fallback2;
};

constexpr ParamStep param(int slot, Kind kind, int key, int fallback1 = 0, int fallback2 = 0) {
  return {Step::kParam, slot, kind, key, fallback1, fallback2};
}
constexpr ParamStep special(Step step) {
  return {step, 0, Kind::kRaw, 0, 0, 0};
}
// Slot 5 from ProjStdParallel1GeoKey when the file has it, the origin
// latitude keys then being a latitude of origin the host cannot hold; files
// without it give the latitude in the origin keys.
constexpr ParamStep trueScale(int key, int fallback1, int fallback2) {
  return {Step::kTrueScale, 5, Kind::kAngular, key, fallback1, fallback2};
}

constexpr Kind A = Kind::kAngular;
constexpr Kind L = Kind::kLinear;
constexpr Kind R = Kind::kRaw;

// The fallbacks follow what writers of each projection put in the other keys.
constexpr ParamStep kTransverseMercator[] = {
    param(2, R, ProjScaleAtNatOriginGeoKey, ProjScaleAtCenterGeoKey),
    param(4, A, ProjNatOriginLongGeoKey, ProjCenterLongGeoKey, ProjFalseOriginLongGeoKey),
    param(5, A, ProjNatOriginLatGeoKey, ProjFalseOriginLatGeoKey, ProjCenterLatGeoKey),
    param(6, L, ProjFalseEastingGeoKey, ProjCenterEastingGeoKey, ProjFalseOriginEastingGeoKey),
    param(7, L, ProjFalseNorthingGeoKey, ProjCenterNorthingGeoKey, ProjFalseOriginNorthingGeoKey),
};
// Both variants: writers put the false easting and northing in the false
// easting keys, and whether they belong to the centre is the variant's.
constexpr ParamStep kObliqueMercator[] = {
    param(2, R, ProjScaleAtCenterGeoKey, ProjScaleAtNatOriginGeoKey),
    param(4, A, ProjCenterLongGeoKey, ProjNatOriginLongGeoKey, ProjFalseOriginLongGeoKey),
    special(Step::kAzimuth),
    param(5, A, ProjCenterLatGeoKey, ProjNatOriginLatGeoKey, ProjFalseOriginLatGeoKey),
    param(6, L, ProjFalseEastingGeoKey, ProjCenterEastingGeoKey, ProjFalseOriginEastingGeoKey),
    param(7, L, ProjFalseNorthingGeoKey, ProjCenterNorthingGeoKey, ProjFalseOriginNorthingGeoKey),
};
constexpr ParamStep kMercator[] = {
    param(4, A, ProjNatOriginLongGeoKey, ProjCenterLongGeoKey, ProjFalseOriginLongGeoKey),
    trueScale(ProjNatOriginLatGeoKey, ProjCenterLatGeoKey, ProjFalseOriginLatGeoKey),
    param(6, L, ProjFalseEastingGeoKey, ProjCenterEastingGeoKey, ProjFalseOriginEastingGeoKey),
    param(7, L, ProjFalseNorthingGeoKey, ProjCenterNorthingGeoKey, ProjFalseOriginNorthingGeoKey),
};
constexpr ParamStep kLambertConformalConic[] = {
    param(2, A, ProjStdParallel1GeoKey),
    param(3, A, ProjStdParallel2GeoKey),
    param(4, A, ProjNatOriginLongGeoKey, ProjFalseOriginLongGeoKey, ProjCenterLongGeoKey),
    special(Step::kLccFalseOrigin),
    param(5, A, ProjFalseOriginLatGeoKey, ProjNatOriginLatGeoKey, ProjCenterLatGeoKey),
    param(6, L, ProjFalseOriginEastingGeoKey, ProjFalseEastingGeoKey, ProjCenterEastingGeoKey),
    param(7, L, ProjFalseOriginNorthingGeoKey, ProjFalseNorthingGeoKey, ProjCenterNorthingGeoKey),
};
constexpr ParamStep kAlbers[] = {
    param(2, A, ProjStdParallel1GeoKey),
    param(3, A, ProjStdParallel2GeoKey),
    param(4, A, ProjCenterLongGeoKey, ProjNatOriginLongGeoKey, ProjFalseOriginLongGeoKey),
    param(5, A, ProjNatOriginLatGeoKey, ProjCenterLatGeoKey, ProjFalseOriginLatGeoKey),
    param(6, L, ProjFalseEastingGeoKey, ProjFalseOriginEastingGeoKey, ProjCenterEastingGeoKey),
    param(7, L, ProjFalseNorthingGeoKey, ProjFalseOriginNorthingGeoKey, ProjCenterNorthingGeoKey),
};
constexpr ParamStep kEquidistantConic[] = {
    param(4, A, ProjCenterLongGeoKey, ProjNatOriginLongGeoKey, ProjFalseOriginLongGeoKey),
    param(5, A, ProjNatOriginLatGeoKey, ProjCenterLatGeoKey, ProjFalseOriginLatGeoKey),
    special(Step::kEqcParallels),
    param(6, L, ProjFalseEastingGeoKey, ProjCenterEastingGeoKey, ProjFalseOriginEastingGeoKey),
    param(7, L, ProjFalseNorthingGeoKey, ProjCenterNorthingGeoKey, ProjFalseOriginNorthingGeoKey),
};
constexpr ParamStep kPolarStereographic[] = {
    param(4, A, ProjStraightVertPoleLongGeoKey),
    param(5, A, ProjNatOriginLatGeoKey, ProjCenterLatGeoKey, ProjFalseOriginLatGeoKey),
    param(6, L, ProjFalseEastingGeoKey, ProjCenterEastingGeoKey, ProjFalseOriginEastingGeoKey),
    param(7, L, ProjFalseNorthingGeoKey, ProjCenterNorthingGeoKey, ProjFalseOriginNorthingGeoKey),
};
constexpr ParamStep kCentre[] = {
    param(4, A, ProjCenterLongGeoKey, ProjNatOriginLongGeoKey, ProjFalseOriginLongGeoKey),
    param(5, A, ProjCenterLatGeoKey, ProjNatOriginLatGeoKey, ProjFalseOriginLatGeoKey),
    param(6, L, ProjFalseEastingGeoKey, ProjCenterEastingGeoKey, ProjFalseOriginEastingGeoKey),
    param(7, L, ProjFalseNorthingGeoKey, ProjCenterNorthingGeoKey, ProjFalseOriginNorthingGeoKey),
};
constexpr ParamStep kEquirectangular[] = {
    param(4, A, ProjCenterLongGeoKey, ProjNatOriginLongGeoKey, ProjFalseOriginLongGeoKey),
    trueScale(ProjCenterLatGeoKey, ProjNatOriginLatGeoKey, ProjFalseOriginLatGeoKey),
    param(6, L, ProjFalseEastingGeoKey, ProjCenterEastingGeoKey, ProjFalseOriginEastingGeoKey),
    param(7, L, ProjFalseNorthingGeoKey, ProjCenterNorthingGeoKey, ProjFalseOriginNorthingGeoKey),
};
constexpr ParamStep kMeridian[] = {
    param(4, A, ProjCenterLongGeoKey, ProjNatOriginLongGeoKey, ProjFalseOriginLongGeoKey),
    param(6, L, ProjFalseEastingGeoKey, ProjCenterEastingGeoKey, ProjFalseOriginEastingGeoKey),
    param(7, L, ProjFalseNorthingGeoKey, ProjCenterNorthingGeoKey, ProjFalseOriginNorthingGeoKey),
};

struct Transformation {
  int coordTrans;  // ProjCoordTransGeoKey value
  int number;      // host projection number
  const ParamStep* steps;
  size_t stepCount;
};

template <size_t N>
constexpr Transformation row(int coordTrans, int number, const ParamStep (&steps)[N]) {
  return {coordTrans, number, steps, N};
}

constexpr Transformation kTransformations[] = {
    row(CT_TransverseMercator, 9, kTransverseMercator),
    row(CT_ObliqueMercator, 20, kObliqueMercator),
    row(CT_HotineObliqueMercatorAzimuthCenter, 20, kObliqueMercator),
    row(CT_Mercator, 5, kMercator),
    row(CT_LambertConfConic_2SP, 4, kLambertConformalConic),
    row(CT_LambertAzimEqualArea, 11, kCentre),
    row(CT_AlbersEqualArea, 3, kAlbers),
    row(CT_AzimuthalEquidistant, 12, kCentre),
    row(CT_EquidistantConic, 8, kEquidistantConic),
    row(CT_Stereographic, 10, kCentre),
    row(CT_PolarStereographic, 6, kPolarStereographic),
    row(CT_Equirectangular, 17, kEquirectangular),
    row(CT_CylindricalEqualArea, 55, kEquirectangular),
    row(CT_Gnomonic, 13, kCentre),
    row(CT_MillerCylindrical, 18, kMeridian),
    row(CT_Orthographic, 14, kCentre),
    row(CT_Polyconic, 7, kCentre),
    row(CT_Robinson, 24, kMeridian),
    row(CT_Sinusoidal, 16, kMeridian),
    row(CT_VanDerGrinten, 19, kMeridian),
};

const Transformation* transformationByCode(int coordTrans) {
  for (const Transformation& t : kTransformations)
    if (t.coordTrans == coordTrans) return &t;
  return nullptr;
}

// A unit code the tables or the registry can convert.
bool unitKnown(int unitCode, bool angular) {
  double factor = 0.0;
  const char* name = angular ? angularUnitsNameByCode(unitCode) : linearUnitsNameByCode(unitCode);
  return name != nullptr || registryFactor(unitCode, angular, &factor);
}

constexpr int kSlotAzimuth = 3;
constexpr int kNumberHotine = 20;

// The unit of the Oblique Mercator angles.
int azimuthUnit(KgtfKeySource keys) {
  return unitCodeGet(keys, GeogAzimuthUnitsGeoKey,
                     unitCodeGet(keys, GeogAngularUnitsGeoKey, kDecimalDegrees));
}

struct DefnFree {
  void operator()(GTIFDefn* defn) const { GTIFFreeDefn(defn); }
};
using DefnPtr = std::unique_ptr<GTIFDefn, DefnFree>;

// The keys as libgeotiff normalises them; null when it cannot.
DefnPtr defnGet(KgtfKeySource keys) {
  DefnPtr defn(GTIFAllocDefn());
  if (defn && !GTIFGetDefn(keys.gtif, defn.get())) defn.reset();
  return defn;
}

// The host record of a projected system's PROJ definition on the file's
// ellipsoid; null after a report naming what the host cannot hold.
Kprj_ProParameters* definitionToHost(const std::string& definition, const GTIFDefn& defn,
                                     KerrFrame& frame) {
  try {
    return GetProParametersFromDefinition(definition.c_str(), defn.SemiMajor, defn.SemiMinor);
  } catch (const std::exception& e) {
    frame.fail(__LINE__, "%s", e.what());
  } catch (...) {
    frame.fail(__LINE__, "Unknown exception");
  }
  return nullptr;
}

// libgeotiff prints the definition into a fixed buffer with "%.9f": a
// hostile value of 1e300 would overrun it. Anything a real system holds is
// far inside this bound.
bool defnPrintable(const GTIFDefn& defn) {
  constexpr double kBound = 1e9;
  auto fits = [](double v) { return std::isfinite(v) && std::fabs(v) <= kBound; };
  bool ok = fits(defn.SemiMajor) && fits(defn.SemiMinor) && fits(defn.UOMLengthInMeters) &&
            fits(defn.PMLongToGreenwich) && defn.nParms >= 0 && defn.nParms <= MAX_GTIF_PROJPARMS;
  for (int i = 0; ok && i < defn.nParms; ++i) ok = fits(defn.ProjParm[i]);
  for (int i = 0; ok && i < defn.TOWGS84Count && i < 7; ++i) ok = fits(defn.TOWGS84[i]);
  return ok;
}

// Transformations outside the table: libgeotiff states the keys as a PROJ
// definition, and the EPSG translator maps its conversion exactly or refuses
// it, naming the method.
Kprj_ProParameters* definitionRead(KgtfKeySource keys, int coordTrans, KerrFrame& frame) {
  DefnPtr defn = defnGet(keys);
  char* proj4 = defn && defn->Model == ModelTypeProjected && defnPrintable(*defn)
                    ? GTIFGetProj4Defn(defn.get())
                    : nullptr;
  if (proj4 == nullptr) {
    const char* name = GTIFValueName(ProjCoordTransGeoKey, coordTrans);
    frame.fail(__LINE__, "The transformation %s (%d) cannot be read from the keys",
               name != nullptr ? name : "?", coordTrans);
    return nullptr;
  }
  std::string definition = std::string(proj4) + " +type=crs";
  GTIFFreeMemory(proj4);
  return definitionToHost(definition, *defn, frame);
}

// Replaces the record's parameters with the host form PROJ gives for
// `definition` (a projected system in meters, without its ellipsoid) on the
// file's ellipsoid. False after a report naming what the host cannot hold.
bool definitionApply(KgtfKeySource keys, const char* what, const std::string& definition,
                     Kprj_ProParameters* pro, KerrFrame& frame) {
  DefnPtr defn = defnGet(keys);
  if (!defn || !(defn->SemiMinor > 0.0)) {
    frame.fail(__LINE__, "%s without an ellipsoid", what);
    return false;
  }
  char axes[128];
  std::snprintf(axes, sizeof axes, " +a=%.17g +b=%.17g +units=m +type=crs", defn->SemiMajor,
                defn->SemiMinor);
  Kprj_ProParameters* host = definitionToHost(definition + axes, *defn, frame);
  if (host == nullptr) return false;
  std::copy(host->parameters, host->parameters + KPRJ_PARAMETER_COUNT, pro->parameters);
  kprj_ProParametersFree(&host, nullptr);
  return true;
}

std::string numbers(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string numbers(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

constexpr double kDegrees = 180.0 / M_PI;

// The host's Hotine is centre-based (variant B) with the grid angle of its
// azimuth. PROJ takes variant A there on the file's ellipsoid, and a grid
// angle of another value is refused; a file without one means the azimuth.
bool hotineResolve(KgtfKeySource keys, int coordTrans, Kprj_ProParameters* pro, KerrFrame& frame) {
  const double* p = pro->parameters;
  double grid = p[kSlotAzimuth];
  getAngularParam(keys, ProjRectifiedGridAngleGeoKey, azimuthUnit(keys), &grid);
  std::string definition = numbers(
      "+proj=omerc%s +lat_0=%.17g +lonc=%.17g +alpha=%.17g +gamma=%.17g +k=%.17g +x_0=%.17g "
      "+y_0=%.17g",
      coordTrans == CT_ObliqueMercator ? " +no_uoff" : "", p[5] * kDegrees, p[4] * kDegrees,
      p[kSlotAzimuth] * kDegrees, grid * kDegrees, p[2], p[6], p[7]);
  return definitionApply(keys, "Hotine Oblique Mercator", definition, pro, frame);
}

// Mercator and Polar Stereographic with a scale at the natural origin
// (variant A; a Mercator's standard parallel rules over it): the table reads
// the forms with a latitude of true scale, and PROJ converts these exactly
// or refuses them.
bool scaledResolve(KgtfKeySource keys, int coordTrans, Kprj_ProParameters* pro, KerrFrame& frame) {
  double scale = 1.0;
  bool mercator = coordTrans == CT_Mercator;
  if ((!mercator && coordTrans != CT_PolarStereographic) ||
      !getRawParam(keys, ProjScaleAtNatOriginGeoKey, 0, &scale) || scale == 1.0 ||
      (mercator && GeoKeyPresent(keys, ProjStdParallel1GeoKey)))
    return true;
  const double* p = pro->parameters;
  std::string definition =
      numbers("+proj=%s +lat_0=%.17g +lon_0=%.17g +k=%.17g +x_0=%.17g +y_0=%.17g",
              mercator ? "merc" : "stere", mercator ? 0.0 : p[5] * kDegrees, p[4] * kDegrees, scale,
              p[6], p[7]);
  return definitionApply(keys, mercator ? "Mercator" : "Polar Stereographic", definition, pro,
                         frame);
}

// Parameter slots of the records built here.
constexpr int kSlotStdParallel1 = 2;
constexpr int kSlotStdParallel2 = 3;
constexpr int kSlotCentralMeridian = 4;
constexpr int kSlotOriginLatitude = 5;
constexpr int kSlotTwoParallels = 8;

// Reads the transformation's parameters into `pro`. False when a parameter
// is missing (reading stops there); warnings go into the frame's slot.
class ParamReader {
 public:
  ParamReader(KgtfKeySource keys, Kprj_ProParameters* pro, KerrFrame& frame, bool callerSlot)
      : keys_(keys), pro_(pro), frame_(frame), callerSlot_(callerSlot) {
    linearUnit_ = unitCodeGet(keys, ProjLinearUnitsGeoKey, kMeters);
    angularUnit_ = unitCodeGet(keys, GeogAngularUnitsGeoKey, kDecimalDegrees);
  }

  bool run(const Transformation& t) {
    for (size_t i = 0; i < t.stepCount; ++i)
      if (!runStep(t.steps[i])) return false;
    return true;
  }

 private:
  bool read(int slot, Kind kind, int key, int fallback1 = 0, int fallback2 = 0) {
    KgtfParamGetter getter = kind == Kind::kRaw       ? getRawParam
                             : kind == Kind::kAngular ? getAngularParam
                                                      : getLinearParam;
    int unit = kind == Kind::kLinear ? linearUnit_ : angularUnit_;
    return getParamWBU(key, keys_, getter, unit, &pro_->parameters[slot], fallback1, fallback2,
                       0) != 0;
  }

  bool runStep(const ParamStep& s) {
    double* p = pro_->parameters;
    switch (s.step) {
      case Step::kParam:
        return read(s.slot, s.kind, s.key, s.fallback1, s.fallback2);
      case Step::kAzimuth:
        return getParamWBU(ProjAzimuthAngleGeoKey, keys_, getAngularParam, azimuthUnit(keys_),
                           &p[kSlotAzimuth], 0) != 0;
      case Step::kLccFalseOrigin: {
        double longitude = 0.0;
        if (getAngularParam(keys_, ProjFalseOriginLongGeoKey, angularUnit_, &longitude) &&
            longitude != 0.0 && longitude != p[kSlotCentralMeridian])
          ignored(ProjFalseOriginLongGeoKey, longitude, "0.0");
        return true;
      }
      case Step::kEqcParallels:
        // One standard parallel: the host takes the latitude of origin.
        if (read(kSlotStdParallel1, Kind::kAngular, ProjStdParallel1GeoKey)) {
          p[kSlotTwoParallels] = 1.0;
          return read(kSlotStdParallel2, Kind::kAngular, ProjStdParallel2GeoKey);
        }
        p[kSlotTwoParallels] = 0.0;
        p[kSlotStdParallel1] = p[kSlotOriginLatitude];
        return true;
      case Step::kTrueScale: {
        if (!getAngularParam(keys_, ProjStdParallel1GeoKey, angularUnit_, &p[s.slot]))
          return read(s.slot, s.kind, s.key, s.fallback1, s.fallback2);
        double origin = 0.0;
        for (int key : {s.key, s.fallback1, s.fallback2}) {
          if (!getRawParam(keys_, key, 0, &origin)) continue;
          if (origin != 0.0) ignored(key, origin, "0.0");
          break;
        }
        return true;
      }
    }
    return false;
  }

  // A key value the host projection cannot hold: the caller hears of it.
  void ignored(int key, double value, const char* assumed) {
    const char* name = GTIFKeyName(static_cast<geokey_t>(key));
    if (callerSlot_)
      frame_.report(__LINE__, KERR_WARNING, "%s key value (%f) ignored; assuming %s", name, value,
                    assumed);
    else
      frame_.warn(__LINE__, KERR_WARNING, "%s key value (%f) ignored; assuming %s", name, value,
                  assumed);
  }

  KgtfKeySource keys_;
  Kprj_ProParameters* pro_;
  KerrFrame& frame_;
  bool callerSlot_;
  int linearUnit_;
  int angularUnit_;
};

}  // namespace

bool errorSuppressionGet() {
  const KtifPreference& pref = ktifPreferences[KTIF_PREF_ERR_SUPPRESS];
  char* value =
      kpmg_GetEnumPreference(pref.group, pref.key, pref.defaultText, pref.values, nullptr);
  if (value == pref.defaultText) return true;
  bool on = ktxt_Text_strcmp(value, "Yes") == 0;
  kmsc_HeapFree(value);
  return on;
}

int getRawParam(KgtfKeySource keys, int key, int /*unitCode*/, double* destination) {
  if (destination == nullptr) return 0;
  return doubleKeyGet(keys, key, destination) ? 1 : 0;
}

int getAngularParam(KgtfKeySource keys, int key, int unitCode, double* destination) {
  if (destination == nullptr) return 0;
  const char* name = angularUnitsNameByCode(unitCode);
  if (name == nullptr) return registryParam(keys, key, unitCode, true, destination);
  return convertedParam(keys, key, name, "radians", destination);
}

int getLinearParam(KgtfKeySource keys, int key, int unitCode, double* destination) {
  if (destination == nullptr) return 0;
  const char* name = linearUnitsNameByCode(unitCode);
  if (name == nullptr) return registryParam(keys, key, unitCode, false, destination);
  return convertedParam(keys, key, name, "meters", destination);
}

int getParamWBU(int key, KgtfKeySource keys, KgtfParamGetter getter, int unitCode,
                double* destination, ...) {
  KerrFrame frame(keys.label("getParamWBU"), nullptr, KERR_PRINT_NOVSL);
  const KtifPreference& pref = ktifPreferences[KTIF_PREF_ERR_SUPPRESS];
  char* value =
      kpmg_GetEnumPreference(pref.group, pref.key, pref.defaultText, nullptr, frame.slot());
  if (frame.hasReport()) {
    frame.fail(__LINE__, "TIFFWarning failed");
    frame.showAndDrop();
    return 0;
  }
  bool suppress = value == pref.defaultText || ktxt_Text_strcmp(value, "Yes") == 0;
  if (value != pref.defaultText) kmsc_HeapFree(value);
  if (getter == nullptr || destination == nullptr) return 0;

  int result = getter(keys, key, unitCode, destination);
  if (result) return result;
  const char* keyName = GTIFKeyName(static_cast<geokey_t>(key));
  if (!suppress) frame.warn(__LINE__, KERR_ERROR, "%s key not found", keyName);

  va_list fallbacks;
  va_start(fallbacks, destination);
  for (int fallback = va_arg(fallbacks, int); fallback != 0; fallback = va_arg(fallbacks, int)) {
    result = getter(keys, fallback, unitCode, destination);
    if (!result) continue;
    if (!suppress)
      frame.warn(__LINE__, KERR_WARNING, "Using %s value as a replacement for missing %s",
                 GTIFKeyName(static_cast<geokey_t>(fallback)), keyName);
    break;
  }
  va_end(fallbacks);
  return result;
}

Kprj_ProParameters* kgtf_CoordTransRead(KgtfKeySource keys, Kerr_Report** err) {
  KerrFrame frame(keys.label("kgtf_CoordTransRead"), err, KERR_PRINT_NOVSL);
  bool suppress = errorSuppressionGet();
  uint16_t coordTrans = 0;
  if (!GeoKeyShortGet(keys, ProjCoordTransGeoKey, &coordTrans)) {
    frame.fail(__LINE__, "ProjCoordTransGeoKey not found");
    return nullptr;
  }
  for (bool angular : {false, true}) {
    int unit = unitCodeGet(keys, angular ? GeogAngularUnitsGeoKey : ProjLinearUnitsGeoKey,
                           angular ? kDecimalDegrees : kMeters);
    if (unitKnown(unit, angular)) continue;
    frame.fail(__LINE__, "Unknown %s unit code %d", angular ? "angular" : "linear", unit);
    return nullptr;
  }
  const Transformation* t = transformationByCode(coordTrans);
  if (t == nullptr) return definitionRead(keys, coordTrans, frame);
  Kprj_ProParameters* pro = kgtf_ProParametersCreate(t->number, 0);
  if (pro == nullptr) {
    frame.calleeFailed(__LINE__, "kgtf_ProParametersCreate");
    return nullptr;
  }

  ParamReader reader(keys, pro, frame, err != nullptr);
  bool complete = reader.run(*t);
  if (!complete && !suppress) frame.calleeFailed(__LINE__, "getParamWBU");
  bool resolved =
      !complete || (t->number == kNumberHotine ? hotineResolve(keys, coordTrans, pro, frame)
                                               : scaledResolve(keys, coordTrans, pro, frame));
  if (!resolved) kprj_ProParametersFree(&pro, nullptr);
  // A caller without a slot cannot learn that the record is incomplete, so it
  // gets none. (Warnings were shown already and left no report.)
  if (frame.hasReport() && err == nullptr) kprj_ProParametersFree(&pro, nullptr);
  return pro;
}
