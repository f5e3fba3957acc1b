/* LegacyHelperTemplate: the owning wrapper of one kprj record pointer (C++).
 *
 * LegacyHelperTemplate<Record, Text> holds one map projection or elevation
 * record in the text form that Text names (KtxtTextA narrow, KtxtTextU wide)
 * and frees it with the matching host function when it is reset or
 * destroyed:
 *   _kprj_MapProjectionEx + KtxtTextA  kprj_ProjectionFree
 *   _kprj_MapProjectionEx + KtxtTextU  kprj_ProjectionFreeU
 *   _kprj_ElevationInfo   + KtxtTextA  kprj_ElevationInfoFree
 *   _kprj_ElevationInfo   + KtxtTextU  kprj_ElevationInfoFreeU
 * Other combinations do not compile. The wrapper is movable, not copyable.
 *
 * For out parameters, `&helper` (or helper.address()) frees what the helper
 * holds and gives the address of its now null pointer:
 *   LegacyHelperTemplate<_kprj_ElevationInfo, KtxtTextA> info;
 *   kgtf_GetElevationInfo(tif, &info, &err);
 */
#ifndef KPRJ_LEGACY_H
#define KPRJ_LEGACY_H

#include <memory>

#include "kprj.h"
#include "ktxt.h"

template <typename Record, typename Text>
struct LegacyHelperFree;  // no free function for this pair

template <>
struct LegacyHelperFree<_kprj_MapProjectionEx, KtxtTextA> {
  static void free(_kprj_MapProjectionEx** record) { kprj_ProjectionFree(record, nullptr); }
};
template <>
struct LegacyHelperFree<_kprj_MapProjectionEx, KtxtTextU> {
  static void free(_kprj_MapProjectionEx** record) { kprj_ProjectionFreeU(record, nullptr); }
};
template <>
struct LegacyHelperFree<_kprj_ElevationInfo, KtxtTextA> {
  static void free(_kprj_ElevationInfo** record) { kprj_ElevationInfoFree(record, nullptr); }
};
template <>
struct LegacyHelperFree<_kprj_ElevationInfo, KtxtTextU> {
  static void free(_kprj_ElevationInfo** record) { kprj_ElevationInfoFreeU(record, nullptr); }
};

template <typename Record, typename Text>
class LegacyHelperTemplate {
 public:
  LegacyHelperTemplate() = default;
  /* Takes ownership of `record` (may be null). */
  explicit LegacyHelperTemplate(Record* record) : record_(record) {}
  ~LegacyHelperTemplate() { reset(); }

  LegacyHelperTemplate(const LegacyHelperTemplate&) = delete;
  LegacyHelperTemplate& operator=(const LegacyHelperTemplate&) = delete;
  LegacyHelperTemplate(LegacyHelperTemplate&& other) noexcept : record_(other.release()) {}
  LegacyHelperTemplate& operator=(LegacyHelperTemplate&& other) noexcept {
    // operator& is taken for out parameters, hence addressof.
    if (this != std::addressof(other)) reset(other.release());
    return *this;
  }

  Record* get() const { return record_; }
  Record* operator->() const { return record_; }
  explicit operator bool() const { return record_ != nullptr; }

  /* Frees the held record and takes `record` instead. */
  void reset(Record* record = nullptr) {
    if (record == record_) return;
    Record* old = record_;
    record_ = record;
    if (old != nullptr) LegacyHelperFree<Record, Text>::free(&old);
  }
  /* Gives the record to the caller, who frees it. */
  Record* release() {
    Record* out = record_;
    record_ = nullptr;
    return out;
  }
  /* Frees the held record; the address of the null pointer, to fill. */
  Record** address() {
    reset();
    return &record_;
  }
  Record** operator&() { return address(); }

 private:
  Record* record_ = nullptr;
};

#endif
