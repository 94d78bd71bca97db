#pragma once

#include <string_view>

namespace fuzzing {

// True when the bytes are well-formed UTF-8: no overlong forms, no surrogates, nothing past
// U+10FFFF, no sequence cut short. Written apart from the code under test so that both cannot
// share one mistake.
bool isStrictUtf8(std::string_view s);

}  // namespace fuzzing
