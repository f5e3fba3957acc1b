// No exception crosses an exported image-access function: every allocation
// that fails while an image is opened and read gives a report or a clean
// result, never a crash or a leak.
#include <gtest/gtest.h>

#include <vector>

#include "failing_new.h"
#include "ktif.h"
#include "raster_read.h"
#include "test_support.h"
#include "tiff_builder.h"

namespace {

TEST(ExportGuard, OpeningAndReadingSurviveEveryAllocationFailure) {
  TempFile file("guard_open");
  TiffImageLayout image;
  image.compression = 5;  // LZW: the read decodes through the block cache
  image.rowsPerStrip = 8;
  tiffBuilderWrite(file.path(), {image});
  ReportCapture quiet;
  Kerr_Report* err = nullptr;
  Ktif_File* handle = nullptr;
  std::vector<unsigned char> block;
  const long failures = sweepAllocationFailures(
      [&] {
        handle = ktif_Open(file.path().c_str(), "r", &err);
        if (handle == nullptr) return;
        block.assign(static_cast<size_t>(handle->rbBlockWidth) * handle->rbBlockHeight, 0);
        ktif_RBRasterRead(handle, 0, 0, 0, block.data(), nullptr);
      },
      [&](bool) {
        // A failed open always says why.
        EXPECT_EQ(handle == nullptr, err != nullptr);
        kerr_DeleteErrorReportEx(&err);
        ktif_Close(handle, nullptr);
      });
  EXPECT_GT(failures, 0);
  EXPECT_EQ(block[3], static_cast<unsigned char>(tiffBuilderPattern(image, 0, 3, 0)));
}

}  // namespace
