#include "kerr_guard.h"
#include "kmsc.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>
#include <algorithm>

namespace {

// The header keeps the requested size and keeps the payload 16-byte aligned.
struct alignas(16) BlockHeader {
  size_t size;
};

constexpr size_t kMaxBlock = std::numeric_limits<size_t>::max() / 2;

BlockHeader* headerOf(const void* block) {
  return reinterpret_cast<BlockHeader*>(const_cast<char*>(static_cast<const char*>(block)) -
                                        sizeof(BlockHeader));
}

constexpr int32_t kBitsPerPixel[KMSC_PIXEL_TYPE_COUNT] = {1, 2, 4, 8, 8, 16, 16, 32, 32, 32, 64};

template <typename T>
double load(const unsigned char* p) {
  T value;
  std::memcpy(&value, p, sizeof value);
  return static_cast<double>(value);
}

template <typename T>
T clampRound(double value) {
  if (std::isnan(value)) return 0;
  double rounded = std::nearbyint(value);
  if (rounded <= static_cast<double>(std::numeric_limits<T>::min()))
    return std::numeric_limits<T>::min();
  if (rounded >= static_cast<double>(std::numeric_limits<T>::max()))
    return std::numeric_limits<T>::max();
  return static_cast<T>(rounded);
}

// Integers round to nearest and clamp to their range; floats convert as C does.
template <typename T>
void store(double value, unsigned char* p) {
  T converted;
  if constexpr (std::is_floating_point_v<T>)
    converted = static_cast<T>(value);
  else
    converted = clampRound<T>(value);
  std::memcpy(p, &converted, sizeof converted);
}

// Sub-byte values live one per byte, in the low bits.
void storeBits(double value, unsigned bits, unsigned char* p) {
  *p = std::min(clampRound<uint8_t>(value), static_cast<uint8_t>((1u << bits) - 1));
}

double loadValue(int32_t type, const unsigned char* p) {
  switch (type) {
    case KMSC_PIXEL_U1:
      return *p & 1u;
    case KMSC_PIXEL_U2:
      return *p & 3u;
    case KMSC_PIXEL_U4:
      return *p & 15u;
    case KMSC_PIXEL_U8:
      return load<uint8_t>(p);
    case KMSC_PIXEL_S8:
      return load<int8_t>(p);
    case KMSC_PIXEL_U16:
      return load<uint16_t>(p);
    case KMSC_PIXEL_S16:
      return load<int16_t>(p);
    case KMSC_PIXEL_U32:
      return load<uint32_t>(p);
    case KMSC_PIXEL_S32:
      return load<int32_t>(p);
    case KMSC_PIXEL_F32:
      return load<float>(p);
    default:
      return load<double>(p);
  }
}

void storeValue(int32_t type, double value, unsigned char* p) {
  switch (type) {
    case KMSC_PIXEL_U1:
      return storeBits(value, 1, p);
    case KMSC_PIXEL_U2:
      return storeBits(value, 2, p);
    case KMSC_PIXEL_U4:
      return storeBits(value, 4, p);
    case KMSC_PIXEL_U8:
      return store<uint8_t>(value, p);
    case KMSC_PIXEL_S8:
      return store<int8_t>(value, p);
    case KMSC_PIXEL_U16:
      return store<uint16_t>(value, p);
    case KMSC_PIXEL_S16:
      return store<int16_t>(value, p);
    case KMSC_PIXEL_U32:
      return store<uint32_t>(value, p);
    case KMSC_PIXEL_S32:
      return store<int32_t>(value, p);
    case KMSC_PIXEL_F32:
      return store<float>(value, p);
    default:
      return store<double>(value, p);
  }
}

int convertPixels(int32_t fromType, const void* from, int32_t toType, void* to, size_t count) {
  int32_t fromBytes = kmsc_PixelTypeBytes(fromType);
  int32_t toBytes = kmsc_PixelTypeBytes(toType);
  if (fromBytes == 0 || toBytes == 0 || (count > 0 && (from == nullptr || to == nullptr))) return 0;
  const auto* source = static_cast<const unsigned char*>(from);
  auto* target = static_cast<unsigned char*>(to);
  for (size_t i = 0; i < count; ++i)
    storeValue(toType, loadValue(fromType, source + i * fromBytes), target + i * toBytes);
  return 1;
}

}  // namespace

extern "C" {

void* kmsc_HeapMalloc(size_t size) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> void* {
    if (size > kMaxBlock) return nullptr;
    auto* header =
        static_cast<BlockHeader*>(std::calloc(1, sizeof(BlockHeader) + (size ? size : 1)));
    if (header == nullptr) return nullptr;
    header->size = size;
    return header + 1;
  });
}

void kmsc_HeapFree(void* block) {
  kerrGuardVoid(__func__, nullptr, [&] {
    if (block != nullptr) std::free(headerOf(block));
  });
}

void* kmsc_HeapRealloc(void* block, size_t size) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> void* {
    if (block == nullptr) return kmsc_HeapMalloc(size);
    if (size > kMaxBlock) return nullptr;
    size_t oldSize = headerOf(block)->size;
    auto* header = static_cast<BlockHeader*>(
        std::realloc(headerOf(block), sizeof(BlockHeader) + (size ? size : 1)));
    if (header == nullptr) return nullptr;
    if (size > oldSize)
      std::memset(reinterpret_cast<char*>(header + 1) + oldSize, 0, size - oldSize);
    header->size = size;
    return header + 1;
  });
}

size_t kmsc_HeapSize(const void* block) {
  return kerrGuard(__func__, nullptr, 0,
                   [&]() -> size_t { return block ? headerOf(block)->size : 0; });
}

void* kmsc_New(size_t size, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> void* {
    void* block = kmsc_HeapMalloc(size);
    if (block == nullptr && err != nullptr)
      *err = kerr_CreateErrorReport("kmsc_New", __LINE__, KERR_ERROR, *err,
                                    "Out of memory (%zu bytes)", size);
    return block;
  });
}

Kmsc_ImageMetadata* kmsc_ImageMetadataCreate(Kerr_Report** err) {
  return static_cast<Kmsc_ImageMetadata*>(kmsc_New(sizeof(Kmsc_ImageMetadata), err));
}

void kmsc_ImageMetadataFree(Kmsc_ImageMetadata** metadata) {
  kerrGuardVoid(__func__, nullptr, [&] {
    if (metadata == nullptr || *metadata == nullptr) return;
    kmsc_HeapFree((*metadata)->classification);
    kmsc_HeapFree((*metadata)->description);
    kmsc_HeapFree((*metadata)->status);
    kmsc_HeapFree(*metadata);
    *metadata = nullptr;
  });
}

void* kmsc_MemDup(const void* source, size_t size) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> void* {
    if (source == nullptr) return nullptr;
    void* copy = kmsc_HeapMalloc(size);
    if (copy != nullptr && size > 0) std::memcpy(copy, source, size);
    return copy;
  });
}

void* kmsc_MemCpy(void* destination, const void* source, size_t size) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> void* {
    if (size > 0) std::memmove(destination, source, size);
    return destination;
  });
}

const int32_t* kmsc_AddressOf_kgda_NumBitsPerPixel(void) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> const int32_t* { return kBitsPerPixel; });
}

Kpxm_ConvertFunc kmsc_AddressOf_kpxm_Convert(void) {
  return kerrGuard(__func__, nullptr, nullptr, [&]() -> Kpxm_ConvertFunc { return convertPixels; });
}

int32_t kmsc_PixelTypeBytes(int32_t pixelType) {
  return kerrGuard(__func__, nullptr, 0, [&]() -> int32_t {
    if (pixelType < 0 || pixelType >= KMSC_PIXEL_TYPE_COUNT) return 0;
    return kBitsPerPixel[pixelType] < 8 ? 1 : kBitsPerPixel[pixelType] / 8;
  });
}

}  // extern "C"
