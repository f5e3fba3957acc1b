// Systems the EPSG registry names, written through the driver and read by
// GDAL: the code GDAL finds must be the one the projection came from.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "epsg_helper.h"
#include "geocoding.h"
#include "kgtf.h"
#include "write_support.h"

namespace {

// The record of an EPSG code written with a 10-unit north-up transform.
struct EpsgWritten {
  explicit EpsgWritten(int32_t code) {
    _kprj_MapProjectionEx* raw = nullptr;
    char* rawUnits = nullptr;
    GetProjAndUnitsFromEPSG(code, &raw, &rawUnits);
    projection.reset(raw);
    units.reset(rawUnits);
    EXPECT_NE(projection, nullptr);
    GeoParams params(kgtf_GeoTIFFParamsAllocate());
    kgtf_GeoTIFFParamsGeocodingSet(params.get(), projection.get(), nullptr);
    XForm xform(kxfr_XFormCreateUsingCoeffs(10, 0, 1000, 0, -10, 2000, nullptr));
    kgtf_GeoTIFFParamsGeoreferencingSet(params.get(), xform.get(), params->projectionName,
                                        units.get(), nullptr);
    writeWithTiff(file.path(),
                  [&](TIFF* tif) { kgtf_GeoTIFFParamsWrite(tif, params.get(), out(err)); });
  }
  TempFile file{"epsg_write"};
  Projection projection;
  HeapText units;
  Report err;
};

TEST(GeocodingWriteEpsg, GdalFindsTheCodeWritten) {
  if (!gdalAvailable()) GTEST_SKIP() << "python3-gdal not installed";
  struct Case {
    int32_t code;
    geokey_t key;  // where the code must be
  } cases[] = {{4326, GeographicTypeGeoKey},
               {32631, ProjectedCSTypeGeoKey},
               {27700, ProjectedCSTypeGeoKey},
               {3035, ProjectedCSTypeGeoKey}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EpsgWritten w(c.code);
    EXPECT_EQ(w.err, nullptr) << (w.err ? kerr_ReportMessage(w.err.get()) : "");
    {
      GeoTiffOpen in(w.file.path());
      uint16_t value = 0;
      EXPECT_EQ(GTIFKeyGet(in.gtif.get(), c.key, &value, 0, 1), 1);
      EXPECT_EQ(value, c.code);
    }
    std::string output;
    ASSERT_TRUE(commandOutput(
        "/usr/bin/python3 -c \"from osgeo import gdal; s = gdal.Open('" + w.file.path() +
            "').GetSpatialRef(); s.AutoIdentifyEPSG(); "
            "print(s.GetAuthorityCode('PROJCS' if s.IsProjected() else 'GEOGCS'))\" 2>/dev/null",
        &output));
    EXPECT_EQ(std::atoi(output.c_str()), c.code) << output;
  }
}

// The units key follows the host's units; a projection the registry cannot
// name is refused, so that the caller can spell it out instead.
TEST(GeocodingWriteEpsg, UnitsKeyAndRefusal) {
  _kprj_MapProjectionEx* raw = nullptr;
  char* units = nullptr;
  GetProjAndUnitsFromEPSG(3035, &raw, &units);
  Projection laea(raw);
  HeapText owned(units);
  ASSERT_NE(laea, nullptr);
  Pro som(kgtf_ProParametersCreate(21, 0));
  Projection unnamed(kprj_ProjectionInit(nullptr, som.get(), nullptr));
  Report err, refused;
  TempFile file("epsg_units");
  writeWithKeys(file.path(), [&](TIFF*, GTIF* gtif) {
    EXPECT_EQ(PCSWriteEPSG(gtif, unnamed.get(), "meters", out(refused)), 0);
    EXPECT_EQ(PCSWriteEPSG(gtif, laea.get(), "meters", out(err)), 1);
  });
  EXPECT_EQ(err, nullptr);
  ASSERT_NE(refused, nullptr);
  EXPECT_STREQ(kerr_ReportMessage(refused.get()), "Could not export projection to EPSG.");
  EXPECT_STREQ(kerr_ReportLabel(refused.get()), "PCSWriteRSO");
  GeoTiffOpen in(file.path());
  uint16_t pcs = 0, linear = 0;
  EXPECT_EQ(GTIFKeyGet(in.gtif.get(), ProjectedCSTypeGeoKey, &pcs, 0, 1), 1);
  EXPECT_EQ(GTIFKeyGet(in.gtif.get(), ProjLinearUnitsGeoKey, &linear, 0, 1), 1);
  EXPECT_EQ(pcs, 3035);
  EXPECT_EQ(linear, 9001);
}

}  // namespace
