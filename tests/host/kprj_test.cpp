#include <gtest/gtest.h>

#include <limits>
#include <tuple>
#include <utility>
#include <vector>

#include "host_owners.h"
#include "kint.h"
#include "kprj.h"
#include "kprj_legacy.h"
#include "test_support.h"

namespace {

// The names the library's tables use are checked against these tables in
// the GeoTIFF tests (Tables.EveryNameIsKnownToTheHost).
using Spheroid = Owned<Kprj_Spheroid, kprj_SpheroidFree>;
using WideProjection = Owned<_kprj_MapProjectionEx, kprj_ProjectionFreeU>;
using Elevation = Owned<_kprj_ElevationInfo, kprj_ElevationInfoFree>;
using WideElevation = Owned<_kprj_ElevationInfo, kprj_ElevationInfoFreeU>;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Kprj, SpheroidAxesFollowTheRegistryAndNameOnlyCloseMatches) {
  // Defining parameters as the EPSG registry holds them: name, code, a, and
  // 1/f or (when 1/f is 0) b. The axes name the spheroid again.
  const std::tuple<const char*, int32_t, double, double, double> registry[] = {
      {"WGS 84", 7030, 6378137.0, 298.257223563, 0},
      {"Clarke 1866", 7008, 6378206.4, 0, 6356583.8},
      {"GRS 1980", 7019, 6378137.0, 298.257222101, 0},
      // Given in German legal metres (1.0000135965 m) by the registry.
      {"Bessel (Namibia)", 7046, 6377397.155 * 1.0000135965, 299.1528128, 0}};
  Spheroid spheroid(kprj_SpheroidCreate(nullptr));
  for (const auto& [name, code, a, inverseFlattening, givenB] : registry) {
    double b = inverseFlattening != 0 ? a * (1.0 - 1.0 / inverseFlattening) : givenB;
    ASSERT_EQ(kprj_SpheroidByName(nullptr, name, spheroid.get(), nullptr), 1);
    EXPECT_EQ(spheroid->epsgCode, code);
    EXPECT_NEAR(spheroid->semiMajor, a, 1e-6) << name;
    EXPECT_NEAR(spheroid->semiMinor, b, 1e-6) << name;
    // WGS 84 and GRS 1980 differ by about 0.1 mm in b: the tolerance tells them apart.
    // Axes a little off (here by 0.05 mm) still name it.
    ASSERT_EQ(kprj_SpheroidByAxes(a + 5e-5, b, spheroid.get(), nullptr), 1);
    EXPECT_STREQ(spheroid->name, name);
  }
  ASSERT_EQ(kprj_SpheroidByAxes(6378000.0, 6357000.0, spheroid.get(), nullptr), 1);
  EXPECT_STREQ(spheroid->name, "");

  // Every table row is found again from its own axes, first row of a figure winning.
  for (int32_t i = 0; const Kprj_SpheroidEntry* entry = kprj_SpheroidEntryByIndex(i); ++i) {
    ASSERT_EQ(kprj_SpheroidByAxes(entry->semiMajor, entry->semiMinor, spheroid.get(), nullptr), 1);
    const Kprj_SpheroidEntry* found = kprj_SpheroidEntryByName(spheroid->name);
    ASSERT_NE(found, nullptr) << entry->name;
    EXPECT_LE(found - kprj_SpheroidEntryByIndex(0), i);
    EXPECT_NEAR(found->semiMinor, entry->semiMinor, 1e-4);
  }

  // Refused axes leave the record as it was.
  kprj_SpheroidByName(nullptr, "Airy", spheroid.get(), nullptr);
  for (const auto& [a, b] : {std::pair{kNaN, 1.0}, std::pair{6.0e6, 6.1e6}}) {
    EXPECT_EQ(kprj_SpheroidByAxes(a, b, spheroid.get(), nullptr), 0);
    EXPECT_EQ(spheroid->semiMajor, 6377563.396);
  }
}

TEST(Kprj, DatumLookupsAreCaseBlindFirstMatchAndChecked) {
  Spheroid spheroid(kprj_SpheroidCreate(nullptr));
  Kprj_Datum* datum = spheroid->datum;
  // Spheroid, datum, the name stored (null: refused) and its code.
  const std::tuple<const char*, const char*, const char*, int32_t> cases[] = {
      {"wgs 84", "wgs 84", "WGS 84", 6326},  // the real datum before the unspecified one
      {"Modified Airy", "Ireland 1965", "Ireland 1965", 6299},  // an alias of its spheroid
      {"Clarke 1866", "Undefined", "Undefined", 0},
      {"Bessel", "Clarke 1866", nullptr, 0},
      {"WGS 84", "Nowhere 2000", nullptr, 0},
      {"Nothing", "WGS 84", nullptr, 0}};
  for (const auto& [spheroidName, datumName, stored, code] : cases) {
    kprj_DatumByName(nullptr, "GRS 1980", "NAD83", datum, nullptr);
    EXPECT_EQ(kprj_DatumByName(kint_GetInit(), spheroidName, datumName, datum, nullptr),
              stored ? 1 : 0)
        << datumName;
    EXPECT_STREQ(datum->name, stored ? stored : "NAD83");  // untouched when refused
    EXPECT_EQ(datum->epsgCode, stored ? code : 6269) << datumName;
  }
  HeapText name(kprj_GetSpheroidNameByDatumName(nullptr, "ord. survey g. britain 1936", nullptr));
  EXPECT_STREQ(name.get(), "Airy");
}

TEST(Kprj, ProParametersByNameAndDeepCopy) {
  // Every numbered name gives back its number.
  for (int32_t n = -5; n < 100; ++n) {
    const char* name = kprj_ProjectionNameByNumber(n);
    if (name == nullptr) continue;
    Pro pro(kprj_ProParametersCreateByName(name, nullptr));
    ASSERT_NE(pro, nullptr) << name;
    EXPECT_EQ(pro->number, n);
  }
  // External projections keep the caller's spelling.
  Pro external(kprj_ProParametersCreateByName("Rso Borneo", nullptr));
  EXPECT_EQ(external->type, KPRJ_PROJECTION_EXTERNAL);
  EXPECT_STREQ(external->externalName, "Rso Borneo");

  // A copy shares nothing with its source.
  Pro source(kprj_ProParametersCreateByName("Transverse Mercator", nullptr));
  source->parameters[2] = 0.9996;
  kprj_DatumByName(nullptr, "Airy", "Ord. Survey G. Britain 1936", source->spheroid->datum,
                   nullptr);
  Pro copy(kprj_ProParametersCopy(source.get(), nullptr));
  ASSERT_NE(copy, nullptr);
  source->parameters[2] = 1.0;
  kprj_DatumByName(nullptr, "WGS 84", "WGS 84", source->spheroid->datum, nullptr);
  EXPECT_EQ(copy->parameters[2], 0.9996);
  EXPECT_STREQ(copy->spheroid->datum->name, "Ord. Survey G. Britain 1936");
  // A hostile source without arrays or spheroid still copies cleanly.
  Kprj_ProParameters bare{};
  Pro bareCopy(kprj_ProParametersCopy(&bare, nullptr));
  EXPECT_EQ(bareCopy->parameters[KPRJ_PARAMETER_COUNT - 1], 0.0);

  // The NAD code: the State Plane record's first parameter, truncated, when it fits.
  source->number = 2;
  for (const auto& [parameter0, code] : {std::pair{2.9, 2}, {kNaN, 0}, {1e300, 0}}) {
    source->parameters[0] = parameter0;
    EXPECT_EQ(kprj_NADCodeGet(source.get()), code) << parameter0;
  }
}

TEST(Kprj, StatePlaneZones) {
  const Kprj_SPEntry* positive = kprj_SPEntryByZoneNumber(kint_GetInit(), 101, 1, nullptr);
  ASSERT_NE(positive, nullptr);
  EXPECT_EQ(positive, kprj_SPEntryByZoneNumber(kint_GetInit(), -101, 3, nullptr));
  EXPECT_STREQ(positive->name, "Alabama East");

  // (NAD code, zone): rows that must be found, then zones that exist but not
  // on that NAD, and zones and codes that do not exist.
  for (const auto& [nad, zone] : {std::pair{1, -407}, {2, -1600}, {3, -2600}, {0, -4803}}) {
    const Kprj_SPEntry* entry = kprj_SPEntryByZoneNumber(nullptr, zone, nad, nullptr);
    EXPECT_TRUE(entry != nullptr && entry->zone == zone) << zone;
  }
  for (const auto& [nad, zone] : {std::pair{2, -407}, {3, -1600}, {4, -101}, {1, INT32_MIN}})
    EXPECT_EQ(kprj_SPEntryByZoneNumber(nullptr, zone, nad, nullptr), nullptr) << zone;
}

TEST(Kprj, MapProjectionFormsRoundTrip) {
  Pro pro(kprj_ProParametersCreateByName("Lambert Conformal Conic", nullptr));
  pro->parameters[2] = 0.5;
  kprj_SpheroidByName(nullptr, "GRS 1980", pro->spheroid, nullptr);
  Projection narrow(kprj_ProjectionInit(kint_GetInit(), pro.get(), nullptr));

  // Narrow to wide, copied, and back keeps the name and the parameters.
  WideProjection wide(kprj_MapProjectionToUNICODE(narrow.get(), nullptr));
  _kprj_MapProjectionEx* wideCopy = kprj_ProjectionCopy(wide.get(), 0, nullptr);
  Projection back(kprj_MapProjectionToASCII(wideCopy, nullptr));
  // The wrong free still frees (ASan would see a leak), and says so.
  Report err;
  kprj_ProjectionFree(&wideCopy, out(err));
  EXPECT_EQ(kerr_ReportSeverity(err.get()), KERR_WARNING);
  ASSERT_NE(back, nullptr);
  EXPECT_STREQ(kprj_MapProjectionName(back.get()), "Lambert Conformal Conic");
  ASSERT_NE(back->proParameters, nullptr);
  EXPECT_EQ(back->proParameters->parameters[2], 0.5);
  EXPECT_STREQ(back->proParameters->spheroid->name, "GRS 1980");

  // Known by name only until converted.
  Projection byName(kprj_ProjectionCreateByName("mercator", nullptr));
  ASSERT_EQ(kprj_MapProjectionConvert(byName.get(), "Kprj_ProParameters"), 1);
  EXPECT_EQ(byName->proParameters->number, 5);
}

TEST(Kprj, ElevationInfoNamesAndForms) {
  Elevation info(kprj_ElevationInfoCreateByName("wgs 84", "navd 88 (contus) (geoid99)",
                                                "international_feet", "HEIGHT", nullptr));
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info->kind.narrow, "height");
  WideElevation wide(kprj_ElevationInfoToUNICODE(info.get(), nullptr));
  ASSERT_NE(wide, nullptr);
  EXPECT_STREQ(wide->datumName.wide, L"NAVD 88 (CONTUS) (GEOID99)");
  EXPECT_EQ(
      Elevation(kprj_ElevationInfoCreateByName("WGS 84", "WGS 84", "meters", "altitude", nullptr)),
      nullptr);
  // Vertical systems and the geoid the elevation readers name; vertical
  // references pair any datum with any spheroid.
  for (const char* datum :
       {"NGVD29 (CONTUS)", "World Wide 15-Minute Geoid Height (EGM96)", "New International 1967"})
    EXPECT_NE(
        Elevation(kprj_ElevationInfoCreateByName("WGS 84", datum, "meters", "height", nullptr)),
        nullptr)
        << datum;
}

TEST(Kprj, LegacyHelperFreesWithTheMatchingFunction) {
  ReportCapture capture;  // a mismatched free would leave a warning; none may be printed
  {
    LegacyHelperTemplate<_kprj_MapProjectionEx, KtxtTextA> narrow(
        kprj_ProjectionCreateByName("UTM", nullptr));
    LegacyHelperTemplate<_kprj_MapProjectionEx, KtxtTextU> wide(
        kprj_MapProjectionToUNICODE(narrow.get(), nullptr));
    LegacyHelperTemplate<_kprj_ElevationInfo, KtxtTextA> elevation;
    *&elevation =
        kprj_ElevationInfoCreateByName("Undefined", "Undefined", "meters", "height", nullptr);
    LegacyHelperTemplate<_kprj_ElevationInfo, KtxtTextU> elevationU(
        kprj_ElevationInfoToUNICODE(elevation.get(), nullptr));
    // Filling through the address frees what was held.
    *&elevation = kprj_ElevationInfoCreateByName("WGS 84", "WGS 84", "meters", "depth", nullptr);
    EXPECT_STREQ(elevation->kind.narrow, "depth");
    // Moves pass ownership; release hands it out.
    LegacyHelperTemplate<_kprj_MapProjectionEx, KtxtTextA> moved(std::move(narrow));
    EXPECT_FALSE(narrow);
    _kprj_MapProjectionEx* released = moved.release();
    kprj_ProjectionFree(&released, nullptr);
  }
  EXPECT_TRUE(capture.printed.empty());
}

TEST(Kprj, HostileInputIsRefused) {
  Spheroid spheroid(kprj_SpheroidCreate(nullptr));
  auto* foreign = reinterpret_cast<Kint_Init*>(&spheroid);
  EXPECT_EQ(kprj_SpheroidByName(foreign, "WGS 84", spheroid.get(), nullptr), 0);

  // Records whose text form is neither narrow nor wide are refused, not guessed at.
  _kprj_MapProjectionEx odd{};
  odd.textForm = 7;
  EXPECT_EQ(kprj_MapProjectionToASCII(&odd, nullptr), nullptr);
  EXPECT_EQ(kprj_MapProjectionConvert(&odd, "Kprj_ProParameters"), 0);

  Owned<Kprj_MapInfo, kprj_MapInfoFree> info(kprj_MapInfoCreate(nullptr));
  EXPECT_EQ(kprj_MapInfoUpperLeftCenterSet(info.get(), 0, kNaN, nullptr), 0);
}

}  // namespace
