/* The raster buffer: the host's block size for an image, and the host block
 * cache of TIFF blocks through which raster-buffer blocks are read and
 * written. */
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "kdms.h"
#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kmsc.h"
#include "kpmg.h"
#include "ktif_internal.h"
#include "ktif_prefs.h"
#include "strip_window.h"
#include "tiff_diagnostics.h"

namespace {

/* The fewest TIFF blocks kept when raster-buffer blocks cut across TIFF
 * blocks. */
constexpr int64_t kMinimumCapacity = 4;
/* The largest TIFF block the cache decodes: beyond it a block is refused
 * rather than allocated, since a few bytes of directory can claim gigabytes.
 * Only tiles (and strips of a file opened for writing) meet it: strips beyond
 * the budget are read a window of rows at a time. */
constexpr int64_t kLargestBlockBytes = int64_t(1) << 30;
/* Preference values are clamped to this, so that size products stay far from
 * overflow; no host block is anywhere near it. */
constexpr double kPreferenceCeiling = double(1 << 24);
/* The memory budget's clamp: far beyond any memory, far below overflow. */
constexpr double kBudgetCeiling = double(int64_t(1) << 50);

/* A number preference; failures are shown and dropped (the value returned
 * is still used). Negative and NaN values count as 0. */
double positivePreference(KtifPrefId id) {
  const KtifPreference& pref = ktifPreferences[id];
  Kerr_Report* report = nullptr;
  double value = kpmg_GetNumberPreference(pref.group, pref.key, pref.defaultNumber, &report);
  if (report) {
    kerr_PrintErrorReport(report);
    kerr_DeleteErrorReportEx(&report);
  }
  return value > 0 ? value : 0.0;
}

/* The same truncated toward zero. */
int32_t numberPreference(KtifPrefId id) {
  return static_cast<int32_t>(std::trunc(std::fmin(positivePreference(id), kPreferenceCeiling)));
}

int64_t ceilDiv(int64_t a, int64_t b) {
  return (a + b - 1) / b;
}

int64_t roundUpTo8(int64_t v) {
  return (v + 7) / 8 * 8;
}

int32_t clampSize(int64_t v) {
  if (v < 1) return 1;
  return v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v);
}

/* The TIFF block columns (or rows) one raster-buffer block of `rbSize` can
 * touch at most, over TIFF blocks of `blockSize`. */
int64_t blocksSpanned(int64_t rbSize, int64_t blockSize) {
  return ceilDiv(rbSize - 1, blockSize) + 1;
}

/* Blocks per layer hold all layers only for pixel-interleaved images of
 * several layers. */
bool blocksHoldAllLayers(const Ktif_File* handle) {
  return handle->cacheBlockLayers == handle->samplesPerPixel && handle->samplesPerPixel > 1;
}

/* Block origin and TIFF sample of a cache index. Per-layer blocks carry their
 * layer in the index (layer * blocksPerLayer + block), so a block stored while
 * another layer is current still reaches its own layer. */
bool cacheIndexLocate(const Ktif_File* handle, int32_t index, uint32_t* x, uint32_t* y,
                      uint16_t* sample) {
  if (index < 0 || handle->blocksPerLayer <= 0 || handle->blocksAcross <= 0) return false;
  int32_t block = index;
  int32_t layer = 0;
  if (!blocksHoldAllLayers(handle)) {
    layer = index / handle->blocksPerLayer;
    block = index % handle->blocksPerLayer;
  }
  *x = static_cast<uint32_t>(int64_t(handle->blockWidth) * (block % handle->blocksAcross));
  *y = static_cast<uint32_t>(int64_t(handle->blockHeight) * (block / handle->blocksAcross));
  *sample = static_cast<uint16_t>(layer);
  return true;
}

/* Blocks kept in memory when raster-buffer blocks cut across TIFF blocks.
 * A raster-buffer row touches a band of TIFF block rows, and the next one
 * starts in the last of them: keeping the whole band lets a sequential read
 * decode every TIFF block once instead of once per raster-buffer row that
 * touches it. Wide strips read in raster-buffer blocks need the strips of one
 * raster-buffer block, which the band covers too. */
int32_t bandCapacity(const Ktif_File* handle, int64_t blockBytes, int64_t budget) {
  int64_t across = handle->blocksAcross;
  int64_t spanColumns = blocksSpanned(handle->rbBlockWidth, handle->blockWidth);
  int64_t spanRows = blocksSpanned(handle->rbBlockHeight, handle->blockHeight);
  if (spanColumns > across) spanColumns = across;
  int64_t capacity = spanRows * across + spanColumns;
  if (capacity < kMinimumCapacity) capacity = kMinimumCapacity;
  // Within the budget, and never more than one block beyond it: a file
  // whose blocks are huge (or claims so) must not cost several of them.
  if (blockBytes > 0 && capacity * blockBytes > budget)
    capacity = std::max<int64_t>(1, budget / blockBytes);
  if (capacity > handle->cacheBlockCount) capacity = handle->cacheBlockCount;
  return static_cast<int32_t>(capacity);
}

}  // namespace

int64_t RBCacheBudget() {
  return static_cast<int64_t>(
      std::fmin(positivePreference(KTIF_PREF_CACHE_BUDGET), kBudgetCeiling));
}

int32_t RBLayerBits(const Ktif_File* handle, int32_t layer) {
  if (!handle->bitsPerSampleList) return handle->bitsPerSample;
  int32_t bits = handle->bitsPerSampleList[layer];
  return bits != 0 ? bits : handle->bitsPerSampleList[0];
}

bool RBGeometryValid(const Ktif_File* handle) {
  return handle->rbBlockWidth > 0 && handle->rbBlockHeight > 0 && handle->blockWidth > 0 &&
         handle->blockHeight > 0 && handle->bytesPerSample > 0 && handle->bytesPerSample <= 8 &&
         handle->samplesPerPixel > 0 && handle->samplesPerPixel <= 0xFFFF &&
         int64_t(handle->rbBlockWidth) * handle->rbBlockHeight <= int64_t(UINT32_MAX);
}

bool RBBitsTransferable(int32_t bits, int32_t layers, int32_t bytesPerSample) {
  if (bits == 1 || bits == 2 || bits == 4) return true;
  if (bits < 8 || bits > 8 * bytesPerSample) return false;
  if (layers < 2) return true;
  return bits == 8 || bits == 16 || bits == 32 || bits == 64;
}

int64_t RBCacheRowBytes(const Ktif_File* handle, int32_t bits, int64_t layers, KerrFrame& frame) {
  const int64_t blockWidth = handle->blockWidth, blockHeight = handle->blockHeight;
  const int64_t rowBytes = (blockWidth * bits * layers + 7) / 8;
  if (rowBytes * blockHeight <= handle->cacheBlockBytes) return rowBytes;
  frame.fail(__LINE__, "Block of %d bytes too small for %lld x %lld samples of %d bits",
             handle->cacheBlockBytes, static_cast<long long>(blockWidth * layers),
             static_cast<long long>(blockHeight), bits);
  return -1;
}

void RBWhiteIsZeroComplement(const Ktif_File* handle, void* buffer, int64_t elements) {
  if (handle->photometric != 0) return;
  if (handle->pixelType < 0 || handle->pixelType >= KMSC_PIXEL_TYPE_COUNT) return;
  ktif_Invert(buffer, kmsc_AddressOf_kgda_NumBitsPerPixel()[handle->pixelType],
              static_cast<uint32_t>(std::min<int64_t>(elements, UINT32_MAX)));
}

void RBBlockSizeSet(Ktif_File* handle) {
  if (!handle) return;
  const int64_t blockWidth = handle->blockWidth;
  const int64_t blockHeight = handle->blockHeight;
  auto set = [handle](int64_t width, int64_t height) {
    handle->rbBlockWidth = clampSize(width);
    handle->rbBlockHeight = clampSize(height);
  };
  if (!handle->tiff || blockWidth <= 0 || blockHeight <= 0 || handle->width <= 0 ||
      handle->height <= 0) {
    /* A file still to be created, or blocks of no usable size: the TIFF
     * block as it stands. */
    handle->rbBlockWidth = handle->blockWidth;
    handle->rbBlockHeight = handle->blockHeight;
    return;
  }

  if (handle->partialStripMode) {
    int32_t w = numberPreference(KTIF_PREF_RB_BLOCK_WIDTH);
    int32_t h = numberPreference(KTIF_PREF_RB_BLOCK_HEIGHT);
    if (w != 0 && h != 0) {
      handle->rbSizeFromPreferences = 1;
      set(w, h);
      return;
    }
    handle->partialStripMode = 0;
    handle->rbSizeFromPreferences = (w != 0 || h != 0) ? 1 : 0;
  }

  if (handle->bitsPerSample == 1 && handle->samplesPerPixel == 1 &&
      (handle->compression == 2 || handle->compression == 4)) {
    set(blockWidth, 1);
    return;
  }

  const int64_t bytesPerSample = handle->bytesPerSample > 0 ? handle->bytesPerSample : 1;
  const int64_t rowBytes = bytesPerSample * blockWidth;
  const int64_t maxBytes = numberPreference(KTIF_PREF_MAX_UNCOMPRESSED_BLK_SIZE);
  const bool subByte = handle->bitsPerSample < 8;

  if (maxBytes == 0 || handle->isOPX || blockHeight * rowBytes <= maxBytes) {
    if (blockWidth == handle->width && handle->width > 1024 && handle->planarConfig == 1 &&
        handle->rbSizeFromPreferences == 1 && !handle->isOPX)
      set(256, 256);
    else
      set(blockWidth, blockHeight);
    return;
  }

  if (TIFFIsTiled(handle->tiff)) {
    int64_t side = static_cast<int64_t>(std::sqrt(double(maxBytes)) / double(bytesPerSample));
    if (side < 1) side = 1;
    if (subByte && side % 8 != 0) {
      int64_t width = roundUpTo8(side);
      set(width, maxBytes / width);
    } else {
      set(side, side);
    }
    return;
  }

  if (rowBytes > maxBytes) {
    int64_t piece = maxBytes / bytesPerSample;
    if (piece < 1) piece = 1;
    int64_t pieces = ceilDiv(handle->width, piece);
    int64_t width = ceilDiv(handle->width, pieces);
    if (subByte && width % 8 != 0) width = roundUpTo8(width);
    set(width, 1);
    return;
  }

  int64_t rows = maxBytes / rowBytes;
  int64_t pieces = ceilDiv(handle->height, rows);
  set(blockWidth, ceilDiv(handle->height, pieces));
}

void RBSetup(Ktif_File* handle, int32_t layer, Kerr_Report** err) {
  static const char* kLabel = "RBSetup";
  KerrFrame frame(kLabel, err);
  if (!handle) return frame.fail(__LINE__, "Invalid Arguments");
  handle->currentLayer = layer;
  if (handle->cache || handle->stripWindows) return;

  const int64_t layers = handle->samplesPerPixel > 0 ? handle->samplesPerPixel : 1;
  int64_t blockCount = handle->blocksPerLayer;
  if (layers == 1 || handle->planarConfig == 2) {
    handle->cacheBlockLayers = 1;
    blockCount *= layers;
  } else {
    handle->cacheBlockLayers = static_cast<int32_t>(layers);
  }
  if (blockCount <= 0 || blockCount > INT32_MAX || handle->blockWidth <= 0 ||
      handle->blockHeight <= 0 || handle->blocksAcross <= 0 || handle->rbBlockWidth <= 0 ||
      handle->rbBlockHeight <= 0)
    return frame.fail(__LINE__, "Invalid block geometry");
  handle->cacheBlockCount = static_cast<int32_t>(blockCount);

  int64_t blockBytes = 0;
  int32_t capacity = 0;
  if (!handle->tiff) {
    blockBytes = int64_t(handle->blockWidth) *
                 (handle->bytesPerSample > 0 ? handle->bytesPerSample : 1) * handle->blockHeight;
  } else {
    if (handle->faxState) {
      /* Bilevel CCITT strips are decoded row by row without a cache. */
      handle->cacheCapacity = 0;
      handle->cacheBlockBytes = 0;
      return;
    }
    blockBytes = ktif_HandleBlockSize(handle);
    const int64_t budget = RBCacheBudget();
    if (stripWindowsWanted(handle, blockBytes, budget)) {
      /* Strips beyond the budget are decoded a window of rows at a time,
       * whatever their size; nothing goes through the cache. */
      handle->cacheCapacity = 0;
      handle->cacheBlockBytes = 0;
      stripWindowsCreate(handle, budget, frame);
      return;
    }
    if (handle->rbBlockWidth == handle->blockWidth &&
        handle->rbBlockHeight == handle->blockHeight) {
      /* One TIFF block of one layer with whole-byte samples goes straight to
       * the caller, provided the block fits the caller's buffer. */
      int64_t rbBytes = int64_t(handle->rbBlockWidth) * handle->rbBlockHeight *
                        (handle->bytesPerSample > 0 ? handle->bytesPerSample : 1);
      capacity = (handle->cacheBlockLayers > 1 || handle->bitsPerSample < 8 || blockBytes > rbBytes)
                     ? 1
                     : 0;
    } else {
      capacity = bandCapacity(handle, blockBytes, budget);
    }
  }
  if (blockBytes <= 0 || blockBytes > kLargestBlockBytes)
    return frame.fail(__LINE__, "Block of %lld bytes cannot be cached",
                      static_cast<long long>(blockBytes));
  handle->cacheBlockBytes = static_cast<int32_t>(blockBytes);
  handle->cacheCapacity = capacity;

  handle->cache = kdms_CacheCreate(
      handle->cacheBlockBytes, frame.slot(), int(KDMS_TAG_CAPACITY), handle->cacheCapacity,
      int(KDMS_TAG_BLOCK_COUNT), handle->cacheBlockCount, int(KDMS_TAG_CLIENT),
      static_cast<void*>(handle), int(KDMS_TAG_READ_FUNC), &RBReadFunc, int(KDMS_TAG_WRITE_FUNC),
      &RBWriteFunc, int(KDMS_TAG_RESERVED), int32_t(0), int(KDMS_TAG_END));
  if (!handle->cache) frame.calleeFailed(__LINE__, "kdms_CacheCreate");
}

void RBReadFunc(int32_t index, void** data, void* client, Kerr_Report** err) {
  static const char* kLabel = "RBReadFunc";
  KerrFrame frame(kLabel, err); /* failures are logged, never reported */
  Ktif_File* handle = static_cast<Ktif_File*>(client);
  if (!handle || !data || !*data || handle->cacheBlockBytes <= 0) return;
  unsigned char* block = static_cast<unsigned char*>(*data);
  const int64_t bytes = handle->cacheBlockBytes;
  uint32_t x = 0, y = 0;
  uint16_t sample = 0;
  if (!handle->tiff || !cacheIndexLocate(handle, index, &x, &y, &sample)) {
    std::memset(block, 0, static_cast<size_t>(bytes));
    return;
  }
  /* A block never stored (a file being written, or a sparse file) is all
   * zeros; there is nothing to decode. */
  const uint32_t strile = ktif_BlockNum(handle->tiff, x, y, sample);
  int missing = 0;
  const uint32_t striles = TIFFIsTiled(handle->tiff) ? TIFFNumberOfTiles(handle->tiff)
                                                     : TIFFNumberOfStrips(handle->tiff);
  if (strile < striles && TIFFGetStrileByteCountWithErr(handle->tiff, strile, &missing) == 0 &&
      missing == 0 && TIFFGetStrileOffset(handle->tiff, strile) == 0) {
    std::memset(block, 0, static_cast<size_t>(bytes));
    return;
  }
  int64_t got = ktif_HandleBlockRead(handle, block, x, y, sample, bytes);
  if (got < 0 || (got == 0 && handle->rgbaRead)) {
    std::memset(block, 0, static_cast<size_t>(bytes));
    Kerr_Report* cause = nullptr;
    ktifTiffErrorTake(handle->tiff, &cause);
    // Named as the TIFF knows it: pixel position of the strip or tile, and
    // its plane where the layers are stored apart.
    char plane[32] = "";
    if (handle->planarConfig == 2)
      std::snprintf(plane, sizeof plane, ", plane %u", unsigned{sample});
    kerr_MessageLog(-1, "ktif_HandleBlockRead failed: block at column %u, row %u%s: %s%s%s", x, y,
                    plane, cause ? kerr_ReportLabel(cause) : "", cause ? ": " : "",
                    cause ? kerr_ReportMessage(cause) : "no data");
    kerr_DeleteErrorReportEx(&cause);
  } else if (got < bytes) {
    /* A short last strip: the rows it lacks read as 0, not as whatever an
     * earlier block left in this buffer. */
    std::memset(block + got, 0, static_cast<size_t>(bytes - got));
  }
}

void RBWriteFunc(int32_t index, void* data, void* client, Kerr_Report** err) {
  static const char* kLabel = "RBWriteFunc";
  KerrFrame frame(kLabel, err); /* failures are logged, never reported */
  Ktif_File* handle = static_cast<Ktif_File*>(client);
  if (!handle || !data || !handle->tiff || handle->cacheBlockBytes <= 0) return;
  uint32_t x = 0, y = 0;
  uint16_t sample = 0;
  if (!cacheIndexLocate(handle, index, &x, &y, &sample)) return;
  if (ktif_BlockWrite(handle->tiff, data, x, y, sample, handle->cacheBlockBytes) >= 0) return;
  Kerr_Report* cause = nullptr;
  ktifTiffErrorTake(handle->tiff, &cause);
  kerr_MessageLog(-1, "ktif_HandleBlockWrite failed: block at column %u, row %u: %s%s%s", x, y,
                  cause ? kerr_ReportLabel(cause) : "", cause ? ": " : "",
                  cause ? kerr_ReportMessage(cause) : "write refused");
  kerr_DeleteErrorReportEx(&cause);
}

void ktif_RBBufferClose(Ktif_File* handle, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "ktif_RBBufferClose";
    KerrFrame frame(kLabel, err);
    if (!handle) return;
    /* Windows hold only what was read; the next read opens them again. */
    stripWindowsFree(handle);
    if (!handle->cache) return;
    /* Uncompressed blocks are cheap to keep and may be rewritten in place; the
     * cache of those stays until the handle is closed. */
    if (handle->compression == 0 || handle->compression == 1) return;
    Kerr_Report* report = nullptr;
    kdms_CacheDestroy(&handle->cache, &report);
    kerr_DeleteErrorReportEx(&report);
    handle->cache = nullptr;
  });
}
