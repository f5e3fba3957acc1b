// Geocoding read: GeoKeys written with libgeotiff come back as host
// projection records with their geodesy, projection name and units name.
//
// Key lists are written "code:short", "code=double" (GeoKey codes: 1024 model
// type, 2048 geographic type, 2050 datum, 2051 prime meridian, 2052/3076
// linear units, 2056 ellipsoid, 2057-2059 axes, 2060 azimuth units, 3072
// projected type, 3074 projection, 3075 coordinate transformation, 3078 on
// the projection parameters).
#include <gtest/gtest.h>

#include <proj.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "citation.h"
#include "geocoding.h"
#include "geotiff_file.h"
#include "kerr_exception.h"
#include "kpmg.h"
#include "tables.h"
#include "test_support.h"

namespace {

// A one-pixel GeoTIFF with those keys and citation, open for reading.
GeoTiffFile geoFile(const std::string& keys, const char* citation = nullptr) {
  return GeoTiffFile([&](GTIF* gtif) {
    geoKeysSet(gtif, keys);
    if (citation) GTIFKeySet(gtif, GeogCitationGeoKey, TYPE_ASCII, 0, citation);
  });
}

// A point in degrees projected by a PROJ string.
PJ_COORD projected(const char* definition, PJ_COORD lonlat) {
  PJ* pj = proj_create(nullptr, definition);
  if (pj == nullptr) throw std::runtime_error(definition);
  lonlat.lp.lam *= M_PI / 180, lonlat.lp.phi *= M_PI / 180;
  PJ_COORD xy = proj_trans(pj, PJ_FWD, lonlat);
  proj_destroy(pj);
  return xy;
}

// The three results of GeoTIFFGeocodingGet, owned.
struct Geocoding {
  explicit Geocoding(GTIF* gtif)
      : rc(GeoTIFFGeocodingGet(gtif, out(name), out(units), out(projection), out(err))),
        pro(static_cast<Kprj_ProParameters*>(
            kprj_MapProjectionCSRGet(projection.get(), "Kprj_ProParameters"))) {}
  HeapText name, units;
  Projection projection;
  Report err;
  int rc;
  Kprj_ProParameters* pro;  // the projection's
};

std::string joined(const std::vector<std::string>& messages) {
  std::string out;
  for (const std::string& m : messages) out += (out.empty() ? "" : "|") + m;
  return out;
}
std::string chain(const Report& report) {
  return joined(reportMessages(report.get()));
}

// "slot=value" items, "d" after a value for degrees. With `all`, every other
// slot must be 0.
void expectParameters(const Kprj_ProParameters* pro, const std::string& items, bool all) {
  double expected[15];
  std::fill(expected, expected + 15, all ? 0.0 : NAN);  // NAN: not checked
  std::istringstream in(items);
  for (std::string item; in >> item;)
    expected[std::stoi(item)] =
        std::stod(item.substr(item.find('=') + 1)) * (item.back() == 'd' ? M_PI / 180 : 1);
  for (int slot = 0; slot < 15; ++slot) {
    if (std::isnan(expected[slot])) continue;
    EXPECT_NEAR(pro->parameters[slot], expected[slot], 1e-9 * (1 + std::fabs(expected[slot])))
        << "slot " << slot;
  }
}

void expectGeodesy(const Kprj_ProParameters* pro, const char* spheroid, const char* datum) {
  ASSERT_NE(pro->spheroid, nullptr);
  EXPECT_STREQ(pro->spheroid->name, spheroid);
  EXPECT_STREQ(pro->spheroid->datum->name, datum);
}

TEST(GeocodingRead, CoordinateSystemsByCode) {
  struct Case {
    const char* keys;  // after the model type and 2048 (number 0) or 3072 (the others)
    int number, zone;
    // `parameters`: for UTM and geographic records all 15 slots are checked.
    const char *parameters, *spheroid, *datum, *units;
  } cases[] = {
      {"4326", 0, 0, "", "WGS 84", "WGS 84", "dd"},
      {"4267", 0, 0, "", "Clarke 1866", "NAD27", "dd"},
      // Outside the code tables: the registry's datum, named as the host's
      // datum table names its code where it has it.
      {"4258", 0, 0, "", "GRS 1980", "European Terrestrial Reference System 1989", "dd"},
      {"4618", 0, 0, "", "South American 1969", "SAD69", "dd"},
      {"32631", 1, 31, "3=1", "WGS 84", "WGS 84", "meters"},
      {"32733", 1, 33, "3=-1", "WGS 84", "WGS 84", "meters"},
      {"26910", 1, 10, "3=1", "GRS 1980", "NAD83", "meters"},
      {"29221", 1, 21, "3=-1", "International 1909", "Sapper Hill 1943", "meters"},
      {"32767 3074:16131 2048:4326", 1, 31, "3=-1", "WGS 84", "WGS 84", "meters"},
      {"26729", 2, -101, "0=1", "Clarke 1866", "NAD27", "us_survey_feet"},
      // Without a units key, the system's units are the registry's (projinfo:
      // 2759 in metres, 2284 in US survey feet).
      {"2759", 2, -101, "0=3", "GRS 1980", "HARN", "meters"},
      {"2284", 2, -4502, "0=2", "GRS 1980", "NAD83", "us_survey_feet"},
      {"2857", 2, -4701, "0=2", "GRS 1980", "NAD83", "meters"},
      {"32767 3074:10101", 2, -101, "0=1", "Clarke 1866", "NAD27", "us_survey_feet"},
      {"32767 3074:10131", 2, -101, "0=2", "GRS 1980", "NAD83", "meters"},
      {"27700", 9, 0, "4=-2d 7=-100000", "Airy", "Ord. Survey G. Britain 1936", "meters"},
      // Projection codes are EPSG conversions, used on the image's ellipsoid
      // (19905, Mercator scaled 0.997 at the equator, depends on it).
      {"32767 3074:19916 2048:4277", 9, 0, "2=0.9996012717 4=-2d 5=49d 6=400000 7=-100000", "Airy",
       "Ord. Survey G. Britain 1936", "meters"},
      {"32767 3074:18052 2048:4218", 9, 0,
       "2=1 4=-74.0809166666667d 5=4.59904722222222d 6=1e6 7=1e6", "International 1909",
       "Bogota Observatory", "meters"},
      {"32767 3074:16206 2048:4326", 9, 0, "2=1 4=33d 5=0 6=6500000 7=0", "WGS 84", "WGS 84",
       "meters"},
      {"32767 3074:19905 2048:4211", 5, 0, "4=110d 5=4.45405154589748d 6=3900000 7=900000",
       "Bessel", "Djakarta (Batavia)", "meters"},
      {"32767 3074:17355 2048:4283", 1, 55, "3=-1", "GRS 1980", "GDA94", "meters"},
      {"28349", 9, 0, "4=1.93731547", "GRS 1980", "GDA94", "meters"},
      {"21892", 9, 0, "2=1 6=1e6", "International 1909", "Bogota Observatory", "meters"},
      {"3167", -1, 0, "0=40000", "Modified Everest", "Kertau 1948", "sears_chain"},
      {"3168", -1, 0, "0=804671.299775", "Modified Everest", "Kertau 1948", "meters"},
      {"29872", -1, 0, "2=0", "Everest (Sabah & Sarawak)", "Timbalai 1948", "sears_foot"},
  };
  for (const Case& c : cases) {
    const std::string keys = (c.number ? "1024:1 3072:" : "1024:2 2048:") + std::string(c.keys);
    SCOPED_TRACE(keys);
    Geocoding got(geoFile(keys).gtif());
    ASSERT_EQ(got.rc, 0) << chain(got.err);
    ASSERT_NE(got.pro, nullptr);
    EXPECT_EQ(got.pro->type, c.number < 0 ? 1 : 0);
    EXPECT_EQ(got.pro->number, c.number);
    EXPECT_EQ(got.pro->zone, c.zone);
    EXPECT_STREQ(got.name.get(), c.number < 0 ? "RSO" : projectionNameByNumber(c.number));
    expectParameters(got.pro, c.parameters, c.number == 0 || c.number == 1);
    expectGeodesy(got.pro, c.spheroid, c.datum);
    EXPECT_STREQ(got.units.get(), c.units);
  }

  Geocoding failed(geoFile("1024:1 3072:32767 3074:16061").gtif());
  EXPECT_EQ(failed.rc, -1);
  EXPECT_EQ(chain(failed.err),
            "kgtf_PCSRead failed|Error obtaining projection|kgtf_ProjectionReadUTM failed|"
            "kgtf_ProjectionReadUTM failed");

  ReportCapture capture;
  Geocoding unknown(geoFile("1024:7").gtif());
  EXPECT_EQ(unknown.rc, 0);
  EXPECT_STREQ(unknown.name.get(), kprj_ProjectionNameUnknown());
  EXPECT_STREQ(unknown.units.get(), kprj_UnitsNameOther());
  EXPECT_EQ(unknown.projection, nullptr);
  EXPECT_EQ(capture.messages(), std::vector<std::string>{"Unrecognized model type 7"});
}

TEST(GeocodingRead, UserDefinedGeographic) {
  const std::string ours = std::string(kCitationLabel) + "\nEllipsoid = WGS 84|Datum = WGS 84";
  struct Case {
    const char *keys, *citation;
    // `spheroid` null: no spheroid is made; `report` of kgtf_GCSRead's callee.
    const char *spheroid, *datum, *report;
    double a, b;  // checked when not 0
  } cases[] = {
      {"2050:6999 2056:7030", nullptr, "WGS 84", "", "Unknown datum: 6999", 0, 0},
      {"2050:6999 2056:7030", ours.c_str(), "WGS 84", "WGS 84", "", 0, 0},
      {"2056:7019", nullptr, "GRS 1980", "", "Unknown datum: -1", 0, 0},
      {"2050:6267", nullptr, "Clarke 1866", "NAD27", "", 0, 0},
      {"2050:6742", nullptr, "GRS 1980", "Geodetic Datum of Malaysia 2000", "", 0, 0},
      {"2050:6674", nullptr, "GRS 1980", "Sistema de Referencia Geocentrico para las AmericaS 2000",
       "", 0, 0},
      {"2050:32767 2057=6378137 2059=298.257223563", nullptr, "WGS 84", "", "", 6378137.0,
       6356752.314},
      {"2050:32767 2052:9002 2057=1000 2058=999", nullptr, "", "", "", 304.8, 304.4952},
      {"2051:8903 2056:7030", nullptr, nullptr, nullptr, "", 0, 0},
  };
  for (const Case& c : cases) {
    std::string keys = std::string("1024:2 2048:32767 ") + c.keys;
    SCOPED_TRACE(keys);
    GeoTiffFile file = geoFile(keys, c.citation);
    Pro pro(kgtf_ProParametersCreate(0, 0));
    Report err;
    EXPECT_EQ(kgtf_GCSRead(file.gtif(), pro.get(), out(err)), 1);
    EXPECT_EQ(chain(err), *c.report ? std::string("kgtf_GCSReadUserDefined failed!|") + c.report
                                    : std::string());
    if (c.spheroid)
      expectGeodesy(pro.get(), c.spheroid, c.datum);
    else
      EXPECT_EQ(pro->spheroid, nullptr);
    if (c.a != 0) {
      EXPECT_NEAR(pro->spheroid->semiMajor, c.a, 1e-3);
      EXPECT_NEAR(pro->spheroid->semiMinor, c.b, 1e-3);
    }
    EXPECT_EQ(Geocoding(file.gtif()).rc, *c.report ? -1 : 0);
  }
}

TEST(GeocodingRead, UserDefinedProjections) {
  const std::string user = "1024:1 3072:32767 3074:32767 2048:4326 ";
  struct Case {
    const char* keys;  // after model type, user-defined codes and WGS 84
    bool suppress;
    int number;
    // `report` is left in the caller's slot, `printed` shown on the way.
    const char *parameters, *report, *printed;
  } cases[] = {
      // Transverse Mercator: scale at centre replaces scale at origin; feet.
      {"3075:1 3093=0.9996 3080=9 3081=0 3082=1000 3083=0 3076:9002", true, 9,
       "2=0.9996 4=9d 6=304.8", "", ""},
      {"3075:1 3093=0.9996 3080=9 3081=0 3082=1000 3083=0", false, 9, "2=0.9996 4=9d 6=1000", "",
       "ProjScaleAtNatOriginGeoKey key not found|Using ProjScaleAtCenterGeoKey value as a "
       "replacement for missing ProjScaleAtNatOriginGeoKey"},
      // Lambert Conformal Conic without its second parallel.
      {"3075:8 3078=33 3080=-96", true, 4, "2=33d", "", ""},
      {"3075:8 3078=33", false, 4, "2=33d", "getParamWBU failed",
       "ProjStdParallel2GeoKey key not found"},
      // Mercator and Equirectangular true at a standard parallel; the host
      // holds no latitude of origin.
      {"3075:7 3078=40 3080=10 3081=0 3082=1 3083=2", true, 5, "4=10d 5=40d 6=1 7=2", "", ""},
      {"3075:17 3078=30 3088=15 3089=0 3082=1 3083=2", true, 17, "4=15d 5=30d 6=1 7=2", "", ""},
      {"3075:17 3078=30 3088=15 3089=10 3082=1 3083=2", true, 17, "4=15d 5=30d 6=1 7=2",
       "ProjCenterLatGeoKey key value (10.000000) ignored; assuming 0.0", ""},
      // Equidistant Conic with two parallels, then with one.
      {"3075:13 3088=20 3081=40 3078=30 3079=50 3082=5 3083=6", true, 8,
       "2=30d 3=50d 4=20d 5=40d 6=5 7=6 8=1", "", ""},
      {"3075:13 3088=20 3081=40 3082=5 3083=6", true, 8, "2=40d 4=20d 5=40d 6=5 7=6", "", ""},
      {"3075:15 3095=-45 3081=70 3082=7 3083=8", true, 6, "4=-45d 5=70d 6=7 7=8", "", ""},
      // Hotine variant B with its azimuth in grads, the grid angle left out.
      {"3075:9815 3093=0.99984 3088=115 3094=100 3089=4 3082=9 3083=10 2060:9105", true, 20,
       "2=0.99984 3=90d 4=115d 5=4d 6=9 7=10 12=1", "", ""},
      // Lambert 1SP with scale 1: PROJ's 2SP form has both parallels there.
      {"3075:9 3081=45 3080=10 3092=1 3082=100 3083=200", true, 4,
       "2=45d 3=45d 4=10d 5=45d 6=100 7=200", "", ""},
      // Units outside the tables: sexagesimal DMS, gon, the supplier's
      // degree, the British foot of 1936.
      {"3075:1 3092=1 3080=9.3 3081=-0.153 2054:9110", true, 9,
       "2=1 4=9.5d 5=-0.25833333333333333d", "", ""},
      {"3075:1 3092=1 3080=10 3081=0 2054:9106", true, 9, "2=1 4=9d", "", ""},
      {"3075:1 3092=1 3080=10 3081=0 2054:9122", true, 9, "2=1 4=10d", "", ""},
      {"3075:1 3092=1 3080=0 3081=0 3082=1000 3076:9095", true, 9, "2=1 6=304.8007491", "", ""},
  };
  for (const Case& c : cases) {
    kpmg_SetPreference("tiff", "err_suppress", c.suppress ? "Yes" : "No", nullptr);
    SCOPED_TRACE(c.keys);
    GeoTiffFile file = geoFile(user + c.keys);
    ReportCapture capture;
    Report err;
    Pro pro(kgtf_CoordTransRead(file.gtif(), out(err)));
    ASSERT_NE(pro, nullptr);
    EXPECT_EQ(pro->number, c.number);
    EXPECT_STREQ(pro->name, projectionNameByNumber(c.number));
    expectParameters(pro.get(), c.parameters, true);
    EXPECT_EQ(chain(err), c.report);
    EXPECT_EQ(joined(capture.messages()), c.printed);
  }

  // The whole reader shows the ignored origin once and keeps the record.
  ReportCapture capture;
  Geocoding got(geoFile(user + cases[6].keys).gtif());
  EXPECT_EQ(got.rc, 0) << chain(got.err);
  EXPECT_EQ(capture.printed.size(), 1u);
  // A caller without a slot gets no incomplete record.
  kpmg_SetPreference("tiff", "err_suppress", "No", nullptr);
  GeoTiffFile lcc = geoFile(user + cases[3].keys);
  EXPECT_EQ(Pro(kgtf_CoordTransRead(lcc.gtif(), nullptr)), nullptr);
  kpmg_ClearPreferences();
}

// Systems the host cannot hold, and unit codes nobody knows, are refused
// with a report that names them.
TEST(GeocodingRead, UserDefinedRefusals) {
  const std::string user = "1024:1 3072:32767 3074:32767 2048:4326 ";
  const struct {
    const char* keys;
    const char* named;
  } cases[] = {
      {"3075:9815 3093=1 3088=115 3094=50 3096=40 3089=4 3082=0 3083=0",
       "Hotine Oblique Mercator (variant B)"},
      {"3075:18 3080=10 3081=45", "Cassini"},
      // A value no system holds must not reach libgeotiff's fixed buffer.
      {"3075:9 3081=1e300 3080=10 3092=1", "cannot be read from the keys"},
      {"3075:1 3092=1 3080=10 2054:9999", "Unknown angular unit code 9999"},
      {"3075:1 3092=1 3082=10 3076:9999", "Unknown linear unit code 9999"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    GeoTiffFile file = geoFile(user + c.keys);
    Report err;
    EXPECT_EQ(Pro(kgtf_CoordTransRead(file.gtif(), out(err))), nullptr);
    EXPECT_NE(chain(err).find(c.named), std::string::npos) << chain(err);
  }
}

// Forms with their false origin or scale where the host has none (Hotine
// variant A, Mercator and Polar Stereographic with a scale at the origin)
// are converted, not approximated: the host record projects every point
// where PROJ puts it under the file's own definition.
TEST(GeocodingRead, ConvertedFormsProjectAsTheFileDoes) {
  const std::string user = "1024:1 3072:32767 3074:32767 2048:4326 ";
  static constexpr double deg = 180 / M_PI;
  const struct {
    const char* keys;
    const char* natural;  // the file's system as PROJ reads it
    std::string (*host)(const double* p);
    double lon, lat;
  } cases[] = {
      {"3075:3 3093=0.99984 3088=115 3089=4 3094=53.31582047 3082=590476.87 3083=442857.65",
       "+proj=omerc +no_uoff +lat_0=4 +lonc=115 +alpha=53.31582047 +gamma=53.31582047 "
       "+k=0.99984 +x_0=590476.87 +y_0=442857.65",
       [](const double* p) {
         return "+proj=omerc +lat_0=" + std::to_string(p[5] * deg) +
                " +lonc=" + std::to_string(p[4] * deg) + " +alpha=" + std::to_string(p[3] * deg) +
                " +gamma=" + std::to_string(p[3] * deg) + " +k=" + std::to_string(p[2]) +
                " +x_0=" + std::to_string(p[6]) + " +y_0=" + std::to_string(p[7]);
       },
       117, 6},
      {"3075:7 3080=10 3081=0 3092=0.9996 3082=1 3083=2",
       "+proj=merc +lon_0=10 +k=0.9996 +x_0=1 +y_0=2",
       [](const double* p) {
         return "+proj=merc +lon_0=" + std::to_string(p[4] * deg) +
                " +lat_ts=" + std::to_string(p[5] * deg) + " +x_0=" + std::to_string(p[6]) +
                " +y_0=" + std::to_string(p[7]);
       },
       25, 50},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    GeoTiffFile file = geoFile(user + c.keys);
    Report err;
    Pro pro(kgtf_CoordTransRead(file.gtif(), out(err)));
    ASSERT_NE(pro, nullptr) << chain(err);
    // std::to_string keeps 6 decimals: enough for a millimetre here.
    std::string host = c.host(pro->parameters) + " +ellps=WGS84";
    PJ_COORD lonlat = proj_coord(c.lon, c.lat, 0, 0);
    PJ_COORD want = projected((std::string(c.natural) + " +ellps=WGS84").c_str(), lonlat);
    PJ_COORD got = projected(host.c_str(), lonlat);
    EXPECT_NEAR(got.xy.x, want.xy.x, 1e-2);
    EXPECT_NEAR(got.xy.y, want.xy.y, 1e-2);
  }
  // A Polar Stereographic with a scale at the pole is not the host's.
  GeoTiffFile ups = geoFile(user + "3075:15 3095=0 3081=90 3092=0.994 3082=2e6 3083=2e6");
  Report err;
  EXPECT_EQ(Pro(kgtf_CoordTransRead(ups.gtif(), out(err))), nullptr);
  EXPECT_NE(chain(err).find("Polar Stereographic (variant A)"), std::string::npos) << chain(err);
}

TEST(GeocodingRead, HostileDirectories) {
  // Keys as (key, location, count, value or offset) after a header that counts
  // them; locations 34735 the directory, 34736 GeoDoubleParams (1 value),
  // 34737 GeoAsciiParams ("abc").
  struct Case {
    uint16_t count;
    std::vector<uint16_t> keys;
    const char* report;  // outermost message
  } cases[] = {
      {2, {1024, 0, 1, 1, 3072, 34736, 1, 5}, "Args"},    // past GeoDoubleParams
      {2, {1024, 0, 1, 2, 2049, 34737, 40, 90}, "Args"},  // past GeoAsciiParams
      {900, {1024, 0, 1, 1}, "Args"},                     // more keys than the tag holds
      {2, {1024, 0, 1, 1, 3072, 34736, 1, 0}, "kgtf_PCSRead failed"},  // a double
      {2, {1024, 0, 1, 1, 3072, 34735, 2, 4}, "kgtf_PCSRead failed"},  // two values
      {4,
       {1024, 0, 1, 1, 3072, 0, 1, 32767, 3074, 0, 1, 32767, 3075, 34737, 3, 0},
       "kgtf_PCSRead failed"},  // coordinate transformation as text
      {3, {1024, 0, 1, 2, 2048, 0, 1, 32767, 2050, 34737, 3, 0}, "kgtf_GCSRead failed"},
  };
  for (const Case& c : cases) {
    GeoTiffFile file(nullptr, [&](TIFF* tif) {
      std::vector<uint16_t> directory{1, 1, 0, c.count};
      directory.insert(directory.end(), c.keys.begin(), c.keys.end());
      const double one = 32631.0;
      TIFFSetField(tif, TIFFTAG_GEOKEYDIRECTORY, int(directory.size()), directory.data());
      TIFFSetField(tif, TIFFTAG_GEODOUBLEPARAMS, 1, &one);
      TIFFSetField(tif, TIFFTAG_GEOASCIIPARAMS, "abc|");
    });
    Geocoding got(file.gtif());
    EXPECT_EQ(got.rc, -1) << c.report;
    EXPECT_EQ(reportMessages(got.err.get()).at(0), c.report);
  }
}

TEST(GeocodingRead, WronglyTypedCodeKeys) {
  // Unit, datum and ellipsoid codes stored as doubles count as absent: the
  // defaults apply and nothing wider than a code is copied.
  Geocoding got(geoFile("1024:1 3072:32767 3074:16203 2048:4326 3076=9001 2054=9102 3080=15 "
                        "3081=0 3082=3500000 3083=0")
                    .gtif());
  ASSERT_EQ(got.rc, 0) << chain(got.err);
  EXPECT_EQ(got.pro->number, 36);
  expectParameters(got.pro, "4=15d 6=3500000", false);

  GeoTiffFile rso = geoFile("3074:19958 2050:6298 2056=7016 3076=9001 3082=590476.87");
  Report err;
  Pro pro(kgtf_ProjectionReadRSO(rso.gtif(), 19958, out(err)));
  EXPECT_EQ(chain(err), "");
  ASSERT_NE(pro, nullptr);
  expectGeodesy(pro.get(), "Everest (Sabah & Sarawak)", "Timbalai 1948");
}

TEST(GeocodingRead, ContainedExceptions) {
  // `report`: the innermost message. The EPSG road throws for the code 0; the
  // reader leaks nothing on the way.
  struct Case {
    std::function<void()> work;
    const char* report;
  } cases[] = {
      {[] { KerrExceptionA("EPSGHelper", "GetProjAndUnitsFromEPSG").Throw(1, "Bad code"); },
       "Bad code"},
      {[] { throw std::runtime_error("no database"); }, "no database"},
      {[] { throw 42; }, "Unknown exception"},
      {[] { Geocoding(geoFile("1024:1 3072:0").gtif()); },
       "Can not use EPSG code to get a valid mapProjection"},
      {[] {}, nullptr},
  };
  for (const Case& c : cases) {
    Kerr_Report* slot = nullptr;
    {
      KerrFrame frame("kgtf_Reader", &slot, KERR_PRINT_NOVSL);
      EXPECT_EQ(geocodingContain(frame, c.work), !c.report);
    }
    Report err(slot);
    std::vector<std::string> messages = reportMessages(err.get());
    EXPECT_EQ(messages.empty() ? "" : messages.back(), c.report ? c.report : "");
    EXPECT_STREQ(kerr_ReportLabel(err.get()), c.report ? "kgtf_Reader" : nullptr);
  }
}

}  // namespace
