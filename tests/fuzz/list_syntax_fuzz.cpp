// One list line under one folder: what the line is, and the path it names. The first input
// byte says where the folder ends and the line begins.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "spool/list_syntax.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

spool::LineKind modelKind(std::string_view text) {
  if (text.empty()) {
    return spool::LineKind::Skipped;
  }
  if (text[0] == '#') {
    return spool::LineKind::Comment;
  }
  if (text.size() >= 3 && text.substr(0, 3) == "end") {
    return spool::LineKind::EndMark;
  }
  return spool::LineKind::FileName;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t cut = data[0] % (rest.size() + 1);
  const std::string_view folder = rest.substr(0, cut);
  const std::string_view raw = rest.substr(cut);

  const spool::ListLine line = spool::classifyLine(raw);
  const bool hadFeed = !raw.empty() && raw.back() == '\n';
  FUZZ_CHECK(line.text == raw.substr(0, raw.size() - (hadFeed ? 1 : 0)));
  FUZZ_CHECK(line.kind == modelKind(line.text));

  const std::string withSep = spool::folderWithSeparator(folder);
  const bool hadSep = !folder.empty() && folder.back() == spool::kPathSeparator;
  FUZZ_CHECK(withSep ==
             std::string(folder) + (hadSep ? "" : std::string(1, spool::kPathSeparator)));

  const std::string path = spool::formPath(withSep, line.text);
  FUZZ_CHECK(path.size() == withSep.size() + line.text.size());
  FUZZ_CHECK(std::string_view(path).substr(0, withSep.size()) == withSep);
  FUZZ_CHECK(std::string_view(path).substr(withSep.size()) == line.text);
  return 0;
}
