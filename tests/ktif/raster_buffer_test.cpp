// Raster-buffer block sizes, reads assembled from TIFF blocks through the
// cache, write-back of per-layer blocks, and the direct reads of wide strips.
#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>

#include "kdms.h"
#include "kpmg.h"
#include "ktif_internal.h"
#include "raster_read.h"
#include "raw_tiff.h"
#include "test_support.h"
#include "tiff_builder.h"

namespace {

KtifHandle writeAndOpen(const TempFile& file, const TiffImageLayout& layout) {
  tiffBuilderWrite(file.path(), {layout});
  return ktifOpenOrFail(file.path());
}

TEST(KtifRasterBuffer, BlockSizeRules) {
  // Layout, preferences, then the block width, height and partial-strip mode chosen.
  const TiffImageLayout wide = tiffImage(5500, 10, 8, 3, 0, 1);  // read directly by default
  const std::tuple<TiffImageLayout, std::vector<const char*>, int32_t, int32_t, int32_t> cases[] = {
      {tiffImage(2000, 300, 8, 1, 0, 100), {}, 2000, 60, 0},  // 65 rows, 5 pieces
      {tiffImage(600, 600, 8, 1, 512, 512), {}, 362, 362, 0},
      {tiffImage(600, 600, 4, 1, 512, 512), {}, 368, 356, 0},
      {tiffImage(70000, 2, 16, 1, 0, 1, 5), {}, 35000, 1, 0},  // 2 pieces of a row
      {tiffImage(600, 600, 8, 1, 512, 512), {"max_uncompressed_blk_size=0"}, 512, 512, 0},
      {wide, {}, 1280, 256, 1},
      {wide, {"rb_block_height=100"}, 1280, 100, 1},
      {wide, {"rb_block_width=0.5"}, 256, 256, 0},  // one of them zero
      {wide, {"rb_block_width=0", "rb_block_height=0"}, 5500, 1, 0},
      {tiffImage(16384, 40, 8, 1, 16384, 16), {}, 362, 362, 0},  // tiles are never read directly
  };
  for (const auto& [layout, prefs, width, height, partialStripMode] : cases) {
    TempFile file("rb_size");
    kpmg_ClearPreferences();
    for (const char* pref : prefs)
      ASSERT_EQ(kpmg_SetPreferenceAssignment((std::string("tiff.") + pref).c_str(), nullptr), 0);
    KtifHandle h = writeAndOpen(file, layout);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(std::tuple(h->rbBlockWidth, h->rbBlockHeight, h->partialStripMode),
              std::tuple(width, height, partialStripMode))
        << layout.width << " wide, " << prefs.size() << " preferences";
  }
  kpmg_ClearPreferences();
}

TEST(KtifRasterBuffer, ReadsMatchTheStoredImage) {
  TiffImageLayout planes = tiffImage(130, 90, 16, 3, 64, 32), white = tiffImage(90, 60, 8, 1, 0, 8);
  planes.planarConfig = 2, white.photometric = 0;
  // What, layout, and the raster-buffer block size (0: as chosen at open).
  const std::tuple<const char*, TiffImageLayout, int32_t, int32_t> cases[] = {
      {"four tiles and past the edge", tiffImage(300, 200, 8, 1, 128, 128), 256, 256},
      {"tile passed straight through", tiffImage(150, 100, 8, 1, 64, 64), 0, 0},
      {"interleaved RGB", tiffImage(200, 150, 8, 3, 64, 32), 100, 70},
      {"separate planes, 16 bits", planes, 100, 70},
      {"4-bit tiles", tiffImage(200, 150, 4, 1, 64, 32), 104, 70},
      {"4-bit interleaved, odd offsets", tiffImage(150, 100, 4, 3, 32, 16), 41, 30},
      {"1-bit, 11 interleaved layers", tiffImage(150, 70, 1, 11, 32, 16), 41, 30},
      {"4-bit interleaved strips", tiffImage(90, 40, 4, 3, 0, 7), 37, 9},
      {"LZW strips, 16 bits", tiffImage(90, 100, 16, 1, 0, 7, 5), 50, 20},
      {"WhiteIsZero strips", white, 0, 0},
      {"WhiteIsZero strips, assembled", white, 50, 20},
  };
  for (const auto& [what, layout, rbWidth, rbHeight] : cases) {
    TempFile file("rb_read");
    KtifHandle h = writeAndOpen(file, layout);
    ASSERT_NE(h, nullptr) << what;
    if (rbWidth) h->rbBlockWidth = rbWidth, h->rbBlockHeight = rbHeight;
    expectWholeImage(h.get(), layout, what);
  }
}

TEST(KtifRasterBuffer, SequentialReadDecodesEachBlockOnceDespiteEviction) {
  TempFile file("rb_evict");
  const TiffImageLayout layout = tiffImage(1280, 320, 8, 1, 64, 32, 8);  // 20 x 10 tiles
  KtifHandle h = writeAndOpen(file, layout);
  ASSERT_NE(h, nullptr);
  h->rbBlockWidth = 100, h->rbBlockHeight = 70;
  expectWholeImage(h.get(), layout, "first pass");
  ASSERT_LT(h->cacheCapacity, h->blocksPerLayer);
  Kdms_CacheStats stats;
  kdms_CacheStatsGet(h->cache, &stats);
  EXPECT_EQ(stats.reads, h->blocksPerLayer);
  EXPECT_GT(stats.evictions, 0);

  // A compressed image's cache can be released early and comes back on use,
  // its blocks read again intact.
  ktif_RBBufferClose(h.get(), nullptr);
  EXPECT_EQ(h->cache, nullptr);
  expectWholeImage(h.get(), layout, "after release");
}

TEST(KtifRasterBuffer, PerLayerBlockIsStoredToItsOwnLayer) {
  TempFile file("rb_write");
  TiffImageLayout layout = tiffImage(128, 64, 8, 3, 64, 64);
  layout.planarConfig = 2;
  tiffBuilderWrite(file.path(), {layout});
  {
    KtifHandle h(ktif_Open(file.path().c_str(), "r+", nullptr));
    ASSERT_NE(h, nullptr);
    RBSetup(h.get(), 2, nullptr);
    void* data = nullptr;  // layer 2, second tile:
    ASSERT_EQ(kdms_CacheFetch(h->cache, 2 * h->blocksPerLayer + 1, &data, nullptr), 0);
    std::memset(data, 0xAB, size_t(h->cacheBlockBytes));
    RBSetup(h.get(), 0, nullptr);  // another layer is current when the block is stored
  }
  KtifHandle h = ktifOpenOrFail(file.path());
  ASSERT_NE(h, nullptr);
  std::vector<unsigned char> buffer(64 * 64);
  for (int layer = 0; layer < 3; ++layer) {
    ktif_RBRasterRead(h.get(), layer, 0, 1, buffer.data(), nullptr);
    EXPECT_EQ(buffer[64 * 10 + 5], layer == 2 ? 0xAB : expectedSample(layout, layer, 64 + 5, 10));
  }
  ktif_RBBufferClose(h.get(), nullptr);
  EXPECT_NE(h->cache, nullptr);  // uncompressed: kept until the handle closes
}

TEST(KtifRasterBuffer, WideStripsReadDirectlyAndOncePerBlock) {
  const TiffImageLayout layout = tiffImage(5500, 300, 8, 3, 0, 7);  // 5 x 2 blocks of 1280 x 256
  // Whole rows of a raster-buffer row are held when they fit; taller blocks
  // are read row by row, only their own columns.
  for (bool band : {true, false}) {
    TempFile file("rb_partial");
    if (!band) kpmg_SetPreferenceAssignment("tiff.rb_block_height=2100", nullptr);
    KtifHandle h = writeAndOpen(file, layout);
    kpmg_ClearPreferences();
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(h->partialStripMode, 1);
    expectWholeImage(h.get(), layout, band ? "wide strips, rows held" : "wide strips, by block");

    // What is held comes from memory: it still reads right after the file
    // has been emptied, while anything else cannot.
    std::vector<unsigned char> buffer(size_t(h->rbBlockWidth) * h->rbBlockHeight);
    ktif_RBRasterRead(h.get(), 0, 0, 0, buffer.data(), nullptr);
    ASSERT_EQ(truncate(file.path().c_str(), 0), 0);
    const std::tuple<int, int, int, bool> reads[] = {
        {1, 0, 0, true}, {2, 0, 0, true}, {1, 0, 1, band}, {0, band, band ? 0 : 2, false}};
    for (auto [layer, row, column, held] : reads) {
      Report err;
      ktif_RBRasterRead(h.get(), layer, row, column, buffer.data(), out(err));
      if (held) {
        EXPECT_EQ(buffer[h->rbBlockWidth * 200 + 100],
                  expectedSample(layout, layer, column * h->rbBlockWidth + 100, 200));
      }
      EXPECT_STREQ(err ? kerr_ReportMessage(err.get()) : "", held ? "" : "kfio_ReadSeq failed");
    }
  }
}

TEST(KtifRasterBuffer, WideStripsReadOnlyWhatTheirByteCountsHold) {
  // A strip a row: whole, sparse (offset and count 0: left out when empty),
  // 100 bytes short of the row, whole. Every stored byte is 0x5A, so any
  // other value than 0 or 0x5A comes from elsewhere in the file.
  constexpr uint32_t kWidth = 16384;
  TempFile file("rb_sparse");
  rawTiffWrite(file.path(), rawTiffBuild({{256, 4, {kWidth}},
                                          {257, 4, {4}},
                                          {258, 3, {8}},
                                          {259, 3, {1}},
                                          {262, 3, {1}},
                                          {273, 4, {8, 0, 8, 8}},
                                          {277, 3, {1}},
                                          {278, 4, {1}},
                                          {279, 4, {kWidth, 0, 100, kWidth}}},
                                         kWidth));
  std::vector<unsigned char> expected(4 * kWidth, 0x5A);
  std::fill(expected.begin() + kWidth, expected.begin() + 2 * kWidth, 0);
  std::fill(expected.begin() + 2 * kWidth + 100, expected.begin() + 3 * kWidth, 0);
  // Whole rows held at once, then blocks too tall for that, read by columns.
  for (auto [rbWidth, rbHeight] : {std::pair(kWidth, 4u), std::pair(1280u, 2100u)}) {
    KtifHandle h = ktifOpenOrFail(file.path());
    ASSERT_EQ(h->partialStripMode, 1);
    h->rbBlockWidth = int32_t(rbWidth), h->rbBlockHeight = int32_t(rbHeight);
    ReportCapture capture;
    std::vector<unsigned char> image(4 * kWidth), buffer(size_t(rbWidth) * rbHeight);
    for (uint32_t c = 0; c * rbWidth < kWidth; ++c) {
      Report err;
      ktif_RBRasterRead(h.get(), 0, 0, int32_t(c), buffer.data(), out(err));
      ASSERT_EQ(err, nullptr) << kerr_ReportMessage(err.get());
      for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < rbWidth && c * rbWidth + x < kWidth; ++x)
          image[y * kWidth + c * rbWidth + x] = buffer[y * rbWidth + x];
    }
    const auto wrong = std::mismatch(image.begin(), image.end(), expected.begin()).first;
    EXPECT_EQ(wrong - image.begin(), std::ptrdiff_t(image.size()))
        << "first wrong byte, " << rbWidth << " wide blocks";
    ASSERT_FALSE(capture.printed.empty());
    for (const auto& printed : capture.printed)
      EXPECT_EQ(printed.message, "Strip 2 holds 100 of its 16384 bytes; the rest reads as 0");
  }
}

TEST(KtifRasterBuffer, WideYCbCrIsDeliveredAsRgbNotAsStored) {
  // Every stored byte is 200: as stored each layer would read 200, as RGB the
  // colour is far from grey.
  TiffImageLayout layout = tiffImage(5500, 8, 8, 3, 0, 8);
  layout.photometric = 6;
  layout.value = [](int, uint32_t, uint32_t) { return 200.0; };
  TempFile file("rb_ycbcr");
  KtifHandle h = writeAndOpen(file, layout);
  ASSERT_NE(h, nullptr);
  std::vector<unsigned char> buffer(size_t(h->rbBlockWidth) * h->rbBlockHeight);
  for (int layer = 0; layer < 3; ++layer) {
    const std::vector<uint64_t> rgb = ktifReadLayer(h.get(), layer);
    ASSERT_FALSE(rgb.empty());
    if (layer == 1) {
      EXPECT_LT(rgb[0], 150u);
    }
    ktif_RBRasterRead(h.get(), layer, 0, 0, buffer.data(), nullptr);
    EXPECT_EQ(buffer[size_t(h->rbBlockWidth) + 7], rgb[5500 + 7]) << "layer " << layer;
  }
}

TEST(KtifRasterBuffer, NotHandledWarningsAppearOncePerProcess) {
  RBTransferWarningsReset();
  ReportCapture capture;
  const std::vector<unsigned char> source(8, 0xFF);
  for (int i = 0; i < 2; ++i) {
    std::vector<unsigned char> out(8, 0xEE);
    RBTransfer(4, 2, 1, 3, 4, out.data(), 4, 2, source.data(), 0);  // 2-bit samples, 3 layers
    EXPECT_EQ(out, std::vector<unsigned char>(8, 0));
  }
  ASSERT_EQ(capture.printed.size(), 1u);
  EXPECT_EQ(capture.printed[0].label + ": " + capture.printed[0].message,
            "RBTransfer: Multi-layer 2 bit data not handled yet");

  // Through a read: a 4-bit raster-buffer block starting at an odd pixel
  // inside a tile gets that part zero-filled, and the warning once.
  TempFile file("rb_offset");
  const TiffImageLayout layout = tiffImage(200, 64, 4, 1, 64, 32);
  KtifHandle h = writeAndOpen(file, layout);
  h->rbBlockWidth = 51, h->rbBlockHeight = 32;
  std::vector<unsigned char> buffer(51 * 32);
  for (int i = 0; i < 2; ++i) ktif_RBRasterRead(h.get(), 0, 0, 1, buffer.data(), nullptr);
  ASSERT_NE(expectedSample(layout, 0, 56, 0), 0u);
  EXPECT_EQ(buffer[5], 0);                                  // x 56: odd start, zeroed
  EXPECT_EQ(buffer[20], expectedSample(layout, 0, 71, 0));  // x 71: next tile, aligned
  ASSERT_EQ(capture.printed.size(), 2u);
  EXPECT_EQ(capture.printed[1].message,
            "Single-layer 4 bit data with non-zero bitoffset (4) not handled yet");
}

}  // namespace
