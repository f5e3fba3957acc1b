// Row unpacking and packing, layer insertion, inversion and the one-block
// reader over the layouts TIFF stores.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "host_owners.h"
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
  // 2-bit 1, 2, 3 pack to 01 10 11 00; high bits of a value drop, and other
  // bit counts leave the byte alone.
  const unsigned char values[] = {1, 2, 0xFF};
  unsigned char byte = 0xAA;
  packRow(2, &byte, values, 3);
  unpackRow(8, &byte, values, 1);
  EXPECT_EQ(byte, 0x6C);

  // Partial, whole and vector-sized rows.
  for (int bits : {1, 2, 4})
    for (uint32_t n : {7u, 8u, 19u, 77u}) {
      Bytes source(n), packed(n, 0xEE), back(n);
      for (uint32_t k = 0; k < n; ++k) source[k] = (k * 5 + 3) % (1 << bits);
      packRow(bits, packed.data(), source.data(), n);
      EXPECT_EQ(packed[(n * bits + 7) / 8], 0xEE) << "no byte past the row";
      unpackRow(bits, back.data(), packed.data(), n);
      EXPECT_EQ(back, source) << bits << " bits, " << n << " pixels";
    }
}

TEST(KtifUnpack, OneLayerOfPackedSamplesMatchesTheUnpackedRow) {
  // Against the whole row unpacked: every layer, from pixels that start
  // mid-byte, and strides of one to several bytes.
  for (int bits : {1, 2, 4})
    for (uint32_t samples : {1u, 3u, 8u, 21u}) {
      const uint32_t pixels = 29, total = pixels * samples;
      Bytes packed((total * bits + 7) / 8 + 1), all(total);
      for (size_t i = 0; i < packed.size(); ++i) packed[i] = uint8_t(i * 151 + 17);
      unpackRow(bits, all.data(), packed.data(), total);
      for (uint32_t layer = 0; layer < samples; ++layer)
        for (uint32_t from : {0u, 3u}) {
          Bytes got(pixels, 0xEE), expected(pixels, 0xEE);
          packedLayerExtract(bits, pixels - from, got.data(), uint64_t(from) * samples + layer,
                             packed.data(), samples);
          for (uint32_t k = 0; k + from < pixels; ++k)
            expected[k] = all[(k + from) * samples + layer];
          EXPECT_EQ(got, expected) << bits << " bits, " << samples << " samples, layer " << layer
                                   << " from pixel " << from;
        }
    }
}

TEST(KtifUnpack, LayerExtractPicksEverySamplesElement) {
  // Counts around the 16-element steps of the byte shuffle, from a row that
  // ends where its last element does (the sanitizers see any read past it).
  for (int32_t samples : {2, 3, 4})
    for (int32_t size : {1, 2})
      for (uint32_t count : {1u, 15u, 16u, 17u, 33u, 100u})
        for (int32_t layer = 0; layer < samples; ++layer) {
          auto row = std::make_unique<unsigned char[]>(size_t(count) * samples * size);
          for (size_t i = 0; i < size_t(count) * samples * size; ++i) row[i] = uint8_t(i * 37 + 5);
          Bytes got(size_t(count) * size), expected(got.size());
          layerExtract(count, got.data(), layer, row.get(), samples, size);
          for (uint32_t k = 0; k < count; ++k)
            std::memcpy(&expected[size_t(k) * size], &row[(size_t(k) * samples + layer) * size],
                        size_t(size));
          EXPECT_EQ(got, expected) << samples << " samples of " << size << " bytes, " << count
                                   << " elements, layer " << layer;
        }
}

TEST(KtifUnpack, InsertAndInvert) {
  for (int32_t size : {1, 2, 4, 8, 3}) {
    Ktif_File handle{};
    handle.samplesPerPixel = 3, handle.bytesPerSample = size;
    Bytes layer(size_t(2) * size, 0xAB), pixels(size_t(6) * size, 0), expected(pixels);
    ktif_ConvertToBip(&handle, 1, pixels.data(), layer.data(), 2);
    for (int p = 0; p < 2 && size != 3; ++p)  // 3-byte elements are not inserted
      std::fill_n(expected.begin() + (3 * p + 1) * size, size, 0xAB);
    EXPECT_EQ(pixels, expected) << size << "-byte elements";
  }
  // Elements in one little-endian word (two 1-bit pixels, the floats 1.5 and
  // 2.5): bytes past the element stay, and 64 bits are refused with a report.
  ReportCapture capture;
  auto inverted = [](int bits, uint64_t v) {
    ktif_Invert(&v, bits, bits == 1 ? 2 : 1);
    return v;
  };
  const uint64_t twoAndAHalf = 0x4004000000000000;
  EXPECT_EQ((std::vector<uint64_t>{inverted(1, 0x0100), inverted(4, 12), inverted(8, 200),
                                   inverted(16, 0x1234), inverted(32, 0x3FC00000),
                                   inverted(64, twoAndAHalf)}),
            (std::vector<uint64_t>{0x0001, 3, 55, 0xEDCB, 0xC03FFFFF, twoAndAHalf}));
  EXPECT_EQ(capture.printed.size(), 1u);
}

TEST(KtifUnpack, HandleWithoutAFile) {
  Ktif_File h{};
  h.blockWidth = 10, h.blockHeight = 3, h.bitsPerSample = 8, h.bytesPerSample = 2;
  h.samplesPerPixel = 1;
  Bytes block(60, 0xCC);
  Report err;
  ktif_RasterRead(&h, 0, 0, 0, block.data(), out(err));
  EXPECT_EQ(block, Bytes(60, 0));
  h.samplesPerPixel = 3, h.planarConfig = 1, h.blockWidth = 1 << 20, h.blockHeight = 1 << 12;
  EXPECT_EQ(blockCacheCreate(&h, out(err)), nullptr);
  EXPECT_EQ(reportMessages(err.get()), std::vector<std::string>{"kmsc_New failed"});
  EXPECT_EQ(ktif_HandleUnpackTo8BufferGet(nullptr, nullptr), nullptr);
}

TEST(KtifUnpack, RasterReadDeliversTheHostLayout) {
  // Bits, samples, planar, tiled, photometric, sample format: interleaved RGB
  // in edge tiles, separate planes with a short last strip, 4-bit WhiteIsZero,
  // interleaved 4-bit and 1-bit (picked out of the packed block), bilevel and
  // 16-bit WhiteIsZero, interleaved float.
  const uint16_t kinds[][6] = {{8, 3, 1, 1, 2, 1},  {16, 3, 2, 0, 1, 1}, {4, 1, 1, 0, 0, 1},
                               {4, 2, 1, 1, 1, 1},  {1, 5, 1, 0, 1, 1},  {1, 1, 1, 1, 0, 1},
                               {16, 1, 1, 0, 0, 1}, {32, 2, 1, 1, 1, 3}};
  for (const auto& k : kinds) {
    TiffImageLayout layout = tiffImage(37, 20, k[0], k[1], k[3] ? 16 : 0, k[3] ? 16 : 7);
    layout.planarConfig = k[2], layout.photometric = k[4], layout.sampleFormat = k[5];
    TempFile file("raster_read");
    tiffBuilderWrite(file.path(), {layout});
    KtifHandle h = ktifOpenOrFail(file.path());
    ASSERT_NE(h, nullptr);
    for (int layer = 0; layer < k[1]; ++layer) {
      std::vector<uint64_t> image = ktifReadLayer(h.get(), layer);
      ASSERT_EQ(image.size(), 37u * 20);
      for (uint32_t i = 0; i < image.size(); ++i) {
        const float f = float(tiffBuilderPattern(layout, layer, i % 37, i / 37));
        uint32_t stored = uint32_t(f);
        if (k[5] == 3) std::memcpy(&stored, &f, 4);
        ASSERT_EQ(image[i], (k[4] == 0 ? ~stored : stored) & ((uint64_t{1} << k[0]) - 1))
            << k[0] << " bits, " << k[1] << " samples, layer " << layer << " at " << i;
      }
    }
  }
}

TEST(KtifUnpack, LayersOfOneInterleavedBlockReadTheFileOnce) {
  TempFile file("interleave_cache");
  tiffBuilderWrite(file.path(), {tiffImage(16, 16, 8, 3)});
  KtifHandle h = ktifOpenOrFail(file.path());
  ASSERT_NE(h, nullptr);
  Bytes block(256);
  ktif_RasterRead(h.get(), 0, 0, 0, block.data(), nullptr);
  ASSERT_NE(h->interleaveCache, nullptr);
  // A mark in the cached block shows that layer 2 comes from it.
  static_cast<unsigned char*>(h->interleaveCache->data)[2] = 0xCD;
  ktif_RasterRead(h.get(), 2, 0, 0, block.data(), nullptr);
  EXPECT_EQ(block[0], 0xCD);
  Report err;
  ktif_RasterRead(h.get(), 0, 5, 0, block.data(), out(err));
  EXPECT_EQ(reportMessages(err.get()), std::vector<std::string>{"Error reading TIFF block"});
}

}  // namespace
