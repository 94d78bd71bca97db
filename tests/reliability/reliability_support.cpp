#include "tests/reliability/reliability_support.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <stdexcept>
#include <thread>

namespace reliability {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {
constexpr auto kPollInterval = std::chrono::milliseconds(5);
}

std::string randomBytes(std::size_t size, std::uint64_t seed) {
  std::mt19937_64 engine(seed);
  std::string s(size, '\0');
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    const std::uint64_t word = engine();
    for (int k = 0; k < 8; ++k) {
      s[i + k] = static_cast<char>(word >> (8 * k));
    }
  }
  for (std::uint64_t word = engine(); i < size; ++i, word >>= 8) {
    s[i] = static_cast<char>(word);
  }
  return s;
}

std::uint64_t hashOf(std::string_view bytes) {
  std::uint64_t h = 14695981039346656037ULL;
  for (const char c : bytes) {
    h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  }
  return h;
}

int openDescriptorCount() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) {
    return -1;
  }
  int n = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') {
      ++n;
    }
  }
  ::closedir(dir);
  return n - 1;  // the descriptor of the listing itself
}

bool hasEnded(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) {
    return true;
  }
  // The state follows the command name, which is in parentheses and may hold blanks.
  const std::size_t close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() || line[close + 2] == 'Z' ||
         line[close + 2] == 'X';
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
  const auto deadline = Clock::now() + bound;
  for (;;) {
    if (condition()) {
      return true;
    }
    if (Clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
}

std::size_t capturedJobCount(const fs::path& captureFolder) {
  std::size_t n = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(captureFolder)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("job-") && name.ends_with(".data")) {
      ++n;
    }
  }
  return n;
}

bool waitForCapturedJobs(const fs::path& captureFolder, std::size_t count,
                         std::chrono::milliseconds stall) {
  std::size_t seen = capturedJobCount(captureFolder);
  while (seen < count) {
    const std::size_t before = seen;
    if (!waitFor([&] { return (seen = capturedJobCount(captureFolder)) > before; }, stall)) {
      return false;
    }
  }
  return true;
}

class HookedFile final : public spool::SourceFile {
 public:
  HookedFile(HookedFileOpener& owner, std::unique_ptr<spool::SourceFile> file)
      : owner_(owner), file_(std::move(file)) {}

  std::ptrdiff_t read(std::span<std::byte> into) override {
    const std::ptrdiff_t n = file_->read(into);
    if (n > 0 && owner_.afterRead && owner_.readEvery > 0) {
      owner_.bytesRead_ += static_cast<std::uint64_t>(n);
      if (owner_.bytesRead_ >= owner_.nextHook_) {
        owner_.nextHook_ = owner_.bytesRead_ + owner_.readEvery;
        owner_.afterRead(owner_.bytesRead_);
      }
    }
    return n;
  }

 private:
  HookedFileOpener& owner_;
  std::unique_ptr<spool::SourceFile> file_;
};

std::unique_ptr<spool::SourceFile> HookedFileOpener::open(const std::string& path) {
  if (beforeOpen) {
    beforeOpen(path);
  }
  if (nextHook_ == 0) {
    nextHook_ = readEvery;
  }
  std::unique_ptr<spool::SourceFile> file = files_.open(path);
  if (!file) {
    return nullptr;
  }
  return std::make_unique<HookedFile>(*this, std::move(file));
}

UnprivilegedScope::UnprivilegedScope() {
  if (::geteuid() != 0) {
    active_ = true;
    return;
  }
  const passwd* nobody = ::getpwnam("nobody");
  if (nobody == nullptr || nobody->pw_uid == 0) {
    return;
  }
  if (::setegid(nobody->pw_gid) != 0) {
    return;
  }
  if (::seteuid(nobody->pw_uid) != 0) {
    (void)::setegid(0);
    return;
  }
  switched_ = true;
  active_ = true;
}

UnprivilegedScope::~UnprivilegedScope() {
  if (switched_) {
    // Root again: the saved user id is still 0, so this cannot be refused.
    (void)::seteuid(0);
    (void)::setegid(0);
  }
}

}  // namespace reliability
