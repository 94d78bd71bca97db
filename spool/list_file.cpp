#include "spool/list_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

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
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    return std::nullopt;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string bytes;
  std::array<char, 65536> chunk{};
  for (;;) {
    const ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      break;
    }
    bytes.append(chunk.data(), static_cast<std::size_t>(n));
    if (bytes.find('\x1A', bytes.size() - static_cast<std::size_t>(n)) != std::string::npos) {
      break;
    }
  }
  ::close(fd);
  return listEntriesFromBytes(bytes);
}

}  // namespace spool
