// The GeoKey listing captured from libgeotiff's printer replays into a new key
// directory with the same keys.
#include <gtest/gtest.h>

#include <string>

#include "geotiff_file.h"
#include "host_owners.h"
#include "kgtf_internal.h"

namespace {

TEST(GeoTIFFMetaData, ListingReplaysIntoANewDirectory) {
  StringList list;
  {
    GeoTiffFile source([](GTIF* g) {
      geoKeysSet(g, "1024:1 1025:2 3072:32631 3082=500000.25");  // projected, pixel-is-point
      GTIFKeySet(g, GTCitationGeoKey, TYPE_ASCII, 0, "WGS 84 / UTM zone 31N");
    });
    GTIFPrint(source.gtif(), GeoTIFFMetaDataPrintMethod, out(list));
  }
  ASSERT_NE(list, nullptr);
  ASSERT_GT(list->count, 5);
  for (int i = 0; i + 1 < list->count; ++i)
    EXPECT_EQ(std::string(list->strings[i]).back(), '\n') << i;

  TempFile target("keys_target");
  geoTiffWrite(target.path(), [](GTIF*) {});
  {
    GeoTiffOpen update(target.path(), "r+");
    MetaDataCursor cursor{0, list.get()};
    EXPECT_TRUE(GTIFImport(update.gtif.get(), MetaDataLineReadMethod, &cursor));
    EXPECT_LE(cursor.index, list->count);
    GTIFWriteKeys(update.gtif.get());
  }
  GeoTiffOpen in(target.path());
  unsigned short model = 0, raster = 0, pcs = 0;
  double easting = 0;
  char citation[64] = {0};
  EXPECT_EQ(GTIFKeyGet(in.gtif.get(), GTModelTypeGeoKey, &model, 0, 1), 1);
  EXPECT_EQ(GTIFKeyGet(in.gtif.get(), GTRasterTypeGeoKey, &raster, 0, 1), 1);
  EXPECT_EQ(GTIFKeyGet(in.gtif.get(), ProjectedCSTypeGeoKey, &pcs, 0, 1), 1);
  EXPECT_EQ(GTIFKeyGet(in.gtif.get(), ProjFalseEastingGeoKey, &easting, 0, 1), 1);
  EXPECT_GT(GTIFKeyGet(in.gtif.get(), GTCitationGeoKey, citation, 0, sizeof citation), 0);
  EXPECT_EQ(model, ModelTypeProjected);
  EXPECT_EQ(raster, RasterPixelIsPoint);
  EXPECT_EQ(pcs, 32631);
  EXPECT_DOUBLE_EQ(easting, 500000.25);
  EXPECT_STREQ(citation, "WGS 84 / UTM zone 31N");
}

}  // namespace
