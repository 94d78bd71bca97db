#include "platform/toolkit/text_bytes.h"

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

}  // namespace toolkit
