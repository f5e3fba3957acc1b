// Row unpacking and packing, layer insertion, inversion and the one-block
// reader over the layouts TIFF stores.
#include <gtest/gtest.h>

#include <cstring>

#include "ktif_internal.h"
#include "raster_read.h"
#include "test_support.h"
#include "tiff_builder.h"

namespace {

using Bytes = std::vector<unsigned char>;

TEST(KtifUnpack, RowsUnpackAndPack) {
  // 13 pixels of 1 bit: the second byte's low three bits are not pixels.
  const unsigned char packed13[] = {0xB2, 0x6F};
  Bytes pixels(14, 9);
  unpackRow(1, pixels.data(), packed13, 13);
  EXPECT_EQ(pixels, (Bytes{1, 0, 1, 1, 0, 0, 1, 0, 0, 1, 1, 0, 1, 9}));
  // 2-bit 1, 2, 3 pack to 01 10 11 00; high bits of a value drop.
  const unsigned char values[] = {1, 2, 0xFF};
  unsigned char byte = 0xAA;
  packRow(2, &byte, values, 3);
  EXPECT_EQ(byte, 0x6C);
  unpackRow(8, &byte, values, 1);
  EXPECT_EQ(byte, 0x6C) << "other bit counts do nothing";

  for (int bits : {1, 2, 4}) {
    for (uint32_t n : {7u, 8u, 19u, 77u}) {
      Bytes source(n), packed(n, 0xEE), back(n);
      for (uint32_t k = 0; k < n; ++k)
        source[k] = static_cast<unsigned char>((k * 5 + 3) % (1 << bits));
      packRow(bits, packed.data(), source.data(), n);
      EXPECT_EQ(packed[(n * bits + 7) / 8], 0xEE) << "no byte past the row";
      unpackRow(bits, back.data(), packed.data(), n);
      EXPECT_EQ(back, source) << bits << " bits, " << n << " pixels";
    }
  }
}

TEST(KtifUnpack, InsertAndInvert) {
  for (int32_t size : {1, 2, 4, 8, 3}) {
    Ktif_File handle{};
    handle.samplesPerPixel = 3, handle.bytesPerSample = size;
    Bytes layer(size_t(2) * size, 0xAB), pixels(size_t(6) * size, 0);
    ktif_ConvertToBip(&handle, 1, pixels.data(), layer.data(), 2);
    Bytes expected(pixels.size(), 0);
    if (size != 3) std::fill_n(expected.begin() + size, size, 0xAB);
    if (size != 3) std::fill_n(expected.begin() + 4 * size, size, 0xAB);
    EXPECT_EQ(pixels, expected) << size << "-byte elements";
  }
  Bytes bytes = {0, 1, 12, 200};
  ktif_Invert(bytes.data(), 1, 2);
  ktif_Invert(&bytes[2], 4, 1);
  ktif_Invert(&bytes[3], 8, 1);
  EXPECT_EQ(bytes, (Bytes{1, 0, 3, 55}));
  uint16_t word = 0x1234;
  uint32_t pattern = 0x3FC00000;  // float 1.5
  ktif_Invert(&word, 16, 1);
  ktif_Invert(&pattern, 32, 1);
  EXPECT_EQ(word, 0xEDCB);
  EXPECT_EQ(pattern, 0xC03FFFFFu);
  ReportCapture capture;
  double d = 2.5;
  ktif_Invert(&d, 64, 1);
  EXPECT_EQ(d, 2.5);
  ASSERT_EQ(capture.printed.size(), 1u);
  EXPECT_EQ(capture.printed[0].message, "Bitspersample 64: not supported for inversion");
}

TEST(KtifUnpack, HandleWithoutAFile) {
  Ktif_File h{};
  h.blockWidth = 10, h.blockHeight = 3, h.bitsPerSample = 8, h.bytesPerSample = 2;
  h.samplesPerPixel = 1;
  Bytes block(60, 0xCC);
  Kerr_Report* err = nullptr;
  ktif_RasterRead(&h, 0, 0, 0, block.data(), &err);
  EXPECT_EQ(block, Bytes(60, 0));
  h.samplesPerPixel = 3, h.planarConfig = 1, h.blockWidth = 1 << 20, h.blockHeight = 1 << 12;
  EXPECT_EQ(blockCacheCreate(&h, &err), nullptr);
  EXPECT_EQ(reportMessages(err), std::vector<std::string>{"kmsc_New failed"});
  kerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(ktif_HandleUnpackTo8BufferGet(nullptr, &err), nullptr);
  EXPECT_EQ(reportMessages(err), std::vector<std::string>{"Args"});
  kerr_DeleteErrorReportEx(&err);
}

TEST(KtifUnpack, RasterReadDeliversTheHostLayout) {
  // bits, samples, planar, tiled, photometric, sample format
  const uint16_t kinds[][6] = {
      {8, 3, 1, 1, 2, 1},   // interleaved RGB in edge tiles
      {16, 3, 2, 0, 1, 1},  // separate planes, short last strip
      {4, 1, 1, 0, 0, 1},   // 4-bit WhiteIsZero
      {4, 2, 1, 1, 1, 1},   // interleaved 4-bit, unpacked in the cache
      {1, 1, 1, 1, 0, 1},   // bilevel WhiteIsZero
      {16, 1, 1, 0, 0, 1},  // 16-bit WhiteIsZero
      {32, 2, 1, 1, 1, 3},  // interleaved float
  };
  for (const auto& k : kinds) {
    TiffImageSpec layout;
    layout.width = 37, layout.height = 20, layout.rowsPerStrip = 7, layout.bitsPerSample = k[0];
    layout.samplesPerPixel = k[1], layout.planarConfig = k[2], layout.tiled = k[3];
    layout.photometric = k[4], layout.sampleFormat = k[5];
    TempFile file("raster_read");
    tiffBuilderWrite(file.path(), {layout});
    KtifHandle h = ktifOpenOrFail(file.path());
    ASSERT_NE(h, nullptr);
    for (int layer = 0; layer < k[1]; ++layer) {
      std::vector<uint64_t> image = ktifReadLayer(h.get(), layer);
      ASSERT_EQ(image.size(), 37u * 20);
      for (uint32_t i = 0; i < image.size(); ++i) {
        const double v = tiffBuilderPattern(layout, layer, i % 37, i / 37);
        const float f = float(v);
        uint32_t stored = uint32_t(v);
        if (k[5] == 3) std::memcpy(&stored, &f, 4);
        ASSERT_EQ(image[i], (k[4] == 0 ? ~stored : stored) & ((uint64_t{1} << k[0]) - 1))
            << k[0] << " bits, " << k[1] << " samples, layer " << layer << " at " << i;
      }
    }
  }
}

TEST(KtifUnpack, LayersOfOneInterleavedBlockReadTheFileOnce) {
  TempFile file("interleave_cache");
  TiffImageSpec layout;
  layout.width = 16, layout.height = 16, layout.samplesPerPixel = 3, layout.photometric = 2;
  tiffBuilderWrite(file.path(), {layout});
  KtifHandle h = ktifOpenOrFail(file.path());
  ASSERT_NE(h, nullptr);
  Bytes block(256);
  ktif_RasterRead(h.get(), 0, 0, 0, block.data(), nullptr);
  ASSERT_NE(h->interleaveCache, nullptr);
  // A mark in the cached block shows that layer 2 comes from it.
  static_cast<unsigned char*>(h->interleaveCache->data)[2] = 0xCD;
  ktif_RasterRead(h.get(), 2, 0, 0, block.data(), nullptr);
  EXPECT_EQ(block[0], 0xCD);
  Kerr_Report* err = nullptr;
  ktif_RasterRead(h.get(), 0, 5, 0, block.data(), &err);
  EXPECT_EQ(reportMessages(err), std::vector<std::string>{"Error reading TIFF block"});
  kerr_DeleteErrorReportEx(&err);
}

}  // namespace
