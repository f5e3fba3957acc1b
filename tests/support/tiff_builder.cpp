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

// Integer patterns stay below 2^52 so that a double carries them exactly.
constexpr int kPatternBits = 52;

uint64_t patternSeed(int layer, uint32_t x, uint32_t y) {
  return static_cast<uint64_t>(layer) * 1009u + static_cast<uint64_t>(x) * 131u +
         static_cast<uint64_t>(y) * 7919u;
}

bool isNativeWidth(uint16_t bits) {
  return bits == 8 || bits == 16 || bits == 32 || bits == 64;
}

// The stored bit pattern of one sample value.
uint64_t encodeSample(const TiffImageSpec& layout, double value) {
  const uint16_t bits = layout.bitsPerSample;
  if (layout.sampleFormat == 3 && bits == 32) {
    float f = static_cast<float>(value);
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
  }
  if (layout.sampleFormat == 3 && bits == 64) {
    uint64_t u;
    std::memcpy(&u, &value, sizeof u);
    return u;
  }
  // Integers (signed ones as two's complement, cut to the bit depth).
  const int64_t i = static_cast<int64_t>(std::llround(value));
  const uint64_t mask = bits >= 64 ? ~uint64_t{0} : ((uint64_t{1} << bits) - 1);
  return static_cast<uint64_t>(i) & mask;
}

// Appends `bits` bits of `v`, most significant first, at bit position `bitPos`
// of `row`.
void putBits(unsigned char* row, uint64_t bitPos, uint16_t bits, uint64_t v) {
  for (int b = bits - 1; b >= 0; --b, ++bitPos) {
    if ((v >> b) & 1u) row[bitPos >> 3] |= static_cast<unsigned char>(0x80u >> (bitPos & 7));
  }
}

void putNative(unsigned char* at, uint16_t bits, uint64_t v) {
  switch (bits) {
    case 8:
      *at = static_cast<unsigned char>(v);
      break;
    case 16: {
      uint16_t t = static_cast<uint16_t>(v);
      std::memcpy(at, &t, 2);
      break;
    }
    case 32: {
      uint32_t t = static_cast<uint32_t>(v);
      std::memcpy(at, &t, 4);
      break;
    }
    default:
      std::memcpy(at, &v, 8);
      break;
  }
}

// Fills one block (blockW x blockH pixels at x0, y0) of the given plane
// (sample index for planar 2, -1 for all samples interleaved). Pixels outside
// the image stay zero.
void fillBlock(const TiffImageSpec& layout, std::vector<unsigned char>& buffer, uint32_t x0,
               uint32_t y0, uint32_t blockW, uint32_t blockH, int plane) {
  const int samples = plane < 0 ? layout.samplesPerPixel : 1;
  const uint64_t rowBits = static_cast<uint64_t>(blockW) * samples * layout.bitsPerSample;
  const uint64_t rowBytes = (rowBits + 7) / 8;
  buffer.assign(rowBytes * blockH, 0);
  const bool native = isNativeWidth(layout.bitsPerSample);
  for (uint32_t r = 0; r < blockH && y0 + r < layout.height; ++r) {
    unsigned char* row = buffer.data() + r * rowBytes;
    for (uint32_t c = 0; c < blockW && x0 + c < layout.width; ++c) {
      for (int s = 0; s < samples; ++s) {
        const int layer = plane < 0 ? s : plane;
        const double value = layout.value ? layout.value(layer, x0 + c, y0 + r)
                                          : tiffBuilderPattern(layout, layer, x0 + c, y0 + r);
        const uint64_t v = encodeSample(layout, value);
        const uint64_t index = static_cast<uint64_t>(c) * samples + s;
        if (native)
          putNative(row + index * (layout.bitsPerSample / 8), layout.bitsPerSample, v);
        else
          putBits(row, index * layout.bitsPerSample, layout.bitsPerSample, v);
      }
    }
  }
}

bool setFields(TIFF* tif, const TiffImageSpec& layout) {
  bool ok = true;
  auto set = [&](int rc) { ok = ok && rc == 1; };
  set(TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, layout.width));
  set(TIFFSetField(tif, TIFFTAG_IMAGELENGTH, layout.height));
  set(TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.samplesPerPixel));
  set(TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, layout.bitsPerSample));
  set(TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, layout.sampleFormat));
  set(TIFFSetField(tif, TIFFTAG_PLANARCONFIG, layout.planarConfig));
  set(TIFFSetField(tif, TIFFTAG_COMPRESSION, layout.compression));
  const bool jpegYCbCr = layout.compression == COMPRESSION_JPEG && layout.photometric == 6;
  set(TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, layout.photometric));
  if (jpegYCbCr) set(TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB));
  if (layout.tiled) {
    set(TIFFSetField(tif, TIFFTAG_TILEWIDTH, layout.tileWidth));
    set(TIFFSetField(tif, TIFFTAG_TILELENGTH, layout.tileHeight));
  } else {
    const uint32_t rows =
        layout.rowsPerStrip == 0 ? std::max<uint32_t>(layout.height, 1) : layout.rowsPerStrip;
    set(TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows));
  }
  if (layout.newSubfileType >= 0)
    set(TIFFSetField(tif, TIFFTAG_SUBFILETYPE, static_cast<uint32_t>(layout.newSubfileType)));
  if (!layout.description.empty())
    set(TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, layout.description.c_str()));
  if (!layout.colorMap.empty()) {
    const size_t n = layout.bitsPerSample <= 16 ? size_t{1} << layout.bitsPerSample : 0;
    if (layout.colorMap.size() != 3 * n) {
      ADD_FAILURE() << "colour map needs 3 * 2^bitsPerSample entries";
      return false;
    }
    set(TIFFSetField(tif, TIFFTAG_COLORMAP, layout.colorMap.data(), layout.colorMap.data() + n,
                     layout.colorMap.data() + 2 * n));
  }
  if (layout.writeMinMax) {
    // Small unsigned values in the 16-bit tags, everything else as doubles.
    const bool shortForm = layout.sampleFormat == 1 && layout.bitsPerSample <= 16 &&
                           layout.minValue >= 0 && layout.maxValue <= 65535 &&
                           layout.minValue == std::floor(layout.minValue) &&
                           layout.maxValue == std::floor(layout.maxValue);
    if (shortForm) {
      set(TIFFSetField(tif, TIFFTAG_MINSAMPLEVALUE, static_cast<uint16_t>(layout.minValue)));
      set(TIFFSetField(tif, TIFFTAG_MAXSAMPLEVALUE, static_cast<uint16_t>(layout.maxValue)));
    } else {
      set(TIFFSetField(tif, TIFFTAG_SMINSAMPLEVALUE, layout.minValue));
      set(TIFFSetField(tif, TIFFTAG_SMAXSAMPLEVALUE, layout.maxValue));
    }
  }
  return ok;
}

bool writeImage(TIFF* tif, const TiffImageSpec& layout) {
  if (layout.bitsPerSample < 1 || layout.bitsPerSample > 64 || layout.samplesPerPixel < 1) {
    ADD_FAILURE() << "the builder writes 1 to 64 bits and at least one sample";
    return false;
  }
  if (!setFields(tif, layout)) {
    ADD_FAILURE() << "TIFFSetField failed";
    return false;
  }
  std::vector<unsigned char> buffer;
  const int planes = layout.planarConfig == 2 ? layout.samplesPerPixel : 1;
  for (int p = 0; p < planes; ++p) {
    const int plane = layout.planarConfig == 2 ? p : -1;
    if (layout.tiled) {
      for (uint32_t y = 0; y < layout.height; y += layout.tileHeight) {
        for (uint32_t x = 0; x < layout.width; x += layout.tileWidth) {
          fillBlock(layout, buffer, x, y, layout.tileWidth, layout.tileHeight, plane);
          const uint32_t tile = TIFFComputeTile(tif, x, y, 0, static_cast<uint16_t>(p));
          if (TIFFWriteEncodedTile(tif, tile, buffer.data(), static_cast<tmsize_t>(buffer.size())) <
              0) {
            ADD_FAILURE() << "TIFFWriteEncodedTile failed at tile " << tile;
            return false;
          }
        }
      }
    } else {
      const uint32_t rows =
          layout.rowsPerStrip == 0 ? std::max<uint32_t>(layout.height, 1) : layout.rowsPerStrip;
      for (uint32_t y = 0; y < layout.height; y += rows) {
        const uint32_t h = std::min(rows, layout.height - y);
        fillBlock(layout, buffer, 0, y, layout.width, h, plane);
        const uint32_t strip = TIFFComputeStrip(tif, y, static_cast<uint16_t>(p));
        if (TIFFWriteEncodedStrip(tif, strip, buffer.data(), static_cast<tmsize_t>(buffer.size())) <
            0) {
          ADD_FAILURE() << "TIFFWriteEncodedStrip failed at strip " << strip;
          return false;
        }
      }
    }
  }
  if (!TIFFWriteDirectory(tif)) {
    ADD_FAILURE() << "TIFFWriteDirectory failed";
    return false;
  }
  return true;
}

}  // namespace

double tiffBuilderPattern(const TiffImageSpec& layout, int layer, uint32_t x, uint32_t y) {
  const uint64_t seed = patternSeed(layer, x, y);
  const uint16_t bits = layout.bitsPerSample;
  if (bits == 0) return 0;
  if (layout.sampleFormat == 3 && bits == 32)
    return static_cast<double>(seed % 100000u) * 0.25 - 5000.0;
  if (layout.sampleFormat == 3 && bits == 64) return static_cast<double>(seed) * 0.125 - 123456.5;
  // Multiplying spreads the values over the high bytes of wide samples.
  const int useBits = std::min<int>(bits, kPatternBits);
  const uint64_t mask = (uint64_t{1} << useBits) - 1;
  const uint64_t v = (seed * 65599u) & mask;
  if (layout.sampleFormat == 2)
    return static_cast<double>(static_cast<int64_t>(v) - (int64_t{1} << (useBits - 1)));
  return static_cast<double>(v);
}

void tiffBuilderWrite(const std::string& path, const std::vector<TiffImageSpec>& images,
                      bool bigTiff) {
  TIFF* tif = TIFFOpen(path.c_str(), bigTiff ? "w8" : "w");
  if (tif == nullptr) {
    ADD_FAILURE() << "TIFFOpen failed for " << path;
    return;
  }
  for (const TiffImageSpec& layout : images) {
    if (!writeImage(tif, layout)) break;
  }
  TIFFClose(tif);
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
