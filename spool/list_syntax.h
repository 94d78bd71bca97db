#pragma once

#include <string>
#include <string_view>

namespace spool {

// The separator between a folder and a name on this platform.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

enum class LineKind {
  Skipped,   // empty once its one trailing line feed is gone
  Comment,   // "#" as the first byte
  EndMark,   // "end" as the first three bytes: the list ends here
  FileName,  // anything else, byte for byte
};

struct ListLine {
  LineKind kind;
  std::string_view text;  // the line without its trailing line feed
};

// What one line of the file list is. Only one trailing line feed is dropped; blanks, tabs and
// carriage returns stay part of the name.
ListLine classifyLine(std::string_view line);

// The folder with a separator at its end: added unless its last byte already is one. An empty
// folder becomes the separator alone.
std::string folderWithSeparator(std::string_view folder);

// The path of a listed name: the folder (already ending in a separator) followed by the name.
std::string formPath(std::string_view folderWithSep, std::string_view name);

}  // namespace spool
