// Georeferencing at open: the GeoTIFF transform wins, a world file stands in
// for a missing one under "tfw_access".
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <geotiffio.h>
#include <xtiffio.h>

#include "kmsc.h"
#include "kpmg.h"
#include "ktif_internal.h"
#include "tiff_builder.h"

namespace {

struct HandleCloser {
  void operator()(Ktif_File* h) const { ktif_Close(h, nullptr); }
};
using Handle = std::unique_ptr<Ktif_File, HandleCloser>;

enum class Keys { None, Transformation, Broken };

// An 8 x 8 image; Transformation: a 2 m, north-up transformation matrix with
// its upper-left corner at (1000, 2000); Broken: a key directory whose key
// points past the double parameters.
void imageWrite(const std::string& path, Keys keys) {
  TIFF* tif = XTIFFOpen(path.c_str(), "w");
  ASSERT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 8);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 8);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 8);
  if (keys == Keys::Broken) {
    uint16_t directory[] = {1, 1, 0, 1, ProjFalseEastingGeoKey, 34736, 5, 40};
    double doubles[1] = {1.5};
    TIFFSetField(tif, TIFFTAG_GEOKEYDIRECTORY, 8, directory);
    TIFFSetField(tif, TIFFTAG_GEODOUBLEPARAMS, 1, doubles);
  }
  if (keys == Keys::Transformation) {
    double matrix[16] = {2, 0, 0, 1000, 0, -2, 0, 2000, 0, 0, 0, 0, 0, 0, 0, 1};
    TIFFSetField(tif, TIFFTAG_GEOTRANSMATRIX, 16, matrix);
    GTIF* gtif = GTIFNew(tif);
    GTIFKeySet(gtif, GTRasterTypeGeoKey, TYPE_SHORT, 1, RasterPixelIsArea);
    GTIFWriteKeys(gtif);
    GTIFFree(gtif);
  }
  unsigned char row[8] = {};
  for (uint32_t y = 0; y < 8; ++y) TIFFWriteScanline(tif, row, y, 0);
  XTIFFClose(tif);
}

// Coefficients of the host (pixel-centre) transform of an open image; false
// when it has none.
bool hostCoefficients(const Ktif_File* h, double c[6]) {
  Kxfr_XForm* xform = nullptr;
  kgtf_GeoTIFFParamsGeoreferencingGet(h->geoParams, &xform, nullptr, nullptr, nullptr);
  bool affine = xform != nullptr && kxfr_XFormAffineExtractIfPresent(xform, c, nullptr) == 1;
  kxfr_XFormFree(&xform, nullptr);
  return affine;
}

TEST(GeoreferencingAtOpen, TransformTagsWinAndWorldFilesFollowThePreference) {
  TempFile plain("georef_plain"), tagged("georef_tagged"), broken("georef_broken");
  imageWrite(plain.path(), Keys::None);
  imageWrite(tagged.path(), Keys::Transformation);
  imageWrite(broken.path(), Keys::Broken);
  std::vector<std::string> worldFiles;
  for (const TempFile* image : {&plain, &tagged, &broken}) {
    worldFiles.push_back(image->path().substr(0, image->path().size() - 4) + ".tfw");
    std::ofstream(worldFiles.back()) << "10\n0\n0\n-10\n100\n500\n";
  }
  const double fromWorldFile[6] = {10, 0, 100, 0, -10, 500};
  const double fromTags[6] = {2, 0, 1001, 0, -2, 1999};  // moved to pixel centres
  struct Case {
    const char* access;
    const std::string* path;
    const double* expected;  // null: no georeferencing
  } cases[] = {
      {"Read", &plain.path(), fromWorldFile}, {"Write", &plain.path(), fromWorldFile},
      {"Ignore", &plain.path(), nullptr},     {"Read", &tagged.path(), fromTags},
      {"Ignore", &tagged.path(), fromTags},   {"Read", &broken.path(), fromWorldFile},
      {"Ignore", &broken.path(), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.access) + " " + *c.path);
    kpmg_SetPreference("tiff", "tfw_access", c.access, nullptr);
    Kerr_Report* err = nullptr;
    Handle h(ktif_Open(c.path->c_str(), "r", &err));
    kerr_DeleteErrorReportEx(&err);
    ASSERT_NE(h, nullptr);
    ASSERT_NE(h->geoParams, nullptr);
    double coefficients[6];
    ASSERT_EQ(hostCoefficients(h.get(), coefficients), c.expected != nullptr);
    for (int k = 0; c.expected != nullptr && k < 6; ++k)
      EXPECT_NEAR(coefficients[k], c.expected[k], 1e-9) << k;
  }
  kpmg_ClearPreferences();
  for (const std::string& name : worldFiles) std::remove(name.c_str());
}

TEST(GeoreferencingAtOpen, UnreadableWorldFileStillOpens) {
  TempFile image("georef_badtfw");
  imageWrite(image.path(), Keys::None);
  const std::string worldFile = image.path().substr(0, image.path().size() - 4) + ".tfw";
  std::ofstream(worldFile) << "10\nnot a number\n";
  Kerr_Report* err = nullptr;
  Handle h(ktif_Open(image.path().c_str(), "r", &err));
  EXPECT_EQ(err, nullptr);
  ASSERT_NE(h, nullptr);
  double coefficients[6];
  EXPECT_FALSE(hostCoefficients(h.get(), coefficients));
  std::remove(worldFile.c_str());
}

}  // namespace
