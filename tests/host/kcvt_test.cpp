#include <gtest/gtest.h>

#include <cmath>

#include "kcvt.h"
#include "kerr.h"

TEST(Kcvt, FactorsKindsAndAliases) {
  double f = 0, g = 0;
  EXPECT_EQ(kcvt_UnitsFactor("us_survey_feet", &f), KCVT_LINEAR);
  EXPECT_EQ(f, 1200.0 / 3937.0);
  EXPECT_EQ(kcvt_UnitsFactor("international_feet", &f), KCVT_LINEAR);
  EXPECT_EQ(f, 0.3048);
  EXPECT_EQ(kcvt_UnitsFactor("dd", &f), KCVT_ANGULAR);
  EXPECT_EQ(f, M_PI / 180.0);
  // Aliases and any case give the same unit.
  const char* same[][2] = {{"feet", "us_survey_feet"}, {"DEGREES", "dd"}, {"Meters", "meters"}};
  for (auto& pair : same) {
    EXPECT_EQ(kcvt_UnitsFactor(pair[0], &f), kcvt_UnitsFactor(pair[1], &g)) << pair[0];
    EXPECT_EQ(f, g) << pair[0];
  }
  EXPECT_EQ(kcvt_UnitsKind("OTHER"), KCVT_OTHER);
  EXPECT_EQ(kcvt_UnitsKind("meter"), KCVT_UNKNOWN);  // only the host's spelling
  EXPECT_EQ(kcvt_UnitsKind(nullptr), KCVT_UNKNOWN);
  EXPECT_EQ(kcvt_UnitsEpsgCode("benoit_chain_1895_b"), 9062);
}

TEST(Kcvt, ConvertsBetweenNonBaseUnits) {
  struct Case {
    double value;
    const char *from, *to;
    double expected;
  } cases[] = {
      {1, "miles", "international_feet", 5280},
      {12, "inches", "international_feet", 1},
      {1, "us_survey_feet", "international_feet", 1200.0 / 3937.0 / 0.3048},
      {2, "fathom", "international_feet", 12},
      {1, "kilometers", "centimeters", 1e5},
      {3600, "ds", "degrees", 1},
      {200, "grad", "dm", 10800},
      {7, "other", "other", 7},
  };
  for (const Case& c : cases) {
    double result = NAN;
    ASSERT_EQ(kcvt_UnitsConvertByName(&c.value, c.from, &result, c.to, 1, nullptr), 1) << c.from;
    EXPECT_NEAR(result, c.expected, 1e-12 * c.expected) << c.from << " -> " << c.to;
  }
  // In place, several values at once.
  double values[3] = {3937, -3937, 0};
  ASSERT_EQ(kcvt_UnitsConvertByName(values, "feet", values, "meters", 3, nullptr), 1);
  EXPECT_NEAR(values[0], 1200, 1e-12);
  EXPECT_NEAR(values[1], -1200, 1e-12);
  EXPECT_EQ(values[2], 0);
}

TEST(Kcvt, RejectsUnknownIncompatibleAndBadArguments) {
  struct Case {
    const char *from, *to;
    int32_t count;
    const char* message;
  } cases[] = {
      {"parsecs", "meters", 1, "Unknown units parsecs"},
      {"meters", "dd", 1, "Incompatible units meters and dd"},
      {"other", "meters", 1, "Incompatible units other and meters"},
      {nullptr, "meters", 1, "Args"},
      {"meters", "feet", -1, "Args"},
  };
  for (const Case& c : cases) {
    double value = 5, result = 99;
    Kerr_Report* err = nullptr;
    EXPECT_EQ(kcvt_UnitsConvertByName(&value, c.from, &result, c.to, c.count, &err), 0);
    EXPECT_STREQ(kerr_ReportMessage(err), c.message);
    EXPECT_EQ(result, 99);
    kerr_DeleteErrorReportEx(&err);
  }
  EXPECT_EQ(kcvt_UnitsConvertByName(nullptr, "meters", nullptr, "feet", 2, nullptr), 0);

  Kerr_Report* err = nullptr;
  EXPECT_EQ(kcvt_UnitsTypeCompatibilityCheckByName("meters", "Sears_Chain", &err), 1);
  EXPECT_EQ(kcvt_UnitsTypeCompatibilityCheckByName("other", "other", &err), 1);
  EXPECT_EQ(kcvt_UnitsTypeCompatibilityCheckByName("radians", "meters", &err), 0);
  EXPECT_EQ(err, nullptr);  // a mismatch of kinds is an answer, not an error
  EXPECT_EQ(kcvt_UnitsTypeCompatibilityCheckByName("meters", "bogus", &err), 0);
  EXPECT_STREQ(kerr_ReportMessage(err), "Unknown units bogus");
  kerr_DeleteErrorReportEx(&err);
}
