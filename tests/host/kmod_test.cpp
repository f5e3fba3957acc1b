#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "host_owners.h"
#include "kmod.h"
#include "test_support.h"

namespace {

using Model = Owned<Kmod_RubberSheet, kmod_RubberSheetingDelete>;

// Scattered control points of a mildly warped, fold-free map.
struct Controls {
  std::vector<double> rx, ry, mx, my;
};
Controls controls() {
  Controls c;
  for (int k = 0; k < 14; ++k) {
    const double x = 50.0 + 900.0 * std::fmod(0.618034 * k, 1.0);
    const double y = 40.0 + 700.0 * std::fmod(0.414214 * k + 0.1, 1.0);
    c.rx.push_back(x), c.ry.push_back(y);
    c.mx.push_back(2000.0 + 2.0 * x + 0.1 * y + 15.0 * std::sin(x / 300.0));
    c.my.push_back(8000.0 - 2.0 * y + 0.05 * x + 10.0 * std::cos(y / 250.0));
  }
  return c;
}

Model solve(const Controls& c, int order, Kerr_Report** err = nullptr) {
  Matrix map = points(c.mx, c.my), raster = points(c.rx, c.ry);
  return Model(kmod_RubberSheetingSolve(map.get(), raster.get(), order, err));
}

TEST(Kmod, BothOrdersPassThroughControlPointsAndInvert) {
  const Controls c = controls();
  const int32_t n = static_cast<int32_t>(c.rx.size());
  for (int order : {1, 5}) {
    SCOPED_TRACE(order);
    Model model = solve(c, order);
    ASSERT_TRUE(model);
    std::vector<double> x = c.rx, y = c.ry;
    ASSERT_EQ(kmod_RubberSheetingForward(model.get(), x.data(), y.data(), n, nullptr), 1);
    const std::vector<double> mx = x, my = y;
    ASSERT_EQ(kmod_RubberSheetingInverse(model.get(), x.data(), y.data(), n, nullptr), 1);
    for (int32_t i = 0; i < n; ++i) {
      EXPECT_NEAR(mx[i], c.mx[i], 1e-9) << i;
      EXPECT_NEAR(my[i], c.my[i], 1e-9) << i;
      EXPECT_NEAR(x[i], c.rx[i], 1e-9) << i;
      EXPECT_NEAR(y[i], c.ry[i], 1e-9) << i;
    }
    // Between the control points and outside their hull, inverse undoes
    // forward; forward stays close to the warped map it interpolates.
    for (double px : {-100.0, 120.0, 480.5, 777.0, 1200.0})
      for (double py : {-50.0, 90.0, 333.3, 700.0, 900.0}) {
        double qx = px, qy = py;
        ASSERT_EQ(kmod_RubberSheetingForward(model.get(), &qx, &qy, 1, nullptr), 1);
        EXPECT_NEAR(qx, 2000.0 + 2.0 * px + 0.1 * py, 60.0);
        ASSERT_EQ(kmod_RubberSheetingInverse(model.get(), &qx, &qy, 1, nullptr), 1);
        EXPECT_NEAR(qx, px, 1e-6) << px << "," << py;
        EXPECT_NEAR(qy, py, 1e-6) << px << "," << py;
      }
    double nx = NAN, ny = 1.0;
    EXPECT_EQ(kmod_RubberSheetingForward(model.get(), &nx, &ny, 1, nullptr), 1);
    EXPECT_TRUE(std::isnan(nx) && std::isnan(ny));

    // As a transform node, which keeps its own copy of the model, copies and
    // inverts, it computes what the model does.
    XForm node(kxfr_XFormCreateFromTitleAndData(nullptr, "rubber sheeting", model.get(), nullptr));
    model.reset();
    XForm copy(kxfr_XFormCopy(node.get(), nullptr));
    node.reset();
    XForm inverse(kxfr_XFormInvert(copy.get(), 0, nullptr));
    ASSERT_TRUE(copy && inverse);
    std::vector<double> tx = c.rx, ty = c.ry;
    ASSERT_EQ(kxfr_Transform(copy.get(), tx.data(), ty.data(), n, nullptr), 1);
    EXPECT_TRUE(tx == mx && ty == my);
    ASSERT_EQ(kxfr_Transform(inverse.get(), tx.data(), ty.data(), n, nullptr), 1);
    EXPECT_TRUE(tx == x && ty == y);
  }
}

TEST(Kmod, RefusesDegenerateControlPoints) {
  Controls c = controls();
  Controls duplicate = c, collinear = c, few = c, flatMap = c;
  duplicate.rx[5] = c.rx[2], duplicate.ry[5] = c.ry[2];
  for (size_t i = 0; i < c.rx.size(); ++i) collinear.ry[i] = 3.0 * c.rx[i] + 1.0;
  for (size_t i = 0; i < c.rx.size(); ++i) flatMap.my[i] = 5.0;
  few.rx.resize(2), few.ry.resize(2), few.mx.resize(2), few.my.resize(2);
  struct Case {
    const Controls* controls;
    int order;
    const char* message;
  } cases[] = {
      {&duplicate, 1, "Duplicate control points"}, {&duplicate, 5, "Duplicate control points"},
      {&collinear, 1, "Collinear control points"}, {&flatMap, 5, "Collinear control points"},
      {&few, 1, "Too few control points"},         {&c, 3, "Args"},
  };
  Report err;
  for (const Case& k : cases) {
    EXPECT_FALSE(solve(*k.controls, k.order, out(err))) << k.message;
    EXPECT_EQ(reportMessages(err.get()).at(0), k.message);
  }
  Matrix some = points(c.rx, c.ry);
  EXPECT_EQ(Model(kmod_RubberSheetingSolve(nullptr, some.get(), 1, out(err))), nullptr);
  EXPECT_EQ(reportMessages(err.get()).at(0), "Args");
  double x = 0, y = 0;
  EXPECT_EQ(kmod_RubberSheetingForward(nullptr, &x, &y, 1, nullptr), 0);
  kmod_RubberSheetingDelete(nullptr, nullptr);

  // A transform node needs a model and a title it knows.
  Model model = solve(c, 1);
  EXPECT_EQ(XForm(kxfr_XFormCreateFromTitleAndData(nullptr, "Rubber Sheeting", nullptr, out(err))),
            nullptr);
  EXPECT_EQ(reportMessages(err.get()).at(0), "Args");
  EXPECT_EQ(XForm(kxfr_XFormCreateFromTitleAndData(nullptr, "Spline", model.get(), out(err))),
            nullptr);
  EXPECT_EQ(reportMessages(err.get()).at(0), "Unknown transform title \"Spline\"");
}

}  // namespace
