// Georeferencing without GeoTIFF tags: world files beside the image and the
// transform made from the resolution and orientation tags.
#include "world_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "host_owners.h"
#include "test_support.h"

namespace {

std::vector<double> coefficients(const Kxfr_XForm* xform) {
  double k[6];
  if (!kxfr_XFormAffineExtractIfPresent(xform, k, nullptr)) return {};
  return std::vector<double>(k, k + 6);
}

class WorldFile : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = ::testing::TempDir() + "/worldfile_" + std::to_string(getpid());
    image_ = base_ + ".tif";
    handle_.path = const_cast<char*>(image_.c_str());
    handle_.width = handle_.height = 10;
    handle_.geoParams = kgtf_GeoTIFFParamsAllocate();
  }
  void TearDown() override {
    kgtf_GeoTIFFParamsFree(&handle_.geoParams);
    unlink((base_ + ".tfw").c_str());
  }
  void worldFile(const char* text) { std::ofstream(base_ + ".tfw") << text; }

  // Runs readWorldFile; returns its result and checks the report.
  int read(const std::vector<std::string>& expected = {}) {
    Report err;
    const int ok = readWorldFile(&handle_, out(err));
    EXPECT_EQ(reportMessages(err.get()), expected);
    return ok;
  }

  std::string base_, image_;
  Ktif_File handle_{};
};

TEST_F(WorldFile, IsReadIntoTheGeoTIFFParameters) {
  // No world file, or one that cannot be read: nothing, silently. North-up
  // (the map info's corners give the directions) and rotated (the host's
  // transform as it is): the transform and the names.
  using Case = std::pair<const char*, std::vector<double>>;
  for (const auto& [text, expected] :
       {Case{nullptr, {}}, Case{"10\n0\n0\nnorth\n100\n500\n", {}},
        Case{"10\n0\n0\n-10\n100\n500\n", {10, 0, 100, 0, -10, 500}},
        Case{"2\n0.5\n-0.25\n-3\n7\n9\n", {2, -0.25, 7, 0.5, -3, 9}}}) {
    if (text) worldFile(text);
    EXPECT_EQ(read(), 1);
    XForm host;
    HeapText projection, units;
    kgtf_GeoTIFFParamsGeoreferencingGet(handle_.geoParams, out(host), out(projection), out(units),
                                        nullptr);
    EXPECT_EQ(coefficients(host.get()), expected);
    EXPECT_STREQ(projection.get(), expected.empty() ? nullptr : kprj_ProjectionNameUnknown());
    EXPECT_STREQ(units.get(), expected.empty() ? nullptr : kprj_UnitsNameOther());
  }

  // Only storing can fail.
  kgtf_GeoTIFFParamsFree(&handle_.geoParams);
  ASSERT_EQ(read({"kgtf_GeoTIFFParamsGeoreferencingSet failed", "Args"}), 0);
  EXPECT_EQ(readWorldFile(nullptr, nullptr), 0);
}

TEST(MapInformationFromResolution, FollowsUnitAndOrientation) {
  struct Case {
    float xRes;
    uint16_t unit, orientation;
    const char* units;  // null: no strings
    std::vector<double> k;
    std::vector<std::string> error;
  } cases[] = {
      {300, 2, 1, "inches", {300, 0, -0.5, 0, -300, 599.5}, {}},
      {0, 3, 2, "centimeters", {-1, 0, 399.5, 0, -300, 599.5}, {}},
      {4, 1, 3, "other", {-4, 0, 399.5, 0, 300, -0.5}, {}},
      {4, 1, 4, "other", {4, 0, -0.5, 0, 300, -0.5}, {}},
      {4, 1, 5, "other", {0, -300, 399.5, 4, 0, -0.5}, {}},
      {4, 1, 6, "other", {0, -300, 399.5, -4, 0, 599.5}, {}},
      {4, 1, 7, "other", {0, 300, -0.5, -4, 0, 599.5}, {}},
      {4, 1, 8, "other", {0, 300, -0.5, 4, 0, -0.5}, {}},
      {1, 1, 9, nullptr, {}, {"Bad orientation value"}},
      {1, 4, 2, nullptr, {}, {"Bad resolution unit value"}},
      {NAN, 1, 1, nullptr, {}, {"kxfr_XFormCreateUsingCoeffs failed", "Non-finite coefficient"}},
  };
  for (const Case& c : cases) {
    Ktif_File handle{};
    handle.width = 400, handle.height = 600, handle.xResolution = c.xRes, handle.yResolution = 300;
    handle.resolutionUnit = c.unit, handle.orientation = c.orientation;
    XForm xform;
    HeapText projection, units;
    Report err;
    ktif_MapInformationFromResolutionAndOrientationGet(&handle, out(xform), out(projection),
                                                       out(units), out(err));
    EXPECT_EQ(reportMessages(err.get()), c.error) << c.orientation;
    EXPECT_STREQ(projection.get(), c.units ? kprj_ProjectionNameUnknown() : nullptr);
    EXPECT_STREQ(units.get(), c.units);
    EXPECT_EQ(coefficients(xform.get()), c.k) << c.orientation;
  }
  // The TIFF defaults make nothing and leave the outputs alone.
  Ktif_File plain{};
  plain.xResolution = plain.yResolution = 1;
  plain.resolutionUnit = plain.orientation = 1;
  char sentinel = 0;
  char *projection = &sentinel, *units = &sentinel;
  Kxfr_XForm* xform = nullptr;
  ktif_MapInformationFromResolutionAndOrientationGet(&plain, &xform, &projection, &units, nullptr);
  EXPECT_TRUE(xform == nullptr && projection == &sentinel && units == &sentinel);
}

}  // namespace
