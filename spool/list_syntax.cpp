#include "spool/list_syntax.h"

namespace spool {

ListLine classifyLine(std::string_view line) {
  if (!line.empty() && line.back() == '\n') {
    line.remove_suffix(1);
  }
  if (line.empty()) {
    return {LineKind::Skipped, line};
  }
  if (line.front() == '#') {
    return {LineKind::Comment, line};
  }
  if (line.starts_with("end")) {
    return {LineKind::EndMark, line};
  }
  return {LineKind::FileName, line};
}

std::string folderWithSeparator(std::string_view folder) {
  std::string result(folder);
  if (result.empty() || result.back() != kPathSeparator) {
    result.push_back(kPathSeparator);
  }
  return result;
}

std::string formPath(std::string_view folderWithSep, std::string_view name) {
  std::string path;
  path.reserve(folderWithSep.size() + name.size());
  path.append(folderWithSep);
  path.append(name);
  return path;
}

}  // namespace spool
