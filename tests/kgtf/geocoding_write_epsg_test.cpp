// Systems the EPSG registry names, written through the driver and read by
// GDAL: the code GDAL finds must be the one the projection came from.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "epsg_helper.h"
#include "geocoding.h"
#include "geotiff_file.h"
#include "kgtf.h"
#include "library_owners.h"

namespace {

// What Debian's Python with GDAL prints for the code (empty when it fails).
std::string gdalSays(const std::string& code) {
  std::string output;
  FILE* pipe = popen(("/usr/bin/python3 -c \"" + code + "\" 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) output.append(buffer);
  return pclose(pipe) == 0 ? output : std::string();
}

TEST(GeocodingWriteEpsg, GdalFindsTheCodeWritten) {
  if (gdalSays("from osgeo import gdal; print(1)").empty())
    GTEST_SKIP() << "python3-gdal not installed";
  struct Case {
    int32_t code;
    geokey_t key;  // where the code must be
  } cases[] = {{4326, GeographicTypeGeoKey},
               {32631, ProjectedCSTypeGeoKey},
               {27700, ProjectedCSTypeGeoKey},
               {3035, ProjectedCSTypeGeoKey}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    _kprj_MapProjectionEx* raw = nullptr;
    char* rawUnits = nullptr;
    GetProjAndUnitsFromEPSG(c.code, &raw, &rawUnits);
    Projection projection(raw);
    HeapText units(rawUnits);
    ASSERT_NE(projection, nullptr);
    GeoParams params(kgtf_GeoTIFFParamsAllocate());
    kgtf_GeoTIFFParamsGeocodingSet(params.get(), projection.get(), nullptr);
    XForm xform(kxfr_XFormCreateUsingCoeffs(10, 0, 1000, 0, -10, 2000, nullptr));
    kgtf_GeoTIFFParamsGeoreferencingSet(params.get(), xform.get(), params->projectionName,
                                        units.get(), nullptr);
    GeoTiffWritten w(false, [&](TIFF* tif, GTIF*, Kerr_Report** err) {
      kgtf_GeoTIFFParamsWrite(tif, params.get(), err);
    });
    EXPECT_EQ(w.err, nullptr) << (w.err ? kerr_ReportMessage(w.err.get()) : "");
    EXPECT_EQ(w.in.key(c.key), c.code);
    const std::string output =
        gdalSays("from osgeo import gdal; s = gdal.Open('" + w.file.path() +
                 "').GetSpatialRef(); s.AutoIdentifyEPSG(); "
                 "print(s.GetAuthorityCode('PROJCS' if s.IsProjected() else 'GEOGCS'))");
    EXPECT_EQ(std::atoi(output.c_str()), c.code) << output;
  }
}

}  // namespace
