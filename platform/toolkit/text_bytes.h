#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace toolkit {

// The one conversion between a control's text and the bytes the program works on: UTF-8, with
// every byte that is not valid UTF-8 kept as an escape character, so any bytes survive the
// round trip fromBytes -> toBytes exactly.
QString fromBytes(std::string_view bytes);
std::string toBytes(const QString& text);

}  // namespace toolkit
