// The GeoTIFF parameter record: half-pixel conversions, set/get, copies,
// writability and the GeoKey listing capture.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "kgtf_internal.h"
#include "kint.h"
#include "kmsc.h"
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
Kxfr_XForm* hostTransform() {
  return kxfr_XFormCreateUsingCoeffs(2.0, 0.5, 1000.0, -0.25, -3.0, 5000.0, nullptr);
}

_kprj_MapProjectionEx* projectionOf(int32_t number, void (*adjust)(Kprj_ProParameters*) = nullptr) {
  Kprj_ProParameters* pro =
      kprj_ProParametersCreateByName(kprj_ProjectionNameByNumber(number), nullptr);
  EXPECT_NE(pro, nullptr) << number;
  if (adjust != nullptr) adjust(pro);
  _kprj_MapProjectionEx* projection = kprj_ProjectionInit(kint_GetInit(), pro, nullptr);
  kprj_ProParametersFree(&pro, nullptr);
  return projection;
}

TEST(GeoTIFFParams, HalfPixelRoundTrip) {
  Kgtf_GeoTIFFParams* params = kgtf_GeoTIFFParamsAllocate();
  Kxfr_XForm* host = hostTransform();
  Kerr_Report* err = nullptr;
  kgtf_GeoTIFFParamsGeoreferencingSet(params, host, "UTM", "meters", &err);
  ASSERT_EQ(err, nullptr);
  EXPECT_EQ(params->georeferencingChanged, 1);

  // Stored in pixel-is-area space: T(0, 0) is H(-0.5, -0.5).
  Point stored = apply(params->xform, 0, 0);
  Point expected = apply(host, -0.5, -0.5);
  EXPECT_NEAR(stored.x, expected.x, 1e-9);
  EXPECT_NEAR(stored.y, expected.y, 1e-9);

  Kxfr_XForm* back = nullptr;
  char* projection = nullptr;
  char* units = nullptr;
  kgtf_GeoTIFFParamsGeoreferencingGet(params, &back, &projection, &units, &err);
  ASSERT_EQ(err, nullptr);
  for (Point q : {Point{0, 0}, Point{10, -7}, Point{1e5, 3}}) {
    Point a = apply(back, q.x, q.y), b = apply(host, q.x, q.y);
    EXPECT_NEAR(a.x, b.x, 1e-7);
    EXPECT_NEAR(a.y, b.y, 1e-7);
  }
  EXPECT_STREQ(projection, "UTM");
  EXPECT_STREQ(units, "meters");

  // Pixel-is-point records store the host transform as it is.
  params->rasterType = 2;
  kgtf_GeoTIFFParamsGeoreferencingSet(params, host, nullptr, nullptr, &err);
  Point point = apply(params->xform, 0, 0), h0 = apply(host, 0, 0);
  EXPECT_NEAR(point.x, h0.x, 1e-9);
  EXPECT_STREQ(params->projectionName, kprj_ProjectionNameUnknown());
  EXPECT_STREQ(params->unitsName, kprj_UnitsNameOther());

  kxfr_XFormFree(&back, nullptr);
  kxfr_XFormFree(&host, nullptr);
  kmsc_HeapFree(projection);
  kmsc_HeapFree(units);
  kgtf_GeoTIFFParamsFree(&params);
}

TEST(GeoTIFFParams, NullInputsAndMissingTransform) {
  Kgtf_GeoTIFFParams* params = kgtf_GeoTIFFParamsAllocate();
  ASSERT_EQ(params->rasterType, 1);
  kgtf_GeoTIFFParamsFree(nullptr);
  EXPECT_EQ(kgtf_GeoTIFFParamsCopy(nullptr), nullptr);
  params->projectionName = kstr_Duplicate("Mercator");
  params->unitsName = kstr_Duplicate("meters");

  // No transform: success, every output null even though names are stored.
  Kxfr_XForm* xform = reinterpret_cast<Kxfr_XForm*>(&params);  // stale values
  char* projection = reinterpret_cast<char*>(&params);
  Kerr_Report* err = nullptr;
  kgtf_GeoTIFFParamsGeoreferencingGet(params, &xform, &projection, nullptr, &err);
  EXPECT_EQ(xform, nullptr);
  EXPECT_EQ(projection, nullptr);
  EXPECT_EQ(err, nullptr);

  // Setting a null transform marks the change and keeps the names.
  kgtf_GeoTIFFParamsGeoreferencingSet(params, nullptr, "x", "y", &err);
  EXPECT_EQ(params->georeferencingChanged, 1);
  EXPECT_STREQ(params->projectionName, "Mercator");

  // Setting a null projection names it unknown and keeps the units.
  kgtf_GeoTIFFParamsGeocodingSet(params, nullptr, &err);
  EXPECT_EQ(params->geocodingChanged, 1);
  EXPECT_STREQ(params->projectionName, kprj_ProjectionNameUnknown());
  EXPECT_STREQ(params->unitsName, "meters");

  kgtf_GeoTIFFParamsGeoreferencingSet(nullptr, nullptr, nullptr, nullptr, &err);
  EXPECT_STREQ(kerr_ReportMessage(err), "Args");
  EXPECT_STREQ(kerr_ReportLabel(err), "kgtf_GeoTIFFParamsGeoreferencingSet");
  kerr_DeleteErrorReportEx(&err);  // the next call clears the slot without deleting
  kgtf_GeoTIFFParamsGeocodingGet(params, nullptr, &err);
  EXPECT_STREQ(kerr_ReportMessage(err), "Args");
  kerr_DeleteErrorReportEx(&err);
  kgtf_GeoTIFFParamsFree(&params);
  EXPECT_EQ(params, nullptr);
}

TEST(GeoTIFFParams, GeocodingSetGetAndDeepCopy) {
  Kgtf_GeoTIFFParams* params = kgtf_GeoTIFFParamsAllocate();
  _kprj_MapProjectionEx* lcc = projectionOf(4);
  Kerr_Report* err = nullptr;
  kgtf_GeoTIFFParamsGeocodingSet(params, lcc, &err);
  ASSERT_EQ(err, nullptr);
  EXPECT_STREQ(params->projectionName, "Lambert Conformal Conic");
  EXPECT_NE(params->projection, lcc) << "the record keeps its own copy";

  Kxfr_XForm* host = hostTransform();
  kgtf_GeoTIFFParamsGeoreferencingSet(params, host, "Lambert Conformal Conic", "us_survey_feet",
                                      &err);
  params->rasterType = 1;
  params->georeferencingChanged = 0;  // as read from a file
  params->geocodingChanged = 0;
  for (const char* piece : {"Geotiff_Information:\n", "   Version: 1\n", "End_Of_Geotiff.\n"})
    ASSERT_EQ(GeoTIFFMetaDataGet(piece, &params->metaData), 0);

  Kgtf_GeoTIFFParams* copy = kgtf_GeoTIFFParamsCopy(params);
  ASSERT_NE(copy, nullptr);
  kgtf_GeoTIFFParamsFree(&params);  // the copy must not share anything
  EXPECT_EQ(copy->rasterType, 1);
  EXPECT_EQ(copy->georeferencingChanged, 0);
  EXPECT_EQ(copy->geocodingChanged, 0);
  ASSERT_NE(copy->metaData, nullptr);
  ASSERT_EQ(copy->metaData->count, 3);
  EXPECT_STREQ(copy->metaData->strings[2], "End_Of_Geotiff.\n");
  EXPECT_STREQ(copy->unitsName, "us_survey_feet");

  _kprj_MapProjectionEx* out = nullptr;
  kgtf_GeoTIFFParamsGeocodingGet(copy, &out, &err);
  ASSERT_EQ(err, nullptr);
  ASSERT_NE(out, nullptr);
  const auto* pro =
      static_cast<const Kprj_ProParameters*>(kprj_MapProjectionCSRGet(out, "Kprj_ProParameters"));
  ASSERT_NE(pro, nullptr);
  EXPECT_EQ(pro->number, 4);

  kprj_ProjectionFree(&out, nullptr);
  kprj_ProjectionFree(&lcc, nullptr);
  kxfr_XFormFree(&host, nullptr);
  kgtf_GeoTIFFParamsFree(&copy);
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
  for (const Case& c : cases) {
    _kprj_MapProjectionEx* projection = projectionOf(c.number, c.adjust);
    EXPECT_EQ(kgtf_ProjectionIsWritable(projection), c.writable) << c.number;
    kprj_ProjectionFree(&projection, nullptr);
  }
  for (const char* name : {"RSO", "rso Borneo"}) {
    Kprj_ProParameters* pro = kprj_ProParametersCreateByName(name, nullptr);
    ASSERT_NE(pro, nullptr) << name;
    _kprj_MapProjectionEx* projection = kprj_ProjectionInit(kint_GetInit(), pro, nullptr);
    EXPECT_EQ(kgtf_ProjectionIsWritable(projection), 1) << name;
    EXPECT_EQ(ProjectionCodeGet(pro, nullptr), 999);
    kprj_ProjectionFree(&projection, nullptr);
    kprj_ProParametersFree(&pro, nullptr);
  }
  EXPECT_EQ(ProjectionCodeGet(nullptr, "Gauss Kruger"), 36);
  EXPECT_EQ(ProjectionCodeGet(nullptr, "no such projection"), -1);
  EXPECT_EQ(ProjectionCodeGet(nullptr, nullptr), -1);
}

TEST(GeoTIFFParams, XFormIsWritable) {
  ReportCapture capture;
  Kxfr_XForm* affine = hostTransform();
  Kxfr_XForm* shifted = kxfr_XFormTranslate(affine, 3, 4, nullptr);
  EXPECT_EQ(kgtf_XFormIsWritable(shifted), 1) << "a chain of affine nodes collapses";
  EXPECT_TRUE(capture.printed.empty());
  EXPECT_EQ(kgtf_XFormIsWritable(nullptr), 0);
  ASSERT_EQ(capture.printed.size(), 1u);
  EXPECT_EQ(capture.printed[0].label, "kgtf_XFormIsWritable");
  EXPECT_EQ(capture.printed[0].printer, KERR_PRINT_VSL);
  EXPECT_EQ(capture.printed[0].chainLength, 2);
  kxfr_XFormFree(&affine, nullptr);
  kxfr_XFormFree(&shifted, nullptr);
}

TEST(GeoTIFFMetaData, PiecesJoinIntoLines) {
  KstrStringList* list = nullptr;
  for (const char* piece : {"Geotiff_", "Information:\n", "   Key_Set", "", ":\n", "\n", "x"})
    ASSERT_EQ(GeoTIFFMetaDataGet(piece, &list), 0);
  ASSERT_NE(list, nullptr);
  std::vector<std::string> lines(list->strings, list->strings + list->count);
  // An empty piece leaves the line open; an empty entry starts a new one.
  EXPECT_EQ(lines,
            (std::vector<std::string>{"Geotiff_Information:\n", "   Key_Set:\n", "\n", "x"}));
  EXPECT_EQ(GeoTIFFMetaDataGet(nullptr, &list), -1);

  MetaDataCursor cursor{0, list};
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
  std::string longLine(3000, 'k');
  KstrStringList* single = nullptr;
  kstr_StringListAppend(&single, longLine.c_str(), nullptr);
  MetaDataCursor longCursor{0, single};
  EXPECT_EQ(MetaDataLineGet(line, &longCursor), 0);
  EXPECT_EQ(std::strlen(line), size_t(kMetaDataLineSize - 1));
  kstr_StringListDelete(&single, nullptr);
  kstr_StringListDelete(&list, nullptr);
}

}  // namespace
