// The in-memory GeoKey directory: how keys are laid out as they are added,
// copies, and the conversion through the file readers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>

#include "geokey_directory.h"
#include "kerr_exception.h"
#include "geocoding.h"
#include "key_source.h"
#include "geotiff_file.h"
#include "host_owners.h"
#include "kgda.h"
#include "kgtf.h"
#include "kprj.h"
#include "kmsc.h"
#include "kstr.h"
#include "test_support.h"

namespace {

using Entry = KgtfGeoKeyDirectoryTag::Entry;

void stringsAdd(KgtfGeoKeyDirectoryTag& dir, unsigned short key,
                std::initializer_list<const char*> strings) {
  KstrStringList* list = nullptr;
  for (const char* s : strings) kstr_StringListAppend(&list, s, nullptr);
  dir.addGeoKey(key, *list);
  kstr_StringListDelete(&list, nullptr);
}

void doublesAdd(KgtfGeoKeyDirectoryTag& dir, unsigned short key, std::vector<double> values) {
  KgdaBaseData* data =
      kgda_BaseDataCreate(1, int32_t(values.size()), KMSC_PIXEL_F64, 1, 0, nullptr);
  for (size_t i = 0; i < values.size(); ++i) kgda_BaseDataSet(data, 0, int32_t(i), values[i]);
  dir.addGeoKey(key, *data);
  kgda_BaseDataDelete(&data, nullptr);
}

TEST(GeoKeyDirectory, KeysAreLaidOutAsAdded) {
  KgtfGeoKeyDirectoryTag dir;
  dir.addGeoKey(1024, 1);
  dir.addGeoKey(1024, 2);  // a duplicate: the first value stays
  stringsAdd(dir, 1026, {"ab", "cde"});
  KgtfGeoKeyDirectoryTag copy(dir);
  stringsAdd(dir, 2049, {"x"});
  doublesAdd(dir, 2057, {1, 2, 3});
  doublesAdd(dir, 2058, {4, 5});
  EXPECT_EQ(dir.entries(), (std::vector<Entry>{{1024, 0, 1, 1},
                                               {1026, 34737, 5, 0},
                                               {2049, 34737, 1, 7},
                                               {2057, 34736, 3, 0},
                                               {2058, 34736, 2, 3}}));
  EXPECT_STREQ(dir.ascii(), "ab|cde|x|");
  EXPECT_EQ(dir.doubles(), (std::vector<double>{1, 2, 3, 4, 5}));
  EXPECT_EQ(dir.header().numberOfKeys, 5);
  EXPECT_EQ(dir.asciiStrings(), 3);
  // The copy made earlier does not see later keys.
  EXPECT_EQ(copy.entries().size(), 2u);
  EXPECT_STREQ(copy.ascii(), "ab|cde|");
  EXPECT_EQ(copy.header().numberOfKeys, 2);
}

struct Converted {
  explicit Converted(KgtfGeoKeyDirectoryTag& dir) { dir.GetEPRJ(projection, units, elevation); }
  const Kprj_ProParameters* pro() {
    return static_cast<const Kprj_ProParameters*>(
        kprj_MapProjectionCSRGet(projection.get(), KPRJ_FORM_PRO_PARAMETERS));
  }
  LegacyHelperTemplate<_kprj_MapProjectionEx, KtxtTextA> projection;
  KtxtTextA units;
  LegacyHelperTemplate<_kprj_ElevationInfo, KtxtTextA> elevation;
};

TEST(GeoKeyDirectory, ConvertsThroughTheGeocodingReaders) {
  KgtfGeoKeyDirectoryTag utm;
  utm.addGeoKey(3072, 32633);  // no model type: projected from the entry
  Converted u(utm);
  ASSERT_NE(u.pro(), nullptr);
  EXPECT_EQ(u.pro()->number, 1);
  EXPECT_EQ(u.pro()->zone, 33);
  EXPECT_STREQ(u.pro()->spheroid->name, "WGS 84");
  EXPECT_STREQ(u.units.c_str(), "meters");
  ASSERT_NE(u.elevation.get(), nullptr);

  KgtfGeoKeyDirectoryTag nad27;
  nad27.addGeoKey(2048, 4267);
  Converted g(nad27);
  ASSERT_NE(g.pro(), nullptr);
  EXPECT_EQ(g.pro()->number, 0);
  EXPECT_STREQ(g.units.c_str(), "dd");

  // A conversion code the directory road does not resolve fails the read,
  // and GetEPRJ throws.
  KgtfGeoKeyDirectoryTag broken;
  broken.addGeoKey(1024, 1);
  broken.addGeoKey(3072, 32767);
  broken.addGeoKey(3074, 99);
  LegacyHelperTemplate<_kprj_MapProjectionEx, KtxtTextA> projection;
  KtxtTextA units;
  LegacyHelperTemplate<_kprj_ElevationInfo, KtxtTextA> elevation;
  EXPECT_THROW(broken.GetEPRJ(projection, units, elevation), KerrExceptionA);
  EXPECT_EQ(projection.get(), nullptr);
}

// The vertical keys give the elevation, with or without a coordinate system;
// a coded system without a units key is in the registry's units.
TEST(GeoKeyDirectory, VerticalKeysGiveTheElevation) {
  const struct {
    bool withSystem;
    unsigned short vertical, units;
    const char *spheroid, *datum, *unitsName;
  } cases[] = {
      {true, 5103, 9002, "WGS 84", "NAVD 88 (CONTUS) (GEOID99)", "international_feet"},
      {false, 5103, 9002, "Undefined", "Undefined", "international_feet"},
      {true, 6360, 0, "Undefined", "Undefined", "us_survey_feet"},
  };
  for (const auto& c : cases) {
    KgtfGeoKeyDirectoryTag dir;
    if (c.withSystem) dir.addGeoKey(2048, 4326);
    dir.addGeoKey(4096, c.vertical);
    if (c.units != 0) dir.addGeoKey(4099, c.units);
    Converted got(dir);
    ASSERT_NE(got.elevation.get(), nullptr);
    EXPECT_STREQ(got.elevation->spheroidName.narrow, c.spheroid);
    EXPECT_STREQ(got.elevation->datumName.narrow, c.datum);
    EXPECT_STREQ(got.elevation->unitsName.narrow, c.unitsName);
  }
}

// A file's keys read by both roads: the file readers through libgeotiff,
// and the key-directory reader given the file's stored directory.
struct Roads {
  explicit Roads(const std::string& keys, const char* citation = "both roads")
      : file([&](GTIF* g) {
          geoKeysSet(g, keys);
          GTIFKeySet(g, GeogCitationGeoKey, TYPE_ASCII, 0, citation);
        }) {
    HeapText name;
    fileFailed = GeoTIFFGeocodingGet(file.gtif(), out(name), out(fileUnits), out(fileProjection),
                                     out(fileErr)) != 0;
    const GeoTiffOpen::Directory d = file.in.directory();
    EXPECT_GE(d.shorts.size(), 4u);
    kgtf_ConvertCSFromGeoKeysToEPRJ(
        d.shorts.data(), d.shorts.data() + 4, uint16_t(d.doubles.size()), d.doubles.data(), 1,
        d.ascii.c_str(), out(memoryProjection), out(memoryUnits), out(elevation), out(memoryErr));
  }
  static const Kprj_ProParameters* pro(const Projection& projection) {
    return static_cast<const Kprj_ProParameters*>(
        kprj_MapProjectionCSRGet(projection.get(), KPRJ_FORM_PRO_PARAMETERS));
  }
  GeoTiffFile file;
  bool fileFailed = false;
  Report fileErr, memoryErr;
  Projection fileProjection, memoryProjection;
  HeapText fileUnits, memoryUnits;
  Elevation elevation;
};

void expectSameRecord(const Kprj_ProParameters* a, const Kprj_ProParameters* b) {
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(a->number, b->number);
  EXPECT_EQ(a->zone, b->zone);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(a->parameters[i], b->parameters[i]) << i;
  EXPECT_EQ(a->spheroid->semiMajor, b->spheroid->semiMajor);
  EXPECT_EQ(a->spheroid->semiMinor, b->spheroid->semiMinor);
}

// The same keys read alike on both roads: the directory's shorts, doubles
// and texts reach the readers whole.
TEST(GeoKeyDirectory, BothRoadsAgree) {
  const char* keySets[] = {
      "1024:1 3072:32633",
      "1024:2 2048:4674",
      "1024:1 3072:3035",
      "1024:1 3072:2263",
      "1024:1 3072:32767 3074:32767 2048:4326 3075:8 3078=45 3079=50 3084=10 3085=40 "
      "3086=100 3087=200 3076:9002",
      "1024:1 3072:32767 3074:32767 2048:32767 2050:6742 2054:9102 3075:11 3088=10 3089=52 "
      "3082=4321000 3083=3210000",
      "1024:2 2048:32767 2050:32767 2056:32767 2057=6378137 2059=298.257222101",
      "1024:1 3072:32767 3074:16033 2048:4230",
      "1024:1 3072:32767 3074:16203 2048:4284 3076:9001",
      "1024:1 3072:32767 3074:10405",
  };
  for (const char* keys : keySets) {
    SCOPED_TRACE(keys);
    Roads roads(keys);
    ASSERT_FALSE(roads.fileFailed) << joinedMessages(roads.fileErr.get());
    EXPECT_EQ(roads.memoryErr.get(), nullptr) << joinedMessages(roads.memoryErr.get());
    expectSameRecord(Roads::pro(roads.memoryProjection), Roads::pro(roads.fileProjection));
    EXPECT_STREQ(roads.memoryUnits.get(), roads.fileUnits.get());
  }
}

// The labels of a report chain, outermost first.
std::vector<std::string> reportLabels(const Kerr_Report* report) {
  std::vector<std::string> labels;
  for (; report != nullptr; report = kerr_ReportCause(report))
    labels.push_back(kerr_ReportLabel(report));
  return labels;
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

// Where a host's own directory is read unlike a file: RSO grids and EPSG
// conversions named by ProjectionGeoKey are not resolved, a user-defined
// ellipsoid without axes ends the read without the datum check, and the
// Pulkovo citation rule is the file's alone. Reports carry the twins' labels.
TEST(GeoKeyDirectory, RoadsDifferWhereTheHostHoldsTheKeys) {
  Roads rso("1024:1 3072:32767 3074:19935 2048:4245 3076:9001");
  EXPECT_NE(Roads::pro(rso.fileProjection), nullptr) << joinedMessages(rso.fileErr.get());
  EXPECT_EQ(rso.memoryProjection.get(), nullptr);
  EXPECT_THAT(reportMessages(rso.memoryErr.get()), testing::Contains("Error obtaining projection"));
  EXPECT_TRUE(contains(reportLabels(rso.memoryErr.get()), "gk_CSInfoPCSRead"));
  EXPECT_TRUE(contains(reportLabels(rso.memoryErr.get()), "kgtf_ConvertCSFromGeoKeysToEPRJ"));

  Roads conversion("1024:1 3072:32767 3074:19916 2048:4277");
  EXPECT_NE(Roads::pro(conversion.fileProjection), nullptr);
  EXPECT_EQ(conversion.memoryProjection.get(), nullptr);

  Roads noAxes("1024:2 2048:32767 2050:6999 2056:32767");
  EXPECT_TRUE(noAxes.fileFailed);
  EXPECT_THAT(joinedMessages(noAxes.fileErr.get()), testing::HasSubstr("Unknown datum: 6999"));
  EXPECT_EQ(noAxes.memoryErr.get(), nullptr) << joinedMessages(noAxes.memoryErr.get());

  Roads pulkovo("1024:2 2048:32767 2050:32767 2056:7024",
                "User Defined, Horizontal Datum PULKOVO 1942");
  const Kprj_ProParameters* file = Roads::pro(pulkovo.fileProjection);
  const Kprj_ProParameters* memory = Roads::pro(pulkovo.memoryProjection);
  ASSERT_NE(file, nullptr);
  ASSERT_NE(memory, nullptr);
  EXPECT_STREQ(file->spheroid->datum->name, "Pulkovo 1942");
  EXPECT_STRNE(memory->spheroid->datum->name ? memory->spheroid->datum->name : "", "Pulkovo 1942");
}

// keyDirKeyGet reads a directory as it stands: an entry's own location
// decides, the first entry of a key wins, the model type is inferred only
// without a readable GTModelTypeGeoKey, and nothing is read past the values.
TEST(GeoKeyDirectory, KeysAreReadFromTheEntries) {
  const uint16_t header[4] = {1, 1, 0, 6};
  const uint16_t entries[] = {1024, 34736, 1, 0, 2048, 0,     1, 4326, 2048, 0, 1, 4267,
                              2057, 34736, 2, 0, 2049, 34737, 3, 1,    4096, 1, 1, 5};
  const double doubles[2] = {6378137, 6356752};
  const gk_CSInfo record = gk_CSInfoCreate(header, entries, 2, doubles, 1, "xab|");
  uint16_t value = 7;
  EXPECT_EQ(keyDirKeyGet(GTModelTypeGeoKey, record, &value, 0, 1), 1);
  EXPECT_EQ(value, ModelTypeGeographic);
  EXPECT_EQ(keyDirKeyGet(GeographicTypeGeoKey, record, &value, 0, 1), 1);
  EXPECT_EQ(value, 4326);
  value = 7;
  EXPECT_EQ(keyDirKeyGet(VerticalCSTypeGeoKey, record, &value, 0, 1), 1);
  EXPECT_EQ(value, 7);  // location 1 holds nothing the reader can take
  EXPECT_EQ(keyDirKeyGet(VerticalUnitsGeoKey, record, &value, 0, 1), 0);
  double axis = 0;
  EXPECT_EQ(keyDirKeyGet(GeogSemiMajorAxisGeoKey, record, &axis, 1, 1), 1);
  EXPECT_EQ(axis, 6356752);
  EXPECT_EQ(keyDirKeyGet(GeogSemiMajorAxisGeoKey, record, &axis, 1, 2), 0);
  char text[4] = "zzz";
  EXPECT_EQ(keyDirKeyGet(GeogCitationGeoKey, record, text, 0, 0), 1);
  EXPECT_STREQ(text, "ab|");
  // A header that claims fewer entries hides the rest.
  const uint16_t shortHeader[4] = {1, 1, 0, 1};
  const gk_CSInfo first = gk_CSInfoCreate(shortHeader, entries, 2, doubles, 1, "xab|");
  EXPECT_EQ(keyDirKeyGet(GTModelTypeGeoKey, first, &value, 0, 1), 0);
  EXPECT_EQ(keyDirKeyGet(GeographicTypeGeoKey, first, &value, 0, 1), 0);
}

// Entries whose values lie outside the parameters they name are not found.
TEST(GeoKeyDirectory, HostileEntriesReadNothing) {
  const unsigned short header[4] = {1, 1, 0, 3};
  const unsigned short entries[] = {1024,  0,    1,     2, 2048, 0, 1,
                                    32767, 2057, 34736, 3, 65534};  // doubles past the two held
  const double doubles[2] = {6378137, 6356752};
  _kprj_MapProjectionEx* projection = nullptr;
  char* units = nullptr;
  _kprj_ElevationInfo* elevation = nullptr;
  Report err;
  ReportCapture capture;
  kgtf_ConvertCSFromGeoKeysToEPRJ(header, entries, 2, doubles, 0, "", &projection, &units,
                                  &elevation, out(err));
  bool noticed = false;
  for (const auto& p : capture.printed)
    noticed |= p.message.find("lie outside its parameters") != std::string::npos;
  EXPECT_TRUE(noticed);
  kprj_ProjectionFree(&projection, nullptr);
  kmsc_HeapFree(units);
  kprj_ElevationInfoFree(&elevation, nullptr);
}

}  // namespace
