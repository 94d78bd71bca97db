#include "platform/toolkit/utf8_escape.h"

#include <cstdint>

namespace toolkit {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;

bool isContinuation(unsigned char b) {
  return (b & 0xC0) == 0x80;
}

// The length of the valid UTF-8 sequence at the start of s and its code point; 0 when the bytes
// there do not start one (overlong forms, surrogates and values past U+10FFFF included).
std::size_t validSequence(std::string_view s, char32_t& cp) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  std::size_t len = 0;
  char32_t min = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
    cp = b0 & 0x1F;
    min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    cp = b0 & 0x0F;
    min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    cp = b0 & 0x07;
    min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() < len) {
    return 0;
  }
  for (std::size_t i = 1; i < len; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (!isContinuation(b)) {
      return 0;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    return 0;
  }
  return len;
}

void appendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
    return;
  }
  cp -= 0x10000;
  out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
  out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool isHighSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}
bool isEscape(char16_t c) {
  return c >= kEscapeBase && c <= kEscapeBase + 0xFF;
}

}  // namespace

std::u16string decodeEscaped(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    char32_t cp = 0;
    const std::size_t len = validSequence(bytes, cp);
    if (len == 0) {
      // Only bytes 0x80..0xFF can fail to start a valid sequence, so the escape stays in range.
      out.push_back(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(bytes[0])));
      bytes.remove_prefix(1);
      continue;
    }
    appendUtf16(out, cp);
    bytes.remove_prefix(len);
  }
  return out;
}

std::string encodeEscaped(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (isHighSurrogate(c) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
      appendUtf8(out, 0x10000 + ((char32_t{c} - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00));
      ++i;
    } else if (isEscape(c)) {
      out.push_back(static_cast<char>(c - kEscapeBase));
    } else {
      appendUtf8(out, c);
    }
  }
  return out;
}

}  // namespace toolkit
