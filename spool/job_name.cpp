#include "spool/job_name.h"

#include <cstdint>

namespace spool {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
constexpr std::string_view kEllipsis = "...";

// The length of the valid UTF-8 sequence at s[i], or 0 when none starts there.
std::size_t utf8SequenceLength(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
  const std::uint8_t b0 = byte(i);
  if (b0 < 0x80) {
    return 1;
  }
  std::size_t len = 0;
  std::uint8_t lo = 0x80;
  std::uint8_t hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    if (b0 == 0xE0)
      lo = 0xA0;
    if (b0 == 0xED)
      hi = 0x9F;  // no UTF-16 surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    if (b0 == 0xF0)
      lo = 0x90;
    if (b0 == 0xF4)
      hi = 0x8F;
  } else {
    return 0;
  }
  if (i + len > s.size()) {
    return 0;
  }
  const std::uint8_t b1 = byte(i + 1);
  if (b1 < lo || b1 > hi) {
    return 0;
  }
  for (std::size_t k = 2; k < len; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      return 0;
    }
  }
  return len;
}

std::string validUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t len = utf8SequenceLength(s, i);
    if (len == 0) {
      out.append(kReplacement);
      ++i;
    } else {
      out.append(s.substr(i, len));
      i += len;
    }
  }
  return out;
}

}  // namespace

std::string jobNameForPath(std::string_view path) {
  std::string name = validUtf8(path);
  if (name.size() <= kMaxJobNameBytes) {
    return name;
  }
  // Start the tail at a character boundary that leaves room for the ellipsis.
  std::size_t start = name.size() - (kMaxJobNameBytes - kEllipsis.size());
  while ((static_cast<std::uint8_t>(name[start]) & 0xC0) == 0x80) {
    ++start;
  }
  return std::string(kEllipsis) + name.substr(start);
}

}  // namespace spool
