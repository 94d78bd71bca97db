#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

// A unix socket in front of a print server's socket that passes every byte through, except
// that it holds back the body of each HTTP answer for `bodyDelay` after its header: a server
// that pauses between an answer's header and its body, as a busy cupsd does while it saves its
// state files. Throws std::runtime_error when it cannot listen.
class SlowRelay {
 public:
  SlowRelay(std::string serverSocket, std::chrono::milliseconds bodyDelay);
  ~SlowRelay();
  SlowRelay(const SlowRelay&) = delete;
  SlowRelay& operator=(const SlowRelay&) = delete;

  const std::string& path() const { return path_; }
  // How many answers' bodies have been held back so far.
  int heldBack() const { return heldBack_.load(); }

 private:
  void acceptLoop();
  void clientToServer(int client, int server);
  void serverToClient(int server, int client);
  // Waits `delay` unless the relay is being torn down; false when it is.
  bool pause();

  std::string serverSocket_;
  std::chrono::milliseconds bodyDelay_;
  std::string path_;
  int listenFd_ = -1;
  std::atomic<int> heldBack_{0};

  std::mutex mutex_;
  std::condition_variable stopped_;
  bool stopping_ = false;
  std::vector<int> fds_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace testing_support
