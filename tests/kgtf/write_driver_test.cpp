// The write driver: the key replay of an unchanged record, units overrides
// that a read undoes, and what is written without a projection.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "kgtf.h"
#include "kint.h"
#include "kpmg.h"
#include "test_support.h"
#include "write_support.h"

namespace {

constexpr double kSurveyFoot = 1200.0 / 3937.0;  // meters

// The key section of a GTIFPrint listing.
std::string keySection(GTIF* gtif) {
  std::string listing = keyListing(gtif);
  size_t at = listing.find("Keyed_Information:");
  return at == std::string::npos ? std::string() : listing.substr(at);
}

// A file written by the driver from `params`, open again for reading.
struct DriverWritten {
  explicit DriverWritten(const Kgtf_GeoTIFFParams* params) {
    writeWithTiff(file.path(), [&](TIFF* tif) { kgtf_GeoTIFFParamsWrite(tif, params, out(err)); });
    in = std::make_unique<GeoTiffOpen>(file.path());
  }
  TIFF* tif() const { return in->tif.get(); }
  GeoParams readBack() const {
    GeoParams params;
    Report readErr;
    kgtf_GeoTIFFParamsRead(tif(), out(params), out(readErr));
    EXPECT_EQ(readErr, nullptr);
    return params;
  }
  TempFile file{"write_driver"};
  Report err;
  std::unique_ptr<GeoTiffOpen> in;
};

// A UTM zone 31 north record on WGS 84.
Projection utm31() {
  Pro pro(kprj_ProParametersCreateByName("UTM", nullptr));
  pro->zone = 31;
  pro->parameters[3] = 1.0;
  kprj_SpheroidByName(kint_GetInit(), "WGS 84", pro->spheroid, nullptr);
  kprj_DatumByName(kint_GetInit(), "WGS 84", "WGS 84", pro->spheroid->datum, nullptr);
  return Projection(kprj_ProjectionInit(kint_GetInit(), pro.get(), nullptr));
}

TEST(GeoTIFFParamsWrite, AnUnchangedRecordReplaysItsKeysAndNoTransform) {
  GeoTiffFile source(
      [](GTIF* g) {
        geoKeysSet(g, "1024:1 1025:2 3072:32631 3082=500000.25");
        GTIFKeySet(g, GTCitationGeoKey, TYPE_ASCII, 0, "WGS 84 / UTM zone 31N");
      },
      [](TIFF* tif) {
        double tiePoint[6] = {0, 0, 0, 500000, 4000000, 0}, scale[3] = {30, 30, 0};
        TIFFSetField(tif, TIFFTAG_GEOTIEPOINTS, 6, tiePoint);
        TIFFSetField(tif, TIFFTAG_GEOPIXELSCALE, 3, scale);
      });
  GeoParams params;
  kgtf_GeoTIFFParamsRead(source.in.tif.get(), out(params), nullptr);
  ASSERT_NE(params, nullptr);
  ASSERT_NE(params->xform, nullptr);

  DriverWritten copy(params.get());
  EXPECT_EQ(copy.err, nullptr);
  EXPECT_EQ(keySection(copy.in->gtif.get()), keySection(source.gtif()));
  EXPECT_NE(keySection(source.gtif()).find("ProjectedCSTypeGeoKey"), std::string::npos);
  EXPECT_TRUE(doubleTag(copy.tif(), TIFFTAG_GEOTIEPOINTS).empty());
  EXPECT_TRUE(doubleTag(copy.tif(), TIFFTAG_GEOPIXELSCALE).empty());
  EXPECT_TRUE(doubleTag(copy.tif(), TIFFTAG_GEOTRANSMATRIX).empty());

  // Once the host sets the georeferencing, the transform goes out over the
  // replayed keys.
  XForm host(kxfr_XFormCreateUsingCoeffs(10, 0, 600000, 0, -10, 5000000, nullptr));
  kgtf_GeoTIFFParamsGeoreferencingSet(params.get(), host.get(), "UTM", "meters", nullptr);
  DriverWritten moved(params.get());
  EXPECT_EQ(moved.err, nullptr);
  // Pixel-is-point, as read: no half-pixel shift.
  EXPECT_EQ(doubleTag(moved.tif(), TIFFTAG_GEOTIEPOINTS),
            (std::vector<double>{0, 0, 0, 600000, 5000000, 0}));
  uint16_t pcs = 0;
  EXPECT_EQ(GTIFKeyGet(moved.in->gtif.get(), ProjectedCSTypeGeoKey, &pcs, 0, 1), 1);
  EXPECT_EQ(pcs, 32631);
}

TEST(GeoTIFFParamsWrite, UnitsOverrideInSurveyFeetReadsBack) {
  // Host coordinates in US survey feet over UTM, whose GeoKeys are in meters.
  const double c = 1640416.6667, f = 13123333.3333, size = 98.4252;
  XForm feet(kxfr_XFormCreateUsingCoeffs(size, 0, c, 0, -size, f, nullptr));
  struct Case {
    const char* overrides;
    int linearUnits;    // ProjLinearUnitsGeoKey written
    double fileFactor;  // file coordinates per host foot
  } cases[] = {
      {"Read/Write", 9003, 1.0},  // the units key says feet: no conversion
      {"Read", -1, kSurveyFoot},  // the keys keep meters: the transform is converted
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.overrides);
    kpmg_SetPreference("tiff", "unit_overrides", k.overrides, nullptr);
    GeoParams params(kgtf_GeoTIFFParamsAllocate());
    Projection projection = utm31();
    kgtf_GeoTIFFParamsGeocodingSet(params.get(), projection.get(), nullptr);
    kgtf_GeoTIFFParamsGeoreferencingSet(params.get(), feet.get(), "UTM", "us_survey_feet", nullptr);
    DriverWritten w(params.get());
    EXPECT_EQ(w.err, nullptr) << (w.err ? kerr_ReportMessage(w.err.get()) : "");
    uint16_t units = 0;
    EXPECT_EQ(GTIFKeyGet(w.in->gtif.get(), ProjLinearUnitsGeoKey, &units, 0, 1) == 1 ? units : -1,
              k.linearUnits);
    std::vector<double> tie = doubleTag(w.tif(), TIFFTAG_GEOTIEPOINTS);
    ASSERT_EQ(tie.size(), 6u);
    // The tie point is the outer corner: half a pixel up and left of the centre.
    EXPECT_NEAR(tie[3], (c - size / 2) * k.fileFactor, 1e-6);

    GeoParams back = w.readBack();
    kpmg_ClearPreferences();
    ASSERT_NE(back, nullptr);
    EXPECT_STREQ(back->unitsName, "us_survey_feet");
    EXPECT_STREQ(back->projectionName, "UTM");
    XForm hostBack;
    kgtf_GeoTIFFParamsGeoreferencingGet(back.get(), out(hostBack), nullptr, nullptr, nullptr);
    ASSERT_NE(hostBack, nullptr);
    double got[6];
    ASSERT_EQ(kxfr_XFormAffineExtractIfPresent(hostBack.get(), got, nullptr), 1);
    const double want[6] = {size, 0, c, 0, -size, f};
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(got[i], want[i], 1e-6) << i;
  }
  kpmg_ClearPreferences();
}

TEST(GeoTIFFParamsWrite, WithoutProjectionOnlyTheTransformAndCitation) {
  GeoParams params(kgtf_GeoTIFFParamsAllocate());
  XForm host(kxfr_XFormCreateUsingCoeffs(2, 0, 100, 0, -2, 200, nullptr));
  kgtf_GeoTIFFParamsGeoreferencingSet(params.get(), host.get(), nullptr, nullptr, nullptr);
  DriverWritten w(params.get());
  EXPECT_EQ(w.err, nullptr);
  uint16_t model = 99;
  EXPECT_EQ(GTIFKeyGet(w.in->gtif.get(), GTModelTypeGeoKey, &model, 0, 1), 1);
  EXPECT_EQ(model, 0);
  char citation[1024] = {0};
  GTIFKeyGet(w.in->gtif.get(), GTCitationGeoKey, citation, 0, sizeof citation - 1);
  EXPECT_NE(std::string(citation).find("Geocoding information not available"), std::string::npos);
  EXPECT_EQ(doubleTag(w.tif(), TIFFTAG_GEOTIEPOINTS), (std::vector<double>{0, 0, 0, 99, 201, 0}));
}

TEST(GeoTIFFParamsWrite, RefusalsReachTheCaller) {
  // A transform GeoTIFF cannot hold: the driver says which step failed.
  Kxfr_Node node{};
  node.kind = KXFR_NODE_USER;
  node.forward = [](const void*, double*, double*, int32_t, Kerr_Report**) { return 1; };
  XForm odd(kxfr_XFormCreateWithNode(nullptr, &node, nullptr));
  GeoParams params(kgtf_GeoTIFFParamsAllocate());
  params->xform = kxfr_XFormCopy(odd.get(), nullptr);
  params->georeferencingChanged = 1;
  DriverWritten w(params.get());
  ASSERT_NE(w.err, nullptr);
  EXPECT_EQ(
      reportMessages(w.err.get()),
      (std::vector<std::string>{"GeoTIFFGeoreferencingSet failed",
                                "Raster to map model transform is not affine; ignoring GeoTIFF"}));

  Report err;
  kgtf_GeoTIFFParamsWrite(nullptr, params.get(), out(err));
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(kerr_ReportMessage(err.get()), "Args");
  kgtf_GeoTIFFParamsWrite(nullptr, nullptr, out(err));
  EXPECT_EQ(err, nullptr);
}

}  // namespace
