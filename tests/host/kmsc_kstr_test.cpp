// Heap, pixel types, strings, path expansion, string lists and texts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "kmsc.h"
#include "kstr.h"
#include "ktxt.h"
#include "test_support.h"

namespace {

TEST(Kmsc, HeapZeroFillsAndReallocKeepsAndZeroes) {
  auto* block = static_cast<unsigned char*>(kmsc_HeapMalloc(64));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], 0);
  std::memset(block, 0xAB, 64);
  block = static_cast<unsigned char*>(kmsc_HeapRealloc(block, 4096));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block[63], 0xAB);
  for (int i = 64; i < 4096; ++i) ASSERT_EQ(block[i], 0) << i;
  EXPECT_EQ(kmsc_HeapSize(block), 4096u);
  kmsc_HeapFree(block);
  kmsc_HeapFree(nullptr);
  EXPECT_EQ(kmsc_HeapMalloc(SIZE_MAX - 8), nullptr);
  Kerr_Report* err = nullptr;
  EXPECT_EQ(kmsc_New(SIZE_MAX, &err), nullptr);
  EXPECT_STREQ(kerr_ReportLabel(err), "kmsc_New");
  kerr_DeleteErrorReportEx(&err);
}

TEST(Kmsc, BitsPerPixelAndConversion) {
  const int32_t* bits = kmsc_AddressOf_kgda_NumBitsPerPixel();
  const int32_t expected[] = {1, 2, 4, 8, 8, 16, 16, 32, 32, 32, 64};
  for (int t = 0; t < KMSC_PIXEL_TYPE_COUNT; ++t) EXPECT_EQ(bits[t], expected[t]) << t;

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
  Kerr_Report* err = nullptr;
  char* text = kstr_Sprintf(nullptr, "{ %d", &err, 1);
  for (int i = 2; i <= 3; ++i) text = kstr_Sprintf(text, "%s %d", &err, text, i);
  text = kstr_Sprintf(text, "%s }", &err, text);
  EXPECT_STREQ(text, "{ 1 2 3 }");
  EXPECT_EQ(err, nullptr);
  kmsc_HeapFree(text);

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
    Kerr_Report* err = nullptr;
    char* out = kstr_PathExpand(c.in, 0, &err);
    if (c.out == nullptr) {
      EXPECT_EQ(out, nullptr) << c.in;
      EXPECT_NE(err, nullptr) << c.in;
    } else {
      EXPECT_STREQ(out, c.out);
      EXPECT_EQ(err, nullptr);
    }
    kmsc_HeapFree(out);
    kerr_DeleteErrorReportEx(&err);
  }
}

TEST(Kstr, StringListsCopyDeeply) {
  KstrStringList* list = nullptr;
  Kerr_Report* err = nullptr;
  ASSERT_EQ(kstr_StringListAppend(&list, "a\n", &err), 0);
  ASSERT_EQ(kstr_StringListAppend(&list, "b", &err), 0);
  KstrStringList* copy = kstr_StringListCopy(list, 0, &err);
  kstr_StringListDelete(&list, &err);
  EXPECT_EQ(list, nullptr);
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(copy->count, 2);
  EXPECT_STREQ(copy->strings[0], "a\n");
  EXPECT_STREQ(copy->strings[1], "b");
  kstr_StringListDelete(&copy, nullptr);
  EXPECT_EQ(kstr_StringListAppend(nullptr, "x", &err), -1);
  EXPECT_STREQ(kerr_ReportMessage(err), "Args");
  kerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(kstr_StringListCopy(nullptr, 0, &err), nullptr);
  EXPECT_EQ(err, nullptr);
}

TEST(Ktxt, NarrowWideRoundTrip) {
  const char* narrow = "Bogot\xC3\xA1 \xE2\x82\xAC";  // "Bogotá €"
  wchar_t* wide = ktxt_Text_Ascii2Unicode(narrow);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(std::wstring(wide), std::wstring(L"Bogot\u00e1 \u20ac"));
  char* back = ktxt_Text_Unicode2Ascii(wide);
  EXPECT_STREQ(back, narrow);
  kmsc_HeapFree(wide);
  kmsc_HeapFree(back);

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
    wchar_t* decoded = ktxt_Text_Ascii2Unicode(text);
    EXPECT_EQ(std::wstring(decoded), expected) << testing::PrintToString(std::string(text));
    kmsc_HeapFree(decoded);
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
