#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>
#include <unistd.h>

#include "host_owners.h"
#include "kpmg.h"

namespace {

// An enumeration preference as text ("(null)" for a null default); the heap
// copy a set value comes back as is freed, the default's own pointer is not.
std::string enumText(const char* group, const char* key, const char* fallback,
                     const char* accepted = nullptr, Kerr_Report** err = nullptr) {
  char* value = kpmg_GetEnumPreference(group, key, fallback, accepted, err);
  const std::string text = value ? value : "(null)";
  if (value != fallback) kmsc_HeapFree(value);
  return text;
}

void collectLog(int level, const char* text, void* user) {
  static_cast<std::vector<std::string>*>(user)->push_back(std::to_string(level) + " " + text);
}

// Each test starts and ends with no file, no set values; the log is captured.
class KpmgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv(KPMG_PREFERENCES_VARIABLE);
    kpmg_ClearPreferences();
    ASSERT_EQ(kpmg_Reload(nullptr), 0);
    kerr_SetLogSink(collectLog, &log_, &previousSink_, &previousUser_);
  }
  void TearDown() override {
    kerr_SetLogSink(previousSink_, previousUser_, nullptr, nullptr);
    unsetenv(KPMG_PREFERENCES_VARIABLE);
    kpmg_ClearPreferences();
    kpmg_Reload(nullptr);
    std::filesystem::remove(path_);
  }
  const std::string& write(const std::string& text) {
    std::ofstream(path_, std::ios::binary) << text;
    return path_;
  }

  std::string path_ =
      std::filesystem::temp_directory_path() / ("kpmg_test_" + std::to_string(::getpid()) + ".ini");
  std::vector<std::string> log_;
  Kerr_LogSink previousSink_ = nullptr;
  void* previousUser_ = nullptr;
  Report err_;
};

TEST_F(KpmgTest, DefaultFileSetterPrecedence) {
  auto width = [] { return kpmg_GetNumberPreference("tiff", "rb_block_width", 1280, nullptr); };
  setenv(KPMG_PREFERENCES_VARIABLE, write("[tiff]\nrb_block_width = 2048\n").c_str(), 1);
  EXPECT_EQ(width(), 1280);  // the variable is read again only on reload
  ASSERT_EQ(kpmg_Reload(nullptr), 0);
  EXPECT_EQ(kpmg_GetNumberPreference("TIFF", "RB_Block_Width", 1280, nullptr), 2048);
  EXPECT_STREQ(kpmg_GetPreferenceSource("tiff", "rb_block_width"), "file");

  ASSERT_EQ(kpmg_SetPreference("Tiff", "rb_block_width", "4096", nullptr), 0);
  EXPECT_EQ(width(), 4096);
  ASSERT_EQ(kpmg_SetPreference("tiff", "rb_block_width", nullptr, nullptr), 0);
  EXPECT_EQ(width(), 2048);
  ASSERT_EQ(kpmg_SetPreference("tiff", "rb_block_width", "1", nullptr), 0);
  kpmg_ClearPreferences();
  EXPECT_EQ(width(), 2048);

  unsetenv(KPMG_PREFERENCES_VARIABLE);
  ASSERT_EQ(kpmg_Reload(nullptr), 0);
  EXPECT_EQ(width(), 1280);
  EXPECT_TRUE(log_.empty());
}

TEST_F(KpmgTest, FileFormat) {
  write(
      "\xEF\xBB\xBF# comment\r\norphan = 1\r\n; comment\n[ Tiff ]\n  tfw_access   =   Write  \n"
      "padded = \"  two  blanks  \"\nequation = a=b # kept\nno equals sign\nopen = \"unclosed\n"
      " = nameless\n[unclosed\n[a.b]\nbad_utf8 = \xC3\x28\nempty =\ndup = first\n[other]\n"
      "dup = elsewhere\n[TIFF]\ndup = last");
  ASSERT_EQ(kpmg_LoadFile(path_.c_str(), out(err_)), 0);
  // clang-format off
  const char* cases[][3] = {
      {"tiff", "tfw_access", "Write"}, {"tiff", "padded", "  two  blanks  "},
      {"tiff", "equation", "a=b # kept"}, {"tiff", "empty", ""}, {"tiff", "dup", "last"},
      {"other", "dup", "elsewhere"}, {"tiff", "orphan", nullptr}, {"tiff", "open", nullptr},
      {"tiff", "bad_utf8", nullptr}};
  // clang-format on
  for (auto& c : cases)
    EXPECT_EQ(enumText(c[0], c[1], "fallback"), c[2] ? c[2] : "fallback") << c[0] << "." << c[1];
  std::vector<std::string> expected;
  for (const char* line :
       {"2 ignored: orphan = 1", "8 ignored: no equals sign", "9 ignored: open = \"unclosed",
        "10 ignored: = nameless", "11 ignored: [unclosed", "12 ignored: [a.b]",
        "13 ignored: bad_utf8 = \xC3\x28"})
    expected.push_back("-1 Preferences file " + path_ + " line " + line);
  EXPECT_EQ(log_, expected);
}

TEST_F(KpmgTest, UnreadableFiles) {
  std::string missing = path_ + ".missing";
  setenv(KPMG_PREFERENCES_VARIABLE, missing.c_str(), 1);
  EXPECT_EQ(kpmg_Reload(out(err_)), 0);
  EXPECT_EQ(kpmg_PreferencesFileName(), nullptr);
  EXPECT_EQ(log_, std::vector<std::string>{"-1 Preferences file " + missing +
                                           " ignored: No such file or directory"});
  // An explicit load fails to its caller and keeps the values it had.
  ASSERT_EQ(kpmg_LoadFile(write("[g]\nk = v\n").c_str(), nullptr), 0);
  EXPECT_EQ(kpmg_LoadFile(missing.c_str(), out(err_)), -1);
  EXPECT_EQ(take(err_), "Cannot read preferences file " + missing + ": No such file or directory");
  EXPECT_STREQ(kpmg_GetPreferenceSource("G", "K"), "file");
}

TEST_F(KpmgTest, GettersGiveTheDefaultForUnsetOrMalformedValues) {
  const double bad = NAN;
  // Text, its number (NaN: malformed), its flag (-1: malformed).
  const std::tuple<const char*, double, int> cases[] = {
      {"1", 1, 1},        {"0", 0, 0},        {" 1e3 ", 1000, -1}, {" On ", bad, 1},
      {"oFF", bad, 0},    {"12abc", bad, -1}, {"", bad, -1},       {"nan", bad, -1},
      {"1e999", bad, -1}, {"yes!", bad, -1}};
  for (const auto& [text, number, flag] : cases) {
    SCOPED_TRACE(std::string("'") + text + "'");
    ASSERT_EQ(kpmg_SetPreference("g", "v", text, nullptr), 0);
    EXPECT_EQ(kpmg_GetNumberPreference("G", "v", 7.5, out(err_)),
              std::isnan(number) ? 7.5 : number);
    EXPECT_EQ(take(err_),
              std::isnan(number) ? "Malformed number '" + std::string(text) + "' for G.v" : "");
    for (int fallback : {0, 1}) {
      EXPECT_EQ(kpmg_GetBooleanPreference("g", "V", fallback, out(err_)),
                flag < 0 ? fallback : flag);
      EXPECT_EQ(take(err_),
                flag < 0 ? "Malformed boolean '" + std::string(text) + "' for g.V" : "");
    }
  }

  // An unset enum is the default's own pointer; a set one, a heap string the
  // caller frees, even when it equals the default.
  const char* fallback = "Read";
  EXPECT_EQ(kpmg_GetEnumPreference("tiff", "tfw_access", fallback, nullptr, out(err_)), fallback);
  ASSERT_EQ(kpmg_SetPreference("tiff", "tfw_access", "Read", nullptr), 0);
  HeapText value(kpmg_GetEnumPreference("tiff", "tfw_access", fallback, nullptr, out(err_)));
  EXPECT_EQ(kmsc_HeapSize(value.get()), 5u);  // not the default's pointer

  // Against accepted values: any case and blanks, spelt back as listed;
  // anything else is the default and a warning that says what is allowed.
  const std::pair<std::string, const char*> enums[] = {{" wRITE ", "Write"},
                                                       {"read/write", "Read/Write"},
                                                       {"Wirte", nullptr},
                                                       {"", nullptr},
                                                       {"Read|Write", nullptr}};
  for (const auto& [text, accepted] : enums) {
    ASSERT_EQ(kpmg_SetPreference("tiff", "tfw_access", text.c_str(), nullptr), 0);
    EXPECT_EQ(enumText("Tiff", "tfw_access", fallback, "Read|Write|Read/Write", out(err_)),
              accepted ? accepted : fallback)
        << text;
    EXPECT_EQ(kerr_ReportSeverity(err_.get()), accepted ? -1 : KERR_WARNING) << text;
    EXPECT_EQ(take(err_), accepted
                              ? ""
                              : "Unknown value '" + text +
                                    "' for Tiff.tfw_access (allowed: Read, Write, Read/Write)");
  }
}

TEST_F(KpmgTest, AssignmentParsing) {
  // Text, then group, key and value; no group: malformed.
  // clang-format off
  const char* cases[][4] = {
      {" tiff . tfw_access = Write ", "tiff", "tfw_access", "Write"},
      {"a.b.c=1", "a", "b.c", "1"}, {"tiff.k=a=b", "tiff", "k", "a=b"},
      {"tiff.q=\"  padded \"", "tiff", "q", "  padded "}, {"tiff.e=", "tiff", "e", ""},
      {"tiff.x"}, {"x=1.5"}, {".k=1"}, {"g. =1"}, {"g.k=\"open"}};
  // clang-format on
  for (auto& c : cases) {
    EXPECT_EQ(kpmg_SetPreferenceAssignment(c[0], out(err_)), c[1] ? 0 : -1) << c[0];
    EXPECT_EQ(take(err_), c[1] ? "" : "Malformed preference '" + std::string(c[0]) + "'");
    if (c[1]) {
      EXPECT_EQ(enumText(c[1], c[2], nullptr), c[3]) << c[0];
    }
  }
  for (auto [group, key] : {std::pair<const char*, const char*>{"", "k"}, {"g", ""}, {"a.b", "k"}})
    EXPECT_EQ(kpmg_SetPreference(group, key, "v", nullptr), -1) << group << "." << key;
}

}  // namespace
