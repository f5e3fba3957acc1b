// Pixel unpacking and conversions between the stored TIFF layout (packed
// sub-byte samples, interleaved layers, WhiteIsZero) and the host layout (one
// layer, one element per pixel, 0 is black), and the one-block reader.
#include <tiffio.h>

#include <array>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <tmmintrin.h>
#endif

#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kmsc.h"
#include "ktif_internal.h"

namespace {

// Byte-wise tables: entry b holds the 8 / bits pixels that byte b packs, most
// significant first, one per byte.
template <int Bits>
struct UnpackTable {
  static constexpr int kPerByte = 8 / Bits;
  unsigned char pixels[256][kPerByte];
  constexpr UnpackTable() : pixels() {
    for (int b = 0; b < 256; ++b)
      for (int k = 0; k < kPerByte; ++k)
        pixels[b][k] = static_cast<unsigned char>((b >> (8 - Bits * (k + 1))) & ((1 << Bits) - 1));
  }
};

constexpr UnpackTable<1> kUnpack1;
constexpr UnpackTable<2> kUnpack2;

template <int Bits>
void unpackWith(const UnpackTable<Bits>& table, unsigned char* out, const unsigned char* in,
                uint32_t pixels) {
  constexpr int n = UnpackTable<Bits>::kPerByte;
  const uint32_t whole = pixels / n;
  for (uint32_t i = 0; i < whole; ++i, out += n) std::memcpy(out, table.pixels[in[i]], n);
  const uint32_t rest = pixels % n;
  if (rest != 0) std::memcpy(out, table.pixels[in[whole]], rest);
}

// 4-bit rows are the common sub-byte case, and a byte-wise table moves them at
// one byte per step; splitting whole vectors into high and low nibbles and
// interleaving those is several times faster.
void unpack4(unsigned char* out, const unsigned char* in, uint32_t pixels) {
  const uint32_t whole = pixels / 2;
  uint32_t i = 0;
#if defined(__SSE2__)
  const __m128i nibble = _mm_set1_epi8(0x0F);
  for (; i + 16 <= whole; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const __m128i high = _mm_and_si128(_mm_srli_epi16(v, 4), nibble);
    const __m128i low = _mm_and_si128(v, nibble);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi8(high, low));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 16), _mm_unpackhi_epi8(high, low));
  }
#endif
  for (; i < whole; ++i) {
    out[2 * i] = in[i] >> 4;
    out[2 * i + 1] = in[i] & 15;
  }
  if (pixels % 2 != 0) out[2 * whole] = in[whole] >> 4;
}

template <int Bits>
void packWith(unsigned char* out, const unsigned char* in, uint32_t pixels) {
  constexpr int n = 8 / Bits;
  constexpr unsigned mask = (1u << Bits) - 1;
  const uint32_t whole = pixels / n;
  for (uint32_t i = 0; i < whole; ++i, in += n) {
    unsigned byte = 0;
    for (int k = 0; k < n; ++k) byte |= (in[k] & mask) << (8 - Bits * (k + 1));
    out[i] = static_cast<unsigned char>(byte);
  }
  const uint32_t rest = pixels % n;
  if (rest != 0) {
    unsigned byte = 0;  // bits no pixel fills stay 0
    for (uint32_t k = 0; k < rest; ++k) byte |= (in[k] & mask) << (8 - Bits * (k + 1));
    out[whole] = static_cast<unsigned char>(byte);
  }
}

// Elements move as raw bit patterns; memcpy of a fixed size is one load or
// store and leaves alignment to the compiler.
template <size_t Size>
void copyStrided(uint32_t count, unsigned char* to, size_t toStep, const unsigned char* from,
                 size_t fromStep) {
  for (uint32_t k = 0; k < count; ++k, to += toStep, from += fromStep) std::memcpy(to, from, Size);
}

// Copies `count` elements of 1, 2, 4 or 8 bytes between strided positions;
// other element sizes copy nothing.
void copyElements(int32_t elementBytes, uint32_t count, unsigned char* to, size_t toStep,
                  const unsigned char* from, size_t fromStep) {
  switch (elementBytes) {
    case 1:
      return copyStrided<1>(count, to, toStep, from, fromStep);
    case 2:
      return copyStrided<2>(count, to, toStep, from, fromStep);
    case 4:
      return copyStrided<4>(count, to, toStep, from, fromStep);
    case 8:
      return copyStrided<8>(count, to, toStep, from, fromStep);
    default:
      return;
  }
}

#if defined(__x86_64__)
// One byte of every Stride: one 8-bit layer of RGB or RGBA pixels, the layer a
// host reads most. A byte shuffle picks 16 of them out of 16 x Stride bytes at
// once; a strided copy moves one byte per step. Returns the elements done,
// a multiple of 16; the loads never reach past from[Stride * count - 1].
template <int Stride>
__attribute__((target("ssse3"))) uint32_t everyNthByte(uint32_t count, unsigned char* to,
                                                       const unsigned char* from) {
  __m128i picks[Stride];
  for (int v = 0; v < Stride; ++v) {
    alignas(16) signed char pick[16];
    for (int k = 0; k < 16; ++k) {
      const int at = Stride * k - 16 * v;
      pick[k] = static_cast<signed char>(at >= 0 && at < 16 ? at : -128);  // -128: a zero
    }
    picks[v] = _mm_load_si128(reinterpret_cast<const __m128i*>(pick));
  }
  uint32_t k = 0;
  for (; k + 16 <= count; k += 16, from += 16 * Stride) {
    __m128i bytes =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from)), picks[0]);
    for (int v = 1; v < Stride; ++v)
      bytes = _mm_or_si128(
          bytes, _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 16 * v)),
                                  picks[v]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + k), bytes);
  }
  return k;
}

bool haveSsse3() {
  static const bool have = __builtin_cpu_supports("ssse3");
  return have;
}
#endif

template <typename T, typename F>
void invertElements(void* buffer, uint32_t count, F change) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  for (uint32_t k = 0; k < count; ++k, bytes += sizeof(T)) {
    T v;
    std::memcpy(&v, bytes, sizeof(T));
    v = static_cast<T>(change(v));
    std::memcpy(bytes, &v, sizeof(T));
  }
}

int64_t packedRowBytes(int64_t bits, int64_t pixels) {
  return (bits * pixels + 7) / 8;
}

// Capacity of the caller's block buffer: the host layout, with 16-bit
// elements for OPX images, whose 8-bit codes are expanded.
int64_t callerBufferBytes(const Ktif_File* handle) {
  return int64_t{handle->blockWidth} * handle->blockHeight * handle->bytesPerSample *
         (handle->isOPX ? 2 : 1);
}

}  // namespace

void unpackRow(int32_t bits, unsigned char* destination, const unsigned char* packed,
               uint32_t pixels) {
  if (destination == nullptr || packed == nullptr) return;
  switch (bits) {
    case 1:
      unpackWith(kUnpack1, destination, packed, pixels);
      break;
    case 2:
      unpackWith(kUnpack2, destination, packed, pixels);
      break;
    case 4:
      unpack4(destination, packed, pixels);
      break;
    default:
      break;
  }
}

namespace {

// Samples of 1, 2 or 4 bits never straddle a byte, so each is one shift and
// mask of the byte that holds it.
template <int Bits>
void packedExtractWith(uint32_t count, unsigned char* out, uint64_t first, const unsigned char* row,
                       uint32_t step) {
  constexpr unsigned kMask = (1u << Bits) - 1;
  uint64_t bit = first * Bits;
  const uint64_t stride = uint64_t{step} * Bits;
  for (uint32_t k = 0; k < count; ++k, bit += stride)
    out[k] = static_cast<unsigned char>((row[bit >> 3] >> (8 - Bits - (bit & 7))) & kMask);
}

}  // namespace

void packedLayerExtract(int32_t bits, uint32_t count, unsigned char* destination, uint64_t first,
                        const unsigned char* row, uint32_t samples) {
  if (destination == nullptr || row == nullptr || samples == 0) return;
  switch (bits) {
    case 1:
      return packedExtractWith<1>(count, destination, first, row, samples);
    case 2:
      return packedExtractWith<2>(count, destination, first, row, samples);
    case 4:
      return packedExtractWith<4>(count, destination, first, row, samples);
    default:
      return;
  }
}

void packRow(int32_t bits, unsigned char* packed, const unsigned char* source, uint32_t pixels) {
  if (packed == nullptr || source == nullptr) return;
  switch (bits) {
    case 1:
      packWith<1>(packed, source, pixels);
      break;
    case 2:
      packWith<2>(packed, source, pixels);
      break;
    case 4:
      packWith<4>(packed, source, pixels);
      break;
    default:
      break;
  }
}

void layerExtract(uint32_t count, void* destination, int32_t layer, const void* source,
                  int32_t samples, int32_t elementBytes) {
  if (destination == nullptr || source == nullptr || samples < 1 || layer < 0 || layer >= samples)
    return;
  auto* to = static_cast<unsigned char*>(destination);
  const auto* from = static_cast<const unsigned char*>(source) + size_t(layer) * elementBytes;
  const size_t stride = size_t(samples) * elementBytes;
  if (samples == 1 &&
      (elementBytes == 1 || elementBytes == 2 || elementBytes == 4 || elementBytes == 8)) {
    std::memcpy(to, from, size_t{count} * elementBytes);
    return;
  }
#if defined(__x86_64__)
  // The last element is left to the strided copy: the shuffle's loads from
  // a layer past the first would reach past the row's end.
  if (elementBytes == 1 && (samples == 3 || samples == 4) && count > 1 && haveSsse3()) {
    const uint32_t done =
        samples == 3 ? everyNthByte<3>(count - 1, to, from) : everyNthByte<4>(count - 1, to, from);
    to += done, from += size_t(done) * stride, count -= done;
  }
#endif
  copyElements(elementBytes, count, to, size_t(elementBytes), from, stride);
}

void layerInsert(uint32_t count, int32_t layer, const void* source, void* destination,
                 int32_t samples, int32_t elementBytes) {
  if (destination == nullptr || source == nullptr || samples < 1 || layer < 0 || layer >= samples)
    return;
  const auto* from = static_cast<const unsigned char*>(source);
  auto* to = static_cast<unsigned char*>(destination) + size_t(layer) * elementBytes;
  const size_t stride = size_t(samples) * elementBytes;
  copyElements(elementBytes, count, to, stride, from, size_t(elementBytes));
}

void ktif_Invert(void* buffer, int32_t bitsPerPixel, uint32_t count) {
  kerrGuardVoid(__func__, nullptr, [&] {
    static const char* kLabel = "ktif_Invert";
    switch (bitsPerPixel) {
      case 1:
        if (buffer) invertElements<uint8_t>(buffer, count, [](uint8_t v) { return 1 - v; });
        return;
      case 4:
        if (buffer) invertElements<uint8_t>(buffer, count, [](uint8_t v) { return 15 - v; });
        return;
      case 8:
        if (buffer) invertElements<uint8_t>(buffer, count, [](uint8_t v) { return ~v; });
        return;
      case 16:
        if (buffer) invertElements<uint16_t>(buffer, count, [](uint16_t v) { return ~v; });
        return;
      case 32:
        if (buffer) invertElements<uint32_t>(buffer, count, [](uint32_t v) { return ~v; });
        return;
      default: {
        // No slot to hand the report back in: it is shown and dropped.
        KerrFrame frame(kLabel, nullptr);
        frame.fail(__LINE__, "Bitspersample %d: not supported for inversion", bitsPerPixel);
        frame.showAndDrop();
        return;
      }
    }
  });
}

void ktif_ConvertToBip(Ktif_File* handle, int32_t layer, void* interleaved, const void* source,
                       uint32_t pixels) {
  kerrGuardVoid(__func__, nullptr, [&] {
    if (handle == nullptr) return;
    layerInsert(pixels, layer, source, interleaved, handle->samplesPerPixel,
                handle->bytesPerSample);
  });
}

unsigned char* ktif_HandleUnpackTo8BufferGet(Ktif_File* handle, Kerr_Report** err) {
  return kerrGuard(__func__, err, nullptr, [&]() -> unsigned char* {
    static const char* kLabel = "ktif_HandleUnpackTo8BufferGet";
    KerrFrame frame(kLabel, err);
    if (handle == nullptr) return frame.fail(__LINE__, "Args"), nullptr;
    if (handle->unpackBuffer != nullptr) return handle->unpackBuffer;
    if (handle->bitsPerSample >= 8) return nullptr;
    int64_t size;
    if (handle->tiff == nullptr) {
      size = handle->blockWidth < 0 || handle->blockHeight < 0
                 ? -1
                 : int64_t{handle->blockWidth} * handle->blockHeight;
    } else {
      size = TIFFIsTiled(handle->tiff) ? TIFFTileSize(handle->tiff) : TIFFStripSize(handle->tiff);
    }
    // The TIFF library answers 0 for sizes it cannot compute.
    void* buffer = size > 0 && uint64_t(size) <= SIZE_MAX ? kmsc_HeapMalloc(size_t(size)) : nullptr;
    if (buffer == nullptr) return frame.fail(__LINE__, "kmsc_New failed"), nullptr;
    handle->unpackBuffer = static_cast<unsigned char*>(buffer);
    return handle->unpackBuffer;
  });
}

Ktif_BlockCache* blockCacheCreate(Ktif_File* handle, Kerr_Report** err) {
  static const char* kLabel = "blockCacheCreate";
  KerrFrame frame(kLabel, err);
  if (handle == nullptr) return frame.fail(__LINE__, "Args"), nullptr;
  if (handle->interleaveCache != nullptr) return handle->interleaveCache;
  if (handle->samplesPerPixel < 2 || handle->planarConfig != 1) return nullptr;

  const int64_t pixels = int64_t{handle->blockWidth} * handle->blockHeight;
  const int64_t perPixel =
      int64_t{handle->bytesPerSample} * (handle->rgbaRead ? 4 : int64_t{handle->samplesPerPixel});
  // With both factors below 2^31 the data size stays below 2^62.
  const bool sane = handle->blockWidth > 0 && handle->blockHeight > 0 && pixels <= INT32_MAX &&
                    perPixel > 0 && perPixel <= INT32_MAX;
  auto* cache = static_cast<Ktif_BlockCache*>(kmsc_HeapMalloc(sizeof(Ktif_BlockCache)));
  void* data = sane && cache ? kmsc_HeapMalloc(size_t(pixels * perPixel)) : nullptr;
  if (data == nullptr) {
    kmsc_HeapFree(cache);
    return frame.fail(__LINE__, "kmsc_New failed"), nullptr;
  }
  cache->layerCount = handle->samplesPerPixel;
  cache->blockNumber = -1;
  cache->pixelCount = static_cast<int32_t>(pixels);
  cache->data = data;
  handle->interleaveCache = cache;
  return cache;
}

void ktif_RasterRead(Ktif_File* handle, int32_t layer, int32_t blockRow, int32_t blockColumn,
                     void* buffer, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "ktif_RasterRead";
    KerrFrame frame(kLabel, err);
    if (handle == nullptr || buffer == nullptr || handle->blockWidth <= 0 ||
        handle->blockHeight <= 0 || handle->bytesPerSample <= 0 || handle->bytesPerSample > 8 ||
        int64_t{handle->blockWidth} * handle->blockHeight > UINT32_MAX)
      return frame.fail(__LINE__, "Args");
    const int64_t callerBytes = callerBufferBytes(handle);  // at most 2^32 * 16
    if (handle->tiff == nullptr) {
      std::memset(
          buffer, 0,
          size_t(int64_t{handle->blockWidth} * handle->blockHeight * handle->bytesPerSample));
      return;
    }
    const int32_t samples = handle->samplesPerPixel;
    const int64_t x = int64_t{handle->blockWidth} * blockColumn;
    const int64_t y = int64_t{handle->blockHeight} * blockRow;
    if (layer < 0 || layer >= samples || blockRow < 0 || blockColumn < 0 || x > UINT32_MAX ||
        y > UINT32_MAX)
      return frame.fail(__LINE__, "Args");

    const int64_t blockSize = ktif_HandleBlockSize(handle);
    const uint32_t pixels = uint32_t(int64_t{handle->blockWidth} * handle->blockHeight);
    const int64_t bw = handle->blockWidth;
    const int32_t bits = handle->bitsPerSample;
    auto* out = static_cast<unsigned char*>(buffer);
    auto failedRead = [&](int64_t r) { return r < 0 || (handle->rgbaRead && r == 0); };

    if (samples == 1 || handle->planarConfig == 2) {
      unsigned char* packed = ktif_HandleUnpackTo8BufferGet(handle, frame.slot());
      if (frame.hasReport()) return frame.calleeFailed(__LINE__, "ktif_HandleUnpackTo8BufferGet");
      const int64_t rowBytes = packedRowBytes(bits, bw);
      const int64_t capacity = packed != nullptr ? int64_t(kmsc_HeapSize(packed)) : callerBytes;
      if (blockSize < 0 || blockSize > capacity ||
          (packed != nullptr && rowBytes * handle->blockHeight > capacity))
        return frame.fail(__LINE__, "Error reading TIFF block");
      const int64_t r = ktif_HandleBlockRead(handle, packed != nullptr ? packed : out, uint32_t(x),
                                             uint32_t(y), uint16_t(layer), blockSize);
      if (failedRead(r)) return frame.fail(__LINE__, "Error reading TIFF block");
      if (packed != nullptr) {
        for (int32_t i = 0; i < handle->blockHeight; ++i)
          unpackRow(bits, out + i * bw, packed + i * rowBytes, uint32_t(bw));
      }
    } else {
      // Interleaved layers: the whole block is kept as stored, so that the
      // other layers of the same block cost no file access. Sub-byte samples
      // stay packed: each layer's bits are picked out of the rows, so a layer
      // costs its own pixels, not those of every layer.
      Ktif_BlockCache* cache = blockCacheCreate(handle, frame.slot());
      if (frame.hasReport() || cache == nullptr)
        return frame.calleeFailed(__LINE__, "ktif_HandleUnpackTo8BufferGet");
      auto* data = static_cast<unsigned char*>(cache->data);
      const bool packed = bits < 8;
      const int64_t rowBytes = packedRowBytes(bits, bw * samples);
      const uint32_t block = ktif_BlockNum(handle->tiff, uint32_t(x), uint32_t(y), uint16_t(layer));
      if (cache->blockNumber < 0 || uint32_t(cache->blockNumber) != block) {
        const int64_t capacity = int64_t(kmsc_HeapSize(data));
        if (blockSize < 0 || blockSize > capacity ||
            (packed && rowBytes * handle->blockHeight > capacity))
          return frame.fail(__LINE__, "Error reading TIFF block");
        cache->blockNumber = -1;  // the data is overwritten from here on
        const int64_t r =
            ktif_HandleBlockRead(handle, data, uint32_t(x), uint32_t(y), 0, blockSize);
        if (failedRead(r)) return frame.fail(__LINE__, "Error reading TIFF block");
        if (block <= uint32_t(INT32_MAX)) cache->blockNumber = int32_t(block);
      }
      if (packed) {
        for (int32_t i = 0; i < handle->blockHeight; ++i)
          packedLayerExtract(bits, uint32_t(bw), out + i * bw, uint64_t(layer), data + i * rowBytes,
                             uint32_t(samples));
      } else {
        layerExtract(pixels, out, layer, data, samples, handle->bytesPerSample);
      }
    }

    if (handle->photometric == 0 && handle->pixelType >= 0 &&
        handle->pixelType < KMSC_PIXEL_TYPE_COUNT)
      ktif_Invert(buffer, kmsc_AddressOf_kgda_NumBitsPerPixel()[handle->pixelType], pixels);
  });
}
