// Whether a transform or a projection can be stored in a GeoTIFF file, and the
// GeoTIFF class of a host projection.
#include "kgtf_internal.h"

#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kmsc.h"

namespace {

enum : int32_t {
  kGeographic = 0,
  kEquidistantConic = 8,
  kGeneralVerticalNearSide = 15,
  kObliqueMercatorHotine = 20,
  kSpaceObliqueMercator = 21,
  kModifiedTransverseMercator = 22,
  kEosatSom = 23,
  kLastContiguous = 24,
  kGaussKruger = 36,
  kHostSpecific55 = 55,
};
constexpr int32_t kNotWritable = -1;
constexpr int32_t kRsoFamily = 999;

bool numberIsWritable(int32_t n) {
  bool inRange =
      (n >= kGeographic && n <= kLastContiguous) || n == kGaussKruger || n == kHostSpecific55;
  bool excluded = n == kGeneralVerticalNearSide || n == kSpaceObliqueMercator ||
                  n == kModifiedTransverseMercator || n == kEosatSom;
  return inRange && !excluded;
}

// The class of an existing parameter record.
int32_t codeOfRecord(const Kprj_ProParameters* pro) {
  if (kstr_Eqnic(pro->name, "rso", 3)) return kRsoFamily;
  bool internal = pro->type == 0 && (pro->externalName == nullptr || pro->externalName[0] == '\0');
  int32_t n = pro->number;
  if (!internal || !numberIsWritable(n) || pro->parameters == nullptr) return kNotWritable;
  const double* p = pro->parameters;
  // An Equidistant Conic needs its second standard parallel, unless it has
  // only one (parameter 5 equal to parameter 2).
  if (n == kEquidistantConic && !(p[8] != 0.0 || p[5] == p[2])) return kNotWritable;
  if (n == kObliqueMercatorHotine && !(p[12] > 0.0)) return kNotWritable;
  return n;
}

}  // namespace

int32_t ProjectionCodeGet(const Kprj_ProParameters* pro, const char* name) {
  if (pro != nullptr) return codeOfRecord(pro);
  Kprj_ProParameters* temporary = kprj_ProParametersCreateByName(name, nullptr);
  if (temporary == nullptr) return kNotWritable;
  int32_t code = codeOfRecord(temporary);
  kprj_ProParametersFree(&temporary, nullptr);
  return code;
}

extern "C" {

int32_t kgtf_XFormIsWritable(const Kxfr_XForm* xform) {
  return kerrGuard(__func__, nullptr, 0, [&]() -> int32_t {
    static const char* kLabel = "kgtf_XFormIsWritable";
    KerrFrame frame(kLabel, nullptr, KERR_PRINT_VSL);
    double coefficients[6];
    if (kxfr_XFormAffineExtractIfPresentX(xform, coefficients, 1, frame.slot()) != 0) return 1;
    if (frame.hasReport()) {
      frame.fail(__LINE__, "%s", "");
      frame.showAndDrop();
    }
    return 0;
  });
}

int32_t kgtf_ProjectionIsWritable(const _kprj_MapProjectionEx* projection) {
  return kerrGuard(__func__, nullptr, 0, [&]() -> int32_t {
    static const char* kLabel = "kgtf_ProjectionIsWritable";
    if (projection == nullptr) return 1;
    KerrFrame frame(kLabel, nullptr, KERR_PRINT_VSL);
    _kprj_MapProjectionEx* copy = kprj_ProjectionCopy(projection, 0, frame.slot());
    if (copy == nullptr) {
      frame.calleeFailed(__LINE__, "kprj_ProjectionCopy");
      frame.showAndDrop();
      return 0;
    }
    int32_t writable = 0;
    if (kprj_MapProjectionConvert(copy, "Kprj_ProParameters") != 0) {
      const auto* pro = static_cast<const Kprj_ProParameters*>(
          kprj_MapProjectionCSRGet(copy, "Kprj_ProParameters"));
      writable = pro != nullptr && ProjectionCodeGet(pro, nullptr) >= 0;
    }
    kprj_ProjectionFree(&copy, nullptr);
    return writable;
  });
}

}  // extern "C"
