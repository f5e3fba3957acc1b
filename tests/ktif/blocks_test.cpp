// Block numbers and sizes, short last strips, OPX expansion and RGB delivery.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <functional>

#include "ktif_internal.h"
#include "raster_read.h"
#include "tiff_builder.h"

namespace {

Tiff tiffOpen(const std::string& path, const char* mode) {
  return Tiff(TIFFOpen(path.c_str(), mode));
}

// An 8-bit image 8 pixels wide in strips of 32 rows, or one 16 x 16 tile;
// `write(tiff, block number, first row)` writes each block.
void writeImage(const std::string& path, uint32_t height, bool tiled,
                const std::function<void(TIFF*, uint32_t, uint32_t)>& write) {
  Tiff tiff = tiffOpen(path, "w");
  TIFFSetField(tiff.get(), TIFFTAG_IMAGEWIDTH, tiled ? 16 : 8);
  TIFFSetField(tiff.get(), TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tiff.get(), TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  if (tiled) TIFFSetField(tiff.get(), TIFFTAG_TILEWIDTH, 16);
  TIFFSetField(tiff.get(), tiled ? TIFFTAG_TILELENGTH : TIFFTAG_ROWSPERSTRIP, tiled ? 16 : 32);
  for (uint32_t y = 0; y < height; y += 32) write(tiff.get(), y / 32, y);
  ASSERT_TRUE(TIFFWriteDirectory(tiff.get()));
}

std::vector<unsigned char> stripData(uint32_t y) {
  std::vector<unsigned char> data(256);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(y + i / 3);
  return data;
}

TEST(KtifBlocks, NumbersAndSizes) {
  TempFile tiled("tiled"), strips("strips");
  TiffImageLayout t = tiffImage(1000, 700, 8, 2, 256), s = tiffImage(64, 100, 8, 2, 0, 32);
  t.planarConfig = s.planarConfig = 2;
  tiffBuilderWrite(tiled.path(), {t});
  tiffBuilderWrite(strips.path(), {s});
  Tiff tt = tiffOpen(tiled.path(), "r"), ts = tiffOpen(strips.path(), "r");
  // 4 x 3 tiles and 4 strips a plane.
  EXPECT_EQ(ktif_BlockNum(tt.get(), 999, 699, 0), 11u);
  EXPECT_EQ(ktif_BlockNum(tt.get(), 300, 260, 1), 12u + 5);
  EXPECT_EQ(ktif_BlockNum(ts.get(), 0, 96, 1), 7u);
  EXPECT_EQ(ktif_BlockSize(ts.get()), 32 * 64);
  unsigned char byte = 0;
  EXPECT_LT(ktif_BlockRead(tt.get(), &byte, 0, 0, 0, 1), 0) << "buffer smaller than a tile";
}

TEST(KtifBlocks, ShortLastStrip) {
  TempFile file("short_strip");
  std::vector<int64_t> written;
  writeImage(file.path(), 100, false, [&](TIFF* tiff, uint32_t, uint32_t y) {
    written.push_back(ktif_BlockWrite(tiff, stripData(y).data(), 0, y, 0, 256));
  });
  EXPECT_EQ(written, (std::vector<int64_t>{256, 256, 256, 32}));
  std::vector<unsigned char> data(256);
  ASSERT_EQ(ktif_BlockRead(tiffOpen(file.path(), "r").get(), data.data(), 0, 96, 0, 256), 32);
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 32, stripData(96).begin()));

  // A last strip of 2 rows' worth of bytes is refused; the retry asks for
  // (height mod 32) / 32 of `size`, and only when there is a remainder.
  for (auto [height, size, expected] :
       {std::tuple{100u, 128, 16}, {100u, 256, -1}, {96u, 128, -1}}) {
    TempFile cut("cut_strip");
    const uint32_t last = (height - 1) / 32;
    writeImage(cut.path(), height, false, [&](TIFF* t, uint32_t strip, uint32_t y) {
      TIFFWriteRawStrip(t, strip, stripData(y).data(), strip == last ? 16 : 256);
    });
    EXPECT_EQ(ktif_BlockRead(tiffOpen(cut.path(), "r").get(), data.data(), 0, last * 32, 0, size),
              expected)
        << height << " rows, size " << size;
  }
}

TEST(KtifBlocks, OpxTileIsExpanded) {
  // Steps of 255 over the whole range; a span below 256 adds the codes to lo.
  uint16_t wide[256], table[256];
  opxTableBuild(0, 65535, wide);
  opxTableBuild(1000, 1100, table);
  EXPECT_EQ(std::vector<int>({wide[0], wide[254], wide[255], table[0], table[255]}),
            std::vector<int>({128, 65407, 65535, 1000, 1255}));

  // An uncompressed tile written raw, so that decoded equals raw: codes, then
  // the words lo and hi. Stock libtiff counts the codes' bytes; half of that
  // count is expanded.
  TempFile file("opx");
  std::vector<unsigned char> tile(256);
  for (size_t i = 0; i < tile.size(); ++i) tile[i] = static_cast<unsigned char>(255 - i * 3);
  const uint16_t range[2] = {1000, 1100};
  std::memcpy(&tile[252], range, 4);
  writeImage(file.path(), 16, true,
             [&](TIFF* t, uint32_t, uint32_t) { TIFFWriteRawTile(t, 0, tile.data(), 256); });
  ktifCompatOPXHookSet([](TIFF*) { return 1; });
  KtifHandle h = ktifOpenOrFail(file.path());
  ktifCompatOPXHookSet(nullptr);
  ASSERT_TRUE(h && h->pixelType == KTIF_PIXEL_U16);
  EXPECT_EQ(ktif_HandleBlockSize(h.get()), 2 * 256);  // codes widened to 16 bits
  std::vector<uint64_t> values = ktifReadLayer(h.get(), 0);
  ASSERT_EQ(values.size(), 256u);
  for (size_t j = 0; j < 128; ++j) ASSERT_EQ(values[j], table[tile[j]]) << j;
}

// A colour ramp that JPEG keeps within a few levels.
double ramp(int layer, uint32_t x, uint32_t y) {
  return layer == 0 ? 40 + 4 * y : layer == 1 ? 90 + 2 * x : 200 - 3 * y;
}

TEST(KtifBlocks, JpegYCbCrIsDeliveredAsRgbTopRowFirst) {
  for (bool tiled : {true, false}) {
    // Strips of 16 rows leave a last strip of 8; tiles stay whole, as JPEG
    // rings at the zeros that pad a partial tile.
    TempFile file("jpeg_rgb");
    TiffImageLayout layout =
        tiffImage(32, tiled ? 48 : 40, 8, 3, tiled ? 16 : 0, 16, COMPRESSION_JPEG);
    layout.photometric = 6, layout.value = ramp;
    tiffBuilderWrite(file.path(), {layout});
    KtifHandle h = ktifOpenOrFail(file.path());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->compression, KTIF_COMPRESSION_JPEG_AS_RGB);
    EXPECT_TRUE(h->rgbaRead && h->photometric == 2 && h->pixelType == KTIF_PIXEL_U8);
    EXPECT_EQ(h->bitsPerSampleList, nullptr);
    EXPECT_EQ(ktif_HandleBlockSize(h.get()), (tiled ? 16 * 16 : 32 * 16) * 4);  // RGBA words
    for (int layer = 0; layer < 3; ++layer) {
      std::vector<uint64_t> image = ktifReadLayer(h.get(), layer);
      ASSERT_EQ(image.size(), size_t(32) * layout.height);
      for (uint32_t i = 0; i < image.size(); ++i)
        ASSERT_NEAR(double(image[i]), ramp(layer, i % 32, i / 32), 8) << tiled << " at " << i;
    }
  }
}

}  // namespace
