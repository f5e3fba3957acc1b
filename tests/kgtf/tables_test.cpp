// The geodetic code tables: sizes and ends, the duplicate rows and which one
// each lookup finds, and the default units of a projection.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include <geotiffio.h>

#include "kgtf.h"
#include "kmsc.h"
#include "kprj.h"
#include "tables.h"

namespace {

template <typename Row>
void expectExtent(const Row* table, size_t size, size_t expected, int32_t first, int32_t last) {
  ASSERT_EQ(size, expected);
  EXPECT_EQ(table[0].code, first);
  EXPECT_EQ(table[size - 1].code, last);
}

TEST(Tables, SizesAndEnds) {
  expectExtent(datumTable, datumTableSize, 81, 6173, 6035);
  expectExtent(spheroidTable, spheroidTableSize, 36, 7001, 7036);
  expectExtent(angularUnitsTable, angularUnitsTableSize, 5, 9101, 9105);
  expectExtent(linearUnitsTable, linearUnitsTableSize, 20, 9001, 9041);
  expectExtent(gcsTable, gcsTableSize, 68, 4201, 4035);
  expectExtent(utmPcsTable, utmPcsTableSize, 374, 20137, 32760);
  expectExtent(statePlanePcsTable, statePlanePcsTableSize, 507, 26729, 2930);
  expectExtent(verticalCsTable, verticalCsTableSize, 12, 5001, 5103);
  ASSERT_EQ(projectionNameTableSize, 37u);
  EXPECT_STREQ(projectionNameByNumber(0), "Geographic (Lat/Lon)");
  EXPECT_EQ(projectionNameByNumber(37), nullptr);
  EXPECT_EQ(projectionNameByNumber(-1), nullptr);
  EXPECT_STREQ(datumTable[0].name, "IRENET95");
  EXPECT_STREQ(datumTable[datumTableSize - 1].name, "Sphere");
  EXPECT_STREQ(linearUnitsTable[linearUnitsTableSize - 1].name, "sears_foot");

  // Spheroid codes run 7001..7036 one per row; 16 of them are nameless.
  int nameless = 0;
  for (size_t i = 0; i < spheroidTableSize; ++i) {
    EXPECT_EQ(spheroidTable[i].code, static_cast<int32_t>(7001 + i));
    nameless += spheroidTable[i].name[0] == '\0';
  }
  EXPECT_EQ(nameless, 16);
}

TEST(Tables, DatumAndSpheroidLookups) {
  EXPECT_EQ(kgtf_GetDatumCode("wgs 84"), 6326);  // not the later 6030 row
  EXPECT_EQ(kgtf_GetDatumCode("European 1950"), 6230);
  EXPECT_EQ(kgtf_GetDatumCode(nullptr), -1);
  EXPECT_EQ(kgtf_GetDatumCode("NAD83"), -1);  // a UTM datum name, not a datum row

  EXPECT_EQ(kgtf_GetDatumName(32767), nullptr);
  for (auto [code, name] : {std::pair{6267, "NAD27"}, {6231, "European 1950"}}) {
    char* copy = kgtf_GetDatumName(code);  // the caller's to free
    EXPECT_STREQ(copy, name);
    kmsc_HeapFree(copy);
  }

  EXPECT_STREQ(kgtf_GetSpheroidName(7005), "");
  EXPECT_STREQ(kgtf_GetSpheroidName(7030), "WGS 84");
  EXPECT_STREQ(spheroidNameByCode(7030 + 65536), "");  // full 32-bit compare
  EXPECT_EQ(kgtf_GetSpheroidCode(nullptr), -1);
  EXPECT_EQ(kgtf_GetSpheroidCode(""), 7005);  // first nameless row
  EXPECT_EQ(kgtf_GetSpheroidCode("INTERNATIONAL 1909"), 7022);
}

TEST(Tables, Units) {
  EXPECT_EQ(unitsCodeByName("US_Survey_Feet"), 9003);
  EXPECT_EQ(unitsCodeByName("benoit_chains"), 9010);
  EXPECT_EQ(unitsCodeByName("dd"), -1);
  EXPECT_EQ(unitsCodeByName(nullptr), -1);
  EXPECT_STREQ(linearUnitsNameByCode(9003), "us_survey_feet");
  EXPECT_EQ(linearUnitsNameByCode(9102), nullptr);
  EXPECT_STREQ(angularUnitsNameByCode(9102), "dd");
  EXPECT_EQ(angularUnitsNameByCode(9001), nullptr);
}

TEST(Tables, CoordinateSystemRows) {
  // Rows read in full are checked through the geocoding reader.
  EXPECT_EQ(utmPcsRowByCode(32661), nullptr);

  // Typing slips show up as repeated codes or impossible zones.
  std::set<int32_t> codes;
  for (size_t i = 0; i < utmPcsTableSize; ++i) {
    const KgtfUtmPcsRow& r = utmPcsTable[i];
    EXPECT_TRUE(codes.insert(r.code).second) << r.code;
    EXPECT_TRUE(r.zone >= 1 && r.zone <= 60) << r.code;
    EXPECT_TRUE(r.hemisphere == 1 || r.hemisphere == -1) << r.code;
  }
  int perNad[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < statePlanePcsTableSize; ++i) {
    const KgtfStatePlanePcsRow& r = statePlanePcsTable[i];
    ASSERT_TRUE(r.nadCode >= 1 && r.nadCode <= 3);
    ++perNad[r.nadCode];
    EXPECT_LT(r.zone, 0) << r.code;
  }
  EXPECT_EQ(std::vector<int>(perNad + 1, perNad + 4), (std::vector<int>{128, 207, 172}));

  // The two codes stored twice: a code search finds the first row, a
  // NAD-and-zone search the row of that pair.
  EXPECT_EQ(statePlanePcsRowByCode(2284)->zone, -4502);
  EXPECT_EQ(statePlanePcsRowByNadZone(2, -4702)->code, 32151);  // before 2284
  EXPECT_EQ(statePlanePcsRowByCode(2857)->nadCode, 2);
  EXPECT_EQ(statePlanePcsRowByNadZone(3, -4701)->code, 2857);
  EXPECT_EQ(statePlanePcsRowByNadZone(1, -101)->code, 26729);
  EXPECT_EQ(statePlanePcsRowByNadZone(2, -101)->code, 26929);  // before 102629
  EXPECT_EQ(statePlanePcsRowByNadZone(3, -9999), nullptr);

  EXPECT_STREQ(gcsRowByCode(4326)->datum, "WGS 84");
  EXPECT_EQ(gcsRowByCode(4001)->datum, nullptr);
  EXPECT_EQ(gcsRowByCode(4268), nullptr);
  EXPECT_STREQ(verticalCsRowByCode(5103)->verticalDatum, "NAVD 88 (CONTUS) (GEOID99)");
  EXPECT_EQ(verticalCsRowByCode(5030)->verticalDatum, nullptr);
  EXPECT_EQ(verticalCsRowByCode(5101), nullptr);
}

TEST(Tables, DefaultUnits) {
  GTIF* gtif = GTIFNew(nullptr);
  struct Case {
    const char* projection;
    double nadCode;
    int pcs;  // 0: no key
    const char* units;
  } cases[] = {
      {"Geographic (Lat/Lon)", 0, 0, "dd"},
      {"State Plane", 1, 0, "us_survey_feet"},
      {"State Plane", 3, 0, "us_survey_feet"},
      {"State Plane", 2, 0, "meters"},
      {"UTM", 0, 0, "meters"},
      {"RSO Borneo", 0, 29872, "sears_foot"},
      {"rso Malaya", 0, 3167, "sears_chain"},
      {"RSO Borneo", 0, 29871, "sears_chain"},
      {"RSO Borneo", 0, 32631, "meters"},
  };
  for (const Case& c : cases) {
    Kprj_ProParameters* pro = kprj_ProParametersCreateByName(c.projection, nullptr);
    ASSERT_NE(pro, nullptr);
    pro->parameters[0] = c.nadCode;
    GTIFKeySet(gtif, ProjectedCSTypeGeoKey, TYPE_SHORT, c.pcs ? 1 : -1, c.pcs);  // -1 removes
    EXPECT_STREQ(DefaultUnitsNameGet(pro, gtif), c.units) << c.projection << " " << c.pcs;
    kprj_ProParametersFree(&pro, nullptr);
  }
  Kprj_ProParameters* rso = kprj_ProParametersCreateByName("RSO Borneo", nullptr);
  EXPECT_STREQ(DefaultUnitsNameGet(rso, nullptr), "meters");
  // A key of the wrong type is not read as a code.
  GTIFKeySet(gtif, ProjectedCSTypeGeoKey, TYPE_DOUBLE, 1, 29872.0);
  EXPECT_STREQ(DefaultUnitsNameGet(rso, gtif), "meters");
  EXPECT_STREQ(DefaultUnitsNameGet(nullptr, gtif), "meters");
  EXPECT_STREQ(RSOUnitsNameGet(nullptr), "meters");
  kprj_ProParametersFree(&rso, nullptr);
  GTIFFree(gtif);
}

}  // namespace
