// Writing geocoding: each writer's keys, read back through the library's own
// geocoding reader and compared with the record that was written.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "citation.h"
#include "geocoding.h"
#include "kgtf.h"
#include "kint.h"
#include "kmsc.h"
#include "kpmg.h"
#include "test_support.h"
#include "write_support.h"

namespace {

constexpr double kDeg = M_PI / 180.0;

// A host record of projection `number` and `zone`, with parameters and, when
// a spheroid name is given, that spheroid and datum.
Pro record(int number, int zone, const std::vector<std::pair<int, double>>& parameters,
           const char* spheroid = "WGS 84", const char* datum = "WGS 84") {
  Pro pro(kgtf_ProParametersCreate(number, zone));
  EXPECT_NE(pro, nullptr);
  for (const auto& [slot, value] : parameters) pro->parameters[slot] = value;
  if (spheroid != nullptr) {
    pro->spheroid = kprj_SpheroidCreate(nullptr);
    EXPECT_EQ(kprj_SpheroidByName(kint_GetInit(), spheroid, pro->spheroid, nullptr), 1) << spheroid;
    if (datum != nullptr) {
      EXPECT_EQ(kprj_DatumByName(kint_GetInit(), spheroid, datum, pro->spheroid->datum, nullptr), 1)
          << datum;
    }
  }
  return pro;
}

// Keys set by `write` into a new file, which is then open for reading.
struct Keys {
  explicit Keys(const std::function<void(GTIF*)>& write) {
    writeWithKeys(file.path(), [&](TIFF*, GTIF* gtif) { write(gtif); });
    in = std::make_unique<GeoTiffOpen>(file.path());
  }
  GTIF* gtif() const { return in->gtif.get(); }
  // A SHORT key, -1 when absent.
  int key(geokey_t key) const {
    uint16_t value = 0;
    return GTIFKeyGet(gtif(), key, &value, 0, 1) == 1 ? value : -1;
  }
  double number(geokey_t key) const {
    double value = NAN;
    GTIFKeyGet(gtif(), key, &value, 0, 1);
    return value;
  }
  std::string text(geokey_t key) const {
    char buffer[2048] = {0};
    GTIFKeyGet(gtif(), key, buffer, 0, sizeof buffer - 1);
    return buffer;
  }
  // The record the geocoding reader makes of the keys.
  Pro readBack() const {
    HeapText name, units;
    Projection projection;
    Report err;
    GeoTIFFGeocodingGet(gtif(), out(name), out(units), out(projection), out(err));
    EXPECT_EQ(err, nullptr) << (err ? kerr_ReportMessage(err.get()) : "");
    if (!projection) return nullptr;
    const auto* form = static_cast<const Kprj_ProParameters*>(
        kprj_MapProjectionCSRGet(projection.get(), "Kprj_ProParameters"));
    return Pro(kprj_ProParametersCopy(form, nullptr));
  }
  TempFile file{"geocoding_write"};
  std::unique_ptr<GeoTiffOpen> in;
};

// Keys of GeoTIFFGeocodingSet for a record.
std::unique_ptr<Keys> geocodingWritten(const Kprj_ProParameters* pro, const char* units,
                                       Report* err = nullptr) {
  Projection projection(kprj_ProjectionInit(kint_GetInit(), pro, nullptr));
  EXPECT_NE(projection, nullptr);
  return std::make_unique<Keys>([&](GTIF* gtif) {
    Report own;
    GeoTIFFGeocodingSet(gtif, pro->name, units, projection.get(), out(err ? *err : own));
  });
}

void expectSameRecord(const Kprj_ProParameters* want, const Kprj_ProParameters* got) {
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->number, want->number);
  EXPECT_EQ(got->zone, want->zone);
  for (int i = 0; i < KPRJ_PARAMETER_COUNT; ++i)
    EXPECT_NEAR(got->parameters[i], want->parameters[i],
                1e-9 * (1 + std::fabs(want->parameters[i])))
        << "parameter " << i;
  ASSERT_NE(got->spheroid, nullptr);
  EXPECT_STREQ(got->spheroid->name, want->spheroid->name);
  EXPECT_STREQ(got->spheroid->datum->name, want->spheroid->datum->name);
}

TEST(GeocodingWrite, ZoneSystemsByCodeReadBackAsWritten) {
  struct Case {
    const char* name;
    Pro pro;
    const char* units;
    int pcs;            // ProjectedCSTypeGeoKey (-1 absent)
    int projection;     // ProjectionGeoKey (-1 absent)
    int geographic;     // GeographicTypeGeoKey (-1 absent)
    const char* cited;  // in PCSCitationGeoKey
  };
  Case cases[] = {
      {"UTM 31N WGS 84", record(1, 31, {{3, 1.0}}), "meters", 32631, -1, -1, "UTM Zone 31N"},
      {"UTM 17S unmatched ellipsoid",
       record(1, 17, {{3, -1.0}}, "Everest (Sabah & Sarawak)", nullptr), "meters", 32767, 16117,
       32767, "UTM Zone 17S\nEllipsoid = Everest (Sabah & Sarawak)\nDatum = ?"},
      {"geographic WGS 84", record(0, 0, {}), "dd", -1, -1, 4326, nullptr},
      {"State Plane 101 NAD27", record(2, 101, {{0, 1.0}}, "Clarke 1866", "NAD27"),
       "us_survey_feet", 26729, -1, -1, "State Plane Zone 101\nNAD = 27"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    Report err;
    auto keys = geocodingWritten(c.pro.get(), c.units, &err);
    EXPECT_EQ(err, nullptr);
    EXPECT_EQ(keys->key(GTModelTypeGeoKey), c.pcs == -1 ? 2 : 1);
    EXPECT_EQ(keys->key(ProjectedCSTypeGeoKey), c.pcs);
    EXPECT_EQ(keys->key(ProjectionGeoKey), c.projection);
    EXPECT_EQ(keys->key(GeographicTypeGeoKey), c.geographic);
    if (c.cited) {
      EXPECT_NE(keys->text(PCSCitationGeoKey).find(c.cited), std::string::npos);
    }
    Pro back = keys->readBack();
    // The reader gives State Plane zones as the table stores them.
    if (c.pro->number == 2) c.pro->zone = -c.pro->zone;
    expectSameRecord(c.pro.get(), back.get());
  }
}

TEST(GeocodingWrite, StatePlaneCodesDependOnZoneNadAndUnits) {
  struct Case {
    int zone, nad;
    const char* units;
    int pcs;
  } cases[] = {
      {-2301, 2, "meters", 26994},
      {-2302, 2, "us_survey_feet", 2255},
      {-2301, 2, "international_feet", -1},
      {-2301, 1, "us_survey_feet", 26794},
      {-101, 3, "meters", 2759},
      {4701, 2, "meters", 32150},
      {9999, 2, "meters", -1},  // no such zone: nothing, and no failure
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.zone) + " NAD " + std::to_string(c.nad) + " " + c.units);
    Pro pro = record(2, c.zone, {{0, double(c.nad)}}, nullptr);
    Report err;
    Keys keys(
        [&](GTIF* gtif) { EXPECT_EQ(PCSWriteStatePlane(gtif, pro.get(), c.units, out(err)), 1); });
    EXPECT_EQ(err, nullptr);
    EXPECT_EQ(keys.key(ProjectedCSTypeGeoKey), c.pcs);
  }
}

TEST(GeocodingWrite, UserDefinedRowsReadBackAsWritten) {
  const double a = 12.5 * kDeg, b = 47.25 * kDeg, c = 3.75 * kDeg, d = -21.5 * kDeg;
  struct Case {
    int number;
    std::vector<std::pair<int, double>> parameters;
    int coordTrans;
  } cases[] = {
      {3, {{2, b}, {3, d}, {4, c}, {5, a}, {6, 1000.5}, {7, -2000.25}}, CT_AlbersEqualArea},
      {4, {{2, b}, {3, d}, {4, c}, {5, a}, {6, 1000.5}, {7, 2000.25}}, CT_LambertConfConic_2SP},
      {5, {{4, c}, {5, a}, {6, 1000.5}, {7, 2000.25}}, CT_Mercator},
      {6, {{4, c}, {5, b}, {6, 1000.5}, {7, 2000.25}}, CT_PolarStereographic},
      {7, {{4, c}, {5, a}, {6, 1000.5}, {7, 2000.25}}, CT_Polyconic},
      {8, {{2, b}, {3, d}, {4, c}, {5, a}, {6, 1e3}, {7, 2e3}, {8, 1.0}}, CT_EquidistantConic},
      {8, {{2, a}, {4, c}, {5, a}, {6, 1e3}, {7, 2e3}}, CT_EquidistantConic},  // one parallel
      {9, {{2, 0.9996}, {4, c}, {5, a}, {6, 500000}, {7, 10}}, CT_TransverseMercator},
      {10, {{4, c}, {5, a}, {6, 1}, {7, 2}}, CT_Stereographic},
      {11, {{4, c}, {5, a}, {6, 1}, {7, 2}}, CT_LambertAzimEqualArea},
      {12, {{4, c}, {5, a}, {6, 1}, {7, 2}}, CT_AzimuthalEquidistant},
      {13, {{4, c}, {5, a}, {6, 1}, {7, 2}}, CT_Gnomonic},
      {14, {{4, c}, {5, a}, {6, 1}, {7, 2}}, CT_Orthographic},
      {16, {{4, c}, {6, 1}, {7, 2}}, CT_Sinusoidal},
      {17, {{4, c}, {5, a}, {6, 1}, {7, 2}}, CT_Equirectangular},
      {18, {{4, c}, {6, 1}, {7, 2}}, CT_MillerCylindrical},
      {19, {{4, c}, {6, 1}, {7, 2}}, CT_VanDerGrinten},
      {20, {{2, 0.99984}, {3, d}, {4, c}, {5, a}, {6, 1}, {7, 2}, {12, 1.0}}, CT_ObliqueMercator},
      {24, {{4, c}, {6, 1}, {7, 2}}, CT_Robinson},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.number);
    Pro pro = record(k.number, 0, k.parameters);
    Report err;
    Keys keys([&](GTIF* gtif) {
      ModelTypeSet(gtif, ModelTypeProjected, nullptr);
      EXPECT_EQ(PCSWriteUserDefined(gtif, pro.get(), out(err)), 1);
    });
    EXPECT_EQ(err, nullptr);
    EXPECT_EQ(keys.key(ProjectedCSTypeGeoKey), 32767);
    EXPECT_EQ(keys.key(ProjectionGeoKey), 32767);
    EXPECT_EQ(keys.key(ProjCoordTransGeoKey), k.coordTrans);
    EXPECT_EQ(keys.key(ProjLinearUnitsGeoKey), 9001);
    EXPECT_EQ(keys.key(GeographicTypeGeoKey), 4326);
    EXPECT_NE(keys.text(PCSCitationGeoKey).find(std::string("Projection = ") + pro->name),
              std::string::npos);
    Pro back = keys.readBack();
    expectSameRecord(pro.get(), back.get());
  }
}

TEST(GeocodingWrite, GaussKrugerAndHotineSpecialRows) {
  Pro gk = record(36, 3, {{4, 9 * kDeg}, {6, 3500000}, {7, 0}});
  Keys gkKeys([&](GTIF* gtif) {
    ModelTypeSet(gtif, ModelTypeProjected, nullptr);
    PCSWriteUserDefined(gtif, gk.get(), nullptr);
  });
  EXPECT_EQ(gkKeys.key(ProjectionGeoKey), 16203);
  expectSameRecord(gk.get(), gkKeys.readBack().get());

  // A Hotine without its constant cannot be spelt out: no transformation.
  Pro hotine = record(20, 0, {{2, 0.9996}, {3, 0.5}});
  Keys hotineKeys([&](GTIF* gtif) { PCSWriteUserDefined(gtif, hotine.get(), nullptr); });
  EXPECT_EQ(hotineKeys.key(ProjCoordTransGeoKey), -1);
  EXPECT_EQ(hotineKeys.key(GeogAzimuthUnitsGeoKey), -1);
  EXPECT_TRUE(std::isnan(hotineKeys.number(ProjScaleAtCenterGeoKey)));
}

TEST(GeocodingWrite, RsoSystemsByNameAndUnits) {
  struct Case {
    const char* units;
    double p2;
    int pcs;
    int projection;
    int linearUnits;  // written by the units step after the system
  } cases[] = {
      {"meters", 0.0, 29873, -1, 9001},
      {"sears_chain", 1.0, 3167, -1, 9011},
      {"sears_foot", 0.0, 29872, -1, 9041},
      {"sears_foot", 1.0, 32767, 19935, 9041},
      {"international_feet", 0.0, 32767, 19958, 9002},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.units) + " " + std::to_string(c.p2));
    Pro pro(kprj_ProParametersCreateByName("RSO", nullptr));
    ASSERT_NE(pro, nullptr);
    pro->parameters[0] = 804671.0;
    pro->parameters[1] = 0.0;
    pro->parameters[2] = c.p2;
    kprj_SpheroidByName(kint_GetInit(), "Everest (Sabah & Sarawak)", pro->spheroid, nullptr);
    kprj_DatumByName(kint_GetInit(), "Everest (Sabah & Sarawak)", "Timbalai 1948",
                     pro->spheroid->datum, nullptr);
    Report err;
    auto keys = geocodingWritten(pro.get(), c.units, &err);
    EXPECT_EQ(err, nullptr) << (err ? kerr_ReportMessage(err.get()) : "");
    EXPECT_EQ(keys->key(GTModelTypeGeoKey), 1);
    EXPECT_EQ(keys->key(ProjectedCSTypeGeoKey), c.pcs);
    EXPECT_EQ(keys->key(ProjectionGeoKey), c.projection);
    EXPECT_EQ(keys->key(ProjLinearUnitsGeoKey), c.linearUnits);
    if (c.pcs == 32767) {
      EXPECT_EQ(keys->key(GeogGeodeticDatumGeoKey), 6298);
      EXPECT_NEAR(keys->number(ProjCenterEastingGeoKey) *
                      (c.linearUnits == 9002 ? 0.3048 : 0.3047994715386762),
                  804671.0, 1e-3);
    }
  }
  // Without datum and spheroid a user-defined RSO cannot be written.
  Pro bare(kprj_ProParametersCreateByName("RSO", nullptr));
  kprj_SpheroidFree(&bare->spheroid, nullptr);
  Report err;
  Keys keys([&](GTIF* gtif) { EXPECT_EQ(PCSWriteRSO(gtif, "furlongs", bare.get(), out(err)), 0); });
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(kerr_ReportMessage(err.get()), "Unknown Datum and Spheroid");
}

TEST(GeocodingWrite, UntranslatableProjectionWarnsAndWritesModelTypeZero) {
  ReportCapture capture;
  Pro som = record(21, 0, {});
  Report err;
  auto keys = geocodingWritten(som.get(), "meters", &err);
  EXPECT_EQ(err, nullptr);
  std::vector<std::string> messages = capture.messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back(),
            "Space Oblique Mercator:  Cannot translate projection to GeoTIFF; information may be "
            "lost");
  EXPECT_EQ(keys->key(GTModelTypeGeoKey), 0);
  EXPECT_EQ(keys->key(ProjectedCSTypeGeoKey), -1);
  EXPECT_EQ(keys->key(GeographicTypeGeoKey), -1);

  Report empty;
  Projection nameOnly(kprj_ProjectionCreateByName("UTM", nullptr));
  Keys refused([&](GTIF* gtif) {
    EXPECT_EQ(GeoTIFFGeocodingSet(gtif, "UTM", "meters", nameOnly.get(), out(empty)), 0);
  });
  ASSERT_NE(empty, nullptr);
  EXPECT_STREQ(kerr_ReportMessage(empty.get()), "Empty projection!");
}

TEST(GeocodingWrite, CitationsFollowTheWriteCitationPreference) {
  Pro unmatched = record(0, 0, {}, "Everest (Sabah & Sarawak)", nullptr);
  for (bool write : {true, false}) {
    SCOPED_TRACE(write);
    kpmg_SetPreference("tiff", "write_citation", write ? "true" : "false", nullptr);
    Keys keys([&](GTIF* gtif) { GCSWrite(gtif, unmatched.get(), nullptr); });
    std::string citation = keys.text(GeogCitationGeoKey);
    EXPECT_EQ(citation.rfind(kCitationLabel, 0) == 0, write);
    EXPECT_NE(citation.find("Unable to match Ellipsoid (Datum) to a GeographicTypeGeoKey value\n"
                            "Ellipsoid = Everest (Sabah & Sarawak)\nDatum = ?"),
              std::string::npos);
    if (!write) {
      EXPECT_EQ(citation.rfind("Unable to match", 0), 0u);
    }
    EXPECT_EQ(keys.key(GeographicTypeGeoKey), 32767);
    EXPECT_NEAR(keys.number(GeogSemiMajorAxisGeoKey), unmatched->spheroid->semiMajor, 1e-9);
  }
  kpmg_ClearPreferences();
}

TEST(GeocodingWrite, ProParametersWriteCitesInFull) {
  kpmg_SetPreference("tiff", "write_citation", "false", nullptr);
  Pro utm = record(1, 33, {{3, 1.0}});
  Keys keys([&](GTIF* gtif) {
    kgtf_ProParametersWrite(gtif, "us_survey_feet", "UTM", utm.get(), nullptr);
  });
  kpmg_ClearPreferences();
  std::string citation = keys.text(GTCitationGeoKey);
  EXPECT_EQ(citation.rfind(kCitationLabel, 0), 0u);
  EXPECT_NE(citation.find("Projection Name = UTM\nUnits = us_survey_feet\nGeoTIFF Units = meters"),
            std::string::npos);
  EXPECT_EQ(keys.key(ProjectedCSTypeGeoKey), 32633);

  Keys none([&](GTIF* gtif) { kgtf_ProParametersWrite(gtif, nullptr, nullptr, nullptr, nullptr); });
  EXPECT_NE(none.text(GTCitationGeoKey).find("Geocoding information not available"),
            std::string::npos);
  Report err;
  kgtf_ProParametersWrite(nullptr, "meters", "UTM", utm.get(), out(err));
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(kerr_ReportMessage(err.get()), "Args");
}

TEST(GeocodingWrite, UnitParamsConvertThroughEveryRowOfTheCode) {
  Keys keys([](GTIF* gtif) {
    EXPECT_EQ(setLinearParam(gtif, ProjFalseEastingGeoKey, 9003, 1200.0), 1);
    EXPECT_EQ(setAngularParam(gtif, ProjNatOriginLongGeoKey, 9102, M_PI / 4), 1);
    EXPECT_EQ(setLinearParam(gtif, ProjFalseNorthingGeoKey, 9999, 1.0), 0);
  });
  EXPECT_NEAR(keys.number(ProjFalseEastingGeoKey), 3937.0, 1e-9);
  EXPECT_NEAR(keys.number(ProjNatOriginLongGeoKey), 45.0, 1e-12);
  EXPECT_TRUE(std::isnan(keys.number(ProjFalseNorthingGeoKey)));
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
    Keys keys([&](GTIF* gtif) {
      Report err;
      kgtf_ProParametersWrite(gtif, "meters", pro->name, pro.get(), out(err));
      PCSWriteByNumber(gtif, pro.get());
      GCSWrite(gtif, pro.get(), out(err));
      PCSWriteRSO(gtif, "sears_foot", pro.get(), out(err));
      PCSWriteStatePlane(gtif, pro.get(), "meters", out(err));
      PCSWriteUTM(gtif, pro.get(), out(err));
    });
    EXPECT_NE(keys.text(GTCitationGeoKey).find("Projection Name = "), std::string::npos);
  }
}

}  // namespace
