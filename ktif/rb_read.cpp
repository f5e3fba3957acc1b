/* Raster-buffer reads: one host block of one layer, assembled from the TIFF
 * blocks it covers (through the block cache), read straight from the file for
 * wide uncompressed strips, or taken from windows of decoded rows for strips
 * larger than the memory budget. */
#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "kdms.h"
#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kfio.h"
#include "kmsc.h"
#include "fax.h"
#include "ktif_internal.h"
#include "strip_window.h"

namespace {

/* The two "not handled" warnings are shown once per process. */
bool gMultiLayerWarned = false;
bool gBitOffsetWarned = false;

/* Wide strips held at once for direct reads: whole image rows of one
 * raster-buffer row when they fit, so that a sequential read fetches them in a
 * few large reads and every block of that row comes from memory. Wider images
 * read only the columns of each block, row by row. */
constexpr int64_t kBandBudgetBytes = int64_t(32) << 20;

/* Reads `rows` image rows from row y0, `columns` pixels from column x0, into
 * `out` (rows `outStride` bytes apart), straight from the file at the strip
 * offsets. Rows that follow each other both in the file and in `out` are read
 * in one piece. Only the bytes a strip's byte count holds are read: a sparse
 * strip (offset and count 0, nothing stored) reads as 0 silently, and the
 * rows a short strip lacks read as 0 with a warning, as on the cache road.
 * Returns false with a report. */
bool stripRowsRead(Ktif_File* handle, int64_t x0, int64_t y0, int64_t rows, int64_t columns,
                   unsigned char* out, int64_t outStride, KerrFrame& frame) {
  if (rows <= 0 || columns <= 0) return true;
  uint32_t rowsPerStrip = 0;
  uint64_t *offsets = nullptr, *counts = nullptr;
  if (!TIFFGetFieldDefaulted(handle->tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip) ||
      !TIFFGetField(handle->tiff, TIFFTAG_STRIPOFFSETS, &offsets) || !offsets ||
      !TIFFGetField(handle->tiff, TIFFTAG_STRIPBYTECOUNTS, &counts) || !counts) {
    frame.fail(__LINE__, "No strip offsets");
    return false;
  }
  if (rowsPerStrip == 0 || rowsPerStrip > uint32_t(handle->height))
    rowsPerStrip = uint32_t(handle->height);
  const uint64_t strips = TIFFNumberOfStrips(handle->tiff);
  const int64_t pixelBytes = int64_t(handle->samplesPerPixel) * handle->bytesPerSample;
  const int64_t lineBytes = int64_t(handle->width) * pixelBytes;
  const int64_t readBytes = columns * pixelBytes;
  const bool swap = handle->bytesPerSample == 2 && !handle->nativeByteOrder;
  Kfio_File* file = handle->partialStripFile;

  int64_t runStart = 0, runBytes = 0;
  unsigned char* runOut = nullptr;
  uint64_t shortStripWarned = UINT64_MAX;  // once per strip and read
  auto flush = [&]() -> bool {
    if (runBytes == 0) return true;
    if (kfio_fseeko(file, runStart, KFIO_SEEK_SET) != 0) {
      frame.fail(__LINE__, "kfio_fseeko failed");
      return false;
    }
    if (kfio_ReadSeq(file, runOut, runBytes, frame.slot()) != runBytes || frame.hasReport()) {
      frame.calleeFailed(__LINE__, "kfio_ReadSeq");
      return false;
    }
    if (swap) TIFFSwabArrayOfShort(reinterpret_cast<uint16_t*>(runOut), tmsize_t(runBytes / 2));
    runBytes = 0;
    return true;
  };
  for (int64_t i = 0; i < rows; ++i) {
    const uint64_t y = uint64_t(y0 + i);
    const uint64_t strip = y / rowsPerStrip;
    if (strip >= strips) {
      frame.fail(__LINE__, "Row %llu lies in no strip", static_cast<unsigned long long>(y));
      return false;
    }
    /* A row beyond 2^61 bytes into its strip, or a strip beyond 2^62, lies
     * past any file; checked before the sums that could overflow. */
    const uint64_t rowInStrip = y % rowsPerStrip;
    if (offsets[strip] > uint64_t(INT64_MAX / 2) ||
        rowInStrip > uint64_t(INT64_MAX / 4 / lineBytes)) {
      frame.fail(__LINE__, "kfio_fseeko failed");
      return false;
    }
    const int64_t inStrip = lineBytes * int64_t(rowInStrip) + x0 * pixelBytes;
    const int64_t position = int64_t(offsets[strip]) + inStrip;
    /* Whole samples of the row that the strip holds. */
    int64_t held = readBytes;
    if (counts[strip] < uint64_t(inStrip + readBytes)) {
      held = counts[strip] > uint64_t(inStrip) ? int64_t(counts[strip]) - inStrip : 0;
      held -= held % handle->bytesPerSample;
      const bool sparse = offsets[strip] == 0 && counts[strip] == 0;
      if (!sparse && shortStripWarned != strip) {
        shortStripWarned = strip;
        const int64_t stripRows = std::min<int64_t>(
            rowsPerStrip, int64_t(handle->height) - int64_t(strip) * rowsPerStrip);
        frame.warn(
            __LINE__, KERR_WARNING, "Strip %llu holds %llu of its %lld bytes; the rest reads as 0",
            static_cast<unsigned long long>(strip), static_cast<unsigned long long>(counts[strip]),
            static_cast<long long>(stripRows * lineBytes));
      }
    }
    unsigned char* target = out + i * outStride;
    std::memset(target + held, 0, size_t(readBytes - held));
    if (held == 0) continue;
    if (runBytes > 0 && position == runStart + runBytes && target == runOut + runBytes) {
      runBytes += held;
      continue;
    }
    if (!flush()) return false;
    runStart = position;
    runOut = target;
    runBytes = held;
  }
  return flush();
}

/* One part of a raster-buffer block: w x h pixels of layer `layer` from
 * column `sx` of stored rows (`stride` bytes apart, `layers` samples of
 * `bits` per pixel; null for a part outside the image, which reads as 0).
 * Every road that holds stored rows delivers through this, so that they
 * deliver alike. Interleaved sub-byte samples are picked out of the packed
 * rows: reading one layer costs that layer's pixels, not every layer's. */
void partDeliver(int64_t w, int64_t h, int32_t layer, int32_t layers, int32_t bits,
                 const unsigned char* rows, int64_t stride, int64_t sx, unsigned char* destination,
                 int64_t destinationStride) {
  if (rows && layers >= 2 && bits < 8) {
    for (int64_t row = 0; row < h; ++row)
      packedLayerExtract(bits, uint32_t(w), destination + row * destinationStride,
                         uint64_t(sx) * uint64_t(layers) + uint64_t(layer), rows + row * stride,
                         uint32_t(layers));
    return;
  }
  const int64_t bitPosition = bits * sx * layers;
  RBTransfer(int32_t(w), int32_t(h), layer, layers, stride, destination, destinationStride, bits,
             rows ? rows + bitPosition / 8 : nullptr, bits < 8 ? int32_t(bitPosition % 8) : 0);
}

/* Delivers layer `layer` of a raster-buffer block from whole stored rows
 * held in memory: the block's first `rows` rows, `columns` pixels of each
 * from column `sx` of the held rows. run(i, &count, &stride) gives the held
 * row of block row i, and how many rows follow it `stride` bytes apart.
 * Every other pixel of the block is 0. The roads that hold image rows (wide
 * uncompressed strips, windows of large strips) deliver through this. */
template <class Run>
void heldRowsDeliver(const Ktif_File* handle, int32_t layer, int32_t layers, int32_t bits,
                     int64_t sx, int64_t columns, int64_t rows, unsigned char* out, Run&& run) {
  const int64_t element = handle->bytesPerSample;
  const int64_t outStride = handle->rbBlockWidth * element;
  int64_t delivered = 0;
  while (columns > 0 && delivered < rows) {
    int64_t count = 0, stride = 0;
    const unsigned char* held = run(delivered, &count, &stride);
    if (held == nullptr || count <= 0) break;
    count = std::min(count, rows - delivered);
    partDeliver(columns, count, layer, layers, bits, held, stride, sx, out + delivered * outStride,
                outStride);
    delivered += count;
  }
  for (int64_t i = 0; i < handle->rbBlockHeight; ++i) {
    const int64_t filled = i < delivered ? columns * element : 0;
    std::memset(out + i * outStride + filled, 0, size_t(outStride - filled));
  }
}

/* One raster-buffer block from the windows of strips too large for the
 * cache: the rows it covers are decoded into the window of its plane (or
 * found there), then delivered like any held rows. */
bool windowBlockRead(Ktif_File* handle, int32_t layer, int32_t rbRow, int32_t rbColumn,
                     unsigned char* out, KerrFrame& frame) {
  const bool planes = handle->planarConfig == 2 && handle->samplesPerPixel > 1;
  const int32_t plane = planes ? layer : 0;
  const int64_t x0 = int64_t(handle->rbBlockWidth) * rbColumn;
  const int64_t y0 = int64_t(handle->rbBlockHeight) * rbRow;
  const int64_t rows = std::clamp<int64_t>(handle->height - y0, 0, handle->rbBlockHeight);
  const int64_t columns = std::clamp<int64_t>(handle->width - x0, 0, handle->rbBlockWidth);
  if (rows > 0 && columns > 0 && !stripWindowHold(handle, plane, y0, rows, frame)) return false;
  heldRowsDeliver(handle, planes ? 0 : layer, planes ? 1 : handle->samplesPerPixel,
                  RBLayerBits(handle, layer), x0, columns, rows, out,
                  [&](int64_t i, int64_t* count, int64_t* stride) {
                    return stripWindowRun(handle, plane, y0 + i, count, stride);
                  });
  return true;
}

}  // namespace

void RBTransferWarningsReset() {
  gMultiLayerWarned = false;
  gBitOffsetWarned = false;
}

void RBTransfer(int32_t w, int32_t h, int32_t layer, int32_t layers, int64_t sourceStride,
                unsigned char* destination, int64_t destinationStride, int32_t bits,
                const unsigned char* source, int32_t bitOffset) {
  static const char* kLabel = "RBTransfer";
  if (w <= 0 || h <= 0 || !destination || bits <= 0) return;
  const size_t packedBytes = static_cast<size_t>(int64_t(w) * bits / 8);
  /* Rows of sub-byte images hold one byte per pixel: zero fills clear the
   * whole row of the part, not just its packed length. */
  const size_t fillBytes = bits < 8 ? static_cast<size_t>(w) : packedBytes;
  auto fillZero = [&]() {
    for (int32_t row = 0; row < h; ++row)
      std::memset(destination + row * destinationStride, 0, fillBytes);
  };

  if (!source) return fillZero();
  if (layers >= 2) {
    if (bits >= 8) {
      for (int32_t row = 0; row < h; ++row)
        layerExtract(static_cast<uint32_t>(w), destination + row * destinationStride, layer,
                     source + row * sourceStride, layers, bits / 8);
      return;
    }
    if (!gMultiLayerWarned) {
      gMultiLayerWarned = true;
      KerrFrame frame(kLabel, nullptr);
      frame.warn(__LINE__, KERR_WARNING, "Multi-layer %d bit data not handled yet", bits);
    }
    return fillZero();
  }
  if (bits < 8) {
    if (bitOffset != 0) {
      if (!gBitOffsetWarned) {
        gBitOffsetWarned = true;
        KerrFrame frame(kLabel, nullptr);
        frame.warn(__LINE__, KERR_WARNING,
                   "Single-layer %d bit data with non-zero bitoffset (%d) not handled yet", bits,
                   bitOffset);
      }
      return fillZero();
    }
    for (int32_t row = 0; row < h; ++row)
      unpackRow(bits, destination + row * destinationStride, source + row * sourceStride,
                static_cast<uint32_t>(w));
    return;
  }
  if (sourceStride == destinationStride && size_t(sourceStride) == packedBytes) {
    std::memcpy(destination, source, packedBytes * static_cast<size_t>(h));
    return;
  }
  for (int32_t row = 0; row < h; ++row)
    std::memcpy(destination + row * destinationStride, source + row * sourceStride, packedBytes);
}

void ktif_RBRasterRead(Ktif_File* handle, int32_t layer, int32_t rbRow, int32_t rbColumn,
                       void* buffer, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "ktif_RBRasterRead";
    KerrFrame frame(kLabel, err);
    if (!handle || !buffer || layer < 0 || layer >= handle->samplesPerPixel || rbRow < 0 ||
        rbColumn < 0 || !RBGeometryValid(handle))
      return frame.fail(__LINE__, "Invalid Arguments");
    const int64_t rbWidth = handle->rbBlockWidth;
    const int64_t rbHeight = handle->rbBlockHeight;

    if (handle->partialStripMode) {
      ktif_ReadPartialStrip(handle, layer, rbRow, rbColumn, buffer, frame.slot());
      /* Complemented like every other road, so that a WhiteIsZero image reads
       * the same whether or not its strips are wide. */
      if (!frame.hasReport()) RBWhiteIsZeroComplement(handle, buffer, rbWidth * rbHeight);
      return;
    }

    RBSetup(handle, layer, frame.slot());
    if (frame.hasReport()) return frame.calleeFailed(__LINE__, "RBSetup");
    if (handle->faxState) {
      /* Bilevel CCITT strips are decoded row by row, one row per block;
       * blocks past the image read as zeros, complemented for WhiteIsZero as
       * on every other road. */
      if (rbColumn != 0 || rbRow >= handle->height)
        return void(
            std::memset(buffer, handle->photometric == 0 ? 1 : 0, size_t(rbWidth * rbHeight)));
      RBReadFunc1Bit(rbRow, &buffer, frame.slot(), handle);
      if (frame.hasReport()) frame.calleeFailed(__LINE__, "RBReadFunc1Bit");
      return;
    }
    if (!handle->cache && !handle->stripWindows) return frame.fail(__LINE__, "Invalid Arguments");

    unsigned char* out = static_cast<unsigned char*>(buffer);
    const int64_t bytesPerSample = handle->bytesPerSample;
    const int64_t layers = handle->cacheBlockLayers;
    const bool allLayers = layers == handle->samplesPerPixel && layers > 1;
    const int32_t layerInBlock = allLayers ? layer : 0;
    const int64_t layerOffset = allLayers ? 0 : int64_t(handle->blocksPerLayer) * layer;
    const int32_t bits = RBLayerBits(handle, layer);
    if (!RBBitsTransferable(bits, static_cast<int32_t>(layers), handle->bytesPerSample))
      return frame.fail(__LINE__, "%d bits per sample cannot be delivered in %d-byte elements",
                        bits, handle->bytesPerSample);

    if (handle->stripWindows) {
      if (windowBlockRead(handle, layer, rbRow, rbColumn, out, frame))
        RBWhiteIsZeroComplement(handle, buffer, rbWidth * rbHeight);
      return;
    }

    const int64_t rbBytes = rbWidth * rbHeight * bytesPerSample;
    if (handle->cacheCapacity == 0 && rbWidth == handle->blockWidth &&
        rbHeight == handle->blockHeight && layers == 1 && bits >= 8 &&
        handle->cacheBlockBytes <= rbBytes) {
      /* The raster-buffer block is one TIFF block: the cache reads it straight
       * into the caller's buffer. */
      if (rbRow >= handle->blocksDown || rbColumn >= handle->blocksAcross) {
        std::memset(out, 0, static_cast<size_t>(rbBytes));
      } else {
        void* data = out;
        int64_t index = layerOffset + int64_t(handle->blocksAcross) * rbRow + rbColumn;
        if (kdms_CacheRead(handle->cache, static_cast<int32_t>(index), &data, frame.slot()) != 0)
          return frame.calleeFailed(__LINE__, "kdms_CacheRead");
      }
      RBWhiteIsZeroComplement(handle, buffer, rbWidth * rbHeight);
      return;
    }

    const int64_t rowBytes = RBCacheRowBytes(handle, bits, layers, frame);
    if (rowBytes < 0) return;
    const int64_t outStride = bytesPerSample * rbWidth;
    const bool read = RBPiecesVisit(handle, rbRow, rbColumn, [&](const RBPiece& p) {
      unsigned char* destination = out + p.dy * outStride + p.dx * bytesPerSample;
      const unsigned char* block = nullptr;
      if (p.column < handle->blocksAcross && p.row < handle->blocksDown) {
        const int32_t index =
            static_cast<int32_t>(layerOffset + handle->blocksAcross * p.row + p.column);
        void* data = nullptr;
        if (kdms_CacheRead(handle->cache, index, &data, frame.slot()) != 0)
          return frame.calleeFailed(__LINE__, "kdms_CacheRead"), false;
        block = static_cast<const unsigned char*>(data) + p.sy * rowBytes;
      }
      partDeliver(p.w, p.h, layerInBlock, int32_t(layers), bits, block, rowBytes, p.sx, destination,
                  outStride);
      return true;
    });
    if (!read) return;
    RBWhiteIsZeroComplement(handle, buffer, rbWidth * rbHeight);
  });
}

void ktif_ReadPartialStrip(Ktif_File* handle, int32_t layer, int32_t rbRow, int32_t rbColumn,
                           void* buffer, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "ktif_ReadPartialStrip";
    KerrFrame frame(kLabel, err);
    if (!handle || !buffer || !handle->tiff || layer < 0 || layer >= handle->samplesPerPixel ||
        rbRow < 0 || rbColumn < 0 || !RBGeometryValid(handle) || handle->width <= 0 ||
        handle->height <= 0 || (handle->bytesPerSample != 1 && handle->bytesPerSample != 2))
      return frame.fail(__LINE__, "Invalid Arguments");

    const int64_t samples = handle->samplesPerPixel;
    const int64_t bytesPerSample = handle->bytesPerSample;
    const int64_t pixelBytes = samples * bytesPerSample;
    const int64_t rbWidth = handle->rbBlockWidth;
    const int64_t rbHeight = handle->rbBlockHeight;
    const int64_t lineBytes = int64_t(handle->width) * pixelBytes;
    const int64_t x0 = rbWidth * rbColumn;
    const int64_t y0 = rbHeight * rbRow;
    /* Sizes: each factor is below 2^32, 2^16 or 2, so no product overflows. */
    const bool band = rbHeight * lineBytes <= kBandBudgetBytes;
    const int64_t heldStride = band ? lineBytes : rbWidth * pixelBytes;
    const int64_t heldBytes = heldStride * rbHeight;

    if (!handle->partialStripOpen) {
      Kfio_File* file = kfio_Open(handle->path, "rb", frame.slot());
      if (!file) return frame.calleeFailed(__LINE__, "RBSetup");
      handle->partialStripFile = file;
      handle->partialStripOpen = 1;
      handle->partialStripRow = handle->partialStripColumn = -1;
    }
    if (!handle->partialStripFile) return frame.fail(__LINE__, "Invalid Arguments");
    if (int64_t(kmsc_HeapSize(handle->partialStripBuffer)) < heldBytes) {
      void* grown = heldBytes <= int64_t(SIZE_MAX / 2)
                        ? kmsc_HeapRealloc(handle->partialStripBuffer, size_t(heldBytes))
                        : nullptr;
      if (!grown) return frame.fail(__LINE__, "No Memory!");
      handle->partialStripBuffer = static_cast<unsigned char*>(grown);
      handle->partialStripRow = handle->partialStripColumn = -1;
    }

    unsigned char* held = handle->partialStripBuffer;
    const bool isHeld =
        rbRow == handle->partialStripRow && (band || rbColumn == handle->partialStripColumn);
    const int64_t rows = std::max<int64_t>(0, std::min(rbHeight, int64_t(handle->height) - y0));
    if (!isHeld) {
      /* Marked empty until whole again, so that a failed read is retried. */
      handle->partialStripRow = handle->partialStripColumn = -1;
      if (band) {
        std::memset(held + rows * lineBytes, 0, size_t((rbHeight - rows) * lineBytes));
        if (!stripRowsRead(handle, 0, y0, rows, handle->width, held, lineBytes, frame)) return;
      } else {
        std::memset(held, 0, size_t(heldBytes));
        const int64_t columns = std::min(rbWidth, int64_t(handle->width) - x0);
        if (columns > 0 && !stripRowsRead(handle, x0, y0, rows, columns, held, heldStride, frame))
          return;
      }
      handle->partialStripRow = rbRow;
    }
    handle->partialStripColumn = rbColumn;

    /* Deliver one layer: rows and columns the held data lacks are 0. A band
     * holds whole image rows, a block only its own columns. */
    const int64_t columns = band ? std::clamp<int64_t>(handle->width - x0, 0, rbWidth) : rbWidth;
    heldRowsDeliver(handle, layer, int32_t(samples), int32_t(8 * bytesPerSample), band ? x0 : 0,
                    columns, rows, static_cast<unsigned char*>(buffer),
                    [&](int64_t i, int64_t* count, int64_t* stride) {
                      *count = rows - i, *stride = heldStride;
                      return held + i * heldStride;
                    });
  });
}
