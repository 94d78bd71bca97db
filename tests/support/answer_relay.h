#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

// A stand-in for a busy print server on the loopback: it passes every TCP connection on to the
// private cupsd's unix socket, and holds back what follows the header of every n-th answer for
// a while, as cupsd does when it writes its state files between an answer's header and its body.
class AnswerRelay {
 public:
  // Throws std::runtime_error when it cannot listen.
  AnswerRelay(std::string serverSocket, int holdEvery, std::chrono::milliseconds hold);
  // Stops listening and ends every connection.
  ~AnswerRelay();
  AnswerRelay(const AnswerRelay&) = delete;
  AnswerRelay& operator=(const AnswerRelay&) = delete;

  int port() const { return port_; }
  // How many answers were held back so far.
  int held() const { return held_; }

 private:
  void accept();
  void relay(int client);
  // Passes on what the server sent, holding back after the header of every n-th answer.
  bool passOn(int to, const char* bytes, std::size_t size, std::string& tail);

  std::string serverSocket_;
  int holdEvery_;
  std::chrono::milliseconds hold_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> headers_{0};
  std::atomic<int> held_{0};
  std::mutex mutex_;
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

}  // namespace testing_support
