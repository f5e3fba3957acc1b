#include "tiff_builder.h"

#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

uint64_t patternSeed(int layer, uint32_t x, uint32_t y) {
  return uint64_t(layer) * 1009u + uint64_t(x) * 131u + uint64_t(y) * 7919u;
}

uint32_t stripRows(const TiffImageLayout& layout) {
  return layout.rowsPerStrip == 0 ? std::max<uint32_t>(layout.height, 1) : layout.rowsPerStrip;
}

// The stored bit pattern of one sample value: floats as their IEEE bits,
// integers (signed ones as two's complement) cut to the bit depth.
uint64_t encodeSample(const TiffImageLayout& layout, double value) {
  const uint16_t bits = layout.bitsPerSample;
  if (layout.sampleFormat == 3 && bits == 32) {
    const float f = float(value);
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
  }
  if (layout.sampleFormat == 3 && bits == 64) {
    uint64_t u;
    std::memcpy(&u, &value, sizeof u);
    return u;
  }
  const uint64_t mask = bits >= 64 ? ~uint64_t{0} : ((uint64_t{1} << bits) - 1);
  return uint64_t(std::llround(value)) & mask;
}

template <typename T>
void putAs(unsigned char* at, uint64_t v) {
  const T t = T(v);
  std::memcpy(at, &t, sizeof t);
}

// Stores sample `index` of a row: whole bytes in host order (libtiff swaps
// them), narrower samples packed most significant bit first.
void putSample(unsigned char* row, uint64_t index, uint16_t bits, uint64_t v) {
  if (bits == 8) return putAs<uint8_t>(row + index, v);
  if (bits == 16) return putAs<uint16_t>(row + index * 2, v);
  if (bits == 32) return putAs<uint32_t>(row + index * 4, v);
  if (bits == 64) return putAs<uint64_t>(row + index * 8, v);
  for (uint64_t b = bits, bitPos = index * bits; b-- > 0; ++bitPos)
    if ((v >> b) & 1u) row[bitPos >> 3] |= static_cast<unsigned char>(0x80u >> (bitPos & 7));
}

// Fills one block (blockW x blockH pixels at x0, y0) of the given plane
// (sample index for planar 2, -1 for all samples interleaved). Pixels outside
// the image stay zero.
void fillBlock(const TiffImageLayout& layout, std::vector<unsigned char>& buffer, uint32_t x0,
               uint32_t y0, uint32_t blockW, uint32_t blockH, int plane) {
  const int samples = plane < 0 ? layout.samplesPerPixel : 1;
  const uint64_t rowBytes = (uint64_t(blockW) * samples * layout.bitsPerSample + 7) / 8;
  buffer.assign(rowBytes * blockH, 0);
  for (uint32_t r = 0; r < blockH && y0 + r < layout.height; ++r)
    for (uint32_t c = 0; c < blockW && x0 + c < layout.width; ++c)
      for (int s = 0; s < samples; ++s) {
        const int layer = plane < 0 ? s : plane;
        const double value = layout.value ? layout.value(layer, x0 + c, y0 + r)
                                          : tiffBuilderPattern(layout, layer, x0 + c, y0 + r);
        putSample(buffer.data() + r * rowBytes, uint64_t(c) * samples + s, layout.bitsPerSample,
                  encodeSample(layout, value));
      }
}

bool setFields(TIFF* tif, const TiffImageLayout& layout) {
  bool ok = true;
  auto set = [&](int rc) { ok = ok && rc == 1; };
  set(TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, layout.width));
  set(TIFFSetField(tif, TIFFTAG_IMAGELENGTH, layout.height));
  set(TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.samplesPerPixel));
  set(TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, layout.bitsPerSample));
  set(TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, layout.sampleFormat));
  set(TIFFSetField(tif, TIFFTAG_PLANARCONFIG, layout.planarConfig));
  set(TIFFSetField(tif, TIFFTAG_COMPRESSION, layout.compression));
  set(TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, layout.photometric));
  if (layout.compression == COMPRESSION_JPEG && layout.photometric == 6)
    set(TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB));
  if (layout.tiled) {
    set(TIFFSetField(tif, TIFFTAG_TILEWIDTH, layout.tileWidth));
    set(TIFFSetField(tif, TIFFTAG_TILELENGTH, layout.tileHeight));
  } else {
    set(TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, stripRows(layout)));
  }
  if (layout.newSubfileType >= 0)
    set(TIFFSetField(tif, TIFFTAG_SUBFILETYPE, uint32_t(layout.newSubfileType)));
  if (!layout.description.empty())
    set(TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, layout.description.c_str()));
  if (!layout.colorMap.empty()) {
    const size_t n = layout.bitsPerSample <= 16 ? size_t{1} << layout.bitsPerSample : 0;
    if (layout.colorMap.size() != 3 * n) {
      ADD_FAILURE() << "colour map needs 3 * 2^bitsPerSample entries";
      return false;
    }
    const uint16_t* map = layout.colorMap.data();
    set(TIFFSetField(tif, TIFFTAG_COLORMAP, map, map + n, map + 2 * n));
  }
  if (layout.writeMinMax) {
    // Small unsigned values in the 16-bit tags, everything else as doubles.
    const bool shortForm = layout.sampleFormat == 1 && layout.bitsPerSample <= 16 &&
                           layout.minValue >= 0 && layout.maxValue <= 65535 &&
                           layout.minValue == std::floor(layout.minValue) &&
                           layout.maxValue == std::floor(layout.maxValue);
    if (shortForm) {
      set(TIFFSetField(tif, TIFFTAG_MINSAMPLEVALUE, uint16_t(layout.minValue)));
      set(TIFFSetField(tif, TIFFTAG_MAXSAMPLEVALUE, uint16_t(layout.maxValue)));
    } else {
      set(TIFFSetField(tif, TIFFTAG_SMINSAMPLEVALUE, layout.minValue));
      set(TIFFSetField(tif, TIFFTAG_SMAXSAMPLEVALUE, layout.maxValue));
    }
  }
  return ok;
}

bool writeImage(TIFF* tif, const TiffImageLayout& layout) {
  if (layout.bitsPerSample < 1 || layout.bitsPerSample > 64 || layout.samplesPerPixel < 1) {
    ADD_FAILURE() << "the builder writes 1 to 64 bits and at least one sample";
    return false;
  }
  if (!setFields(tif, layout)) {
    ADD_FAILURE() << "TIFFSetField failed";
    return false;
  }
  // Tiles are always whole; a strip is the whole width and the last one is cut short.
  const uint32_t stepX = layout.tiled ? layout.tileWidth : std::max<uint32_t>(layout.width, 1);
  const uint32_t stepY = layout.tiled ? layout.tileHeight : stripRows(layout);
  std::vector<unsigned char> buffer;
  const int planes = layout.planarConfig == 2 ? layout.samplesPerPixel : 1;
  for (uint16_t p = 0; p < planes; ++p)
    for (uint32_t y = 0; y < layout.height; y += stepY)
      for (uint32_t x = 0; x < layout.width || (x == 0 && !layout.tiled); x += stepX) {
        const uint32_t blockH = layout.tiled ? stepY : std::min(stepY, layout.height - y);
        fillBlock(layout, buffer, x, y, layout.tiled ? stepX : layout.width, blockH,
                  layout.planarConfig == 2 ? p : -1);
        const auto size = tmsize_t(buffer.size());
        const bool written =
            layout.tiled
                ? TIFFWriteEncodedTile(tif, TIFFComputeTile(tif, x, y, 0, p), buffer.data(),
                                       size) >= 0
                : TIFFWriteEncodedStrip(tif, TIFFComputeStrip(tif, y, p), buffer.data(), size) >= 0;
        if (!written) {
          ADD_FAILURE() << "writing the block at " << x << "," << y << " failed";
          return false;
        }
      }
  if (!TIFFWriteDirectory(tif)) {
    ADD_FAILURE() << "TIFFWriteDirectory failed";
    return false;
  }
  return true;
}

}  // namespace

TiffImageLayout tiffImage(uint32_t width, uint32_t height, uint16_t bits, uint16_t samples,
                          uint32_t tileWidth, uint32_t rows, uint16_t compression) {
  TiffImageLayout layout;
  layout.width = width, layout.height = height, layout.bitsPerSample = bits;
  layout.samplesPerPixel = samples, layout.photometric = samples == 3 ? 2 : 1;
  layout.tiled = tileWidth != 0, layout.tileWidth = tileWidth;
  layout.tileHeight = rows != 0 ? rows : tileWidth;
  layout.rowsPerStrip = rows, layout.compression = compression;
  return layout;
}

double tiffBuilderPattern(const TiffImageLayout& layout, int layer, uint32_t x, uint32_t y) {
  const uint64_t seed = patternSeed(layer, x, y);
  const uint16_t bits = layout.bitsPerSample;
  if (bits == 0) return 0;
  if (layout.sampleFormat == 3 && bits == 32) return double(seed % 100000u) * 0.25 - 5000.0;
  if (layout.sampleFormat == 3 && bits == 64) return double(seed) * 0.125 - 123456.5;
  // Multiplying spreads the values over the high bytes of wide samples.
  const int useBits = std::min<int>(bits, 52);  // below 2^52 a double is exact
  const uint64_t mask = (uint64_t{1} << useBits) - 1;
  const uint64_t v = (seed * 65599u) & mask;
  if (layout.sampleFormat == 2) return double(int64_t(v) - (int64_t{1} << (useBits - 1)));
  return double(v);
}

uint64_t tiffBuilderStored(const TiffImageLayout& layout, int layer, uint32_t x, uint32_t y) {
  return encodeSample(
      layout, layout.value ? layout.value(layer, x, y) : tiffBuilderPattern(layout, layer, x, y));
}

void tiffBuilderWrite(const std::string& path, const std::vector<TiffImageLayout>& images,
                      bool bigTiff) {
  Tiff tif(TIFFOpen(path.c_str(), bigTiff ? "w8" : "w"));
  if (tif == nullptr) {
    ADD_FAILURE() << "TIFFOpen failed for " << path;
    return;
  }
  for (const TiffImageLayout& layout : images)
    if (!writeImage(tif.get(), layout)) break;
}

TempFile::TempFile(const std::string& stem) {
  static std::atomic<int> counter{0};
  const char* dir = std::getenv("TMPDIR");
  std::string base = dir != nullptr && *dir != '\0' ? dir : "/tmp";
  path_ = base + "/ktif_" + stem + "_" + std::to_string(getpid()) + "_" +
          std::to_string(counter++) + ".tif";
  std::remove(path_.c_str());
}

TempFile::~TempFile() {
  std::remove(path_.c_str());
}
