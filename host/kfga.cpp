/* Polynomial creation, evaluation and the least-squares fit. */
#include "kfga.h"
#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kmsc.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int32_t termCountFor(int32_t order) {
  return (order + 1) * (order + 2) / 2;
}

bool wellFormed(const Kfga_Polynomial* poly) {
  return poly != nullptr && poly->coefficients != nullptr && poly->order >= 0 &&
         poly->order <= KFGA_MAX_ORDER && poly->termCount == termCountFor(poly->order) &&
         poly->inDims == 2 && poly->outDims == 2;
}

// Fills terms[0..termCount) with the monomials of (u, v) in storage order.
void monomials(int32_t order, double u, double v, double* terms) {
  double upow[KFGA_MAX_ORDER + 1];
  double vpow[KFGA_MAX_ORDER + 1];
  upow[0] = vpow[0] = 1.0;
  for (int32_t i = 1; i <= order; ++i) {
    upow[i] = upow[i - 1] * u;
    vpow[i] = vpow[i - 1] * v;
  }
  int32_t t = 0;
  for (int32_t d = 0; d <= order; ++d)
    for (int32_t j = 0; j <= d; ++j) terms[t++] = upow[d - j] * vpow[j];
}

// A 2 x n point matrix with finite values, read into xs and ys.
bool readPoints(const KgdaBaseData* m, std::vector<double>& xs, std::vector<double>& ys) {
  if (m == nullptr || m->data == nullptr || m->rows != 2 || m->columns < 0) return false;
  xs.resize(static_cast<size_t>(m->columns));
  ys.resize(static_cast<size_t>(m->columns));
  for (int32_t i = 0; i < m->columns; ++i) {
    xs[i] = kgda_BaseDataGet(m, 0, i);
    ys[i] = kgda_BaseDataGet(m, 1, i);
    if (!std::isfinite(xs[i]) || !std::isfinite(ys[i])) return false;
  }
  return true;
}

// Centre and half-range of a coordinate, so that normalised inputs lie in
// [-1, 1]; a constant coordinate gets scale 1.
void normaliser(const std::vector<double>& v, double& center, double& scale) {
  double lo = v[0], hi = v[0];
  for (double x : v) {
    lo = std::fmin(lo, x);
    hi = std::fmax(hi, x);
  }
  center = 0.5 * (lo + hi);
  scale = 0.5 * (hi - lo);
  if (!(scale > 0.0) || !std::isfinite(scale)) scale = 1.0;
}

}  // namespace

extern "C" {

Kfga_Polynomial* kfga_BasePolynomialCreate(int32_t order, int32_t inDims, int32_t outDims,
                                           int32_t pixelType, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Kfga_Polynomial* {
    static const char* kLabel = "kfga_BasePolynomialCreate";
    KerrFrame frame(kLabel, err);
    if (order < 0 || order > KFGA_MAX_ORDER || inDims != 2 || outDims != 2 ||
        (pixelType != KMSC_PIXEL_F32 && pixelType != KMSC_PIXEL_F64))
      return frame.fail(__LINE__, "Args"), nullptr;
    auto* poly = static_cast<Kfga_Polynomial*>(kmsc_New(sizeof(Kfga_Polynomial), frame.slot()));
    if (poly == nullptr) return frame.calleeFailed(__LINE__, "kmsc_New"), nullptr;
    poly->order = order;
    poly->inDims = inDims;
    poly->outDims = outDims;
    poly->pixelType = pixelType;
    poly->termCount = termCountFor(order);
    poly->scaleX = poly->scaleY = 1.0;
    poly->coefficients = static_cast<double*>(
        kmsc_New(sizeof(double) * static_cast<size_t>(outDims * poly->termCount), frame.slot()));
    if (poly->coefficients == nullptr) {
      kmsc_HeapFree(poly);
      return frame.calleeFailed(__LINE__, "kmsc_New"), nullptr;
    }
    return poly;
  });
}

Kfga_Polynomial* kfga_PolynomialCreate(int32_t order, int32_t inDims, int32_t outDims,
                                       int32_t pixelType, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Kfga_Polynomial* {
    return kfga_BasePolynomialCreate(order, inDims, outDims, pixelType, err);
  });
}

Kfga_Polynomial* kfga_PolynomialCopy(const Kfga_Polynomial* poly, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Kfga_Polynomial* {
    static const char* kLabel = "kfga_PolynomialCopy";
    KerrFrame frame(kLabel, err);
    if (!wellFormed(poly)) return frame.fail(__LINE__, "Args"), nullptr;
    Kfga_Polynomial* copy = kfga_BasePolynomialCreate(poly->order, poly->inDims, poly->outDims,
                                                      poly->pixelType, frame.slot());
    if (copy == nullptr) return frame.calleeFailed(__LINE__, "kfga_BasePolynomialCreate"), nullptr;
    double* coefficients = copy->coefficients;
    *copy = *poly;
    copy->coefficients = coefficients;
    std::memcpy(coefficients, poly->coefficients,
                sizeof(double) * static_cast<size_t>(poly->outDims * poly->termCount));
    return copy;
  });
}

void kfga_PolynomialDelete(Kfga_Polynomial** poly, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kfga_PolynomialDelete";
    KerrFrame frame(kLabel, err);
    if (poly == nullptr || *poly == nullptr) return;
    kmsc_HeapFree((*poly)->coefficients);
    kmsc_HeapFree(*poly);
    *poly = nullptr;
  });
}

int kfga_PolynomialEvaluate(const Kfga_Polynomial* poly, double x, double y, double* outX,
                            double* outY) {
  return kerrGuard(__func__, nullptr, 0, [&]() -> int {
    if (!wellFormed(poly) || outX == nullptr || outY == nullptr) return 0;
    double terms[termCountFor(KFGA_MAX_ORDER)];
    monomials(poly->order, (x - poly->centerX) / poly->scaleX, (y - poly->centerY) / poly->scaleY,
              terms);
    double sum[2] = {0.0, 0.0};
    for (int32_t k = 0; k < 2; ++k)
      for (int32_t t = 0; t < poly->termCount; ++t)
        sum[k] += poly->coefficients[k * poly->termCount + t] * terms[t];
    *outX = sum[0];
    *outY = sum[1];
    return 1;
  });
}

}  // extern "C"

namespace {
int derive(const KgdaBaseData* to, const KgdaBaseData* from, Kfga_Polynomial* poly,
           KerrFrame& frame) {
  std::vector<double> fx, fy, tx, ty;
  if (!wellFormed(poly) || !readPoints(from, fx, fy) || !readPoints(to, tx, ty) ||
      fx.size() != tx.size())
    return frame.fail(__LINE__, "Args"), 0;
  const size_t n = fx.size();
  const size_t m = static_cast<size_t>(poly->termCount);
  if (n < m || n == 0) return frame.fail(__LINE__, "Too few points for the polynomial order"), 0;

  double cx, cy, sx, sy;
  normaliser(fx, cx, sx);
  normaliser(fy, cy, sy);

  // Column-major design matrix a (n x m) and right-hand sides b (n x 2).
  std::vector<double> a(n * m), b(n * 2), terms(m);
  for (size_t i = 0; i < n; ++i) {
    monomials(poly->order, (fx[i] - cx) / sx, (fy[i] - cy) / sy, terms.data());
    for (size_t j = 0; j < m; ++j) a[j * n + i] = terms[j];
    b[i] = tx[i];
    b[n + i] = ty[i];
  }

  // Householder QR; a column whose remaining norm is negligible against its
  // original norm means the points do not determine that term.
  std::vector<double> diag(m);
  for (size_t j = 0; j < m; ++j) {
    double* col = &a[j * n];
    double original = 0.0;
    for (size_t i = 0; i < n; ++i) original += col[i] * col[i];
    double norm = 0.0;
    for (size_t i = j; i < n; ++i) norm += col[i] * col[i];
    norm = std::sqrt(norm);
    if (!(norm > 1e-10 * std::sqrt(original)) || !std::isfinite(norm))
      return frame.fail(__LINE__, "Singular system"), 0;
    const double alpha = col[j] > 0 ? -norm : norm;
    col[j] -= alpha;  // col[j..n) is now the Householder vector v
    double vnorm2 = 0.0;
    for (size_t i = j; i < n; ++i) vnorm2 += col[i] * col[i];
    diag[j] = alpha;
    auto reflect = [&](double* target) {
      double dot = 0.0;
      for (size_t i = j; i < n; ++i) dot += col[i] * target[i];
      const double f = 2.0 * dot / vnorm2;
      for (size_t i = j; i < n; ++i) target[i] -= f * col[i];
    };
    for (size_t k = j + 1; k < m; ++k) reflect(&a[k * n]);
    reflect(&b[0]);
    reflect(&b[n]);
  }
  // Back substitution R c = Q^T b for both outputs.
  std::vector<double> c(2 * m);
  for (size_t k = 0; k < 2; ++k) {
    for (size_t jj = m; jj-- > 0;) {
      double s = b[k * n + jj];
      for (size_t l = jj + 1; l < m; ++l) s -= a[l * n + jj] * c[k * m + l];
      c[k * m + jj] = s / diag[jj];
      if (!std::isfinite(c[k * m + jj])) return frame.fail(__LINE__, "Singular system"), 0;
    }
  }
  std::memcpy(poly->coefficients, c.data(), sizeof(double) * 2 * m);
  poly->centerX = cx;
  poly->centerY = cy;
  poly->scaleX = sx;
  poly->scaleY = sy;
  poly->fitted = 1;
  return 1;
}

}  // namespace

extern "C" {

int kfga_DerivePolyCoefs(const KgdaBaseData* to, const KgdaBaseData* from, Kfga_Polynomial* poly,
                         Kerr_Report** err) {
  return kerrGuard(__func__, err, 0, [&]() -> int {
    static const char* kLabel = "kfga_DerivePolyCoefs";
    KerrFrame frame(kLabel, err);
    return derive(to, from, poly, frame);
  });
}

int kfga_ComputePolyErrors(const KgdaBaseData* from, const KgdaBaseData* to,
                           const Kfga_Polynomial* poly, KgdaBaseData* residuals, KgdaBaseData* rms,
                           double* total, Kerr_Report** err) {
  return kerrGuard(__func__, err, 0, [&]() -> int {
    static const char* kLabel = "kfga_ComputePolyErrors";
    KerrFrame frame(kLabel, err);
    std::vector<double> fx, fy, tx, ty;
    if (!readPoints(from, fx, fy) || !readPoints(to, tx, ty))
      return frame.fail(__LINE__, "Args"), 0;
    if (!wellFormed(poly) || fx.size() != tx.size() || fx.empty())
      return frame.fail(__LINE__, "Args"), 0;
    const int32_t n = static_cast<int32_t>(fx.size());
    if (residuals != nullptr &&
        (residuals->data == nullptr || residuals->rows != 2 || residuals->columns != n))
      return frame.fail(__LINE__, "Args"), 0;
    if (rms != nullptr && (rms->data == nullptr || rms->rows != 2 || rms->columns != 1))
      return frame.fail(__LINE__, "Args"), 0;
    double sum[2] = {0.0, 0.0};
    for (int32_t i = 0; i < n; ++i) {
      double p[2];
      kfga_PolynomialEvaluate(poly, fx[i], fy[i], &p[0], &p[1]);
      const double r[2] = {p[0] - tx[i], p[1] - ty[i]};
      for (int32_t k = 0; k < 2; ++k) {
        sum[k] += r[k] * r[k];
        if (residuals != nullptr) kgda_BaseDataSet(residuals, k, i, r[k]);
      }
    }
    const double rx = std::sqrt(sum[0] / n), ry = std::sqrt(sum[1] / n);
    if (rms != nullptr) {
      kgda_BaseDataSet(rms, 0, 0, rx);
      kgda_BaseDataSet(rms, 1, 0, ry);
    }
    if (total != nullptr) *total = std::sqrt(rx * rx + ry * ry);
    return 1;
  });
}

}  // extern "C"
