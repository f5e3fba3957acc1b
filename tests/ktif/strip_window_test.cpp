// Strips larger than the memory budget, read a window of rows at a time: the
// road is taken when it should be, delivers what the whole-strip road does
// in any reading order, and decodes each row once when read in order.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <tuple>

#include "kpmg.h"
#include "ktif_internal.h"
#include "raster_read.h"
#include "strip_window.h"
#include "test_support.h"
#include "tiff_builder.h"

namespace {

// Sets the budget for what the test opens, and takes it away after.
struct Budget {
  explicit Budget(const char* bytes) { kpmg_SetPreference("tiff", "cache_budget", bytes, nullptr); }
  ~Budget() { kpmg_SetPreference("tiff", "cache_budget", nullptr, nullptr); }
};

KtifHandle openWithBlock(const std::string& path, int32_t rbWidth, int32_t rbHeight) {
  KtifHandle h = ktifOpenOrFail(path);
  if (h) h->rbBlockWidth = rbWidth, h->rbBlockHeight = rbHeight;
  return h;
}

std::vector<unsigned char> blockRead(Ktif_File* h, int layer, int row, int column) {
  std::vector<unsigned char> buffer(size_t(h->rbBlockWidth) * h->rbBlockHeight * h->bytesPerSample,
                                    0xEE);
  Report err;
  ktif_RBRasterRead(h, layer, row, column, buffer.data(), out(err));
  EXPECT_EQ(err, nullptr) << kerr_ReportMessage(err.get());
  return buffer;
}

KtifStripWindowStats statsOf(const Ktif_File* h) {
  KtifStripWindowStats stats;
  stripWindowsStatsGet(h, &stats);
  return stats;
}

TEST(KtifStripWindow, TakenForStripsBeyondTheBudgetOnly) {
  const TiffImageLayout strip = tiffImage(64, 48, 8, 1, 0, 0, 5);  // 3072 bytes, LZW
  // Layout, budget, open mode; then windows, and the cache's capacity.
  const std::tuple<TiffImageLayout, const char*, const char*, bool, int32_t> cases[] = {
      {strip, nullptr, "r", false, 1},  // the default budget holds it
      {strip, "3072", "r", false, 1},
      {strip, "3071", "r", true, 0},
      {strip, "3071", "r+", false, 1},                             // writing needs whole strips
      {tiffImage(64, 48, 8, 1, 16, 16, 5), "600", "r", false, 2},  // tiles: fewer in the cache
  };
  for (const auto& [layout, budget, mode, windows, capacity] : cases) {
    TempFile file("window_taken");
    tiffBuilderWrite(file.path(), {layout});
    kpmg_SetPreference("tiff", "cache_budget", budget, nullptr);
    KtifHandle h(ktif_Open(file.path().c_str(), mode, nullptr));
    ASSERT_NE(h, nullptr);
    h->rbBlockWidth = 20, h->rbBlockHeight = 10;
    RBSetup(h.get(), 0, nullptr);
    kpmg_SetPreference("tiff", "cache_budget", nullptr, nullptr);
    EXPECT_EQ(std::tuple(h->stripWindows != nullptr, h->cacheCapacity),
              std::tuple(windows, capacity))
        << (budget ? budget : "default") << " bytes, mode " << mode;
  }
}

TEST(KtifStripWindow, ReadsEqualTheWholeStripRoadInAnyOrder) {
  TiffImageLayout planes = tiffImage(70, 90, 16, 3, 0, 0, 8),
                  white = tiffImage(83, 75, 8, 1, 0, 0, 5);
  planes.planarConfig = 2, white.photometric = 0;
  // What, layout, raster-buffer block, budget: mostly of a few rows, whose
  // rings are full size from the start; the wide image's ring grows.
  const std::tuple<const char*, TiffImageLayout, int32_t, int32_t, const char*> cases[] = {
      {"grey LZW", tiffImage(97, 131, 8, 1, 0, 0, 5), 40, 7, "600"},
      {"RGB Deflate", tiffImage(61, 77, 8, 3, 0, 0, 8), 25, 6, "600"},
      {"separate planes, 16 bits", planes, 32, 9, "600"},
      {"4-bit PackBits", tiffImage(90, 64, 4, 1, 0, 0, 32773), 32, 5, "600"},
      {"1-bit, 5 interleaved layers", tiffImage(77, 66, 1, 5, 0, 0, 5), 30, 8, "600"},
      {"three LZW strips", tiffImage(50, 120, 8, 1, 0, 45, 5), 50, 11, "600"},
      {"WhiteIsZero", white, 83, 4, "600"},
      {"wide LZW, the ring grows", tiffImage(4096, 300, 8, 1, 0, 0, 5), 1000, 16, "1000000"},
  };
  for (const auto& [what, layout, rbWidth, rbHeight, bytes] : cases) {
    TempFile file("window_read");
    tiffBuilderWrite(file.path(), {layout});
    KtifHandle whole = openWithBlock(file.path(), rbWidth, rbHeight);
    ASSERT_NE(whole, nullptr);
    RBSetup(whole.get(), 0, nullptr);  // the budget is read on the first read
    ASSERT_EQ(whole->stripWindows, nullptr);
    Budget budget(bytes);
    KtifHandle h = openWithBlock(file.path(), rbWidth, rbHeight);
    ASSERT_NE(h, nullptr);
    const int layers = layout.samplesPerPixel, rows = int(layout.height + rbHeight - 1) / rbHeight,
              columns = int(layout.width + rbWidth - 1) / rbWidth;
    const bool planar = layout.planarConfig == 2;

    // Layer after layer, rows in order: against the stored image.
    expectWholeImage(h.get(), layout, what);
    ASSERT_NE(h->stripWindows, nullptr) << what;
    const int64_t passes = layers;  // each layer is a pass over its rows
    EXPECT_EQ(statsOf(h.get()).rowsDecoded, passes * layout.height) << what;
    EXPECT_EQ(statsOf(h.get()).restarts, planar ? 0 : layers - 1) << what;

    // Every layer of each block in turn, then backwards, then at random:
    // against the whole-strip road.
    std::vector<std::tuple<int, int, int>> order;
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < columns; ++c)
        for (int layer = 0; layer < layers; ++layer) order.emplace_back(layer, r, c);
    for (int r = rows - 1; r >= 0; --r)
      for (int c = columns - 1; c >= 0; --c) order.emplace_back(layers - 1, r, c);
    std::mt19937 random(7);
    for (int i = 0; i < 60; ++i)
      order.emplace_back(int(random() % layers), int(random() % rows), int(random() % columns));
    const int64_t before = statsOf(h.get()).rowsDecoded;
    for (size_t i = 0; i < order.size(); ++i) {
      const auto [layer, r, c] = order[i];
      ASSERT_EQ(blockRead(h.get(), layer, r, c), blockRead(whole.get(), layer, r, c))
          << what << ": read " << i << ", layer " << layer << ", block " << r << "," << c;
      if (i + 1 == size_t(rows * columns * layers)) {  // blocks in order decode rows once
        EXPECT_EQ(statsOf(h.get()).rowsDecoded - before,
                  planar ? passes * layout.height : layout.height)
            << what;
      }
    }
  }
}

TEST(KtifStripWindow, ADamagedStripReadsAsZerosFromTheDamageOn) {
  const TiffImageLayout layout = tiffImage(64, 200, 8, 1, 0, 0, 8);
  TempFile file("window_damaged");
  tiffBuilderWrite(file.path(), {layout});
  uint64_t offset = 0, count = 0;
  {
    Tiff tiff(TIFFOpen(file.path().c_str(), "r"));
    ASSERT_NE(tiff, nullptr);
    offset = TIFFGetStrileOffset(tiff.get(), 0), count = TIFFGetStrileByteCount(tiff.get(), 0);
  }
  // Garbage over the second half of the compressed strip.
  std::FILE* f = std::fopen(file.path().c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  std::fseek(f, long(offset + count / 2), SEEK_SET);
  for (uint64_t i = 0; i < count / 2; ++i) std::fputc(int(i * 97 % 251), f);
  std::fclose(f);

  Budget budget("1000");
  KtifHandle h = openWithBlock(file.path(), 64, 10);
  ASSERT_NE(h, nullptr);
  ReportCapture capture;
  std::vector<uint64_t> image;
  for (int pass = 0; pass < 2; ++pass)  // the second pass after a restart
    for (int r = 0; r < 20; ++r) {
      const std::vector<unsigned char> block = blockRead(h.get(), 0, r, 0);
      if (pass == 0) image.insert(image.end(), block.begin(), block.end());
    }
  ASSERT_NE(h->stripWindows, nullptr);
  // Rows read right up to the damage, and as 0 from the row that failed on;
  // between them, what the damaged data decoded to.
  const size_t width = layout.width;
  size_t good = 0;
  while (good < image.size() &&
         image[good] == expectedSample(layout, 0, good % width, good / width))
    ++good;
  size_t zero = image.size();
  while (zero > 0 && image[zero - 1] == 0) --zero;
  const int64_t failedRow = int64_t((zero + width - 1) / width);
  EXPECT_GT(good, width);
  EXPECT_LT(failedRow, int64_t(layout.height));
  // The row that failed is not tried again: each pass decodes up to it once.
  EXPECT_EQ(statsOf(h.get()).rowsDecoded, 2 * failedRow + 1);
  ASSERT_EQ(capture.logged.size(), 1u);
  EXPECT_NE(capture.logged[0].second.find("TIFFReadScanline failed"), std::string::npos);
}

}  // namespace
