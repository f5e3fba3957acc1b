// The citation of this library, the units GeoKeys under each units-override
// setting, and a write-then-read round trip through a file.
#include <gtest/gtest.h>

#include <string>

#include "citation.h"
#include "geotiff_file.h"
#include "host_owners.h"
#include "kpmg.h"
#include "test_support.h"

namespace {

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

// "projection/units/GeoTIFF units" parsed from the citation, or the outermost
// report when the read fails.
std::string names(GTIF* gtif) {
  HeapText units, geotiffUnits, projection;
  Report err;
  const bool read =
      UnitsAndProjectionNameGet(gtif, out(units), out(geotiffUnits), out(projection), out(err));
  EXPECT_EQ(err == nullptr, gtif != nullptr);
  return read ? str(projection.get()) + "/" + str(units.get()) + "/" + str(geotiffUnits.get())
              : reportMessages(err.get()).at(0);
}

std::string unitsGet(GTIF* gtif) {
  HeapText units;
  kgtf_UnitsNameGet(gtif, out(units), nullptr);
  return str(units.get());
}

int shortKey(GTIF* gtif, geokey_t key) {
  uint16_t value = 0;
  return GeoKeyShortGet(gtif, key, &value) ? value : -1;
}

TEST(Citation, Parsing) {
  const std::string label = kCitationLabel;
  const std::string body = "Projection Name = UTM\nUnits = feet\nGeoTIFF Units = meters";
  const std::pair<std::string, const char*> cases[] = {
      {label + "\nnotice\nid\n" + body, "UTM/feet/meters"},
      {label + "|notice|id|Projection Name = UTM|Units = feet|GeoTIFF Units = meters",
       "UTM/feet/meters"},
      {label + "\nProjection Name = ?\n" + body.substr(body.find("Units")), "(null)/(null)/(null)"},
      {label + "\nProjection Name = UTM\nUnits = ?", "UTM/other/?"},
      {label + "\nProjection Name = UTM", "UTM/other/?"},
      {label + "\nProjection Name = State Plane|Units = |GeoTIFF Units = ?", "State Plane//?"},
      {"Other software\n" + body, "(null)/(null)/(null)"},
  };
  Gtif gtif(GTIFNew(nullptr));
  for (const auto& [citation, parsed] : cases) {
    GTIFKeySet(gtif.get(), GTCitationGeoKey, TYPE_ASCII, 0, citation.c_str());
    EXPECT_EQ(names(gtif.get()), parsed) << citation;
  }
  // A citation key of the wrong type gives nothing and no failure.
  gtif.reset(GTIFNew(nullptr));
  double values[3] = {1, 2, 3};
  GTIFKeySet(gtif.get(), GTCitationGeoKey, TYPE_DOUBLE, 3, values);
  EXPECT_EQ(names(gtif.get()), "(null)/(null)/(null)");
  EXPECT_EQ(names(nullptr), "Args");
}

TEST(Citation, Writing) {
  // Our label leads unless writing it is turned off; the geocoding line only
  // without a model type; a missing projection name makes both names "not given".
  struct Case {
    const char* writeCitation;
    int modelType;
    const char *geotiffUnits, *projection, *tail;
  } cases[] = {
      {nullptr, 0, "meters", "UTM",
       "\nGeocoding information not available\nProjection Name = UTM\nUnits = feet\nGeoTIFF "
       "Units = meters"},
      {nullptr, ModelTypeProjected, nullptr, nullptr,
       "\nProjection Name = Unknown\nUnits = other\nGeoTIFF Units = ?"},
      {"false", ModelTypeGeographic, "meters", "UTM", "(none)"},
      {"false", 0, "meters", "UTM",
       "Geocoding information not available\nProjection Name = UTM\nUnits = feet\nGeoTIFF Units = "
       "meters"},
  };
  for (const Case& c : cases) {
    kpmg_SetPreference("tiff", "write_citation", c.writeCitation, nullptr);
    Gtif gtif(GTIFNew(nullptr));
    EXPECT_EQ(c.modelType ? ModelTypeSet(gtif.get(), c.modelType, nullptr) : 1, 1);
    EXPECT_EQ(UnitsAndProjectionNameSet(gtif.get(), "feet", c.geotiffUnits, c.projection, nullptr),
              1);
    std::string text = citationOf(gtif.get()), tail = c.tail;
    if (c.writeCitation) {
      EXPECT_EQ(text, tail);
    } else {
      EXPECT_EQ(text.rfind(kCitationLabel, 0), 0u) << text;
      EXPECT_EQ(text.find("Geocoding information") != std::string::npos, !c.modelType) << text;
      ASSERT_GE(text.size(), tail.size());
      EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    }
  }
  kpmg_ClearPreferences();

  EXPECT_EQ(ModelTypeSet(nullptr, 1, nullptr), 0);
  Report err;
  EXPECT_EQ(UnitsAndProjectionNameSet(nullptr, "m", "m", "UTM", out(err)), 0);
  EXPECT_EQ(reportMessages(err.get()).at(0), "Args");
}

TEST(Citation, RoundTripThroughFile) {
  GeoTiffFile file([](GTIF* gtif) {
    ModelTypeSet(gtif, ModelTypeProjected, nullptr);
    GTIFKeySet(gtif, ProjectedCSTypeGeoKey, TYPE_SHORT, 1, 26918);
    kgtf_UnitsNameSet(gtif, "us_survey_feet", nullptr);
    UnitsAndProjectionNameSet(gtif, "international_feet", "us_survey_feet", "UTM", nullptr);
  });
  EXPECT_EQ(names(file.gtif()), "UTM/international_feet/us_survey_feet");
  EXPECT_EQ(unitsGet(file.gtif()), "us_survey_feet");
}

TEST(Citation, UnitsOverrides) {
  // With `set`, kgtf_UnitsNameSet writes it and the keys are what it wrote
  // (-1: nothing); without, the keys are written as given. Ignore reads the
  // citation's host units unless the system is user-defined; 9014 is "other"
  // when our citation says so, fathoms otherwise.
  struct Case {
    const char* overrides;  // null: the default
    int modelType, csCode;  // 0: no key
    const char *cited, *set;
    int linear, angular;
    const char* read;  // what kgtf_UnitsNameGet gives back
  } cases[] = {
      {"Read/Write", 1, 32631, "feet", "feet", 9003, -1, "us_survey_feet"},
      {"Read/Write", 2, 4326, "dd", "dd", -1, 9102, "dd"},
      {"Read/Write", 2, 4326, "meters", "meters", -1, -1, "(null)"},
      {"Read/Write", 0, 0, "grad", "grad", -1, 9105, "grad"},
      {"Read/Write", 0, 0, "sears_foot", "sears_foot", 9041, -1, "sears_foot"},
      {"Read/Write", 1, 32767, "meters", "meters", -1, -1, "(null)"},
      {"bogus", 1, 32631, "meters", "meters", 9001, -1, "meters"},
      {"Read", 1, 32631, "feet", "feet", -1, -1, "(null)"},
      {"Ignore", 1, 32631, "feet", "feet", -1, -1, "(null)"},
      {"Ignore", 0, 0, "link", "link", -1, -1, "link"},
      {"Ignore", 1, 32767, "feet", nullptr, 9002, -1, "international_feet"},
      {"Ignore", 2, 32767, "dm", nullptr, -1, 9104, "ds"},
      {"Ignore", 3, 4326, "dm", nullptr, -1, 9104, "dm"},
      {nullptr, 1, 32631, "other", nullptr, 9014, -1, "other"},
      {nullptr, 1, 32631, nullptr, nullptr, 9014, -1, "fathom"},
      // An unknown linear code names nothing for a projected system; with no
      // model type the angular key answers instead.
      {nullptr, 1, 32631, nullptr, nullptr, 9999, 9101, "(null)"},
      {nullptr, 0, 0, nullptr, nullptr, 9999, 9101, "radians"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(str(c.overrides) + " " + str(c.cited) + " " + std::to_string(c.modelType));
    kpmg_SetPreference("tiff", "unit_overrides", c.overrides, nullptr);
    Gtif owner(GTIFNew(nullptr));
    GTIF* gtif = owner.get();
    if (c.modelType) ModelTypeSet(gtif, c.modelType, nullptr);
    geokey_t csKey = c.modelType == 1 ? ProjectedCSTypeGeoKey : GeographicTypeGeoKey;
    if (c.csCode) GTIFKeySet(gtif, csKey, TYPE_SHORT, 1, c.csCode);
    if (c.modelType == 1 && c.csCode == 32767)
      GTIFKeySet(gtif, ProjectionGeoKey, TYPE_SHORT, 1, 32767);
    if (c.cited) UnitsAndProjectionNameSet(gtif, c.cited, "?", "UTM", nullptr);
    if (c.set) {
      kgtf_UnitsNameSet(gtif, c.set, nullptr);
      EXPECT_EQ(shortKey(gtif, ProjLinearUnitsGeoKey), c.linear);
      EXPECT_EQ(shortKey(gtif, GeogAngularUnitsGeoKey), c.angular);
    } else {
      if (c.linear >= 0) GTIFKeySet(gtif, ProjLinearUnitsGeoKey, TYPE_SHORT, 1, c.linear);
      if (c.angular >= 0) GTIFKeySet(gtif, GeogAngularUnitsGeoKey, TYPE_SHORT, 1, c.angular);
    }
    EXPECT_EQ(unitsGet(gtif), c.read);
    if (!c.modelType && !c.cited) {
      // Keys of the wrong type are not read.
      GTIFKeySet(gtif, GeogAngularUnitsGeoKey, TYPE_DOUBLE, 1, 9101.0);
      EXPECT_EQ(unitsGet(gtif), "(null)");
    }
  }
  kpmg_ClearPreferences();
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
