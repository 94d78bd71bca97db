#pragma once

#include <string>

namespace testing_support {

// A unix socket that takes connections into its backlog and never answers them: a print
// server that has stopped responding. Throws std::runtime_error when it cannot listen.
class SilentServer {
 public:
  SilentServer();
  ~SilentServer();
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace testing_support
