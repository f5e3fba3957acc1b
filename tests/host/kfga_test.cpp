#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "host_owners.h"
#include "kfga.h"
#include "test_support.h"

namespace {

using Poly = Owned<Kfga_Polynomial, kfga_PolynomialDelete>;

Poly polynomial(int order) {
  return Poly(kfga_BasePolynomialCreate(order, 2, 2, KMSC_PIXEL_F64, nullptr));
}

// A known order-2 map over pixel-like inputs, with map-sized outputs.
void quadratic(double x, double y, double& u, double& v) {
  u = 500000.0 + 30.0 * x - 2.0 * y + 0.004 * x * x - 0.002 * x * y + 0.001 * y * y;
  v = 4000000.0 + 1.5 * x - 30.0 * y + 0.003 * x * y - 0.0005 * y * y;
}

// Samples of the quadratic on a skewed nx by ny grid, with optional noise.
struct Sample {
  std::vector<double> x, y, u, v;
  Matrix from, to;
};
Sample grid(int nx, int ny, double noise) {
  Sample s;
  for (int k = 0; k < nx * ny; ++k) {
    const double x = 1000.0 + 97.0 * (k / ny) + 3.0 * (k % ny);
    const double y = 2000.0 + 83.0 * (k % ny) - 5.0 * (k / ny);
    double u, v;
    quadratic(x, y, u, v);
    s.x.push_back(x), s.y.push_back(y);
    s.u.push_back(u + noise * std::sin(1.7 * k)), s.v.push_back(v + noise * std::cos(2.3 * k));
  }
  s.from = points(s.x, s.y), s.to = points(s.u, s.v);
  return s;
}

TEST(Kfga, FitsKnownPolynomialsExactlyAndTransformsWithThem) {
  const Sample s = grid(5, 4, 0.0);
  Poly fits[] = {polynomial(2), polynomial(3)};
  for (const Poly& poly : fits) {
    ASSERT_EQ(kfga_DerivePolyCoefs(s.to.get(), s.from.get(), poly.get(), nullptr), 1);
    // The fit recovers the polynomial itself, off the samples as well.
    for (double x : {1000.0, 1250.5, 1388.0})
      for (double y : {1950.0, 2100.25, 2260.0}) {
        double u, v, pu, pv;
        quadratic(x, y, u, v);
        ASSERT_EQ(kfga_PolynomialEvaluate(poly.get(), x, y, &pu, &pv), 1);
        EXPECT_NEAR(pu, u, 1e-6) << poly->order;
        EXPECT_NEAR(pv, v, 1e-6) << poly->order;
      }
  }

  // The order-2 fit and an order-3 fit of the inverse map make a transform
  // that copies and inverts.
  Poly inverse = polynomial(3);
  Report err;
  EXPECT_EQ(XForm(kxfr_XFormCreateFromPolyPair(fits[0].get(), inverse.get(), out(err))), nullptr);
  EXPECT_EQ(reportMessages(err.get()).at(0), "Args");  // the inverse is not fitted yet
  ASSERT_EQ(kfga_DerivePolyCoefs(s.from.get(), s.to.get(), inverse.get(), nullptr), 1);
  XForm xform(kxfr_XFormCreateFromPolyPair(fits[0].get(), inverse.get(), nullptr));
  fits[0].reset(), inverse.reset();  // the transform holds its own copies
  double coefficients[6];
  EXPECT_EQ(kxfr_XFormAffineExtractIfPresent(xform.get(), coefficients, nullptr), 0);
  XForm copy(kxfr_XFormCopy(xform.get(), nullptr));
  XForm back(kxfr_XFormInvert(copy.get(), 0, nullptr));
  ASSERT_TRUE(xform && copy && back);
  for (size_t i = 0; i < s.x.size(); i += 3) {
    double x = s.x[i], y = s.y[i];
    ASSERT_EQ(kxfr_Transform(copy.get(), &x, &y, 1, nullptr), 1);
    EXPECT_NEAR(x, s.u[i], 1e-6);
    EXPECT_NEAR(y, s.v[i], 1e-6);
    ASSERT_EQ(kxfr_Transform(back.get(), &x, &y, 1, nullptr), 1);
    EXPECT_NEAR(x, s.x[i], 1e-2);
    EXPECT_NEAR(y, s.y[i], 1e-2);
  }
}

TEST(Kfga, ResidualsAndRmsOfNoisyData) {
  const Sample s = grid(6, 5, 0.5);
  const int32_t n = static_cast<int32_t>(s.x.size());
  Poly poly = polynomial(2);
  ASSERT_EQ(kfga_DerivePolyCoefs(s.to.get(), s.from.get(), poly.get(), nullptr), 1);
  Matrix residuals(kgda_BaseDataCreate(2, n, KMSC_PIXEL_F64, 2, 0, nullptr));
  Matrix rms(kgda_BaseDataCreate(2, 1, KMSC_PIXEL_F64, 2, 0, nullptr));
  double total = 0.0;
  ASSERT_EQ(kfga_ComputePolyErrors(s.from.get(), s.to.get(), poly.get(), residuals.get(), rms.get(),
                                   &total, nullptr),
            1);
  double sum[2] = {0, 0};
  for (int32_t i = 0; i < n; ++i) {
    double pu, pv;
    kfga_PolynomialEvaluate(poly.get(), s.x[i], s.y[i], &pu, &pv);
    EXPECT_NEAR(kgda_BaseDataGet(residuals.get(), 0, i), pu - s.u[i], 1e-9);
    EXPECT_NEAR(kgda_BaseDataGet(residuals.get(), 1, i), pv - s.v[i], 1e-9);
    sum[0] += (pu - s.u[i]) * (pu - s.u[i]), sum[1] += (pv - s.v[i]) * (pv - s.v[i]);
  }
  EXPECT_NEAR(kgda_BaseDataGet(rms.get(), 0, 0), std::sqrt(sum[0] / n), 1e-12);
  EXPECT_NEAR(kgda_BaseDataGet(rms.get(), 1, 0), std::sqrt(sum[1] / n), 1e-12);
  EXPECT_NEAR(total, std::sqrt((sum[0] + sum[1]) / n), 1e-12);
  // A residual matrix of the wrong shape is refused and the outputs kept.
  Matrix wrong(kgda_BaseDataCreate(2, n - 1, KMSC_PIXEL_F64, 2, 0, nullptr));
  double kept = 42.0;
  Report err;
  EXPECT_EQ(kfga_ComputePolyErrors(s.from.get(), s.to.get(), poly.get(), wrong.get(), rms.get(),
                                   &kept, out(err)),
            0);
  EXPECT_EQ(kept, 42.0);
  EXPECT_EQ(reportMessages(err.get()).at(0), "Args");
}

TEST(Kfga, RefusesUnderdeterminedAndBadInput) {
  const Sample line = grid(5, 1, 0.0);  // five points on one line
  Matrix few = points({0, 1, 0, 1, 2}, {0, 0, 1, 1, 5});
  Matrix nan = points({0, 1, NAN}, {0, 0, 1});
  Matrix three = points({0, 1, 0}, {0, 0, 1});
  struct Case {
    int order;
    const KgdaBaseData *to, *from;
    const char* message;
  } cases[] = {
      {2, few.get(), few.get(), "Too few points for the polynomial order"},
      {1, line.to.get(), line.from.get(), "Singular system"},
      {1, nan.get(), nan.get(), "Args"},
      {1, three.get(), few.get(), "Args"},
      {1, nullptr, three.get(), "Args"},
  };
  Report err;
  for (const Case& c : cases) {
    Poly poly = polynomial(c.order);
    EXPECT_EQ(kfga_DerivePolyCoefs(c.to, c.from, poly.get(), out(err)), 0) << c.message;
    EXPECT_EQ(reportMessages(err.get()).at(0), c.message);
    EXPECT_EQ(poly->fitted, 0);
  }
  // Order, input and output dimensions, pixel type.
  const int bad[][4] = {
      {-1, 2, 2, 10}, {KFGA_MAX_ORDER + 1, 2, 2, 10}, {1, 3, 2, 10}, {1, 2, 2, 3}};
  for (const auto& args : bad) {
    EXPECT_EQ(Poly(kfga_BasePolynomialCreate(args[0], args[1], args[2], args[3], out(err))),
              nullptr);
    EXPECT_EQ(reportMessages(err.get()).at(0), "Args");
  }
  double x = 0, y = 0;
  EXPECT_EQ(kfga_PolynomialEvaluate(nullptr, 1, 1, &x, &y), 0);
  kfga_PolynomialDelete(nullptr, nullptr);
}

}  // namespace
