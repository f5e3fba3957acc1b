// Zone systems: records built from codes alone.
#include <gtest/gtest.h>

#include <cmath>

#include "geocoding.h"
#include "host_owners.h"
#include "test_support.h"

namespace {

constexpr double kDegree = M_PI / 180.0;

TEST(Zones, StatePlaneByProjectionCode) {
  struct Case {
    int32_t code, zone, nad;
  } found[] = {{10101, -101, 1},  {10131, -101, 2},  {15040, -5010, 2}, {15201, -5201, 1},
               {15230, -5200, 2}, {12630, -2600, 2}, {14203, -4203, 1}};
  for (const Case& c : found) {
    int32_t zone = 0, nad = 0;
    ASSERT_TRUE(statePlaneZoneOfProjection(c.code, &zone, &nad)) << c.code;
    EXPECT_EQ(zone, c.zone) << c.code;
    EXPECT_EQ(nad, c.nad) << c.code;
  }
  int32_t zone = 0, nad = 0;
  for (int32_t code : {10100, 10199, 15914, 16001, 12600})  // no such zone or outside the range
    EXPECT_FALSE(statePlaneZoneOfProjection(code, &zone, &nad)) << code;

  // The records of found zones are checked through the geocoding reader.
  Report err;
  EXPECT_EQ(Pro(kgtf_ProjectionReadStatePlane(nullptr, 15914, out(err))), nullptr);
  EXPECT_EQ(reportMessages(err.get()),
            (std::vector<std::string>{"kgtf_ProjectionReadStatePlane failed"}));

  Pro odd(kgtf_StatePlaneParametersCreate(-101, 4, out(err)));
  ASSERT_NE(odd, nullptr) << "returned without geodesy";
  EXPECT_STREQ(kerr_ReportMessage(err.get()), "Unexpected nad code 4");
}

TEST(Zones, TransverseMercatorGrids) {
  Report err;
  for (int zone = 48; zone <= 58; ++zone) {
    Pro mga(kgtf_MGAParametersCreate(28300 + zone, out(err)));
    ASSERT_NE(mga, nullptr) << zone;
    EXPECT_NEAR(mga->parameters[4], (6 * zone - 183) * kDegree, 1e-8) << zone;
    EXPECT_EQ(mga->parameters[7], 10000000.0);
    EXPECT_STREQ(mga->spheroid->datum->name, "GDA94");
  }
  EXPECT_EQ(Pro(kgtf_MGAParametersCreate(28359, out(err))), nullptr);

  // Bogota zones: central meridians and origin in degrees as projinfo gives
  // them for EPSG 21891 to 21894.
  const double bogotaMeridians[] = {-77.0809166666667, -74.0809166666667, -71.0809166666667,
                                    -68.0809166666667};
  for (int zone = 0; zone < 4; ++zone) {
    Pro bogota(kgtf_BogotaParametersCreate(18051 + zone, out(err)));
    ASSERT_NE(bogota, nullptr);
    EXPECT_NEAR(bogota->parameters[4] / kDegree, bogotaMeridians[zone], 1e-12) << zone;
    EXPECT_NEAR(bogota->parameters[5] / kDegree, 4.59904722222222, 1e-12);
    EXPECT_STREQ(bogota->spheroid->datum->name, "Bogota Observatory");
  }
  EXPECT_EQ(err, nullptr);
}

// The British grid and the RSO systems are checked through the geocoding
// reader.
TEST(Zones, MapGridByCode) {
  Report err;
  Pro amg(kgtf_ProjectionReadMapGridAustralia(nullptr, 17455, out(err)));
  ASSERT_NE(amg, nullptr);
  EXPECT_EQ(amg->number, 1);
  EXPECT_EQ(amg->zone, 55);
  EXPECT_EQ(amg->parameters[3], -1.0) << "southern hemisphere";
  EXPECT_EQ(Pro(kgtf_ProjectionReadMapGridAustralia(nullptr, 17400, out(err))), nullptr);
  EXPECT_STREQ(kerr_ReportMessage(err.get()), "kgtf_ProjectionReadMapGridAustralia failed");
  EXPECT_EQ(Pro(kgtf_ProjectionReadGaussKruger(nullptr, 16206, out(err))), nullptr);
}

}  // namespace
