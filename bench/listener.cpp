#include "bench/listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace bench {
namespace {

constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ULL;
constexpr std::size_t kReadSize = 256 * 1024;

std::uint64_t mix(std::uint64_t state, std::uint64_t word) {
  state = (state ^ word) * kMultiplier;
  return state ^ (state >> 29);
}

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error("delivery listener: " + what + ": " + std::strerror(errno));
}

}  // namespace

void StreamHash::add(std::string_view bytes) {
  size_ += bytes.size();
  std::size_t i = 0;
  while (carried_ != 0 && i < bytes.size()) {
    carry_ |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i++])) << (8 * carried_);
    if (++carried_ == 8) {
      state_ = mix(state_, carry_);
      carry_ = 0;
      carried_ = 0;
    }
  }
  for (; i + 8 <= bytes.size(); i += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes.data() + i, 8);
    state_ = mix(state_, word);
  }
  for (; i < bytes.size(); ++i) {
    carry_ |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * carried_);
    ++carried_;
  }
}

std::uint64_t StreamHash::value() const {
  return mix(mix(state_, carry_ ^ (static_cast<std::uint64_t>(carried_) << 61)), size_);
}

std::uint64_t hashOf(std::string_view bytes) {
  StreamHash h;
  h.add(bytes);
  return h.value();
}

DeliveryListener::DeliveryListener() {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) {
    fail("socket");
  }
  const int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 64) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ::pipe2(wakeFds_, O_CLOEXEC) != 0) {
    const int saved = errno;
    ::close(listenFd_);
    errno = saved;
    fail("cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { serve(); });
}

DeliveryListener::~DeliveryListener() {
  const char stop = 'x';
  [[maybe_unused]] const ssize_t ignored = ::write(wakeFds_[1], &stop, 1);
  thread_.join();
  ::close(listenFd_);
  ::close(wakeFds_[0]);
  ::close(wakeFds_[1]);
}

// One connection at a time: the queue hands the printer one job after the other.
void DeliveryListener::serve() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    if (fds[1].revents != 0) {
      return;
    }
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      receive(fd);
      ::close(fd);
    }
  }
}

void DeliveryListener::receive(int fd) {
  std::string buffer(kReadSize, '\0');
  StreamHash hash;
  Clock::time_point lastByte = Clock::now();
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
      return;
    }
    if (fds[1].revents != 0) {
      return;
    }
    const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      break;
    }
    lastByte = Clock::now();
    hash.add(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    const std::lock_guard lock(mutex_);
    lastActivity_ = lastByte;
  }
  {
    const std::lock_guard lock(mutex_);
    jobs_.push_back({hash.size(), hash.value(), lastByte});
    lastActivity_ = Clock::now();
  }
  arrived_.notify_all();
}

std::vector<DeliveryListener::Job> DeliveryListener::take(std::size_t count,
                                                          std::chrono::milliseconds stall) {
  const Clock::time_point start = Clock::now();
  std::unique_lock lock(mutex_);
  while (jobs_.size() < count) {
    if (Clock::now() - std::max(start, lastActivity_) > stall) {
      throw std::runtime_error("the printer received " + std::to_string(jobs_.size()) + " of " +
                               std::to_string(count) + " jobs, then nothing for " +
                               std::to_string(stall.count() / 1000) + " s");
    }
    arrived_.wait_for(lock, std::chrono::milliseconds(200));
  }
  std::vector<Job> taken(jobs_.begin(), jobs_.begin() + static_cast<std::ptrdiff_t>(count));
  jobs_.erase(jobs_.begin(), jobs_.begin() + static_cast<std::ptrdiff_t>(count));
  return taken;
}

}  // namespace bench
