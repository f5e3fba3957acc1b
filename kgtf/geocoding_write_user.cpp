// User-defined projected systems: a host projection record spelt out as
// ProjCoordTransGeoKey and its parameter keys, one table row per projection.
#include <cstdint>
#include <string>

#include "geocoding.h"
#include "tables.h"

namespace {

constexpr int kNumberEquidistantConic = 8;
constexpr int kNumberHotine = 20;
constexpr int kNumberGaussKruger = 36;

// How a parameter key gets its value: an angle (radians in the record,
// written in degrees), a length (meters) or a scale as stored.
enum class Kind { kAngle, kLength, kScale };

struct KeyParam {
  Kind kind;
  int key;
  int slot;  // parameter index
};

constexpr KeyParam A(int key, int slot) {
  return {Kind::kAngle, key, slot};
}
constexpr KeyParam L(int key, int slot) {
  return {Kind::kLength, key, slot};
}
constexpr KeyParam S(int key, int slot) {
  return {Kind::kScale, key, slot};
}

constexpr KeyParam kAlbers[] = {A(ProjStdParallel1GeoKey, 2), A(ProjStdParallel2GeoKey, 3),
                                A(ProjCenterLongGeoKey, 4),   A(ProjNatOriginLatGeoKey, 5),
                                L(ProjFalseEastingGeoKey, 6), L(ProjFalseNorthingGeoKey, 7)};
constexpr KeyParam kLambert[] = {
    A(ProjStdParallel1GeoKey, 2),       A(ProjStdParallel2GeoKey, 3),
    A(ProjNatOriginLongGeoKey, 4),      A(ProjFalseOriginLongGeoKey, 4),
    A(ProjFalseOriginLatGeoKey, 5),     L(ProjFalseOriginEastingGeoKey, 6),
    L(ProjFalseOriginNorthingGeoKey, 7)};
// Mercator, Equirectangular and Cylindrical Equal Area hold a latitude of
// true scale: a standard parallel to other readers, never an origin.
constexpr KeyParam kMercator[] = {A(ProjNatOriginLongGeoKey, 4), A(ProjStdParallel1GeoKey, 5),
                                  L(ProjFalseEastingGeoKey, 6), L(ProjFalseNorthingGeoKey, 7)};
constexpr KeyParam kEquirectangular[] = {A(ProjCenterLongGeoKey, 4), A(ProjStdParallel1GeoKey, 5),
                                         L(ProjFalseEastingGeoKey, 6),
                                         L(ProjFalseNorthingGeoKey, 7)};
constexpr KeyParam kPolarStereographic[] = {
    A(ProjStraightVertPoleLongGeoKey, 4), A(ProjNatOriginLatGeoKey, 5),
    L(ProjFalseEastingGeoKey, 6), L(ProjFalseNorthingGeoKey, 7)};
constexpr KeyParam kCentre[] = {A(ProjCenterLongGeoKey, 4), A(ProjCenterLatGeoKey, 5),
                                L(ProjFalseEastingGeoKey, 6), L(ProjFalseNorthingGeoKey, 7)};
constexpr KeyParam kEquidistantConic[] = {A(ProjCenterLongGeoKey, 4), A(ProjNatOriginLatGeoKey, 5),
                                          L(ProjFalseEastingGeoKey, 6),
                                          L(ProjFalseNorthingGeoKey, 7)};
constexpr KeyParam kEquidistantConicParallels[] = {A(ProjStdParallel1GeoKey, 2),
                                                   A(ProjStdParallel2GeoKey, 3)};
constexpr KeyParam kTransverseMercator[] = {
    S(ProjScaleAtNatOriginGeoKey, 2), A(ProjNatOriginLongGeoKey, 4), A(ProjNatOriginLatGeoKey, 5),
    L(ProjFalseEastingGeoKey, 6), L(ProjFalseNorthingGeoKey, 7)};
constexpr KeyParam kMeridian[] = {A(ProjCenterLongGeoKey, 4), L(ProjFalseEastingGeoKey, 6),
                                  L(ProjFalseNorthingGeoKey, 7)};
// The host's Hotine is centre-based with the grid angle of its azimuth:
// variant B, spelt out whole so that no reader assumes another grid angle.
constexpr KeyParam kHotine[] = {S(ProjScaleAtCenterGeoKey, 2),     A(ProjCenterLatGeoKey, 5),
                                L(ProjFalseEastingGeoKey, 6),      L(ProjFalseNorthingGeoKey, 7),
                                A(ProjAzimuthAngleGeoKey, 3),      A(ProjCenterLongGeoKey, 4),
                                A(ProjRectifiedGridAngleGeoKey, 3)};
constexpr KeyParam kGaussKruger[] = {A(ProjNatOriginLongGeoKey, 4), A(ProjNatOriginLatGeoKey, 5),
                                     L(ProjFalseEastingGeoKey, 6), L(ProjFalseNorthingGeoKey, 7)};

struct Row {
  int number;      // host projection number
  int coordTrans;  // ProjCoordTransGeoKey value
  const KeyParam* keys;
  size_t keyCount;
};

template <size_t N>
constexpr Row row(int number, int coordTrans, const KeyParam (&keys)[N]) {
  return {number, coordTrans, keys, N};
}

constexpr Row kRows[] = {
    row(3, CT_AlbersEqualArea, kAlbers),
    row(4, CT_LambertConfConic_2SP, kLambert),
    row(5, CT_Mercator, kMercator),
    row(6, CT_PolarStereographic, kPolarStereographic),
    row(7, CT_Polyconic, kCentre),
    row(kNumberEquidistantConic, CT_EquidistantConic, kEquidistantConic),
    row(9, CT_TransverseMercator, kTransverseMercator),
    row(10, CT_Stereographic, kCentre),
    row(11, CT_LambertAzimEqualArea, kCentre),
    row(12, CT_AzimuthalEquidistant, kCentre),
    row(13, CT_Gnomonic, kCentre),
    row(14, CT_Orthographic, kCentre),
    row(16, CT_Sinusoidal, kMeridian),
    row(17, CT_Equirectangular, kEquirectangular),
    row(18, CT_MillerCylindrical, kMeridian),
    row(19, CT_VanDerGrinten, kMeridian),
    row(kNumberHotine, CT_HotineObliqueMercatorAzimuthCenter, kHotine),
    row(24, CT_Robinson, kMeridian),
    row(kNumberGaussKruger, CT_TransverseMercator, kGaussKruger),
    row(55, CT_CylindricalEqualArea, kMercator),
};

const Row* rowByNumber(int number) {
  for (const Row& r : kRows)
    if (r.number == number) return &r;
  return nullptr;
}

void keysSet(GTIF* gtif, const KeyParam* keys, size_t count, const double* p) {
  for (size_t i = 0; i < count; ++i) {
    const KeyParam& k = keys[i];
    const auto key = static_cast<geokey_t>(k.key);
    const int slot = k.slot;
    switch (k.kind) {
      case Kind::kAngle:
        setAngularParam(gtif, k.key, kDecimalDegrees, p[slot]);
        break;
      case Kind::kLength:
        setLinearParam(gtif, k.key, kMeters, p[slot]);
        break;
      case Kind::kScale:
        GTIFKeySet(gtif, key, TYPE_DOUBLE, 1, p[slot]);
        break;
    }
  }
}

}  // namespace

int PCSWriteUserDefined(GTIF* gtif, const Kprj_ProParameters* pro, Kerr_Report** err) {
  static const char* kLabel = "PCSWriteUserDefined";
  KerrFrame frame(kLabel, err, KERR_PRINT_NOVSL);
  if (gtif == nullptr || pro == nullptr || pro->parameters == nullptr)
    return frame.fail(__LINE__, "Args"), 0;
  const double* p = pro->parameters;
  shortKeySet(gtif, ProjectedCSTypeGeoKey, kUserDefined);
  if (const Row* r = pro->type == KPRJ_PROJECTION_INTERNAL ? rowByNumber(pro->number) : nullptr) {
    bool gaussKruger = r->number == kNumberGaussKruger;
    // Gauss-Kruger zones carry their zone in the projection code; a zone that
    // cannot make a 16-bit code leaves the projection user-defined.
    int64_t zoneCode = 16200 + int64_t(pro->zone);
    int projection = gaussKruger && zoneCode > 0 && zoneCode < kUserDefined
                         ? static_cast<int>(zoneCode)
                         : kUserDefined;
    shortKeySet(gtif, ProjectionGeoKey, projection);
    shortKeySet(gtif, ProjLinearUnitsGeoKey, kMeters);
    // A Hotine without its azimuth (parameter 12) cannot be spelt out.
    bool hotine = r->number == kNumberHotine;
    if (!hotine || p[12] > 0.0) {
      if (hotine) shortKeySet(gtif, GeogAzimuthUnitsGeoKey, kDecimalDegrees);
      shortKeySet(gtif, ProjCoordTransGeoKey, r->coordTrans);
      keysSet(gtif, r->keys, r->keyCount, p);
      if (r->number == kNumberEquidistantConic && p[8] > 0.0)
        keysSet(gtif, kEquidistantConicParallels, 2, p);
    }
  }
  Kerr_Report* dropped = nullptr;
  GCSWrite(gtif, pro, &dropped);
  kerr_DeleteErrorReportEx(&dropped);
  citationKeySet(gtif, PCSCitationGeoKey,
                 std::string("Projection = ") + (pro->name != nullptr ? pro->name : "?"));
  return 1;
}
