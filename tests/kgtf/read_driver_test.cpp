// The read driver: units overrides through our citation, earlier releases'
// citations, and hostile or unsupported key directories.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <unistd.h>

#include <geotiffio.h>
#include <xtiffio.h>

#include "kgtf.h"
#include "kmsc.h"

namespace {

constexpr double kSurveyFoot = 1200.0 / 3937.0;  // meters

std::string tempPath(const char* name) {
  return std::string(::testing::TempDir()) + "/" + name + "_" + std::to_string(getpid()) + ".tif";
}

// A one-pixel TIFF with a 30 m pixel scale tied at (500000, 4000000) and the
// keys `keys` sets; `raw` then sets tags directly.
void writeImage(const std::string& path, const std::function<void(GTIF*)>& keys,
                const std::function<void(TIFF*)>& raw = nullptr) {
  TIFF* tif = XTIFFOpen(path.c_str(), "w");
  ASSERT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 1);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 1);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  double tiePoint[6] = {0, 0, 0, 500000, 4000000, 0};
  double scale[3] = {30, 30, 0};
  TIFFSetField(tif, TIFFTAG_GEOTIEPOINTS, 6, tiePoint);
  TIFFSetField(tif, TIFFTAG_GEOPIXELSCALE, 3, scale);
  GTIF* gtif = GTIFNew(tif);
  keys(gtif);
  GTIFWriteKeys(gtif);
  GTIFFree(gtif);
  if (raw) raw(tif);
  unsigned char pixel = 0;
  TIFFWriteScanline(tif, &pixel, 0, 0);
  XTIFFClose(tif);
}

struct ReadResult {
  Kgtf_GeoTIFFParams* params = nullptr;
  Kerr_Report* err = nullptr;
  ~ReadResult() {
    kgtf_GeoTIFFParamsFree(&params);
    kerr_DeleteErrorReportEx(&err);
  }
};

void readBack(const std::string& path, ReadResult* result) {
  TIFF* tif = XTIFFOpen(path.c_str(), "r");
  ASSERT_NE(tif, nullptr);
  EXPECT_NO_THROW(kgtf_GeoTIFFParamsRead(tif, &result->params, &result->err));
  XTIFFClose(tif);
}

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
    const std::string path = tempPath("driver_units");
    writeImage(path, [&](GTIF* g) {
      GTIFKeySet(g, GTModelTypeGeoKey, TYPE_SHORT, 1, ModelTypeProjected);
      GTIFKeySet(g, GTRasterTypeGeoKey, TYPE_SHORT, 1, RasterPixelIsArea);
      GTIFKeySet(g, ProjectedCSTypeGeoKey, TYPE_SHORT, 1, 32631);
      GTIFKeySet(g, ProjLinearUnitsGeoKey, TYPE_SHORT, 1, Linear_Meter);
      if (!c.citation.empty()) GTIFKeySet(g, GTCitationGeoKey, TYPE_ASCII, 0, c.citation.c_str());
    });
    ReadResult r;
    readBack(path, &r);
    std::remove(path.c_str());
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
  Kerr_Report* err = nullptr;
  kgtf_GeoTIFFParamsRead(nullptr, nullptr, &err);
  EXPECT_NE(err, nullptr);
  kerr_DeleteErrorReportEx(&err);
  Kgtf_GeoTIFFParams* params = kgtf_GeoTIFFParamsAllocate();
  Kgtf_GeoTIFFParams* kept = params;
  kgtf_GeoTIFFParamsRead(nullptr, &params, &err);
  EXPECT_EQ(params, nullptr) << "the address is cleared before the TIFF is checked";
  EXPECT_NE(err, nullptr);
  kerr_DeleteErrorReportEx(&err);
  kgtf_GeoTIFFParamsFree(&kept);

  // A code the EPSG road refuses: the geocoding is dropped with a notice,
  // the transform stays.
  const std::string pseudo = tempPath("driver_3857");
  writeImage(pseudo, [](GTIF* g) {
    GTIFKeySet(g, GTModelTypeGeoKey, TYPE_SHORT, 1, ModelTypeProjected);
    GTIFKeySet(g, ProjectedCSTypeGeoKey, TYPE_SHORT, 1, 3857);
  });
  {
    ReadResult r;
    readBack(pseudo, &r);
    ASSERT_NE(r.params, nullptr);
    EXPECT_EQ(r.err, nullptr);
    EXPECT_EQ(r.params->projection, nullptr);
    EXPECT_NE(r.params->xform, nullptr);
  }
  std::remove(pseudo.c_str());

  // Keys pointing past the double and ASCII parameters, and an absurd count.
  // Model type, then false easting past the one double, the citation past
  // the text and a projected code given as a double.
  static const uint16_t directory[] = {1, 1,  0,    4,     1024,  0, 1,    1,     3082, 34736,
                                       5, 40, 1026, 34737, 60000, 9, 3072, 34736, 1,    0};
  const std::string hostile = tempPath("driver_hostile");
  writeImage(
      hostile, [](GTIF*) {},
      [](TIFF* tif) {
        const double doubles[1] = {1.5};
        TIFFSetField(tif, TIFFTAG_GEOKEYDIRECTORY, 20, directory);
        TIFFSetField(tif, TIFFTAG_GEODOUBLEPARAMS, 1, doubles);
        TIFFSetField(tif, TIFFTAG_GEOASCIIPARAMS, "abc|");
      });
  {
    ReadResult r;
    readBack(hostile, &r);
    EXPECT_EQ(r.params == nullptr, r.err != nullptr);
  }
  std::remove(hostile.c_str());
}

}  // namespace
