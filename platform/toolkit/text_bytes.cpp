#include "platform/toolkit/text_bytes.h"

#include <algorithm>

#include "platform/toolkit/utf8_escape.h"

namespace toolkit {

QString fromBytes(std::string_view bytes) {
  const std::u16string text = decodeEscaped(bytes);
  return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

std::string toBytes(const QString& text) {
  return encodeEscaped(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                           static_cast<std::size_t>(text.size())));
}

namespace {

bool breaksLine(QChar c) {
  switch (c.unicode()) {
    case u'\n':
    case u'\r':
    case 0x2028:
    case 0x2029:
    case 0xFDD0:
    case 0xFDD1:
      return true;
    default:
      return false;
  }
}

}  // namespace

QString asOneLine(const QString& text) {
  if (std::none_of(text.begin(), text.end(), breaksLine)) {
    return text;
  }
  QString line;
  line.reserve(text.size() + 8);
  for (const QChar c : text) {
    if (!breaksLine(c)) {
      line.append(c);
      continue;
    }
    for (const char byte : QString(c).toUtf8()) {
      line.append(QChar(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(byte))));
    }
  }
  return line;
}

QString lineFromBytes(std::string_view bytes) {
  return asOneLine(fromBytes(bytes));
}

}  // namespace toolkit
