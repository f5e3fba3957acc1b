// Owning wrappers of host objects for tests, and point matrices.
#ifndef KTIF_HOST_OWNERS_H
#define KTIF_HOST_OWNERS_H

#include <memory>
#include <vector>

#include "kerr.h"
#include "kgda.h"
#include "kxfr.h"

// Owns a host object that `Delete(&object, nullptr)` frees.
template <typename T, void (*Delete)(T**, Kerr_Report**)>
struct HostDeleter {
  void operator()(T* object) const { Delete(&object, nullptr); }
};
using Matrix = std::unique_ptr<KgdaBaseData, HostDeleter<KgdaBaseData, kgda_BaseDataDelete>>;
using XForm = std::unique_ptr<Kxfr_XForm, HostDeleter<Kxfr_XForm, kxfr_XFormFree>>;

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
