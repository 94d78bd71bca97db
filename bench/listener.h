#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

namespace bench {

// A running digest of every byte, eight at a time, fast enough to keep up with a loopback
// stream of a gigabyte; the same bytes in any split give the same digest.
class StreamHash {
 public:
  void add(std::string_view bytes);
  std::uint64_t value() const;
  std::uint64_t size() const { return size_; }

 private:
  std::uint64_t state_ = 0x6a09e667f3bcc908ULL;
  std::uint64_t carry_ = 0;
  int carried_ = 0;
  std::uint64_t size_ = 0;
};

std::uint64_t hashOf(std::string_view bytes);

// The printer at the end of a socket:// queue: a TCP listener on 127.0.0.1 that takes one job
// per connection, as a network printer's raw port does, reads it to its end, digests every
// byte, and closes the connection once the sender has shut its side.
class DeliveryListener {
 public:
  using Clock = std::chrono::steady_clock;

  struct Job {
    std::uint64_t bytes = 0;
    std::uint64_t hash = 0;
    Clock::time_point lastByte{};  // when the read that brought the job's last byte returned
  };

  // Throws std::runtime_error when it cannot listen.
  DeliveryListener();
  ~DeliveryListener();
  DeliveryListener(const DeliveryListener&) = delete;
  DeliveryListener& operator=(const DeliveryListener&) = delete;

  int port() const { return port_; }

  // Waits until `count` jobs have been received since the last take, for as long as they keep
  // coming: the wait fails (throws) only when no byte has arrived for `stall`. Returns them in
  // the order they came and forgets them.
  std::vector<Job> take(std::size_t count, std::chrono::milliseconds stall);

 private:
  void serve();
  void receive(int fd);

  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};
  int port_ = 0;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Job> jobs_;
  Clock::time_point lastActivity_ = Clock::now();
  std::thread thread_;
};

}  // namespace bench
