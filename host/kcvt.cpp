#include "kcvt.h"
#include "kerr_guard.h"
#include "kcvt_tables.h"
#include "kerr_frame.h"

#include <cstddef>

extern "C" {

int kcvt_UnitsKind(const char* name) {
  return kerrGuard(__func__, nullptr, 0, [&]() -> int {
    const KcvtUnit* unit = kcvtFindUnit(name);
    return unit ? unit->kind : KCVT_UNKNOWN;
  });
}

int kcvt_UnitsFactor(const char* name, double* toBase) {
  return kerrGuard(__func__, nullptr, 0, [&]() -> int {
    const KcvtUnit* unit = kcvtFindUnit(name);
    if (unit == nullptr) return KCVT_UNKNOWN;
    if (toBase != nullptr) *toBase = unit->factor;
    return unit->kind;
  });
}

int32_t kcvt_UnitsEpsgCode(const char* name) {
  return kerrGuard(__func__, nullptr, 0, [&]() -> int32_t {
    const KcvtUnit* unit = kcvtFindUnit(name);
    return unit ? unit->epsg : 0;
  });
}

int kcvt_UnitsConvertByName(const double* values, const char* fromUnits, double* results,
                            const char* toUnits, int32_t count, Kerr_Report** err) {
  return kerrGuard(__func__, err, 0, [&]() -> int {
    static const char* kLabel = "kcvt_UnitsConvertByName";
    KerrFrame frame(kLabel, err);
    if (fromUnits == nullptr || toUnits == nullptr || count < 0 ||
        (count > 0 && (values == nullptr || results == nullptr)))
      return frame.fail(__LINE__, "Args"), 0;
    const KcvtUnit* from = kcvtFindUnit(fromUnits);
    if (from == nullptr) return frame.fail(__LINE__, "Unknown units %s", fromUnits), 0;
    const KcvtUnit* to = kcvtFindUnit(toUnits);
    if (to == nullptr) return frame.fail(__LINE__, "Unknown units %s", toUnits), 0;
    if (from->kind != to->kind)
      return frame.fail(__LINE__, "Incompatible units %s and %s", fromUnits, toUnits), 0;
    // Through the base unit: multiplying into the base first keeps conversions
    // to the base unit exact to one rounding.
    for (int32_t i = 0; i < count; ++i) {
      double value = values[i];
      results[i] = from->factor == to->factor ? value : value * from->factor / to->factor;
    }
    return 1;
  });
}

int kcvt_UnitsTypeCompatibilityCheckByName(const char* a, const char* b, Kerr_Report** err) {
  return kerrGuard(__func__, err, 0, [&]() -> int {
    static const char* kLabel = "kcvt_UnitsTypeCompatibilityCheckByName";
    KerrFrame frame(kLabel, err);
    const KcvtUnit* first = kcvtFindUnit(a);
    if (first == nullptr) return frame.fail(__LINE__, "Unknown units %s", a ? a : "(null)"), 0;
    const KcvtUnit* second = kcvtFindUnit(b);
    if (second == nullptr) return frame.fail(__LINE__, "Unknown units %s", b ? b : "(null)"), 0;
    return first->kind == second->kind ? 1 : 0;
  });
}

}  // extern "C"
