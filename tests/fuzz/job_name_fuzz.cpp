// The job name for any path: at most 255 bytes of well-formed UTF-8; the path itself when it
// already is such a name; otherwise, for a valid path, "..." and the path's own end.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "spool/job_name.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/fuzz/strict_utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view path(reinterpret_cast<const char*>(data), size);
  const std::string name = spool::jobNameForPath(path);
  FUZZ_CHECK(name.size() <= spool::kMaxJobNameBytes);
  FUZZ_CHECK(fuzzing::isStrictUtf8(name));
  if (!fuzzing::isStrictUtf8(path)) {
    return 0;
  }
  if (path.size() <= spool::kMaxJobNameBytes) {
    FUZZ_CHECK(name == path);
    return 0;
  }
  FUZZ_CHECK(name.starts_with("..."));
  const std::string_view tail = std::string_view(name).substr(3);
  FUZZ_CHECK(path.ends_with(tail));
  // The cut keeps as much as fits: at most one 4-byte character is lost to the boundary.
  FUZZ_CHECK(name.size() + 3 >= spool::kMaxJobNameBytes);
  return 0;
}
