// Block geometry and block I/O: one TIFF tile or strip at a time, on a bare
// TIFF handle or on an image handle that knows its special deliveries (YCbCr
// as RGB, OPX codes expanded to 16 bits).
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "kerr_guard.h"
#include "ktif_internal.h"

namespace {

// Bytes the RGBA interface writes for one block: a whole tile, or the strip's
// rows (never more than the image height).
int64_t rgbaRasterBytes(TIFF* tiff) {
  uint32_t w = 0, h = 0;
  if (TIFFIsTiled(tiff)) {
    if (!TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &w) || !TIFFGetField(tiff, TIFFTAG_TILELENGTH, &h))
      return -1;
  } else {
    uint32_t length = 0, rps = 0;
    if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w) ||
        !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &length))
      return -1;
    h = TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rps) ? std::min(rps, length) : length;
  }
  const uint64_t pixels = uint64_t{w} * h;
  return pixels > INT64_MAX / 4 ? -1 : static_cast<int64_t>(pixels * 4);
}

// Rows of the block the RGBA interface fills: a tile is always delivered
// whole, a strip only with the rows the image has from `y` on.
int32_t rgbaRowsDelivered(TIFF* tiff, int32_t blockHeight, uint32_t y) {
  if (TIFFIsTiled(tiff)) return blockHeight;
  uint32_t length = 0;
  if (!TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &length) || y >= length) return blockHeight;
  return static_cast<int32_t>(std::min<int64_t>(blockHeight, int64_t{length} - y));
}

void flipRows(unsigned char* data, int64_t rowBytes, int32_t rows) {
  for (int32_t r = 0; r < rows / 2; ++r) {
    unsigned char* top = data + r * rowBytes;
    unsigned char* bottom = data + (rows - 1 - r) * rowBytes;
    std::swap_ranges(top, top + rowBytes, bottom);
  }
}

// YCbCr delivered as 8-bit RGB through the RGBA interface: top row first,
// and 3 bytes per pixel for a 3-sample image. 0 when the read failed.
int64_t rgbaBlockRead(Ktif_File* handle, unsigned char* buffer, uint32_t x, uint32_t y,
                      int64_t size) {
  TIFF* tiff = handle->tiff;
  const int32_t bw = handle->blockWidth, bh = handle->blockHeight;
  if (bw <= 0 || bh <= 0) return 0;
  const int64_t rowBytes = int64_t{bw} * 4;
  const int64_t rasterBytes = rgbaRasterBytes(tiff);
  // bw * bh is below 2^62, so the comparison cannot overflow.
  if (int64_t{bw} * bh > size / 4 || rasterBytes < 0 || rasterBytes > size) return 0;

  const bool tiled = TIFFIsTiled(tiff) != 0;
  auto* raster = reinterpret_cast<uint32_t*>(buffer);
  int ok = tiled ? TIFFReadRGBATile(tiff, x, y, raster) : TIFFReadRGBAStrip(tiff, y, raster);
  if (ok != 1) return 0;

  // The raster comes bottom row first. A tile of orientation 3 is flipped
  // twice, which leaves it as delivered. A short last strip holds only its
  // own rows, so only those are turned over.
  if (!(tiled && handle->orientation == 3))
    flipRows(buffer, rowBytes, rgbaRowsDelivered(tiff, bh, y));

  if (handle->samplesPerPixel == 3) {
    const int64_t pixels = int64_t{bw} * bh;
    unsigned char* to = buffer;
    const unsigned char* from = buffer;
    for (int64_t p = 0; p < pixels; ++p, to += 3, from += 4) {
      to[0] = from[0];
      to[1] = from[1];
      to[2] = from[2];
    }
  }
  return size;
}

int64_t tileRead(TIFF* tiff, void* buffer, uint32_t x, uint32_t y, uint16_t sample, int64_t size) {
  // The TIFF library decodes a whole tile whatever the buffer holds.
  const tmsize_t tileBytes = TIFFTileSize(tiff);
  if (tileBytes <= 0 || tileBytes > size) return -1;
  return TIFFReadTile(tiff, buffer, x, y, 0, sample);
}

// The raw tile ends with the range of its codes: the low end, then the high
// end, each an unsigned 16-bit word in machine order.
int64_t opxTileRead(TIFF* tiff, unsigned char* buffer, uint32_t x, uint32_t y, uint16_t sample,
                    int64_t size) {
  const uint32_t tile = TIFFComputeTile(tiff, x, y, 0, sample);
  const tmsize_t n = TIFFReadRawTile(tiff, tile, buffer, size);
  if (n < 4) return -1;
  const tmsize_t words = n / 2;
  uint16_t lo = 0, hi = 0;
  std::memcpy(&lo, buffer + (words - 2) * 2, 2);
  std::memcpy(&hi, buffer + (words - 1) * 2, 2);
  const int64_t m = tileRead(tiff, buffer, x, y, sample, size);
  if (m < 0) return m;
  opxExpand(buffer, static_cast<uint32_t>(std::min<int64_t>(m / 2, UINT32_MAX)), lo, hi);
  return m;
}

// A last strip with fewer rows than RowsPerStrip may be refused at the full
// size; it is asked for again with its share of `size`.
int64_t stripRead(TIFF* tiff, void* buffer, uint32_t y, uint16_t sample, int64_t size) {
  const uint32_t strip = TIFFComputeStrip(tiff, y, sample);
  tmsize_t r = TIFFReadEncodedStrip(tiff, strip, buffer, size);
  if (r >= 0) return r;
  uint32_t h = 0, rps = 0;
  if (!TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h) ||
      !TIFFGetField(tiff, TIFFTAG_ROWSPERSTRIP, &rps) || rps == 0)
    return r;
  const uint32_t rem = h % rps;
  const auto n = static_cast<int64_t>(static_cast<double>(rem) / rps * static_cast<double>(size));
  if (n > 0 && n < size && strip < TIFFNumberOfStrips(tiff))
    r = TIFFReadEncodedStrip(tiff, strip, buffer, n);
  return r;
}

}  // namespace

void opxTableBuild(uint16_t lo, uint16_t hi, uint16_t table[256]) {
  const double span = static_cast<double>(hi) - static_cast<double>(lo);
  // 16744448 is 255.5 * 65536: the codes spread over the span, centred.
  const double step = span < 256 ? 65535.0 : std::floor(16744448.0 / span);
  for (int i = 0; i < 256; ++i) {
    const double v = (i * 65536.0 + 32768.0) / step + lo;
    table[i] = static_cast<uint16_t>(std::min<int64_t>(static_cast<int64_t>(v), 65535));
  }
}

void opxExpand(void* buffer, uint32_t count, uint16_t lo, uint16_t hi) {
  if (buffer == nullptr || count == 0) return;
  uint16_t table[256];
  opxTableBuild(lo, hi, table);
  auto* bytes = static_cast<unsigned char*>(buffer);
  // From the end, so that no code is overwritten before it is read. (The
  // shorter `for (uint32_t j = count; j-- > 0;)` form of this loop is
  // miscompiled by GCC 12 at -O1 and above: the buffer comes back unchanged.)
  for (size_t j = count; j > 0; --j) {
    const uint16_t value = table[bytes[j - 1]];
    std::memcpy(bytes + 2 * (j - 1), &value, 2);
  }
}

uint32_t ktif_BlockNum(TIFF* tiff, uint32_t x, uint32_t y, uint16_t sample) {
  return kerrGuard(__func__, nullptr, 0, [&]() -> uint32_t {
    if (tiff == nullptr) return UINT32_MAX;
    return TIFFIsTiled(tiff) ? TIFFComputeTile(tiff, x, y, 0, sample)
                             : TIFFComputeStrip(tiff, y, sample);
  });
}

int64_t ktif_BlockSize(TIFF* tiff) {
  return kerrGuard(__func__, nullptr, -1, [&]() -> int64_t {
    if (tiff == nullptr) return -1;
    return TIFFIsTiled(tiff) ? TIFFTileSize(tiff) : TIFFStripSize(tiff);
  });
}

int64_t ktif_HandleBlockSize(Ktif_File* handle) {
  return kerrGuard(__func__, nullptr, -1, [&]() -> int64_t {
    if (handle == nullptr) return -1;
    int64_t size;
    if (handle->rgbaRead) {
      if (handle->blockWidth < 0 || handle->blockHeight < 0) return -1;
      size = int64_t{handle->blockWidth} * handle->blockHeight;  // below 2^62
      if (size > INT64_MAX / 8) return -1;
      size *= 4;
    } else {
      size = ktif_BlockSize(handle->tiff);
      if (size < 0 || size > INT64_MAX / 2) return -1;
    }
    return handle->isOPX ? size * 2 : size;
  });
}

int64_t ktif_HandleBlockRead(Ktif_File* handle, void* buffer, uint32_t x, uint32_t y,
                             uint16_t sample, int64_t size) {
  return kerrGuard(__func__, nullptr, -1, [&]() -> int64_t {
    if (handle == nullptr || handle->tiff == nullptr || buffer == nullptr || size < 0) return -1;
    auto* bytes = static_cast<unsigned char*>(buffer);
    if (handle->rgbaRead) return rgbaBlockRead(handle, bytes, x, y, size);
    if (TIFFIsTiled(handle->tiff)) {
      if (handle->isOPX) return opxTileRead(handle->tiff, bytes, x, y, sample, size);
      return tileRead(handle->tiff, buffer, x, y, sample, size);
    }
    return stripRead(handle->tiff, buffer, y, sample, size);
  });
}

int64_t ktif_BlockRead(TIFF* tiff, void* buffer, uint32_t x, uint32_t y, uint16_t sample,
                       int64_t size) {
  return kerrGuard(__func__, nullptr, -1, [&]() -> int64_t {
    if (tiff == nullptr || buffer == nullptr || size < 0) return -1;
    if (TIFFIsTiled(tiff)) return tileRead(tiff, buffer, x, y, sample, size);
    return stripRead(tiff, buffer, y, sample, size);
  });
}

int64_t ktif_BlockWrite(TIFF* tiff, void* buffer, uint32_t x, uint32_t y, uint16_t sample,
                        int64_t size) {
  return kerrGuard(__func__, nullptr, -1, [&]() -> int64_t {
    if (tiff == nullptr || buffer == nullptr || size < 0) return -1;
    if (TIFFIsTiled(tiff)) {
      // The TIFF library takes a whole tile from the buffer.
      const tmsize_t tileBytes = TIFFTileSize(tiff);
      if (tileBytes <= 0 || tileBytes > size) return -1;
      return TIFFWriteTile(tiff, buffer, x, y, 0, sample);
    }
    int64_t bytes = size;
    uint32_t h = 0, rps = 0;
    if (TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h) &&
        TIFFGetField(tiff, TIFFTAG_ROWSPERSTRIP, &rps) && uint64_t{y} + rps > h) {
      // The last strip is short: only the rows the image has are written.
      if (y >= h) return -1;
      bytes = std::min<int64_t>(size, int64_t{TIFFScanlineSize(tiff)} * (h - y));
    }
    return TIFFWriteEncodedStrip(tiff, TIFFComputeStrip(tiff, y, sample), buffer, bytes);
  });
}
