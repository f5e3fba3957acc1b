// Owners of host objects for tests, so that a failing ASSERT leaks nothing,
// and point matrices.
#ifndef KTIF_HOST_OWNERS_H
#define KTIF_HOST_OWNERS_H

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "kerr.h"
#include "kgda.h"
#include "kmsc.h"
#include "kprj.h"
#include "kstr.h"
#include "kxfr.h"

// Frees an object the way its free function wants it: `Free(&object,
// nullptr)`, `Free(&object)`, or `Free(object)` for heap blocks.
template <auto Free>
struct HostFree {
  template <typename T>
  void operator()(T* object) const {
    if constexpr (std::is_same_v<decltype(Free), void (*)(void*)>)
      Free(object);
    else if constexpr (std::is_invocable_v<decltype(Free), T**, Kerr_Report**>)
      Free(&object, nullptr);
    else
      Free(&object);
  }
};
template <typename T, auto Free>
using Owned = std::unique_ptr<T, HostFree<Free>>;

using Report = Owned<Kerr_Report, kerr_DeleteErrorReportEx>;
using HeapText = Owned<char, kmsc_HeapFree>;
using StringList = Owned<KstrStringList, kstr_StringListDelete>;
using Matrix = Owned<KgdaBaseData, kgda_BaseDataDelete>;
using XForm = Owned<Kxfr_XForm, kxfr_XFormFree>;
using Pro = Owned<Kprj_ProParameters, kprj_ProParametersFree>;
using Projection = Owned<_kprj_MapProjectionEx, kprj_ProjectionFree>;
using Elevation = Owned<_kprj_ElevationInfo, kprj_ElevationInfoFree>;

// An out-parameter that lands in an owner once the call returns (whatever
// the owner held is freed): `f(out(report))`.
template <typename Owner>
class OutParameter {
 public:
  explicit OutParameter(Owner& owner) : owner_(owner) {}
  ~OutParameter() { owner_.reset(raw_); }
  OutParameter(const OutParameter&) = delete;
  OutParameter& operator=(const OutParameter&) = delete;
  operator typename Owner::pointer *() { return &raw_; }

 private:
  Owner& owner_;
  typename Owner::pointer raw_ = nullptr;
};
template <typename Owner>
OutParameter<Owner> out(Owner& owner) {
  return OutParameter<Owner>(owner);
}

// The outermost message of the report held ("" when none); the slot is emptied.
inline std::string take(Report& report) {
  const std::string text = report ? kerr_ReportMessage(report.get()) : "";
  report.reset();
  return text;
}

// A 2 x n matrix of doubles: row 0 the xs, row 1 the ys.
inline Matrix points(const std::vector<double>& xs, const std::vector<double>& ys) {
  Matrix m(kgda_BaseDataCreate(2, static_cast<int32_t>(xs.size()), 10, 2, 0, nullptr));
  for (size_t i = 0; i < xs.size(); ++i) {
    kgda_BaseDataSet(m.get(), 0, static_cast<int32_t>(i), xs[i]);
    kgda_BaseDataSet(m.get(), 1, static_cast<int32_t>(i), ys[i]);
  }
  return m;
}

#endif
