#include "spool/source_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace spool {
namespace {

class PosixSourceFile final : public SourceFile {
 public:
  explicit PosixSourceFile(int fd) : fd_(fd) {}
  ~PosixSourceFile() override { ::close(fd_); }
  PosixSourceFile(const PosixSourceFile&) = delete;
  PosixSourceFile& operator=(const PosixSourceFile&) = delete;

  std::ptrdiff_t read(std::span<std::byte> into) override {
    for (;;) {
      const ssize_t n = ::read(fd_, into.data(), into.size());
      if (n >= 0 || errno != EINTR) {
        return n < 0 ? -1 : n;
      }
    }
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<SourceFile> PosixFileOpener::open(const std::string& path) {
  // O_NONBLOCK keeps a FIFO with no writer from blocking the open; the kind is checked on the
  // open descriptor, so nothing can swap the file between the check and the read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixSourceFile>(fd);
}

}  // namespace spool
