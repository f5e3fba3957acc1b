// Raster-to-model transforms read from the tie point, pixel scale and model
// transformation tags, and fitted to control points.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <string>
#include <vector>

#include "georeferencing.h"
#include "geotiff_file.h"
#include "host_owners.h"
#include "kpmg.h"
#include "test_support.h"

namespace {

using Values = std::vector<double>;
using Texts = std::vector<std::string>;

struct Tags {
  Tags(Values t = {}, Values s = {}, Values m = {}, int r = RasterPixelIsArea)
      : tiePoints(t), scale(s), matrix(m), rasterType(r) {}
  Values tiePoints, scale, matrix;
  int rasterType;  // 0: no key
};

struct Result {
  Values k;  // affine coefficients; empty without a transform
  bool fitted = false;
  int rasterType = -7;  // untouched marker
  Texts error, printed, logged;
};

class Georeferencing : public ::testing::Test {
 protected:
  void SetUp() override { GeoTIFFLastWarnedFileSet(nullptr); }
  void TearDown() override {
    kpmg_ClearPreferences();
    GeoTIFFLastWarnedFileSet(nullptr);
  }

  const std::string& write(const Tags& tags) {
    const std::string& path = files_.emplace_back("georef").path();
    const std::pair<uint32_t, const Values*> arrays[] = {{TIFFTAG_GEOTIEPOINTS, &tags.tiePoints},
                                                         {TIFFTAG_GEOPIXELSCALE, &tags.scale},
                                                         {TIFFTAG_GEOTRANSMATRIX, &tags.matrix}};
    geoTiffWrite(
        path,
        [&](GTIF* gtif) {
          if (tags.rasterType) GTIFKeySet(gtif, GTRasterTypeGeoKey, TYPE_SHORT, 1, tags.rasterType);
        },
        [&](TIFF* tif) {
          for (const auto& [tag, values] : arrays)
            if (!values->empty())
              TIFFSetField(tif, tag, static_cast<int>(values->size()), values->data());
        });
    return path;
  }

  // Reads the georeferencing of `path`; a fitted transform is sampled at
  // (10, 10) and (5, 5) instead of giving coefficients.
  static Result read(const std::string& path) {
    Result r;
    ReportCapture capture;
    XForm xform;
    Report err;
    GeoTiffOpen in(path);
    kgtf_GeoTIFFGeoreferencingGet(in.tif.get(), in.gtif.get(), &r.rasterType, out(xform), out(err));
    double k[6], x[] = {10, 5}, y[] = {10, 5};
    if (kxfr_XFormAffineExtractIfPresent(xform.get(), k, nullptr)) {
      r.k.assign(k, k + 6);
    } else if (xform && kxfr_Transform(xform.get(), x, y, 2, nullptr)) {
      r.fitted = true;
      r.k = {x[0], y[0], x[1], y[1]};
    }
    r.error = reportMessages(err.get());
    for (const auto& p : capture.printed) EXPECT_EQ(p.printer, KERR_PRINT_NOVSL);
    r.printed = capture.messages();
    for (const auto& l : capture.logged) r.logged.push_back(l.second);
    return r;
  }

  std::deque<TempFile> files_;
};

void expectNear(const Values& actual, const Values& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i) EXPECT_NEAR(actual[i], expected[i], 1e-6);
}

TEST_F(Georeferencing, TagsDecideTheTransform) {
  const double nan = NAN, inf = INFINITY;
  const Values tie = {10, 20, 0, 500000, 4000000, 0}, one = {0, 0, 0, 100, 200, 0};
  const Values matrix = {2, 0, 0, 7, 0, -2, 0, 9, 0, 0, 0, 0, 0, 0, 0, 1};
  Values nanMatrix = matrix;
  nanMatrix[0] = nan;
  const Values worked = {30, 0, 499700, 0, -30, 4000600}, unit = {1, 0, 100, 0, -1, 200};
  const Texts nonFinite = {"kxfr_XFormCreateUsingCoeffs failed", "Non-finite coefficient"};
  const Texts badScale = {"Bad pixel scale or pixel scale count"};
  const Texts noType = {"Cannot locate GTRasterTypeGeoKey; assuming RasterPixelIsArea"};
  const Texts zeroX = {"Unusable GeoTIFF X pixel scale (0.0); assuming 30.000000"};
  const Texts zeroBoth = {"Unusable GeoTIFF pixel scales (0.0); assuming 1.0"};
  struct Case {
    const char* name;
    Tags tags;
    Values k;
    int rasterType;
    Texts error, printed;
  } cases[] = {
      {"worked", {tie, {30, 30, 0}, {}, 2}, worked, 2, {}, {}},
      {"tie wins", {tie, {30, 30, 0}, matrix}, worked, 1, {}, {}},
      {"matrix", {{}, {}, matrix}, {2, 0, 7, 0, -2, 9}, 1, {}, {}},
      {"matrix of 12", {{}, {}, Values(matrix.begin(), matrix.begin() + 12)}, {}, -7, {}, {}},
      {"no raster type", {one, {1, 1, 0}, {}, 0}, unit, 1, {}, noType},
      {"zero x", {one, {0, 30, 0}}, {30, 0, 100, 0, -30, 200}, 1, {}, zeroX},
      {"zero both", {one, {0, 0, 0}}, unit, 1, {}, zeroBoth},
      {"scale of 2", {one, {1, 1}}, {}, -7, badScale, {}},
      {"tie of 5", {{0, 0, 0, 1, 2}, {1, 1, 0}}, {}, -7, {}, {}},
      {"nan scale", {one, {nan, 1, 0}}, {}, -7, nonFinite, {}},
      {"infinite tie", {{0, 0, 0, inf, 2, 0}, {1, 1, 0}}, {}, -7, nonFinite, {}},
      {"nan matrix", {{}, {}, nanMatrix}, {}, -7, nonFinite, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result r = read(write(c.tags));
    expectNear(r.k, c.k);
    EXPECT_EQ(r.rasterType, c.rasterType);
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(r.printed, c.printed);
  }

  // The scale warning is shown once per file, the repair made every time.
  const std::string& path = write({one, {0, 30, 0}});
  EXPECT_EQ(read(path).printed.size(), 1u);
  Result again = read(path);
  EXPECT_TRUE(again.printed.empty());
  expectNear(again.k, {30, 0, 100, 0, -30, 200});
}

// Four control points of x = 2i + 100, y = -3j + 500, the last map x moved
// by `shift`.
Values controlPoints(double shift) {
  Values points;
  for (double i : {0, 10})
    for (double j : {0, 10}) points.insert(points.end(), {i, j, 0, 2 * i + 100, -3 * j + 500, 0});
  points[21] += shift;
  return points;
}

TEST_F(Georeferencing, ControlPointsAreFittedUnderThePreferences) {
  // With three or more tie points a scale with a zero gives no affine;
  // collinear or repeated control points fit no model.
  const std::string& path = write({controlPoints(0), {0, 30, 0}});
  const Values collinear = {0, 0, 0, 0, 0, 0, 1, 1, 0, 1, 1, 0, 2, 2, 0, 2, 2, 0};
  const Values repeated = {0, 0, 0, 5, 5, 0, 0, 0, 0, 5, 5, 0, 3, 4, 0, 7, 9, 0};
  for (const char* model :
       {"Polynomial", "Low Order Rubber Sheeting", "High Order Rubber Sheeting"}) {
    SCOPED_TRACE(model);
    kpmg_SetPreference("tiff", "geo_model", model, nullptr);
    Result r = read(path);
    EXPECT_TRUE(r.fitted);
    expectNear(r.k, {120, 470, 110, 485});
    EXPECT_TRUE(r.error.empty() && r.printed.empty() && r.logged.empty());
    for (const Values* points : {&collinear, &repeated}) {
      Result none = read(write({*points}));
      EXPECT_TRUE(none.k.empty());
      EXPECT_EQ(none.error.at(0), "ApproximateGeoreferencingXFormFromTiePoints failed");
    }
  }
  kpmg_SetPreference("tiff", "use_gcps", "No", nullptr);
  Result none = read(path);
  EXPECT_TRUE(none.k.empty() && none.error.empty());
  EXPECT_EQ(none.rasterType, -7);
  kpmg_ClearPreferences();

  // A polynomial beyond the tolerance is logged and kept.
  const std::string& rough = write({controlPoints(5)});
  Result logged = read(rough);
  EXPECT_TRUE(logged.fitted && logged.error.empty());
  ASSERT_EQ(logged.logged.size(), 1u);
  EXPECT_EQ(logged.logged[0].rfind("RMS error for this polynomial approximation is too high: ", 0),
            0u);
  kpmg_SetPreference("rasterprocess", "rp_reprojtolerance", "100", nullptr);
  EXPECT_TRUE(read(rough).logged.empty());
}

}  // namespace
