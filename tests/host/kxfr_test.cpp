#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "host_owners.h"
#include "test_support.h"

namespace {

XForm affine(double a, double b, double c, double d, double e, double f) {
  return XForm(kxfr_XFormCreateUsingCoeffs(a, b, c, d, e, f, nullptr));
}

std::pair<double, double> apply(const Kxfr_XForm* xform, double x, double y) {
  if (!kxfr_Transform(xform, &x, &y, 1, nullptr)) return {NAN, NAN};
  return {x, y};
}

// A host-defined node with no affine form: x' = x + shift; a NaN shift fails.
template <int sign>
int shiftBy(const void* data, double* x, double*, int32_t count, Kerr_Report**) {
  double shift = sign * *static_cast<const double*>(data);
  for (int32_t i = 0; i < count; ++i) x[i] += shift;
  return std::isnan(shift) ? 0 : 1;
}
Kxfr_Node shiftNode(double* shift, bool invertible) {
  auto copy = [](const void* data) -> void* {
    return new double(*static_cast<const double*>(data));
  };
  auto release = [](void* data) { delete static_cast<double*>(data); };
  return Kxfr_Node{KXFR_NODE_USER, shiftBy<1>, invertible ? shiftBy<-1> : nullptr,
                   copy,           release,    nullptr,
                   nullptr,        shift};
}

}  // namespace

TEST(Kxfr, ComposeAppliesSecondOperandFirst) {
  XForm scale = affine(2, 0, 0, 0, 2, 0);
  XForm shift(kxfr_XFormTranslate(nullptr, 1, 3, nullptr));
  XForm scaleAfterShift(kxfr_XFormCompose(scale.get(), shift.get(), 0, nullptr));
  XForm shiftAfterScale(kxfr_XFormCompose(shift.get(), scale.get(), 0, nullptr));
  EXPECT_EQ(apply(scaleAfterShift.get(), 1, 1), std::make_pair(4.0, 8.0));
  EXPECT_EQ(apply(shiftAfterScale.get(), 1, 1), std::make_pair(3.0, 5.0));
  XForm translated(kxfr_XFormTranslate(scale.get(), 1, 3, nullptr));  // after scale
  EXPECT_EQ(apply(translated.get(), 1, 1), std::make_pair(3.0, 5.0));
  EXPECT_EQ(kxfr_XFormNodeCount(scale.get()), 1);  // operands are not modified
  // A null operand stands for the identity; results are deep copies.
  XForm onlyScale(kxfr_XFormCompose(nullptr, scale.get(), 0, nullptr));
  scale.reset();
  EXPECT_EQ(apply(onlyScale.get(), 1, 1), std::make_pair(2.0, 2.0));
}

TEST(Kxfr, InverseComposedWithOriginalIsIdentityUnlessSingular) {
  XForm rotation = affine(0.6, -0.8, 1000.5, 0.8, 0.6, -250.25);
  XForm pixelToMap = affine(30, 0, 440720, 0, -30, 3751320);
  XForm units(kxfr_XFormCreateFromUnits(0, "us_survey_feet", "meters", nullptr));
  XForm shifted(kxfr_XFormTranslate(pixelToMap.get(), -0.5, -0.5, nullptr));
  XForm chain(kxfr_XFormCompose(units.get(), shifted.get(), 0, nullptr));
  double shift = 7;
  Kxfr_Node user = shiftNode(&shift, true);
  XForm withUser(kxfr_XFormCreateWithNode(chain.get(), &user, nullptr));
  ASSERT_TRUE(rotation && chain && withUser);
  for (const Kxfr_XForm* t : {rotation.get(), chain.get(), withUser.get()}) {
    XForm inverse(kxfr_XFormInvert(t, 0, nullptr));
    ASSERT_TRUE(inverse);
    XForm there(kxfr_XFormCompose(inverse.get(), t, 0, nullptr));
    auto p = apply(there.get(), 123.25, -4000);
    EXPECT_NEAR(p.first, 123.25, 1e-9);
    EXPECT_NEAR(p.second, -4000, 1e-9);
    // The user node has no affine form, so only the affine chains collapse.
    EXPECT_EQ(kxfr_XFormIsIdentity(there.get(), 1e-12), t != withUser.get());
  }
  // Singular, or with a node that cannot go back.
  XForm singular = affine(1, 2, 0, 2, 4, 0);
  Kxfr_Node oneWay = shiftNode(&shift, false);
  XForm noInverse(kxfr_XFormCreateWithNode(nullptr, &oneWay, nullptr));
  for (const Kxfr_XForm* t : {singular.get(), noInverse.get()}) {
    Report err;
    EXPECT_EQ(XForm(kxfr_XFormInvert(t, 0, out(err))), nullptr);
    EXPECT_STREQ(kerr_ReportMessage(err.get()), "Transform is not invertible");
  }
}

TEST(Kxfr, AffineExtractionCollapsesChains) {
  XForm shift(kxfr_XFormTranslate(nullptr, 5, 6, nullptr));
  XForm scale(kxfr_XFormCreateFromUnits(0, "kilometers", "meters", nullptr));
  XForm map = affine(1, 2, 3, 4, 5, 6);
  XForm scaled(kxfr_XFormCompose(scale.get(), shift.get(), 0, nullptr));
  XForm chain(kxfr_XFormCompose(map.get(), scaled.get(), 0, nullptr));
  // (x, y) -> 1000 (x + 5, y + 6) -> map.
  double k[6] = {0};
  ASSERT_EQ(kxfr_XFormAffineExtractIfPresent(chain.get(), k, nullptr), 1);
  const double expected[6] = {1000, 2000, 5000 + 12000 + 3, 4000, 5000, 20000 + 30000 + 6};
  for (int i = 0; i < 6; ++i) EXPECT_DOUBLE_EQ(k[i], expected[i]) << i;

  // Without collapsing only a single affine node counts.
  Report err;
  double untouched[6] = {9, 9, 9, 9, 9, 9};
  EXPECT_EQ(kxfr_XFormAffineExtractIfPresentX(chain.get(), untouched, 0, out(err)), 0);
  EXPECT_EQ(kxfr_XFormAffineExtractIfPresentX(map.get(), k, 0, out(err)), 1);
  // A node without affine form: not affine, and no report.
  double s = 1;
  Kxfr_Node user = shiftNode(&s, true);
  XForm mixed(kxfr_XFormCreateWithNode(chain.get(), &user, nullptr));
  EXPECT_EQ(kxfr_XFormAffineExtractIfPresentX(mixed.get(), untouched, 1, out(err)), 0);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(untouched[0], 9);
}

TEST(Kxfr, UnitsTransforms) {
  XForm feetToMeters(kxfr_XFormCreateFromUnits(0, "us_survey_feet", "meters", nullptr));
  auto p = apply(feetToMeters.get(), 3937, -39370);
  EXPECT_NEAR(p.first, 1200, 1e-9);
  EXPECT_NEAR(p.second, -12000, 1e-9);
  // Nothing to convert: an identity affine node that composes like any other.
  const char* identities[][2] = {{nullptr, "meters"}, {"other", "meters"}, {"Meters", "meters"}};
  for (auto& names : identities) {
    XForm id(kxfr_XFormCreateFromUnits(0, names[0], names[1], nullptr));
    EXPECT_EQ(kxfr_XFormIsIdentity(id.get(), 0), 1);
  }
  Report err;
  EXPECT_EQ(XForm(kxfr_XFormCreateFromUnits(0, "meters", "dd", out(err))), nullptr);
  EXPECT_EQ(reportMessages(err.get()),
            (std::vector<std::string>{"kcvt_UnitsConvertByName failed",
                                      "Incompatible units meters and dd"}));
}

TEST(Kxfr, HostileInputGivesReportsNotCrashes) {
  Report err;
  EXPECT_EQ(XForm(kxfr_XFormTranslate(nullptr, 0, INFINITY, out(err))), nullptr);
  EXPECT_STREQ(kerr_ReportMessage(err.get()), "Non-finite coefficient");

  XForm t = affine(1, 0, 0, 0, 1, 0);
  const Kxfr_XForm* id = t.get();
  double x = 1, y = 2;
  Kxfr_Node noForward = shiftNode(&x, true);
  noForward.forward = nullptr;
  const std::vector<std::function<bool(Kerr_Report**)>> calls = {
      [&](Kerr_Report** e) { return !XForm(kxfr_XFormCompose(nullptr, nullptr, 0, e)); },
      [&](Kerr_Report** e) { return !kxfr_Transform(id, &x, &y, -1, e); },
      [&](Kerr_Report** e) { return !XForm(kxfr_XFormCreateWithNode(nullptr, &noForward, e)); },
  };
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_TRUE(calls[i](out(err))) << "call " << i;
    EXPECT_STREQ(kerr_ReportMessage(err.get()), "Args") << "call " << i;
    EXPECT_TRUE(calls[i](nullptr)) << "call " << i;  // a null slot is allowed
  }
  EXPECT_EQ(kxfr_XFormIsIdentity(id, NAN), 0);

  // A node failing halfway leaves the caller's points as they were.
  double failing = NAN;
  Kxfr_Node broken = shiftNode(&failing, true);
  XForm shifted(kxfr_XFormTranslate(nullptr, 10, 10, nullptr));
  XForm chain(kxfr_XFormCreateWithNode(shifted.get(), &broken, nullptr));
  double xs[2] = {1, 2}, ys[2] = {3, 4};
  EXPECT_EQ(kxfr_Transform(chain.get(), xs, ys, 2, out(err)), 0);
  EXPECT_EQ(xs[0], 1);
  EXPECT_EQ(ys[1], 4);
  EXPECT_STREQ(kerr_ReportMessage(err.get()), "Node 1 (kind 1000) failed");
}
