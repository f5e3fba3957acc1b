// The GeoKey listing captured from libgeotiff's printer replays into a new key
// directory with the same keys.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include <geo_normalize.h>
#include <geotiffio.h>
#include <xtiffio.h>

#include "kgtf_internal.h"

namespace {

std::string tempPath(const char* name) {
  return std::string(::testing::TempDir()) + "/" + name + "_" + std::to_string(getpid()) + ".tif";
}

// A one-pixel TIFF carrying `keys`.
void writeKeys(const std::string& path, void (*keys)(GTIF*)) {
  TIFF* tif = XTIFFOpen(path.c_str(), "w");
  ASSERT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 1);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 1);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  GTIF* gtif = GTIFNew(tif);
  ASSERT_NE(gtif, nullptr);
  keys(gtif);
  GTIFWriteKeys(gtif);
  GTIFFree(gtif);
  unsigned char pixel = 0;
  TIFFWriteScanline(tif, &pixel, 0, 0);
  XTIFFClose(tif);
}

KstrStringList* listingOf(const std::string& path) {
  TIFF* tif = XTIFFOpen(path.c_str(), "r");
  GTIF* gtif = GTIFNew(tif);
  KstrStringList* list = nullptr;
  GTIFPrint(gtif, GeoTIFFMetaDataPrintMethod, &list);
  GTIFFree(gtif);
  XTIFFClose(tif);
  return list;
}

TEST(GeoTIFFMetaData, ListingReplaysIntoANewDirectory) {
  std::string source = tempPath("keys_source"), target = tempPath("keys_target");
  writeKeys(source, [](GTIF* g) {
    GTIFKeySet(g, GTModelTypeGeoKey, TYPE_SHORT, 1, ModelTypeProjected);
    GTIFKeySet(g, GTRasterTypeGeoKey, TYPE_SHORT, 1, RasterPixelIsPoint);
    GTIFKeySet(g, ProjectedCSTypeGeoKey, TYPE_SHORT, 1, 32631);
    GTIFKeySet(g, GTCitationGeoKey, TYPE_ASCII, 0, "WGS 84 / UTM zone 31N");
    GTIFKeySet(g, ProjFalseEastingGeoKey, TYPE_DOUBLE, 1, 500000.25);
  });
  KstrStringList* list = listingOf(source);
  ASSERT_NE(list, nullptr);
  ASSERT_GT(list->count, 5);
  for (int i = 0; i + 1 < list->count; ++i)
    EXPECT_EQ(std::string(list->strings[i]).back(), '\n') << i;

  writeKeys(target, [](GTIF*) {});
  {
    TIFF* tif = XTIFFOpen(target.c_str(), "r+");
    GTIF* gtif = GTIFNew(tif);
    MetaDataCursor cursor{0, list};
    EXPECT_TRUE(GTIFImport(gtif, MetaDataLineReadMethod, &cursor));
    EXPECT_LE(cursor.index, list->count);
    GTIFWriteKeys(gtif);
    GTIFFree(gtif);
    XTIFFClose(tif);
  }
  TIFF* tif = XTIFFOpen(target.c_str(), "r");
  GTIF* gtif = GTIFNew(tif);
  unsigned short model = 0, raster = 0, pcs = 0;
  double easting = 0;
  char citation[64] = {0};
  EXPECT_EQ(GTIFKeyGet(gtif, GTModelTypeGeoKey, &model, 0, 1), 1);
  EXPECT_EQ(GTIFKeyGet(gtif, GTRasterTypeGeoKey, &raster, 0, 1), 1);
  EXPECT_EQ(GTIFKeyGet(gtif, ProjectedCSTypeGeoKey, &pcs, 0, 1), 1);
  EXPECT_EQ(GTIFKeyGet(gtif, ProjFalseEastingGeoKey, &easting, 0, 1), 1);
  EXPECT_GT(GTIFKeyGet(gtif, GTCitationGeoKey, citation, 0, sizeof citation), 0);
  EXPECT_EQ(model, ModelTypeProjected);
  EXPECT_EQ(raster, RasterPixelIsPoint);
  EXPECT_EQ(pcs, 32631);
  EXPECT_DOUBLE_EQ(easting, 500000.25);
  EXPECT_STREQ(citation, "WGS 84 / UTM zone 31N");
  GTIFFree(gtif);
  XTIFFClose(tif);
  kstr_StringListDelete(&list, nullptr);
  std::remove(source.c_str());
  std::remove(target.c_str());
}

}  // namespace
