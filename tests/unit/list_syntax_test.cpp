#include "spool/list_syntax.h"

#include <gtest/gtest.h>

namespace {

using spool::LineKind;

struct LineCase {
  const char* line;
  LineKind kind;
  const char* text;
};

TEST(ListSyntax, ClassifiesEachLineByItsFirstBytes) {
  const LineCase cases[] = {
      {"", LineKind::Skipped, ""},
      {"\n", LineKind::Skipped, ""},
      {"#", LineKind::Comment, "#"},
      {"# end", LineKind::Comment, "# end"},
      {" #a.prn", LineKind::FileName, " #a.prn"},
      {"end", LineKind::EndMark, "end"},
      {"endnote.prn", LineKind::EndMark, "endnote.prn"},
      {"end\n", LineKind::EndMark, "end"},
      {"End", LineKind::FileName, "End"},
      {"END", LineKind::FileName, "END"},
      {"en", LineKind::FileName, "en"},
      {" end", LineKind::FileName, " end"},
      {"a.prn\n", LineKind::FileName, "a.prn"},
      {"a.prn\r", LineKind::FileName, "a.prn\r"},
      {"a.prn \t", LineKind::FileName, "a.prn \t"},
      {"a.prn\n\n", LineKind::FileName, "a.prn\n"},
      {"\n\n", LineKind::FileName, "\n"},
      {"sub/a.prn", LineKind::FileName, "sub/a.prn"},
  };
  for (const LineCase& c : cases) {
    const spool::ListLine got = spool::classifyLine(c.line);
    EXPECT_EQ(got.kind, c.kind) << '"' << c.line << '"';
    EXPECT_EQ(got.text, c.text) << '"' << c.line << '"';
  }
}

TEST(ListSyntax, PathIsTheFolderWithOneSeparatorThenTheLine) {
  const struct {
    const char* folder;
    const char* line;
    const char* path;
  } cases[] = {
      {"/out", "a.prn", "/out/a.prn"},
      {"/out/", "a.prn", "/out/a.prn"},
      {"", "a.prn", "/a.prn"},
      {"/", "a.prn", "/a.prn"},
      {"/out//", "a.prn", "/out//a.prn"},
      {"/out", "sub/a.prn", "/out/sub/a.prn"},
      {"/out", "/etc/passwd", "/out//etc/passwd"},
      {"/ファイル", "a.prn", "/ファイル/a.prn"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(spool::formPath(spool::folderWithSeparator(c.folder), c.line), c.path)
        << c.folder << " + " << c.line;
  }
}

TEST(ListSyntax, LongTextsAreNeverCut) {
  const std::string folder(10000, 'd');
  const std::string line(1 << 20, 'n');
  const std::string path = spool::formPath(spool::folderWithSeparator(folder), line);
  EXPECT_EQ(path.size(), folder.size() + 1 + line.size());
  EXPECT_EQ(path.substr(0, folder.size()), folder);
  EXPECT_EQ(path.substr(folder.size() + 1), line);
}

}  // namespace
