// The geodetic code tables: the duplicate rows and which one each lookup
// finds, the names the host must know, and the default units of a projection.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

#include "geotiff_file.h"
#include "host_owners.h"
#include "kgtf.h"
#include "kint.h"
#include "tables.h"

namespace {

// The host's spheroid and datum tables know every name these tables and the
// zone readers hand them, paired as the readers pair them.
TEST(Tables, EveryNameIsKnownToTheHost) {
  Owned<Kprj_Spheroid, kprj_SpheroidFree> spheroid(kprj_SpheroidCreate(nullptr));
  auto known = [&](const char* spheroidName, const char* datum) {
    EXPECT_EQ(kprj_SpheroidByName(kint_GetInit(), spheroidName, spheroid.get(), nullptr), 1)
        << spheroidName;
    if (datum != nullptr) {
      EXPECT_EQ(kprj_DatumByName(kint_GetInit(), spheroidName, datum, spheroid->datum, nullptr), 1)
          << spheroidName << " / " << datum;
    }
  };
  for (size_t i = 0; i < spheroidTableSize; ++i)
    if (*spheroidTable[i].name) known(spheroidTable[i].name, nullptr);
  // The user-defined geographic reader's road: datum name, its spheroid, both applied.
  for (size_t i = 0; i < datumTableSize; ++i) {
    HeapText name(kprj_GetSpheroidNameByDatumName(kint_GetInit(), datumTable[i].name, nullptr));
    ASSERT_NE(name, nullptr) << datumTable[i].name;
    known(name.get(), datumTable[i].name);
  }
  for (size_t i = 0; i < gcsTableSize; ++i) known(gcsTable[i].spheroid, gcsTable[i].datum);
  for (size_t i = 0; i < utmPcsTableSize; ++i) known(utmPcsTable[i].spheroid, utmPcsTable[i].datum);
  for (size_t i = 0; i < verticalCsTableSize; ++i)
    if (verticalCsTable[i].spheroid) known(verticalCsTable[i].spheroid, nullptr);
  for (auto [spheroidName, datum] : {std::pair{"Clarke 1866", "NAD27"},
                                     {"GRS 1980", "NAD83"},
                                     {"GRS 1980", "HARN"},
                                     {"GRS 1980", "GDA94"},
                                     {"Airy", "Ord. Survey G. Britain 1936"},
                                     {"Modified Everest", "Kertau 1948"},
                                     {"Everest (Sabah & Sarawak)", "Timbalai 1948"},
                                     {"International 1909", "Bogota Observatory"},
                                     {"Krasovsky", "Pulkovo 1942"}})
    known(spheroidName, datum);
}

TEST(Tables, DatumAndSpheroidLookups) {
  EXPECT_EQ(kgtf_GetDatumCode("wgs 84"), 6326);  // not the later 6030 row
  EXPECT_EQ(kgtf_GetDatumCode("European 1950"), 6230);
  EXPECT_EQ(kgtf_GetDatumCode(nullptr), -1);
  EXPECT_EQ(kgtf_GetDatumCode("NAD83"), -1);  // a UTM datum name, not a datum row

  EXPECT_EQ(kgtf_GetDatumName(32767), nullptr);
  EXPECT_STREQ(kgtf_GetSpheroidName(7005), "");
  EXPECT_STREQ(spheroidNameByCode(7030 + 65536), "");  // full 32-bit compare
  EXPECT_EQ(kgtf_GetSpheroidCode(""), 7005);           // first nameless row
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
  for (size_t i = 0; i < statePlanePcsTableSize; ++i) {
    const KgtfStatePlanePcsRow& r = statePlanePcsTable[i];
    EXPECT_TRUE(r.nadCode >= 1 && r.nadCode <= 3 && r.zone < 0) << r.code;
  }

  // The two codes stored twice: a code search finds the first row, a
  // NAD-and-zone search the row of that pair.
  EXPECT_EQ(statePlanePcsRowByCode(2284)->zone, -4502);
  EXPECT_EQ(statePlanePcsRowByNadZone(2, -4702)->code, 32151);  // before 2284
  EXPECT_EQ(statePlanePcsRowByCode(2857)->nadCode, 2);
  EXPECT_EQ(statePlanePcsRowByNadZone(3, -4701)->code, 2857);
  EXPECT_EQ(statePlanePcsRowByNadZone(1, -101)->code, 26729);
  EXPECT_EQ(statePlanePcsRowByNadZone(2, -101)->code, 26929);  // before 102629
  EXPECT_EQ(statePlanePcsRowByNadZone(3, -9999), nullptr);
}

TEST(Tables, DefaultUnits) {
  Gtif owner(GTIFNew(nullptr));
  GTIF* gtif = owner.get();
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
    Pro pro(kprj_ProParametersCreateByName(c.projection, nullptr));
    ASSERT_NE(pro, nullptr);
    pro->parameters[0] = c.nadCode;
    GTIFKeySet(gtif, ProjectedCSTypeGeoKey, TYPE_SHORT, c.pcs ? 1 : -1, c.pcs);  // -1 removes
    EXPECT_STREQ(DefaultUnitsNameGet(pro.get(), gtif), c.units) << c.projection << " " << c.pcs;
  }
  Pro rso(kprj_ProParametersCreateByName("RSO Borneo", nullptr));
  EXPECT_STREQ(DefaultUnitsNameGet(rso.get(), nullptr), "meters");
  // A key of the wrong type is not read as a code.
  GTIFKeySet(gtif, ProjectedCSTypeGeoKey, TYPE_DOUBLE, 1, 29872.0);
  EXPECT_STREQ(DefaultUnitsNameGet(rso.get(), gtif), "meters");
  EXPECT_STREQ(DefaultUnitsNameGet(nullptr, gtif), "meters");
  EXPECT_STREQ(RSOUnitsNameGet(nullptr), "meters");
}

}  // namespace
