#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>

namespace spool {

// A print file opened for reading, bytes as they are. Destroying it closes it.
class SourceFile {
 public:
  virtual ~SourceFile() = default;
  // Reads up to into.size() bytes. The count read; 0 at the end of the file; -1 on a read error.
  virtual std::ptrdiff_t read(std::span<std::byte> into) = 0;
};

class FileOpener {
 public:
  virtual ~FileOpener() = default;
  // Null when the path names nothing that can be read as a file: missing, unreadable, or not a
  // regular file (a directory, a FIFO, a device).
  virtual std::unique_ptr<SourceFile> open(const std::string& path) = 0;
};

// The file system itself.
class PosixFileOpener final : public FileOpener {
 public:
  std::unique_ptr<SourceFile> open(const std::string& path) override;
};

}  // namespace spool
