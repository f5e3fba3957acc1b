#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "host_owners.h"
#include "kcvt.h"

TEST(Kcvt, ConvertsBetweenUnitsByAnyAlias) {
  // The registry's factors (us_survey_feet 1200/3937 m, international_feet
  // 0.3048 m), aliases, any case, and units of which neither is the base.
  const std::tuple<double, const char*, const char*, double> cases[] = {
      {3937, "us_survey_feet", "meters", 1200},
      {1, "international_feet", "meters", 0.3048},
      {180, "dd", "radians", M_PI},
      {1, "feet", "us_survey_feet", 1},
      {1, "DEGREES", "dd", 1},
      {1, "Meters", "meters", 1},
      {1, "miles", "international_feet", 5280},
      {1, "us_survey_feet", "international_feet", 1200.0 / 3937.0 / 0.3048},
      {2, "fathom", "international_feet", 12},
      {3600, "ds", "degrees", 1},
      {200, "grad", "dm", 10800},
      {7, "other", "other", 7},
  };
  for (const auto& [value, from, to, expected] : cases) {
    double result = NAN;
    ASSERT_EQ(kcvt_UnitsConvertByName(&value, from, &result, to, 1, nullptr), 1) << from;
    EXPECT_NEAR(result, expected, 1e-12 * expected) << from << " -> " << to;
  }
  // In place, several values at once.
  double values[2] = {3937, -3937};
  ASSERT_EQ(kcvt_UnitsConvertByName(values, "feet", values, "meters", 2, nullptr), 1);
  EXPECT_NEAR(values[0], 1200, 1e-12);
  EXPECT_NEAR(values[1], -1200, 1e-12);
  double f = 0;
  EXPECT_EQ(kcvt_UnitsFactor("international_feet", &f), KCVT_LINEAR);
  EXPECT_EQ(kcvt_UnitsFactor("dd", &f), KCVT_ANGULAR);
  EXPECT_EQ(kcvt_UnitsKind("OTHER"), KCVT_OTHER);
  EXPECT_EQ(kcvt_UnitsKind("meter"), KCVT_UNKNOWN);  // only the host's spelling
  EXPECT_EQ(kcvt_UnitsEpsgCode("benoit_chain_1895_b"), 9062);
}

TEST(Kcvt, RejectsUnknownIncompatibleAndBadArguments) {
  const std::tuple<const char*, const char*, int32_t, const char*> cases[] = {
      {"parsecs", "meters", 1, "Unknown units parsecs"},
      {"meters", "dd", 1, "Incompatible units meters and dd"},
      {"other", "meters", 1, "Incompatible units other and meters"},
      {"meters", "feet", -1, "Args"},
  };
  for (const auto& [from, to, count, message] : cases) {
    double value = 5, result = 99;
    Report err;
    EXPECT_EQ(kcvt_UnitsConvertByName(&value, from, &result, to, count, out(err)), 0);
    EXPECT_STREQ(kerr_ReportMessage(err.get()), message);
    EXPECT_EQ(result, 99);
  }
  EXPECT_EQ(kcvt_UnitsConvertByName(nullptr, "meters", nullptr, "feet", 2, nullptr), 0);

  Report err;
  EXPECT_EQ(kcvt_UnitsTypeCompatibilityCheckByName("meters", "Sears_Chain", out(err)), 1);
  EXPECT_EQ(kcvt_UnitsTypeCompatibilityCheckByName("radians", "meters", out(err)), 0);
  EXPECT_EQ(err, nullptr);  // a mismatch of kinds is an answer, not an error
  EXPECT_EQ(kcvt_UnitsTypeCompatibilityCheckByName("meters", "bogus", out(err)), 0);
  EXPECT_STREQ(kerr_ReportMessage(err.get()), "Unknown units bogus");
}
