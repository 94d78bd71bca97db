#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace spool {

// The number at the start of a copies text, read as "%d" reads it: leading white space skipped,
// an optional sign, then decimal digits up to the first non-digit; the rest ignored. Empty when
// the text does not begin that way. A number beyond the 32-bit range saturates to its bound.
std::optional<std::int32_t> readCopyCount(std::string_view text);

// True when the text holds a byte from "0" to "9" anywhere.
bool containsDigit(std::string_view text);

// The whole copies text after one click on the spinner: up adds 1 with no upper limit, down
// subtracts 1 and holds at 1. A text with no number at its start counts as 0.
std::string stepCopiesText(std::string_view text, bool up);

// The spinner's position for a copy count: its low 16 bits, taken as a signed value.
std::int16_t spinnerPosition(std::int32_t count);

}  // namespace spool
