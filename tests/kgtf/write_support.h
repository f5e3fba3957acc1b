// Writing a one-pixel GeoTIFF through the library's writers and reading its
// georeferencing back, for the tests of the write side.
#ifndef KTIF_TEST_KGTF_WRITE_SUPPORT_H
#define KTIF_TEST_KGTF_WRITE_SUPPORT_H

#include <geotiffio.h>
#include <gtest/gtest.h>
#include <xtiffio.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "geotiff_file.h"
#include "library_owners.h"

// A one-pixel 8-bit TIFF written to a temporary file: `write` runs with the
// file open for writing and a fresh key handle, which is written afterwards.
inline void writeWithKeys(const std::string& path, const std::function<void(TIFF*, GTIF*)>& write) {
  geoTiffWriteWith(path, true, write);
}

// The same, with a writer that makes its own key handle (the write driver).
inline void writeWithTiff(const std::string& path, const std::function<void(TIFF*)>& write) {
  geoTiffWriteWith(path, false, [&](TIFF* tif, GTIF*) { write(tif); });
}

// The values of a double array tag (empty when absent).
inline std::vector<double> doubleTag(TIFF* tif, uint32_t tag) {
  uint16_t count = 0;
  double* values = nullptr;
  if (!TIFFGetField(tif, tag, &count, &values) || values == nullptr) return {};
  return std::vector<double>(values, values + count);
}

// The GeoKey listing of an open file, as GTIFPrint prints it.
inline std::string keyListing(GTIF* gtif) {
  std::string text;
  GTIFPrint(
      gtif,
      [](char* piece, void* out) {
        static_cast<std::string*>(out)->append(piece);
        return 0;
      },
      &text);
  return text;
}

// Output of a command (stdout), and whether it exited with 0.
inline bool commandOutput(const std::string& command, std::string* output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  char buffer[512];
  output->clear();
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) output->append(buffer);
  return pclose(pipe) == 0;
}

// Debian's Python with GDAL, which tests use as an outside reader.
inline bool gdalAvailable() {
  std::string ignored;
  return commandOutput("/usr/bin/python3 -c 'from osgeo import gdal' 2>/dev/null", &ignored);
}

#endif
