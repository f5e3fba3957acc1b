// Writing geocoding: each writer's keys, read back through the library's own
// geocoding reader and compared with the record that was written.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "citation.h"
#include "epsg_helper.h"
#include "geocoding.h"
#include "geotiff_file.h"
#include "kgtf.h"
#include "kint.h"
#include "kmsc.h"
#include "test_support.h"

namespace {

constexpr double kDeg = M_PI / 180.0;

// A host record of projection `number` and `zone`, with
// parameters and, when a spheroid name is given, that spheroid and datum.
Pro record(int number, int zone, const std::vector<std::pair<int, double>>& parameters,
           const char* spheroid = "WGS 84", const char* datum = "WGS 84") {
  Pro pro(kgtf_ProParametersCreate(number, zone));
  EXPECT_NE(pro, nullptr);
  for (const auto& [slot, value] : parameters) pro->parameters[slot] = value;
  if (spheroid != nullptr) {
    pro->spheroid = kprj_SpheroidCreate(nullptr);
    EXPECT_EQ(kprj_SpheroidByName(kint_GetInit(), spheroid, pro->spheroid, nullptr), 1);
    if (datum != nullptr) {
      EXPECT_EQ(kprj_DatumByName(kint_GetInit(), spheroid, datum, pro->spheroid->datum, nullptr),
                1);
    }
  }
  return pro;
}

// Keys written for a record by GeoTIFFGeocodingSet, or without units by
// PCSWriteUserDefined.
struct KeysWritten : GeoTiffWritten {
  KeysWritten(const Kprj_ProParameters* pro, const char* units)
      : GeoTiffWritten(true, [=](TIFF*, GTIF* gtif, Kerr_Report** err) {
          Projection projection(kprj_ProjectionInit(kint_GetInit(), pro, nullptr));
          ASSERT_NE(projection, nullptr);
          if (units == nullptr) {
            ModelTypeSet(gtif, ModelTypeProjected, nullptr);
            EXPECT_EQ(PCSWriteUserDefined(gtif, pro, err), 1);
          } else {
            EXPECT_EQ(GeoTIFFGeocodingSet(gtif, pro->name, units, projection.get(), err), 1);
          }
        }) {}
};

TEST(GeocodingWrite, SystemsReadBackAsWritten) {
  const double a = 12.5 * kDeg, b = 47.25 * kDeg, c = 3.75 * kDeg, d = -21.5 * kDeg;
  const char* sabah = "Everest (Sabah & Sarawak)";
  auto rso = [](int code) { return Pro(kgtf_RSOParametersCreate(code, nullptr)); };
  const int user = 32767;
  struct Case {
    Pro pro;
    const char* units;                       // none: written by PCSWriteUserDefined
    int pcs, projection, transform, linear;  // keys; 0: not checked, -1: absent
    const char* cited;                       // in PCSCitationGeoKey
  } cases[] = {
      {record(1, 31, {{3, 1.0}}), "meters", 32631, -1, 0, 0, "UTM Zone 31N"},
      // The hemisphere is north from 0 up, as the reader has it.
      {record(1, 31, {{3, 0.0}}), "meters", 32631, -1, 0, 0, "UTM Zone 31N"},
      {record(1, 17, {{3, -1.0}}, sabah, nullptr), "meters", user, 16117, 0, 0,
       "UTM Zone 17S\nEllipsoid = Everest (Sabah & Sarawak)\nDatum = ?"},
      {record(2, 101, {{0, 1.0}}, "Clarke 1866", "NAD27"), "us_survey_feet", 26729, -1, 0, 0,
       "State Plane Zone 101\nNAD = 27"},
      // RSO records as the reader makes them of the grids' codes.
      {rso(29873), "meters", 29873, -1, 0, 9001, ""},
      {rso(3167), "sears_chain", 3167, -1, 0, 9011, ""},
      {rso(3168), "sears_foot", user, 19935, 0, 9041, ""},
      {rso(29873), "international_feet", user, 19958, 0, 9002, ""},
      {record(3, 0, {{2, b}, {3, d}, {4, c}, {5, a}, {6, 1000.5}, {7, -2000.25}}), nullptr, user,
       user, CT_AlbersEqualArea, 9001, "Projection = Albers"},
      {record(6, 0, {{4, c}, {5, b}, {6, 1000.5}, {7, 2000.25}}), nullptr, user, user,
       CT_PolarStereographic, 9001, ""},
      {record(8, 0, {{2, a}, {4, c}, {5, a}, {6, 1}, {7, 2}}), nullptr, user, user,
       CT_EquidistantConic, 9001, ""},
      {record(9, 0, {{2, 0.9996}, {4, c}, {5, a}, {6, 5e5}, {7, 10}}), nullptr, user, user,
       CT_TransverseMercator, 9001, ""},
      {record(20, 0, {{2, 0.99984}, {3, d}, {4, c}, {5, a}, {12, 1.0}}), nullptr, user, user,
       CT_HotineObliqueMercatorAzimuthCenter, 9001, ""},
      {record(36, 3, {{4, 9 * kDeg}, {6, 3500000}}), nullptr, 0, 16203, 0, 0, ""},
  };
  for (Case& k : cases) {
    SCOPED_TRACE(std::string(k.pro->name) + " " + std::to_string(k.pro->zone));
    KeysWritten w(k.pro.get(), k.units);
    EXPECT_EQ(w.err, nullptr) << (w.err ? kerr_ReportMessage(w.err.get()) : "");
    const std::pair<geokey_t, int> expected[] = {{ProjectedCSTypeGeoKey, k.pcs},
                                                 {ProjectionGeoKey, k.projection},
                                                 {ProjCoordTransGeoKey, k.transform},
                                                 {ProjLinearUnitsGeoKey, k.linear}};
    for (const auto& [key, value] : expected)
      EXPECT_TRUE(value == 0 || w.in.key(key) == value) << key << ": " << w.in.key(key);
    EXPECT_NE(w.in.text(PCSCitationGeoKey).find(k.cited), std::string::npos);
    HeapText name, units;
    Projection projection;
    Report err;
    GeoTIFFGeocodingGet(w.in.gtif.get(), out(name), out(units), out(projection), out(err));
    ASSERT_NE(projection, nullptr) << (err ? kerr_ReportMessage(err.get()) : "");
    const auto* back = static_cast<const Kprj_ProParameters*>(
        kprj_MapProjectionCSRGet(projection.get(), "Kprj_ProParameters"));
    ASSERT_NE(back, nullptr);
    // The reader gives State Plane zones as the table stores them, and the
    // UTM hemisphere as +1 or -1.
    const Kprj_ProParameters* want = k.pro.get();
    EXPECT_EQ(back->number, want->number);
    EXPECT_EQ(back->zone, want->number == 2 ? -want->zone : want->zone);
    for (int i = 0; i < KPRJ_PARAMETER_COUNT; ++i) {
      double value = want->parameters[i];
      if (want->number == 1 && i == 3) value = value >= 0 ? 1.0 : -1.0;
      EXPECT_NEAR(back->parameters[i], value, 1e-9 * (1 + std::fabs(value))) << i;
    }
    ASSERT_NE(back->spheroid, nullptr);
    EXPECT_STREQ(back->spheroid->name, want->spheroid->name);
    EXPECT_STREQ(back->spheroid->datum->name, want->spheroid->datum->name);
  }
}

TEST(GeocodingWrite, UntranslatableProjectionWarnsAndWritesModelTypeZero) {
  ReportCapture capture;
  Pro som = record(21, 0, {});
  KeysWritten w(som.get(), "meters");
  EXPECT_EQ(w.err, nullptr);
  ASSERT_FALSE(capture.messages().empty());
  EXPECT_EQ(capture.messages().back(),
            "Space Oblique Mercator:  Cannot translate projection to GeoTIFF; information may be "
            "lost");
  EXPECT_EQ(w.in.key(GTModelTypeGeoKey), 0);
  EXPECT_EQ(w.in.key(ProjectedCSTypeGeoKey), -1);
}

// Records no host would build on purpose still give keys or a report.
TEST(GeocodingWrite, HostileRecordsNeverCrash) {
  ReportCapture quiet;
  auto mutate = [](int number, int zone, const std::function<void(Kprj_ProParameters*)>& f) {
    Pro pro = record(number, zone, {{0, 2.0}, {3, 1.0}, {12, 1.0}});
    f(pro.get());
    return pro;
  };
  Pro cases[] = {
      mutate(1, 99999, [](Kprj_ProParameters*) {}),
      mutate(2, -2147483647 - 1, [](Kprj_ProParameters*) {}),
      mutate(36, 2147483647, [](Kprj_ProParameters*) {}),
      mutate(9, 0, [](Kprj_ProParameters* p) { p->parameters[4] = NAN; }),
      mutate(2, 101, [](Kprj_ProParameters* p) { p->parameters[0] = INFINITY; }),
      mutate(1, 31,
             [](Kprj_ProParameters* p) { kmsc_HeapFree(p->parameters), p->parameters = nullptr; }),
      mutate(0, 0, [](Kprj_ProParameters* p) { kprj_SpheroidFree(&p->spheroid, nullptr); }),
      mutate(4, 0, [](Kprj_ProParameters* p) { p->number = 999; }),
      mutate(4, 0, [](Kprj_ProParameters* p) { p->type = KPRJ_PROJECTION_EXTERNAL; }),
  };
  for (const Pro& pro : cases) {
    GeoTiffWritten w(true, [&](TIFF*, GTIF* gtif, Kerr_Report**) {
      Report err;
      kgtf_ProParametersWrite(gtif, "meters", pro->name, pro.get(), out(err));
      PCSWriteByNumber(gtif, pro.get());
      GCSWrite(gtif, pro.get(), out(err));
      PCSWriteRSO(gtif, "sears_foot", pro.get(), out(err));
      PCSWriteStatePlane(gtif, pro.get(), "meters", out(err));
      PCSWriteUTM(gtif, pro.get(), out(err));
    });
    EXPECT_NE(w.in.text(GTCitationGeoKey).find("Projection Name = "), std::string::npos);
  }
}

TEST(GeocodingWrite, GeographicSystemsOutsideTheTablesGetTheRegistryCode) {
  // Datums the code tables lack come from the registry on reading; written,
  // they give the registry's geographic system back.
  for (auto [code, geographicSystem, expected] :
       {std::tuple(4258, true, 4258), std::tuple(6674, false, 4674),
        std::tuple(6742, false, 4742)}) {
    Pro pro(kgtf_ProParametersCreate(0, 0));
    pro->spheroid = GetSpheroidFromEPSGDatum(code, geographicSystem);
    KeysWritten w(pro.get(), "dd");
    EXPECT_EQ(w.in.key(GeographicTypeGeoKey), expected) << code;
  }
}

}  // namespace
