#include "spool/list_file.h"

#include <array>
#include <cstddef>
#include <memory>

#include "spool/source_file.h"

namespace spool {

std::vector<std::string> listEntriesFromBytes(std::string_view bytes) {
  const std::size_t eof = bytes.find('\x1A');
  if (eof != std::string_view::npos) {
    bytes = bytes.substr(0, eof);
  }
  std::vector<std::string> entries;
  std::string line;
  bool cutAtNul = false;
  for (const char c : bytes) {
    if (c == '\r') {
      continue;
    }
    if (c == '\n') {
      entries.push_back(std::move(line));
      line.clear();
      cutAtNul = false;
      continue;
    }
    if (c == '\0') {
      cutAtNul = true;
    }
    if (!cutAtNul) {
      line.push_back(c);
    }
  }
  // A last line with no line feed is an entry; the text after a final line feed is none. A
  // line of carriage returns or NULs alone still counts as a line that was there.
  const std::size_t lastFeed = bytes.rfind('\n');
  const std::string_view tail =
      lastFeed == std::string_view::npos ? bytes : bytes.substr(lastFeed + 1);
  if (tail.find_first_not_of('\r') != std::string_view::npos) {
    entries.push_back(std::move(line));
  }
  return entries;
}

std::optional<std::vector<std::string>> readListFile(const std::string& path) {
  const std::unique_ptr<SourceFile> file = PosixFileOpener().open(path);
  if (!file) {
    return std::nullopt;
  }
  std::string bytes;
  std::array<std::byte, 65536> chunk;
  for (std::ptrdiff_t n; (n = file->read(chunk)) > 0;) {
    const std::size_t before = bytes.size();
    bytes.append(reinterpret_cast<const char*>(chunk.data()), static_cast<std::size_t>(n));
    if (bytes.find('\x1A', before) != std::string::npos) {
      break;  // nothing after the end mark counts
    }
  }
  return listEntriesFromBytes(bytes);
}

}  // namespace spool
