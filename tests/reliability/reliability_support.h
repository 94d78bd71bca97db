#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "spool/source_file.h"
#include "tests/support/temp_folder.h"

namespace reliability {

using testing_support::TempFolder;

// Reproducible bytes that look random, quick to make in large amounts.
std::string randomBytes(std::size_t size, std::uint64_t seed);

// A 64-bit FNV-1a hash of the bytes.
std::uint64_t hashOf(std::string_view bytes);

// The number of file descriptors this process holds open.
int openDescriptorCount();

// True once the process has ended (gone, or a zombie waiting for its parent).
bool hasEnded(pid_t pid);

// Polls the condition until it holds or the time is up; true when it held.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds bound);

// Counts the jobs the capture backend has finished writing into the folder.
std::size_t capturedJobCount(const std::filesystem::path& captureFolder);

// Waits until the folder holds `count` captured jobs, for as long as they keep arriving: the
// wait fails only when none has arrived for `stall`.
bool waitForCapturedJobs(const std::filesystem::path& captureFolder, std::size_t count,
                         std::chrono::milliseconds stall);

// Opens files through the file system, with a hook that runs before each open and one that
// runs after every `readEvery` bytes read, so a test can change the world at exact points of a
// run without waiting on a clock.
class HookedFileOpener final : public spool::FileOpener {
 public:
  std::function<void(const std::string& path)> beforeOpen;
  std::function<void(std::uint64_t bytesReadSoFar)> afterRead;
  std::uint64_t readEvery = 0;

  std::unique_ptr<spool::SourceFile> open(const std::string& path) override;

 private:
  spool::PosixFileOpener files_;
  std::uint64_t bytesRead_ = 0;
  std::uint64_t nextHook_ = 0;
  friend class HookedFile;
};

// While it lives, this process's effective user and group are those of an unprivileged user
// (nobody), so the file system judges access as it would for an operator. Only when running as
// root; otherwise the process already is unprivileged and nothing changes.
class UnprivilegedScope {
 public:
  UnprivilegedScope();
  ~UnprivilegedScope();
  UnprivilegedScope(const UnprivilegedScope&) = delete;
  UnprivilegedScope& operator=(const UnprivilegedScope&) = delete;

  // False when running as root and no unprivileged user could be taken on.
  bool active() const { return active_; }

 private:
  bool switched_ = false;
  bool active_ = false;
};

}  // namespace reliability
