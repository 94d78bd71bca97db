#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace testing_support {

// A fresh folder under /tmp that anyone may read, removed with everything in it.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Writes the file (and any folders it needs) and returns its full path.
  std::string write(const std::string& name, std::string_view bytes) const;

 private:
  std::filesystem::path path_;
};

}  // namespace testing_support
