// The in-memory GeoKey directory: how keys are laid out as they are added,
// copies, and the conversion through the file readers.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "geokey_directory.h"
#include "kerr_exception.h"
#include "geocoding.h"
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

TEST(GeoKeyDirectory, ConvertsThroughTheFileReaders) {
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

  // Doubles the directory does not hold are not read: a user-defined
  // ellipsoid without its axes fails, and GetEPRJ throws.
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

// The vertical keys give the elevation, with or without a coordinate system.
TEST(GeoKeyDirectory, VerticalKeysGiveTheElevation) {
  const struct {
    bool withSystem;
    const char *spheroid, *datum;
  } cases[] = {{true, "WGS 84", "NAVD 88 (CONTUS) (GEOID99)"}, {false, "Undefined", "Undefined"}};
  for (const auto& c : cases) {
    KgtfGeoKeyDirectoryTag dir;
    if (c.withSystem) dir.addGeoKey(2048, 4326);
    dir.addGeoKey(4096, 5103);
    dir.addGeoKey(4099, 9002);
    Converted got(dir);
    ASSERT_NE(got.elevation.get(), nullptr);
    EXPECT_STREQ(got.elevation->spheroidName.narrow, c.spheroid);
    EXPECT_STREQ(got.elevation->datumName.narrow, c.datum);
    EXPECT_STREQ(got.elevation->unitsName.narrow, "international_feet");
  }
}

// The same keys in a file and in a directory read alike: the directory's
// shorts, doubles and texts reach the readers whole.
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
  };
  for (const char* keys : keySets) {
    SCOPED_TRACE(keys);
    KgtfGeoKeyDirectoryTag dir;
    std::istringstream in(keys);
    for (std::string item; in >> item;) {
      const size_t at = item.find_first_of(":=");
      const auto key = static_cast<unsigned short>(std::stoi(item.substr(0, at)));
      const double value = std::stod(item.substr(at + 1));
      if (item[at] == ':')
        dir.addGeoKey(key, static_cast<unsigned short>(value));
      else
        doublesAdd(dir, key, {value});
    }
    stringsAdd(dir, 1026, {"both roads"});
    Converted memory(dir);
    GeoTiffFile file([&](GTIF* g) {
      geoKeysSet(g, keys);
      GTIFKeySet(g, GTCitationGeoKey, TYPE_ASCII, 0, "both roads");
    });
    char *name = nullptr, *units = nullptr;
    _kprj_MapProjectionEx* projection = nullptr;
    Report err;
    ASSERT_EQ(GeoTIFFGeocodingGet(file.gtif(), &name, &units, &projection, out(err)), 0);
    const auto* pro = static_cast<const Kprj_ProParameters*>(
        kprj_MapProjectionCSRGet(projection, KPRJ_FORM_PRO_PARAMETERS));
    ASSERT_NE(pro, nullptr);
    ASSERT_NE(memory.pro(), nullptr);
    EXPECT_EQ(memory.pro()->number, pro->number);
    EXPECT_EQ(memory.pro()->zone, pro->zone);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(memory.pro()->parameters[i], pro->parameters[i]) << i;
    EXPECT_EQ(memory.pro()->spheroid->semiMajor, pro->spheroid->semiMajor);
    EXPECT_EQ(memory.pro()->spheroid->semiMinor, pro->spheroid->semiMinor);
    EXPECT_STREQ(memory.units.c_str(), units);
    kmsc_HeapFree(name);
    kmsc_HeapFree(units);
    kprj_ProjectionFree(&projection, nullptr);
  }
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
