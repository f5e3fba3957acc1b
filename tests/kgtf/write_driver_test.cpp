// The write driver: the key replay of an unchanged record, keys the host
// cannot read, and a units override that a read undoes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "geotiff_file.h"
#include "kgtf.h"
#include "kint.h"
#include "library_owners.h"
#include "kpmg.h"
#include "test_support.h"

namespace {

// The key section of a GTIFPrint listing.
std::string keySection(GTIF* gtif) {
  std::string listing;
  GTIFPrint(
      gtif,
      [](char* piece, void* out) {
        static_cast<std::string*>(out)->append(piece);
        return 0;
      },
      &listing);
  size_t at = listing.find("Keyed_Information:");
  return at == std::string::npos ? std::string() : listing.substr(at);
}

// A file written by the driver from `params`.
struct DriverWritten : GeoTiffWritten {
  explicit DriverWritten(const Kgtf_GeoTIFFParams* params)
      : GeoTiffWritten(false, [params](TIFF* tif, GTIF*, Kerr_Report** err) {
          kgtf_GeoTIFFParamsWrite(tif, params, err);
        }) {}
};

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

  DriverWritten copy(params.get());
  EXPECT_EQ(copy.err, nullptr);
  EXPECT_NE(keySection(source.gtif()).find("ProjectedCSTypeGeoKey"), std::string::npos);
  EXPECT_EQ(keySection(copy.in.gtif.get()), keySection(source.gtif()));
  EXPECT_TRUE(copy.in.doubles(TIFFTAG_GEOTIEPOINTS).empty());
  EXPECT_TRUE(copy.in.doubles(TIFFTAG_GEOTRANSMATRIX).empty());

  // Once the host sets the georeferencing, the transform goes out over the
  // replayed keys, pixel-is-point as read: no half-pixel shift.
  XForm host(kxfr_XFormCreateUsingCoeffs(10, 0, 600000, 0, -10, 5000000, nullptr));
  kgtf_GeoTIFFParamsGeoreferencingSet(params.get(), host.get(), "UTM", "meters", nullptr);
  DriverWritten moved(params.get());
  EXPECT_EQ(moved.err, nullptr);
  EXPECT_EQ(moved.in.doubles(TIFFTAG_GEOTIEPOINTS),
            (std::vector<double>{0, 0, 0, 600000, 5000000, 0}));
  EXPECT_EQ(moved.in.key(ProjectedCSTypeGeoKey), 32631);
}

// Pseudo-Mercator, which the host cannot hold, lives on in the replayed keys
// alone: setting the transform must not reset their model type.
TEST(GeoTIFFParamsWrite, KeysWithoutAHostProjectionKeepTheirModelType) {
  GeoTiffFile source([](GTIF* g) { geoKeysSet(g, "1024:1 1025:1 3072:3857"); });
  GeoParams params;
  kgtf_GeoTIFFParamsRead(source.in.tif.get(), out(params), nullptr);
  ASSERT_NE(params, nullptr);
  ASSERT_EQ(params->projection, nullptr);
  XForm host(kxfr_XFormCreateUsingCoeffs(10, 0, 600000, 0, -10, 5000000, nullptr));
  kgtf_GeoTIFFParamsGeoreferencingSet(params.get(), host.get(), nullptr, nullptr, nullptr);
  DriverWritten moved(params.get());
  EXPECT_EQ(moved.err, nullptr);
  EXPECT_EQ(moved.in.key(GTModelTypeGeoKey), ModelTypeProjected);
  EXPECT_EQ(moved.in.key(ProjectedCSTypeGeoKey), 3857);
  EXPECT_EQ(moved.in.doubles(TIFFTAG_GEOTIEPOINTS).size(), 6u);
}

// Double values in listing lines of three, as GTIFPrint writes them.
std::string doubleLines(int count, double value) {
  std::string lines;
  for (int i = 0; i < count; ++i)
    lines += std::to_string(value) + (i % 3 == 2 || i + 1 == count ? "\n" : " ");
  return lines;
}

TEST(GeoTIFFParamsWrite, AHostileListingReplaysOnlyWhatImportsSafely) {
  // Each bad entry once crashed, overran or leaked in libgeotiff's importer
  // or key writer; the good keys around them still go out.
  const int kBudgetKeys[] = {ProjStdParallel1GeoKey, ProjStdParallel2GeoKey,
                             ProjNatOriginLongGeoKey, ProjNatOriginLatGeoKey, ProjCenterLongGeoKey};
  std::string listing =
      "Geotiff_Information:\n   Version: 1\n   Key_Revision: 1.0\n"
      "   Tagged_Information:\n      End_Of_Tags.\n   Keyed_Information:\n"
      "      GTModelTypeGeoKey (Short,1): ModelTypeProjected\n"
      "      GTRasterTypeGeoKey (Short,1): RasterPixelIsArea\n"
      // Set again as text: the short value would be freed as a pointer.
      "      GTRasterTypeGeoKey (Ascii,5): \"abcd\"\n"
      "      GTCitationGeoKey (Ascii,22): \"WGS 84 / UTM zone 31N\"\n"
      // Longer than its text: the importer stops and loses its copy.
      "      PCSCitationGeoKey (Ascii,40): \"short\"\n"
      "      GeogCitationGeoKey (Double,1): 5\n"
      "      ProjectedCSTypeGeoKey (Short,1): PCS_WGS84_UTM_zone_31N\n"
      "      ProjFalseEastingGeoKey (Double,1): 500000.25\n"
      // Past the importer's buffer of 100 doubles.
      "      ProjFalseNorthingGeoKey (Double,150): " +
      doubleLines(150, 1);
  // With the easting, four of these fit in the 500 doubles a replay may take
  // of the directory's 1000; the fifth would leave too few for the keys
  // written later.
  for (int key : kBudgetKeys)
    listing += "      " + std::string(GTIFKeyName(geokey_t(key))) +
               " (Double,100): " + doubleLines(100, 2);
  listing += "      End_Of_Keys.\n   End_Of_Geotiff.\n";

  GeoParams params(kgtf_GeoTIFFParamsAllocate());
  ASSERT_NE(params, nullptr);
  for (size_t at = 0, end; at < listing.size(); at = end + 1) {
    end = listing.find('\n', at);
    ASSERT_EQ(
        kstr_StringListAppend(&params->metaData, listing.substr(at, end - at + 1).c_str(), nullptr),
        0);
  }
  DriverWritten w(params.get());
  EXPECT_EQ(w.err, nullptr);
  ASSERT_NE(w.in.gtif, nullptr);
  EXPECT_EQ(w.in.key(GTModelTypeGeoKey), ModelTypeProjected);
  EXPECT_EQ(w.in.key(ProjectedCSTypeGeoKey), 32631);
  EXPECT_EQ(w.in.text(GTCitationGeoKey), "WGS 84 / UTM zone 31N");
  double easting = 0;
  EXPECT_EQ(GTIFKeyGet(w.in.gtif.get(), ProjFalseEastingGeoKey, &easting, 0, 1), 1);
  EXPECT_EQ(easting, 500000.25);
  // The last entry of a key is the one a reader sees: text for the raster
  // type, which is no value for it, so the key is left out altogether.
  for (geokey_t absent : {GTRasterTypeGeoKey, PCSCitationGeoKey, GeogCitationGeoKey,
                          ProjFalseNorthingGeoKey, geokey_t(kBudgetKeys[4])})
    EXPECT_EQ(GTIFKeyInfo(w.in.gtif.get(), absent, nullptr, nullptr), 0) << GTIFKeyName(absent);
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(GTIFKeyInfo(w.in.gtif.get(), geokey_t(kBudgetKeys[i]), nullptr, nullptr), 100)
        << GTIFKeyName(geokey_t(kBudgetKeys[i]));
}

TEST(GeoTIFFParamsWrite, UnitsOverrideInSurveyFeetReadsBack) {
  // Host coordinates in US survey feet over UTM, whose GeoKeys are in meters.
  const double c = 1640416.6667, f = 13123333.3333, size = 98.4252;
  XForm feet(kxfr_XFormCreateUsingCoeffs(size, 0, c, 0, -size, f, nullptr));
  Pro utm(kprj_ProParametersCreateByName("UTM", nullptr));
  utm->zone = 31;
  utm->parameters[3] = 1.0;
  kprj_SpheroidByName(kint_GetInit(), "WGS 84", utm->spheroid, nullptr);
  kprj_DatumByName(kint_GetInit(), "WGS 84", "WGS 84", utm->spheroid->datum, nullptr);
  Projection projection(kprj_ProjectionInit(kint_GetInit(), utm.get(), nullptr));
  struct Case {
    const char* overrides;
    int linearUnits;    // ProjLinearUnitsGeoKey written
    double fileFactor;  // file coordinates per host foot
  } cases[] = {
      {"Read/Write", 9003, 1.0},      // the units key says feet: no conversion
      {"Read", -1, 1200.0 / 3937.0},  // the keys keep meters: the transform is converted
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.overrides);
    kpmg_SetPreference("tiff", "unit_overrides", k.overrides, nullptr);
    GeoParams params(kgtf_GeoTIFFParamsAllocate());
    kgtf_GeoTIFFParamsGeocodingSet(params.get(), projection.get(), nullptr);
    kgtf_GeoTIFFParamsGeoreferencingSet(params.get(), feet.get(), "UTM", "us_survey_feet", nullptr);
    DriverWritten w(params.get());
    EXPECT_EQ(w.err, nullptr) << (w.err ? kerr_ReportMessage(w.err.get()) : "");
    EXPECT_EQ(w.in.key(ProjLinearUnitsGeoKey), k.linearUnits);
    std::vector<double> tie = w.in.doubles(TIFFTAG_GEOTIEPOINTS);
    ASSERT_EQ(tie.size(), 6u);
    // The tie point is the outer corner: half a pixel up and left of the centre.
    EXPECT_NEAR(tie[3], (c - size / 2) * k.fileFactor, 1e-6);

    GeoParams back;
    Report readErr;
    kgtf_GeoTIFFParamsRead(w.in.tif.get(), out(back), out(readErr));
    kpmg_ClearPreferences();
    EXPECT_EQ(readErr, nullptr);
    ASSERT_NE(back, nullptr);
    EXPECT_STREQ(back->unitsName, "us_survey_feet");
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

}  // namespace
