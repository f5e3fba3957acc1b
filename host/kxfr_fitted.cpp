/* Transform nodes for fitted models: a pair of polynomials, and a model
 * that carries its own callbacks (rubber sheets). */
#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kfga.h"
#include "kmsc.h"
#include "kstr.h"
#include "kxfr.h"

#include <cmath>

namespace {

struct PolyPair {
  Kfga_Polynomial* forward;
  Kfga_Polynomial* inverse;
};

void freePair(void* data) {
  auto* pair = static_cast<PolyPair*>(data);
  if (pair == nullptr) return;
  kfga_PolynomialDelete(&pair->forward, nullptr);
  kfga_PolynomialDelete(&pair->inverse, nullptr);
  kmsc_HeapFree(pair);
}

// A pair of copies, forward and inverse optionally exchanged.
PolyPair* makePair(const Kfga_Polynomial* forward, const Kfga_Polynomial* inverse,
                   Kerr_Report** err) {
  auto* pair = static_cast<PolyPair*>(kmsc_New(sizeof(PolyPair), err));
  if (pair == nullptr) return nullptr;
  pair->forward = kfga_PolynomialCopy(forward, err);
  pair->inverse = pair->forward ? kfga_PolynomialCopy(inverse, err) : nullptr;
  if (pair->inverse == nullptr) {
    freePair(pair);
    return nullptr;
  }
  return pair;
}

int applyPoly(const Kfga_Polynomial* poly, double* x, double* y, int32_t count, const char* label,
              Kerr_Report** err) {
  KerrFrame frame(label, err);
  if (x == nullptr || y == nullptr || count < 0) return frame.fail(__LINE__, "Args"), 0;
  for (int32_t i = 0; i < count; ++i)
    if (!kfga_PolynomialEvaluate(poly, x[i], y[i], &x[i], &y[i]))
      return frame.fail(__LINE__, "kfga_PolynomialEvaluate failed"), 0;
  return 1;
}

int pairForward(const void* data, double* x, double* y, int32_t count, Kerr_Report** err) {
  return applyPoly(static_cast<const PolyPair*>(data)->forward, x, y, count, "kxfrPolyForward",
                   err);
}
int pairInverse(const void* data, double* x, double* y, int32_t count, Kerr_Report** err) {
  return applyPoly(static_cast<const PolyPair*>(data)->inverse, x, y, count, "kxfrPolyInverse",
                   err);
}
void* copyPair(const void* data) {
  auto* pair = static_cast<const PolyPair*>(data);
  return makePair(pair->forward, pair->inverse, nullptr);
}
void* invertPair(const void* data, Kerr_Report** err) {
  auto* pair = static_cast<const PolyPair*>(data);
  return makePair(pair->inverse, pair->forward, err);
}

const Kxfr_ModelHeader* header(const void* data) {
  return static_cast<const Kxfr_ModelHeader*>(data);
}
int modelForward(const void* data, double* x, double* y, int32_t count, Kerr_Report** err) {
  return header(data)->forward(data, x, y, count, err);
}
int modelInverse(const void* data, double* x, double* y, int32_t count, Kerr_Report** err) {
  return header(data)->inverse(data, x, y, count, err);
}
void* modelCopy(const void* data) {
  return header(data)->copy(data);
}
void modelFree(void* data) {
  header(data)->free(data);
}

bool fitted2d(const Kfga_Polynomial* poly) {
  return poly != nullptr && poly->fitted && poly->inDims == 2 && poly->outDims == 2;
}

}  // namespace

extern "C" {

Kxfr_XForm* kxfr_XFormCreateFromPolyPair(const Kfga_Polynomial* forward,
                                         const Kfga_Polynomial* inverse, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Kxfr_XForm* {
    static const char* kLabel = "kxfr_XFormCreateFromPolyPair";
    KerrFrame frame(kLabel, err);
    if (!fitted2d(forward) || !fitted2d(inverse)) return frame.fail(__LINE__, "Args"), nullptr;
    // The node's data is a prototype that CreateWithNode copies.
    PolyPair prototype{const_cast<Kfga_Polynomial*>(forward),
                       const_cast<Kfga_Polynomial*>(inverse)};
    Kxfr_Node node{KXFR_NODE_POLY_PAIR, pairForward, pairInverse, copyPair, freePair, nullptr,
                   invertPair,          &prototype};
    Kxfr_XForm* xform = kxfr_XFormCreateWithNode(nullptr, &node, frame.slot());
    if (xform == nullptr) return frame.calleeFailed(__LINE__, "kxfr_XFormCreateWithNode"), nullptr;
    return xform;
  });
}

Kxfr_XForm* kxfr_XFormCreateFromTitleAndData(const Kxfr_XForm* xform, const char* title, void* data,
                                             Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Kxfr_XForm* {
    static const char* kLabel = "kxfr_XFormCreateFromTitleAndData";
    KerrFrame frame(kLabel, err);
    if (title == nullptr) return frame.fail(__LINE__, "Args"), nullptr;
    if (!kstr_Eqic(title, "Rubber Sheeting"))
      return frame.fail(__LINE__, "Unknown transform title \"%s\"", title), nullptr;
    const Kxfr_ModelHeader* model = header(data);
    if (model == nullptr || model->magic != KXFR_MODEL_MAGIC || model->forward == nullptr ||
        model->copy == nullptr || model->free == nullptr)
      return frame.fail(__LINE__, "Args"), nullptr;
    Kxfr_Node node{KXFR_NODE_RUBBER_SHEET,
                   modelForward,
                   model->inverse ? modelInverse : nullptr,
                   modelCopy,
                   modelFree,
                   nullptr,
                   nullptr,
                   data};
    Kxfr_XForm* result = kxfr_XFormCreateWithNode(xform, &node, frame.slot());
    if (result == nullptr) return frame.calleeFailed(__LINE__, "kxfr_XFormCreateWithNode"), nullptr;
    return result;
  });
}

}  // extern "C"
