// Writing the raster-to-model transform: the form chosen for each kind of
// affine, the refusal of non-affine transforms, and the transform read back
// through the library's own reader (and once through GDAL).
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "georeferencing.h"
#include "kgtf.h"
#include "test_support.h"
#include "write_support.h"

namespace {

struct Affine {
  double a, b, c, d, e, f;
};

XForm affine(const Affine& m) {
  return XForm(kxfr_XFormCreateUsingCoeffs(m.a, m.b, m.c, m.d, m.e, m.f, nullptr));
}

// A transform node without an affine form, as a fitted model has.
XForm notAffine() {
  Kxfr_Node node{};
  node.kind = KXFR_NODE_USER;
  node.forward = [](const void*, double* x, double* y, int32_t count, Kerr_Report**) {
    for (int32_t i = 0; i < count; ++i) x[i] += y[i] * y[i];
    return 1;
  };
  return XForm(kxfr_XFormCreateWithNode(nullptr, &node, nullptr));
}

// A file written with the transform, open again for reading.
struct Written {
  Written(const Kxfr_XForm* xform, int rasterType) {
    writeWithKeys(file.path(), [&](TIFF* tif, GTIF* gtif) {
      kgtf_GeoTIFFGeoreferencingSet(tif, gtif, rasterType, xform, out(err));
    });
    in = std::make_unique<GeoTiffOpen>(file.path());
  }
  TIFF* tif() const { return in->tif.get(); }
  TempFile file{"georef_write"};
  Report err;
  std::unique_ptr<GeoTiffOpen> in;
};

TEST(GeoTIFFGeoreferencingSet, ChoosesTheSmallestFormAndReadsBackTheSameTransform) {
  struct Case {
    const char* name;
    Affine m;
    bool tiePoint;  // else a model transformation
  } cases[] = {
      {"north up", {30, 0, 499700, 0, -30, 4000600}, true},
      {"north down", {30, 0, 499700, 0, 30, 4000600}, true},
      {"tiny shear", {30, 0, 499700, 1e-12, -30, 4000600}, false},
      {"rotated", {25.98, 15, 499700, 15, -25.98, 4000600}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    XForm xform = affine(c.m);
    Written w(xform.get(), KGTF_RASTER_PIXEL_IS_POINT);
    EXPECT_EQ(w.err, nullptr);
    std::vector<double> tie = doubleTag(w.tif(), TIFFTAG_GEOTIEPOINTS);
    std::vector<double> scale = doubleTag(w.tif(), TIFFTAG_GEOPIXELSCALE);
    std::vector<double> matrix = doubleTag(w.tif(), TIFFTAG_GEOTRANSMATRIX);
    if (c.tiePoint) {
      EXPECT_EQ(tie, (std::vector<double>{0, 0, 0, c.m.c, c.m.f, 0}));
      EXPECT_EQ(scale, (std::vector<double>{c.m.a, -c.m.e, 0}));
      EXPECT_TRUE(matrix.empty());
    } else {
      EXPECT_TRUE(tie.empty());
      EXPECT_TRUE(scale.empty());
      EXPECT_EQ(matrix, (std::vector<double>{c.m.a, c.m.b, 0, c.m.c, c.m.d, c.m.e, 0, c.m.f, 0, 0,
                                             0, 0, 0, 0, 0, 1}));
    }

    int rasterType = 0;
    XForm back;
    Report readErr;
    kgtf_GeoTIFFGeoreferencingGet(w.tif(), w.in->gtif.get(), &rasterType, out(back), out(readErr));
    EXPECT_EQ(readErr, nullptr);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(rasterType, KGTF_RASTER_PIXEL_IS_POINT);
    double got[6];
    ASSERT_EQ(kxfr_XFormAffineExtractIfPresent(back.get(), got, nullptr), 1);
    const double want[6] = {c.m.a, c.m.b, c.m.c, c.m.d, c.m.e, c.m.f};
    for (int i = 0; i < 6; ++i) EXPECT_DOUBLE_EQ(got[i], want[i]) << i;
  }
}

TEST(GeoTIFFGeoreferencingSet, RefusesWhatItCannotStoreAndWritesNothing) {
  ReportCapture capture;
  XForm bad = notAffine();
  ASSERT_NE(bad, nullptr);
  Written refused(bad.get(), KGTF_RASTER_PIXEL_IS_AREA);
  ASSERT_NE(refused.err, nullptr);
  EXPECT_STREQ(kerr_ReportMessage(refused.err.get()),
               "Raster to map model transform is not affine; ignoring GeoTIFF");
  EXPECT_EQ(kerr_ReportSeverity(refused.err.get()), KERR_ERROR);
  EXPECT_TRUE(doubleTag(refused.tif(), TIFFTAG_GEOTIEPOINTS).empty());
  EXPECT_TRUE(doubleTag(refused.tif(), TIFFTAG_GEOTRANSMATRIX).empty());
  // Not even the raster type went into the keys.
  EXPECT_EQ(keyListing(refused.in->gtif.get()).find("GTRasterTypeGeoKey"), std::string::npos);

  // Null arguments give a report, never a crash; a stale slot is replaced.
  Report err;
  XForm good = affine({1, 0, 0, 0, -1, 0});
  kgtf_GeoTIFFGeoreferencingSet(nullptr, nullptr, 1, good.get(), out(err));
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(kerr_ReportMessage(err.get()), "Args");
  kgtf_GeoTIFFGeoreferencingSet(nullptr, nullptr, 1, nullptr, nullptr);
  Written nullTransform(nullptr, KGTF_RASTER_PIXEL_IS_AREA);
  ASSERT_NE(nullTransform.err, nullptr);
  EXPECT_STREQ(kerr_ReportMessage(nullTransform.err.get()),
               "kxfr_XFormAffineExtractIfPresent failed");
}

// GDAL's geotransform is the pixel-is-area affine (c, a, b, f, d, e).
TEST(GeoTIFFGeoreferencingSet, GdalReadsTheRotatedTransform) {
  if (!gdalAvailable()) GTEST_SKIP() << "python3-gdal not installed";
  const Affine m{25.98, 15, 499700, 15, -25.98, 4000600};
  XForm xform = affine(m);
  Written w(xform.get(), KGTF_RASTER_PIXEL_IS_AREA);
  ASSERT_EQ(w.err, nullptr);
  std::string output;
  ASSERT_TRUE(
      commandOutput("/usr/bin/python3 -c \"from osgeo import gdal; "
                    "print(*gdal.Open('" +
                        w.file.path() + "').GetGeoTransform())\" 2>/dev/null",
                    &output));
  std::istringstream in(output);
  double g[6] = {};
  for (double& value : g) in >> value;
  const double want[6] = {m.c, m.a, m.b, m.f, m.d, m.e};
  for (int i = 0; i < 6; ++i) EXPECT_DOUBLE_EQ(g[i], want[i]) << i;
}

}  // namespace
