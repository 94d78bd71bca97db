#include "spool/list_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace {

using Entries = std::vector<std::string>;
using namespace std::string_literals;

TEST(ListFile, EntriesFromBytes) {
  const struct {
    const char* what;
    std::string bytes;
    Entries entries;
  } cases[] = {
      {"LF line ends", "a.prn\nb.prn\n", {"a.prn", "b.prn"}},
      {"CR LF reads as LF", "a.prn\r\nb.prn\r\n", {"a.prn", "b.prn"}},
      {"a CR inside a line vanishes", "ab\rc\n", {"abc"}},
      {"CR-only line ends make one line", "a\rb\rc\r", {"abc"}},
      {"0x1A ends the file",
       "a\nb\x1A"
       "c\nd\n",
       {"a", "b"}},
      {"0x1A at the start",
       "\x1A"
       "a\n",
       {}},
      {"NUL cuts its line only", "ab\0cd\nef\n"s, {"ab", "ef"}},
      {"last line without LF", "a\nb", {"a", "b"}},
      {"no empty entry after a final LF", "a\n", {"a"}},
      {"empty lines are entries", "\n\na\n", {"", "", "a"}},
      {"empty file", "", {}},
      {"CRs only", "\r\r", {}},
      {"a last line of NUL alone", "a\n\0"s, {"a", ""}},
      {"comments and end lines kept", "# c\nend\n a \n", {"# c", "end", " a "}},
      {"blanks kept", " a.prn \t\n", {" a.prn \t"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(spool::listEntriesFromBytes(c.bytes), c.entries) << c.what;
  }
}

TEST(ListFile, ALongLineIsOneEntry) {
  const std::string line(2000, 'x');
  EXPECT_EQ(spool::listEntriesFromBytes(line + "\n" + line), (Entries{line, line}));
  const std::string huge(1 << 20, 'y');
  EXPECT_EQ(spool::listEntriesFromBytes(huge + "\n"), Entries{huge});
}

class ListFileOnDisk : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const std::string& bytes) {
    return folder_.write(name, bytes);
  }
  testing_support::TempFolder folder_;
  const std::string dir_ = folder_.path().string();
};

TEST_F(ListFileOnDisk, ReadsAFileLargerThanOneChunkByTheSameRules) {
  std::string bytes;
  Entries expected;
  for (int i = 0; i < 20000; ++i) {
    const std::string name = "file" + std::to_string(i) + ".prn";
    bytes += name + "\r\n";
    expected.push_back(name);
  }
  EXPECT_EQ(spool::readListFile(write("big.lst", bytes)), expected);
  EXPECT_EQ(spool::readListFile(write("eof.lst", "a\nb\x1A" + std::string(100000, 'z'))),
            (Entries{"a", "b"}));
}

TEST_F(ListFileOnDisk, WhatCannotBeOpenedAsAFileIsNoList) {
  EXPECT_FALSE(spool::readListFile(dir_ + "/missing.lst"));
  EXPECT_FALSE(spool::readListFile(dir_));
  const std::string fifo = dir_ + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(spool::readListFile(fifo));  // and does not wait for a writer
  EXPECT_EQ(spool::readListFile(write("empty.lst", "")), Entries{});
}

}  // namespace
