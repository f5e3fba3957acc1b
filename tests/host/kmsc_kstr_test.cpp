// Heap, pixel types, strings, path expansion, string lists and texts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "host_owners.h"
#include "ktxt.h"
#include "test_support.h"

namespace {

using WideText = Owned<wchar_t, kmsc_HeapFree>;

TEST(Kmsc, HeapZeroFillsAndReallocKeepsAndZeroes) {
  Owned<unsigned char, kmsc_HeapFree> block(static_cast<unsigned char*>(kmsc_HeapMalloc(64)));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(block.get()[i], 0);
  std::memset(block.get(), 0xAB, 64);
  block.reset(static_cast<unsigned char*>(kmsc_HeapRealloc(block.release(), 4096)));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block.get()[63], 0xAB);
  for (int i = 64; i < 4096; ++i) ASSERT_EQ(block.get()[i], 0) << i;
  EXPECT_EQ(kmsc_HeapSize(block.get()), 4096u);
  kmsc_HeapFree(nullptr);
  EXPECT_EQ(kmsc_HeapMalloc(SIZE_MAX - 8), nullptr);
  Report err;
  EXPECT_EQ(kmsc_New(SIZE_MAX, out(err)), nullptr);
  EXPECT_STREQ(kerr_ReportLabel(err.get()), "kmsc_New");
}

TEST(Kmsc, PixelConversionRoundsAndClamps) {
  Kpxm_ConvertFunc convert = kmsc_AddressOf_kpxm_Convert();
  const double in[] = {-3.6, 0.4, 300.0, NAN, 70000.5};
  uint8_t u8[5];
  ASSERT_EQ(convert(KMSC_PIXEL_F64, in, KMSC_PIXEL_U8, u8, 5), 1);
  EXPECT_EQ(std::vector<int>(u8, u8 + 5), (std::vector<int>{0, 0, 255, 0, 255}));
  int16_t s16[5];
  ASSERT_EQ(convert(KMSC_PIXEL_F64, in, KMSC_PIXEL_S16, s16, 5), 1);
  EXPECT_EQ(std::vector<int>(s16, s16 + 5), (std::vector<int>{-4, 0, 300, 0, 32767}));
  const uint16_t words[] = {1, 65535};
  double out[2];
  ASSERT_EQ(convert(KMSC_PIXEL_U16, words, KMSC_PIXEL_F64, out, 2), 1);
  EXPECT_EQ(out[1], 65535.0);
  EXPECT_EQ(convert(11, words, KMSC_PIXEL_F64, out, 2), 0);
  EXPECT_EQ(convert(KMSC_PIXEL_U16, nullptr, KMSC_PIXEL_F64, out, 2), 0);
}

TEST(Kstr, SprintfGrowsAStringAndComparesIgnoreCase) {
  Report err;
  char* raw = kstr_Sprintf(nullptr, "{ %d", out(err), 1);
  for (int i = 2; i <= 3; ++i) raw = kstr_Sprintf(raw, "%s %d", out(err), raw, i);
  HeapText text(kstr_Sprintf(raw, "%s }", out(err), raw));
  EXPECT_STREQ(text.get(), "{ 1 2 3 }");
  EXPECT_EQ(err, nullptr);

  EXPECT_TRUE(kstr_Eqic("WGS 84", "wgs 84"));
  EXPECT_FALSE(kstr_Eqic("WGS 84", "WGS 8"));
  EXPECT_TRUE(kstr_Eqnic("RSO Borneo", "rso", 3));
  EXPECT_FALSE(kstr_Eqnic("RS", "rso", 3));
  EXPECT_FALSE(kstr_Eqic(nullptr, "a"));
  EXPECT_EQ(kstr_Duplicate(nullptr), nullptr);
}

TEST(Kstr, PathExpand) {
  setenv("KTIF_TEST_DIR", "/data/images", 1);
  setenv("HOME", "/home/tester", 1);
  unsetenv("KTIF_TEST_UNSET");
  struct Case {
    const char* in;
    const char* out;  // null: an error is expected
  } cases[] = {
      {"~/a.tif", "/home/tester/a.tif"},
      {"$KTIF_TEST_DIR/a.tif", "/data/images/a.tif"},
      {"${KTIF_TEST_DIR}x.tif", "/data/imagesx.tif"},
      {"cost$ 5", "cost$ 5"},
      {"a~b", "a~b"},
      {"$KTIF_TEST_UNSET/a", nullptr},
      {"${KTIF_TEST_DIR", nullptr},
  };
  for (const Case& c : cases) {
    Report err;
    HeapText expanded(kstr_PathExpand(c.in, 0, out(err)));
    EXPECT_STREQ(expanded.get(), c.out) << c.in;
    EXPECT_EQ(err == nullptr, c.out != nullptr) << c.in;
  }
}

TEST(Kstr, StringListsCopyDeeply) {
  KstrStringList* list = nullptr;
  const int appended =
      kstr_StringListAppend(&list, "a\n", nullptr) + kstr_StringListAppend(&list, "b", nullptr);
  StringList owner(list);
  ASSERT_EQ(appended, 0);
  StringList copy(kstr_StringListCopy(list, 0, nullptr));
  owner.reset();  // the copy must not share anything
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(copy->count, 2);
  EXPECT_STREQ(copy->strings[0], "a\n");
  EXPECT_STREQ(copy->strings[1], "b");
  Report err;
  EXPECT_EQ(kstr_StringListAppend(nullptr, "x", out(err)), -1);
  EXPECT_STREQ(kerr_ReportMessage(err.get()), "Args");
  EXPECT_EQ(kstr_StringListCopy(nullptr, 0, out(err)), nullptr);
  EXPECT_EQ(err, nullptr);
}

TEST(Ktxt, NarrowWideRoundTrip) {
  const char* narrow = "Bogot\xC3\xA1 \xE2\x82\xAC";  // "Bogotá €"
  WideText wide(ktxt_Text_Ascii2Unicode(narrow));
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(std::wstring(wide.get()), std::wstring(L"Bogot\u00e1 \u20ac"));
  EXPECT_STREQ(HeapText(ktxt_Text_Unicode2Ascii(wide.get())).get(), narrow);

  // Malformed UTF-8: one U+FFFD per truncated sequence, and one per byte of
  // what can begin no character.
  const std::pair<const char*, std::wstring> malformed[] = {
      {"a\xC3", L"a\ufffd"},
      {"a\xE2\x82z", L"a\ufffdz"},
      {"\xF0\x9F\x98", L"\ufffd"},
      {"\xF8\x80\x80", L"\ufffd\ufffd\ufffd"},  // lead bytes past F4
      {"\xFF\xBF\xBFz", L"\ufffd\ufffd\ufffdz"},
      {"\xC0\xAF", L"\ufffd\ufffd"},  // overlong
      {"\xE0\x80\xAF", L"\ufffd\ufffd\ufffd"},
      {"\xF0\x80\x80\xAF", L"\ufffd\ufffd\ufffd\ufffd"},
      {"\xED\xA0\x80", L"\ufffd\ufffd\ufffd"},            // surrogate
      {"\xF4\x90\x80\x80", L"\ufffd\ufffd\ufffd\ufffd"},  // past U+10FFFF
      {"\x80\xF4\x8F\xBF\xBF", L"\ufffd\U0010FFFF"},
  };
  for (const auto& [text, expected] : malformed) {
    WideText decoded(ktxt_Text_Ascii2Unicode(text));
    EXPECT_EQ(std::wstring(decoded.get()), expected) << testing::PrintToString(std::string(text));
  }
  EXPECT_EQ(ktxt_Text_strcmp(nullptr, nullptr), 0);
  EXPECT_LT(ktxt_Text_strcmp(nullptr, ""), 0);

  KtxtTextA text("units");
  KtxtTextA copy = text;
  text.assign("meters");
  EXPECT_STREQ(copy.c_str(), "units");
  kmsc_HeapFree(text.buffer());
  text.buffer() = nullptr;
  EXPECT_TRUE(text.isEmpty());
  KtxtTextU wideText(L"dd");
  EXPECT_EQ(wideText.size(), 2u);
}

}  // namespace
