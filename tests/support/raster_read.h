// Whole layers read through the one-block reader, for tests that compare
// every pixel of an image with what it must be. Header-only: only the test
// programs that link the image-access library include it.
#ifndef KTIF_TEST_RASTER_READ_H
#define KTIF_TEST_RASTER_READ_H

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "library_owners.h"

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

#endif
