// The image metadata getters on files: security marking, date and time, null
// value and elevation, and keys of the wrong type or size.
#include <gtest/gtest.h>

#include <iterator>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "geotiff_file.h"
#include "host_owners.h"
#include "kgtf.h"
#include "test_support.h"

namespace {

using Metadata = Owned<Kmsc_ImageMetadata, kmsc_ImageMetadataFree>;
using Texts = std::vector<std::pair<int, std::string>>;

// Number keys as geoKeysSet items ("4096:5103 33010=-1.5"), then text keys.
GeoKeysSet keysOf(const std::string& numbers, const Texts& texts = {}) {
  return [=](GTIF* gtif) {
    geoKeysSet(gtif, numbers);
    for (const auto& [key, text] : texts)
      GTIFKeySet(gtif, static_cast<geokey_t>(key), TYPE_ASCII, 0, text.c_str());
  };
}

std::string when(const Kmsc_ImageMetadata& m) {
  return std::string(m.year) + "-" + m.month + "-" + m.day + " " + m.hour + ":" + m.minute + ":" +
         m.second;
}

// One record read from every file: made by the first read, then filled again
// (the strings replaced are freed; the asan preset sees a leak).
TEST(ImageMetadata, ClassificationByFirstLetter) {
  const std::pair<const char*, const char*> cases[] = {
      {"confidential", "CONFIDENTAL"},
      {"Confidential", "CONFIDENTAL"},
      {"r", "RESTRICTED"},
      {"RESTRICTED", "RESTRICTED"},
      {"secret", "SECRET"},
      {"S", "SECRET"},
      {"top secret", "TOP SECRET"},
      {"Top Secret", "TOP SECRET"},
      {"u", "UNCLASSIFIED"},
      {"Unclassified", "UNCLASSIFIED"},
      {"xyz", "CLASS: UNKNOWN"},
      {"", "CLASS: UNKNOWN"},
  };
  Metadata record;
  for (const auto& [text, name] : cases) {
    GeoTiffFile file(keysOf("", {{33000, text}, {33034, text}}));
    Kmsc_ImageMetadata* raw = record.release();
    Report err;
    kgtf_DODImageMetadataGet(file.in.tif.get(), &raw, out(err));
    record.reset(raw);
    ASSERT_NE(record, nullptr) << text << ": " << joinedMessages(err.get());
    EXPECT_STREQ(record->classification, name) << text;
    EXPECT_STREQ(record->description, text);
    EXPECT_STREQ(record->status, "ONLINE");
    EXPECT_EQ(record->archived, 0);
  }
}

// 1101 holds 23 characters and libgeotiff's terminator (24 bytes); 34001
// and 34002 override its date and its time.
TEST(ImageMetadata, DateAndTime) {
  const std::string stamp = "ABCD2023-07-14T09:41:27";
  const std::pair<Texts, const char*> cases[] = {
      {{{1101, stamp.substr(0, 22)}}, "-- ::"},
      {{{1101, stamp}}, "2023-07-14 09:41:27"},
      {{{1101, stamp}, {34001, "19991231"}}, "1999-12-31 09:41:27"},
      {{{1101, stamp}, {34002, "23.59.58"}}, "2023-07-14 23:59:58"},
      {{{34001, "1999123"}, {34002, "235958"}}, "1999-12-3 ::"},  // 8 bytes read, 7 not
  };
  for (const auto& [texts, expected] : cases) {
    GeoTiffFile file(keysOf("", texts));
    Metadata record;
    kgtf_DODImageMetadataGet(file.in.tif.get(), out(record), nullptr);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(when(*record), expected) << texts.front().second;
  }
}

// A file holds keys as SHORT, DOUBLE or ASCII only.
TEST(ImageMetadata, NullValue) {
  const struct {
    GeoKeysSet keys;
    int32_t result;
    float value;
  } cases[] = {
      {keysOf("33010:65535"), 1, 65535.0f},
      {keysOf("33010=-9999.5"), 1, -9999.5f},
      {keysOf("33010=1e39"), 1, std::numeric_limits<float>::infinity()},
      {keysOf("", {{33010, "-100"}}), 1, 7.0f},
      {keysOf("4096:5030"), 0, 7.0f},
  };
  for (const auto& c : cases) {
    GeoTiffFile file(c.keys);
    float value = 7.0f;
    EXPECT_EQ(kgtf_NullValueGet(file.in.tif.get(), &value, nullptr), c.result);
    EXPECT_EQ(value, c.value);
  }
}

TEST(ImageMetadata, ElevationInfo) {
  const char* egm96 = "World Wide 15-Minute Geoid Height (EGM96)";
  const struct {
    GeoKeysSet keys;
    const char *datum, *units;  // datum null: nothing handed back
  } cases[] = {
      {keysOf("4096:5103 4099:9002"), "NAVD 88 (CONTUS) (GEOID99)", "international_feet"},
      {keysOf("4096:5030 4099:9999"), "WGS 84", "meters"},
      {keysOf("4096:32767 4099:9001", {{4097, "egm96 geoid heights"}}), egm96, "meters"},
      {keysOf("4096:32767", {{4097, "EGM96"}}), nullptr, nullptr},
      {keysOf("4096:32767"), nullptr, nullptr},
      {keysOf("4096:5555 4099:9002"), nullptr, nullptr},
      {keysOf("4099:9002"), nullptr, nullptr},
  };
  for (const auto& c : cases) {
    GeoTiffFile file(c.keys);
    // The host's pointer: replaced by a new record, or left as it was.
    Elevation before(
        kprj_ElevationInfoCreateByName("Undefined", "Undefined", "meters", "height", nullptr));
    _kprj_ElevationInfo* info = before.get();
    Report err;
    kgtf_GetElevationInfo(file.in.tif.get(), &info, out(err));
    EXPECT_EQ(err, nullptr) << joinedMessages(err.get());
    if (c.datum == nullptr) {
      EXPECT_EQ(info, before.get());
      continue;
    }
    ASSERT_NE(info, before.get());
    Elevation got(info);
    EXPECT_STREQ(got->spheroidName.narrow, "WGS 84");
    EXPECT_STREQ(got->datumName.narrow, c.datum);
    EXPECT_STREQ(got->unitsName.narrow, c.units);
  }
}

// The key-directory road reads the vertical keys without the citation rule.
TEST(ImageMetadata, KeyDirectoryHasNoCitationRule) {
  GeoTiffFile file(keysOf("2048:4326 4096:32767", {{4097, "EGM96 Geoid"}}));
  const GeoTiffOpen::Directory d = file.in.directory();
  Projection projection;
  HeapText units;
  Elevation elevation;
  kgtf_ConvertCSFromGeoKeysToEPRJ(d.shorts.data(), d.shorts.data() + 4, 0, nullptr, 1,
                                  d.ascii.c_str(), out(projection), out(units), out(elevation),
                                  nullptr);
  ASSERT_NE(elevation, nullptr);
  EXPECT_STREQ(elevation->datumName.narrow, "Undefined");
}

// A file whose key directory (entries of key, location, count, offset) is
// written as raw tags, so that any type or size goes in, read by every getter.
struct HostileRead {
  HostileRead(std::vector<uint16_t> entries, std::vector<double> doubles = {},
              const char* ascii = nullptr, uint16_t keyCount = 0)
      : file(nullptr, [&](TIFF* tif) {
          entries.insert(entries.begin(),
                         {1, 1, 0, keyCount ? keyCount : uint16_t(entries.size() / 4)});
          TIFFSetField(tif, TIFFTAG_GEOKEYDIRECTORY, int(entries.size()), entries.data());
          if (!doubles.empty())
            TIFFSetField(tif, TIFFTAG_GEODOUBLEPARAMS, int(doubles.size()), doubles.data());
          if (ascii != nullptr) TIFFSetField(tif, TIFFTAG_GEOASCIIPARAMS, ascii);
        }) {
    TIFF* tif = file.in.tif.get();
    kgtf_DODImageMetadataGet(tif, out(record), out(metadataErr));
    nullValue = kgtf_NullValueGet(tif, &value, out(nullErr));
    kgtf_GetElevationInfo(tif, out(elevation), out(elevationErr));
  }
  GeoTiffFile file;
  Metadata record;
  float value = 7.0f;
  int32_t nullValue = -1;
  Elevation elevation;
  Report metadataErr, nullErr, elevationErr;
};

// Keys of the wrong type or size are ignored (a null value of the wrong
// shape is still present); libgeotiff cuts a text that runs past the
// parameters ("c|" of "abc|"); a directory it refuses is reported.
TEST(ImageMetadata, HostileKeys) {
  constexpr uint16_t kDir = 34735, kDoubles = 34736, kAscii = 34737;
  ReportCapture quiet;
  const HostileRead ignored[] = {
      {{33000, 0, 1, 'u', 33010, kDoubles, 2, 0, 34001, kDir, 4, 0}, {1, 2}},
      {{1101, kDoubles, 3, 0, 4096, kDoubles, 1, 0, 33010, kDir, 2, 4}, {5103, 2, 3}},
      {{4096, kAscii, 5, 5, 34001, kAscii, 4, 0, 34002, kAscii, 1, 4}, {}, "199||5103|"},
      {{4096, kDir, 2, 4, 33000, kAscii, 40, 2}, {}, "abc|"},
  };
  const int32_t nullValues[] = {1, 1, 0, 0};
  for (size_t i = 0; i < std::size(ignored); ++i) {
    const HostileRead& read = ignored[i];
    ASSERT_NE(read.record, nullptr) << i << ": " << joinedMessages(read.metadataErr.get());
    EXPECT_STREQ(read.record->classification, i == 3 ? "CONFIDENTAL" : nullptr) << i;
    EXPECT_EQ(when(*read.record), "-- ::") << i;
    EXPECT_EQ(read.nullValue, nullValues[i]) << i;
    EXPECT_EQ(read.value, 7.0f) << i;
    EXPECT_EQ(read.elevation, nullptr) << i;
    EXPECT_EQ(read.elevationErr, nullptr) << i;
  }

  const HostileRead refused[] = {
      {{4096, kDoubles, 1, 9}, {1}},         // past the doubles
      {{1101, 33550, 24, 0}},                // in another tag
      {{33000, kAscii, 2, 0}, {}, "u|", 9},  // more keys than entries
  };
  for (const HostileRead& read : refused) {
    EXPECT_EQ(joinedMessages(read.metadataErr.get()), "GTIFNew failed");
    EXPECT_EQ(joinedMessages(read.nullErr.get()), "GTIFNew failed");
    EXPECT_EQ(joinedMessages(read.elevationErr.get()), "GTIFNew failed");
    EXPECT_EQ(read.record, nullptr);
    EXPECT_EQ(read.nullValue, 0);
  }
}

TEST(ImageMetadata, NullArguments) {
  Report err;
  Metadata record;
  kgtf_DODImageMetadataGet(nullptr, out(record), out(err));
  EXPECT_EQ(take(err), "Invalid TIFF handle");
  EXPECT_EQ(kgtf_NullValueGet(nullptr, nullptr, out(err)), 0);
  EXPECT_EQ(take(err), "Invalid TIFF handle");
  Elevation info;
  kgtf_GetElevationInfo(nullptr, out(info), out(err));
  EXPECT_EQ(info, nullptr);
  EXPECT_EQ(err, nullptr);

  GeoTiffFile file(keysOf("33010:3"));
  kgtf_DODImageMetadataGet(file.in.tif.get(), nullptr, out(err));
  EXPECT_EQ(take(err), "Args");
  EXPECT_EQ(kgtf_NullValueGet(file.in.tif.get(), nullptr, nullptr), 1);
}

}  // namespace
