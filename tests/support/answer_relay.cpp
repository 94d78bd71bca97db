#include "tests/support/answer_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace testing_support {
namespace {

// How often a waiting relay thread looks whether it is to stop.
constexpr int kStopCheckMs = 100;
constexpr std::string_view kHeaderEnd = "\r\n\r\n";

bool sendAll(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, bytes, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) {
      continue;
    }
    if (sent <= 0) {
      return false;
    }
    bytes += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

int connectUnix(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

AnswerRelay::AnswerRelay(std::string serverSocket, int holdEvery, std::chrono::milliseconds hold)
    : serverSocket_(std::move(serverSocket)), holdEvery_(holdEvery), hold_(hold) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (listener_ < 0 ||
      ::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(listener_, 64) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const std::string reason = std::strerror(errno);
    if (listener_ >= 0) {
      ::close(listener_);
    }
    throw std::runtime_error("answer relay: cannot listen on the loopback: " + reason);
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { accept(); });
}

AnswerRelay::~AnswerRelay() {
  stopping_ = true;
  acceptor_.join();
  for (std::thread& connection : connections_) {
    connection.join();
  }
  ::close(listener_);
}

void AnswerRelay::accept() {
  while (!stopping_) {
    pollfd ready{listener_, POLLIN, 0};
    if (::poll(&ready, 1, kStopCheckMs) <= 0) {
      continue;
    }
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client >= 0) {
      const std::lock_guard lock(mutex_);
      connections_.emplace_back([this, client] { relay(client); });
    }
  }
}

void AnswerRelay::relay(int client) {
  const int server = connectUnix(serverSocket_);
  std::string tail;  // the last bytes from the server, to find a header's end across reads
  std::array<char, 65536> buffer{};
  bool open = server >= 0;
  while (open && !stopping_) {
    std::array<pollfd, 2> ready{{{client, POLLIN, 0}, {server, POLLIN, 0}}};
    if (::poll(ready.data(), ready.size(), kStopCheckMs) <= 0) {
      continue;
    }
    if ((ready[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      const ssize_t got = ::recv(client, buffer.data(), buffer.size(), 0);
      open = got > 0 && sendAll(server, buffer.data(), static_cast<std::size_t>(got));
    }
    if (open && (ready[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      const ssize_t got = ::recv(server, buffer.data(), buffer.size(), 0);
      open = got > 0 && passOn(client, buffer.data(), static_cast<std::size_t>(got), tail);
    }
  }
  if (server >= 0) {
    ::close(server);
  }
  ::close(client);
}

bool AnswerRelay::passOn(int to, const char* bytes, std::size_t size, std::string& tail) {
  std::size_t from = 0;
  for (std::size_t i = 0; i < size; ++i) {
    tail.push_back(bytes[i]);
    if (tail.size() > kHeaderEnd.size()) {
      tail.erase(0, tail.size() - kHeaderEnd.size());
    }
    if (tail != kHeaderEnd || ++headers_ % holdEvery_ != 0) {
      continue;
    }
    if (!sendAll(to, bytes + from, i + 1 - from)) {
      return false;
    }
    from = i + 1;
    ++held_;
    // The server's pause, not a test's wait: the client is to see the header and then nothing.
    std::this_thread::sleep_for(hold_);
  }
  return sendAll(to, bytes + from, size - from);
}

}  // namespace testing_support
