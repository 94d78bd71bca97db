#include "tests/support/temp_folder.h"

#include <stdlib.h>

#include <fstream>
#include <stdexcept>

namespace testing_support {
namespace fs = std::filesystem;

TempFolder::TempFolder() {
  std::string pattern = "/tmp/batchspool-test.XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = pattern;
  fs::permissions(path_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string TempFolder::write(const std::string& name, std::string_view bytes) const {
  const fs::path file = path_ / name;
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) {
    throw std::runtime_error("cannot write " + file.string());
  }
  return file.string();
}

}  // namespace testing_support
