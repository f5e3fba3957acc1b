/* Affine and unit-scaling nodes. */
#include "kxfr_nodes.h"
#include "kerr_frame.h"
#include "kmsc.h"

#include <cmath>

const double kKxfrIdentity[6] = {1, 0, 0, 0, 1, 0};

namespace {

constexpr size_t kAffineBytes = 6 * sizeof(double);

void applyAffine(const double* k, double* x, double* y, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    double u = x[i], v = y[i];
    x[i] = k[0] * u + k[1] * v + k[2];
    y[i] = k[3] * u + k[4] * v + k[5];
  }
}

int affineForward(const void* data, double* x, double* y, int32_t count, Kerr_Report** err) {
  static const char* kLabel = "kxfr_AffineForward";
  KerrFrame frame(kLabel, err);
  if (data == nullptr || count < 0 || (count > 0 && (x == nullptr || y == nullptr)))
    return frame.fail(__LINE__, "Args"), 0;
  applyAffine(static_cast<const double*>(data), x, y, count);
  return 1;
}

int affineInverse(const void* data, double* x, double* y, int32_t count, Kerr_Report** err) {
  static const char* kLabel = "kxfr_AffineInverse";
  KerrFrame frame(kLabel, err);
  if (data == nullptr || count < 0 || (count > 0 && (x == nullptr || y == nullptr)))
    return frame.fail(__LINE__, "Args"), 0;
  double inverse[6];
  if (!kxfrAffineInverse(static_cast<const double*>(data), inverse))
    return frame.fail(__LINE__, "Singular affine"), 0;
  applyAffine(inverse, x, y, count);
  return 1;
}

void* affineCopy(const void* data) {
  return kmsc_MemDup(data, kAffineBytes);
}

void heapFree(void* data) {
  kmsc_HeapFree(data);
}

int affineCoefficients(const void* data, double coefficients[6]) {
  if (data == nullptr) return 0;
  const auto* k = static_cast<const double*>(data);
  for (int i = 0; i < 6; ++i) coefficients[i] = k[i];
  return 1;
}

void* affineInvert(const void* data, Kerr_Report** err) {
  static const char* kLabel = "kxfr_AffineInvert";
  KerrFrame frame(kLabel, err);
  if (data == nullptr) return frame.fail(__LINE__, "Args"), nullptr;
  const auto* k = static_cast<const double*>(data);
  double inverse[6];
  if (!kxfrAffineInverse(k, inverse))
    return frame.fail(__LINE__, "Singular affine (determinant %g)", k[0] * k[4] - k[1] * k[3]),
           nullptr;
  void* copy = kmsc_MemDup(inverse, kAffineBytes);
  if (copy == nullptr) frame.fail(__LINE__, "Out of memory");
  return copy;
}

// A unit-scaling node holds one factor applied to both axes.
int unitsForward(const void* data, double* x, double* y, int32_t count, Kerr_Report** err) {
  static const char* kLabel = "kxfr_UnitsForward";
  KerrFrame frame(kLabel, err);
  if (data == nullptr || count < 0 || (count > 0 && (x == nullptr || y == nullptr)))
    return frame.fail(__LINE__, "Args"), 0;
  double k = *static_cast<const double*>(data);
  for (int32_t i = 0; i < count; ++i) {
    x[i] *= k;
    y[i] *= k;
  }
  return 1;
}

int unitsInverse(const void* data, double* x, double* y, int32_t count, Kerr_Report** err) {
  static const char* kLabel = "kxfr_UnitsInverse";
  KerrFrame frame(kLabel, err);
  if (data == nullptr || count < 0 || (count > 0 && (x == nullptr || y == nullptr)))
    return frame.fail(__LINE__, "Args"), 0;
  double k = *static_cast<const double*>(data);
  for (int32_t i = 0; i < count; ++i) {
    x[i] /= k;
    y[i] /= k;
  }
  return 1;
}

void* unitsCopy(const void* data) {
  return kmsc_MemDup(data, sizeof(double));
}

int unitsCoefficients(const void* data, double coefficients[6]) {
  if (data == nullptr) return 0;
  double k = *static_cast<const double*>(data);
  const double scale[6] = {k, 0, 0, 0, k, 0};
  for (int i = 0; i < 6; ++i) coefficients[i] = scale[i];
  return 1;
}

void* unitsInvert(const void* data, Kerr_Report** err) {
  static const char* kLabel = "kxfr_UnitsInvert";
  KerrFrame frame(kLabel, err);
  if (data == nullptr) return frame.fail(__LINE__, "Args"), nullptr;
  double inverse = 1.0 / *static_cast<const double*>(data);
  if (!std::isfinite(inverse) || inverse == 0)
    return frame.fail(__LINE__, "Singular unit scaling"), nullptr;
  void* copy = kmsc_MemDup(&inverse, sizeof(double));
  if (copy == nullptr) frame.fail(__LINE__, "Out of memory");
  return copy;
}

}  // namespace

Kxfr_Node kxfrAffinePrototype(double coefficients[6]) {
  return Kxfr_Node{KXFR_NODE_AFFINE, affineForward,      affineInverse, affineCopy,
                   heapFree,         affineCoefficients, affineInvert,  coefficients};
}

Kxfr_Node kxfrUnitsPrototype(double* factor) {
  return Kxfr_Node{KXFR_NODE_UNITS, unitsForward,      unitsInverse, unitsCopy,
                   heapFree,        unitsCoefficients, unitsInvert,  factor};
}

void kxfrAffineThen(const double p[6], const double q[6], double out[6]) {
  double r[6] = {q[0] * p[0] + q[1] * p[3],        q[0] * p[1] + q[1] * p[4],
                 q[0] * p[2] + q[1] * p[5] + q[2], q[3] * p[0] + q[4] * p[3],
                 q[3] * p[1] + q[4] * p[4],        q[3] * p[2] + q[4] * p[5] + q[5]};
  for (int i = 0; i < 6; ++i) out[i] = r[i];
}

bool kxfrAffineInverse(const double k[6], double out[6]) {
  double det = k[0] * k[4] - k[1] * k[3];
  // Relative to the products it comes from, so that the test does not depend
  // on the scale of the coordinates (degrees and meters alike).
  double magnitude = std::fabs(k[0] * k[4]) + std::fabs(k[1] * k[3]);
  if (!std::isfinite(det) || det == 0 || std::fabs(det) <= 1e-14 * magnitude) return false;
  double r[6] = {k[4] / det,  -k[1] / det, (k[1] * k[5] - k[4] * k[2]) / det,
                 -k[3] / det, k[0] / det,  (k[3] * k[2] - k[0] * k[5]) / det};
  for (double v : r)
    if (!std::isfinite(v)) return false;
  for (int i = 0; i < 6; ++i) out[i] = r[i];
  return true;
}
