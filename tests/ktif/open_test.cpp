// Opening images: defaults, modes, image counting past reduced-resolution
// copies, names, parameters and hostile files.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <fstream>

#include "kpmg.h"
#include "ktif_internal.h"
#include "library_owners.h"
#include "test_support.h"
#include "tiff_builder.h"

namespace {

using Offsets = Owned<uint64_t, kmsc_HeapFree>;  // reduced-resolution directory offsets

// The outermost message and the message of its cause, of a failed open.
std::vector<std::string> openFailure(const std::string& path, int64_t index = 0) {
  Report err;
  EXPECT_EQ(KtifHandle(ktif_OpenImageByIndex(path.c_str(), "r", index, out(err))), nullptr);
  return reportMessages(err.get());
}

TiffImageLayout sized(uint32_t width, uint32_t height, int64_t subfileType = -1) {
  TiffImageLayout layout = tiffImage(width, height);
  layout.newSubfileType = subfileType;
  return layout;
}

TEST(KtifOpen, EmptyFileAndModes) {
  TempFile file("empty");
  std::ofstream(file.path()).put('x');
  Report err;
  KtifHandle handle(ktif_Open(file.path().c_str(), "w", out(err)));
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->tiff, nullptr);
  EXPECT_EQ(handle->writeMode, 1);
  EXPECT_EQ(handle->photometric, -1);
  EXPECT_EQ(handle->imageName, nullptr);
  EXPECT_EQ(Offsets(ktif_GetRRDOffsets(handle.get())), nullptr);

  TempFile image("modes");
  tiffBuilderWrite(image.path(), {sized(8, 8)});
  for (auto [mode, writeMode] : {std::pair{"rb", 0}, {"r", 0}, {"r+", 1}}) {
    KtifHandle h(ktif_Open(image.path().c_str(), mode, nullptr));
    ASSERT_NE(h, nullptr) << mode;
    EXPECT_EQ(h->writeMode, writeMode) << mode;
  }
  std::vector<std::string> missing = openFailure(image.path() + ".missing");
  EXPECT_EQ(missing.at(0), "Specified input file does not exist");

  // A '$' of a variable that is not set: the file of that very name, if any.
  unsetenv("KTIF_TEST_UNSET");
  TempFile dollar("price${KTIF_TEST_UNSET}");
  tiffBuilderWrite(dollar.path(), {sized(8, 8)});
  KtifHandle literal = ktifOpenOrFail(dollar.path());
  ASSERT_NE(literal, nullptr);
  EXPECT_EQ(literal->path, dollar.path());
  EXPECT_EQ(openFailure(dollar.path() + ".missing").at(0), "Error expanding filename");
  ktif_Close(nullptr, out(err));
  EXPECT_EQ(err, nullptr);
}

TEST(KtifOpen, WorldFileSwitchesFollowThePreference) {
  TempFile image("tfw");
  tiffBuilderWrite(image.path(), {sized(8, 8)});
  // Value, the switches, and what the open shows.
  const std::tuple<const char*, int, int, std::vector<std::string>> cases[] = {
      {"Write", 1, 1, {}},
      {" ignore ", 0, 0, {}},
      {"Read", 1, 0, {}},
      {"Wirte",
       1,
       0,
       {"Unknown value 'Wirte' for tiff.tfw_access (allowed: Read, Write, Ignore)"}}};
  for (const auto& [value, read, write, shown] : cases) {
    kpmg_SetPreference("tiff", "tfw_access", value, nullptr);
    ReportCapture capture;
    KtifHandle h = ktifOpenOrFail(image.path());
    EXPECT_EQ(h->tfwRead, read) << value;
    EXPECT_EQ(h->tfwWrite, write) << value;
    EXPECT_EQ(capture.messages(), shown) << value;
  }
  kpmg_ClearPreferences();
}

TEST(KtifOpen, ReducedResolutionDirectoriesAreNotImages) {
  // Flagged overviews count anywhere; the unflagged half-size chain only
  // directly after the main image.
  TempFile flagged("rrd_flagged");
  tiffBuilderWrite(flagged.path(),
                   {sized(100, 80), sized(50, 40, 1), sized(60, 60), sized(30, 30, 1)});
  KtifHandle h = ktifOpenOrFail(flagged.path());
  EXPECT_EQ(ktif_NumImages(h.get(), nullptr), 2);
  Offsets offsets(ktif_GetRRDOffsets(h.get()));
  ASSERT_NE(offsets, nullptr);
  EXPECT_NE(offsets.get()[1], 0u);
  EXPECT_EQ(offsets.get()[2], 0u);
  KtifHandle second = ktifOpenOrFail(flagged.path(), 1);
  EXPECT_EQ(second->width, 60) << "image 1 is directory 2";
  EXPECT_STREQ(second->imageName, "Untitled_1");

  TempFile chain("rrd_chain");
  tiffBuilderWrite(chain.path(),
                   {sized(1000, 600), sized(500, 300, 0), sized(250, 150, 0), sized(40, 40, 0)});
  EXPECT_EQ(ktif_NumImages(ktifOpenOrFail(chain.path()).get(), nullptr), 2)
      << "1000x600 -> 500x300 -> 250x150 chain; 40x40 is an image";

  TempFile broken("rrd_broken");
  tiffBuilderWrite(broken.path(), {sized(1000, 600), sized(501, 300, 0), sized(250, 150, 0)});
  EXPECT_EQ(ktif_NumImages(ktifOpenOrFail(broken.path()).get(), nullptr), 3)
      << "501 breaks the chain";

  // An index past the last image is taken as a directory number.
  EXPECT_EQ(ktifOpenOrFail(flagged.path(), 3)->width, 30);
  EXPECT_EQ(openFailure(flagged.path(), 4).at(0), "Error seeking image");
}

TEST(KtifOpen, HandleListsAndNames) {
  TempFile file("lists");
  TiffImageLayout rgb = tiffImage(40, 30, 8, 3), overview = tiffImage(20, 15, 8, 3);
  rgb.description = "Forty characters of description, exactly";
  overview.newSubfileType = 1;
  tiffBuilderWrite(file.path(), {rgb, overview, tiffImage(10, 10, 8, 2)});
  KtifFileList images(ktif_OpenImageHandles(file.path().c_str(), "r", nullptr));
  ASSERT_NE(images, nullptr);
  ASSERT_EQ(images->count, 2);
  EXPECT_STREQ(images->handles[0]->imageName, "Forty characters of descr_0");
  EXPECT_STREQ(images->handles[0]->imageType, "RGB");
  EXPECT_STREQ(images->handles[1]->imageType, "MULTI");

  KtifFileList directories(ktif_OpenDirectoryHandles(file.path().c_str(), "r", nullptr));
  ASSERT_EQ(directories->count, 3);
  EXPECT_EQ(directories->handles[1]->width, 20);
  EXPECT_EQ(directories->handles[1]->imageName, nullptr);
  EXPECT_EQ(directories->handles[2]->samplesPerPixel, 2);

  Report err;
  KtifFileList none(ktif_OpenImageHandles((file.path() + ".missing").c_str(), "r", out(err)));
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->count, 0);
  EXPECT_EQ(reportMessages(err.get()).at(0), "Error opening tiff handle");
}

TEST(KtifParameters, PixelTypesAndGeometry) {
  struct Case {
    uint16_t bits, format;
    int32_t pixelType;
  } cases[] = {{1, 1, 0},  {4, 1, 2},  {8, 1, 3},  {8, 2, 4},  {8, 3, 3},  {16, 1, 5},
               {16, 2, 6}, {16, 3, 5}, {32, 1, 7}, {32, 2, 8}, {32, 3, 9}, {64, 3, 10}};
  for (const Case& c : cases) {
    TempFile file("ptype");
    TiffImageLayout layout = tiffImage(1000, 700, c.bits, 1, 256);
    layout.sampleFormat = c.format;
    tiffBuilderWrite(file.path(), {layout});
    KtifHandle h = ktifOpenOrFail(file.path());
    if (!h) continue;
    EXPECT_EQ(h->pixelType, c.pixelType) << c.bits << "/" << c.format;
    EXPECT_EQ(h->bytesPerSample, c.bits < 8 ? 1 : c.bits / 8);
    EXPECT_EQ(h->blocksAcross * 10 + h->blocksDown, 43);
    EXPECT_EQ(h->blocksPerLayer, 12);
    EXPECT_EQ(h->resolutionUnit, 2) << "absent ResolutionUnit means inch";
  }
  TempFile twoBit("ptype2");
  tiffBuilderWrite(twoBit.path(), {tiffImage(16, 4, 2)});
  EXPECT_EQ(openFailure(twoBit.path()),
            (std::vector<std::string>{"Error reading file parameters", "Unsupported pixel type"}));
}

TEST(KtifParameters, StripsRangesColourMapAndPartialStrips) {
  TempFile file("params");
  TiffImageLayout strips = tiffImage(6000, 10, 8, 3, 0, 3);
  strips.writeMinMax = true;
  strips.minValue = 5;
  strips.maxValue = 200;
  TiffImageLayout palette = tiffImage(8, 8, 4);
  palette.photometric = 3;
  for (int i = 0; i < 3 * 16; ++i) palette.colorMap.push_back(static_cast<uint16_t>(i * 1000));
  TiffImageLayout narrow = strips;
  narrow.width = 5499;
  tiffBuilderWrite(file.path(), {strips, palette, narrow});

  KtifHandle h = ktifOpenOrFail(file.path());
  EXPECT_EQ(h->blockWidth, 6000);
  EXPECT_EQ(h->blockHeight, 3);
  EXPECT_EQ(h->blocksDown, 4);
  ASSERT_EQ(h->minCount, 3);
  EXPECT_EQ(h->minValues[2], 5);
  EXPECT_EQ(h->maxValues[0], 200);
  EXPECT_EQ(h->partialStripMode, 1);
  EXPECT_EQ(h->partialStripRow, -1);
  EXPECT_EQ(h->geoParams->rasterType, 1) << "a fresh parameter record";

  KtifHandle p = ktifOpenOrFail(file.path(), 1);
  EXPECT_EQ(p->isPalette, 1);
  ASSERT_EQ(p->colorMapSize, 16);
  EXPECT_EQ(p->colorMapGreen[1], 17000);
  EXPECT_EQ(p->minValues, nullptr);
  EXPECT_EQ(p->blockHeight, 8) << "no RowsPerStrip: one strip";

  EXPECT_EQ(ktifOpenOrFail(file.path(), 2)->partialStripMode, 0);

  // Read again, as file creation does, over other directories: nothing of
  // the earlier read stays (the asan preset sees what would leak).
  std::vector<unsigned char> block(size_t(h->rbBlockWidth) * h->rbBlockHeight);
  ktif_RBRasterRead(h.get(), 0, 0, 0, block.data(), nullptr);
  ASSERT_NE(h->partialStripFile, nullptr);
  ASSERT_TRUE(TIFFSetDirectory(h->tiff, 1));
  ASSERT_EQ(readParameters(h.get(), nullptr), 0);
  EXPECT_EQ(h->minValues, nullptr);
  EXPECT_EQ(h->maxCount, 0);
  EXPECT_EQ(h->colorMapSize, 16);
  EXPECT_EQ(h->partialStripMode, 0);
  EXPECT_EQ(h->partialStripFile, nullptr);
  ASSERT_TRUE(TIFFSetDirectory(h->tiff, 0));
  ASSERT_EQ(readParameters(h.get(), nullptr), 0);
  EXPECT_EQ(h->colorMapRed, nullptr);
  EXPECT_EQ(h->colorMapSize, 0);
  EXPECT_EQ(h->minCount, 3);
}

}  // namespace
