// Writing the raster-to-model transform: the tags chosen for each kind of
// affine, and the refusal of non-affine transforms.
#include <gtest/gtest.h>

#include <vector>

#include "geotiff_file.h"
#include "kgtf.h"
#include "test_support.h"

namespace {

TEST(GeoTIFFGeoreferencingSet, TiePointAndScaleOrFullMatrix) {
  struct Case {
    const char* name;
    double m[6];    // a b c d e f
    bool tiePoint;  // else a model transformation
  } cases[] = {
      {"north up", {30, 0, 499700, 0, -30, 4000600}, true},
      {"north down", {30, 0, 499700, 0, 30, 4000600}, true},
      {"tiny shear", {30, 0, 499700, 1e-12, -30, 4000600}, false},
      {"rotated", {25.98, 15, 499700, 15, -25.98, 4000600}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const double* m = c.m;
    XForm xform(kxfr_XFormCreateUsingCoeffs(m[0], m[1], m[2], m[3], m[4], m[5], nullptr));
    GeoTiffWritten w(true, [&](TIFF* tif, GTIF* gtif, Kerr_Report** err) {
      kgtf_GeoTIFFGeoreferencingSet(tif, gtif, KGTF_RASTER_PIXEL_IS_POINT, xform.get(), err);
    });
    EXPECT_EQ(w.err, nullptr);
    using V = std::vector<double>;
    const V tie{0, 0, 0, m[2], m[5], 0}, scale{m[0], -m[4], 0},
        matrix{m[0], m[1], 0, m[2], m[3], m[4], 0, m[5], 0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(w.in.doubles(TIFFTAG_GEOTIEPOINTS), c.tiePoint ? tie : V());
    EXPECT_EQ(w.in.doubles(TIFFTAG_GEOPIXELSCALE), c.tiePoint ? scale : V());
    EXPECT_EQ(w.in.doubles(TIFFTAG_GEOTRANSMATRIX), c.tiePoint ? V() : matrix);
    EXPECT_EQ(w.in.key(GTRasterTypeGeoKey), RasterPixelIsPoint);
  }
}

TEST(GeoTIFFGeoreferencingSet, RefusesANonAffineTransformAndWritesNothing) {
  ReportCapture capture;
  Kxfr_Node node{};
  node.kind = KXFR_NODE_USER;
  node.forward = [](const void*, double* x, double* y, int32_t count, Kerr_Report**) {
    for (int32_t i = 0; i < count; ++i) x[i] += y[i] * y[i];
    return 1;
  };
  XForm bad(kxfr_XFormCreateWithNode(nullptr, &node, nullptr));
  ASSERT_NE(bad, nullptr);
  GeoTiffWritten w(true, [&](TIFF* tif, GTIF* gtif, Kerr_Report** err) {
    kgtf_GeoTIFFGeoreferencingSet(tif, gtif, KGTF_RASTER_PIXEL_IS_AREA, bad.get(), err);
  });
  ASSERT_NE(w.err, nullptr);
  EXPECT_STREQ(kerr_ReportMessage(w.err.get()),
               "Raster to map model transform is not affine; ignoring GeoTIFF");
  EXPECT_TRUE(w.in.doubles(TIFFTAG_GEOTIEPOINTS).empty());
  EXPECT_TRUE(w.in.doubles(TIFFTAG_GEOTRANSMATRIX).empty());
  EXPECT_EQ(w.in.key(GTRasterTypeGeoKey), -1);
}

}  // namespace
