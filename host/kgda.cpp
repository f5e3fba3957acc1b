#include "kgda.h"
#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kmsc.h"

#include <cmath>
#include <cstddef>
#include <limits>

namespace {

// Address of (r, c), or null when the record or the index is unusable.
unsigned char* elementAddress(const KgdaBaseData* data, int32_t r, int32_t c) {
  if (data == nullptr || data->data == nullptr) return nullptr;
  if (r < 0 || c < 0 || r >= data->rows || c >= data->columns) return nullptr;
  if (kmsc_PixelTypeBytes(data->pixelType) == 0) return nullptr;
  return static_cast<unsigned char*>(data->data) + r * data->rowStride + c * data->columnStride;
}

}  // namespace

extern "C" {

KgdaBaseData* kgda_BaseDataCreate(int32_t rows, int32_t columns, int32_t pixelType, int32_t rank,
                                  int32_t flags, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> KgdaBaseData* {
    static const char* kLabel = "kgda_BaseDataCreate";
    KerrFrame frame(kLabel, err);
    int32_t elementBytes = kmsc_PixelTypeBytes(pixelType);
    if (rows < 0 || columns < 0 || elementBytes == 0 || (rank != 1 && rank != 2) || flags != 0)
      return frame.fail(__LINE__, "Args"), nullptr;
    if (rank == 1 && rows > 1 && columns > 1) return frame.fail(__LINE__, "Args"), nullptr;

    // rows * columns fits in 64 bits (both below 2^31); times the element size
    // it may not, and the heap takes at most half the address space.
    uint64_t values = static_cast<uint64_t>(rows) * static_cast<uint64_t>(columns);
    const uint64_t limit = std::numeric_limits<size_t>::max() / 2;
    if (values > limit / static_cast<uint64_t>(elementBytes))
      return frame.fail(__LINE__, "Matrix too large (%d x %d)", rows, columns), nullptr;
    uint64_t bytes = values * static_cast<uint64_t>(elementBytes);

    auto* record = static_cast<KgdaBaseData*>(kmsc_New(sizeof(KgdaBaseData), frame.slot()));
    if (record == nullptr) return frame.calleeFailed(__LINE__, "kmsc_New"), nullptr;
    record->data = kmsc_New(static_cast<size_t>(bytes), frame.slot());
    if (record->data == nullptr) {
      kmsc_HeapFree(record);
      return frame.calleeFailed(__LINE__, "kmsc_New"), nullptr;
    }
    record->rows = rows;
    record->columns = columns;
    record->pixelType = pixelType;
    record->rank = rank;
    record->columnStride = elementBytes;
    record->rowStride = static_cast<int64_t>(columns) * elementBytes;
    return record;
  });
}

void kgda_BaseDataDelete(KgdaBaseData** data, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "kgda_BaseDataDelete";
    KerrFrame frame(kLabel, err);
    if (data == nullptr || *data == nullptr) return;
    kmsc_HeapFree((*data)->data);
    kmsc_HeapFree(*data);
    *data = nullptr;
  });
}

double kgda_BaseDataGet(const KgdaBaseData* data, int32_t r, int32_t c) {
  return kerrGuard(__func__, nullptr, std::nan(""), [&]() -> double {
    const unsigned char* address = elementAddress(data, r, c);
    double value = std::numeric_limits<double>::quiet_NaN();
    if (address == nullptr) return value;
    if (!kmsc_AddressOf_kpxm_Convert()(data->pixelType, address, KMSC_PIXEL_F64, &value, 1))
      return std::numeric_limits<double>::quiet_NaN();
    return value;
  });
}

int kgda_BaseDataSet(KgdaBaseData* data, int32_t r, int32_t c, double v) {
  return kerrGuard(__func__, nullptr, 0, [&]() -> int {
    unsigned char* address = elementAddress(data, r, c);
    if (address == nullptr) return 0;
    return kmsc_AddressOf_kpxm_Convert()(KMSC_PIXEL_F64, &v, data->pixelType, address, 1) ? 1 : 0;
  });
}

int64_t kgda_BaseDataValueCount(const KgdaBaseData* data) {
  return kerrGuard(__func__, nullptr, 0, [&]() -> int64_t {
    if (data == nullptr || data->rows <= 0 || data->columns <= 0) return 0;
    return static_cast<int64_t>(data->rows) * data->columns;
  });
}

}  // extern "C"
