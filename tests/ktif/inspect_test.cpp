// Directory inspection: hand-made directories in both byte orders and
// BigTIFF, read through the tag queries and the header listing, hostile
// directories, the raw entry layer's writes, and GeoKey queries.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dir_entry.h"
#include "geotiff_file.h"
#include "kgtf.h"
#include "kmsc.h"
#include "ktif.h"
#include "raw_tiff.h"
#include "test_support.h"

namespace {

// An entry's values as integers; RATIONALs take two per value, DOUBLEs go
// through `doubles`.
struct Entry {
  uint16_t tag, type;
  std::vector<int64_t> values;
  std::vector<double> doubles = {};
};

void put(std::vector<uint8_t>& out, uint64_t value, int bytes, bool little) {
  for (int i = 0; i < bytes; ++i)
    out.push_back(uint8_t(value >> (8 * (little ? i : bytes - 1 - i))));
}

std::vector<uint8_t> entryData(const Entry& e, bool little) {
  std::vector<uint8_t> data;
  int size = int(dirTypeSize(e.type));
  if (e.type == TIFF_RATIONAL || e.type == TIFF_SRATIONAL) size = 4;
  for (int64_t v : e.values) put(data, uint64_t(v), size, little);
  for (double d : e.doubles) {
    uint64_t bits = 0;
    std::memcpy(&bits, &d, 8);
    put(data, bits, 8, little);
  }
  return data;
}

// A classic TIFF of one directory at offset 8, data after it.
std::vector<uint8_t> classicTiff(const std::vector<Entry>& entries, bool little) {
  std::vector<uint8_t> out = {uint8_t(little ? 'I' : 'M'), uint8_t(little ? 'I' : 'M')};
  put(out, 42, 2, little);
  put(out, 8, 4, little);
  put(out, entries.size(), 2, little);
  uint64_t dataAt = 8 + 2 + 12 * entries.size() + 4;
  std::vector<uint8_t> area;
  for (const Entry& e : entries) {
    std::vector<uint8_t> data = entryData(e, little);
    uint64_t size = dirTypeSize(e.type);
    uint64_t count = size ? data.size() / size : e.values.size();
    put(out, e.tag, 2, little);
    put(out, e.type, 2, little);
    put(out, count, 4, little);
    if (data.size() <= 4) {
      data.resize(4, 0);
      out.insert(out.end(), data.begin(), data.end());
    } else {
      put(out, dataAt + area.size(), 4, little);
      area.insert(area.end(), data.begin(), data.end());
    }
  }
  put(out, 0, 4, little);
  out.insert(out.end(), area.begin(), area.end());
  return out;
}

std::string tagText(const std::string& path, int32_t tag, uint32_t* type = nullptr) {
  uint64_t count = 0;
  uint32_t t = 0;
  Report err;
  char* text = ktif_GetTagValue(path.c_str(), 0, tag, &count, &t, out(err));
  std::string result = text ? text : "<null: " + (err ? reportMessages(err.get())[0] : "") + ">";
  kmsc_HeapFree(text);
  if (type) *type = t;
  return result;
}

std::vector<uint32_t> tagList(const std::string& path, Report& err, uint64_t offset = 0) {
  uint32_t* tags = nullptr;
  uint64_t count = 0;
  ktif_AvailableTags(path.c_str(), offset, &tags, &count, out(err));
  std::vector<uint32_t> list(tags, tags + (tags ? count : 0));
  kmsc_HeapFree(tags);
  return list;
}

// What ktif_HeaderPrint writes.
std::string headerListing(const std::string& path, Report& err) {
  std::string text;
  kfio_SetPrintfSink([](const char* piece, void* to) { *static_cast<std::string*>(to) += piece; },
                     &text);
  ktif_HeaderPrint(path.c_str(), out(err));
  kfio_SetPrintfSink(nullptr, nullptr);
  return text;
}

std::vector<int64_t> upTo(int n) {
  std::vector<int64_t> v;
  for (int i = 0; i < n; ++i) v.push_back(i);
  return v;
}

const std::vector<Entry> kEntries = {
    {256, TIFF_SHORT, {512}},
    {257, TIFF_LONG, {70000}},
    {258, TIFF_SHORT, {8, 8, 8}},
    {259, TIFF_SHORT, {50000}},
    {270, TIFF_ASCII, {'a', 'b', 'c', 0}},
    {273, TIFF_LONG, upTo(150)},
    {274, TIFF_SHORT, {1}},
    {282, TIFF_RATIONAL, {300, 1}},
    {284, TIFF_SHORT, {2}},
    {330, TIFF_IFD, {0}},
    {34735, TIFF_SHORT, {1, 1, 0, 0}},
    {50001, TIFF_SBYTE, {0xFF, 0x01}},
    {50002, TIFF_SRATIONAL, {-1, 2}},
    {50003, TIFF_DOUBLE, {}, {1.5, -2}},
};

TEST(TagQuery, BothByteOrdersGiveTheSameTexts) {
  std::string hundred = "{ ";
  for (int i = 0; i < 100; ++i) hundred += std::to_string(i) + " ";
  const std::pair<int32_t, std::string> expected[] = {
      {256, "512"},
      {257, "70000"},
      {258, "{ 8 8 8 }"},
      {259, "50000"},  // no name: the number
      {270, "abc"},
      {273, hundred + "...}"},
      {274, "Top Left"},
      {282, "300.000000"},
      {284, "Separate Data Planes"},
      {330, ""},  // IFD values have no text
      {50001, "{ -1 1 }"},
      {50002, "-0.500000"},
      {50003, "{ 1.500000 -2.000000 }"},
  };
  for (bool little : {true, false}) {
    SCOPED_TRACE(little ? "II" : "MM");
    TempFile file("tags");
    rawTiffWrite(file.path(), classicTiff(kEntries, little));
    Report err;
    std::vector<uint32_t> tags = tagList(file.path(), err);
    EXPECT_EQ(err, nullptr);
    std::vector<uint32_t> stored;
    for (const Entry& e : kEntries)
      if (e.tag != 34735) stored.push_back(e.tag);
    EXPECT_EQ(tags, stored);  // stored order, the key directory left out
    for (const auto& [tag, text] : expected) EXPECT_EQ(tagText(file.path(), tag), text) << tag;
    EXPECT_EQ(tagText(file.path(), 305), "<null: Error finding tag>");

    std::string listing = headerListing(file.path(), err);
    EXPECT_EQ(err, nullptr);
    for (const char* line :
         {little ? "Byte Order is Intel\n" : "Byte Order is Motorola\n",
          "          ImageWidth = 512 \n", "       BitsPerSample = { 8 8 8 }\n",
          "    ImageDescription = \"abc\"\n", "         XResolution = 300 \n",
          "Unknown (Tag  50001) = { -1 1 }\n", "     GeoKeyDirectory = { 1 1 0 0 }\n"})
      EXPECT_NE(listing.find(line), std::string::npos) << line << listing;
    EXPECT_NE(listing.find("StripOffsets = { 0 1 2"), std::string::npos);
    EXPECT_NE(listing.find(" 148 149 }"), std::string::npos);  // every value
  }
}

TEST(TagQuery, BigTiffLong8Entries) {
  TempFile file("big");
  {
    Tiff tif(TIFFOpen(file.path().c_str(), "w8"));
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif.get(), TIFFTAG_IMAGEWIDTH, 2);
    TIFFSetField(tif.get(), TIFFTAG_IMAGELENGTH, 3);
    TIFFSetField(tif.get(), TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif.get(), TIFFTAG_ROWSPERSTRIP, 1);
    TIFFSetField(tif.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    unsigned char row[2] = {1, 2};
    for (uint32_t y = 0; y < 3; ++y) TIFFWriteScanline(tif.get(), row, y, 0);
  }
  Tiff tif(TIFFOpen(file.path().c_str(), "r"));
  uint64_t* offsets = nullptr;
  ASSERT_TRUE(TIFFGetField(tif.get(), TIFFTAG_STRIPOFFSETS, &offsets));
  std::string want = "{ ";
  for (int i = 0; i < 3; ++i) want += std::to_string(offsets[i]) + " ";
  uint32_t type = 0;
  EXPECT_EQ(tagText(file.path(), 273, &type), want + "}");
  EXPECT_EQ(type, uint32_t(TIFF_LONG8));
  EXPECT_EQ(tagText(file.path(), 257), "3");
  Report err;
  std::string listing = headerListing(file.path(), err);
  EXPECT_NE(listing.find("         ImageLength = 3 \n"), std::string::npos) << listing;
}

// Offsets and counts are the file's word: each is checked before it is used.
TEST(TagQuery, HostileDirectoriesAreReported) {
  const std::vector<uint8_t> good = classicTiff(kEntries, true);
  auto patched = [&](size_t at, std::vector<uint8_t> bytes) {
    std::vector<uint8_t> out = good;
    std::copy(bytes.begin(), bytes.end(), out.begin() + long(at));
    return out;
  };
  const size_t stripEntry = 10 + 12 * 5;  // tag 273: its data offset at +8
  const struct {
    const char* what;
    std::vector<uint8_t> file;
    const char* listMessage;   // null: the list reads
    const char* valueMessage;  // of tag 273
  } cases[] = {
      {"first directory past the end", patched(4, {0xFF, 0xFF, 0, 0}), "past the end", nullptr},
      {"65535 entries", patched(8, {0xFF, 0xFF}), "runs past the end", nullptr},
      {"truncated directory", std::vector<uint8_t>(good.begin(), good.begin() + 60),
       "runs past the end", nullptr},
      {"data past the end", patched(stripEntry + 8, {0xF0, 0xFF, 0, 0}), nullptr, "runs past"},
      {"count overflowing", patched(stripEntry + 4, {0xFF, 0xFF, 0xFF, 0xFF}), nullptr,
       "runs past"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempFile file("hostile");
    rawTiffWrite(file.path(), c.file);
    Report err;
    std::vector<uint32_t> tags = tagList(file.path(), err);
    std::string chain = err ? joinedMessages(err.get()) : "";
    if (c.listMessage) {
      EXPECT_TRUE(tags.empty());
      EXPECT_NE(chain.find(c.listMessage), std::string::npos) << chain;
      std::string listing = headerListing(file.path(), err);
      EXPECT_NE(err, nullptr) << listing;
      continue;
    }
    EXPECT_EQ(err, nullptr) << chain;
    uint64_t count = 7;
    char* text = ktif_GetTagValue(file.path().c_str(), 0, 273, &count, nullptr, out(err));
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(count, 7u);  // untouched on failure
    EXPECT_NE(joinedMessages(err.get()).find(c.valueMessage), std::string::npos);
    headerListing(file.path(), err);  // the entry is skipped with a notice
    EXPECT_EQ(err, nullptr);
  }
}

// The raw layer's numbers, and a write into a big-endian file that swaps
// on the way out and leaves the caller's values as they were.
TEST(DirEntry, NumbersAndBigEndianWrites) {
  const uint8_t bytes[] = {1, 2, 0, 0};
  EXPECT_EQ(ktif_Shortval(bytes, 1), 513);
  EXPECT_EQ(ktif_Shortval(bytes, 0), 258);
  EXPECT_EQ(ktif_Longval(bytes, 1), 513u);
  EXPECT_EQ(ktif_Longval(bytes, 0), 0x01020000u);

  TempFile file("write");
  rawTiffWrite(file.path(), classicTiff({{282, TIFF_RATIONAL, {1, 1, 2, 2}}}, false));
  Report err;
  Kfio_File* f = kfio_Open(file.path().c_str(), "r+b", out(err));
  ASSERT_NE(f, nullptr);
  int32_t order = -1;
  TIFFDirEntry* entry = ktif_TIFFDirEntrySeek(f, &order, 282, out(err));
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(order, 0);
  uint32_t values[4] = {300, 1, 72, 2};
  EXPECT_EQ(ktif_TIFFDirEntryDataWrite(f, order, entry, values, out(err)), 1);
  EXPECT_EQ(values[0], 300u);  // the caller's data is unchanged
  void* data = nullptr;
  EXPECT_EQ(ktif_TIFFDirEntryDataRead(f, order, entry, &data, out(err)), 1);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::memcmp(data, values, sizeof values), 0);
  kmsc_HeapFree(data);
  EXPECT_EQ(ktif_TIFFDirEntryDataReadRawData(f, entry, &data, out(err)), 1);
  EXPECT_EQ(ktif_Longval(data, 0), 300u);  // stored big-endian
  kmsc_HeapFree(data);
  EXPECT_EQ(ktif_TIFFDirEntrySeek(f, &order, 305, out(err)), nullptr);
  EXPECT_EQ(err, nullptr);  // an absent tag is no failure
  kmsc_HeapFree(entry);
  kfio_Close(&f, nullptr);
}

TEST(KeyQuery, ValuesAsText) {
  GeoTiffFile file([](GTIF* g) {
    geoKeysSet(g, "1024:1 3072:32631");
    GTIFKeySet(g, GeogCitationGeoKey, TYPE_ASCII, 0, "WGS 84");
    double axes[3] = {1, 2, 3};
    GTIFKeySet(g, GeogSemiMajorAxisGeoKey, TYPE_DOUBLE, 3, axes);
  });
  int32_t* keys = nullptr;
  int32_t count = 0;
  Report err;
  kgtf_AvailableKeys(file.gtif(), &keys, &count, out(err));
  ASSERT_EQ(count, 4);
  EXPECT_EQ(std::vector<int32_t>(keys, keys + count),
            (std::vector<int32_t>{1024, 2049, 2057, 3072}));
  kmsc_HeapFree(keys);
  const std::pair<int32_t, std::string> expected[] = {
      {1024, "ModelTypeProjected"},
      {2049, "WGS 84"},
      {2057, "1.000000, 2.000000, 3.000000"},
  };
  for (const auto& [key, text] : expected) {
    char* got = kgtf_GetKeyValue(file.gtif(), key, out(err));
    EXPECT_EQ(std::string(got ? got : "<null>"), text);
    kmsc_HeapFree(got);
  }
  EXPECT_EQ(kgtf_GetKeyValue(file.gtif(), 2050, out(err)), nullptr);  // not there
  EXPECT_EQ(err, nullptr);

  GeoTiffFile none(nullptr);
  kgtf_AvailableKeys(none.gtif(), &keys, &count, out(err));
  EXPECT_EQ(keys, nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(err, nullptr);
}

}  // namespace
