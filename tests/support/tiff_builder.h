// Test images written with libtiff: one description per directory, pixel
// values from a function of (layer, x, y) so that tests can compute what any
// pixel must read back as.
#ifndef KTIF_TIFF_BUILDER_H
#define KTIF_TIFF_BUILDER_H

#include <tiffio.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using Tiff = std::unique_ptr<TIFF, TiffCloser>;

struct TiffImageLayout {
  uint32_t width = 64;
  uint32_t height = 48;
  uint16_t samplesPerPixel = 1;
  uint16_t bitsPerSample = 8;
  uint16_t sampleFormat = 1;  // 1 unsigned, 2 signed, 3 float
  uint16_t planarConfig = 1;
  uint16_t photometric = 1;  // MinIsBlack
  uint16_t compression = 1;
  bool tiled = false;
  uint32_t tileWidth = 16, tileHeight = 16;
  uint32_t rowsPerStrip = 0;       // 0: the whole image in one strip
  int64_t newSubfileType = -1;     // -1: tag absent
  std::string description;         // ImageDescription; empty: absent
  std::vector<uint16_t> colorMap;  // 3 * 2^bits entries (red, green, blue)
  bool writeMinMax = false;
  double minValue = 0, maxValue = 0;
  // Sample value of (layer, x, y); the default is a pattern that differs per
  // layer, column and row and fits every bit depth.
  std::function<double(int layer, uint32_t x, uint32_t y)> value;
};

// A layout of `samples` samples (three are RGB) in tiles of tileWidth x rows
// (rows 0: square tiles), or in strips of `rows` rows (0: one strip) when
// tileWidth is 0.
TiffImageLayout tiffImage(uint32_t width, uint32_t height, uint16_t bits = 8, uint16_t samples = 1,
                          uint32_t tileWidth = 0, uint32_t rows = 0, uint16_t compression = 1);

// The pattern the default `value` uses, reduced to the bit depth.
double tiffBuilderPattern(const TiffImageLayout& layout, int layer, uint32_t x, uint32_t y);

// The bits the builder stores for (layer, x, y): the pattern encoded in the
// layout's sample format and bit depth.
uint64_t tiffBuilderStored(const TiffImageLayout& layout, int layer, uint32_t x, uint32_t y);

// Writes the images as consecutive directories of one file (BigTIFF when
// `bigTiff`). Fails the current test on a libtiff error.
void tiffBuilderWrite(const std::string& path, const std::vector<TiffImageLayout>& images,
                      bool bigTiff = false);

// A fresh path in the test temporary directory, removed by the destructor.
class TempFile {
 public:
  explicit TempFile(const std::string& stem);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

#endif
