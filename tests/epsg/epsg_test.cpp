// The EPSG translator against PROJ's own answers: parameters from projinfo's
// PROJJSON, projections through PROJ's transformations.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <proj.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "epsg_translator.h"
#include "host_owners.h"
#include "ktxt.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// One translator for the whole program, as the host keeps it.
EPSGTranslator& translator() {
  static EPSGTranslator shared;
  return shared;
}

// The three outputs of one export, and the codes read back from them.
struct Record {
  explicit Record(long code, long verticalCode = 0) { load(code, verticalCode); }
  void load(long code, long verticalCode = 0) {
    translator().exportToEPRJ(code, verticalCode, projection, units, elevation);
  }
  void importBack(bool projectedOnly) {
    translator().importFromEPRJ(projection, units, elevation, code, vertical, projectedOnly);
  }
  const Kprj_ProParameters* pro() const {
    return static_cast<const Kprj_ProParameters*>(
        kprj_MapProjectionCSRGet(projection.get(), KPRJ_FORM_PRO_PARAMETERS));
  }
  LegacyHelperTemplate<_kprj_MapProjectionEx, KtxtTextU> projection;
  KtxtTextU units;
  LegacyHelperTemplate<_kprj_ElevationInfo, KtxtTextU> elevation;
  long code = -1, vertical = -1;
};

std::string narrow(const wchar_t* text) {
  HeapText n(ktxt_Text_Unicode2Ascii(text));
  return n ? n.get() : "";
}

nlohmann::json projinfo(long code) {
  std::string command = "projinfo EPSG:" + std::to_string(code) + " -o PROJJSON -q";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run projinfo");
  std::string text;
  for (int ch; (ch = std::fgetc(pipe)) != EOF;) text += static_cast<char>(ch);
  pclose(pipe);
  return nlohmann::json::parse(text);
}

// A conversion parameter of a PROJJSON CRS in SI units.
double parameter(const nlohmann::json& crs, int code) {
  for (const auto& p : crs["conversion"]["parameters"]) {
    if (p["id"]["code"] != code) continue;
    const nlohmann::json unit = p.value("unit", nlohmann::json("unity"));
    if (unit.is_object()) return p["value"].get<double>() * unit["conversion_factor"].get<double>();
    return p["value"].get<double>() * (unit == "degree" ? kPi / 180.0 : 1.0);
  }
  throw std::runtime_error("parameter " + std::to_string(code) + " missing");
}

void expectClose(double actual, double expected, const std::string& what) {
  EXPECT_NEAR(actual, expected, 1e-9 * std::fmax(1.0, std::fabs(expected))) << what;
}

TEST(EPSGTranslator, ProjectedSystemsMatchTheRegistry) {
  // Code, host projection number, and pairs of host slot and EPSG parameter.
  using Slots = std::vector<std::pair<int, int>>;
  using Case = std::tuple<long, int32_t, Slots>;
  const Slots transverseMercator = {{2, 8805}, {4, 8802}, {5, 8801}, {6, 8806}, {7, 8807}};
  const std::vector<Case> cases = {
      {2193, 9, transverseMercator},
      {31467, 9, transverseMercator},
      {3035, 11, {{4, 8802}, {5, 8801}, {6, 8806}, {7, 8807}}},
      {3577, 3, {{2, 8823}, {3, 8824}, {4, 8822}, {5, 8821}, {6, 8826}, {7, 8827}}},
      {2056, 20, {{2, 8815}, {3, 8813}, {4, 8812}, {5, 8811}, {6, 8816}, {7, 8817}}},
  };
  for (const auto& [code, number, slots] : cases) {
    SCOPED_TRACE(code);
    Record r(code);
    const Kprj_ProParameters* pro = r.pro();
    ASSERT_NE(pro, nullptr);
    EXPECT_EQ(pro->number, number);
    EXPECT_EQ(narrow(r.units.c_str()), "meters");

    nlohmann::json crs = projinfo(code);
    for (auto [slot, id] : slots)
      expectClose(pro->parameters[slot], parameter(crs, id), "slot " + std::to_string(slot));
    const nlohmann::json& base = crs["base_crs"];
    const nlohmann::json& ellipsoid =
        base[base.contains("datum") ? "datum" : "datum_ensemble"]["ellipsoid"];
    double a = ellipsoid["semi_major_axis"].get<double>();
    double b = ellipsoid.contains("semi_minor_axis")
                   ? ellipsoid["semi_minor_axis"].get<double>()
                   : a * (1.0 - 1.0 / ellipsoid["inverse_flattening"].get<double>());
    expectClose(pro->spheroid->semiMajor, a, "semi-major axis");
    expectClose(pro->spheroid->semiMinor, b, "semi-minor axis");
  }
}

TEST(EPSGTranslator, ExportedCodesImportBack) {
  // 3395, 24200 and 3079 are held in another parameter set than the
  // registry's (Mercator B, Lambert 2SP, Hotine B). 31467 has an
  // easting-first twin, 5677; a record has the host's axis order, so the
  // twin is its code.
  for (long code : {32631L, 27700L, 3035L, 3395L, 24200L, 3079L, 31467L}) {
    SCOPED_TRACE(code);
    Record r(code);
    r.importBack(true);
    EXPECT_EQ(r.code, code == 31467 ? 5677 : code);
    EXPECT_EQ(r.vertical, 0);
  }
  // A geographic system reads back unless a projected one is asked for; the
  // code is cleared on failure.
  Record geographic(4326);
  EXPECT_EQ(narrow(geographic.units.c_str()), "dd");
  geographic.importBack(false);
  EXPECT_EQ(geographic.code, 4326);
  EXPECT_THROW(geographic.importBack(true), std::runtime_error);
  EXPECT_EQ(geographic.code, 0);

  // A UTM code becomes the host's UTM record; the British grid keeps the
  // host's names for its spheroid and datum.
  Record utm(32631), british(27700);
  EXPECT_EQ(utm.pro()->number, 1);
  EXPECT_EQ(utm.pro()->zone, 31);
  EXPECT_STREQ(british.pro()->spheroid->name, "Airy");
  EXPECT_STREQ(british.pro()->spheroid->datum->name, "Ord. Survey G. Britain 1936");
}

TEST(EPSGTranslator, RefusesWhatTheHostCannotHoldExactly) {
  Record r(2193);
  const _kprj_MapProjectionEx* before = r.projection.get();
  // 3857: spherical formulas on WGS 84; 28992: double stereographic; 32661:
  // polar stereographic scaled at the pole; 2314: Cassini; 27572: Paris
  // meridian; 5703: vertical; then codes the registry does not have.
  for (long code : {3857L, 28992L, 32661L, 2314L, 27572L, 5703L, 0L, -4326L, 999999L}) {
    SCOPED_TRACE(code);
    try {
      r.load(code);
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
      const std::string what = e.what();
      EXPECT_NE(what, "");
      EXPECT_TRUE(code != 3857 || what.find("spherical") != std::string::npos) << what;
    }
    EXPECT_EQ(r.projection.get(), before) << "outputs are kept on failure";
  }
}

// Variants converted into the host's parameter set project like the
// registry's own definition (converted by PROJ).
TEST(EPSGTranslator, ConvertedVariantsProjectAlike) {
  using Pj = std::unique_ptr<PJ, decltype(&proj_destroy)>;
  std::unique_ptr<PJ_CONTEXT, decltype(&proj_context_destroy)> context(proj_context_create(),
                                                                       proj_context_destroy);
  // Code, then a longitude and latitude inside the system's area.
  using Case = std::tuple<long, double, double>;
  for (auto [code, lon, lat] :
       {Case{3079, -84.5, 44.0}, Case{3002, 119.5, -3.0}, Case{24200, -77.3, 18.2}}) {
    SCOPED_TRACE(code);
    Record r(code);
    const Kprj_ProParameters* p = r.pro();
    const double* s = p->parameters;
    const double d = 180.0 / kPi;
    std::ostringstream text;
    text.precision(17);
    if (p->number == 20)
      text << "+proj=omerc +lat_0=" << s[5] * d << " +lonc=" << s[4] * d << " +alpha=" << s[3] * d
           << " +gamma=" << s[3] * d << " +k=" << s[2];
    else if (p->number == 5)
      text << "+proj=merc +lat_ts=" << s[5] * d << " +lon_0=" << s[4] * d;
    else
      text << "+proj=lcc +lat_1=" << s[2] * d << " +lat_2=" << s[3] * d << " +lat_0=" << s[5] * d
           << " +lon_0=" << s[4] * d;
    text << " +x_0=" << s[6] << " +y_0=" << s[7] << " +a=" << p->spheroid->semiMajor
         << " +b=" << p->spheroid->semiMinor;
    const std::string definition = text.str();
    Pj mine(proj_create(context.get(), definition.c_str()), proj_destroy);
    ASSERT_NE(mine, nullptr) << definition;

    Pj target(proj_create_from_database(context.get(), "EPSG", std::to_string(code).c_str(),
                                        PJ_CATEGORY_CRS, 0, nullptr),
              proj_destroy);
    Pj base(proj_crs_get_geodetic_crs(context.get(), target.get()), proj_destroy);
    Pj raw(
        proj_create_crs_to_crs_from_pj(context.get(), base.get(), target.get(), nullptr, nullptr),
        proj_destroy);
    Pj registry(proj_normalize_for_visualization(context.get(), raw.get()), proj_destroy);
    PJ_COORD expected = proj_trans(registry.get(), PJ_FWD, proj_coord(lon, lat, 0, 0));
    PJ_COORD actual =
        proj_trans(mine.get(), PJ_FWD, proj_coord(proj_torad(lon), proj_torad(lat), 0, 0));
    EXPECT_NEAR(actual.xy.x, expected.xy.x, 1e-6) << definition;
    EXPECT_NEAR(actual.xy.y, expected.xy.y, 1e-6) << definition;
  }
}

// A conversion code (what ProjectionGeoKey holds) on the ellipsoid of a
// system built on it gives that system's record without its geodesy; 19905
// (Mercator A, scale 0.997) has a host form that depends on the ellipsoid.
TEST(EPSGTranslator, ConversionsOnTheImageEllipsoid) {
  using Case = std::pair<long, long>;  // conversion, projected system
  for (auto [conversion, system] : {Case{19916, 27700}, Case{18052, 21892}, Case{16206, 28406},
                                    Case{19905, 3002}, Case{16031, 32631}}) {
    SCOPED_TRACE(conversion);
    Record r(system);
    const Kprj_ProParameters* want = r.pro();
    Pro got(translator().exportConversion(conversion, want->spheroid->semiMajor,
                                          want->spheroid->semiMinor));
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->number, want->number);
    EXPECT_EQ(got->zone, want->zone);
    EXPECT_EQ(got->spheroid, nullptr);
    for (int slot = 0; slot < KPRJ_PARAMETER_COUNT; ++slot)
      expectClose(got->parameters[slot], want->parameters[slot], "slot " + std::to_string(slot));
  }
  // Not a conversion; spherical formulas on an ellipsoid; axes that are no
  // ellipsoid.
  const double wgs84[] = {6378137.0, 6356752.314245179};
  using Refused = std::tuple<long, double, double>;
  for (auto [code, a, b] :
       {Refused{4326, wgs84[0], wgs84[1]}, Refused{3856, wgs84[0], wgs84[1]},
        Refused{0, wgs84[0], wgs84[1]}, Refused{19916, 1.0, 2.0}, Refused{19916, NAN, 1.0}}) {
    SCOPED_TRACE(code);
    EXPECT_THROW(translator().exportConversion(code, a, b), std::runtime_error);
  }
}

TEST(EPSGTranslator, VerticalCodes) {
  Record r(4326, 5703);
  ASSERT_TRUE(r.elevation);
  EXPECT_EQ(narrow(r.elevation->datumName.wide), "NAVD 88 (CONTUS) (GEOID99)");
  r.importBack(false);
  EXPECT_EQ(r.code, 4326);
  EXPECT_EQ(r.vertical, 5703);
  // A vertical datum the host does not name is refused, not renamed.
  EXPECT_THROW(r.load(4326, 3855), std::runtime_error);
}

}  // namespace
