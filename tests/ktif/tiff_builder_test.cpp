// The test images are only as good as their writer: read every kind back with
// libtiff alone, so that a packing or byte-order slip in the builder cannot
// hide behind the same slip in the reader under test.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "tiff_builder.h"

namespace {

// Sample `index` of a decoded row or tile row, as the builder's value.
double decodeSample(const TiffImageSpec& layout, const unsigned char* row, uint64_t index) {
  const uint16_t bits = layout.bitsPerSample;
  uint64_t v = 0;
  if (bits == 8 || bits == 16 || bits == 32 || bits == 64) {
    std::memcpy(&v, row + index * (bits / 8), bits / 8);  // little-endian host
  } else {
    for (uint64_t b = index * bits; b < (index + 1) * bits; ++b)
      v = (v << 1) | ((row[b >> 3] >> (7 - (b & 7))) & 1u);
  }
  if (layout.sampleFormat == 3 && bits == 32) {
    float f;
    uint32_t u = static_cast<uint32_t>(v);
    std::memcpy(&f, &u, 4);
    return f;
  }
  if (layout.sampleFormat == 3 && bits == 64) {
    double d;
    std::memcpy(&d, &v, 8);
    return d;
  }
  if (layout.sampleFormat == 2 && bits < 64 && (v >> (bits - 1)) != 0) v |= ~uint64_t{0} << bits;
  return layout.sampleFormat == 2 ? static_cast<double>(static_cast<int64_t>(v))
                                  : static_cast<double>(v);
}

TiffImageSpec make(uint16_t bits, uint16_t format, uint16_t spp, uint16_t planar, bool tiled,
                   uint16_t compression) {
  TiffImageSpec s;
  s.width = 37;
  s.height = 29;
  s.bitsPerSample = bits;
  s.sampleFormat = format;
  s.samplesPerPixel = spp;
  s.planarConfig = planar;
  s.photometric = spp == 3 ? 2 : 1;
  s.tiled = tiled;
  s.rowsPerStrip = 8;
  s.compression = compression;
  return s;
}

TEST(TiffBuilder, LibtiffReadsBackEveryPattern) {
  const std::vector<TiffImageSpec> layouts = {
      make(1, 1, 1, 1, false, 1),  make(2, 1, 1, 1, true, 5),   make(4, 1, 1, 1, false, 32773),
      make(12, 1, 1, 1, false, 1), make(8, 2, 3, 2, true, 8),   make(16, 1, 3, 1, false, 5),
      make(16, 2, 1, 1, true, 1),  make(32, 1, 4, 2, false, 8), make(32, 3, 1, 1, true, 5),
      make(64, 3, 2, 1, false, 1), make(4, 1, 3, 2, true, 1),
  };
  TempFile file("builder");
  tiffBuilderWrite(file.path(), layouts);
  TIFF* tif = TIFFOpen(file.path().c_str(), "r");
  ASSERT_NE(tif, nullptr);
  for (size_t i = 0; i < layouts.size(); ++i) {
    const TiffImageSpec& s = layouts[i];
    SCOPED_TRACE("image " + std::to_string(i));
    ASSERT_TRUE(TIFFSetDirectory(tif, static_cast<tdir_t>(i)));
    uint16_t bits = 0, format = 0, planar = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    EXPECT_EQ(bits, s.bitsPerSample);
    EXPECT_EQ(format, s.sampleFormat);
    EXPECT_EQ(planar, s.planarConfig);
    EXPECT_EQ(TIFFIsTiled(tif) != 0, s.tiled);
    const int planes = s.planarConfig == 2 ? s.samplesPerPixel : 1;
    const int perPixel = s.planarConfig == 2 ? 1 : s.samplesPerPixel;
    const uint32_t blockW = s.tiled ? s.tileWidth : s.width;
    const uint32_t blockH = s.tiled ? s.tileHeight : s.rowsPerStrip;
    const uint64_t rowBytes = (uint64_t{blockW} * perPixel * s.bitsPerSample + 7) / 8;
    std::vector<unsigned char> block(
        static_cast<size_t>(s.tiled ? TIFFTileSize(tif) : TIFFStripSize(tif)));
    int mismatches = 0;
    for (int p = 0; p < planes; ++p) {
      for (uint32_t y0 = 0; y0 < s.height; y0 += blockH) {
        for (uint32_t x0 = 0; x0 < s.width; x0 += blockW) {
          const tmsize_t got =
              s.tiled
                  ? TIFFReadEncodedTile(tif, TIFFComputeTile(tif, x0, y0, 0, p), block.data(), -1)
                  : TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, y0, p), block.data(), -1);
          ASSERT_GT(got, 0);
          for (uint32_t y = y0; y < std::min(y0 + blockH, s.height); ++y) {
            for (uint32_t x = x0; x < std::min(x0 + blockW, s.width); ++x) {
              for (int k = 0; k < perPixel; ++k) {
                const int layer = s.planarConfig == 2 ? p : k;
                const double v = decodeSample(s, block.data() + (y - y0) * rowBytes,
                                              uint64_t{x - x0} * perPixel + k);
                if (v != tiffBuilderPattern(s, layer, x, y) && mismatches++ < 3)
                  ADD_FAILURE() << "layer " << layer << " (" << x << "," << y << "): " << v
                                << " vs " << tiffBuilderPattern(s, layer, x, y);
              }
            }
          }
        }
      }
    }
    // The pattern must vary, or the comparison above proves little.
    EXPECT_NE(tiffBuilderPattern(s, 0, 1, 0), tiffBuilderPattern(s, 0, 0, 0));
    EXPECT_NE(tiffBuilderPattern(s, 0, 0, 1), tiffBuilderPattern(s, 0, 0, 0));
  }
  TIFFClose(tif);
}

TEST(TiffBuilder, JpegYCbCrTagsAndColourMap) {
  TiffImageSpec jpeg = make(8, 1, 3, 1, true, COMPRESSION_JPEG);
  jpeg.photometric = 6;
  jpeg.width = 48;  // whole tiles: zero padding would ring into the edge pixels
  jpeg.height = 48;
  jpeg.value = [](int layer, uint32_t x, uint32_t y) { return 60.0 + 40 * layer + x + y; };
  TiffImageSpec palette = make(4, 1, 1, 1, false, 1);
  palette.photometric = 3;
  for (int i = 0; i < 48; ++i) palette.colorMap.push_back(static_cast<uint16_t>(i * 1000));
  palette.writeMinMax = true;
  palette.minValue = 1;
  palette.maxValue = 14;
  palette.newSubfileType = 0;
  palette.description = "four bits";
  TempFile file("builder_jpeg");
  tiffBuilderWrite(file.path(), {jpeg, palette}, true);
  TIFF* tif = TIFFOpen(file.path().c_str(), "r");
  ASSERT_NE(tif, nullptr);
  EXPECT_TRUE(TIFFIsBigEndian(tif) == 0);
  uint16_t photometric = 0;
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  EXPECT_EQ(photometric, 6);
  std::vector<uint32_t> rgba(48 * 48);
  ASSERT_TRUE(TIFFReadRGBAImageOriented(tif, 48, 48, rgba.data(), ORIENTATION_TOPLEFT, 0));
  int worst = 0;
  for (uint32_t y = 0; y < 48; ++y)
    for (uint32_t x = 0; x < 48; ++x)
      for (int c = 0; c < 3; ++c) {
        const int got = (rgba[y * 48 + x] >> (8 * c)) & 0xff;
        worst = std::max(worst, std::abs(got - static_cast<int>(jpeg.value(c, x, y))));
      }
  EXPECT_LE(worst, 8);  // lossy, but the colours must land in the right bands
  ASSERT_TRUE(TIFFReadDirectory(tif));
  uint16_t *red = nullptr, *green = nullptr, *blue = nullptr, minV = 0, maxV = 0;
  ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue));
  EXPECT_EQ(red[1], 1000);
  EXPECT_EQ(green[0], 16000);
  EXPECT_EQ(blue[15], 47000);
  ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_MINSAMPLEVALUE, &minV));
  ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_MAXSAMPLEVALUE, &maxV));
  EXPECT_EQ(minV, 1);
  EXPECT_EQ(maxV, 14);
  char* text = nullptr;
  ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &text));
  EXPECT_STREQ(text, "four bits");
  TIFFClose(tif);
}

}  // namespace
