#pragma once

#include <string>
#include <string_view>

namespace spool {

// The longest job name a print server keeps (IPP's name limit, in bytes).
inline constexpr std::size_t kMaxJobNameBytes = 255;

// The job's name for a path: the path itself when it is valid UTF-8 of at most 255 bytes.
// Otherwise each byte that is not part of valid UTF-8 becomes U+FFFD, and a name still over
// 255 bytes keeps its end, "..." followed by the last whole characters that fit, so the file's
// own name shows.
std::string jobNameForPath(std::string_view path);

}  // namespace spool
