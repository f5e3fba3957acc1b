#include <gtest/gtest.h>

#include <limits>
#include <tuple>
#include <utility>
#include <vector>

#include "kmsc.h"
#include "kprj.h"
#include "kprj_legacy.h"
#include "test_support.h"

namespace {

// clang-format off
// Every spheroid name the GeoTIFF code tables use: the named ellipsoid rows,
// the ellipsoid names of the unspecified-datum rows, and the spheroids of the
// geographic, UTM, vertical and zone-system tables.
const char* const kLibrarySpheroids[] = {
    "Airy", "Airy Modified 1849", "Australian National", "Bessel", "Bessel (Namibia)",
    "Clarke 1866", "Clarke 1880 IGN", "Clarke 1880", "Everest", "Everest (Sabah & Sarawak)",
    "Modified Everest", "GRS 1980", "Helmert", "Indonesian 1974", "International 1909",
    "Krasovsky", "WGS 66", "WGS 72", "WGS 84", "Sphere", "Modified Airy", "Clarke 1880 Benoit",
    "Clarke 1880 Arc", "Clarke 1880 SGA", "New International 1967", "NWL 9D", "NWL 10D",
    "Plessis 1817", "Struve 1860", "War Office", "GEM 10C", "OSU 86F", "OSU 91A",
    "South American 1969"
};

// Every datum name the code tables use: the datum table in order, then the
// datums of the geographic-system table and of the zone systems outside it.
const char* const kLibraryDatums[] = {
    "IRENET95", "Adindan", "Australian Geodetic 1966", "Australian Geodetic 1984",
    "Ain el Abd 1970 (Saudi Arabia)", "Afgooye", "Arc 1950", "Arc 1960", "Djakarta (Batavia)",
    "Bermuda 1957", "Bogota Observatory", "Bukit Rimpah", "Campo Inchauspe", "Cape", "Carthage",
    "Chua Astro", "Corrego Alegre", "Old Egyptian 1907", "European 1950", "Hu-Tzu-Shan",
    "Indian 1954", "Indian 1975", "Kandawala", "Kertau 1948", "Leigon", "Liberia 1964", "Luzon",
    "Herat North", "Mahe 1971", "Merchich", "Massawa", "Minna (Cameroon)", "M'Poraloko", "NAD27",
    "Narwan (Saudi Arabia)", "Naparima BWI", "Geodetic Datum 1949", "NZGD2000 (NTv2)",
    "Pointe Noire 1948", "Qatar National", "Qornoq", "SAD69", "Sapper Hill 1943", "Schwarzeck",
    "Tananarive Observatory 1925", "Timbalai 1948", "Ireland 1965", "Tokyo", "Yacare", "Zanderij",
    "WGS 72", "WGS 84", "HARN", "Airy", "Modified Airy", "Australian National", "Bessel",
    "Bessel (Namibia)", "Clarke 1866", "Clarke 1880 Benoit", "Clarke 1880 IGN", "Clarke 1880",
    "Clarke 1880 Arc", "Clarke 1880 SGA", "Modified Everest", "GRS 1980", "Helmert",
    "New International 1967", "Krasovsky", "NWL 9D", "NWL 10D", "Plessis 1817", "Struve 1860",
    "War Office", "GEM 10C", "OSU 86F", "OSU 91A", "Sphere", "PSAD56", "NAD83",
    "Ord. Survey G. Britain 1936", "GDA94", "Pulkovo 1942"
};

// (spheroid, datums) of the geographic and UTM tables and of the zone systems,
// as the readers pair them.
const std::pair<const char*, std::vector<const char*>> kLibraryPairs[] = {
    {"International 1909", {"Ain el Abd 1970 (Saudi Arabia)", "Bogota Observatory",
        "Campo Inchauspe", "Chua Astro", "Corrego Alegre", "European 1950", "Hu-Tzu-Shan", "PSAD56",
        "Herat North", "Naparima BWI", "Geodetic Datum 1949", "Qatar National", "Qornoq",
        "Sapper Hill 1943", "Tananarive Observatory 1925", "Yacare", "Zanderij"}},
    {"Clarke 1880", {"Adindan", "Arc 1950", "Arc 1960", "Cape", "Carthage", "Leigon",
        "Liberia 1964", "Mahe 1971", "Merchich", "Minna (Cameroon)", "M'Poraloko",
        "Narwan (Saudi Arabia)", "Pointe Noire 1948"}},
    {"Bessel", {"Djakarta (Batavia)", "Bukit Rimpah", "Massawa", "Tokyo"}},
    {"Clarke 1866", {"Bermuda 1957", "Luzon", "NAD27"}},
    {"GRS 1980", {"IRENET95", "NAD83", "GDA94", "HARN"}},
    {"Everest", {"Indian 1954", "Indian 1975", "Kandawala"}},
    {"Australian National", {"Australian Geodetic 1966", "Australian Geodetic 1984"}},
    {"Krasovsky", {"Afgooye", "Pulkovo 1942"}}, {"Helmert", {"Old Egyptian 1907"}},
    {"Modified Everest", {"Kertau 1948"}}, {"Airy", {"Ord. Survey G. Britain 1936"}},
    {"South American 1969", {"SAD69"}}, {"Bessel (Namibia)", {"Schwarzeck"}},
    {"Everest (Sabah & Sarawak)", {"Timbalai 1948"}}, {"Airy Modified 1849", {"Ireland 1965"}},
    {"WGS 72", {"WGS 72"}}, {"WGS 84", {"WGS 84"}}};
// clang-format on

// A spheroid record with a datum, freed at scope exit.
struct SpheroidHolder {
  Kprj_Spheroid* spheroid = kprj_SpheroidCreate(nullptr);
  ~SpheroidHolder() { kprj_SpheroidFree(&spheroid, nullptr); }
};

struct ProHolder {
  Kprj_ProParameters* pro;
  ~ProHolder() { kprj_ProParametersFree(&pro, nullptr); }
};

const double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Kprj, EveryLibrarySpheroidAndDatumIsKnown) {
  SpheroidHolder holder;
  for (const char* name : kLibrarySpheroids)
    EXPECT_EQ(kprj_SpheroidByName(kint_GetInit(), name, holder.spheroid, nullptr), 1) << name;
  // The user-defined geographic reader's road: datum name, its spheroid, then both applied.
  for (const char* name : kLibraryDatums) {
    char* spheroidName = kprj_GetSpheroidNameByDatumName(kint_GetInit(), name, nullptr);
    ASSERT_NE(spheroidName, nullptr) << name;
    EXPECT_EQ(kprj_DatumByName(kint_GetInit(), spheroidName, name, holder.spheroid->datum, nullptr),
              1)
        << name;
    kmsc_HeapFree(spheroidName);
  }
  for (const auto& [spheroid, datums] : kLibraryPairs)
    for (const char* datum : datums)
      EXPECT_EQ(kprj_DatumByName(nullptr, spheroid, datum, holder.spheroid->datum, nullptr), 1)
          << spheroid << " / " << datum;
}

TEST(Kprj, SpheroidAxesFollowTheRegistryAndNameOnlyCloseMatches) {
  // Defining parameters as the EPSG registry holds them: name, code, a, and
  // 1/f or (when 1/f is 0) b. The axes name the spheroid again.
  const std::tuple<const char*, int32_t, double, double, double> registry[] = {
      {"WGS 84", 7030, 6378137.0, 298.257223563, 0},
      {"Clarke 1866", 7008, 6378206.4, 0, 6356583.8},
      {"GRS 1980", 7019, 6378137.0, 298.257222101, 0},
      // Given in German legal metres (1.0000135965 m) by the registry.
      {"Bessel (Namibia)", 7046, 6377397.155 * 1.0000135965, 299.1528128, 0}};
  SpheroidHolder holder;
  for (const auto& [name, code, a, inverseFlattening, givenB] : registry) {
    double b = inverseFlattening != 0 ? a * (1.0 - 1.0 / inverseFlattening) : givenB;
    ASSERT_EQ(kprj_SpheroidByName(nullptr, name, holder.spheroid, nullptr), 1);
    EXPECT_EQ(holder.spheroid->epsgCode, code);
    EXPECT_NEAR(holder.spheroid->semiMajor, a, 1e-6) << name;
    EXPECT_NEAR(holder.spheroid->semiMinor, b, 1e-6) << name;
    // WGS 84 and GRS 1980 differ by about 0.1 mm in b: the tolerance tells them apart.
    // Axes a little off (here by 0.05 mm) still name it.
    ASSERT_EQ(kprj_SpheroidByAxes(a + 5e-5, b, holder.spheroid, nullptr), 1);
    EXPECT_STREQ(holder.spheroid->name, name);
  }
  ASSERT_EQ(kprj_SpheroidByAxes(6378000.0, 6357000.0, holder.spheroid, nullptr), 1);
  EXPECT_STREQ(holder.spheroid->name, "");

  // Every table row is found again from its own axes, first row of a figure winning.
  for (int32_t i = 0; const Kprj_SpheroidEntry* entry = kprj_SpheroidEntryByIndex(i); ++i) {
    ASSERT_EQ(kprj_SpheroidByAxes(entry->semiMajor, entry->semiMinor, holder.spheroid, nullptr), 1);
    const Kprj_SpheroidEntry* found = kprj_SpheroidEntryByName(holder.spheroid->name);
    ASSERT_NE(found, nullptr) << entry->name;
    EXPECT_LE(found - kprj_SpheroidEntryByIndex(0), i);
    EXPECT_NEAR(found->semiMinor, entry->semiMinor, 1e-4);
  }

  // Refused axes leave the record as it was.
  kprj_SpheroidByName(nullptr, "Airy", holder.spheroid, nullptr);
  for (const auto& [a, b] : {std::pair{kNaN, 1.0}, std::pair{6.0e6, 6.1e6}}) {
    EXPECT_EQ(kprj_SpheroidByAxes(a, b, holder.spheroid, nullptr), 0);
    EXPECT_EQ(holder.spheroid->semiMajor, 6377563.396);
  }
}

TEST(Kprj, DatumLookupsAreCaseBlindFirstMatchAndChecked) {
  SpheroidHolder holder;
  Kprj_Datum* datum = holder.spheroid->datum;
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
  char* name = kprj_GetSpheroidNameByDatumName(nullptr, "ord. survey g. britain 1936", nullptr);
  EXPECT_STREQ(name, "Airy");
  kmsc_HeapFree(name);
}

TEST(Kprj, ProParametersByNameAndDeepCopy) {
  // Every numbered name gives back its number.
  for (int32_t n = -5; n < 100; ++n) {
    const char* name = kprj_ProjectionNameByNumber(n);
    if (name == nullptr) continue;
    ProHolder holder{kprj_ProParametersCreateByName(name, nullptr)};
    ASSERT_NE(holder.pro, nullptr) << name;
    EXPECT_EQ(holder.pro->number, n);
  }
  // External projections keep the caller's spelling.
  ProHolder external{kprj_ProParametersCreateByName("Rso Borneo", nullptr)};
  EXPECT_EQ(external.pro->type, KPRJ_PROJECTION_EXTERNAL);
  EXPECT_STREQ(external.pro->externalName, "Rso Borneo");

  // A copy shares nothing with its source.
  ProHolder source{kprj_ProParametersCreateByName("Transverse Mercator", nullptr)};
  source.pro->parameters[2] = 0.9996;
  kprj_DatumByName(nullptr, "Airy", "Ord. Survey G. Britain 1936", source.pro->spheroid->datum,
                   nullptr);
  ProHolder copy{kprj_ProParametersCopy(source.pro, nullptr)};
  ASSERT_NE(copy.pro, nullptr);
  source.pro->parameters[2] = 1.0;
  kprj_DatumByName(nullptr, "WGS 84", "WGS 84", source.pro->spheroid->datum, nullptr);
  EXPECT_EQ(copy.pro->parameters[2], 0.9996);
  EXPECT_STREQ(copy.pro->spheroid->datum->name, "Ord. Survey G. Britain 1936");
  // A hostile source without arrays or spheroid still copies cleanly.
  Kprj_ProParameters bare{};
  ProHolder bareCopy{kprj_ProParametersCopy(&bare, nullptr)};
  EXPECT_EQ(bareCopy.pro->parameters[KPRJ_PARAMETER_COUNT - 1], 0.0);

  // The NAD code: the State Plane record's first parameter, truncated, when it fits.
  source.pro->number = 2;
  for (const auto& [parameter0, code] : {std::pair{2.9, 2}, {kNaN, 0}, {1e300, 0}}) {
    source.pro->parameters[0] = parameter0;
    EXPECT_EQ(kprj_NADCodeGet(source.pro), code) << parameter0;
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
  ProHolder pro{kprj_ProParametersCreateByName("Lambert Conformal Conic", nullptr)};
  pro.pro->parameters[2] = 0.5;
  kprj_SpheroidByName(nullptr, "GRS 1980", pro.pro->spheroid, nullptr);
  _kprj_MapProjectionEx* narrow = kprj_ProjectionInit(kint_GetInit(), pro.pro, nullptr);

  // Narrow to wide, copied, and back keeps the name and the parameters.
  _kprj_MapProjectionEx* wide = kprj_MapProjectionToUNICODE(narrow, nullptr);
  _kprj_MapProjectionEx* wideCopy = kprj_ProjectionCopy(wide, 0, nullptr);
  _kprj_MapProjectionEx* back = kprj_MapProjectionToASCII(wideCopy, nullptr);
  ASSERT_NE(back, nullptr);
  EXPECT_STREQ(kprj_MapProjectionName(back), "Lambert Conformal Conic");
  ASSERT_NE(back->proParameters, nullptr);
  EXPECT_EQ(back->proParameters->parameters[2], 0.5);
  EXPECT_STREQ(back->proParameters->spheroid->name, "GRS 1980");

  // Known by name only until converted.
  _kprj_MapProjectionEx* byName = kprj_ProjectionCreateByName("mercator", nullptr);
  ASSERT_EQ(kprj_MapProjectionConvert(byName, "Kprj_ProParameters"), 1);
  EXPECT_EQ(byName->proParameters->number, 5);

  for (_kprj_MapProjectionEx** p : {&narrow, &back, &byName}) kprj_ProjectionFree(p, nullptr);
  kprj_ProjectionFreeU(&wide, nullptr);
  // The wrong free still frees (ASan would see a leak), and says so.
  Kerr_Report* err = nullptr;
  kprj_ProjectionFree(&wideCopy, &err);
  EXPECT_EQ(kerr_ReportSeverity(err), KERR_WARNING);
  kerr_DeleteErrorReportEx(&err);
}

TEST(Kprj, ElevationInfoNamesAndForms) {
  _kprj_ElevationInfo* info = kprj_ElevationInfoCreateByName(
      "wgs 84", "navd 88 (contus) (geoid99)", "international_feet", "HEIGHT", nullptr);
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info->kind.narrow, "height");
  _kprj_ElevationInfo* wide = kprj_ElevationInfoToUNICODE(info, nullptr);
  ASSERT_NE(wide, nullptr);
  EXPECT_STREQ(wide->datumName.wide, L"NAVD 88 (CONTUS) (GEOID99)");
  kprj_ElevationInfoFree(&info, nullptr);
  kprj_ElevationInfoFreeU(&wide, nullptr);
  EXPECT_EQ(kprj_ElevationInfoCreateByName("WGS 84", "WGS 84", "meters", "altitude", nullptr),
            nullptr);
  // Vertical systems and the geoid the elevation readers name; vertical
  // references pair any datum with any spheroid.
  for (const char* datum :
       {"NGVD29 (CONTUS)", "World Wide 15-Minute Geoid Height (EGM96)", "New International 1967"}) {
    info = kprj_ElevationInfoCreateByName("WGS 84", datum, "meters", "height", nullptr);
    EXPECT_NE(info, nullptr) << datum;
    kprj_ElevationInfoFree(&info, nullptr);
  }
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
  SpheroidHolder holder;
  auto* foreign = reinterpret_cast<Kint_Init*>(&holder);
  EXPECT_EQ(kprj_SpheroidByName(foreign, "WGS 84", holder.spheroid, nullptr), 0);

  // Records whose text form is neither narrow nor wide are refused, not guessed at.
  _kprj_MapProjectionEx odd{};
  odd.textForm = 7;
  EXPECT_EQ(kprj_MapProjectionToASCII(&odd, nullptr), nullptr);
  EXPECT_EQ(kprj_MapProjectionConvert(&odd, "Kprj_ProParameters"), 0);

  Kprj_MapInfo* info = kprj_MapInfoCreate(nullptr);
  EXPECT_EQ(kprj_MapInfoUpperLeftCenterSet(info, 0, kNaN, nullptr), 0);
  kprj_MapInfoFree(&info, nullptr);
}

}  // namespace
