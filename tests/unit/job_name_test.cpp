#include "spool/job_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool isValidUtf8(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    const std::size_t len = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
    if (len == 0 || i + len > s.size()) {
      return false;
    }
    for (std::size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) {
        return false;
      }
    }
    i += len;
  }
  return true;
}

TEST(JobName, AShortValidPathIsTheNameAsItStands) {
  EXPECT_EQ(spool::jobNameForPath("/out/a.prn"), "/out/a.prn");
  EXPECT_EQ(spool::jobNameForPath("/出力/請求書.prn"), "/出力/請求書.prn");
  const std::string exact = "/" + std::string(254, 'x');
  EXPECT_EQ(spool::jobNameForPath(exact), exact);
}

TEST(JobName, BytesThatAreNotUtf8AreReplaced) {
  const struct {
    std::string path;
    std::string name;
  } cases[] = {
      {"/out/\xFF.prn", "/out/\xEF\xBF\xBD.prn"},
      {"/out/\x82\xA0.prn", "/out/\xEF\xBF\xBD\xEF\xBF\xBD.prn"},  // Shift-JIS bytes
      {"/\xC0\xAF", "/\xEF\xBF\xBD\xEF\xBF\xBD"},                  // an overlong "/"
      {"/\xED\xA0\x80", "/\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // a surrogate
      {"/\xE3\x81", "/\xEF\xBF\xBD\xEF\xBF\xBD"},                  // cut short at the end
  };
  for (const auto& c : cases) {
    EXPECT_EQ(spool::jobNameForPath(c.path), c.name);
  }
}

TEST(JobName, ALongNameKeepsItsEndBehindAnEllipsis) {
  const std::string folder = "/" + std::string(300, 'f') + "/";
  EXPECT_EQ(spool::jobNameForPath(folder + "invoice.prn"),
            "..." + (folder + "invoice.prn").substr(folder.size() + 11 - 252));
  // Three-byte characters: the tail starts on a character boundary.
  std::string wide = "/";
  for (int i = 0; i < 100; ++i) {
    wide += "請";
  }
  const std::string name = spool::jobNameForPath(wide + ".prn");
  EXPECT_LE(name.size(), spool::kMaxJobNameBytes);
  EXPECT_TRUE(name.starts_with("...請"));
  EXPECT_TRUE(name.ends_with("請.prn"));
  EXPECT_TRUE(isValidUtf8(name));
  EXPECT_GT(name.size(), spool::kMaxJobNameBytes - 3);
}

}  // namespace
