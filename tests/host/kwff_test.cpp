// World files: names beside the image, reading with bad lines, writing back.
#include "kwff.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "kmsc.h"
#include "test_support.h"

namespace {

class Kwff : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "/kwff_" + std::to_string(getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    mkdir(dir_.c_str(), 0700);
  }
  void TearDown() override {
    for (const std::string& path : files_) unlink(path.c_str());
    rmdir(dir_.c_str());
  }
  std::string file(const std::string& name, const std::string& text) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path) << text;
    files_.push_back(path);
    return path;
  }
  std::string dir_;
  std::vector<std::string> files_;
};

std::string take(char* name) {
  std::string text = name ? name : "(null)";
  kmsc_HeapFree(name);
  return text;
}

TEST_F(Kwff, NamesAreFoundBesideTheImage) {
  std::string image = dir_ + "/scene.v1.tif";
  EXPECT_EQ(take(kwff_FileNameFind(image.c_str())), "(null)");
  file("scene.v1.WLD", "1\n");
  EXPECT_EQ(take(kwff_FileNameFind(image.c_str())), dir_ + "/scene.v1.WLD");
  file("scene.v1.tfw", "1\n");  // .tfw comes first
  EXPECT_EQ(take(kwff_FileNameFind(image.c_str())), dir_ + "/scene.v1.tfw");
  EXPECT_EQ(take(kwff_FileNameFind(nullptr)), "(null)");

  EXPECT_EQ(take(kwff_FileNameCreate("/a.b/image.tif")), "/a.b/image.tfw");
  EXPECT_EQ(take(kwff_FileNameCreate("/a.b/image")), "/a.b/image.tfw");
  EXPECT_EQ(take(kwff_FileNameCreate("")), "(null)");
}

TEST_F(Kwff, ReadGivesAMapInfoOrATransform) {
  // North-up: a map info whose corners carry the pixel directions.
  std::string plain = file("plain.tfw", " 10\n0\n\n0\n-10.0\n100\n500\ntrailing words\n");
  Kprj_MapInfo* info = nullptr;
  Kxfr_XForm* xform = nullptr;
  Kerr_Report* err = nullptr;
  ASSERT_EQ(kwff_Read(plain.c_str(), 10, 10, &info, &xform, &err), 1);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(xform, nullptr);
  EXPECT_DOUBLE_EQ(info->upperLeftCenter.x, 100);
  EXPECT_DOUBLE_EQ(info->upperLeftCenter.y, 500);
  EXPECT_DOUBLE_EQ(info->lowerRightCenter.x, 190);
  EXPECT_DOUBLE_EQ(info->lowerRightCenter.y, 410);
  EXPECT_DOUBLE_EQ(info->pixelSize.x, 10);
  EXPECT_DOUBLE_EQ(info->pixelSize.y, 10);
  kprj_MapInfoFree(&info, nullptr);

  // Rotated, or one pixel wide (no corners to show the directions): a
  // transform, which writes back to the same values.
  for (const char* text : {"2\n0.5\n-0.25\n-3\n7\n9\n", "4\n0\n0\n-4\n1.5\n2.5\n"}) {
    std::string name = file("in.tfw", text), copy = dir_ + "/copy.tfw";
    files_.push_back(copy);
    double k[6], back[6];
    ASSERT_EQ(kwff_Read(name.c_str(), 1, 5, &info, &xform, &err), 1);
    EXPECT_EQ(info, nullptr);
    ASSERT_TRUE(kxfr_XFormAffineExtractIfPresent(xform, k, nullptr));
    EXPECT_EQ(k[2], text[0] == '2' ? 7 : 1.5);
    EXPECT_EQ(k[1], text[0] == '2' ? -0.25 : 0);
    ASSERT_EQ(kwff_Write(copy.c_str(), nullptr, xform, &err), 1);
    kxfr_XFormFree(&xform, nullptr);
    ASSERT_EQ(kwff_Read(copy.c_str(), 1, 5, &info, &xform, &err), 1);
    ASSERT_TRUE(kxfr_XFormAffineExtractIfPresent(xform, back, nullptr));
    EXPECT_EQ(std::vector<double>(back, back + 6), std::vector<double>(k, k + 6));
    kxfr_XFormFree(&xform, nullptr);
  }
}

TEST_F(Kwff, GarbageIsAReport) {
  struct Case {
    std::string text;
    const char* message;
  } cases[] = {
      {"10\n0\n0\nminus ten\n100\n500\n", "Bad world file line 4"},
      {"10\n0\n0\n-10\n100\n", "Bad world file line 6"},
      {"10\n0\n0\n-10\n100\n5e999\n", "Bad world file line 6"},
      {"10\n0\n0\n-10\nnan\n500\n", "Bad world file line 5"},
      {"10 20\n0\n0\n-10\n100\n500\n", "Bad world file line 1"},
      {"0\n0\n0\n-10\n100\n500\n", "Singular world file transform"},
      {std::string(300, '1') + "\n", "Bad world file line 1"},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string name = file("bad" + std::to_string(n++) + ".tfw", c.text);
    Kprj_MapInfo* info = nullptr;
    Kxfr_XForm* xform = nullptr;
    Kerr_Report* err = nullptr;
    EXPECT_EQ(kwff_Read(name.c_str(), 10, 10, &info, &xform, &err), 0) << c.message;
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(xform, nullptr);
    EXPECT_EQ(reportMessages(err), std::vector<std::string>{c.message});
    kerr_DeleteErrorReportEx(&err);
  }
  Kprj_MapInfo* info = nullptr;
  Kxfr_XForm* xform = nullptr;
  Kerr_Report* err = nullptr;
  std::string missing = dir_ + "/missing.tfw";
  EXPECT_EQ(kwff_Read(missing.c_str(), 10, 10, &info, &xform, &err), 0);
  EXPECT_EQ(reportMessages(err), std::vector<std::string>{"Cannot open " + missing});
  kerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(kwff_Read(missing.c_str(), 0, 10, &info, &xform, &err), 0);
  EXPECT_EQ(reportMessages(err), std::vector<std::string>{"Args"});
  kerr_DeleteErrorReportEx(&err);
}

}  // namespace
