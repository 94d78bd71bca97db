#include "spool/copy_count.h"

#include <algorithm>
#include <limits>

namespace spool {
namespace {

// The white space that "%d" skips in the C locale.
constexpr bool isScanSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::optional<std::int32_t> readCopyCount(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isScanSpace(text[i])) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size() || !isDigit(text[i])) {
    return std::nullopt;
  }
  // Accumulate as a magnitude that stops growing past the bound, so any number of digits fits.
  constexpr std::int64_t kCap = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  for (; i < text.size() && isDigit(text[i]); ++i) {
    magnitude = std::min(kCap, magnitude * 10 + (text[i] - '0'));
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

bool containsDigit(std::string_view text) {
  return std::ranges::any_of(text, isDigit);
}

std::string stepCopiesText(std::string_view text, bool up) {
  const std::int64_t count = readCopyCount(text).value_or(0);
  const std::int64_t stepped = up ? count + 1 : std::max<std::int64_t>(1, count - 1);
  return std::to_string(stepped);
}

std::int16_t spinnerPosition(std::int32_t count) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint32_t>(count)));
}

}  // namespace spool
