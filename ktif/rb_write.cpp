/* Raster-buffer writes: one host block of one layer merged into the TIFF
 * blocks it covers (through the block cache, which stores them), or handed
 * whole to the layer-by-layer block writer. */
#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "kdms.h"
#include "kerr_frame.h"
#include "kerr_guard.h"
#include "kmsc.h"
#include "kstr.h"
#include "ktif_internal.h"

namespace {

/* Sub-byte samples and whole bytes; the read side also hands out odd widths
 * above 8 bits as bytes, which a write could not store back. */
bool bitsWritable(int32_t bits, int32_t layers, int32_t bytesPerSample) {
  return RBBitsTransferable(bits, layers, bytesPerSample) && (bits < 8 || bits % 8 == 0);
}

/* A block about to change is no longer what the read side's interleave cache
 * unpacked from it. */
void interleaveCacheForget(Ktif_File* h, int64_t blockNumber) {
  if (h->interleaveCache && h->interleaveCache->blockNumber == blockNumber)
    h->interleaveCache->blockNumber = -1;
}

/* Stores the low `bits` bits of `value` at bit `position` of a row, most
 * significant bit first, leaving every other bit as it was. */
void bitsStore(unsigned char* row, int64_t position, int32_t bits, unsigned value) {
  const int64_t byte = position / 8;
  const int shift = 8 - bits - int(position % 8);
  const unsigned mask = ((1u << bits) - 1u) << shift;
  row[byte] = static_cast<unsigned char>((row[byte] & ~mask) | ((value << shift) & mask));
}

/* The sub-byte case of the reverse transfer: sample k of each of the w
 * pixels, wherever it starts in the byte. Whole bytes of a single layer go
 * through the row packer; the rest is set bit by bit. */
void subByteRowStore(int32_t w, int32_t layer, int32_t layers, unsigned char* row,
                     int32_t bitOffset, int32_t bits, const unsigned char* source) {
  int32_t done = 0;
  if (layers <= 1 && bitOffset == 0) {
    done = w / (8 / bits) * (8 / bits);
    packRow(bits, row, source, static_cast<uint32_t>(done));
  }
  for (int32_t i = done; i < w; ++i)
    bitsStore(row, bitOffset + (int64_t(i) * layers + layer) * bits, bits, source ? source[i] : 0u);
}

struct HandleClose {
  void operator()(Ktif_File* handle) const { ktif_Close(handle, nullptr); }
};

/* After the last block: the tags go out, the file is closed, and the caller
 * gets a handle on the finished file instead. */
void finishedFileReopen(Ktif_File** variable) {
  Ktif_File* handle = *variable;
  std::unique_ptr<char, decltype(&kmsc_HeapFree)> path(kstr_Duplicate(handle->path),
                                                       &kmsc_HeapFree);
  ktif_UpdateTIFFTags(handle, nullptr);
  ktif_Close(handle, nullptr);
  *variable = nullptr;
  if (!path) return;
  Ktif_File* reopened = openerRun(path.get(), "r+", 0, 0, nullptr);
  if (!reopened) reopened = ktif_Open(path.get(), "r", nullptr);
  *variable = reopened;
}

bool lastBlock(const Ktif_File* h, uint32_t x, uint32_t y) {
  return x / uint32_t(h->blockWidth) == uint32_t(h->blocksAcross - 1) &&
         y / uint32_t(h->blockHeight) == uint32_t(h->blocksDown - 1);
}

/* Room for `bytes` in the assembly buffer; false when memory ran out. */
bool assemblyReserve(Ktif_File* h, int64_t bytes) {
  if (int64_t(kmsc_HeapSize(h->layerAssemblyBuffer)) >= bytes) return true;
  void* grown = kmsc_HeapRealloc(h->layerAssemblyBuffer, size_t(bytes));
  if (!grown) return false;
  h->layerAssemblyBuffer = static_cast<unsigned char*>(grown);
  return true;
}

/* Packs `rows` rows of `values` one-byte values in place; the new row size. */
int64_t assemblyPack(unsigned char* buffer, int32_t bits, int64_t values, int32_t rows) {
  const int64_t packedRow = (values * bits + 7) / 8;
  for (int32_t r = 0; r < rows; ++r)
    packRow(bits, buffer + r * packedRow, buffer + r * values, static_cast<uint32_t>(values));
  return packedRow;
}

/* Separate planes: every layer is a block of its own plane, written at once.
 * The file is finished when all layers of the last block are in. */
int32_t planeLayerWrite(Ktif_File** variable, const void* data, uint32_t x, uint32_t y,
                        int32_t layer, int64_t bytes) {
  Ktif_File* h = *variable;
  const int64_t values = int64_t(h->blockWidth) * h->blockHeight;
  if (layer < 0 || layer >= h->samplesPerPixel || bytes < values * h->bytesPerSample ||
      !assemblyReserve(h, bytes))
    return -1;
  unsigned char* buffer = h->layerAssemblyBuffer;
  std::memcpy(buffer, data, size_t(bytes));
  int64_t size = bytes;
  if (h->bitsPerSample < 8)
    size = h->blockHeight * assemblyPack(buffer, h->bitsPerSample, h->blockWidth, h->blockHeight);
  interleaveCacheForget(h, ktif_BlockNum(h->tiff, x, y, uint16_t(layer)));
  const int64_t written = ktif_BlockWrite(h->tiff, buffer, x, y, uint16_t(layer), size);
  if (lastBlock(h, x, y) && ++h->layersCollected >= h->samplesPerPixel) {
    h->layersCollected = 0;
    finishedFileReopen(variable);
  }
  return static_cast<int32_t>(std::clamp<int64_t>(written, INT32_MIN, INT32_MAX));
}

}  // namespace

void RBTransferReverse(int32_t w, int32_t h, int32_t layer, int32_t layers, int64_t sourceStride,
                       unsigned char* destination, int64_t destinationStride, int32_t bits,
                       const unsigned char* source, int32_t bitOffset) {
  if (w <= 0 || h <= 0 || !destination || bits <= 0) return;
  if (bits < 8) {
    for (int32_t row = 0; row < h; ++row)
      subByteRowStore(w, layer, std::max(layers, 1), destination + row * destinationStride,
                      bitOffset, bits, source ? source + row * sourceStride : nullptr);
    return;
  }
  const int32_t elementBytes = bits / 8;
  const int32_t samples = std::max(layers, 1);
  for (int32_t row = 0; row < h; ++row) {
    unsigned char* to = destination + row * destinationStride;
    if (!source) {
      for (int32_t i = 0; i < w; ++i)
        std::memset(to + (int64_t(i) * samples + layer) * elementBytes, 0, size_t(elementBytes));
    } else if (samples == 1) {
      std::memcpy(to, source + row * sourceStride, size_t(w) * size_t(elementBytes));
    } else {
      layerInsert(static_cast<uint32_t>(w), layer, source + row * sourceStride, to, samples,
                  elementBytes);
    }
  }
}

extern "C" {

void ktif_RBRasterWrite(Ktif_File** variable, int32_t layer, int32_t rbRow, int32_t rbColumn,
                        void* buffer, Kerr_Report** err) {
  kerrGuardVoid(__func__, err, [&] {
    static const char* kLabel = "ktif_RBRasterWrite";
    KerrFrame frame(kLabel, err);
    Ktif_File* handle = variable ? *variable : nullptr;
    if (!handle || !buffer || layer < 0 || layer >= handle->samplesPerPixel || rbRow < 0 ||
        rbColumn < 0 || !RBGeometryValid(handle))
      return frame.fail(__LINE__, "Invalid Arguments");
    if (!handle->tiff) return frame.fail(__LINE__, "No file created to write to");

    const int64_t rbWidth = handle->rbBlockWidth;
    const int64_t rbHeight = handle->rbBlockHeight;
    const int64_t bytesPerSample = handle->bytesPerSample;
    if (!handle->rbWrite) {
      RBWhiteIsZeroComplement(handle, buffer, int64_t(handle->blockWidth) * handle->blockHeight);
      // The block writer has no report of its own; a refused block is this
      // call's failure.
      if (ktif_BlockWriteOneLayer(variable, buffer,
                                  uint32_t(int64_t(handle->blockWidth) * rbColumn),
                                  uint32_t(int64_t(handle->blockHeight) * rbRow), layer,
                                  bytesPerSample * handle->blockHeight * handle->blockWidth) < 0)
        frame.fail(__LINE__, "ktif_BlockWriteOneLayer failed");
      return;
    }

    RBSetup(handle, layer, frame.slot());
    if (frame.hasReport()) return frame.calleeFailed(__LINE__, "RBSetup");
    if (!handle->cache) return frame.fail(__LINE__, "Invalid Arguments");
    const int64_t layers = handle->cacheBlockLayers;
    const int32_t bits = RBLayerBits(handle, layer);
    if (!bitsWritable(bits, int32_t(layers), handle->bytesPerSample))
      return frame.fail(__LINE__, "%d bits per sample cannot be taken from %d-byte elements", bits,
                        handle->bytesPerSample);
    RBWhiteIsZeroComplement(handle, buffer, rbWidth * rbHeight);

    const bool allLayers = layers == handle->samplesPerPixel && layers > 1;
    const int32_t layerInBlock = allLayers ? layer : 0;
    const int64_t layerOffset = allLayers ? 0 : int64_t(handle->blocksPerLayer) * layer;
    const unsigned char* in = static_cast<const unsigned char*>(buffer);

    if (handle->cacheCapacity == 0) {
      /* The raster-buffer block is one TIFF block of one layer: stored as
       * the caller gave it. A block outside the image has nothing to store. */
      if (rbRow >= handle->blocksDown || rbColumn >= handle->blocksAcross) return;
      const int64_t index = layerOffset + int64_t(handle->blocksAcross) * rbRow + rbColumn;
      interleaveCacheForget(handle, index);
      if (kdms_CacheWrite(handle->cache, int32_t(index), in, frame.slot()) != 0)
        frame.calleeFailed(__LINE__, "kdms_CacheWrite");
      return;
    }

    const int64_t rowBytes = RBCacheRowBytes(handle, bits, layers, frame);
    if (rowBytes < 0) return;
    const int64_t inStride = bytesPerSample * rbWidth;
    // Parts beyond the last TIFF block row or column are not written.
    RBPiecesVisit(handle, rbRow, rbColumn, [&](const RBPiece& p) {
      if (p.column >= handle->blocksAcross || p.row >= handle->blocksDown) return true;
      const int32_t index =
          static_cast<int32_t>(layerOffset + handle->blocksAcross * p.row + p.column);
      void* data = nullptr;
      if (kdms_CacheFetch(handle->cache, index, &data, frame.slot()) != 0)
        return frame.calleeFailed(__LINE__, "kdms_CacheFetch"), false;
      interleaveCacheForget(handle, index);
      unsigned char* block = static_cast<unsigned char*>(data);
      const int64_t bitPosition = bits * p.sx * layers;
      RBTransferReverse(int32_t(p.w), int32_t(p.h), layerInBlock, int32_t(layers), inStride,
                        block + p.sy * rowBytes + bitPosition / 8, rowBytes, bits,
                        in + p.dy * inStride + p.dx * bytesPerSample,
                        bits < 8 ? int32_t(bitPosition % 8) : 0);
      if (kdms_CacheWrite(handle->cache, index, block, frame.slot()) != 0)
        return frame.calleeFailed(__LINE__, "kdms_CacheWrite"), false;
      return true;
    });
  });
}

int32_t ktif_BlockWriteOneLayer(Ktif_File** variable, void* data, uint32_t x, uint32_t y,
                                int32_t layer, int64_t bytes) {
  return kerrGuard(__func__, nullptr, -1, [&]() -> int32_t {
    Ktif_File* h = variable ? *variable : nullptr;
    if (!h || !h->tiff) return 0;
    if (!data || bytes <= 0 || h->samplesPerPixel <= 0 || h->blockWidth <= 0 ||
        h->blockHeight <= 0 || h->bytesPerSample <= 0 || h->blocksAcross <= 0 ||
        h->blocksDown <= 0 || bytes > INT32_MAX)
      return -1;
    const int64_t samples = h->samplesPerPixel;
    if (h->planarConfig == PLANARCONFIG_SEPARATE && samples > 1)
      return planeLayerWrite(variable, data, x, y, layer, bytes);

    const int64_t pixels = int64_t(h->blockWidth) * h->blockHeight;
    if (h->layersCollected < 0 || h->layersCollected >= samples) h->layersCollected = 0;
    if (!assemblyReserve(h, samples * bytes)) return -1;
    unsigned char* buffer = h->layerAssemblyBuffer;
    if (samples > 1) {
      /* Layers come in order: the argument says nothing the count does not. */
      if (bytes < pixels * h->bytesPerSample) return -1;
      ktif_ConvertToBip(h, h->layersCollected, buffer, data, static_cast<uint32_t>(pixels));
    } else {
      if (layer != 0) return -1;
      std::memcpy(buffer, data, size_t(bytes));
    }
    if (++h->layersCollected < samples) return static_cast<int32_t>(bytes);

    int64_t size = samples * bytes;
    if (h->bitsPerSample < 8)
      size = h->blockHeight *
             assemblyPack(buffer, h->bitsPerSample, h->blockWidth * samples, h->blockHeight);
    interleaveCacheForget(h, ktif_BlockNum(h->tiff, x, y, 0));
    const int64_t written = ktif_BlockWrite(h->tiff, buffer, x, y, 0, size);
    h->layersCollected = 0;
    if (lastBlock(h, x, y)) finishedFileReopen(variable);
    return static_cast<int32_t>(written < 0 ? written : written / samples);
  });
}

}  // extern "C"
