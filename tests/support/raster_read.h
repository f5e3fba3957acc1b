// Whole layers read through the one-block reader, for tests that compare
// every pixel of an image with what it must be. Header-only: only the test
// programs that link the image-access library include it.
#ifndef KTIF_TEST_RASTER_READ_H
#define KTIF_TEST_RASTER_READ_H

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "library_owners.h"
#include "tiff_builder.h"

// One layer, row-major over the image, each element (bytesPerSample bytes)
// widened to 64 bits. Empty after a report, which fails the test.
inline std::vector<uint64_t> ktifReadLayer(Ktif_File* h, int layer) {
  const size_t bw = size_t(h->blockWidth), bh = size_t(h->blockHeight);
  const size_t bytes = size_t(h->bytesPerSample) * (h->isOPX ? 2 : 1);
  std::vector<unsigned char> block(bw * bh * bytes);
  std::vector<uint64_t> image(size_t(h->width) * size_t(h->height));
  for (int32_t row = 0; row < h->blocksDown; ++row) {
    for (int32_t col = 0; col < h->blocksAcross; ++col) {
      Report err;
      ktif_RasterRead(h, layer, row, col, block.data(), out(err));
      EXPECT_EQ(err, nullptr) << "layer " << layer << ", block " << row << "," << col;
      if (err) return {};
      for (size_t r = 0; r < bh && row * bh + r < size_t(h->height); ++r) {
        for (size_t c = 0; c < bw && col * bw + c < size_t(h->width); ++c) {
          uint64_t v = 0;
          std::memcpy(&v, &block[(r * bw + c) * bytes], bytes);
          image[(row * bh + r) * size_t(h->width) + col * bw + c] = v;
        }
      }
    }
  }
  return image;
}

// What the host must see of a builder image: the stored sample inside the
// image, 0 beyond it (the builder stores 0 there too), complemented for
// WhiteIsZero.
inline uint64_t expectedSample(const TiffImageLayout& layout, int layer, int64_t x, int64_t y) {
  uint64_t v = 0;
  if (x < layout.width && y < layout.height)
    v = tiffBuilderStored(layout, layer, uint32_t(x), uint32_t(y));
  if (layout.photometric == 0) v = ((uint64_t(1) << layout.bitsPerSample) - 1) - v;
  return v;
}

// Reads every raster-buffer block of every layer, one block row and column
// beyond the image too, and compares each element with expectedSample.
inline void expectWholeImage(Ktif_File* h, const TiffImageLayout& layout, const std::string& what) {
  const int64_t w = h->rbBlockWidth, rbh = h->rbBlockHeight, bytes = h->bytesPerSample;
  std::vector<unsigned char> buffer(size_t(w * rbh * bytes));
  for (int layer = 0; layer < layout.samplesPerPixel; ++layer)
    for (int64_t r = 0; r * rbh <= layout.height; ++r)
      for (int64_t c = 0; c * w <= layout.width; ++c) {
        Report err;
        std::memset(buffer.data(), 0xEE, buffer.size());
        ktif_RBRasterRead(h, layer, int32_t(r), int32_t(c), buffer.data(), out(err));
        ASSERT_EQ(err, nullptr) << what << ": " << kerr_ReportMessage(err.get());
        for (int64_t i = 0; i < w * rbh; ++i) {
          uint64_t got = 0;
          std::memcpy(&got, buffer.data() + i * bytes, size_t(bytes));
          const int64_t x = c * w + i % w, y = r * rbh + i / w;
          ASSERT_EQ(got, expectedSample(layout, layer, x, y))
              << what << " layer " << layer << " at " << x << "," << y;
        }
      }
}

#endif
