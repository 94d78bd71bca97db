#include "spool/source_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <string>

#include "tests/support/temp_folder.h"

namespace {

class PosixFiles : public ::testing::Test {
 protected:
  testing_support::TempFolder folder_;
  const std::string dir_ = folder_.path().string();
  spool::PosixFileOpener files_;
};

TEST_F(PosixFiles, ReadsARegularFileByteForByte) {
  const std::string bytes = std::string("a\r\n\0\x1A\xFF", 6) + std::string(5000, 'z');
  folder_.write("a.prn", bytes);
  const auto file = files_.open(dir_ + "/a.prn");
  ASSERT_TRUE(file);
  std::string got;
  std::array<std::byte, 4096> piece{};
  for (std::ptrdiff_t n; (n = file->read(piece)) > 0;) {
    got.append(reinterpret_cast<const char*>(piece.data()), static_cast<std::size_t>(n));
  }
  EXPECT_EQ(got, bytes);
}

TEST_F(PosixFiles, OnlyRegularFilesOpen) {
  ASSERT_EQ(mkfifo((dir_ + "/fifo").c_str(), 0600), 0);  // no writer: a blocking open would hang
  EXPECT_FALSE(files_.open(dir_ + "/fifo"));
  EXPECT_FALSE(files_.open(dir_));
  EXPECT_FALSE(files_.open(dir_ + "/missing.prn"));
  EXPECT_FALSE(files_.open("/dev/null"));
}

}  // namespace
