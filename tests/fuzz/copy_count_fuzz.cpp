// The copies text: the count must be what strtol reads from the same text, brought into the
// 32-bit range, and the spinner's steps and position must follow from that count.
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "spool/copy_count.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

bool startsWithNumber(const std::string& text) {
  std::size_t i = text.find_first_not_of(" \t\n\v\f\r");
  if (i == std::string::npos) {
    return false;
  }
  if (text[i] == '+' || text[i] == '-') {
    ++i;
  }
  return i < text.size() && text[i] >= '0' && text[i] <= '9';
}

std::int32_t clampedStrtol(const std::string& text) {
  errno = 0;
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value > INT32_MAX) {
    return INT32_MAX;
  }
  if (value < INT32_MIN) {
    return INT32_MIN;
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // strtoll stops at a NUL, so the model reads the text up to its first one; so must the code,
  // since a NUL is no digit.
  const std::string upToNul(text.substr(0, text.find('\0')));

  const std::optional<std::int32_t> count = spool::readCopyCount(text);
  FUZZ_CHECK(count.has_value() == startsWithNumber(upToNul));
  if (count) {
    FUZZ_CHECK(*count == clampedStrtol(upToNul));
    FUZZ_CHECK(spool::spinnerPosition(*count) ==
               static_cast<std::int16_t>(static_cast<std::uint32_t>(*count) & 0xFFFF));
  }

  const std::int64_t base = count.value_or(0);
  const std::string up = spool::stepCopiesText(text, true);
  const std::string down = spool::stepCopiesText(text, false);
  FUZZ_CHECK(up == std::to_string(base + 1));
  FUZZ_CHECK(down == std::to_string(base - 1 < 1 ? 1 : base - 1));
  FUZZ_CHECK(spool::containsDigit(text) == (text.find_first_of("0123456789") != std::string::npos));
  return 0;
}
