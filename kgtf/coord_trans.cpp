// User-defined coordinate transformations: ProjCoordTransGeoKey and its
// parameter keys to a host projection record, with the fallback keys that
// writers use interchangeably and the unit conversions of each parameter.
#include <cstdarg>
#include <cstddef>

#include "citation.h"
#include "geocoding.h"
#include "kcvt.h"
#include "kmsc.h"
#include "kpmg.h"
#include "ktif_prefs.h"
#include "ktxt.h"
#include "tables.h"

namespace {

// Unit codes assumed when the file names none.

// One key that must hold a double; false when it is absent or of another
// type, so a hostile directory never copies a wider or narrower value.
bool doubleKeyGet(GTIF* gtif, int key, double* value) {
  if (gtif == nullptr) return false;
  int size = 0;
  tagtype_t type = TYPE_UNKNOWN;
  if (GTIFKeyInfo(gtif, static_cast<geokey_t>(key), &size, &type) < 1) return false;
  if (type != TYPE_DOUBLE || size != static_cast<int>(sizeof(double))) return false;
  return GTIFKeyGet(gtif, static_cast<geokey_t>(key), value, 0, 1) == 1;
}

// A unit code from a SHORT key, or the default.
int unitCodeGet(GTIF* gtif, int key, int fallback) {
  uint16_t value = 0;
  return GeoKeyShortGet(gtif, static_cast<geokey_t>(key), &value) ? value : fallback;
}

// Reads a key in `fromUnits` and converts it into `toUnits`.
int convertedParam(GTIF* gtif, int key, const char* fromUnits, const char* toUnits,
                   double* destination) {
  double scratch = 0.0;
  if (!doubleKeyGet(gtif, key, &scratch) || fromUnits == nullptr) return 0;
  // The conversion's own report is not looked at: a failed conversion leaves
  // the destination as it was, which is what the record then holds.
  Kerr_Report* own = nullptr;
  kcvt_UnitsConvertByName(&scratch, fromUnits, destination, toUnits, 1, &own);
  kerr_DeleteErrorReportEx(&own);
  return 1;
}

enum class Kind { kRaw, kAngular, kLinear };

// What a step of a transformation reads.
enum class Step {
  kParam,           // one parameter with its fallbacks
  kAzimuth,         // the Oblique Mercator azimuth, in its own unit when named
  kMercatorScale,   // a scale the host's Mercator cannot hold: warned about
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
constexpr ParamStep kObliqueMercator[] = {
    param(2, R, ProjScaleAtCenterGeoKey, ProjScaleAtNatOriginGeoKey),
    param(4, A, ProjCenterLongGeoKey, ProjNatOriginLongGeoKey, ProjFalseOriginLongGeoKey),
    special(Step::kAzimuth),
    param(5, A, ProjCenterLatGeoKey, ProjNatOriginLatGeoKey, ProjFalseOriginLatGeoKey),
    param(6, L, ProjCenterEastingGeoKey, ProjFalseEastingGeoKey, ProjFalseOriginEastingGeoKey),
    param(7, L, ProjCenterNorthingGeoKey, ProjFalseNorthingGeoKey, ProjFalseOriginNorthingGeoKey),
};
constexpr ParamStep kMercator[] = {
    param(4, A, ProjNatOriginLongGeoKey, ProjCenterLongGeoKey, ProjFalseOriginLongGeoKey),
    trueScale(ProjNatOriginLatGeoKey, ProjCenterLatGeoKey, ProjFalseOriginLatGeoKey),
    special(Step::kMercatorScale),
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
    row(CT_Mercator, 5, kMercator),
    row(CT_LambertConfConic_2SP, 4, kLambertConformalConic),
    row(CT_LambertAzimEqualArea, 11, kCentre),
    row(CT_AlbersEqualArea, 3, kAlbers),
    row(CT_AzimuthalEquidistant, 12, kCentre),
    row(CT_EquidistantConic, 8, kEquidistantConic),
    row(CT_Stereographic, 10, kCentre),
    row(CT_PolarStereographic, 6, kPolarStereographic),
    row(CT_Equirectangular, 17, kEquirectangular),
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

// Parameter slots of the records built here.
constexpr int kSlotStdParallel1 = 2;
constexpr int kSlotStdParallel2 = 3;
constexpr int kSlotAzimuth = 3;
constexpr int kSlotCentralMeridian = 4;
constexpr int kSlotOriginLatitude = 5;
constexpr int kSlotTwoParallels = 8;
constexpr int kSlotObliqueConstant = 12;

// Reads the transformation's parameters into `pro`. False when a parameter
// is missing (reading stops there); warnings go into the frame's slot.
class ParamReader {
 public:
  ParamReader(GTIF* gtif, Kprj_ProParameters* pro, KerrFrame& frame, bool callerSlot)
      : gtif_(gtif), pro_(pro), frame_(frame), callerSlot_(callerSlot) {
    linearUnit_ = unitCodeGet(gtif, ProjLinearUnitsGeoKey, kMeters);
    angularUnit_ = unitCodeGet(gtif, GeogAngularUnitsGeoKey, kDecimalDegrees);
  }

  bool run(const Transformation& t) {
    if (t.coordTrans == CT_ObliqueMercator) pro_->parameters[kSlotObliqueConstant] = 1.0;
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
    return getParamWBU(key, gtif_, getter, unit, &pro_->parameters[slot], fallback1, fallback2,
                       0) != 0;
  }

  bool runStep(const ParamStep& s) {
    double* p = pro_->parameters;
    switch (s.step) {
      case Step::kParam:
        return read(s.slot, s.kind, s.key, s.fallback1, s.fallback2);
      case Step::kAzimuth: {
        int unit = unitCodeGet(gtif_, GeogAzimuthUnitsGeoKey, angularUnit_);
        return getParamWBU(ProjAzimuthAngleGeoKey, gtif_, getAngularParam, unit, &p[kSlotAzimuth],
                           0) != 0;
      }
      case Step::kMercatorScale: {
        double scale = 1.0;
        if (getRawParam(gtif_, ProjScaleAtNatOriginGeoKey, 0, &scale) && scale != 1.0)
          ignored(ProjScaleAtNatOriginGeoKey, scale, "1.0");
        return true;
      }
      case Step::kLccFalseOrigin: {
        double longitude = 0.0;
        if (getAngularParam(gtif_, ProjFalseOriginLongGeoKey, angularUnit_, &longitude) &&
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
        if (!getAngularParam(gtif_, ProjStdParallel1GeoKey, angularUnit_, &p[s.slot]))
          return read(s.slot, s.kind, s.key, s.fallback1, s.fallback2);
        double origin = 0.0;
        for (int key : {s.key, s.fallback1, s.fallback2}) {
          if (!getRawParam(gtif_, key, 0, &origin)) continue;
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

  GTIF* gtif_;
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

int getRawParam(GTIF* gtif, int key, int /*unitCode*/, double* destination) {
  if (destination == nullptr) return 0;
  return doubleKeyGet(gtif, key, destination) ? 1 : 0;
}

int getAngularParam(GTIF* gtif, int key, int unitCode, double* destination) {
  if (destination == nullptr) return 0;
  return convertedParam(gtif, key, angularUnitsNameByCode(unitCode), "radians", destination);
}

int getLinearParam(GTIF* gtif, int key, int unitCode, double* destination) {
  if (destination == nullptr) return 0;
  return convertedParam(gtif, key, linearUnitsNameByCode(unitCode), "meters", destination);
}

int getParamWBU(int key, GTIF* gtif, KgtfParamGetter getter, int unitCode, double* destination,
                ...) {
  static const char* kLabel = "getParamWBU";
  KerrFrame frame(kLabel, nullptr, KERR_PRINT_NOVSL);
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

  int result = getter(gtif, key, unitCode, destination);
  if (result) return result;
  const char* keyName = GTIFKeyName(static_cast<geokey_t>(key));
  if (!suppress) frame.warn(__LINE__, KERR_ERROR, "%s key not found", keyName);

  va_list fallbacks;
  va_start(fallbacks, destination);
  for (int fallback = va_arg(fallbacks, int); fallback != 0; fallback = va_arg(fallbacks, int)) {
    result = getter(gtif, fallback, unitCode, destination);
    if (!result) continue;
    if (!suppress)
      frame.warn(__LINE__, KERR_WARNING, "Using %s value as a replacement for missing %s",
                 GTIFKeyName(static_cast<geokey_t>(fallback)), keyName);
    break;
  }
  va_end(fallbacks);
  return result;
}

Kprj_ProParameters* kgtf_CoordTransRead(GTIF* gtif, Kerr_Report** err) {
  static const char* kLabel = "kgtf_CoordTransRead";
  KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
  bool suppress = errorSuppressionGet();
  uint16_t coordTrans = 0;
  if (!GeoKeyShortGet(gtif, ProjCoordTransGeoKey, &coordTrans)) {
    frame.fail(__LINE__, "ProjCoordTransGeoKey not found");
    return nullptr;
  }
  const Transformation* t = transformationByCode(coordTrans);
  if (t == nullptr) return nullptr;  // the projection reader reports it
  Kprj_ProParameters* pro = kgtf_ProParametersCreate(t->number, 0);
  if (pro == nullptr) {
    frame.calleeFailed(__LINE__, "kgtf_ProParametersCreate");
    return nullptr;
  }

  ParamReader reader(gtif, pro, frame, err != nullptr);
  if (!reader.run(*t) && !suppress) frame.calleeFailed(__LINE__, "getParamWBU");
  // A caller without a slot cannot learn that the record is incomplete, so it
  // gets none. (Warnings were shown already and left no report.)
  if (frame.hasReport() && err == nullptr) kprj_ProParametersFree(&pro, nullptr);
  return pro;
}
