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

// One line of a text pane (the file list, the messages): fromBytes, with every character at
// which the pane would break the line (LF, CR, U+2028, U+2029, U+FDD0, U+FDD1) kept as the
// escapes of its UTF-8 bytes instead, like bytes that are not UTF-8. So an entry whose name
// holds one stays one line, and toBytes gives its bytes back.
QString lineFromBytes(std::string_view bytes);
// The same for a text already at hand (a path a dialog gave).
QString asOneLine(const QString& text);

}  // namespace toolkit
