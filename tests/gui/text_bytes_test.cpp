// Text <-> bytes: exact for any bytes, and the escapes survive the controls that hold them.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <string>

#include "platform/toolkit/text_bytes.h"

namespace {

using namespace std::string_literals;

TEST(TextBytes, ValidUtf8IsReadAsItsCharactersAndOtherBytesAsEscapes) {
  const struct {
    std::string bytes;
    std::u16string text;
  } rows[] = {
      {"", u""},
      {"a.prn", u"a.prn"},
      {"\xe5\x8d\xb0\xe5\x88\xb7", u"印刷"},
      {"\xf0\x9f\x96\xa8", u"\U0001F5A8"},
      {"\x83\x5c", u"\xDC83\\"},  // Shift-JIS: its second byte is a backslash
      {"\xff", u"\xDCFF"},
      {"\xe3\x81", u"\xDCE3\xDC81"},                      // a sequence cut short
      {"\xc0\xaf", u"\xDCC0\xDCAF"},                      // an overlong form
      {"\xed\xa0\x80", u"\xDCED\xDCA0\xDC80"},            // an encoded surrogate
      {"\xf4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},  // beyond U+10FFFF
      {"a\0b"s, u"a\0b"s},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.bytes));
    const QString text = toolkit::fromBytes(row.bytes);
    EXPECT_EQ(text.toStdU16String(), row.text);
    EXPECT_EQ(toolkit::toBytes(text), row.bytes);
  }
}

TEST(TextBytes, EveryOneAndTwoByteStringSurvivesTheRoundTrip) {
  std::string bytes(2, '\0');
  for (int first = 0; first < 256; ++first) {
    bytes.resize(1);
    bytes[0] = static_cast<char>(first);
    ASSERT_EQ(toolkit::toBytes(toolkit::fromBytes(bytes)), bytes);
    bytes.resize(2);
    for (int second = 0; second < 256; ++second) {
      bytes[1] = static_cast<char>(second);
      ASSERT_EQ(toolkit::toBytes(toolkit::fromBytes(bytes)), bytes) << first << " " << second;
    }
  }
}

TEST(TextBytes, EscapedBytesSurviveTheEditsAndMemos) {
  const std::string name = "\x83\x76\x83\x8a\x83\x93\x83\x5e.prn \xff\xfe";
  QLineEdit edit;
  edit.setText(toolkit::fromBytes(name));
  EXPECT_EQ(toolkit::toBytes(edit.text()), name);
  QPlainTextEdit memo;
  memo.setPlainText(toolkit::fromBytes(name + "\n" + name));
  ASSERT_EQ(memo.document()->blockCount(), 2);
  EXPECT_EQ(toolkit::toBytes(memo.document()->firstBlock().text()), name);
  EXPECT_EQ(toolkit::toBytes(memo.document()->lastBlock().text()), name);
}

// A pane line keeps every character at which a text document would start a new line inside
// it, escaped like bytes that are not UTF-8, and gives the bytes back exactly.
TEST(TextBytes, PaneLineKeepsLineBreakingCharactersInsideOneLine) {
  const struct {
    std::string bytes;
    std::u16string line;
  } rows[] = {
      {"a\nb",
       u"a\xDC0A"
       "b"},
      {"a\rb",
       u"a\xDC0D"
       "b"},
      {"\r\n", u"\xDC0D\xDC0A"},
      {"a\xe2\x80\xa8z", u"a\xDCE2\xDC80\xDCA8z"},    // U+2028
      {"\xe2\x80\xa9", u"\xDCE2\xDC80\xDCA9"},        // U+2029
      {"\xef\xb7\x90", u"\xDCEF\xDCB7\xDC90"},        // U+FDD0
      {"\xef\xb7\x91", u"\xDCEF\xDCB7\xDC91"},        // U+FDD1
      {"\xef\xb7\x92 \x83\x5c", u"\xFDD2 \xDC83\\"},  // others as fromBytes has them
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.bytes));
    const QString line = toolkit::lineFromBytes(row.bytes);
    EXPECT_EQ(line.toStdU16String(), row.line);
    EXPECT_EQ(toolkit::toBytes(line), row.bytes);
    QPlainTextEdit pane;
    pane.setPlainText(line + u'\n' + line);
    ASSERT_EQ(pane.document()->blockCount(), 2);
    EXPECT_EQ(toolkit::toBytes(pane.document()->firstBlock().text()), row.bytes);
    EXPECT_EQ(toolkit::toBytes(pane.document()->lastBlock().text()), row.bytes);
  }
  EXPECT_EQ(toolkit::asOneLine(QStringLiteral("/srv/a\nb")).toStdU16String(),
            u"/srv/a\xDC0A"
            "b");
}

}  // namespace
