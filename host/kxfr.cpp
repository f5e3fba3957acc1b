/* Transform chains: building, copying, inverting, applying and collapsing
 * them. What a node does is left to its callbacks (kxfr_nodes.cpp for the
 * built-in kinds). */
#include "kxfr.h"
#include "kcvt.h"
#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kmsc.h"
#include "kstr.h"
#include "kxfr_nodes.h"

#include <cmath>
#include <cstring>
#include <limits>

struct Kxfr_XForm {
  int32_t count;
  Kxfr_Node* nodes; /* host heap array; each node owns its data */
};

namespace {

void destroy(Kxfr_XForm* xform) {
  if (xform == nullptr) return;
  for (int32_t i = 0; i < xform->count; ++i) {
    Kxfr_Node& node = xform->nodes[i];
    if (node.data != nullptr && node.free != nullptr) node.free(node.data);
  }
  kmsc_HeapFree(xform->nodes);
  kmsc_HeapFree(xform);
}

bool usableNode(const Kxfr_Node* node) {
  return node != nullptr && node->forward != nullptr &&
         (node->data == nullptr || (node->copy != nullptr && node->free != nullptr));
}

// A new chain under construction. It owns what it holds until take(), so a
// failure halfway frees every node already copied.
class ChainBuilder {
 public:
  explicit ChainBuilder(KerrFrame& frame) : frame_(frame) {}
  ~ChainBuilder() { destroy(xform_); }
  ChainBuilder(const ChainBuilder&) = delete;
  ChainBuilder& operator=(const ChainBuilder&) = delete;

  bool reserve(int64_t count) {
    if (count < 0 || count > std::numeric_limits<int32_t>::max() ||
        static_cast<uint64_t>(count) > std::numeric_limits<size_t>::max() / sizeof(Kxfr_Node))
      return frame_.fail(__LINE__, "Transform too long"), false;
    xform_ = static_cast<Kxfr_XForm*>(kmsc_New(sizeof(Kxfr_XForm), frame_.slot()));
    if (xform_ == nullptr) return frame_.calleeFailed(__LINE__, "kmsc_New"), false;
    xform_->nodes = static_cast<Kxfr_Node*>(
        kmsc_New(static_cast<size_t>(count) * sizeof(Kxfr_Node), frame_.slot()));
    if (xform_->nodes == nullptr) return frame_.calleeFailed(__LINE__, "kmsc_New"), false;
    return true;
  }

  // Stores the node with data the chain already owns.
  void addOwned(const Kxfr_Node& node) { xform_->nodes[xform_->count++] = node; }

  bool addCopy(const Kxfr_Node& node) {
    Kxfr_Node copy = node;
    if (node.data != nullptr) {
      copy.data = node.copy(node.data);
      if (copy.data == nullptr) return frame_.fail(__LINE__, "Out of memory"), false;
    }
    addOwned(copy);
    return true;
  }

  bool addChain(const Kxfr_XForm* chain) {
    for (int32_t i = 0; chain != nullptr && i < chain->count; ++i)
      if (!addCopy(chain->nodes[i])) return false;
    return true;
  }

  Kxfr_XForm* take() {
    Kxfr_XForm* result = xform_;
    xform_ = nullptr;
    return result;
  }

 private:
  KerrFrame& frame_;
  Kxfr_XForm* xform_ = nullptr;
};

// before's nodes, then node (a prototype or a caller's node, copied).
Kxfr_XForm* chainThenNode(const Kxfr_XForm* before, const Kxfr_Node& node, KerrFrame& frame) {
  ChainBuilder builder(frame);
  if (!builder.reserve(static_cast<int64_t>(before ? before->count : 0) + 1)) return nullptr;
  if (!builder.addChain(before) || !builder.addCopy(node)) return nullptr;
  return builder.take();
}

Kxfr_XForm* affineChain(const Kxfr_XForm* before, const double coefficients[6], KerrFrame& frame) {
  for (int i = 0; i < 6; ++i)
    if (!std::isfinite(coefficients[i]))
      return frame.fail(__LINE__, "Non-finite coefficient"), nullptr;
  double storage[6];
  std::memcpy(storage, coefficients, sizeof(storage));
  return chainThenNode(before, kxfrAffinePrototype(storage), frame);
}

// The chain as one affine, when every node has an affine form.
bool collapse(const Kxfr_XForm* xform, double out[6]) {
  double total[6];
  std::memcpy(total, kKxfrIdentity, sizeof(total));
  for (int32_t i = 0; i < xform->count; ++i) {
    const Kxfr_Node& node = xform->nodes[i];
    double k[6];
    if (node.affine == nullptr || !node.affine(node.data, k)) return false;
    kxfrAffineThen(total, k, total);
  }
  std::memcpy(out, total, sizeof(total));
  return true;
}

}  // namespace

extern "C" {

Kxfr_XForm* kxfr_XFormCreateUsingCoeffs(double a, double b, double c, double d, double e, double f,
                                        Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Kxfr_XForm* {
    static const char* kLabel = "kxfr_XFormCreateUsingCoeffs";
    KerrFrame frame(kLabel, err);
    const double coefficients[6] = {a, b, c, d, e, f};
    return affineChain(nullptr, coefficients, frame);
  });
}

Kxfr_XForm* kxfr_XFormTranslate(const Kxfr_XForm* xform, double dx, double dy, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Kxfr_XForm* {
    static const char* kLabel = "kxfr_XFormTranslate";
    KerrFrame frame(kLabel, err);
    const double coefficients[6] = {1, 0, dx, 0, 1, dy};
    return affineChain(xform, coefficients, frame);
  });
}

Kxfr_XForm* kxfr_XFormCompose(const Kxfr_XForm* a, const Kxfr_XForm* b, int32_t flags,
                              Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Kxfr_XForm* {
    static const char* kLabel = "kxfr_XFormCompose";
    KerrFrame frame(kLabel, err);
    if ((a == nullptr && b == nullptr) || flags != 0) return frame.fail(__LINE__, "Args"), nullptr;
    ChainBuilder builder(frame);
    int64_t count = static_cast<int64_t>(a ? a->count : 0) + (b ? b->count : 0);
    if (!builder.reserve(count) || !builder.addChain(b) || !builder.addChain(a)) return nullptr;
    return builder.take();
  });
}

Kxfr_XForm* kxfr_XFormCopy(const Kxfr_XForm* xform, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Kxfr_XForm* {
    static const char* kLabel = "kxfr_XFormCopy";
    KerrFrame frame(kLabel, err);
    if (xform == nullptr) return frame.fail(__LINE__, "Args"), nullptr;
    ChainBuilder builder(frame);
    if (!builder.reserve(xform->count) || !builder.addChain(xform)) return nullptr;
    return builder.take();
  });
}

Kxfr_XForm* kxfr_XFormInvert(const Kxfr_XForm* xform, int32_t flags, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Kxfr_XForm* {
    static const char* kLabel = "kxfr_XFormInvert";
    KerrFrame frame(kLabel, err);
    if (xform == nullptr || flags != 0) return frame.fail(__LINE__, "Args"), nullptr;
    ChainBuilder builder(frame);
    if (!builder.reserve(xform->count)) return nullptr;
    for (int32_t i = xform->count - 1; i >= 0; --i) {
      const Kxfr_Node& node = xform->nodes[i];
      if (node.invert != nullptr) {
        // The inverse is a node of the same kind with new data.
        Kxfr_Node inverse = node;
        inverse.data = node.invert(node.data, frame.slot());
        if (inverse.data == nullptr)
          return frame.fail(__LINE__, "Transform is not invertible"), nullptr;
        builder.addOwned(inverse);
      } else if (node.inverse != nullptr) {
        // The same data run backwards; its affine form, if any, described the
        // forward direction and no longer applies.
        Kxfr_Node inverse = node;
        inverse.forward = node.inverse;
        inverse.inverse = node.forward;
        inverse.affine = nullptr;
        if (!builder.addCopy(inverse)) return nullptr;
      } else {
        return frame.fail(__LINE__, "Transform is not invertible"), nullptr;
      }
    }
    return builder.take();
  });
}

void kxfr_XFormFree(Kxfr_XForm** xform, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kxfr_XFormFree";
    KerrFrame frame(kLabel, err);
    if (xform == nullptr) return;
    destroy(*xform);
    *xform = nullptr;
  });
}

int kxfr_XFormAffineExtractIfPresentX(const Kxfr_XForm* xform, double coefficients[6],
                                      int32_t collapseChain, Kerr_Report** err) {
  return kerrGuard(__func__, err, 0, [&]() -> int {
    static const char* kLabel = "kxfr_XFormAffineExtractIfPresentX";
    KerrFrame frame(kLabel, err);
    if (xform == nullptr || coefficients == nullptr) return frame.fail(__LINE__, "Args"), 0;
    if (collapseChain) return collapse(xform, coefficients) ? 1 : 0;
    if (xform->count != 1 || xform->nodes[0].kind != KXFR_NODE_AFFINE) return 0;
    const Kxfr_Node& node = xform->nodes[0];
    return node.affine != nullptr && node.affine(node.data, coefficients) ? 1 : 0;
  });
}

int kxfr_XFormAffineExtractIfPresent(const Kxfr_XForm* xform, double coefficients[6],
                                     Kerr_Report** err) {
  return kerrGuard(__func__, err, 0, [&]() -> int {
    static const char* kLabel = "kxfr_XFormAffineExtractIfPresent";
    KerrFrame frame(kLabel, err);
    if (xform == nullptr || coefficients == nullptr) return frame.fail(__LINE__, "Args"), 0;
    return collapse(xform, coefficients) ? 1 : 0;
  });
}

int kxfr_Transform(const Kxfr_XForm* xform, double* x, double* y, int32_t count,
                   Kerr_Report** err) {
  return kerrGuard(__func__, err, 0, [&]() -> int {
    static const char* kLabel = "kxfr_Transform";
    KerrFrame frame(kLabel, err);
    if (xform == nullptr || count < 0 || (count > 0 && (x == nullptr || y == nullptr)))
      return frame.fail(__LINE__, "Args"), 0;
    if (count == 0) return 1;
    // Work on copies, so that a node failing halfway leaves the caller's
    // points as they were.
    size_t bytes = static_cast<size_t>(count) * sizeof(double);
    auto* sx = static_cast<double*>(kmsc_New(bytes, frame.slot()));
    auto* sy = sx ? static_cast<double*>(kmsc_New(bytes, frame.slot())) : nullptr;
    if (sy == nullptr) {
      kmsc_HeapFree(sx);
      return frame.calleeFailed(__LINE__, "kmsc_New"), 0;
    }
    std::memcpy(sx, x, bytes);
    std::memcpy(sy, y, bytes);
    int ok = 1;
    for (int32_t i = 0; ok && i < xform->count; ++i) {
      const Kxfr_Node& node = xform->nodes[i];
      if (!node.forward(node.data, sx, sy, count, frame.slot())) {
        frame.fail(__LINE__, "Node %d (kind %d) failed", i, node.kind);
        ok = 0;
      }
    }
    if (ok) {
      std::memcpy(x, sx, bytes);
      std::memcpy(y, sy, bytes);
    }
    kmsc_HeapFree(sx);
    kmsc_HeapFree(sy);
    return ok;
  });
}

Kxfr_XForm* kxfr_XFormCreateFromUnits(int32_t flags, const char* fromUnits, const char* toUnits,
                                      Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Kxfr_XForm* {
    static const char* kLabel = "kxfr_XFormCreateFromUnits";
    KerrFrame frame(kLabel, err);
    if (flags != 0) return frame.fail(__LINE__, "Args"), nullptr;
    if (fromUnits == nullptr || toUnits == nullptr || kstr_Eqic(fromUnits, "other") ||
        kstr_Eqic(toUnits, "other") || kstr_Eqic(fromUnits, toUnits))
      return affineChain(nullptr, kKxfrIdentity, frame);
    double one = 1.0, factor = 0.0;
    if (!kcvt_UnitsConvertByName(&one, fromUnits, &factor, toUnits, 1, frame.slot()))
      return frame.calleeFailed(__LINE__, "kcvt_UnitsConvertByName"), nullptr;
    return chainThenNode(nullptr, kxfrUnitsPrototype(&factor), frame);
  });
}

Kxfr_XForm* kxfr_XFormCreateWithNode(const Kxfr_XForm* before, const Kxfr_Node* node,
                                     Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> Kxfr_XForm* {
    static const char* kLabel = "kxfr_XFormCreateWithNode";
    KerrFrame frame(kLabel, err);
    if (!usableNode(node)) return frame.fail(__LINE__, "Args"), nullptr;
    return chainThenNode(before, *node, frame);
  });
}

int kxfr_XFormNodeCount(const Kxfr_XForm* xform) {
  return kerrGuard(__func__, nullptr, 0, [&]() -> int { return xform ? xform->count : 0; });
}

int32_t kxfr_XFormNodeKind(const Kxfr_XForm* xform, int32_t index) {
  return kerrGuard(__func__, nullptr, 0, [&]() -> int32_t {
    if (xform == nullptr || index < 0 || index >= xform->count) return 0;
    return xform->nodes[index].kind;
  });
}

int kxfr_XFormIsIdentity(const Kxfr_XForm* xform, double tolerance) {
  return kerrGuard(__func__, nullptr, 0, [&]() -> int {
    double k[6];
    if (xform == nullptr || !(tolerance >= 0) || !collapse(xform, k)) return 0;
    for (int i = 0; i < 6; ++i)
      if (!(std::fabs(k[i] - kKxfrIdentity[i]) <= tolerance)) return 0;
    return 1;
  });
}

}  // extern "C"
