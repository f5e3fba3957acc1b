// Hand-made classic little-endian TIFF files, for directories that libtiff's
// writer refuses to produce (zero sizes, disagreeing lists, absurd counts).
#ifndef KTIF_RAW_TIFF_H
#define KTIF_RAW_TIFF_H

#include <cstdint>
#include <string>
#include <vector>

struct RawTiffEntry {
  uint16_t tag;
  uint16_t type;  // 3 SHORT, 4 LONG, 5 RATIONAL
  std::vector<uint32_t> values;
};

// One directory, tags sorted by the caller, followed by `pixelBytes` bytes of
// data that StripOffsets/TileOffsets entries may point at (offset 8 is the
// first data byte). Returns the file's bytes.
std::vector<unsigned char> rawTiffBuild(const std::vector<RawTiffEntry>& entries,
                                        size_t pixelBytes);
void rawTiffWrite(const std::string& path, const std::vector<unsigned char>& bytes);

#endif
