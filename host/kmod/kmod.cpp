/* Rubber sheeting: piecewise linear over a Delaunay triangulation (order 1)
 * and thin-plate splines (order 5). */
#include "kmod.h"
#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kmsc.h"
#include "kxfr.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

/* Everything lives in two host-heap blocks so that a copy is two memcpys:
 * `values` holds the points and the solved coefficients, `triangles` the
 * vertex indices of the triangulation (order 1 only). */
struct Kmod_RubberSheet {
  Kxfr_ModelHeader header;
  int32_t order;
  int32_t count;     /* control points */
  int32_t triangles; /* order 1: triangle count */
  double affine[6];  /* least-squares affine raster -> map */
  double inverse[6]; /* its inverse */
  /* Normalisation (order 5): raster (x - rcx) / rs, map (x - mcx) / ms. */
  double rcx, rcy, rs, mcx, mcy, ms;
  int64_t valueCount;
  double* values;    /* rx[n], ry[n], mx[n], my[n], then order 5: fwd[2(n+3)], inv[2(n+3)] */
  int32_t* vertices; /* 3 * triangles */
};

namespace {

constexpr int32_t kMaxSplinePoints = 1500;  // the dense solve is cubic

struct Pt {
  double x, y;
};

const double* rx(const Kmod_RubberSheet* m) {
  return m->values;
}
const double* ry(const Kmod_RubberSheet* m) {
  return m->values + m->count;
}
const double* mx(const Kmod_RubberSheet* m) {
  return m->values + 2 * m->count;
}
const double* my(const Kmod_RubberSheet* m) {
  return m->values + 3 * m->count;
}

bool readPoints(const KgdaBaseData* m, std::vector<Pt>& out) {
  if (m == nullptr || m->data == nullptr || m->rows != 2 || m->columns < 0) return false;
  out.resize(static_cast<size_t>(m->columns));
  for (int32_t i = 0; i < m->columns; ++i) {
    out[i] = {kgda_BaseDataGet(m, 0, i), kgda_BaseDataGet(m, 1, i)};
    if (!std::isfinite(out[i].x) || !std::isfinite(out[i].y)) return false;
  }
  return true;
}

bool hasDuplicates(std::vector<Pt> pts) {
  std::sort(pts.begin(), pts.end(),
            [](const Pt& a, const Pt& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
  for (size_t i = 1; i < pts.size(); ++i)
    if (pts[i].x == pts[i - 1].x && pts[i].y == pts[i - 1].y) return true;
  return false;
}

// Centre and largest half-extent of a point set.
void extent(const std::vector<Pt>& pts, double& cx, double& cy, double& scale) {
  double x0 = pts[0].x, x1 = x0, y0 = pts[0].y, y1 = y0;
  for (const Pt& p : pts) {
    x0 = std::min(x0, p.x), x1 = std::max(x1, p.x);
    y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
  }
  cx = 0.5 * (x0 + x1), cy = 0.5 * (y0 + y1);
  scale = 0.5 * std::max(x1 - x0, y1 - y0);
  if (!(scale > 0.0) || !std::isfinite(scale)) scale = 1.0;
}

bool collinear(const std::vector<Pt>& pts) {
  double cx = 0, cy = 0;
  for (const Pt& p : pts) cx += p.x, cy += p.y;
  cx /= pts.size(), cy /= pts.size();
  double sxx = 0, syy = 0, sxy = 0;
  for (const Pt& p : pts) {
    const double dx = p.x - cx, dy = p.y - cy;
    sxx += dx * dx, syy += dy * dy, sxy += dx * dy;
  }
  const double det = sxx * syy - sxy * sxy;
  return !(det > 1e-12 * (sxx + syy) * (sxx + syy));
}

// Solves the square system a x = b (row-major a, `rhs` right-hand sides stored
// column after column in b) by Gaussian elimination with partial pivoting.
bool solve(std::vector<double>& a, std::vector<double>& b, size_t n, size_t rhs) {
  double biggest = 0.0;
  for (double v : a) biggest = std::max(biggest, std::fabs(v));
  for (size_t k = 0; k < n; ++k) {
    size_t pivot = k;
    for (size_t i = k + 1; i < n; ++i)
      if (std::fabs(a[i * n + k]) > std::fabs(a[pivot * n + k])) pivot = i;
    if (!(std::fabs(a[pivot * n + k]) > 1e-13 * biggest)) return false;
    if (pivot != k) {
      for (size_t j = 0; j < n; ++j) std::swap(a[k * n + j], a[pivot * n + j]);
      for (size_t r = 0; r < rhs; ++r) std::swap(b[r * n + k], b[r * n + pivot]);
    }
    for (size_t i = k + 1; i < n; ++i) {
      const double f = a[i * n + k] / a[k * n + k];
      if (f == 0.0) continue;
      for (size_t j = k; j < n; ++j) a[i * n + j] -= f * a[k * n + j];
      for (size_t r = 0; r < rhs; ++r) b[r * n + i] -= f * b[r * n + k];
    }
  }
  for (size_t r = 0; r < rhs; ++r)
    for (size_t k = n; k-- > 0;) {
      double s = b[r * n + k];
      for (size_t j = k + 1; j < n; ++j) s -= a[k * n + j] * b[r * n + j];
      b[r * n + k] = s / a[k * n + k];
      if (!std::isfinite(b[r * n + k])) return false;
    }
  return true;
}

// Least-squares affine from -> to (x' = a x + b y + c, y' = d x + e y + f).
bool fitAffine(const std::vector<Pt>& from, const std::vector<Pt>& to, double out[6]) {
  double cx, cy, s;
  extent(from, cx, cy, s);
  std::vector<double> a(9, 0.0), b(6, 0.0);
  for (size_t i = 0; i < from.size(); ++i) {
    const double t[3] = {1.0, (from[i].x - cx) / s, (from[i].y - cy) / s};
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) a[r * 3 + c] += t[r] * t[c];
      b[r] += t[r] * to[i].x;
      b[3 + r] += t[r] * to[i].y;
    }
  }
  if (!solve(a, b, 3, 2)) return false;
  // Undo the normalisation: u = (x - cx) / s.
  for (int k = 0; k < 2; ++k) {
    const double* c = &b[3 * k];
    out[3 * k] = c[1] / s;
    out[3 * k + 1] = c[2] / s;
    out[3 * k + 2] = c[0] - c[1] * cx / s - c[2] * cy / s;
  }
  return true;
}

bool invertAffine(const double c[6], double out[6]) {
  const double det = c[0] * c[4] - c[1] * c[3];
  if (!(std::fabs(det) > 0.0) || !std::isfinite(det)) return false;
  out[0] = c[4] / det, out[1] = -c[1] / det;
  out[3] = -c[3] / det, out[4] = c[0] / det;
  out[2] = -(out[0] * c[2] + out[1] * c[5]);
  out[5] = -(out[3] * c[2] + out[4] * c[5]);
  return true;
}

// Bowyer-Watson Delaunay triangulation of normalised points (within [-1, 1]).
std::vector<int32_t> delaunay(const std::vector<Pt>& pts) {
  const int32_t n = static_cast<int32_t>(pts.size());
  std::vector<Pt> all = pts;
  all.push_back({-1e4, -1e4});
  all.push_back({1e4, -1e4});
  all.push_back({0.0, 1e4});
  struct Tri {
    int32_t v[3];
    double cx, cy, r2;
  };
  auto make = [&](int32_t a, int32_t b, int32_t c) {
    if ((all[b].x - all[a].x) * (all[c].y - all[a].y) -
            (all[b].y - all[a].y) * (all[c].x - all[a].x) <
        0.0)
      std::swap(b, c);  // counter-clockwise, so a shared edge appears reversed
    const Pt &p = all[a], &q = all[b], &r = all[c];
    const double d = 2.0 * (p.x * (q.y - r.y) + q.x * (r.y - p.y) + r.x * (p.y - q.y));
    const double p2 = p.x * p.x + p.y * p.y, q2 = q.x * q.x + q.y * q.y, r2 = r.x * r.x + r.y * r.y;
    Tri t{{a, b, c}, 0, 0, std::numeric_limits<double>::infinity()};
    if (d != 0.0) {
      t.cx = (p2 * (q.y - r.y) + q2 * (r.y - p.y) + r2 * (p.y - q.y)) / d;
      t.cy = (p2 * (r.x - q.x) + q2 * (p.x - r.x) + r2 * (q.x - p.x)) / d;
      t.r2 = (p.x - t.cx) * (p.x - t.cx) + (p.y - t.cy) * (p.y - t.cy);
    }
    return t;
  };
  std::vector<Tri> tris{make(n, n + 1, n + 2)};
  for (int32_t i = 0; i < n; ++i) {
    const Pt& p = all[i];
    std::vector<std::pair<int32_t, int32_t>> edges;
    std::vector<Tri> kept;
    kept.reserve(tris.size() + 2);
    for (const Tri& t : tris) {
      const double dx = p.x - t.cx, dy = p.y - t.cy;
      if (dx * dx + dy * dy < t.r2) {
        for (int e = 0; e < 3; ++e) edges.emplace_back(t.v[e], t.v[(e + 1) % 3]);
      } else {
        kept.push_back(t);
      }
    }
    // Edges shared by two removed triangles are interior to the cavity.
    for (size_t a = 0; a < edges.size(); ++a) {
      bool shared = false;
      for (size_t b = 0; b < edges.size() && !shared; ++b)
        shared = a != b && edges[a].first == edges[b].second && edges[a].second == edges[b].first;
      if (!shared) kept.push_back(make(edges[a].first, edges[a].second, i));
    }
    tris.swap(kept);
  }
  std::vector<int32_t> out;
  for (const Tri& t : tris) {
    if (t.v[0] >= n || t.v[1] >= n || t.v[2] >= n) continue;
    const Pt &a = pts[t.v[0]], &b = pts[t.v[1]], &c = pts[t.v[2]];
    if ((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x) == 0.0) continue;
    out.insert(out.end(), t.v, t.v + 3);
  }
  return out;
}

// Maps (x, y) through the triangle of (sx, sy) that contains it onto (tx, ty);
// false when no triangle does. With a nonzero `orientation` only triangles of
// that orientation in (sx, sy) count.
bool throughTriangles(const Kmod_RubberSheet* m, const double* sx, const double* sy,
                      const double* tx, const double* ty, double& x, double& y,
                      double orientation = 0.0) {
  for (int32_t t = 0; t < m->triangles; ++t) {
    const int32_t* v = m->vertices + 3 * t;
    const double x0 = sx[v[0]], y0 = sy[v[0]];
    const double e1x = sx[v[1]] - x0, e1y = sy[v[1]] - y0, e2x = sx[v[2]] - x0, e2y = sy[v[2]] - y0;
    const double det = e1x * e2y - e1y * e2x;
    if (det == 0.0 || det * orientation < 0.0) continue;
    const double px = x - x0, py = y - y0;
    const double u = (px * e2y - py * e2x) / det, w = (e1x * py - e1y * px) / det;
    const double tol = 1e-12;
    if (u < -tol || w < -tol || u + w > 1.0 + tol) continue;
    const double x1 = tx[v[0]], y1 = ty[v[0]];
    x = x1 + u * (tx[v[1]] - x1) + w * (tx[v[2]] - x1);
    y = y1 + u * (ty[v[1]] - y1) + w * (ty[v[2]] - y1);
    return true;
  }
  return false;
}

double kernel(double r2) {
  return r2 > 0.0 ? 0.5 * r2 * std::log(r2) : 0.0;
}

// Thin-plate spline over normalised sources s (n points): coefficients c =
// [w_0..w_{n-1}, a0, a1, a2] for x, then the same for y, fitted to targets t.
bool solveSpline(const std::vector<Pt>& s, const std::vector<Pt>& t, std::vector<double>& c) {
  const size_t n = s.size(), m = n + 3;
  std::vector<double> a(m * m, 0.0);
  c.assign(2 * m, 0.0);
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < n; ++j) {
      const double dx = s[i].x - s[j].x, dy = s[i].y - s[j].y;
      a[i * m + j] = kernel(dx * dx + dy * dy);
    }
    const double p[3] = {1.0, s[i].x, s[i].y};
    for (size_t k = 0; k < 3; ++k) a[i * m + n + k] = a[(n + k) * m + i] = p[k];
    c[i] = t[i].x;
    c[m + i] = t[i].y;
  }
  return solve(a, c, m, 2);
}

void evalSpline(const double* rxs, const double* rys, int32_t n, const double* c, double u,
                double v, double& outX, double& outY) {
  const size_t m = static_cast<size_t>(n) + 3;
  double sx = c[n] + c[n + 1] * u + c[n + 2] * v;
  double sy = c[m + n] + c[m + n + 1] * u + c[m + n + 2] * v;
  for (int32_t i = 0; i < n; ++i) {
    const double dx = u - rxs[i], dy = v - rys[i];
    const double k = kernel(dx * dx + dy * dy);
    sx += c[i] * k;
    sy += c[m + i] * k;
  }
  outX = sx, outY = sy;
}

// Normalised control points live in the spline blocks' own copies.
const double* fwdSpline(const Kmod_RubberSheet* m) {
  return m->values + 4 * m->count;
}
const double* invSpline(const Kmod_RubberSheet* m) {
  return m->values + 4 * m->count + 2 * (m->count + 3);
}
const double* normRaster(const Kmod_RubberSheet* m) {
  return m->values + 4 * m->count + 4 * (m->count + 3);
}
const double* normMap(const Kmod_RubberSheet* m) {
  return normRaster(m) + 2 * m->count;
}

void forwardOne(const Kmod_RubberSheet* m, double& x, double& y) {
  if (!std::isfinite(x) || !std::isfinite(y)) {
    x = y = NAN;
    return;
  }
  if (m->order == 1) {
    if (!throughTriangles(m, rx(m), ry(m), mx(m), my(m), x, y)) {
      const double* a = m->affine;
      const double x0 = x;
      x = a[0] * x0 + a[1] * y + a[2];
      y = a[3] * x0 + a[4] * y + a[5];
    }
    return;
  }
  const double* nr = normRaster(m);
  double u, v;
  evalSpline(nr, nr + m->count, m->count, fwdSpline(m), (x - m->rcx) / m->rs, (y - m->rcy) / m->rs,
             u, v);
  x = u * m->ms + m->mcx;
  y = v * m->ms + m->mcy;
}

void inverseOne(const Kmod_RubberSheet* m, double& x, double& y) {
  if (!std::isfinite(x) || !std::isfinite(y)) {
    x = y = NAN;
    return;
  }
  if (m->order == 1) {
    // A triangle that the map folds over overlaps its neighbours in map
    // space; those that keep the map's overall orientation are tried first.
    const double orientation = m->affine[0] * m->affine[4] - m->affine[1] * m->affine[3];
    if (!throughTriangles(m, mx(m), my(m), rx(m), ry(m), x, y, orientation) &&
        !throughTriangles(m, mx(m), my(m), rx(m), ry(m), x, y)) {
      const double* a = m->inverse;
      const double x0 = x;
      x = a[0] * x0 + a[1] * y + a[2];
      y = a[3] * x0 + a[4] * y + a[5];
    }
    return;
  }
  // The spline fitted the other way gives a start that Newton's method on
  // the forward spline refines, so that inverse and forward agree.
  const double* nm = normMap(m);
  const double tx = x, ty = y;
  double u, v;
  evalSpline(nm, nm + m->count, m->count, invSpline(m), (x - m->mcx) / m->ms, (y - m->mcy) / m->ms,
             u, v);
  double px = u * m->rs + m->rcx, py = v * m->rs + m->rcy;
  const double h = 1e-6 * m->rs;
  for (int iter = 0; iter < 20; ++iter) {
    double fx = px, fy = py;
    forwardOne(m, fx, fy);
    const double ex = fx - tx, ey = fy - ty;
    if (std::hypot(ex, ey) <= 1e-12 * m->ms) break;
    double ax = px + h, ay = py, bx = px, by = py + h;
    forwardOne(m, ax, ay);
    forwardOne(m, bx, by);
    const double j00 = (ax - fx) / h, j10 = (ay - fy) / h, j01 = (bx - fx) / h, j11 = (by - fy) / h;
    const double det = j00 * j11 - j01 * j10;
    if (!(std::fabs(det) > 0.0) || !std::isfinite(det)) break;
    const double dx = (j11 * ex - j01 * ey) / det, dy = (j00 * ey - j10 * ex) / det;
    if (!std::isfinite(dx) || !std::isfinite(dy)) break;
    px -= dx, py -= dy;
  }
  x = px, y = py;
}

int applyPoints(const void* data, double* x, double* y, int32_t count, Kerr_Report** err,
                bool inverse) {
  KerrFrame frame(inverse ? "kmod_RubberSheetingInverse" : "kmod_RubberSheetingForward", err);
  auto* m = static_cast<const Kmod_RubberSheet*>(data);
  if (m == nullptr || m->header.magic != KXFR_MODEL_MAGIC || x == nullptr || y == nullptr ||
      count < 0)
    return frame.fail(__LINE__, "Args"), 0;
  for (int32_t i = 0; i < count; ++i)
    inverse ? inverseOne(m, x[i], y[i]) : forwardOne(m, x[i], y[i]);
  return 1;
}

int forwardCallback(const void* data, double* x, double* y, int32_t count, Kerr_Report** err) {
  return applyPoints(data, x, y, count, err, false);
}
int inverseCallback(const void* data, double* x, double* y, int32_t count, Kerr_Report** err) {
  return applyPoints(data, x, y, count, err, true);
}
void* copyCallback(const void* data) {
  return kmod_RubberSheetingCopy(static_cast<const Kmod_RubberSheet*>(data));
}
void freeCallback(void* data) {
  auto* m = static_cast<Kmod_RubberSheet*>(data);
  kmod_RubberSheetingDelete(&m, nullptr);
}

void release(Kmod_RubberSheet* m) {
  if (m == nullptr) return;
  kmsc_HeapFree(m->values);
  kmsc_HeapFree(m->vertices);
  kmsc_HeapFree(m);
}

}  // namespace

namespace {

Kmod_RubberSheet* solveModel(const KgdaBaseData* mapPoints, const KgdaBaseData* rasterPoints,
                             int32_t order, KerrFrame& frame) {
  std::vector<Pt> map, raster;
  if ((order != 1 && order != 5) || !readPoints(mapPoints, map) ||
      !readPoints(rasterPoints, raster) || map.size() != raster.size())
    return frame.fail(__LINE__, "Args"), nullptr;
  const int32_t n = static_cast<int32_t>(map.size());
  if (n < 3) return frame.fail(__LINE__, "Too few control points"), nullptr;
  if (order == 5 && n > kMaxSplinePoints)
    return frame.fail(__LINE__, "Too many control points for order 5 (%d, at most %d)", n,
                      kMaxSplinePoints),
           nullptr;
  if (hasDuplicates(map) || hasDuplicates(raster))
    return frame.fail(__LINE__, "Duplicate control points"), nullptr;
  if (collinear(map) || collinear(raster))
    return frame.fail(__LINE__, "Collinear control points"), nullptr;

  Kmod_RubberSheet model{};
  model.header = {KXFR_MODEL_MAGIC, forwardCallback, inverseCallback, copyCallback, freeCallback};
  model.order = order;
  model.count = n;
  if (!fitAffine(raster, map, model.affine) || !invertAffine(model.affine, model.inverse))
    return frame.fail(__LINE__, "Singular system"), nullptr;
  extent(raster, model.rcx, model.rcy, model.rs);
  extent(map, model.mcx, model.mcy, model.ms);
  std::vector<Pt> nr(raster), nm(map);
  for (Pt& p : nr) p = {(p.x - model.rcx) / model.rs, (p.y - model.rcy) / model.rs};
  for (Pt& p : nm) p = {(p.x - model.mcx) / model.ms, (p.y - model.mcy) / model.ms};

  std::vector<double> values;
  values.reserve(static_cast<size_t>(n) * 12 + 12);
  for (const Pt& p : raster) values.push_back(p.x);
  for (const Pt& p : raster) values.push_back(p.y);
  for (const Pt& p : map) values.push_back(p.x);
  for (const Pt& p : map) values.push_back(p.y);
  std::vector<int32_t> vertices;
  if (order == 1) {
    vertices = delaunay(nr);
    if (vertices.empty()) return frame.fail(__LINE__, "Singular system"), nullptr;
  } else {
    std::vector<double> fwd, inv;
    if (!solveSpline(nr, nm, fwd) || !solveSpline(nm, nr, inv))
      return frame.fail(__LINE__, "Singular system"), nullptr;
    values.insert(values.end(), fwd.begin(), fwd.end());
    values.insert(values.end(), inv.begin(), inv.end());
    for (const Pt& p : nr) values.push_back(p.x);
    for (const Pt& p : nr) values.push_back(p.y);
    for (const Pt& p : nm) values.push_back(p.x);
    for (const Pt& p : nm) values.push_back(p.y);
  }

  auto* m = static_cast<Kmod_RubberSheet*>(kmsc_New(sizeof(Kmod_RubberSheet), frame.slot()));
  if (m == nullptr) return frame.calleeFailed(__LINE__, "kmsc_New"), nullptr;
  *m = model;
  m->valueCount = static_cast<int64_t>(values.size());
  m->triangles = static_cast<int32_t>(vertices.size() / 3);
  m->values = static_cast<double*>(kmsc_New(values.size() * sizeof(double), frame.slot()));
  m->vertices =
      vertices.empty()
          ? nullptr
          : static_cast<int32_t*>(kmsc_New(vertices.size() * sizeof(int32_t), frame.slot()));
  if (m->values == nullptr || (!vertices.empty() && m->vertices == nullptr)) {
    release(m);
    return frame.calleeFailed(__LINE__, "kmsc_New"), nullptr;
  }
  std::memcpy(m->values, values.data(), values.size() * sizeof(double));
  if (!vertices.empty())
    std::memcpy(m->vertices, vertices.data(), vertices.size() * sizeof(int32_t));
  return m;
}

}  // namespace

extern "C" {

Kmod_RubberSheet* kmod_RubberSheetingSolve(const KgdaBaseData* mapPoints,
                                           const KgdaBaseData* rasterPoints, int32_t order,
                                           Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Kmod_RubberSheet* {
    static const char* kLabel = "kmod_RubberSheetingSolve";
    KerrFrame frame(kLabel, err);
    return solveModel(mapPoints, rasterPoints, order, frame);
  });
}

void kmod_RubberSheetingDelete(Kmod_RubberSheet** model, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kmod_RubberSheetingDelete";
    KerrFrame frame(kLabel, err);
    if (model == nullptr || *model == nullptr) return;
    release(*model);
    *model = nullptr;
  });
}

Kmod_RubberSheet* kmod_RubberSheetingCopy(const Kmod_RubberSheet* model) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> Kmod_RubberSheet* {
    if (model == nullptr) return nullptr;
    auto* m = static_cast<Kmod_RubberSheet*>(kmsc_HeapMalloc(sizeof(Kmod_RubberSheet)));
    if (m == nullptr) return nullptr;
    *m = *model;
    m->values = static_cast<double*>(
        kmsc_HeapMalloc(static_cast<size_t>(model->valueCount) * sizeof(double)));
    m->vertices = model->triangles > 0
                      ? static_cast<int32_t*>(kmsc_HeapMalloc(
                            static_cast<size_t>(model->triangles) * 3 * sizeof(int32_t)))
                      : nullptr;
    if (m->values == nullptr || (model->triangles > 0 && m->vertices == nullptr)) {
      release(m);
      return nullptr;
    }
    std::memcpy(m->values, model->values, static_cast<size_t>(model->valueCount) * sizeof(double));
    if (model->triangles > 0)
      std::memcpy(m->vertices, model->vertices,
                  static_cast<size_t>(model->triangles) * 3 * sizeof(int32_t));
    return m;
  });
}

int32_t kmod_RubberSheetingOrder(const Kmod_RubberSheet* model) {
  return kerrGuard(__func__, nullptr, 0,
                   [&]() -> int32_t { return model != nullptr ? model->order : 0; });
}
int32_t kmod_RubberSheetingPointCount(const Kmod_RubberSheet* model) {
  return kerrGuard(__func__, nullptr, 0,
                   [&]() -> int32_t { return model != nullptr ? model->count : 0; });
}

int kmod_RubberSheetingForward(const Kmod_RubberSheet* model, double* x, double* y, int32_t count,
                               Kerr_Report** err) {
  return kerrGuard(__func__, err, 0,
                   [&]() -> int { return applyPoints(model, x, y, count, err, false); });
}
int kmod_RubberSheetingInverse(const Kmod_RubberSheet* model, double* x, double* y, int32_t count,
                               Kerr_Report** err) {
  return kerrGuard(__func__, err, 0,
                   [&]() -> int { return applyPoints(model, x, y, count, err, true); });
}

}  // extern "C"
