// The library's CCITT decoder: rows equal to what was written in both
// photometric interpretations and fill orders, forward decoding and its
// restarts, make-up codes, overruns, and the images left to libtiff.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fax.h"
#include "library_owners.h"
#include "raster_read.h"
#include "test_support.h"
#include "tiff_builder.h"

namespace {

// Noise on the left, long runs on the right: every mode of T.6 and runs
// past 64 and 1728.
double bilevel(int, uint32_t x, uint32_t y) {
  uint32_t h = (x * 2654435761u) ^ (y * 40503u);
  return x < 40 ? double((h >> 7) & 1) : double(((x + 3 * y) / 97) & 1);
}

TiffImageLayout faxImage(uint32_t width, uint32_t height, uint16_t compression,
                         uint16_t photometric, uint32_t rows) {
  TiffImageLayout layout = tiffImage(width, height, 1, 1, 0, rows, compression);
  layout.photometric = photometric;
  layout.value = bilevel;
  return layout;
}

TEST(Fax, RowsReadAsWritten) {
  for (uint16_t compression : {COMPRESSION_CCITTFAX4, COMPRESSION_CCITTRLE})
    for (uint16_t photometric : {0, 1})
      for (auto [width, height, rows] : {std::tuple{1u, 5u, 5u},
                                         {3u, 9u, 4u},
                                         {1728u, 20u, 7u},
                                         {2000u, 6u, 6u},
                                         {257u, 33u, 0u}}) {
        std::string what = "compression " + std::to_string(compression) + " photometric " +
                           std::to_string(photometric) + " width " + std::to_string(width);
        SCOPED_TRACE(what);
        TempFile file("fax");
        TiffImageLayout layout = faxImage(width, height, compression, photometric, rows);
        tiffBuilderWrite(file.path(), {layout});
        KtifHandle h = ktifOpenOrFail(file.path());
        ASSERT_NE(h->faxState, nullptr);
        expectWholeImage(h.get(), layout, what);
      }
}

// libtiff reverses the bits of FillOrder 2 strips as it writes them.
TEST(Fax, FillOrderTwoReadsAsFillOrderOne) {
  TempFile file("fill");
  {
    Tiff tif(TIFFOpen(file.path().c_str(), "w"));
    TIFFSetField(tif.get(), TIFFTAG_IMAGEWIDTH, 100);
    TIFFSetField(tif.get(), TIFFTAG_IMAGELENGTH, 10);
    TIFFSetField(tif.get(), TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif.get(), TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(tif.get(), TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(tif.get(), TIFFTAG_ROWSPERSTRIP, 10);
    std::vector<uint8_t> row(13);
    for (uint32_t y = 0; y < 10; ++y) {
      for (uint32_t x = 0; x < 100; ++x)
        if (bilevel(0, x, y) != 0) row[x / 8] |= uint8_t(0x80 >> (x % 8));
      TIFFWriteScanline(tif.get(), row.data(), y, 0);
      std::fill(row.begin(), row.end(), 0);
    }
  }
  KtifHandle h = ktifOpenOrFail(file.path());
  ASSERT_NE(h->faxState, nullptr);
  std::vector<uint8_t> got(100);
  for (int32_t y = 0; y < 10; ++y) {
    Report err;
    ktif_RBRasterRead(h.get(), 0, y, 0, got.data(), out(err));
    ASSERT_EQ(err, nullptr);
    for (uint32_t x = 0; x < 100; ++x)  // MinIsWhite: 1 bits are black, delivered as 0
      ASSERT_EQ(got[x], bilevel(0, x, uint32_t(y)) != 0 ? 0 : 1) << x << "," << y;
  }
}

// A decoder over a hand-made strip.
struct Strip {
  explicit Strip(std::vector<uint8_t> bytes, int32_t width) : data(std::move(bytes)), row(width) {
    EXPECT_EQ(set_g3_globals(&decoder, width, row.data(), data.data(), uint32_t(data.size())), 1);
  }
  std::vector<uint8_t> data;
  std::vector<uint8_t> row;
  Ktif_FaxDecoder decoder;
};

TEST(Fax, MakeUpCodesAndOverruns) {
  // White 1984 (000000010010) + white 16 (101010) + black 0 (0000110111):
  // 2000 white pixels in one row.
  Strip white({0x01, 0x2A, 0x83, 0x70}, 2000);
  EXPECT_EQ(G1DExpand(1, 1, 0, 2000, &white.decoder), 0);
  EXPECT_EQ(std::count(white.row.begin(), white.row.end(), 0), 2000);  // BlackIsZero white: 0

  // White 4 (1011) in a row of 3 pixels.
  Strip over({0xB0}, 3);
  ReportCapture capture;
  EXPECT_EQ(G1DExpand(0, 1, 0, 3, &over.decoder), 1);
  ASSERT_EQ(capture.messages().size(), 1u);
  EXPECT_EQ(capture.messages()[0], "G1Dexpand : line# 0 has overrun");

  // Zeros start no code: the row fails without reading past the strip.
  Strip zeros({0x00}, 8);
  EXPECT_EQ(G1DExpand(0, 1, 0, 8, &zeros.decoder), 1);
}

// Rows in order decode once each; going back restarts at the strip start.
TEST(Fax, ForwardDecodingAndRestarts) {
  TempFile file("forward");
  TiffImageLayout layout = faxImage(64, 12, COMPRESSION_CCITTFAX4, 1, 12);
  tiffBuilderWrite(file.path(), {layout});
  KtifHandle h = ktifOpenOrFail(file.path());
  ASSERT_NE(h->faxState, nullptr);
  std::vector<uint8_t> row(64);
  auto read = [&](int32_t y) {
    Report err;
    ktif_RBRasterRead(h.get(), 0, y, 0, row.data(), out(err));
    EXPECT_EQ(err, nullptr);
    return h->faxState->decoder->line;  // rows of the strip decoded so far
  };
  EXPECT_EQ(read(0), 1);
  EXPECT_EQ(read(1), 2);
  EXPECT_EQ(read(2), 3);
  EXPECT_EQ(read(2), 3);  // the same row: not decoded again
  EXPECT_EQ(read(1), 2);  // back: rows 0 and 1 from the strip start
  for (uint32_t x = 0; x < 64; ++x) ASSERT_EQ(row[x], expectedSample(layout, 0, x, 1));
}

TEST(Fax, OtherImagesKeepTheLibtiffRoad) {
  const struct {
    const char* what;
    TiffImageLayout layout;
  } cases[] = {
      {"Group 3", faxImage(32, 4, COMPRESSION_CCITTFAX3, 0, 4)},
      {"tiles",
       [] {
         TiffImageLayout s = tiffImage(32, 32, 1, 1, 16, 16, COMPRESSION_CCITTFAX4);
         s.value = bilevel;
         return s;
       }()},
      {"uncompressed", faxImage(32, 4, COMPRESSION_NONE, 1, 4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempFile file("other");
    tiffBuilderWrite(file.path(), {c.layout});
    KtifHandle h = ktifOpenOrFail(file.path());
    EXPECT_EQ(h->faxState, nullptr);
    expectWholeImage(h.get(), c.layout, c.what);
  }
  // A state on an image of another compression is refused.
  TempFile file("g3");
  TiffImageLayout g3 = faxImage(32, 4, COMPRESSION_CCITTFAX3, 0, 4);
  tiffBuilderWrite(file.path(), {g3});
  KtifHandle h = ktifOpenOrFail(file.path());
  h->faxState = new Ktif_FaxState();
  std::vector<uint8_t> row(32);
  Report err;
  ktif_RBRasterRead(h.get(), 0, 0, 0, row.data(), out(err));
  EXPECT_EQ(joinedMessages(err.get()), "RBReadFunc1Bit failed|Invalid compression");
}

}  // namespace
