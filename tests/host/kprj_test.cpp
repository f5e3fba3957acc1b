#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

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

// (spheroid, datum) pairs of the geographic and UTM tables and of the zone
// systems, as the readers apply them.
const std::pair<const char*, const char*> kLibraryPairs[] = {
    {"Clarke 1880", "Adindan"}, {"Australian National", "Australian Geodetic 1966"},
    {"Australian National", "Australian Geodetic 1984"},
    {"International 1909", "Ain el Abd 1970 (Saudi Arabia)"}, {"Krasovsky", "Afgooye"},
    {"Clarke 1880", "Arc 1950"}, {"Clarke 1880", "Arc 1960"}, {"Bessel", "Djakarta (Batavia)"},
    {"Clarke 1866", "Bermuda 1957"}, {"International 1909", "Bogota Observatory"},
    {"Bessel", "Bukit Rimpah"}, {"International 1909", "Campo Inchauspe"}, {"Clarke 1880", "Cape"},
    {"Clarke 1880", "Carthage"}, {"International 1909", "Chua Astro"},
    {"International 1909", "Corrego Alegre"}, {"Helmert", "Old Egyptian 1907"},
    {"International 1909", "European 1950"}, {"International 1909", "Hu-Tzu-Shan"},
    {"Everest", "Indian 1954"}, {"Everest", "Indian 1975"}, {"GRS 1980", "IRENET95"},
    {"Everest", "Kandawala"}, {"Modified Everest", "Kertau 1948"},
    {"International 1909", "PSAD56"}, {"Clarke 1880", "Leigon"}, {"Clarke 1880", "Liberia 1964"},
    {"Clarke 1866", "Luzon"}, {"International 1909", "Herat North"}, {"Clarke 1880", "Mahe 1971"},
    {"Clarke 1880", "Merchich"}, {"Bessel", "Massawa"}, {"Clarke 1880", "Minna (Cameroon)"},
    {"Clarke 1880", "M'Poraloko"}, {"Clarke 1866", "NAD27"}, {"GRS 1980", "NAD83"},
    {"Clarke 1880", "Narwan (Saudi Arabia)"}, {"International 1909", "Naparima BWI"},
    {"International 1909", "Geodetic Datum 1949"}, {"Airy", "Ord. Survey G. Britain 1936"},
    {"Clarke 1880", "Pointe Noire 1948"}, {"GRS 1980", "GDA94"},
    {"International 1909", "Qatar National"}, {"International 1909", "Qornoq"},
    {"South American 1969", "SAD69"}, {"International 1909", "Sapper Hill 1943"},
    {"Bessel (Namibia)", "Schwarzeck"}, {"International 1909", "Tananarive Observatory 1925"},
    {"Everest (Sabah & Sarawak)", "Timbalai 1948"}, {"Airy Modified 1849", "Ireland 1965"},
    {"Bessel", "Tokyo"}, {"International 1909", "Yacare"}, {"International 1909", "Zanderij"},
    {"WGS 72", "WGS 72"}, {"WGS 84", "WGS 84"},
    {"Clarke 1866", "NAD27"}, {"GRS 1980", "NAD83"}, {"Clarke 1880", "Narwan (Saudi Arabia)"},
    {"International 1909", "Naparima BWI"}, {"International 1909", "Geodetic Datum 1949"},
    {"Airy", "Ord. Survey G. Britain 1936"}, {"Clarke 1880", "Pointe Noire 1948"},
    {"GRS 1980", "GDA94"}, {"International 1909", "Qatar National"},
    {"International 1909", "Qornoq"}, {"South American 1969", "SAD69"},
    {"International 1909", "Sapper Hill 1943"}, {"Bessel (Namibia)", "Schwarzeck"},
    {"International 1909", "Tananarive Observatory 1925"},
    {"Everest (Sabah & Sarawak)", "Timbalai 1948"}, {"Airy Modified 1849", "Ireland 1965"},
    {"Bessel", "Tokyo"}, {"International 1909", "Yacare"}, {"International 1909", "Zanderij"},
    {"WGS 72", "WGS 72"}, {"WGS 84", "WGS 84"}, {"Clarke 1866", "NAD27"}, {"GRS 1980", "NAD83"},
    {"GRS 1980", "HARN"}, {"Airy", "Ord. Survey G. Britain 1936"}, {"GRS 1980", "GDA94"},
    {"Modified Everest", "Kertau 1948"}, {"Everest (Sabah & Sarawak)", "Timbalai 1948"},
    {"International 1909", "Bogota Observatory"}, {"Krasovsky", "Pulkovo 1942"}
};
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

// A report slot for repeated calls: handing out its address drops the report
// of the previous call.
struct Slot {
  Kerr_Report* report = nullptr;
  ~Slot() { kerr_DeleteErrorReportEx(&report); }
  Kerr_Report** operator&() {
    kerr_DeleteErrorReportEx(&report);
    return &report;
  }
};

std::string message(const Slot& slot) {
  const char* text = kerr_ReportMessage(slot.report);
  return text ? text : "";
}

TEST(Kprj, EveryLibrarySpheroidAndDatumIsKnown) {
  SpheroidHolder holder;
  for (const char* name : kLibrarySpheroids) {
    EXPECT_EQ(kprj_SpheroidByName(kint_GetInit(), name, holder.spheroid, nullptr), 1) << name;
    EXPECT_STREQ(holder.spheroid->name, name);
    EXPECT_GT(holder.spheroid->semiMajor, 6.3e6) << name;
    EXPECT_GT(holder.spheroid->epsgCode, 7000) << name;
  }
  // The user-defined geographic reader's road: datum name, its spheroid, then
  // both applied.
  for (const char* name : kLibraryDatums) {
    char* spheroidName = kprj_GetSpheroidNameByDatumName(kint_GetInit(), name, nullptr);
    ASSERT_NE(spheroidName, nullptr) << name;
    EXPECT_EQ(kprj_SpheroidByName(kint_GetInit(), spheroidName, holder.spheroid, nullptr), 1);
    EXPECT_EQ(kprj_DatumByName(kint_GetInit(), spheroidName, name, holder.spheroid->datum, nullptr),
              1)
        << name;
    EXPECT_STREQ(holder.spheroid->datum->name, name);
    kmsc_HeapFree(spheroidName);
  }
  for (const auto& pair : kLibraryPairs) {
    Slot err;
    EXPECT_EQ(kprj_DatumByName(nullptr, pair.first, pair.second, holder.spheroid->datum, &err), 1)
        << pair.first << " / " << pair.second << ": " << message(err);
  }
  // Vertical systems and the geoid the elevation readers name.
  const std::pair<const char*, const char*> vertical[] = {
      {"WGS 84", "NGVD29 (CONTUS)"},
      {"WGS 84", "NAVD 88 (CONTUS) (GEOID99)"},
      {"WGS 84", "World Wide 15-Minute Geoid Height (EGM96)"},
      {"Undefined", "Undefined"},
      {"New International 1967", "New International 1967"},
      {"Bessel (Namibia)", "Bessel (Namibia)"},
  };
  for (const auto& pair : vertical) {
    _kprj_ElevationInfo* info =
        kprj_ElevationInfoCreateByName(pair.first, pair.second, "meters", "height", nullptr);
    ASSERT_NE(info, nullptr) << pair.second;
    EXPECT_STREQ(info->datumName.narrow, pair.second);
    kprj_ElevationInfoFree(&info, nullptr);
  }
}

TEST(Kprj, SpheroidAxesFollowTheRegistry) {
  // Defining parameters as the EPSG registry holds them: a and 1/f, or a and b.
  struct Case {
    const char* name;
    int32_t code;
    double a, inverseFlattening, b;
  };
  const Case cases[] = {
      {"WGS 84", 7030, 6378137.0, 298.257223563, 0},
      {"Clarke 1866", 7008, 6378206.4, 0, 6356583.8},
      {"Airy", 7001, 6377563.396, 299.3249646, 0},
      {"GRS 1980", 7019, 6378137.0, 298.257222101, 0},
      // Given in German legal metres (1.0000135965 m) by the registry.
      {"Bessel (Namibia)", 7046, 6377397.155 * 1.0000135965, 299.1528128, 0},
  };
  SpheroidHolder holder;
  for (const Case& c : cases) {
    double b = c.b != 0 ? c.b : c.a * (1.0 - 1.0 / c.inverseFlattening);
    ASSERT_EQ(kprj_SpheroidByName(nullptr, c.name, holder.spheroid, nullptr), 1);
    EXPECT_EQ(holder.spheroid->epsgCode, c.code);
    EXPECT_NEAR(holder.spheroid->semiMajor, c.a, 1e-6) << c.name;
    EXPECT_NEAR(holder.spheroid->semiMinor, b, 1e-6) << c.name;
  }
}

TEST(Kprj, SpheroidByAxesNamesOnlyCloseMatches) {
  SpheroidHolder holder;
  // WGS 84 and GRS 1980 differ by about 0.1 mm in b: the tolerance tells them apart.
  const std::pair<std::pair<double, double>, const char*> named[] = {
      {{6378137.0, 6378137.0 * (1.0 - 1.0 / 298.257223563)}, "WGS 84"},
      {{6378137.0, 6356752.314140356}, "GRS 1980"},
      {{6378206.4 + 5e-5, 6356583.8 - 5e-5}, "Clarke 1866"},
      {{6378000.0, 6357000.0}, ""}};
  for (const auto& c : named) {
    ASSERT_EQ(kprj_SpheroidByAxes(c.first.first, c.first.second, holder.spheroid, nullptr), 1);
    EXPECT_STREQ(holder.spheroid->name, c.second);
    EXPECT_EQ(holder.spheroid->semiMinor, c.first.second);
  }
  EXPECT_EQ(holder.spheroid->epsgCode, 0);

  // Every table row is found again from its own axes, first row of a figure winning.
  for (int32_t i = 0; const Kprj_SpheroidEntry* entry = kprj_SpheroidEntryByIndex(i); ++i) {
    ASSERT_EQ(kprj_SpheroidByAxes(entry->semiMajor, entry->semiMinor, holder.spheroid, nullptr), 1);
    const Kprj_SpheroidEntry* named = kprj_SpheroidEntryByName(holder.spheroid->name);
    ASSERT_NE(named, nullptr) << entry->name;
    EXPECT_LE(named - kprj_SpheroidEntryByIndex(0), i);
    EXPECT_NEAR(named->semiMinor, entry->semiMinor, 1e-4);
  }

  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<double, double> bad[] = {{nan, 1.0},   {6e6, nan}, {inf, 6e6},
                                           {-6e6, -6e6}, {0.0, 0.0}, {6.0e6, 6.1e6}};
  kprj_SpheroidByName(nullptr, "Airy", holder.spheroid, nullptr);
  for (const auto& axes : bad) {
    Slot err;
    EXPECT_EQ(kprj_SpheroidByAxes(axes.first, axes.second, holder.spheroid, &err), 0);
    EXPECT_NE(err.report, nullptr);
    EXPECT_STREQ(holder.spheroid->name, "Airy");
    EXPECT_EQ(holder.spheroid->semiMajor, 6377563.396);
  }
}

TEST(Kprj, DatumLookupsAreCaseBlindFirstMatchAndChecked) {
  SpheroidHolder holder;
  Kprj_Datum* datum = holder.spheroid->datum;
  struct Case {
    const char* spheroid;
    const char* datum;
    const char* stored;  // null: refused
    int32_t code;
  };
  const Case cases[] = {
      {"wgs 84", "wgs 84", "WGS 84", 6326},  // the real datum before the unspecified one
      {"Clarke 1880", "CLARKE 1880", "Clarke 1880", 6012},
      {"Modified Airy", "Ireland 1965", "Ireland 1965", 6299},  // an alias of its spheroid
      {"Airy Modified 1849", "Modified Airy", "Modified Airy", 6002},
      {"Clarke 1866", "Undefined", "Undefined", 0},
      {"Clarke 1866", "WGS 84", nullptr, 0},
      {"Bessel", "Clarke 1866", nullptr, 0},
      {"WGS 84", "Nowhere 2000", nullptr, 0},
      {"Nothing", "WGS 84", nullptr, 0},
      {"", "WGS 84", nullptr, 0},
  };
  for (const Case& c : cases) {
    kprj_DatumByName(nullptr, "GRS 1980", "NAD83", datum, nullptr);
    Slot err;
    int result = kprj_DatumByName(kint_GetInit(), c.spheroid, c.datum, datum, &err);
    if (c.stored != nullptr) {
      EXPECT_EQ(result, 1) << c.datum;
      EXPECT_EQ(err.report, nullptr);
      EXPECT_STREQ(datum->name, c.stored);
      EXPECT_EQ(datum->epsgCode, c.code) << c.datum;
    } else {
      EXPECT_EQ(result, 0) << c.datum;
      EXPECT_NE(err.report, nullptr);
      EXPECT_STREQ(datum->name, "NAD83");  // untouched
    }
  }
  Slot err;
  EXPECT_EQ(kprj_DatumByName(nullptr, "Clarke 1866", "WGS 84", datum, &err), 0);
  EXPECT_EQ(message(err), "Datum WGS 84 is not defined on spheroid Clarke 1866");

  char* name = kprj_GetSpheroidNameByDatumName(nullptr, "ord. survey g. britain 1936", nullptr);
  EXPECT_STREQ(name, "Airy");
  kmsc_HeapFree(name);
  EXPECT_EQ(kprj_GetSpheroidNameByDatumName(nullptr, "Undefined", &err), nullptr);
  EXPECT_EQ(message(err), "Datum Undefined is not tied to one spheroid");
  EXPECT_EQ(kprj_GetSpheroidNameByDatumName(nullptr, "Atlantis", &err), nullptr);
  EXPECT_EQ(message(err), "Unknown datum Atlantis");
}

TEST(Kprj, ProParametersCreateCopyAndNames) {
  ProHolder blank{kprj_ProParametersCreate(nullptr)};
  ASSERT_NE(blank.pro, nullptr);
  EXPECT_EQ(blank.pro->type, KPRJ_PROJECTION_INTERNAL);
  EXPECT_EQ(blank.pro->number, 0);
  EXPECT_STREQ(blank.pro->name, "");
  EXPECT_STREQ(blank.pro->externalName, "");
  EXPECT_EQ(kmsc_HeapSize(blank.pro->parameters), KPRJ_PARAMETER_COUNT * sizeof(double));
  for (int i = 0; i < KPRJ_PARAMETER_COUNT; ++i) EXPECT_EQ(blank.pro->parameters[i], 0.0);
  ASSERT_NE(blank.pro->spheroid, nullptr);
  ASSERT_NE(blank.pro->spheroid->datum, nullptr);
  EXPECT_STREQ(blank.pro->spheroid->datum->name, "");

  // Every numbered name gives back its number, whatever its case.
  int named = 0;
  for (int32_t n = -5; n < 100; ++n) {
    const char* name = kprj_ProjectionNameByNumber(n);
    if (name == nullptr) continue;
    ++named;
    std::string upper(name);
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    ProHolder holder{kprj_ProParametersCreateByName(upper.c_str(), nullptr)};
    ASSERT_NE(holder.pro, nullptr) << name;
    EXPECT_EQ(holder.pro->number, n);
    EXPECT_STREQ(holder.pro->name, name);
    EXPECT_NE(holder.pro->spheroid, nullptr);
  }
  EXPECT_EQ(named, 38);
  EXPECT_STREQ(kprj_ProjectionNameByNumber(36), "Gauss Kruger");

  for (const char* rso : {"RSO", "rso", "Rso Borneo"}) {
    ProHolder holder{kprj_ProParametersCreateByName(rso, nullptr)};
    ASSERT_NE(holder.pro, nullptr);
    EXPECT_EQ(holder.pro->type, KPRJ_PROJECTION_EXTERNAL);
    EXPECT_STREQ(holder.pro->name, rso);
    EXPECT_STREQ(holder.pro->externalName, rso);
  }
  Slot err;
  for (const char* bad : {"RS", "", "Mercator2"}) {
    EXPECT_EQ(kprj_ProParametersCreateByName(bad, &err), nullptr);
    EXPECT_EQ(message(err), std::string("Unknown projection ") + bad);
  }
  EXPECT_EQ(kprj_ProParametersCreateByName(nullptr, &err), nullptr);
  EXPECT_EQ(message(err), "Args");

  // A copy shares nothing with its source.
  ProHolder source{kprj_ProParametersCreateByName("Transverse Mercator", nullptr)};
  source.pro->zone = 17;
  source.pro->parameters[2] = 0.9996;
  kprj_SpheroidByName(nullptr, "Airy", source.pro->spheroid, nullptr);
  kprj_DatumByName(nullptr, "Airy", "Ord. Survey G. Britain 1936", source.pro->spheroid->datum,
                   nullptr);
  ProHolder copy{kprj_ProParametersCopy(source.pro, nullptr)};
  ASSERT_NE(copy.pro, nullptr);
  EXPECT_NE(copy.pro->parameters, source.pro->parameters);
  EXPECT_NE(copy.pro->spheroid->datum, source.pro->spheroid->datum);
  EXPECT_EQ(copy.pro->zone, 17);
  EXPECT_EQ(copy.pro->number, 9);
  EXPECT_EQ(copy.pro->parameters[2], 0.9996);
  EXPECT_STREQ(copy.pro->spheroid->name, "Airy");
  EXPECT_STREQ(copy.pro->spheroid->datum->name, "Ord. Survey G. Britain 1936");
  source.pro->parameters[2] = 1.0;
  EXPECT_EQ(copy.pro->parameters[2], 0.9996);

  // A hostile source without arrays or spheroid still copies cleanly.
  Kprj_ProParameters bare{};
  ProHolder bareCopy{kprj_ProParametersCopy(&bare, nullptr)};
  ASSERT_NE(bareCopy.pro, nullptr);
  EXPECT_STREQ(bareCopy.pro->name, "");
  EXPECT_EQ(bareCopy.pro->spheroid, nullptr);
  EXPECT_EQ(bareCopy.pro->parameters[14], 0.0);
  kprj_ProParametersFree(&bareCopy.pro, &err);
  EXPECT_EQ(bareCopy.pro, nullptr);
  EXPECT_EQ(err.report, nullptr);
}

TEST(Kprj, NADCodeOnlyFromStatePlaneRecords) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    int32_t type, number;
    double parameter0;
    int32_t expected;
  };
  const Case cases[] = {{0, 2, 1.0, 1},   {0, 2, 2.9, 2},   {0, 2, 3.0, 3},
                        {0, 2, -1.5, -1}, {0, 1, 2.0, 0},   {1, 2, 2.0, 0},
                        {0, 2, nan, 0},   {0, 2, 1e300, 0}, {0, 2, -1e300, 0}};
  ProHolder holder{kprj_ProParametersCreate(nullptr)};
  for (const Case& c : cases) {
    holder.pro->type = c.type;
    holder.pro->number = c.number;
    holder.pro->parameters[0] = c.parameter0;
    EXPECT_EQ(kprj_NADCodeGet(holder.pro), c.expected) << c.parameter0;
  }
  EXPECT_EQ(kprj_NADCodeGet(nullptr), 0);
  Kprj_ProParameters noParameters{};
  noParameters.number = 2;
  EXPECT_EQ(kprj_NADCodeGet(&noParameters), 0);
}

TEST(Kprj, StatePlaneZones) {
  const Kprj_SPEntry* positive = kprj_SPEntryByZoneNumber(kint_GetInit(), 101, 1, nullptr);
  const Kprj_SPEntry* negative = kprj_SPEntryByZoneNumber(kint_GetInit(), -101, 3, nullptr);
  ASSERT_NE(positive, nullptr);
  EXPECT_EQ(positive, negative);
  EXPECT_EQ(positive->zone, -101);
  EXPECT_EQ(positive->usgsZone, 101);
  EXPECT_STREQ(positive->name, "Alabama East");

  // Rows of the GeoTIFF State Plane table: (NAD code, zone) that must be found.
  const std::pair<int32_t, int32_t> defined[] = {
      {1, -407},  {1, -5201}, {1, -5202}, {1, -2501}, {1, -3902}, {1, -4100}, {2, -1600},
      {2, -5400}, {2, -5200}, {2, -3900}, {2, -5010}, {3, -2600}, {3, -1702}, {3, -4904},
      {2, -2113}, {1, -3104}, {2, -4702}, {3, -5105}, {0, -4803}};
  for (const auto& row : defined) {
    Slot err;
    const Kprj_SPEntry* entry = kprj_SPEntryByZoneNumber(nullptr, row.second, row.first, &err);
    ASSERT_NE(entry, nullptr) << row.second << ": " << message(err);
    EXPECT_EQ(entry->zone, row.second);
  }
  // Zones that exist, but not on that NAD; zones and codes that do not exist.
  const std::pair<int32_t, int32_t> undefined[] = {
      {2, -407},  {3, -1600},       {1, -5400},
      {3, -5201}, {2, 5001 + 5000}, {1, 0},
      {4, -101},  {-1, -101},       {1, std::numeric_limits<int32_t>::min()}};
  for (const auto& row : undefined) {
    Slot err;
    EXPECT_EQ(kprj_SPEntryByZoneNumber(nullptr, row.second, row.first, &err), nullptr)
        << row.second;
    EXPECT_NE(err.report, nullptr);
  }
  Slot err;
  kprj_SPEntryByZoneNumber(nullptr, 407, 2, &err);
  EXPECT_EQ(message(err), "State Plane zone 407 is not defined on NAD code 2");

  int32_t count = 0, previous = 0;
  for (const Kprj_SPEntry* entry; (entry = kprj_SPEntryByIndex(count)) != nullptr; ++count) {
    EXPECT_EQ(entry->zone, -entry->usgsZone);
    EXPECT_GT(entry->usgsZone, previous);
    EXPECT_GT(std::strlen(entry->name), 3u);
    EXPECT_NE(entry->nadMask & (KPRJ_NAD27 | KPRJ_NAD83 | KPRJ_NAD83_HARN), 0);
    previous = entry->usgsZone;
  }
  EXPECT_EQ(count, 134);
}

TEST(Kprj, MapProjectionFormsRoundTrip) {
  ProHolder pro{kprj_ProParametersCreateByName("Lambert Conformal Conic", nullptr)};
  pro.pro->parameters[2] = 0.5;
  kprj_SpheroidByName(nullptr, "GRS 1980", pro.pro->spheroid, nullptr);
  _kprj_MapProjectionEx* narrow = kprj_ProjectionInit(kint_GetInit(), pro.pro, nullptr);
  ASSERT_NE(narrow, nullptr);
  EXPECT_STREQ(kprj_MapProjectionName(narrow), "Lambert Conformal Conic");
  EXPECT_EQ(kprj_MapProjectionNameU(narrow), nullptr);
  auto* form =
      static_cast<Kprj_ProParameters*>(kprj_MapProjectionCSRGet(narrow, "Kprj_ProParameters"));
  ASSERT_NE(form, nullptr);
  EXPECT_NE(form, pro.pro);
  EXPECT_EQ(form->parameters[2], 0.5);
  EXPECT_EQ(kprj_MapProjectionCSRGet(narrow, "Wkt"), nullptr);
  EXPECT_EQ(kprj_MapProjectionConvert(narrow, "Kprj_ProParameters"), 1);
  EXPECT_EQ(kprj_MapProjectionCSRGet(narrow, "Kprj_ProParameters"), form);

  _kprj_MapProjectionEx* wide = kprj_MapProjectionToUNICODE(narrow, nullptr);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide->textForm, KPRJ_TEXT_WIDE);
  EXPECT_STREQ(kprj_MapProjectionNameU(wide), L"Lambert Conformal Conic");
  EXPECT_EQ(kprj_MapProjectionName(wide), nullptr);
  _kprj_MapProjectionEx* wideCopy = kprj_ProjectionCopy(wide, 0, nullptr);
  ASSERT_NE(wideCopy, nullptr);
  EXPECT_EQ(wideCopy->textForm, KPRJ_TEXT_WIDE);
  _kprj_MapProjectionEx* back = kprj_MapProjectionToASCII(wideCopy, nullptr);
  ASSERT_NE(back, nullptr);
  EXPECT_STREQ(kprj_MapProjectionName(back), "Lambert Conformal Conic");
  auto* backForm =
      static_cast<Kprj_ProParameters*>(kprj_MapProjectionCSRGet(back, "Kprj_ProParameters"));
  ASSERT_NE(backForm, nullptr);
  EXPECT_EQ(backForm->number, 4);
  EXPECT_EQ(backForm->parameters[2], 0.5);
  EXPECT_STREQ(backForm->spheroid->name, "GRS 1980");

  // Known by name only until converted; a wide name-only projection converts too.
  _kprj_MapProjectionEx* byName = kprj_ProjectionCreateByName("mercator", nullptr);
  ASSERT_NE(byName, nullptr);
  EXPECT_EQ(kprj_MapProjectionCSRGet(byName, "Kprj_ProParameters"), nullptr);
  _kprj_MapProjectionEx* byNameWide = kprj_MapProjectionToUNICODE(byName, nullptr);
  EXPECT_EQ(kprj_MapProjectionConvert(byName, "Kprj_ProParameters"), 1);
  EXPECT_EQ(static_cast<Kprj_ProParameters*>(kprj_MapProjectionCSRGet(byName, "Kprj_ProParameters"))
                ->number,
            5);
  EXPECT_EQ(kprj_MapProjectionConvert(byNameWide, "Kprj_ProParameters"), 1);
  EXPECT_EQ(kprj_MapProjectionConvert(byNameWide, "Unknown form"), 0);
  _kprj_MapProjectionEx* unknown = kprj_ProjectionCreateByName("Not A Projection", nullptr);
  EXPECT_EQ(kprj_MapProjectionConvert(unknown, "Kprj_ProParameters"), 0);
  EXPECT_EQ(kprj_MapProjectionCSRGet(unknown, "Kprj_ProParameters"), nullptr);

  Slot err;
  for (_kprj_MapProjectionEx** p : {&narrow, &back, &byName, &unknown}) {
    kprj_ProjectionFree(p, &err);
    EXPECT_EQ(*p, nullptr);
    EXPECT_EQ(err.report, nullptr);
  }
  kprj_ProjectionFreeU(&wide, nullptr);
  kprj_ProjectionFreeU(&byNameWide, nullptr);
  // The wrong free still frees (ASan would see a leak), and says so.
  kprj_ProjectionFree(&wideCopy, &err);
  EXPECT_EQ(wideCopy, nullptr);
  EXPECT_EQ(kerr_ReportSeverity(err.report), KERR_WARNING);
  EXPECT_EQ(message(err), "Wide projection given to kprj_ProjectionFree");
}

TEST(Kprj, ElevationInfoNamesAndForms) {
  _kprj_ElevationInfo* info = kprj_ElevationInfoCreateByName(
      "wgs 84", "navd 88 (contus) (geoid99)", "international_feet", "HEIGHT", nullptr);
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info->spheroidName.narrow, "WGS 84");
  EXPECT_STREQ(info->datumName.narrow, "NAVD 88 (CONTUS) (GEOID99)");
  EXPECT_STREQ(info->unitsName.narrow, "international_feet");
  EXPECT_STREQ(info->kind.narrow, "height");
  EXPECT_EQ(info->datumCode, 5103);
  _kprj_ElevationInfo* wide = kprj_ElevationInfoToUNICODE(info, nullptr);
  ASSERT_NE(wide, nullptr);
  EXPECT_STREQ(wide->datumName.wide, L"NAVD 88 (CONTUS) (GEOID99)");
  _kprj_ElevationInfo* back = kprj_ElevationInfoToASCII(wide, nullptr);
  ASSERT_NE(back, nullptr);
  EXPECT_STREQ(back->unitsName.narrow, "international_feet");
  EXPECT_EQ(back->datumCode, 5103);
  kprj_ElevationInfoFree(&info, nullptr);
  kprj_ElevationInfoFreeU(&wide, nullptr);
  kprj_ElevationInfoFree(&back, nullptr);

  struct Bad {
    const char *spheroid, *datum, *units, *kind, *message;
  };
  const Bad bad[] = {{"Mars 2000", "WGS 84", "meters", "height", "Unknown spheroid Mars 2000"},
                     {"WGS 84", "NGVD 1066", "meters", "height", "Unknown datum NGVD 1066"},
                     {"WGS 84", "WGS 84", "", "height", "Empty units name"},
                     {"WGS 84", "WGS 84", "meters", "altitude", "Unknown elevation kind altitude"},
                     {nullptr, "WGS 84", "meters", "height", "Args"},
                     {"WGS 84", "WGS 84", "meters", nullptr, "Args"}};
  for (const Bad& b : bad) {
    Slot err;
    EXPECT_EQ(kprj_ElevationInfoCreateByName(b.spheroid, b.datum, b.units, b.kind, &err), nullptr);
    EXPECT_EQ(message(err), b.message);
  }
}

TEST(Kprj, MapInfoSetters) {
  Kprj_MapInfo* info = kprj_MapInfoCreate(nullptr);
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info->proName, kprj_ProjectionNameUnknown());
  EXPECT_STREQ(info->units, "other");
  EXPECT_EQ(kprj_MapInfoUpperLeftCenterSet(info, 1005, 1995, nullptr), 1);
  EXPECT_EQ(kprj_MapInfoLowerRightCenterSet(info, 1995, 1505, nullptr), 1);
  EXPECT_EQ(kprj_MapInfoPixelSizeSet(info, 10, -10, nullptr), 1);
  EXPECT_EQ(kprj_MapInfoProjectionNameSet(info, "UTM", nullptr), 1);
  EXPECT_EQ(kprj_MapInfoUnitsSet(info, "meters", nullptr), 1);
  EXPECT_EQ(info->upperLeftCenter.x, 1005);
  EXPECT_EQ(info->lowerRightCenter.y, 1505);
  EXPECT_EQ(info->pixelSize.y, -10);
  EXPECT_STREQ(info->proName, "UTM");
  EXPECT_STREQ(info->units, "meters");

  const double inf = std::numeric_limits<double>::infinity();
  Slot err;
  EXPECT_EQ(kprj_MapInfoPixelSizeSet(info, inf, 1, &err), 0);
  EXPECT_NE(err.report, nullptr);
  EXPECT_EQ(kprj_MapInfoUpperLeftCenterSet(info, 0, std::nan(""), &err), 0);
  EXPECT_EQ(kprj_MapInfoUnitsSet(info, nullptr, &err), 0);
  EXPECT_EQ(kprj_MapInfoLowerRightCenterSet(nullptr, 0, 0, &err), 0);
  EXPECT_EQ(message(err), "Args");
  EXPECT_EQ(info->pixelSize.x, 10);
  EXPECT_EQ(info->upperLeftCenter.y, 1995);
  EXPECT_STREQ(info->units, "meters");
  kprj_MapInfoFree(&info, nullptr);
  EXPECT_EQ(info, nullptr);
}

TEST(Kprj, LegacyHelperFreesWithTheMatchingFunction) {
  ReportCapture capture;  // a mismatched free would leave a warning; none may be printed
  {
    LegacyHelperTemplate<_kprj_MapProjectionEx, KtxtTextA> narrow(
        kprj_ProjectionCreateByName("UTM", nullptr));
    LegacyHelperTemplate<_kprj_MapProjectionEx, KtxtTextU> wide(
        kprj_MapProjectionToUNICODE(narrow.get(), nullptr));
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->textForm, KPRJ_TEXT_WIDE);
    LegacyHelperTemplate<_kprj_ElevationInfo, KtxtTextA> elevation;
    *&elevation =
        kprj_ElevationInfoCreateByName("Undefined", "Undefined", "meters", "height", nullptr);
    ASSERT_TRUE(elevation);
    LegacyHelperTemplate<_kprj_ElevationInfo, KtxtTextU> elevationU(
        kprj_ElevationInfoToUNICODE(elevation.get(), nullptr));
    // Filling through the address frees what was held.
    *&elevation = kprj_ElevationInfoCreateByName("WGS 84", "WGS 84", "meters", "depth", nullptr);
    EXPECT_STREQ(elevation->kind.narrow, "depth");
    // Moves pass ownership; release hands it out.
    LegacyHelperTemplate<_kprj_MapProjectionEx, KtxtTextA> moved(std::move(narrow));
    EXPECT_FALSE(narrow);
    narrow = std::move(moved);
    EXPECT_TRUE(narrow);
    _kprj_MapProjectionEx* released = narrow.release();
    EXPECT_FALSE(narrow);
    kprj_ProjectionFree(&released, nullptr);
    narrow.reset(kprj_ProjectionCreateByName("Mercator", nullptr));
  }
  EXPECT_TRUE(capture.printed.empty());
}

TEST(Kprj, HostileInput) {
  Slot err;
  EXPECT_EQ(kprj_DblArrayCreate(0, 1.0), nullptr);
  EXPECT_EQ(kprj_DblArrayCreate(-3, 1.0), nullptr);
  EXPECT_EQ(kprj_CharStrCreate(nullptr), nullptr);
  EXPECT_EQ(kprj_ProParametersCopy(nullptr, &err), nullptr);
  EXPECT_EQ(message(err), "Args");
  kprj_ProParametersFree(nullptr, &err);
  EXPECT_EQ(message(err), "Args");
  kprj_SpheroidFree(nullptr, &err);
  kprj_ProjectionFree(nullptr, &err);
  EXPECT_EQ(message(err), "Args");
  kprj_ElevationInfoFreeU(nullptr, &err);
  kprj_MapInfoFree(nullptr, &err);
  EXPECT_EQ(message(err), "Args");
  _kprj_MapProjectionEx* none = nullptr;
  kprj_ProjectionFree(&none, &err);  // freeing nothing is fine
  EXPECT_EQ(err.report, nullptr);

  SpheroidHolder holder;
  auto* foreign = reinterpret_cast<Kint_Init*>(&holder);
  EXPECT_EQ(kprj_SpheroidByName(foreign, "WGS 84", holder.spheroid, &err), 0);
  EXPECT_EQ(message(err), "Invalid toolkit context");
  EXPECT_EQ(kprj_SPEntryByZoneNumber(foreign, 101, 1, &err), nullptr);
  EXPECT_EQ(kprj_ProjectionInit(foreign, nullptr, &err), nullptr);
  EXPECT_EQ(kprj_SpheroidByName(nullptr, "WGS 84", nullptr, &err), 0);
  EXPECT_EQ(kprj_SpheroidByName(nullptr, "Unknown", holder.spheroid, &err), 0);
  EXPECT_EQ(message(err), "Unknown spheroid Unknown");
  EXPECT_EQ(kprj_DatumByName(nullptr, nullptr, "WGS 84", holder.spheroid->datum, &err), 0);
  EXPECT_EQ(kprj_ProjectionInit(nullptr, nullptr, &err), nullptr);
  EXPECT_EQ(kprj_ProjectionCreateByName("", &err), nullptr);
  EXPECT_EQ(message(err), "Args");

  // Records whose text form is neither narrow nor wide are refused, not guessed at.
  _kprj_MapProjectionEx odd{};
  odd.textForm = 7;
  EXPECT_EQ(kprj_MapProjectionToASCII(&odd, &err), nullptr);
  EXPECT_EQ(message(err), "Invalid text form 7");
  EXPECT_EQ(kprj_MapProjectionConvert(&odd, "Kprj_ProParameters"), 0);
  _kprj_ElevationInfo oddInfo{};
  oddInfo.textForm = -1;
  EXPECT_EQ(kprj_ElevationInfoCopy(&oddInfo, &err), nullptr);
  EXPECT_EQ(kprj_MapProjectionCSRGet(nullptr, "Kprj_ProParameters"), nullptr);
  EXPECT_EQ(kprj_MapProjectionCSRGet(&odd, nullptr), nullptr);
  EXPECT_EQ(kprj_MapProjectionName(nullptr), nullptr);
  EXPECT_EQ(kprj_ProjectionNameByNumber(37), nullptr);
  EXPECT_EQ(kprj_SPEntryByIndex(-1), nullptr);
  EXPECT_EQ(kprj_SpheroidEntryByName(nullptr), nullptr);
}

}  // namespace
