// The GeoTIFF parameter record: half-pixel conversions, set/get, copies,
// writability and the GeoKey listing capture.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "kgtf_internal.h"
#include "kint.h"
#include "library_owners.h"
#include "test_support.h"

namespace {

struct Point {
  double x, y;
};

Point apply(const Kxfr_XForm* xform, double c, double r) {
  Point p{c, r};
  EXPECT_EQ(kxfr_Transform(xform, &p.x, &p.y, 1, nullptr), 1);
  return p;
}

// A rotated host transform, so that a wrong sign or axis shows.
XForm hostTransform() {
  return XForm(kxfr_XFormCreateUsingCoeffs(2.0, 0.5, 1000.0, -0.25, -3.0, 5000.0, nullptr));
}

Projection projectionOf(int32_t number, void (*adjust)(Kprj_ProParameters*) = nullptr) {
  Pro pro(kprj_ProParametersCreateByName(kprj_ProjectionNameByNumber(number), nullptr));
  EXPECT_NE(pro, nullptr) << number;
  if (adjust != nullptr) adjust(pro.get());
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
  EXPECT_NEAR(apply(params->xform, 0, 0).x, apply(host.get(), -0.5, -0.5).x, 1e-9);
  EXPECT_NEAR(apply(params->xform, 0, 0).y, apply(host.get(), -0.5, -0.5).y, 1e-9);

  XForm back;
  HeapText projection, units;
  kgtf_GeoTIFFParamsGeoreferencingGet(params.get(), out(back), out(projection), out(units),
                                      out(err));
  ASSERT_EQ(err, nullptr);
  for (Point q : {Point{0, 0}, Point{10, -7}, Point{1e5, 3}}) {
    EXPECT_NEAR(apply(back.get(), q.x, q.y).x, apply(host.get(), q.x, q.y).x, 1e-7);
    EXPECT_NEAR(apply(back.get(), q.x, q.y).y, apply(host.get(), q.x, q.y).y, 1e-7);
  }
  EXPECT_STREQ(projection.get(), "UTM");
  EXPECT_STREQ(units.get(), "meters");

  // Pixel-is-point records store the host transform as it is.
  params->rasterType = 2;
  kgtf_GeoTIFFParamsGeoreferencingSet(params.get(), host.get(), nullptr, nullptr, out(err));
  EXPECT_NEAR(apply(params->xform, 0, 0).x, apply(host.get(), 0, 0).x, 1e-9);
  EXPECT_STREQ(params->projectionName, kprj_ProjectionNameUnknown());
  EXPECT_STREQ(params->unitsName, kprj_UnitsNameOther());
}

TEST(GeoTIFFParams, NullInputsAndMissingTransform) {
  GeoParams params(kgtf_GeoTIFFParamsAllocate());
  ASSERT_EQ(params->rasterType, 1);
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
  params->rasterType = 1;
  params->georeferencingChanged = 0;  // as read from a file
  params->geocodingChanged = 0;
  for (const char* piece : {"Geotiff_Information:\n", "   Version: 1\n", "End_Of_Geotiff.\n"})
    ASSERT_EQ(GeoTIFFMetaDataGet(piece, &params->metaData), 0);

  GeoParams copy(kgtf_GeoTIFFParamsCopy(params.get()));
  ASSERT_NE(copy, nullptr);
  params.reset();  // the copy must not share anything
  EXPECT_EQ(copy->rasterType, 1);
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
  struct Case {
    int32_t number;
    void (*adjust)(Kprj_ProParameters*);
    int32_t writable;
  } cases[] = {
      {0, nullptr, 1},
      {36, nullptr, 1},  // Gauss Kruger
      {21, nullptr, 0},  // Space Oblique Mercator
      {15, nullptr, 0},
      {25, nullptr, 0},
      // Equidistant Conic: one parallel (p5 == p2) or a second one (p8 != 0).
      {8, [](Kprj_ProParameters* p) { p->parameters[2] = 0.5, p->parameters[5] = 0.7; }, 0},
      {8, [](Kprj_ProParameters* p) { p->parameters[2] = p->parameters[5] = 0.5; }, 1},
      {8, [](Kprj_ProParameters* p) { p->parameters[2] = 0.5, p->parameters[8] = 1.0; }, 1},
      // Oblique Mercator needs a positive parameter 12.
      {20, nullptr, 0},
      {20, [](Kprj_ProParameters* p) { p->parameters[12] = 1.0; }, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(kgtf_ProjectionIsWritable(projectionOf(c.number, c.adjust).get()), c.writable)
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
  KstrStringList* raw = nullptr;
  int failed = 0;
  for (const char* piece : {"Geotiff_", "Information:\n", "   Key_Set", "", ":\n", "\n", "x"})
    failed += GeoTIFFMetaDataGet(piece, &raw) != 0;
  StringList list(raw);
  ASSERT_EQ(failed, 0);
  ASSERT_NE(list, nullptr);
  std::vector<std::string> lines(list->strings, list->strings + list->count);
  // An empty piece leaves the line open; an empty entry starts a new one.
  EXPECT_EQ(lines,
            (std::vector<std::string>{"Geotiff_Information:\n", "   Key_Set:\n", "\n", "x"}));
  EXPECT_EQ(GeoTIFFMetaDataGet(nullptr, &raw), -1);

  MetaDataCursor cursor{0, list.get()};
  char line[kMetaDataLineSize];
  std::vector<std::string> replayed;
  for (int i = 0; i < 6; ++i) {  // two calls more than the list holds
    std::memset(line, 'z', sizeof line);
    EXPECT_EQ(MetaDataLineGet(line, &cursor), 0);
    replayed.emplace_back(line);
  }
  EXPECT_EQ(replayed,
            (std::vector<std::string>{"Geotiff_Information:", "Key_Set:", "", "x", "", ""}));
  EXPECT_EQ(cursor.index, 4);

  // A line longer than the buffer is cut and still terminated.
  StringList single;
  kstr_StringListAppend(out(single), std::string(3000, 'k').c_str(), nullptr);
  MetaDataCursor longCursor{0, single.get()};
  EXPECT_EQ(MetaDataLineGet(line, &longCursor), 0);
  EXPECT_EQ(std::strlen(line), size_t(kMetaDataLineSize - 1));
}

}  // namespace
