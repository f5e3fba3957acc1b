// Small GeoTIFF files written with libgeotiff, for the tests of the GeoTIFF
// readers, and owners of the handles that read them. Header-only: only the
// test programs that link the image-access library (and libgeotiff) include it.
#ifndef KTIF_TEST_GEOTIFF_FILE_H
#define KTIF_TEST_GEOTIFF_FILE_H

#include <geotiffio.h>
#include <gtest/gtest.h>
#include <xtiffio.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host_owners.h"
#include "kgtf_internal.h"
#include "tiff_builder.h"

using Gtif = GtifPtr;

using GeoKeysSet = std::function<void(GTIF*)>;
using TagsSet = std::function<void(TIFF*)>;

// GeoKeys from items "key:short" and "key=double" (numeric key codes).
inline void geoKeysSet(GTIF* gtif, const std::string& items) {
  std::istringstream in(items);
  for (std::string item; in >> item;) {
    const size_t at = item.find_first_of(":=");
    const auto key = static_cast<geokey_t>(std::stoi(item.substr(0, at)));
    const double value = std::stod(item.substr(at + 1));
    item[at] == ':' ? GTIFKeySet(gtif, key, TYPE_SHORT, 1, int(value))
                    : GTIFKeySet(gtif, key, TYPE_DOUBLE, 1, value);
  }
}

// A size x size 8-bit image of zeros (size x height when a height is given):
// `write` sets tags and, when `keys`, the GeoKeys of a key handle that is
// written afterwards (else it gets null).
inline void geoTiffWriteWith(const std::string& path, bool keys,
                             const std::function<void(TIFF*, GTIF*)>& write, uint32_t size = 1,
                             uint32_t height = 0) {
  if (height == 0) height = size;
  Tiff tif(XTIFFOpen(path.c_str(), "w"));
  ASSERT_NE(tif, nullptr) << path;
  TIFFSetField(tif.get(), TIFFTAG_IMAGEWIDTH, size);
  TIFFSetField(tif.get(), TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif.get(), TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  Gtif gtif(keys ? GTIFNew(tif.get()) : nullptr);
  write(tif.get(), gtif.get());
  if (gtif) GTIFWriteKeys(gtif.get());
  std::vector<unsigned char> row(size);
  for (uint32_t y = 0; y < height; ++y) TIFFWriteScanline(tif.get(), row.data(), y, 0);
}

// The same with tags set first (`tags`), then GeoKeys (`keys`; none: no key
// directory is written).
inline void geoTiffWrite(const std::string& path, const GeoKeysSet& keys,
                         const TagsSet& tags = nullptr, uint32_t size = 1) {
  geoTiffWriteWith(
      path, keys != nullptr,
      [&](TIFF* tif, GTIF* gtif) {
        if (tags) tags(tif);
        if (gtif) keys(gtif);
      },
      size);
}

// A GeoTIFF file open with its keys ("r+" to write keys back on close).
struct GeoTiffOpen {
  explicit GeoTiffOpen(const std::string& path, const char* mode = "r")
      : tif(XTIFFOpen(path.c_str(), mode)), gtif(tif ? GTIFNew(tif.get()) : nullptr) {
    EXPECT_NE(tif, nullptr) << path;
  }
  // A SHORT key, -1 when absent.
  int key(geokey_t key) const {
    uint16_t value = 0;
    return GTIFKeyGet(gtif.get(), key, &value, 0, 1) == 1 ? value : -1;
  }
  std::string text(geokey_t key) const {
    char buffer[2048] = {0};
    GTIFKeyGet(gtif.get(), key, buffer, 0, sizeof buffer - 1);
    return buffer;
  }
  // The values of a double array tag (empty when absent).
  std::vector<double> doubles(uint32_t tag) const {
    uint16_t count = 0;
    double* values = nullptr;
    if (!TIFFGetField(tif.get(), tag, &count, &values) || values == nullptr) return {};
    return std::vector<double>(values, values + count);
  }
  // The key directory as stored: the shorts of GeoKeyDirectoryTag, the
  // doubles and the ASCII text.
  struct Directory {
    std::vector<uint16_t> shorts;
    std::vector<double> doubles;
    std::string ascii;
  };
  Directory directory() const {
    Directory d;
    uint16_t count = 0;
    uint16_t* shorts = nullptr;
    if (TIFFGetField(tif.get(), TIFFTAG_GEOKEYDIRECTORY, &count, &shorts) && shorts != nullptr)
      d.shorts.assign(shorts, shorts + count);
    d.doubles = doubles(TIFFTAG_GEODOUBLEPARAMS);
    char* ascii = nullptr;
    if (TIFFGetField(tif.get(), TIFFTAG_GEOASCIIPARAMS, &ascii) && ascii != nullptr)
      d.ascii = ascii;
    return d;
  }
  Tiff tif;
  Gtif gtif;  // null for a key directory libgeotiff refuses; freed before the file closes
};

// A GeoTIFF written to a temporary file and open again for reading.
struct GeoTiffFile {
  explicit GeoTiffFile(const GeoKeysSet& keys, const TagsSet& tags = nullptr)
      : in((geoTiffWrite(file.path(), keys, tags), file.path())) {}
  GTIF* gtif() const { return in.gtif.get(); }
  TempFile file{"geotiff"};
  GeoTiffOpen in;
};

// A file written by a library writer, open again for reading: `write` gets
// the file, a fresh key handle when `keys` (written afterwards), and `err`.
struct GeoTiffWritten {
  using Write = std::function<void(TIFF*, GTIF*, Kerr_Report**)>;
  GeoTiffWritten(bool keys, const Write& write)
      : in((geoTiffWriteWith(file.path(), keys,
                             [&](TIFF* tif, GTIF* gtif) { write(tif, gtif, out(err)); }),
            file.path())) {}
  Report err;
  TempFile file{"written"};
  GeoTiffOpen in;
};

#endif
