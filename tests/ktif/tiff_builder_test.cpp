// The test images are only as good as their writer: read a few kinds back with
// libtiff alone, so that a packing or byte-order slip in the builder cannot
// hide behind the same slip in the reader under test.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "tiff_builder.h"

namespace {

// Sample `i` of a decoded block row (little-endian host), as the builder's value.
double sampleAt(const TiffImageLayout& s, const unsigned char* row, uint64_t i) {
  const uint16_t bits = s.bitsPerSample;
  uint64_t v = 0;
  if (bits % 8 == 0)
    std::memcpy(&v, row + i * (bits / 8), bits / 8);
  else
    for (uint64_t b = i * bits; b < (i + 1) * bits; ++b)
      v = (v << 1) | ((row[b >> 3] >> (7 - (b & 7))) & 1u);
  float f;
  if (s.sampleFormat == 3) return std::memcpy(&f, &v, 4), f;
  if (s.sampleFormat == 2 && (v >> (bits - 1)) != 0) v |= ~uint64_t{0} << bits;
  return s.sampleFormat == 2 ? double(int64_t(v)) : double(v);
}

TEST(TiffBuilder, LibtiffReadsBackRepresentativeLayouts) {
  // bits, sample format, samples, planar, tiled, compression; 37 x 29 leaves
  // rows ending inside a byte, a short last strip and partial edge tiles.
  const uint16_t kinds[][6] = {
      {1, 1, 1, 1, 0, 1},  {4, 1, 3, 1, 1, 5},  {16, 2, 3, 2, 0, 8},
      {32, 3, 1, 1, 1, 1}, {32, 1, 2, 1, 0, 1},
  };
  std::vector<TiffImageLayout> layouts;
  for (const auto& k : kinds) {
    layouts.push_back(tiffImage(37, 29, k[0], k[2], k[4] ? 16 : 0, 16, k[5]));
    layouts.back().sampleFormat = k[1], layouts.back().planarConfig = k[3];
  }
  TempFile file("builder");
  tiffBuilderWrite(file.path(), layouts);
  Tiff owner(TIFFOpen(file.path().c_str(), "r"));
  ASSERT_NE(owner, nullptr);
  TIFF* tif = owner.get();
  for (size_t i = 0; i < layouts.size(); ++i) {
    const TiffImageLayout& s = layouts[i];
    ASSERT_TRUE(TIFFSetDirectory(tif, static_cast<tdir_t>(i)));
    // The pattern must vary, or the comparison below proves little.
    EXPECT_NE(tiffBuilderPattern(s, 0, 1, 0), tiffBuilderPattern(s, 0, 0, 0));
    EXPECT_NE(tiffBuilderPattern(s, 0, 0, 1), tiffBuilderPattern(s, 0, 0, 0));
    const bool separate = s.planarConfig == 2;
    const int perPixel = separate ? 1 : s.samplesPerPixel;
    const uint32_t blockW = s.tiled ? s.tileWidth : s.width, blockH = s.rowsPerStrip;
    const uint64_t rowBytes = (uint64_t{blockW} * perPixel * s.bitsPerSample + 7) / 8;
    std::vector<unsigned char> block(size_t(s.tiled ? TIFFTileSize(tif) : TIFFStripSize(tif)));
    for (int layer = 0; layer < s.samplesPerPixel; ++layer)
      for (uint32_t y0 = 0; y0 < s.height; y0 += blockH)
        for (uint32_t x0 = 0; x0 < s.width; x0 += blockW) {
          const uint16_t p = separate ? layer : 0;
          ASSERT_GT(s.tiled
                        ? TIFFReadTile(tif, block.data(), x0, y0, 0, p)
                        : TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, y0, p), block.data(), -1),
                    0);
          for (uint32_t y = y0; y < std::min(y0 + blockH, s.height); ++y)
            for (uint32_t x = x0; x < std::min(x0 + blockW, s.width); ++x)
              ASSERT_EQ(sampleAt(s, block.data() + (y - y0) * rowBytes,
                                 uint64_t{x - x0} * perPixel + (separate ? 0 : layer)),
                        tiffBuilderPattern(s, layer, x, y))
                  << "image " << i << " layer " << layer << " at " << x << "," << y;
        }
  }
}

}  // namespace
