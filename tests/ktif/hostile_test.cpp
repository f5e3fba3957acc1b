// Hostile files: each gives a report or zeros, never a crash or a leak (the
// asan preset runs these).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "ktif_internal.h"
#include "library_owners.h"
#include "raw_tiff.h"
#include "tiff_builder.h"

namespace {

enum : uint16_t { kShort = 3, kLong = 4 };

// A valid 8-bit strip image of width x height with every tag overridable.
std::vector<RawTiffEntry> stripImage(uint32_t width, uint32_t height) {
  return {{256, kLong, {width}}, {257, kLong, {height}}, {258, kShort, {8}},
          {259, kShort, {1}},    {262, kShort, {1}},     {273, kLong, {8}},
          {277, kShort, {1}},    {278, kLong, {height}}, {279, kLong, {width * height}}};
}

void entrySet(std::vector<RawTiffEntry>& entries, RawTiffEntry entry) {
  for (RawTiffEntry& e : entries)
    if (e.tag == entry.tag) return void(e = entry);
  auto at = entries.begin();
  while (at != entries.end() && at->tag < entry.tag) ++at;
  entries.insert(at, entry);
}

// Opens the file and, when that works, reads every raster-buffer block of
// every layer, as a host would. Returns whether the open succeeded.
bool openAndReadEverything(const std::string& path) {
  Report err;
  KtifHandle handle(ktif_Open(path.c_str(), "r", out(err)));
  if (handle == nullptr) {
    EXPECT_NE(err, nullptr) << "a failed open says why";
    return false;
  }
  std::vector<unsigned char> buffer(static_cast<size_t>(handle->rbBlockWidth) *
                                    handle->rbBlockHeight * handle->bytesPerSample);
  int64_t rows = (int64_t{handle->height} + handle->rbBlockHeight - 1) / handle->rbBlockHeight;
  int64_t columns = (int64_t{handle->width} + handle->rbBlockWidth - 1) / handle->rbBlockWidth;
  for (int32_t layer = 0; layer < handle->samplesPerPixel && layer < 8; ++layer)
    for (int64_t r = 0; r < rows && r < 64; ++r)
      for (int64_t c = 0; c < columns && c < 64; ++c)
        ktif_RBRasterRead(handle.get(), layer, static_cast<int32_t>(r), static_cast<int32_t>(c),
                          buffer.data(), out(err));
  return true;
}

TEST(KtifHostile, HandMadeDirectories) {
  struct Case {
    const char* what;
    RawTiffEntry change;
    bool opens;
  } cases[] = {
      {"zero width", {256, kLong, {0}}, false},
      {"absurd width", {256, kLong, {0x7FFFFFFF}}, true},
      {"width past int32", {256, kLong, {0x80000000u}}, false},
      {"zero height", {257, kLong, {0}}, false},
      {"disagreeing bits", {258, kShort, {8, 16, 8}}, false},
      {"2-bit samples", {258, kShort, {2}}, false},
      {"strip offset past the end", {273, kLong, {1u << 30}}, true},
      {"absurd rows per strip", {278, kLong, {0xFFFFFFFFu}}, true},
      {"zero rows per strip", {278, kLong, {0}}, true},
      {"colour map on 16 bits", {320, kShort, std::vector<uint32_t>(3 * 65536, 7)}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<RawTiffEntry> entries = stripImage(32, 16);
    entrySet(entries, c.change);
    if (c.change.tag == 258 && c.change.values.size() == 3) entrySet(entries, {277, kShort, {3}});
    if (c.change.tag == 320) entrySet(entries, {258, kShort, {16}});
    TempFile file("hostile");
    rawTiffWrite(file.path(), rawTiffBuild(entries, 32 * 16));
    bool opened = openAndReadEverything(file.path());
    if (!c.opens) {
      EXPECT_FALSE(opened);
    }
  }
}

TEST(KtifHostile, TilesOfAbsurdSize) {
  for (uint32_t tile : {0u, 16u * 65536u}) {
    std::vector<RawTiffEntry> entries = stripImage(64, 64);
    entries.erase(entries.begin() + 5);  // StripOffsets
    entrySet(entries, {322, kLong, {tile}});
    entrySet(entries, {323, kLong, {tile}});
    entrySet(entries, {324, kLong, {8}});
    entrySet(entries, {325, kLong, {64}});
    TempFile file("tiles");
    rawTiffWrite(file.path(), rawTiffBuild(entries, 64));
    openAndReadEverything(file.path());
  }
}

TEST(KtifHostile, TruncatedCompressedFiles) {
  TempFile whole("whole");
  tiffBuilderWrite(whole.path(), {tiffImage(70, 50, 8, 3, 16, 16, 5)});
  std::ifstream in(whole.path(), std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 100u);
  // libtiff writes the directory last: cutting the data corrupts tiles, while
  // cutting the directory breaks the open.
  for (size_t keep : {bytes.size() / 3, bytes.size() - 40, bytes.size() - 1}) {
    TempFile cut("cut");
    std::ofstream(cut.path(), std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(keep));
    openAndReadEverything(cut.path());
  }
  // Corrupt compressed data inside an intact file.
  for (size_t i = 16; i < bytes.size() / 2; i += 7) bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
  TempFile garbled("garbled");
  std::ofstream(garbled.path(), std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  EXPECT_TRUE(openAndReadEverything(garbled.path()));
}

}  // namespace
