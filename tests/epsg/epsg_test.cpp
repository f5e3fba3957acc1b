// The EPSG translator against PROJ's own answers: parameters from projinfo's
// PROJJSON, projections through PROJ's transformations.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <proj.h>

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "epsg_translator.h"
#include "ktxt.h"

namespace {

using Projection = LegacyHelperTemplate<_kprj_MapProjectionEx, KtxtTextU>;
using Elevation = LegacyHelperTemplate<_kprj_ElevationInfo, KtxtTextU>;
constexpr double kPi = 3.14159265358979323846;

const Kprj_ProParameters* proOf(const Projection& projection) {
  return static_cast<const Kprj_ProParameters*>(
      kprj_MapProjectionCSRGet(projection.get(), KPRJ_FORM_PRO_PARAMETERS));
}

std::string narrow(const wchar_t* text) {
  char* n = ktxt_Text_Unicode2Ascii(text);
  std::string out = n ? n : "";
  kmsc_HeapFree(n);
  return out;
}

nlohmann::json projinfo(long code) {
  std::string command = "projinfo EPSG:" + std::to_string(code) + " -o PROJJSON -q";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run projinfo");
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  pclose(pipe);
  return nlohmann::json::parse(text);
}

// A PROJJSON length or angle in SI units.
double si(const nlohmann::json& value, const nlohmann::json& unit) {
  if (unit.is_object()) return value.get<double>() * unit["conversion_factor"].get<double>();
  return value.get<double>() * (unit == "degree" ? kPi / 180.0 : 1.0);
}

double parameter(const nlohmann::json& crs, int code) {
  for (const auto& p : crs["conversion"]["parameters"])
    if (p["id"]["code"] == code) return si(p["value"], p.value("unit", nlohmann::json("unity")));
  throw std::runtime_error("parameter " + std::to_string(code) + " missing");
}

void expectClose(double actual, double expected, const std::string& what) {
  EXPECT_NEAR(actual, expected, 1e-9 * std::fmax(1.0, std::fabs(expected))) << what;
}

TEST(EPSGTranslator, ProjectedSystemsMatchTheRegistry) {
  struct Case {
    long code;
    int32_t number;
    std::vector<std::pair<int, int>> slots;  // host slot, EPSG parameter
  };
  const std::vector<std::pair<int, int>> transverseMercator = {
      {2, 8805}, {4, 8802}, {5, 8801}, {6, 8806}, {7, 8807}};
  const std::vector<Case> cases = {
      {2193, 9, transverseMercator},
      {31467, 9, transverseMercator},
      {3035, 11, {{4, 8802}, {5, 8801}, {6, 8806}, {7, 8807}}},
      {3577, 3, {{2, 8823}, {3, 8824}, {4, 8822}, {5, 8821}, {6, 8826}, {7, 8827}}},
      {2056, 20, {{2, 8815}, {3, 8813}, {4, 8812}, {5, 8811}, {6, 8816}, {7, 8817}}},
  };
  EPSGTranslator translator;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    Projection projection;
    KtxtTextU units;
    Elevation elevation;
    translator.exportToEPRJ(c.code, 0, projection, units, elevation);
    const Kprj_ProParameters* pro = proOf(projection);
    ASSERT_NE(pro, nullptr);
    EXPECT_EQ(pro->number, c.number);
    EXPECT_EQ(narrow(kprj_MapProjectionNameU(projection.get())),
              kprj_ProjectionNameByNumber(c.number));
    EXPECT_EQ(narrow(units.c_str()), "meters");
    EXPECT_FALSE(elevation);

    nlohmann::json crs = projinfo(c.code);
    for (auto [slot, code] : c.slots)
      expectClose(pro->parameters[slot], parameter(crs, code), "slot " + std::to_string(slot));
    const nlohmann::json& datum = crs["base_crs"].contains("datum")
                                      ? crs["base_crs"]["datum"]
                                      : crs["base_crs"]["datum_ensemble"];
    const nlohmann::json& ellipsoid = datum["ellipsoid"];
    double a = ellipsoid["semi_major_axis"].get<double>();
    double b = ellipsoid.contains("semi_minor_axis")
                   ? ellipsoid["semi_minor_axis"].get<double>()
                   : a * (1.0 - 1.0 / ellipsoid["inverse_flattening"].get<double>());
    expectClose(pro->spheroid->semiMajor, a, "semi-major axis");
    expectClose(pro->spheroid->semiMinor, b, "semi-minor axis");
    EXPECT_NE(pro->spheroid->datum->name[0], '\0');
  }
}

TEST(EPSGTranslator, ExportedCodesImportBack) {
  EPSGTranslator translator;
  // 3395, 24200 and 3079 are held in another parameter set than the
  // registry's (Mercator B, Lambert 2SP, Hotine B).
  for (long code : {32631L, 27700L, 3035L, 4326L, 3395L, 24200L, 3079L}) {
    SCOPED_TRACE(code);
    Projection projection;
    KtxtTextU units;
    Elevation elevation;
    translator.exportToEPRJ(code, 0, projection, units, elevation);
    long back = -1, vertical = -1;
    translator.importFromEPRJ(projection, units, elevation, back, vertical, code != 4326);
    EXPECT_EQ(back, code);
    EXPECT_EQ(vertical, 0);
    if (code == 4326) {
      EXPECT_EQ(narrow(units.c_str()), "dd");
      EXPECT_THROW(translator.importFromEPRJ(projection, units, elevation, back, vertical, true),
                   std::runtime_error);
      EXPECT_EQ(back, 0) << "the code is cleared on failure";
    }
  }
  // 31467 has an easting-first twin in the registry, 5677; a record has the
  // host's axis order, so the twin is its code.
  {
    Projection projection;
    KtxtTextU units;
    Elevation elevation;
    translator.exportToEPRJ(31467, 0, projection, units, elevation);
    long back = 0, vertical = 0;
    translator.importFromEPRJ(projection, units, elevation, back, vertical, true);
    EXPECT_EQ(back, 5677);
  }
  // A UTM code becomes the host's UTM record; the British grid keeps the
  // host's names for its spheroid and datum.
  Projection projection;
  KtxtTextU units;
  Elevation elevation;
  translator.exportToEPRJ(32631, 0, projection, units, elevation);
  EXPECT_EQ(proOf(projection)->number, 1);
  EXPECT_EQ(proOf(projection)->zone, 31);
  EXPECT_EQ(proOf(projection)->parameters[3], 1.0);
  translator.exportToEPRJ(27700, 0, projection, units, elevation);
  EXPECT_STREQ(proOf(projection)->spheroid->name, "Airy");
  EXPECT_STREQ(proOf(projection)->spheroid->datum->name, "Ord. Survey G. Britain 1936");
}

TEST(EPSGTranslator, RefusesWhatTheHostCannotHoldExactly) {
  EPSGTranslator translator;
  Projection projection;
  KtxtTextU units;
  Elevation elevation;
  translator.exportToEPRJ(2193, 0, projection, units, elevation);
  const _kprj_MapProjectionEx* before = projection.get();
  // 3857: spherical formulas on WGS 84; 28992: double stereographic; 32661:
  // polar stereographic scaled at the pole; 2314: Cassini; 27572: Paris
  // meridian; 5703: vertical; then codes the registry does not have.
  for (long code : {3857L, 28992L, 32661L, 2314L, 27572L, 5703L, 0L, -4326L, 999999L}) {
    SCOPED_TRACE(code);
    try {
      translator.exportToEPRJ(code, 0, projection, units, elevation);
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()), "");
    }
    EXPECT_EQ(projection.get(), before) << "outputs are kept on failure";
  }
  try {
    translator.exportToEPRJ(3857, 0, projection, units, elevation);
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("spherical"), std::string::npos) << e.what();
  }
}

// Variants converted into the host's parameter set project like the
// registry's own definition (converted by PROJ).
TEST(EPSGTranslator, ConvertedVariantsProjectAlike) {
  struct Case {
    long code;
    double lon, lat;  // degrees, inside the system's area
  };
  EPSGTranslator translator;
  PJ_CONTEXT* context = proj_context_create();
  for (Case c : {Case{3079, -84.5, 44.0}, Case{3002, 119.5, -3.0}, Case{24200, -77.3, 18.2}}) {
    SCOPED_TRACE(c.code);
    Projection projection;
    KtxtTextU units;
    Elevation elevation;
    translator.exportToEPRJ(c.code, 0, projection, units, elevation);
    const Kprj_ProParameters* p = proOf(projection);
    const double* s = p->parameters;
    const double d = 180.0 / kPi;
    char text[512];
    if (p->number == 20)
      std::snprintf(text, sizeof text,
                    "+proj=omerc +lat_0=%.17g +lonc=%.17g +alpha=%.17g +gamma=%.17g +k=%.17g",
                    s[5] * d, s[4] * d, s[3] * d, s[3] * d, s[2]);
    else if (p->number == 5)
      std::snprintf(text, sizeof text, "+proj=merc +lat_ts=%.17g +lon_0=%.17g", s[5] * d, s[4] * d);
    else
      std::snprintf(text, sizeof text,
                    "+proj=lcc +lat_1=%.17g +lat_2=%.17g +lat_0=%.17g +lon_0=%.17g", s[2] * d,
                    s[3] * d, s[5] * d, s[4] * d);
    std::string definition =
        std::string(text) + " +x_0=" + std::to_string(s[6]) + " +y_0=" + std::to_string(s[7]);
    std::snprintf(text, sizeof text, " +a=%.17g +b=%.17g", p->spheroid->semiMajor,
                  p->spheroid->semiMinor);
    definition += text;
    PJ* mine = proj_create(context, definition.c_str());
    ASSERT_NE(mine, nullptr) << definition;

    PJ* target = proj_create_from_database(context, "EPSG", std::to_string(c.code).c_str(),
                                           PJ_CATEGORY_CRS, 0, nullptr);
    PJ* base = proj_crs_get_geodetic_crs(context, target);
    PJ* raw = proj_create_crs_to_crs_from_pj(context, base, target, nullptr, nullptr);
    PJ* registry = proj_normalize_for_visualization(context, raw);
    PJ_COORD geographic = proj_coord(c.lon, c.lat, 0, 0);
    PJ_COORD expected = proj_trans(registry, PJ_FWD, geographic);
    PJ_COORD actual =
        proj_trans(mine, PJ_FWD, proj_coord(proj_torad(c.lon), proj_torad(c.lat), 0, 0));
    EXPECT_NEAR(actual.xy.x, expected.xy.x, 1e-6) << definition;
    EXPECT_NEAR(actual.xy.y, expected.xy.y, 1e-6) << definition;
    for (PJ* object : {mine, target, base, raw, registry}) proj_destroy(object);
  }
  proj_context_destroy(context);
}

TEST(EPSGTranslator, VerticalCodes) {
  EPSGTranslator translator;
  Projection projection;
  KtxtTextU units;
  Elevation elevation;
  translator.exportToEPRJ(4326, 5703, projection, units, elevation);
  ASSERT_TRUE(elevation);
  EXPECT_EQ(narrow(elevation->datumName.wide), "NAVD 88 (CONTUS) (GEOID99)");
  EXPECT_EQ(narrow(elevation->unitsName.wide), "meters");
  EXPECT_EQ(narrow(elevation->kind.wide), "height");
  long code = 0, vertical = 0;
  translator.importFromEPRJ(projection, units, elevation, code, vertical, false);
  EXPECT_EQ(code, 4326);
  EXPECT_EQ(vertical, 5703);
  // A vertical datum the host does not name is refused, not renamed.
  EXPECT_THROW(translator.exportToEPRJ(4326, 3855, projection, units, elevation),
               std::runtime_error);
}

}  // namespace
