#include "spool/copy_count.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

TEST(CopyCount, ReadsTheNumberAtTheStartAsPercentDDoes) {
  const struct {
    std::string text;
    std::optional<std::int32_t> count;
  } cases[] = {
      {"1", 1},
      {"3", 3},
      {"  12", 12},
      {"\t\n\v\f\r7", 7},
      {"+4", 4},
      {"5 copies", 5},
      {"007", 7},
      {"0", 0},
      {"-2", -2},
      {"1500", 1500},
      {"2147483647", 2147483647},
      {"2147483648", 2147483647},
      {"99999999999999999999", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"-99999999999999999999", -2147483647 - 1},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"abc", std::nullopt},
      {"x5", std::nullopt},
      {"+", std::nullopt},
      {"-", std::nullopt},
      {"+ 5", std::nullopt},
      {"\xEF\xBC\x93", std::nullopt},  // a full-width 3
  };
  for (const auto& c : cases) {
    EXPECT_EQ(spool::readCopyCount(c.text), c.count) << '"' << c.text << '"';
  }
}

TEST(CopyCount, AHundredThousandDigitsSaturateWithoutOverflow) {
  EXPECT_EQ(spool::readCopyCount(std::string(100000, '9')), 2147483647);
  EXPECT_EQ(spool::readCopyCount("-" + std::string(100000, '9')), -2147483647 - 1);
  EXPECT_EQ(spool::readCopyCount(std::string(100000, '0') + "3"), 3);
}

TEST(CopyCount, SpinnerStepsRewriteTheWholeText) {
  const struct {
    const char* text;
    bool up;
    const char* result;
  } cases[] = {
      {"1", true, "2"},       {"2", false, "1"},
      {"1", false, "1"},      {"1000", false, "999"},
      {"1000", true, "1001"}, {"5 copies", true, "6"},
      {"007", true, "8"},     {"0", false, "1"},
      {"-7", false, "1"},     {"-7", true, "-6"},
      {"abc", true, "1"},     {"abc", false, "1"},
      {"", true, "1"},        {"2147483647", true, "2147483648"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(spool::stepCopiesText(c.text, c.up), c.result)
        << '"' << c.text << "\" " << (c.up ? "up" : "down");
  }
}

TEST(CopyCount, SpinnerTakesTheLowSixteenBitsSigned) {
  EXPECT_EQ(spool::spinnerPosition(1), 1);
  EXPECT_EQ(spool::spinnerPosition(1500), 1500);
  EXPECT_EQ(spool::spinnerPosition(32768), -32768);
  EXPECT_EQ(spool::spinnerPosition(65537), 1);
  EXPECT_EQ(spool::spinnerPosition(-2), -2);
}

TEST(CopyCount, DigitAnywhere) {
  EXPECT_TRUE(spool::containsDigit("x5"));
  EXPECT_TRUE(spool::containsDigit("0"));
  EXPECT_FALSE(spool::containsDigit("abc"));
  EXPECT_FALSE(spool::containsDigit(""));
  EXPECT_FALSE(spool::containsDigit("\xEF\xBC\x93"));
}

}  // namespace
