// The citation of this library, the units GeoKeys under each units-override
// setting, and a write-then-read round trip through a file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <unistd.h>

#include <geotiffio.h>
#include <xtiffio.h>

#include "citation.h"
#include "kmsc.h"
#include "kpmg.h"
#include "test_support.h"

namespace {

// Sets one "tiff" preference for the life of the object.
class Preference {
 public:
  Preference(const char* key, const char* value) : key_(key) {
    EXPECT_EQ(kpmg_SetPreference("tiff", key, value, nullptr), 0);
  }
  ~Preference() { kpmg_SetPreference("tiff", key_, nullptr, nullptr); }

 private:
  const char* key_;
};

struct Names {
  char* units = nullptr;
  char* geotiffUnits = nullptr;
  char* projection = nullptr;
  ~Names() {
    kmsc_HeapFree(units);
    kmsc_HeapFree(geotiffUnits);
    kmsc_HeapFree(projection);
  }
};

std::string str(const char* s) {
  return s ? s : "(null)";
}

std::string citationOf(GTIF* gtif) {
  int size = 0;
  int count = GTIFKeyInfo(gtif, GTCitationGeoKey, &size, nullptr);
  if (count <= 0) return "(none)";
  std::string text(static_cast<size_t>(count), '\0');
  GTIFKeyGet(gtif, GTCitationGeoKey, &text[0], 0, 0);
  return text.c_str();
}

// The three names parsed from a citation text stored as is.
std::string parse(const char* citation) {
  GTIF* gtif = GTIFNew(nullptr);
  GTIFKeySet(gtif, GTCitationGeoKey, TYPE_ASCII, 0, citation);
  Names n;
  Kerr_Report* err = nullptr;
  EXPECT_EQ(UnitsAndProjectionNameGet(gtif, &n.units, &n.geotiffUnits, &n.projection, &err), 1);
  EXPECT_EQ(err, nullptr);
  GTIFFree(gtif);
  return str(n.projection) + "/" + str(n.units) + "/" + str(n.geotiffUnits);
}

std::string unitsGet(GTIF* gtif) {
  char* units = nullptr;
  kgtf_UnitsNameGet(gtif, &units, nullptr);
  std::string result = str(units);
  kmsc_HeapFree(units);
  return result;
}

int shortKey(GTIF* gtif, geokey_t key) {
  uint16_t value = 0;
  return GeoKeyShortGet(gtif, key, &value) ? value : -1;
}

TEST(Citation, Parsing) {
  const std::string label = kCitationLabel;
  EXPECT_EQ(label.size(), 23u);
  const std::string body = "Projection Name = UTM\nUnits = feet\nGeoTIFF Units = meters";
  EXPECT_EQ(parse((label + "\nnotice\nid\n" + body).c_str()), "UTM/feet/meters");
  EXPECT_EQ(
      parse(
          (label + "|notice|id|Projection Name = UTM|Units = feet|GeoTIFF Units = meters").c_str()),
      "UTM/feet/meters");
  EXPECT_EQ(parse((label + "\nProjection Name = ?\nUnits = feet\nGeoTIFF Units = meters").c_str()),
            "(null)/(null)/(null)");
  EXPECT_EQ(parse((label + "\nProjection Name = UTM\nUnits = ?").c_str()), "UTM/other/?");
  EXPECT_EQ(parse((label + "\nProjection Name = UTM").c_str()), "UTM/other/?");
  EXPECT_EQ(parse((label + "\nProjection Name = State Plane|Units = |GeoTIFF Units = ?").c_str()),
            "State Plane//?");
  EXPECT_EQ(parse((label + "\nno names here").c_str()), "(null)/(null)/(null)");
  EXPECT_EQ(parse(("Other software\n" + body).c_str()), "(null)/(null)/(null)");

  // No citation, and a citation key of the wrong type: nothing, no failure.
  GTIF* gtif = GTIFNew(nullptr);
  Names n;
  EXPECT_EQ(UnitsAndProjectionNameGet(gtif, &n.units, &n.geotiffUnits, &n.projection, nullptr), 1);
  EXPECT_EQ(n.projection, nullptr);
  double values[3] = {1, 2, 3};
  GTIFKeySet(gtif, GTCitationGeoKey, TYPE_DOUBLE, 3, values);
  EXPECT_EQ(UnitsAndProjectionNameGet(gtif, &n.units, &n.geotiffUnits, &n.projection, nullptr), 1);
  EXPECT_EQ(n.projection, nullptr);
  Kerr_Report* err = nullptr;
  EXPECT_EQ(UnitsAndProjectionNameGet(nullptr, &n.units, &n.geotiffUnits, &n.projection, &err), 0);
  EXPECT_EQ(reportMessages(err).at(0), "Args");
  kerr_DeleteErrorReportEx(&err);
  GTIFFree(gtif);
}

TEST(Citation, Writing) {
  GTIF* gtif = GTIFNew(nullptr);
  ASSERT_EQ(UnitsAndProjectionNameSet(gtif, "feet", "meters", "UTM", nullptr), 1);
  std::string text = citationOf(gtif);
  EXPECT_EQ(text.rfind(kCitationLabel, 0), 0u);
  EXPECT_NE(text.find("ktiflib"), std::string::npos);
  EXPECT_NE(text.find("\nGeocoding information not available\nProjection Name = UTM\nUnits = feet"
                      "\nGeoTIFF Units = meters"),
            std::string::npos)
      << text;
  EXPECT_NE(text.back(), '\n');

  ASSERT_EQ(ModelTypeSet(gtif, ModelTypeProjected, nullptr), 1);
  EXPECT_EQ(shortKey(gtif, GTModelTypeGeoKey), ModelTypeProjected);
  // A missing projection name makes both names the "not given" ones.
  ASSERT_EQ(UnitsAndProjectionNameSet(gtif, "feet", nullptr, nullptr, nullptr), 1);
  text = citationOf(gtif);
  EXPECT_EQ(text.find("Geocoding information"), std::string::npos);
  EXPECT_NE(text.find("Projection Name = Unknown\nUnits = other\nGeoTIFF Units = ?"),
            std::string::npos)
      << text;

  {
    Preference off("write_citation", "false");
    GTIF* fresh = GTIFNew(nullptr);
    ModelTypeSet(fresh, ModelTypeGeographic, nullptr);
    EXPECT_EQ(UnitsAndProjectionNameSet(fresh, "dd", "dd", "Geographic (Lat/Lon)", nullptr), 1);
    EXPECT_EQ(citationOf(fresh), "(none)");
    GTIFFree(fresh);
    // Without a model type only the geocoding lines are kept.
    fresh = GTIFNew(nullptr);
    EXPECT_EQ(UnitsAndProjectionNameSet(fresh, "meters", "meters", "UTM", nullptr), 1);
    EXPECT_EQ(citationOf(fresh),
              "Geocoding information not available\nProjection Name = UTM\nUnits = meters\n"
              "GeoTIFF Units = meters");
    GTIFFree(fresh);
  }

  Kerr_Report* err = nullptr;
  EXPECT_EQ(ModelTypeSet(nullptr, 1, &err), 0);
  kerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(UnitsAndProjectionNameSet(nullptr, "m", "m", "UTM", &err), 0);
  EXPECT_EQ(reportMessages(err).at(0), "Args");
  kerr_DeleteErrorReportEx(&err);
  GTIFFree(gtif);
}

TEST(Citation, RoundTripThroughFile) {
  std::string path =
      std::string(::testing::TempDir()) + "/citation_" + std::to_string(getpid()) + ".tif";
  TIFF* tif = XTIFFOpen(path.c_str(), "w");
  ASSERT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 1);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 1);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  GTIF* gtif = GTIFNew(tif);
  ASSERT_NE(gtif, nullptr);
  ModelTypeSet(gtif, ModelTypeProjected, nullptr);
  GTIFKeySet(gtif, ProjectedCSTypeGeoKey, TYPE_SHORT, 1, 26918);
  kgtf_UnitsNameSet(gtif, "us_survey_feet", nullptr);
  UnitsAndProjectionNameSet(gtif, "international_feet", "us_survey_feet", "UTM", nullptr);
  GTIFWriteKeys(gtif);
  GTIFFree(gtif);
  unsigned char pixel = 0;
  TIFFWriteScanline(tif, &pixel, 0, 0);
  XTIFFClose(tif);

  tif = XTIFFOpen(path.c_str(), "r");
  ASSERT_NE(tif, nullptr);
  gtif = GTIFNew(tif);
  Names n;
  EXPECT_EQ(UnitsAndProjectionNameGet(gtif, &n.units, &n.geotiffUnits, &n.projection, nullptr), 1);
  EXPECT_STREQ(n.projection, "UTM");
  EXPECT_STREQ(n.units, "international_feet");
  EXPECT_STREQ(n.geotiffUnits, "us_survey_feet");
  EXPECT_EQ(unitsGet(gtif), "us_survey_feet");
  GTIFFree(gtif);
  XTIFFClose(tif);
  unlink(path.c_str());
}

// A directory with a model type, an optional coordinate-system code and a
// citation whose host units are `cited`.
GTIF* directory(int modelType, geokey_t csKey, int csCode, const char* cited) {
  GTIF* gtif = GTIFNew(nullptr);
  if (modelType) ModelTypeSet(gtif, modelType, nullptr);
  if (csCode) GTIFKeySet(gtif, csKey, TYPE_SHORT, 1, csCode);
  if (csKey == ProjectedCSTypeGeoKey && csCode == 32767)
    GTIFKeySet(gtif, ProjectionGeoKey, TYPE_SHORT, 1, 32767);
  if (cited) UnitsAndProjectionNameSet(gtif, cited, "?", "UTM", nullptr);
  return gtif;
}

TEST(Citation, UnitsOverrides) {
  struct Case {
    const char* overrides;
    int modelType;
    geokey_t csKey;
    int csCode;
    const char* hostUnits;      // written with kgtf_UnitsNameSet
    int linearKey, angularKey;  // what it wrote (-1: nothing)
    const char* read;           // what kgtf_UnitsNameGet gives back
  } cases[] = {
      {"Read/Write", 1, ProjectedCSTypeGeoKey, 32631, "feet", 9003, -1, "us_survey_feet"},
      {"Read/Write", 2, GeographicTypeGeoKey, 4326, "dd", -1, 9102, "dd"},
      {"Read/Write", 2, GeographicTypeGeoKey, 4326, "meters", -1, -1, "(null)"},
      {"Read/Write", 0, GeographicTypeGeoKey, 0, "grad", -1, 9105, "grad"},
      {"Read/Write", 0, GeographicTypeGeoKey, 0, "sears_foot", 9041, -1, "sears_foot"},
      {"Read/Write", 1, ProjectedCSTypeGeoKey, 32767, "meters", -1, -1, "(null)"},
      {"bogus", 1, ProjectedCSTypeGeoKey, 32631, "meters", 9001, -1, "meters"},
      {"Read", 1, ProjectedCSTypeGeoKey, 32631, "feet", -1, -1, "(null)"},
      // Ignore: the citation's host units win unless the system is user-defined.
      {"Ignore", 1, ProjectedCSTypeGeoKey, 32631, "feet", -1, -1, "(null)"},
      {"Ignore", 2, GeographicTypeGeoKey, 4326, "dd", -1, -1, "dd"},
      {"Ignore", 0, GeographicTypeGeoKey, 0, "link", -1, -1, "link"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.overrides) + " " + c.hostUnits + " " + std::to_string(c.modelType));
    Preference overrides("unit_overrides", c.overrides);
    GTIF* gtif = directory(c.modelType, c.csKey, c.csCode, c.hostUnits);
    kgtf_UnitsNameSet(gtif, c.hostUnits, nullptr);
    EXPECT_EQ(shortKey(gtif, ProjLinearUnitsGeoKey), c.linearKey);
    EXPECT_EQ(shortKey(gtif, GeogAngularUnitsGeoKey), c.angularKey);
    EXPECT_EQ(unitsGet(gtif), c.read);
    GTIFFree(gtif);
  }

  // Ignore on user-defined systems: the keys, not the citation.
  {
    Preference ignore("unit_overrides", "Ignore");
    GTIF* gtif = directory(1, ProjectedCSTypeGeoKey, 32767, "feet");
    GTIFKeySet(gtif, ProjLinearUnitsGeoKey, TYPE_SHORT, 1, 9002);
    EXPECT_EQ(unitsGet(gtif), "international_feet");
    GTIFFree(gtif);
    gtif = directory(2, GeographicTypeGeoKey, 32767, "dm");
    GTIFKeySet(gtif, GeogAngularUnitsGeoKey, TYPE_SHORT, 1, 9104);
    EXPECT_EQ(unitsGet(gtif), "ds");
    GTIFFree(gtif);
    gtif = directory(3, GeographicTypeGeoKey, 4326, "dm");
    GTIFKeySet(gtif, GeogAngularUnitsGeoKey, TYPE_SHORT, 1, 9104);
    EXPECT_EQ(unitsGet(gtif), "dm");
    GTIFFree(gtif);
  }

  // 9014 is "other" when our citation says so, fathoms otherwise.
  GTIF* gtif = directory(1, ProjectedCSTypeGeoKey, 32631, "other");
  GTIFKeySet(gtif, ProjLinearUnitsGeoKey, TYPE_SHORT, 1, 9014);
  EXPECT_EQ(unitsGet(gtif), "other");
  GTIFFree(gtif);
  gtif = directory(1, ProjectedCSTypeGeoKey, 32631, nullptr);
  GTIFKeySet(gtif, ProjLinearUnitsGeoKey, TYPE_SHORT, 1, 9014);
  EXPECT_EQ(unitsGet(gtif), "fathom");
  // An unknown linear code names nothing for a projected system; with no
  // model type the angular key answers instead.
  GTIFKeySet(gtif, ProjLinearUnitsGeoKey, TYPE_SHORT, 1, 9999);
  GTIFKeySet(gtif, GeogAngularUnitsGeoKey, TYPE_SHORT, 1, 9101);
  EXPECT_EQ(unitsGet(gtif), "(null)");
  GTIFKeySet(gtif, GTModelTypeGeoKey, TYPE_SHORT, -1);
  EXPECT_EQ(unitsGet(gtif), "radians");
  // Keys of the wrong type are not read.
  GTIFKeySet(gtif, GeogAngularUnitsGeoKey, TYPE_DOUBLE, 1, 9101.0);
  EXPECT_EQ(unitsGet(gtif), "(null)");
  GTIFFree(gtif);
}

TEST(Citation, UnitsNamesEquivalent) {
  EXPECT_EQ(UnitsNamesEquivalent("other", "other", "meters"), 1);
  EXPECT_EQ(UnitsNamesEquivalent("other", "meters", "meters"), 0);
  EXPECT_EQ(UnitsNamesEquivalent("us_survey_feet", "feet", "meters"), 1);
  EXPECT_EQ(UnitsNamesEquivalent("international_feet", "us_survey_feet", "meters"), 0);
  EXPECT_EQ(UnitsNamesEquivalent("dd", "dd", "nonsense"), 1);
  ReportCapture capture;
  EXPECT_EQ(UnitsNamesEquivalent("meters", "furlongs", "meters"), 0);
  ASSERT_EQ(capture.printed.size(), 1u);  // the failed conversion is shown
  EXPECT_NE(capture.printed[0].message.find("furlongs"), std::string::npos);
}

}  // namespace
