#include "tests/fuzz/strict_utf8.h"

namespace fuzzing {

bool isStrictUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto lead = static_cast<unsigned char>(s[i]);
    std::size_t len = 1;
    char32_t cp = lead;
    if (lead >= 0x80) {
      const int ones = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
      if (ones == 0 || lead >= 0xF8) {
        return false;
      }
      len = static_cast<std::size_t>(ones);
      cp = lead & (0x7F >> ones);
      if (i + len > s.size()) {
        return false;
      }
      for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
          return false;
        }
        cp = (cp << 6) | (b & 0x3F);
      }
      constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
      if (cp < kShortest[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return false;
      }
    }
    i += len;
  }
  return true;
}

}  // namespace fuzzing
