// Internal pieces of the EPSG translator: PROJ handle ownership, failures, and
// the mapping between PROJ conversions and host parameter slots.
#ifndef EPSG_INTERNAL_H
#define EPSG_INTERNAL_H

#include <proj.h>

#include <memory>
#include <string>

#include "kprj.h"

namespace kepsg {

struct PjDelete {
  void operator()(PJ* object) const { proj_destroy(object); }
};
struct PjListDelete {
  void operator()(PJ_OBJ_LIST* list) const { proj_list_destroy(list); }
};
using PjPtr = std::unique_ptr<PJ, PjDelete>;
using PjListPtr = std::unique_ptr<PJ_OBJ_LIST, PjListDelete>;

/* Throws std::runtime_error with the formatted text. */
[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

/* A host projection number, zone and parameter slots. */
struct HostProjection {
  int32_t number = 0;
  int32_t zone = 0;
  double parameters[KPRJ_PARAMETER_COUNT] = {};
};

/* The host form of a projected system's conversion, on an ellipsoid of axes
 * a and b (meters). Throws when the host cannot represent it exactly. With
 * `zones`, a UTM zone conversion gives the UTM form (number 1). */
HostProjection conversionToHost(PJ_CONTEXT* context, const PJ* conversion, double a, double b,
                                bool zones);

/* The same conversion in the other parameter set of its method (Mercator
 * variant B to A, Lambert Conic Conformal 2SP to 1SP, Hotine variant B to A)
 * on an ellipsoid of axes
 * a and b, or null for other methods. */
PjPtr otherMethod(PJ_CONTEXT* context, const PJ* conversion, double a, double b);

/* The PROJ conversion a host record describes. Throws for numbers and
 * parameter values that have no such conversion. */
PjPtr hostToConversion(PJ_CONTEXT* context, const Kprj_ProParameters& pro);

/* Equal within a relative tolerance (absolute near zero). */
bool nearlyEqual(double a, double b, double tolerance);

}  // namespace kepsg

#endif
