#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "host_owners.h"
#include "kfio.h"

namespace {

using File = Owned<Kfio_File, kfio_Close>;

// Closes the file, which flushes it; the result of the close.
int closed(File& file) {
  Kfio_File* raw = file.release();
  return kfio_Close(&raw, nullptr);
}

constexpr int64_t kFourGiB = int64_t{1} << 32;

class KfioTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(dir_); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string path(const char* name) const { return (dir_ / name).string(); }

  std::filesystem::path dir_ =
      std::filesystem::temp_directory_path() / ("kfio_test_" + std::to_string(::getpid()));
  Report err_;
};

// A sparse file past 4 GiB with markers written by the system, read with kfio.
TEST_F(KfioTest, SeekReadAndStatBeyondFourGiB) {
  std::string name = path("big.bin");
  const int64_t size = kFourGiB + (int64_t{1} << 30);
  std::ofstream writer(name, std::ios::binary);
  writer.seekp(kFourGiB + 100) << "beyond4G";
  writer.seekp(size - 8) << "lastbyte";
  writer.close();

  File file(kfio_Open(name.c_str(), "rb", out(err_)));
  ASSERT_NE(file, nullptr) << take(err_);
  char buffer[9] = {};
  ASSERT_EQ(kfio_fseeko(file.get(), kFourGiB + 100, KFIO_SEEK_SET), 0);
  EXPECT_EQ(kfio_ReadSeq(file.get(), buffer, 8, out(err_)), 8);
  EXPECT_STREQ(buffer, "beyond4G");
  ASSERT_EQ(kfio_fseeko(file.get(), -8, KFIO_SEEK_END), 0);
  EXPECT_EQ(kfio_ReadSeq(file.get(), buffer, 8, out(err_)), 8);
  EXPECT_STREQ(buffer, "lastbyte");
  ASSERT_EQ(kfio_fseeko(file.get(), kFourGiB + 100 - size, KFIO_SEEK_CUR), 0);  // back past 4 GiB
  EXPECT_EQ(kfio_ftello(file.get()), kFourGiB + 100);

  Owned<Kfio_StatCache, kfio_StatCacheFree> cache(kfio_StatCacheCreate(name.c_str(), out(err_)));
  ASSERT_NE(cache, nullptr) << take(err_);
  int64_t bytes = 0;
  EXPECT_EQ(kfio_StatCacheGet(cache.get(), KFIO_STAT_SIZE, &bytes, out(err_)), 1);
  EXPECT_EQ(bytes, size);
}

// The 32-bit offset is unsigned: a write near 4 GiB must not land before 0.
TEST_F(KfioTest, WriteDirectAtHighOffsetsAndMixedAccess) {
  std::string name = path("direct.bin");
  File file(kfio_Open(name.c_str(), "w+b", out(err_)));
  ASSERT_NE(file, nullptr) << take(err_);
  const char pattern[] = "0123456789abcdefghijklmnopqrstuv";
  char buffer[33] = {};
  EXPECT_EQ(kfio_WriteDirect(file.get(), 0xFFFFFFF0u, pattern, 32, out(err_)), 32);
  EXPECT_EQ(kfio_ftello(file.get()), kFourGiB + 16);
  EXPECT_EQ(kfio_WriteDirect(file.get(), 0, "HEAD", 4, out(err_)), 4);
  EXPECT_EQ(kfio_ReadSeq(file.get(), buffer, 4, out(err_)), 4);  // continues after the write
  EXPECT_EQ(std::string(buffer, 4), std::string(4, '\0'));
  ASSERT_EQ(kfio_fseeko(file.get(), 0xFFFFFFF0, KFIO_SEEK_SET), 0);
  EXPECT_EQ(kfio_ReadSeq(file.get(), buffer, 32, out(err_)), 32);
  EXPECT_STREQ(buffer, pattern);
  EXPECT_EQ(kfio_Fprintf(file.get(), "n=%d", 42), 4);  // a write straight after a read
  ASSERT_EQ(kfio_fseeko(file.get(), -4, KFIO_SEEK_CUR), 0);
  EXPECT_EQ(kfio_ReadSeq(file.get(), buffer, 4, out(err_)), 4);
  EXPECT_EQ(std::string(buffer, 4), "n=42");
  EXPECT_EQ(closed(file), 0);
}

TEST_F(KfioTest, ShortReads) {
  std::string name = path("ten.bin");
  std::ofstream(name, std::ios::binary) << "0123456789";
  File file(kfio_Open(name.c_str(), "rb", nullptr));
  ASSERT_NE(file, nullptr);
  char buffer[16] = {};
  ASSERT_EQ(kfio_fseeko(file.get(), 6, KFIO_SEEK_SET), 0);
  EXPECT_EQ(kfio_ReadSeq(file.get(), buffer, 10, out(err_)), 4);
  EXPECT_STREQ(buffer, "6789");
  EXPECT_EQ(take(err_), "Short read: 4 of 10 bytes");
  EXPECT_EQ(kfio_ReadSeq(file.get(), buffer, 3, out(err_)), 0);
  EXPECT_EQ(take(err_), "Short read: 0 of 3 bytes");
  ASSERT_EQ(kfio_fseeko(file.get(), 0, KFIO_SEEK_SET), 0);  // the end-of-file state is gone
  EXPECT_EQ(kfio_ReadSeq(file.get(), buffer, 10, nullptr), 10);
}

TEST_F(KfioTest, HostileArguments) {
  std::string name = path("small.bin"), missing = path("missing.bin"), dir = dir_.string();
  std::ofstream(name) << "abc";
  const char* opens[][3] = {{name.c_str(), "rq", "Invalid mode 'rq'"},
                            {missing.c_str(), "rb", "No such file or directory"},
                            {dir.c_str(), "rb", "Is a directory"}};
  for (auto& c : opens) {
    EXPECT_EQ(kfio_Open(c[0], c[1], out(err_)), nullptr);
    std::string message = take(err_);
    EXPECT_NE(message.find(c[2]), std::string::npos) << message;
  }
  File file(kfio_Open(name.c_str(), "rb", nullptr));
  ASSERT_NE(file, nullptr);
  char buffer[4];
  EXPECT_EQ(kfio_ReadSeq(file.get(), buffer, -1, nullptr), -1);
  EXPECT_EQ(kfio_WriteDirect(file.get(), 0, buffer, INT64_MIN, nullptr), -1);
  EXPECT_NE(kfio_fseeko(file.get(), 0, 3), 0);
  EXPECT_NE(kfio_fseeko(file.get(), -1, KFIO_SEEK_SET), 0);
  EXPECT_EQ(kfio_ftello(file.get()), 0);  // failed seeks do not move
  EXPECT_EQ(closed(file), 0);

  EXPECT_EQ(kfio_StatCacheCreate(missing.c_str(), out(err_)), nullptr);
  EXPECT_EQ(take(err_), "Couldn't stat " + missing);
  Kfio_File* standardError = kfio_StandardError();  // closing it only flushes
  EXPECT_EQ(kfio_Close(&standardError, nullptr), 0);
  EXPECT_EQ(kfio_Fprintf(kfio_StandardError(), "%s", ""), 0);
}

void collectText(const char* text, void* user) {
  *static_cast<std::string*>(user) += text;
}

TEST(Kfio, PrintfAndSprintf) {
  std::string captured;
  kfio_SetPrintfSink(collectText, &captured);
  EXPECT_EQ(kfio_Printf("%s=%d;", "x", 42), 5);
  EXPECT_EQ(kfio_Printf("%s", std::string(5000, 'y').c_str()), 5000);
  kfio_SetPrintfSink(nullptr, nullptr);
  EXPECT_EQ(captured, "x=42;" + std::string(5000, 'y'));

  char buffer[5] = {'#', '#', '#', '#', '#'};
  EXPECT_EQ(kfio_Sprintf(buffer, sizeof buffer, "%s", "abcdefgh"), 8);
  EXPECT_STREQ(buffer, "abcd");
  EXPECT_EQ(kfio_Sprintf(nullptr, 0, "%d", 12345), 5);  // measuring only
  EXPECT_EQ(kfio_Sprintf(nullptr, 4, "%d", 1), -1);
}

}  // namespace
