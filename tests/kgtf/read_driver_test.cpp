// The read driver: units overrides through our citation, earlier releases'
// citations, and hostile or unsupported key directories.
#include <gtest/gtest.h>

#include <string>

#include "geotiff_file.h"
#include "kgtf.h"
#include "library_owners.h"

namespace {

constexpr double kSurveyFoot = 1200.0 / 3937.0;  // meters

// A one-pixel GeoTIFF of 30 m pixels tied at (500000, 4000000) with the keys
// `keys` sets (and the tags `raw` sets), read by the driver.
struct DriverRead {
  explicit DriverRead(const GeoKeysSet& keys, const TagsSet& raw = nullptr)
      : file(keys, [&](TIFF* tif) {
          double tiePoint[6] = {0, 0, 0, 500000, 4000000, 0}, scale[3] = {30, 30, 0};
          TIFFSetField(tif, TIFFTAG_GEOTIEPOINTS, 6, tiePoint);
          TIFFSetField(tif, TIFFTAG_GEOPIXELSCALE, 3, scale);
          if (raw) raw(tif);
        }) {
    EXPECT_NO_THROW(kgtf_GeoTIFFParamsRead(file.in.tif.get(), out(params), out(err)));
  }
  GeoTiffFile file;
  GeoParams params;
  Report err;
};

TEST(GeoTIFFParamsRead, CitationUnitsOverrideTheGeoKeyUnits) {
  const std::string ours =
      "ktiflib GeoTIFF Support\n"
      "Georeferencing recorded by ktiflib; keep these lines to preserve units\n"
      "ktiflib 1\n";
  const std::string earlier =
      "ktiflib GeoTIFF Support\n"
      "Georeferencing by ktiflib 1.0; the GeoKeys carry the host map units only.\n";
  const std::string lines = "Projection Name = UTM\nUnits = us_survey_feet\nGeoTIFF Units = meters";
  // Citation, expected units name, factor from the file's meters to the
  // record's coordinates.
  struct Case {
    std::string citation;
    const char* units;
    double factor;
  } cases[] = {
      {ours + lines, "us_survey_feet", 1 / kSurveyFoot},
      {earlier + lines, "us_survey_feet", kSurveyFoot},  // converted the other way
      {"", "meters", 1.0},                               // no citation: the GeoKey units
      {"WGS 84 / UTM zone 31N", "meters", 1.0},          // not ours
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.citation);
    DriverRead r([&](GTIF* g) {
      geoKeysSet(g, "1024:1 1025:1 3072:32631 3076:9001");  // projected, area, UTM 31N, meters
      if (!c.citation.empty()) GTIFKeySet(g, GTCitationGeoKey, TYPE_ASCII, 0, c.citation.c_str());
    });
    ASSERT_NE(r.params, nullptr);
    EXPECT_EQ(r.err, nullptr);
    EXPECT_STREQ(r.params->unitsName, c.units);
    EXPECT_NE(r.params->projection, nullptr);
    EXPECT_EQ(r.params->rasterType, KGTF_RASTER_PIXEL_IS_AREA);
    EXPECT_EQ(r.params->georeferencingChanged, 0);
    EXPECT_EQ(r.params->geocodingChanged, 0);
    ASSERT_NE(r.params->metaData, nullptr);
    EXPECT_GT(r.params->metaData->count, 3);
    double x = 2, y = 1;  // raster column and row
    ASSERT_EQ(kxfr_Transform(r.params->xform, &x, &y, 1, nullptr), 1);
    EXPECT_NEAR(x, (500000 + 60) * c.factor, 1e-6);
    EXPECT_NEAR(y, (4000000 - 30) * c.factor, 1e-6);
  }
}

TEST(GeoTIFFParamsRead, HostileAndUnsupportedKeysGiveARecordOrAReport) {
  Report err;
  kgtf_GeoTIFFParamsRead(nullptr, nullptr, out(err));
  EXPECT_NE(err, nullptr);
  GeoParams kept(kgtf_GeoTIFFParamsAllocate());
  Kgtf_GeoTIFFParams* params = kept.get();
  kgtf_GeoTIFFParamsRead(nullptr, &params, out(err));
  EXPECT_EQ(params, nullptr) << "the address is cleared before the TIFF is checked";
  EXPECT_NE(err, nullptr);

  // A code the EPSG road refuses: the geocoding is dropped with a notice,
  // the transform stays.
  DriverRead pseudo([](GTIF* g) { geoKeysSet(g, "1024:1 3072:3857"); });
  ASSERT_NE(pseudo.params, nullptr);
  EXPECT_EQ(pseudo.err, nullptr);
  EXPECT_EQ(pseudo.params->projection, nullptr);
  EXPECT_NE(pseudo.params->xform, nullptr);

  // Keys pointing past the double and ASCII parameters, and an absurd count.
  // Model type, then false easting past the one double, the citation past
  // the text and a projected code given as a double.
  static const uint16_t directory[] = {1, 1,  0,    4,     1024,  0, 1,    1,     3082, 34736,
                                       5, 40, 1026, 34737, 60000, 9, 3072, 34736, 1,    0};
  DriverRead hostile(nullptr, [](TIFF* tif) {
    const double doubles[1] = {1.5};
    TIFFSetField(tif, TIFFTAG_GEOKEYDIRECTORY, 20, directory);
    TIFFSetField(tif, TIFFTAG_GEODOUBLEPARAMS, 1, doubles);
    TIFFSetField(tif, TIFFTAG_GEOASCIIPARAMS, "abc|");
  });
  EXPECT_EQ(hostile.params == nullptr, hostile.err != nullptr);
}

}  // namespace

// The description names what a copy writes back; a file's code that the
// record cannot write back again is approximate.
TEST(GeoTIFFParamsCRSDescribe, NamesTheSystemACopyWrites) {
  const struct {
    const char* keys;
    int32_t code;
    const char* name;      // null: none
    const char* wktStart;  // null: no WKT
    bool approximate;
  } cases[] = {
      {"1024:1 3072:3035", 3035, "ETRS89-extended / LAEA Europe", "PROJCRS[", false},
      {"1024:2 2048:4674", 4674, "SIRGAS 2000", "GEOGCRS[", false},
      // SAD69's old code names other geodesy; the registry's code comes back.
      {"1024:2 2048:4291", 4618, "SAD69", "GEOGCRS[", true},
      // A user-defined Mercator has no code, but PROJ states it.
      {"1024:1 3072:32767 3074:32767 2048:4326 3075:7 3078=30 3080=10 3082=0 3083=0", 0, nullptr,
       "PROJCRS[\"unknown\"", false},
      {"1024:1 3072:3857", 0, nullptr, nullptr, true},  // the host cannot hold it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    DriverRead r([&](GTIF* g) { geoKeysSet(g, c.keys); });
    ASSERT_NE(r.params, nullptr);
    Kgtf_CRSDescription d{};
    Report err;
    kgtf_GeoTIFFParamsCRSDescribe(r.params.get(), &d, out(err));
    EXPECT_EQ(err, nullptr);
    EXPECT_EQ(d.epsgCode, c.code);
    EXPECT_STREQ(d.name, c.name);
    if (c.wktStart == nullptr)
      EXPECT_EQ(d.wkt, nullptr);
    else
      EXPECT_EQ(std::string(d.wkt ? d.wkt : "").rfind(c.wktStart, 0), 0u) << (d.wkt ? d.wkt : "");
    EXPECT_EQ(d.approximate != 0, c.approximate);
    kgtf_CRSDescriptionClear(&d);
    EXPECT_EQ(d.wkt, nullptr);
  }
}
