// Map info and calibration: north-up and rotated images read into the host's
// records, the records written back into tags and keys, and both checked
// against GDAL.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "citation.h"
#include "geocoding.h"
#include "georeferencing.h"
#include "geotiff_file.h"
#include "kint.h"
#include "map_info.h"
#include "test_support.h"

namespace {

using Values = std::vector<double>;
using MapInfoRecord = Owned<Kprj_MapInfo, kprj_MapInfoFree>;
using Calibration = Owned<Kgtf_Calibration, kgtf_CalibrationFree>;
constexpr double kFoot = 1200.0 / 3937.0;  // us_survey_feet in meters

// Tags and keys of a test image (keys as geoKeysSet items; empty: none).
struct Image {
  Image(Values t = {}, Values s = {}, Values m = {}, std::string k = "", uint32_t w = 100,
        uint32_t h = 50)
      : tie(t), scale(s), matrix(m), keys(k), width(w), height(h) {}
  Values tie, scale, matrix;
  std::string keys;
  uint32_t width, height;
};

void imageWrite(const std::string& path, const Image& image) {
  geoTiffWriteWith(
      path, !image.keys.empty(),
      [&](TIFF* tif, GTIF* gtif) {
        const std::pair<uint32_t, const Values*> tags[] = {{TIFFTAG_GEOTIEPOINTS, &image.tie},
                                                           {TIFFTAG_GEOPIXELSCALE, &image.scale},
                                                           {TIFFTAG_GEOTRANSMATRIX, &image.matrix}};
        for (const auto& [tag, values] : tags)
          if (!values->empty()) TIFFSetField(tif, tag, int(values->size()), values->data());
        if (gtif) geoKeysSet(gtif, image.keys);
      },
      image.width, image.height);
}

struct Read {
  MapInfoRecord mapInfo;
  Pro pro;
  Calibration calibration;
  Report err;
  // Upper-left and lower-right centres and pixel size of whichever record came.
  Values corners() const {
    const Kprj_MapInfo* m = mapInfo ? mapInfo.get() : calibration ? calibration->mapInfo : nullptr;
    Values v(6);
    if (!m || !kprj_MapInfoUpperLeftCenterGet(m, &v[0], &v[1]) ||
        !kprj_MapInfoLowerRightCenterGet(m, &v[2], &v[3]) ||
        !kprj_MapInfoPixelSizeGet(m, &v[4], &v[5]))
      return {};
    return v;
  }
};

Read readBack(const std::string& path) {
  Read r;
  GeoTiffOpen in(path);
  kgtf_GeoTiffParamsGet(in.tif.get(), out(r.mapInfo), out(r.pro), out(r.calibration), out(r.err));
  return r;
}

void expectNear(const Values& actual, const Values& expected, double tolerance = 1e-9) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i) EXPECT_NEAR(actual[i], expected[i], tolerance) << i;
}

Pro proMake(int number, int zone, double parameter0 = 0.0) {
  Pro pro(kgtf_ProParametersCreate(number, zone));
  pro->parameters[0] = parameter0;
  pro->spheroid = kprj_SpheroidCreate(nullptr);
  kprj_SpheroidByName(kint_GetInit(), "WGS 84", pro->spheroid, nullptr);
  kprj_DatumByName(kint_GetInit(), "WGS 84", "WGS 84", pro->spheroid->datum, nullptr);
  return pro;
}

MapInfoRecord mapInfoMake(const Values& v, const char* units) {
  MapInfoRecord m(kprj_MapInfoCreate(nullptr));
  kprj_MapInfoUpperLeftCenterSet(m.get(), v[0], v[1], nullptr);
  kprj_MapInfoLowerRightCenterSet(m.get(), v[2], v[3], nullptr);
  kprj_MapInfoPixelSizeSet(m.get(), v[4], v[5], nullptr);
  kprj_MapInfoUnitsSet(m.get(), units, nullptr);
  return m;
}

// Every read names its file as the last one warned about; no test inherits it.
class MapInfo : public ::testing::Test {
 protected:
  void SetUp() override { GeoTIFFLastWarnedFileSet(nullptr); }
  void TearDown() override { GeoTIFFLastWarnedFileSet(nullptr); }
};

const Values kTie{0, 0, 0, 1000, 2000, 0}, kScale{10, 10, 0};
// Rotated by about 53 degrees, 10 map units a pixel, pixel-is-area; the
// centre of pixel (0, 0) at 1000 + 0.5 * (6 + 8), 2000 + 0.5 * (8 - 6).
const Values kRotated{6, 8, 0, 1000, 8, -6, 0, 2000, 0, 0, 0, 0, 0, 0, 0, 1};
const Values kRotatedCentres{1007, 2001, 1993, 2499, 986.0 / 99, 498.0 / 49};

TEST_F(MapInfo, ReadFromTags) {
  const Values tie2{0, 0, 0, 1000, 2000, 0, 99, 49, 0, 1990, 1510, 0};
  struct Case {
    const char* name;
    Image image;
    bool calibration;
    Values corners;  // empty: nothing handed out
    const char* error;
  } cases[] = {
      {"area", {kTie, kScale, {}, "1025:1"}, false, {1005, 1995, 1995, 1505, 10, 10}, ""},
      {"point", {kTie, kScale, {}, "1025:2"}, false, {1000, 2000, 1990, 1510, 10, 10}, ""},
      {"no keys", {kTie, kScale}, false, {1005, 1995, 1995, 1505, 10, 10}, ""},
      {"south up", {kTie, {10, -10, 0}}, false, {1005, 2005, 1995, 2495, 10, 10}, ""},
      {"two tie points", {tie2, kScale}, false, {}, ""},
      {"rotated", {{}, {}, kRotated}, true, kRotatedCentres, ""},
      {"two tie points and a matrix", {tie2, kScale, kRotated}, true, kRotatedCentres, ""},
      {"rotated point",
       {{}, {}, kRotated, "1025:2"},
       true,
       {1000, 2000, 1986, 2498, 986.0 / 99, 498.0 / 49},
       ""},
      {"one column", {{}, {}, kRotated, "", 1, 50}, true, {1007, 2001, 1399, 1707, 6, -6}, ""},
      {"bad scale", {kTie, {10, 10}}, false, {}, "Bad pixel scale count"},
      {"bad matrix", {kTie, kScale, Values(12, 1.0)}, false, {}, "Bad model transform count"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFile file("mapinfo");
    imageWrite(file.path(), c.image);
    Read r = readBack(file.path());
    EXPECT_EQ(take(r.err), c.error);
    EXPECT_EQ(r.calibration != nullptr, c.calibration);
    expectNear(r.corners(), c.corners);
    if (!r.calibration) continue;
    // The inverse carries the corner centres back onto their pixels.
    double x[] = {c.corners[0], c.corners[2]}, y[] = {c.corners[1], c.corners[3]};
    ASSERT_EQ(kxfr_Transform(r.calibration->mapToPixel, x, y, 2, nullptr), 1);
    expectNear({x[0], y[0], x[1], y[1]}, {0, 0, c.image.width - 1.0, c.image.height - 1.0}, 1e-9);
  }
}

TEST_F(MapInfo, PixelScaleWarningsAreSharedWithTheTransformReader) {
  TempFile file("mapinfo");
  imageWrite(file.path(), {kTie, {0, 10, 0}, {}, "1025:1"});
  ReportCapture capture;
  Read r = readBack(file.path());
  expectNear(r.corners(), {1005, 1995, 1995, 1505, 10, 10});
  ASSERT_EQ(capture.printed.size(), 1u);
  EXPECT_EQ(capture.printed[0].label, "kgtf_GeoTiffParamsGet");
  EXPECT_EQ(capture.printed[0].message, "Unusable GeoTIFF X pixel scale (0.0); assuming 10.000000");
  GeoTiffOpen in(file.path());
  XForm xform;
  int rasterType = 0;
  kgtf_GeoTIFFGeoreferencingGet(in.tif.get(), in.gtif.get(), &rasterType, out(xform), nullptr);
  EXPECT_EQ(capture.printed.size(), 1u);
}

TEST_F(MapInfo, NamesAndModelTypes) {
  Pro geographic = proMake(0, 0), utm = proMake(1, 31), nad27 = proMake(2, 101, 1.0);
  const char* gll = "Geographic (Lat/Lon)";
  EXPECT_EQ(ModelTypeForProjection(geographic.get(), nullptr), ModelTypeGeographic);
  EXPECT_EQ(ModelTypeForProjection(utm.get(), gll), ModelTypeProjected);
  EXPECT_EQ(ModelTypeForProjection(nullptr, gll), ModelTypeGeographic);
  EXPECT_EQ(ModelTypeForProjection(nullptr, "Mercator"), ModelTypeProjected);
  EXPECT_EQ(ModelTypeForProjection(nullptr, nullptr), ModelTypeProjected);

  const std::string cite = std::string(kCitationLabel) + "\nnotice\nid\nProjection Name = Mercator";
  struct Case {
    const Kprj_ProParameters* pro;
    std::string keys, citation;
    const char *projection, *units;
  } cases[] = {
      {geographic.get(), "2054:9101", "", gll, "radians"},
      {geographic.get(), "", "", gll, "dd"},
      {utm.get(), "3076:9002", "", utm->name, "international_feet"},
      {nad27.get(), "", "", nad27->name, "us_survey_feet"},
      {nullptr, "", cite + "\nUnits = feet\nGeoTIFF Units = meters", "Mercator", "meters"},
      {nullptr, "", cite + "\nUnits = feet\nGeoTIFF Units = ?", "Mercator", "feet"},
      {nullptr, "", cite + "|Units = feet", "Mercator|Units = feet", "other"},
      {nullptr, "", std::string(kCitationLabel) + "\nProjection Name = ?\nUnits = feet", "Unknown",
       "feet"},
      {nullptr, "", "", "Unknown", "other"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.citation + c.keys);
    GeoTiffFile f([&](GTIF* gtif) {
      geoKeysSet(gtif, c.keys);
      if (!c.citation.empty())
        GTIFKeySet(gtif, GTCitationGeoKey, TYPE_ASCII, 0, c.citation.c_str());
    });
    MapInfoRecord m(kprj_MapInfoCreate(nullptr));
    Report err;
    MapInfoNamesSet(m.get(), c.pro, f.gtif(), out(err));
    EXPECT_EQ(err, nullptr);
    EXPECT_STREQ(kprj_MapInfoProjectionNameGet(m.get()), c.projection);
    EXPECT_STREQ(kprj_MapInfoUnitsGet(m.get()), c.units);
  }
}

// One of the two setters into a 100 x 50 image; the projection is UTM 31N.
struct Written {
  const char* name;
  Values mapInfo;     // UL, LR, size; empty: the calibration below
  Values pixelToMap;  // a, b, c, d, e, f of pixel centres
  const char* units;
  Values scale, matrix;  // the tags expected (a tie point beside the scale)
  Values corners;        // read back, in the units of the GeoKeys
  const char* error;
};

void written(const Written& c, const std::string& path, Report& err) {
  Pro utm = proMake(1, 31);
  geoTiffWriteWith(
      path, false,
      [&](TIFF* tif, GTIF*) {
        if (!c.mapInfo.empty()) {
          MapInfoRecord m = mapInfoMake(c.mapInfo, c.units);
          kgtf_GeoTiffParamsSetMapInfo(tif, m.get(), utm.get(), out(err));
          return;
        }
        const Values& k = c.pixelToMap;
        XForm xform(kxfr_XFormCreateUsingCoeffs(k[0], k[1], k[2], k[3], k[4], k[5], nullptr));
        kgtf_GeoTiffParamsSetCalibration(tif, xform.get(), utm.get(), utm->name, c.units, out(err));
      },
      100, 50);
}

Values times(Values v, double factor) {
  for (double& value : v) value *= factor;
  return v;
}

const Values kNorthUp{1005, 1995, 1995, 1505, 10, 10}, kWestNorth{1995, 1505, 1005, 1995, 10, 10};
const Values kNorthUpFeet = times(kNorthUp, kFoot), kScaleFeet = times(kScale, kFoot);
const Written kWritten[] = {
    {"map info", kNorthUp, {}, "meters", kScale, {}, kNorthUp, ""},
    // The map info is still named "Unknown": the UTM keys decide the units.
    {"in feet", kNorthUp, {}, "us_survey_feet", kScaleFeet, {}, kNorthUpFeet, ""},
    {"running west and north", kWestNorth, {}, "meters", {-10, -10, 0}, {}, kWestNorth, ""},
    {"in other units", kNorthUp, {}, "other", {}, {}, {}, "kcvt_UnitsConvertByName failed"},
    {"calibration", {}, {6, 8, 1007, 8, -6, 2001}, "meters", {}, kRotated, kRotatedCentres, ""},
};

TEST_F(MapInfo, SettersWriteTagsThatReadBack) {
  for (const Written& c : kWritten) {
    SCOPED_TRACE(c.name);
    TempFile file("mapinfo");
    Report err;
    written(c, file.path(), err);
    EXPECT_EQ(take(err), c.error);
    GeoTiffOpen in(file.path());
    const Values tie =
        c.scale.empty() ? Values() : Values{0.5, 0.5, 0, c.corners[0], c.corners[1], 0};
    expectNear(in.doubles(TIFFTAG_GEOTIEPOINTS), tie);
    expectNear(in.doubles(TIFFTAG_GEOPIXELSCALE), c.scale);
    expectNear(in.doubles(TIFFTAG_GEOTRANSMATRIX), c.matrix);
    EXPECT_EQ(in.key(GTRasterTypeGeoKey), RasterPixelIsArea);
    EXPECT_EQ(in.key(GTModelTypeGeoKey), ModelTypeProjected);
    if (*c.error) continue;
    EXPECT_EQ(in.key(ProjectedCSTypeGeoKey), 32631);
    Read r = readBack(file.path());
    EXPECT_EQ(r.err, nullptr);
    expectNear(r.corners(), c.corners, 1e-6);
    EXPECT_STREQ(kprj_MapInfoUnitsGet(r.mapInfo ? r.mapInfo.get() : r.calibration->mapInfo),
                 "meters");
  }
}

TEST_F(MapInfo, CalibrationWithoutAnAffineFormWritesNothing) {
  Kxfr_Node node{};
  node.kind = KXFR_NODE_USER;
  node.forward = [](const void*, double* x, double* y, int32_t count, Kerr_Report**) {
    for (int32_t i = 0; i < count; ++i) x[i] += y[i] * y[i];
    return 1;
  };
  XForm bent(kxfr_XFormCreateWithNode(nullptr, &node, nullptr));
  ReportCapture capture;
  Report err;
  TempFile file("mapinfo");
  geoTiffWriteWith(file.path(), false, [&](TIFF* tif, GTIF*) {
    kgtf_GeoTiffParamsSetCalibration(tif, bent.get(), nullptr, "Unknown", "meters", out(err));
  });
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(capture.messages(),
            std::vector<std::string>{"Calibration transform is not affine; ignoring GeoTIFF"});
  GeoTiffOpen in(file.path());
  EXPECT_TRUE(in.doubles(TIFFTAG_GEOTRANSMATRIX).empty());
  EXPECT_EQ(in.key(GTRasterTypeGeoKey), -1);
}

// GDAL's geotransform addresses pixel corners; the host's records pixel
// centres. Both must put the image in the same place.
TEST_F(MapInfo, GdalReadsTheSameCorners) {
  if (std::system("command -v gdalinfo >/dev/null 2>&1") != 0) GTEST_SKIP() << "no gdalinfo";
  for (const Written& c : kWritten) {
    if (*c.error) continue;
    SCOPED_TRACE(c.name);
    TempFile file("mapinfo");
    Report err;
    written(c, file.path(), err);
    Read r = readBack(file.path());
    // The host's pixel-centre affine (a, b, c, d, e, f) of what was read.
    double k[6] = {0, 0, 0, 0, 0, 0};
    if (r.calibration) {
      XForm toMap(kxfr_XFormInvert(r.calibration->mapToPixel, 0, nullptr));
      ASSERT_EQ(kxfr_XFormAffineExtractIfPresent(toMap.get(), k, nullptr), 1);
    } else {
      const Values v = r.corners();
      ASSERT_EQ(v.size(), 6u);
      k[0] = v[2] > v[0] ? v[4] : -v[4];
      k[2] = v[0];
      k[4] = v[3] < v[1] ? -v[5] : v[5];
      k[5] = v[1];
    }
    const auto at = [&](double column, double row) {
      return Values{k[0] * column + k[1] * row + k[2], k[3] * column + k[4] * row + k[5]};
    };
    // GDAL reads a negative ScaleY as positive unless told otherwise; the
    // files written here mean the sign.
    const std::string command = "gdalinfo -json --config GTIFF_HONOUR_NEGATIVE_SCALEY YES '" +
                                file.path() + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string text;
    for (int ch; (ch = std::fgetc(pipe)) != EOF;) text += static_cast<char>(ch);
    pclose(pipe);
    const nlohmann::json info = nlohmann::json::parse(text);
    const auto gdal = [&](const char* corner) {
      return info.at("cornerCoordinates").at(corner).get<Values>();
    };
    // Corners are printed to the millimetre; the geotransform in full.
    expectNear(gdal("upperLeft"), at(-0.5, -0.5), 1e-3);
    expectNear(gdal("lowerRight"), at(99.5, 49.5), 1e-3);
    const auto gt = info.at("geoTransform").get<Values>();
    const Values origin = at(-0.5, -0.5);
    expectNear(gt, {origin[0], k[0], k[1], origin[1], k[3], k[4]}, 1e-6);
  }
}

}  // namespace
