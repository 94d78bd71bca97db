// The list file reader over any bytes: the entries must be exactly those of a plain model of
// the reading rules, and reading the same bytes from a real file must give the same entries.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "spool/list_file.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

std::vector<std::string> modelEntries(std::string_view bytes) {
  std::string text;
  for (const char c : bytes.substr(0, bytes.find('\x1A'))) {
    if (c != '\r') {
      text.push_back(c);
    }
  }
  std::vector<std::string> entries;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t feed = text.find('\n', start);
    const std::size_t end = feed == std::string::npos ? text.size() : feed;
    const std::string_view line = std::string_view(text).substr(start, end - start);
    entries.emplace_back(line.substr(0, line.find('\0')));
    start = end + 1;
  }
  return entries;
}

// The same bytes as a file on no disk, read through its /proc path like any list file.
std::vector<std::string> entriesReadFromFile(std::string_view bytes) {
  const int fd = ::memfd_create("list", MFD_CLOEXEC);
  FUZZ_CHECK(fd >= 0);
  FUZZ_CHECK(::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
  const auto entries = spool::readListFile("/proc/self/fd/" + std::to_string(fd));
  ::close(fd);
  FUZZ_CHECK(entries.has_value());
  return *entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> entries = spool::listEntriesFromBytes(bytes);
  FUZZ_CHECK(entries == modelEntries(bytes));
  for (const std::string& entry : entries) {
    FUZZ_CHECK(entry.find_first_of(std::string_view("\r\n\0\x1A", 4)) == std::string::npos);
  }
  FUZZ_CHECK(entriesReadFromFile(bytes) == entries);
  return 0;
}
