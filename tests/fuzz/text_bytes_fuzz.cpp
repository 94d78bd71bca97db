// The conversion between bytes and a control's text: any bytes must come back exactly, and
// the text they become must be well-formed UTF-16 apart from the escape characters.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/toolkit/utf8_escape.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/strict_utf8.h"

namespace {

bool isEscape(char16_t c) {
  return c >= 0xDC80 && c <= 0xDCFF;
}
bool isHigh(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool isLow(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

// Every surrogate is either half of a pair or one of the escapes for a byte.
bool onlyPairsAndEscapes(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (isHigh(text[i])) {
      if (i + 1 == text.size() || !isLow(text[i + 1])) {
        return false;
      }
      ++i;
    } else if (isLow(text[i]) && !isEscape(text[i])) {
      return false;
    }
  }
  return true;
}

std::size_t escapeCount(std::u16string_view text) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (isHigh(text[i])) {
      ++i;  // a pair's low half is no escape
    } else if (isEscape(text[i])) {
      ++n;
    }
  }
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string text = toolkit::decodeEscaped(bytes);
  FUZZ_CHECK(toolkit::encodeEscaped(text) == bytes);
  FUZZ_CHECK(onlyPairsAndEscapes(text));
  // Valid UTF-8 needs no escape, and bytes that need none are valid UTF-8.
  FUZZ_CHECK(fuzzing::isStrictUtf8(bytes) == (escapeCount(text) == 0));

  // The same input read as UTF-16 text, as the operator may type it: well-formed text (pairs
  // only, no escapes) must come back exactly through its bytes.
  std::u16string typed(size / 2, u'\0');
  for (std::size_t i = 0; i < typed.size(); ++i) {
    typed[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  const std::string encoded = toolkit::encodeEscaped(typed);
  if (onlyPairsAndEscapes(typed) && escapeCount(typed) == 0) {
    FUZZ_CHECK(toolkit::decodeEscaped(encoded) == typed);
  }
  return 0;
}
