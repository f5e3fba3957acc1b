// World files: names beside the image, reading with bad lines, writing back.
#include "kwff.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "host_owners.h"
#include "test_support.h"

namespace {

using MapInfo = Owned<Kprj_MapInfo, kprj_MapInfoFree>;

class Kwff : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "/kwff_" + std::to_string(getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string file(const std::string& name, const std::string& text) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path) << text;
    return path;
  }
  // The messages of a read that must fail and leave both outputs empty.
  std::vector<std::string> failure(const std::string& path, int32_t width = 10) {
    MapInfo info;
    XForm xform;
    Report err;
    EXPECT_EQ(kwff_Read(path.c_str(), width, 10, out(info), out(xform), out(err)), 0);
    EXPECT_TRUE(info == nullptr && xform == nullptr);
    return reportMessages(err.get());
  }
  std::string dir_;
};

std::string take(char* name) {
  return name ? HeapText(name).get() : "(null)";
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
  MapInfo info;
  XForm xform;
  ASSERT_EQ(kwff_Read(plain.c_str(), 10, 10, out(info), out(xform), nullptr), 1);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(xform, nullptr);
  EXPECT_EQ((std::vector<double>{info->upperLeftCenter.x, info->upperLeftCenter.y,
                                 info->lowerRightCenter.x, info->lowerRightCenter.y,
                                 info->pixelSize.x, info->pixelSize.y}),
            (std::vector<double>{100, 500, 190, 410, 10, 10}));

  // Rotated, or one pixel wide (no corners to show the directions): a
  // transform, which writes back to the same values.
  using Case = std::pair<const char*, std::vector<double>>;
  const std::string copy = dir_ + "/copy.tfw";
  for (const auto& [text, expected] : {Case{"2\n0.5\n-0.25\n-3\n7\n9\n", {2, -0.25, 7, 0.5, -3, 9}},
                                       Case{"4\n0\n0\n-4\n1.5\n2.5\n", {4, 0, 1.5, 0, -4, 2.5}}}) {
    for (const std::string& path : {file("in.tfw", text), copy}) {
      double k[6];
      ASSERT_EQ(kwff_Read(path.c_str(), 1, 5, out(info), out(xform), nullptr), 1);
      EXPECT_EQ(info, nullptr);
      ASSERT_TRUE(kxfr_XFormAffineExtractIfPresent(xform.get(), k, nullptr));
      EXPECT_EQ(std::vector<double>(k, k + 6), expected) << path;
      ASSERT_EQ(kwff_Write(copy.c_str(), nullptr, xform.get(), nullptr), 1);
    }
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
  for (const Case& c : cases)
    EXPECT_EQ(failure(file("bad.tfw", c.text)), std::vector<std::string>{c.message});
  std::string missing = dir_ + "/missing.tfw";
  EXPECT_EQ(failure(missing), std::vector<std::string>{"Cannot open " + missing});
  EXPECT_EQ(failure(missing, 0), std::vector<std::string>{"Args"});
}

}  // namespace
