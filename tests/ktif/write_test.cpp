// Creating TIFF files and writing them through the raster buffer and the
// layer-by-layer block writer: what is written reads back exactly.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <fcntl.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "kmsc.h"
#include "kxfr.h"
#include "ktif_internal.h"
#include "raster_read.h"
#include "test_support.h"
#include "tiff_builder.h"

namespace {

// A handle on an empty file at `path`, described like `layout`, ready for
// ktif_CreateBaseLineTIFF with a null path.
KtifHandle emptyHandle(const std::string& path, const TiffImageLayout& layout) {
  std::ofstream(path, std::ios::trunc).close();
  Report err;
  KtifHandle h(ktif_Open(path.c_str(), "w", out(err)));
  EXPECT_NE(h, nullptr) << kerr_ReportMessage(err.get());
  if (!h) return h;
  h->width = int32_t(layout.width);
  h->height = int32_t(layout.height);
  h->samplesPerPixel = layout.samplesPerPixel;
  h->bitsPerSample = layout.bitsPerSample;
  h->bytesPerSample = layout.bitsPerSample < 8 ? 1 : layout.bitsPerSample / 8;
  h->photometric = layout.photometric;
  h->planarConfig = layout.planarConfig;
  h->compression = layout.compression;
  h->blockWidth = int32_t(layout.tiled ? layout.tileWidth : layout.width);
  h->blockHeight = int32_t(layout.tiled               ? layout.tileHeight
                           : layout.rowsPerStrip == 0 ? layout.height
                                                      : layout.rowsPerStrip);
  static const int32_t kTypes[3][4] = {{KTIF_PIXEL_U8, KTIF_PIXEL_U16, KTIF_PIXEL_U32, -1},
                                       {KTIF_PIXEL_S8, KTIF_PIXEL_S16, KTIF_PIXEL_S32, -1},
                                       {-1, -1, KTIF_PIXEL_F32, KTIF_PIXEL_F64}};
  const int bitsIndex = layout.bitsPerSample == 8    ? 0
                        : layout.bitsPerSample == 16 ? 1
                        : layout.bitsPerSample == 32 ? 2
                                                     : 3;
  h->pixelType = layout.bitsPerSample == 1   ? KTIF_PIXEL_U1
                 : layout.bitsPerSample == 4 ? KTIF_PIXEL_U4
                                             : kTypes[layout.sampleFormat - 1][bitsIndex];
  return h;
}

// Writes every raster-buffer block of every layer with the values the host
// must read back: layers outermost, as a host fills one band after another,
// or every layer of a block before the next block (`blockMajor`), as the
// block writer of interleaved images needs them.
void writeWholeImage(Ktif_File** h, const TiffImageLayout& layout, bool blockMajor,
                     const std::string& what) {
  const int64_t w = (*h)->rbBlockWidth, rbh = (*h)->rbBlockHeight, bytes = (*h)->bytesPerSample;
  const int64_t rows = (layout.height + rbh - 1) / rbh, columns = (layout.width + w - 1) / w;
  const int64_t layers = layout.samplesPerPixel, blocks = rows * columns;
  std::vector<unsigned char> buffer(size_t(w * rbh * bytes));
  for (int64_t k = 0; k < layers * blocks; ++k) {
    const int layer = int(blockMajor ? k % layers : k / blocks);
    const int64_t block = blockMajor ? k / layers : k % blocks;
    const int64_t r = block / columns, c = block % columns;
    for (int64_t i = 0; i < w * rbh; ++i) {
      const uint64_t v = expectedSample(layout, layer, c * w + i % w, r * rbh + i / w);
      std::memcpy(buffer.data() + i * bytes, &v, size_t(bytes));
    }
    Report err;
    ASSERT_NE(*h, nullptr) << what;
    ktif_RBRasterWrite(h, layer, int32_t(r), int32_t(c), buffer.data(), out(err));
    ASSERT_EQ(err, nullptr) << what << ": " << kerr_ReportMessage(err.get());
  }
}

struct RoundTrip {
  const char* what;
  TiffImageLayout layout;
  int32_t rbWidth, rbHeight;  // 0: the TIFF block
  bool rbWrite;
};

TiffImageLayout with(TiffImageLayout layout, uint16_t photometric, uint16_t planar = 1,
                     uint16_t format = 1) {
  layout.photometric = photometric;
  layout.planarConfig = planar;
  layout.sampleFormat = format;
  return layout;
}

TEST(KtifWrite, WhatIsWrittenReadsBack) {
  const RoundTrip cases[] = {
      {"8-bit strips, one block each, short last strip", tiffImage(37, 23, 8, 1, 0, 7), 0, 0, true},
      {"RGB tiles cut by larger blocks", with(tiffImage(50, 40, 8, 3, 16), 2), 20, 12, true},
      {"16-bit planar tiles", with(tiffImage(40, 33, 16, 3, 16), 2, 2), 24, 24, true},
      {"1-bit strips at odd bit offsets", tiffImage(45, 20, 1, 1, 0, 8), 13, 5, true},
      {"4-bit three layers interleaved", with(tiffImage(33, 30, 4, 3, 16), 2), 10, 10, true},
      {"signed 16-bit tiles", with(tiffImage(40, 40, 16, 1, 16), 1, 1, 2), 0, 0, true},
      {"32-bit float strips", with(tiffImage(30, 20, 32, 2, 0, 6), 1, 1, 3), 30, 4, true},
      {"WhiteIsZero", with(tiffImage(30, 20, 8, 1, 0, 5), 0), 0, 0, true},
      {"block writer, RGB interleaved", with(tiffImage(40, 40, 8, 3, 16), 2), 0, 0, false},
      {"block writer, 4-bit planar", with(tiffImage(40, 24, 4, 3, 0, 8), 2, 2), 0, 0, false},
      {"block writer, 1-bit WhiteIsZero", with(tiffImage(21, 9, 1, 1, 0, 4), 0), 0, 0, false},
  };
  for (const RoundTrip& c : cases) {
    TempFile file("write_round_trip");
    KtifHandle h = emptyHandle(file.path(), c.layout);
    ASSERT_NE(h, nullptr);
    h->rbWrite = c.rbWrite;
    h->rbBlockWidth = c.rbWidth;
    h->rbBlockHeight = c.rbHeight;
    Report err;
    ASSERT_EQ(ktif_CreateBaseLineTIFF(h.get(), nullptr, out(err)), h.get())
        << c.what << ": " << kerr_ReportMessage(err.get());
    Ktif_File* raw = h.release();
    writeWholeImage(&raw, c.layout, !c.rbWrite, c.what);
    // The block writer hands back a handle on the finished file; the cache
    // road finishes it on close.
    if (!c.rbWrite) {
      ASSERT_NE(raw, nullptr) << c.what;
      EXPECT_NE(TIFFGetMode(raw->tiff), O_WRONLY);
    }
    ktif_Close(raw, nullptr);
    KtifHandle back = ktifOpenOrFail(file.path());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(ktif_IsKORVOCreatedTIFF(back.get()), 1);
    expectWholeImage(back.get(), c.layout, c.what);
  }
}

TEST(KtifWrite, ReadAfterWriteSeesTheWrittenBlock) {
  // 4-bit interleaved layers are read through the one-block interleave
  // cache, which must not keep the block as it was before the write.
  TiffImageLayout layout = with(tiffImage(16, 16, 4, 3, 16), 2);
  TempFile file("write_then_read");
  KtifHandle h = emptyHandle(file.path(), layout);
  h->rbWrite = 1;
  ASSERT_EQ(ktif_CreateBaseLineTIFF(h.get(), nullptr, nullptr), h.get());
  std::vector<unsigned char> block(256), back(256);
  for (unsigned char value : {3, 11}) {
    std::fill(block.begin(), block.end(), value);
    Ktif_File* raw = h.get();
    Report err;
    ktif_RBRasterWrite(&raw, 1, 0, 0, block.data(), out(err));
    ASSERT_EQ(err, nullptr) << kerr_ReportMessage(err.get());
    ktif_RBRasterRead(h.get(), 1, 0, 0, back.data(), out(err));
    ASSERT_EQ(err, nullptr) << kerr_ReportMessage(err.get());
    EXPECT_EQ(back, block) << "after writing " << int(value);
    ktif_RBRasterRead(h.get(), 0, 0, 0, back.data(), out(err));
    EXPECT_EQ(back, std::vector<unsigned char>(256, 0)) << "layer 0 is left as it was";
  }
}

// Tags of a created file, read with libtiff.
struct CreatedTags {
  uint16_t extraSamples = 0, minShort = 0, maxShort = 0, photometric = 0;
  double sMin = 0, sMax = 0;
  bool hasShortRange = false, hasDoubleRange = false, bigTiff = false;
};

CreatedTags createdTags(const std::string& path) {
  CreatedTags t;
  Tiff tif(TIFFOpen(path.c_str(), "r"));
  if (!tif) return ADD_FAILURE() << "cannot open " << path, t;
  uint16_t* kinds = nullptr;
  TIFFGetField(tif.get(), TIFFTAG_EXTRASAMPLES, &t.extraSamples, &kinds);
  t.hasShortRange = TIFFGetField(tif.get(), TIFFTAG_MINSAMPLEVALUE, &t.minShort) &&
                    TIFFGetField(tif.get(), TIFFTAG_MAXSAMPLEVALUE, &t.maxShort);
  t.hasDoubleRange = TIFFGetField(tif.get(), TIFFTAG_SMINSAMPLEVALUE, &t.sMin) &&
                     TIFFGetField(tif.get(), TIFFTAG_SMAXSAMPLEVALUE, &t.sMax);
  TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &t.photometric);
  t.bigTiff = TIFFIsBigTIFF(tif.get());
  return t;
}

TEST(KtifWrite, CreationTags) {
  struct Case {
    const char* what;
    TiffImageLayout layout;
    int32_t pixelType;  // -1: as the layout says
    uint16_t extraSamples;
  } cases[] = {
      {"RGBA", with(tiffImage(8, 8, 8, 4), 2), -1, 1},
      {"RGB", with(tiffImage(8, 8, 8, 3), 2), -1, 0},
      {"grey and alpha", tiffImage(8, 8, 8, 2), -1, 1},
      {"float", with(tiffImage(8, 8, 32, 3), 1, 1, 3), -1, 2},
  };
  for (const Case& c : cases) {
    TempFile file("create_tags");
    KtifHandle h = emptyHandle(file.path(), c.layout);
    double mins[] = {3, 1, 2, 9}, maxs[] = {200, 250, 100, 9};
    h->minValues = static_cast<double*>(kmsc_MemDup(mins, sizeof mins));
    h->maxValues = static_cast<double*>(kmsc_MemDup(maxs, sizeof maxs));
    h->minCount = h->maxCount = 3;
    Report err;
    ASSERT_NE(ktif_CreateBaseLineTIFF(h.get(), nullptr, out(err)), nullptr) << c.what;
    h.reset();
    const CreatedTags t = createdTags(file.path());
    EXPECT_EQ(t.extraSamples, c.extraSamples) << c.what;
    // Unsigned samples of up to 16 bits keep the range in the short tags.
    const bool isFloat = c.layout.sampleFormat == 3;
    EXPECT_EQ(t.hasShortRange, !isFloat) << c.what;
    EXPECT_EQ(t.hasDoubleRange, isFloat) << c.what;
    if (isFloat) {
      EXPECT_EQ(t.sMin, 1.0);
      EXPECT_EQ(t.sMax, 250.0);
    } else {
      EXPECT_EQ(t.minShort, 1);
      EXPECT_EQ(t.maxShort, 250);
    }
  }
}

TEST(KtifWrite, CreationRules) {
  TempFile file("create_rules");
  const TiffImageLayout layout = with(tiffImage(32, 32, 8, 3, 16), 2);

  // BigTIFF comes only with the null path; JPEG-as-RGB is stored as YCbCr
  // with the handle's quality.
  KtifHandle h = emptyHandle(file.path(), layout);
  h->bigTIFF = 1;
  h->compression = KTIF_COMPRESSION_JPEG_AS_RGB;
  h->jpegQuality = 60;
  EXPECT_EQ(ktif_IsKORVOCreatedTIFF(h.get()), 1) << "a file still to be created";
  Report err;
  ASSERT_EQ(ktif_CreateBaseLineTIFF(h.get(), nullptr, out(err)), h.get())
      << kerr_ReportMessage(err.get());
  EXPECT_EQ(ktif_CreateBaseLineTIFF(h.get(), nullptr, out(err)), nullptr);
  EXPECT_STREQ(kerr_ReportMessage(err.get()), "File already created");
  EXPECT_EQ(h->jpegQuality, 60) << "read back from the quality the TIFF was given";
  h.reset();
  CreatedTags t = createdTags(file.path());
  EXPECT_TRUE(t.bigTiff);
  EXPECT_EQ(t.photometric, PHOTOMETRIC_YCBCR);

  // With a path, the new handle owns copies: closing the template leaves its
  // colour map whole. The copy is never BigTIFF.
  TiffImageLayout palette = tiffImage(16, 16, 8);
  palette.photometric = PHOTOMETRIC_PALETTE;
  for (int i = 0; i < 3 * 256; ++i) palette.colorMap.push_back(uint16_t(i * 85));
  TempFile source("create_palette_source"), copy("create_palette_copy");
  tiffBuilderWrite(source.path(), {palette});
  KtifHandle templ = ktifOpenOrFail(source.path());
  templ->bigTIFF = 1;
  KtifHandle made(ktif_CreateBaseLineTIFF(templ.get(), copy.path().c_str(), out(err)));
  ASSERT_NE(made, nullptr) << kerr_ReportMessage(err.get());
  EXPECT_EQ(templ->tiff != nullptr && templ->path == source.path(), true);
  templ.reset();
  ASSERT_EQ(made->colorMapSize, 256);
  EXPECT_EQ(made->colorMapBlue[255], uint16_t((512 + 255) * 85));
  made.reset();
  EXPECT_FALSE(createdTags(copy.path()).bigTiff);
  KtifHandle back = ktifOpenOrFail(copy.path());
  ASSERT_EQ(back->colorMapSize, 256);
  EXPECT_EQ(back->colorMapGreen[1], uint16_t(257 * 85));

  // A pixel type TIFF cannot hold fails and leaves no TIFF open.
  TempFile bad("create_bad");
  KtifHandle two = emptyHandle(bad.path(), tiffImage(8, 8, 8));
  two->pixelType = KTIF_PIXEL_U2;
  EXPECT_EQ(ktif_CreateBaseLineTIFF(two.get(), nullptr, out(err)), nullptr);
  EXPECT_STREQ(kerr_ReportMessage(err.get()), "Unsupported pixel type");
  EXPECT_EQ(two->tiff, nullptr);
}

TEST(KtifWrite, UpdateRewritesTheTagsOfAnExistingFile) {
  TempFile file("update_tags");
  tiffBuilderWrite(file.path(), {tiffImage(16, 16, 8)});
  Report err;
  KtifHandle h(ktif_Open(file.path().c_str(), "r+", out(err)));
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(ktif_IsKORVOCreatedTIFF(h.get()), 0);
  double low = 7, high = 99;
  h->minValues = static_cast<double*>(kmsc_MemDup(&low, sizeof low));
  h->maxValues = static_cast<double*>(kmsc_MemDup(&high, sizeof high));
  h->minCount = h->maxCount = 1;
  ktif_UpdateTIFFTags(h.get(), out(err));
  EXPECT_EQ(err, nullptr);
  // The handle still reads its image after the rewrite.
  expectWholeImage(h.get(), tiffImage(16, 16, 8), "after the update");
  h.reset();
  const CreatedTags t = createdTags(file.path());
  EXPECT_EQ(t.minShort, 7);
  EXPECT_EQ(t.maxShort, 99);
  ktif_UpdateTIFFTags(nullptr, out(err));
  EXPECT_STREQ(kerr_ReportMessage(err.get()), "NULL kfh pointer");
}

// A handle for an 8 x 8 image at `path` whose host transform maps (0, 0) to
// (c, f) with 2-unit pixels, north up.
KtifHandle georeferencedHandle(const std::string& path, double c, double f) {
  KtifHandle h = emptyHandle(path, tiffImage(8, 8, 8));
  h->geoParams = kgtf_GeoTIFFParamsAllocate();
  XForm xform(kxfr_XFormCreateUsingCoeffs(2, 0, c, 0, -2, f, nullptr));
  kgtf_GeoTIFFParamsGeoreferencingSet(h->geoParams, xform.get(), nullptr, nullptr, nullptr);
  return h;
}

TEST(KtifWrite, WorldFileWrittenOnlyForAGeoreferencedImage) {
  for (bool georeferenced : {true, false}) {
    TempFile file("create_world");
    const std::string world = file.path().substr(0, file.path().rfind('.')) + ".tfw";
    KtifHandle h = georeferenced ? georeferencedHandle(file.path(), 100, 500)
                                 : emptyHandle(file.path(), tiffImage(8, 8, 8));
    h->tfwWrite = 1;
    if (!georeferenced) h->geoParams = kgtf_GeoTIFFParamsAllocate();
    Report err;
    ASSERT_NE(ktif_CreateBaseLineTIFF(h.get(), nullptr, out(err)), nullptr);
    std::ifstream in(world);
    std::vector<double> values{std::istream_iterator<double>(in), {}};
    std::remove(world.c_str());
    if (georeferenced)
      EXPECT_EQ(values, (std::vector<double>{2, 0, 0, -2, 100, 500}));
    else
      EXPECT_FALSE(in.is_open()) << "no transform, no world file";
  }
}

TEST(KtifWrite, ACopyKeepsTheTransformOfARecordReadFromAFile) {
  TempFile first("georef_first"), second("georef_second");
  KtifHandle h = georeferencedHandle(first.path(), 101, 499);
  ASSERT_NE(ktif_CreateBaseLineTIFF(h.get(), nullptr, nullptr), nullptr);
  h.reset();
  KtifHandle read = ktifOpenOrFail(first.path());
  ASSERT_EQ(read->geoParams->georeferencingChanged, 0);
  KtifHandle copy(ktif_CreateBaseLineTIFF(read.get(), second.path().c_str(), nullptr));
  ASSERT_NE(copy, nullptr);
  copy.reset();
  KtifHandle back = ktifOpenOrFail(second.path());
  XForm got;
  kgtf_GeoTIFFParamsGeoreferencingGet(back->geoParams, out(got), nullptr, nullptr, nullptr);
  ASSERT_NE(got, nullptr) << "the copy lost its transform";
  double x = 3, y = 4;
  ASSERT_EQ(kxfr_Transform(got.get(), &x, &y, 1, nullptr), 1);
  EXPECT_DOUBLE_EQ(x, 107);
  EXPECT_DOUBLE_EQ(y, 491);
}

}  // namespace
