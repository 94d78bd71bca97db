#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace spool {

// The entries of a list file's bytes: every carriage return removed wherever it stands, the
// first 0x1A ends the text, one entry per line ending in a line feed and one for a last line
// without it, each entry cut at its first NUL. A line is one entry whatever its length.
std::vector<std::string> listEntriesFromBytes(std::string_view bytes);

// Reads the list file at path by those rules. Empty when it cannot be opened; a read error
// part way is taken as the end of the file.
std::optional<std::vector<std::string>> readListFile(const std::string& path);

}  // namespace spool
