// The GeoTIFF parameter record: half-pixel conversions, set/get, copies,
// writability and the GeoKey listing capture.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "kgtf_internal.h"
#include "kint.h"
#include "library_owners.h"
#include "test_support.h"

namespace {

struct Point {
  double x, y;
};

// a(pa) == b(pb) within `tolerance`.
void expectSame(const Kxfr_XForm* a, Point pa, const Kxfr_XForm* b, Point pb, double tolerance) {
  ASSERT_EQ(kxfr_Transform(a, &pa.x, &pa.y, 1, nullptr), 1);
  ASSERT_EQ(kxfr_Transform(b, &pb.x, &pb.y, 1, nullptr), 1);
  EXPECT_NEAR(pa.x, pb.x, tolerance);
  EXPECT_NEAR(pa.y, pb.y, tolerance);
}

// A rotated host transform, so that a wrong sign or axis shows.
XForm hostTransform() {
  return XForm(kxfr_XFormCreateUsingCoeffs(2.0, 0.5, 1000.0, -0.25, -3.0, 5000.0, nullptr));
}

// Projection `number` with "slot=value" parameters set.
Projection projectionOf(int32_t number, const std::string& set = "") {
  Pro pro(kprj_ProParametersCreateByName(kprj_ProjectionNameByNumber(number), nullptr));
  EXPECT_NE(pro, nullptr) << number;
  std::istringstream in(set);
  for (std::string item; in >> item;)
    pro->parameters[std::stoi(item)] = std::stod(item.substr(item.find('=') + 1));
  return Projection(kprj_ProjectionInit(kint_GetInit(), pro.get(), nullptr));
}

TEST(GeoTIFFParams, HalfPixelRoundTrip) {
  GeoParams params(kgtf_GeoTIFFParamsAllocate());
  XForm host = hostTransform();
  Report err;
  kgtf_GeoTIFFParamsGeoreferencingSet(params.get(), host.get(), "UTM", "meters", out(err));
  ASSERT_EQ(err, nullptr);
  EXPECT_EQ(params->georeferencingChanged, 1);

  // Stored in pixel-is-area space: T(0, 0) is H(-0.5, -0.5).
  expectSame(params->xform, {0, 0}, host.get(), {-0.5, -0.5}, 1e-9);

  XForm back;
  HeapText projection, units;
  kgtf_GeoTIFFParamsGeoreferencingGet(params.get(), out(back), out(projection), out(units),
                                      out(err));
  ASSERT_EQ(err, nullptr);
  for (Point q : {Point{0, 0}, Point{10, -7}, Point{1e5, 3}})
    expectSame(back.get(), q, host.get(), q, 1e-7);
  EXPECT_STREQ(projection.get(), "UTM");
  EXPECT_STREQ(units.get(), "meters");

  // Pixel-is-point records store the host transform as it is.
  params->rasterType = 2;
  kgtf_GeoTIFFParamsGeoreferencingSet(params.get(), host.get(), nullptr, nullptr, out(err));
  expectSame(params->xform, {3, 4}, host.get(), {3, 4}, 1e-9);
  EXPECT_STREQ(params->projectionName, kprj_ProjectionNameUnknown());
  EXPECT_STREQ(params->unitsName, kprj_UnitsNameOther());
}

TEST(GeoTIFFParams, NullInputsAndMissingTransform) {
  GeoParams params(kgtf_GeoTIFFParamsAllocate());
  kgtf_GeoTIFFParamsFree(nullptr);
  EXPECT_EQ(kgtf_GeoTIFFParamsCopy(nullptr), nullptr);
  params->projectionName = kstr_Duplicate("Mercator");
  params->unitsName = kstr_Duplicate("meters");

  // No transform: success, every output null even though names are stored.
  Kxfr_XForm* xform = reinterpret_cast<Kxfr_XForm*>(&params);  // stale values
  char* projection = reinterpret_cast<char*>(&params);
  Report err;
  kgtf_GeoTIFFParamsGeoreferencingGet(params.get(), &xform, &projection, nullptr, out(err));
  EXPECT_EQ(xform, nullptr);
  EXPECT_EQ(projection, nullptr);
  EXPECT_EQ(err, nullptr);

  // Setting a null transform marks the change and keeps the names.
  kgtf_GeoTIFFParamsGeoreferencingSet(params.get(), nullptr, "x", "y", out(err));
  EXPECT_EQ(params->georeferencingChanged, 1);
  EXPECT_STREQ(params->projectionName, "Mercator");

  // Setting a null projection names it unknown and keeps the units.
  kgtf_GeoTIFFParamsGeocodingSet(params.get(), nullptr, out(err));
  EXPECT_EQ(params->geocodingChanged, 1);
  EXPECT_STREQ(params->projectionName, kprj_ProjectionNameUnknown());
  EXPECT_STREQ(params->unitsName, "meters");

  kgtf_GeoTIFFParamsGeoreferencingSet(nullptr, nullptr, nullptr, nullptr, out(err));
  EXPECT_STREQ(kerr_ReportMessage(err.get()), "Args");
  EXPECT_STREQ(kerr_ReportLabel(err.get()), "kgtf_GeoTIFFParamsGeoreferencingSet");
  kgtf_GeoTIFFParamsGeocodingGet(params.get(), nullptr, out(err));
  EXPECT_STREQ(kerr_ReportMessage(err.get()), "Args");
  Kgtf_GeoTIFFParams* freed = params.release();
  kgtf_GeoTIFFParamsFree(&freed);
  EXPECT_EQ(freed, nullptr);
}

TEST(GeoTIFFParams, GeocodingSetGetAndDeepCopy) {
  GeoParams params(kgtf_GeoTIFFParamsAllocate());
  Projection lcc = projectionOf(4);
  Report err;
  kgtf_GeoTIFFParamsGeocodingSet(params.get(), lcc.get(), out(err));
  ASSERT_EQ(err, nullptr);
  EXPECT_STREQ(params->projectionName, "Lambert Conformal Conic");
  EXPECT_NE(params->projection, lcc.get()) << "the record keeps its own copy";

  kgtf_GeoTIFFParamsGeoreferencingSet(params.get(), hostTransform().get(),
                                      "Lambert Conformal Conic", "us_survey_feet", out(err));
  params->rasterType = 2;
  params->georeferencingChanged = 0;  // as read from a file
  params->geocodingChanged = 0;
  for (const char* piece : {"Geotiff_Information:\n", "   Version: 1\n", "End_Of_Geotiff.\n"})
    ASSERT_EQ(GeoTIFFMetaDataGet(piece, &params->metaData), 0);

  GeoParams copy(kgtf_GeoTIFFParamsCopy(params.get()));
  ASSERT_NE(copy, nullptr);
  params.reset();  // the copy must not share anything
  EXPECT_EQ(copy->rasterType, 2);
  EXPECT_EQ(copy->georeferencingChanged, 0);
  EXPECT_EQ(copy->geocodingChanged, 0);
  ASSERT_NE(copy->metaData, nullptr);
  ASSERT_EQ(copy->metaData->count, 3);
  EXPECT_STREQ(copy->metaData->strings[2], "End_Of_Geotiff.\n");
  EXPECT_STREQ(copy->unitsName, "us_survey_feet");

  Projection got;
  kgtf_GeoTIFFParamsGeocodingGet(copy.get(), out(got), out(err));
  ASSERT_EQ(err, nullptr);
  const auto* pro = static_cast<const Kprj_ProParameters*>(
      kprj_MapProjectionCSRGet(got.get(), "Kprj_ProParameters"));
  ASSERT_NE(pro, nullptr);
  EXPECT_EQ(pro->number, 4);
}

TEST(GeoTIFFParams, ProjectionIsWritable) {
  EXPECT_EQ(kgtf_ProjectionIsWritable(nullptr), 1);
  // Geographic and Gauss Kruger are, Space Oblique Mercator, 15 and 25 are not.
  // Equidistant Conic needs one parallel (p5 == p2) or a second one (p8 != 0);
  // Oblique Mercator a positive parameter 12.
  struct Case {
    int32_t number;
    const char* set;
    int32_t writable;
  } cases[] = {{0, "", 1},  {36, "", 1},           {21, "", 0},           {15, "", 0},
               {25, "", 0}, {8, "2=0.5 5=0.7", 0}, {8, "2=0.5 5=0.5", 1}, {8, "2=0.5 8=1", 1},
               {20, "", 0}, {20, "12=1", 1}};
  for (const Case& c : cases)
    EXPECT_EQ(kgtf_ProjectionIsWritable(projectionOf(c.number, c.set).get()), c.writable)
        << c.number;
  for (const char* name : {"RSO", "rso Borneo"}) {
    Pro pro(kprj_ProParametersCreateByName(name, nullptr));
    ASSERT_NE(pro, nullptr) << name;
    Projection projection(kprj_ProjectionInit(kint_GetInit(), pro.get(), nullptr));
    EXPECT_EQ(kgtf_ProjectionIsWritable(projection.get()), 1) << name;
    EXPECT_EQ(ProjectionCodeGet(pro.get(), nullptr), 999);
  }
  EXPECT_EQ(ProjectionCodeGet(nullptr, "Gauss Kruger"), 36);
  EXPECT_EQ(ProjectionCodeGet(nullptr, "no such projection"), -1);
  EXPECT_EQ(ProjectionCodeGet(nullptr, nullptr), -1);
}

TEST(GeoTIFFParams, XFormIsWritable) {
  ReportCapture capture;
  XForm shifted(kxfr_XFormTranslate(hostTransform().get(), 3, 4, nullptr));
  EXPECT_EQ(kgtf_XFormIsWritable(shifted.get()), 1) << "a chain of affine nodes collapses";
  EXPECT_TRUE(capture.printed.empty());
  EXPECT_EQ(kgtf_XFormIsWritable(nullptr), 0);
  ASSERT_EQ(capture.printed.size(), 1u);
  EXPECT_EQ(capture.printed[0].label, "kgtf_XFormIsWritable");
  EXPECT_EQ(capture.printed[0].printer, KERR_PRINT_VSL);
  EXPECT_EQ(capture.printed[0].chainLength, 2);
}

TEST(GeoTIFFMetaData, PiecesJoinIntoLines) {
  const std::string longLine = std::string(3000, 'k') + "\n";
  KstrStringList* raw = nullptr;
  int failed = 0;
  for (const char* piece :
       {"Geotiff_", "Information:\n", "   Key_Set", "", ":\n", "\n", longLine.c_str(), "x"})
    failed += GeoTIFFMetaDataGet(piece, &raw) != 0;
  StringList list(raw);
  ASSERT_EQ(failed, 0);
  ASSERT_NE(list, nullptr);
  std::vector<std::string> lines(list->strings, list->strings + list->count);
  // An empty piece leaves the line open; an empty entry starts a new one.
  EXPECT_EQ(lines, (std::vector<std::string>{"Geotiff_Information:\n", "   Key_Set:\n", "\n",
                                             longLine, "x"}));
  EXPECT_EQ(GeoTIFFMetaDataGet(nullptr, &raw), -1);

  // Replayed without indent or newline; a line longer than the buffer is cut
  // and still terminated.
  MetaDataCursor cursor{0, list.get()};
  char line[kMetaDataLineSize];
  std::vector<std::string> replayed;
  for (int i = 0; i < 7; ++i) {  // two calls more than the list holds
    std::memset(line, 'z', sizeof line);
    EXPECT_EQ(MetaDataLineGet(line, &cursor), 0);
    replayed.emplace_back(line);
  }
  EXPECT_EQ(replayed,
            (std::vector<std::string>{"Geotiff_Information:", "Key_Set:", "",
                                      std::string(kMetaDataLineSize - 1, 'k'), "x", "", ""}));
  EXPECT_EQ(cursor.index, 5);
}

}  // namespace
