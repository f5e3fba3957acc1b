// Georeferencing at open: the GeoTIFF transform wins, a world file stands in
// for a missing one under "tfw_access", and one that cannot be read is passed
// over.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "geotiff_file.h"
#include "kpmg.h"
#include "ktif_internal.h"
#include "library_owners.h"

namespace {

// Coefficients of the host (pixel-centre) transform of an open image; empty
// when it has none.
std::vector<double> hostCoefficients(const Ktif_File* h) {
  XForm xform;
  kgtf_GeoTIFFParamsGeoreferencingGet(h->geoParams, out(xform), nullptr, nullptr, nullptr);
  double k[6];
  if (!xform || kxfr_XFormAffineExtractIfPresent(xform.get(), k, nullptr) != 1) return {};
  return std::vector<double>(k, k + 6);
}

TEST(GeoreferencingAtOpen, TransformTagsWinAndWorldFilesFollowThePreference) {
  // 8 x 8 images: without GeoTIFF tags; with a 2 m, north-up transformation
  // matrix whose upper-left corner is at (1000, 2000); with a key directory
  // whose key points past the double parameters; and one whose world file
  // cannot be read.
  TempFile plain("georef_plain"), tagged("georef_tagged"), broken("georef_broken"),
      unreadable("georef_badtfw");
  geoTiffWrite(plain.path(), nullptr, nullptr, 8);
  geoTiffWrite(unreadable.path(), nullptr, nullptr, 8);
  geoTiffWrite(
      tagged.path(), [](GTIF* g) { geoKeysSet(g, "1025:1"); },
      [](TIFF* tif) {
        double matrix[16] = {2, 0, 0, 1000, 0, -2, 0, 2000, 0, 0, 0, 0, 0, 0, 0, 1};
        TIFFSetField(tif, TIFFTAG_GEOTRANSMATRIX, 16, matrix);
      },
      8);
  geoTiffWrite(
      broken.path(), nullptr,
      [](TIFF* tif) {
        uint16_t directory[] = {1, 1, 0, 1, ProjFalseEastingGeoKey, 34736, 5, 40};
        double doubles[1] = {1.5};
        TIFFSetField(tif, TIFFTAG_GEOKEYDIRECTORY, 8, directory);
        TIFFSetField(tif, TIFFTAG_GEODOUBLEPARAMS, 1, doubles);
      },
      8);
  std::vector<std::string> worldFiles;
  for (const TempFile* image : {&plain, &tagged, &broken, &unreadable}) {
    worldFiles.push_back(image->path().substr(0, image->path().size() - 4) + ".tfw");
    std::ofstream(worldFiles.back())
        << (image == &unreadable ? "10\nnot a number\n" : "10\n0\n0\n-10\n100\n500\n");
  }
  const std::vector<double> fromWorldFile = {10, 0, 100, 0, -10, 500};
  const std::vector<double> fromTags = {2, 0, 1001, 0, -2, 1999};  // moved to pixel centres
  struct Case {
    const char* access;
    const TempFile* image;
    std::vector<double> expected;  // empty: no georeferencing
  } cases[] = {
      {"Read", &plain, fromWorldFile}, {"Write", &plain, fromWorldFile},
      {"Ignore", &plain, {}},          {"Read", &tagged, fromTags},
      {"Ignore", &tagged, fromTags},   {"Read", &broken, fromWorldFile},
      {"Ignore", &broken, {}},         {"Read", &unreadable, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.access) + " " + c.image->path());
    kpmg_SetPreference("tiff", "tfw_access", c.access, nullptr);
    Report err;
    KtifHandle h(ktif_Open(c.image->path().c_str(), "r", out(err)));
    EXPECT_EQ(err, nullptr);
    ASSERT_NE(h, nullptr);
    ASSERT_NE(h->geoParams, nullptr);
    const std::vector<double> k = hostCoefficients(h.get());
    ASSERT_EQ(k.size(), c.expected.size());
    for (size_t i = 0; i < k.size(); ++i) EXPECT_NEAR(k[i], c.expected[i], 1e-9) << i;
  }
  kpmg_ClearPreferences();
  for (const std::string& name : worldFiles) std::remove(name.c_str());
}

}  // namespace
