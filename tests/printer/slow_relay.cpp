#include "tests/printer/slow_relay.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <stdexcept>
#include <string_view>

namespace testing_support {

namespace {

sockaddr_un unixAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof(address.sun_path) - 1);
  return address;
}

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::send(fd, data, size, MSG_NOSIGNAL);
    if (written <= 0) {
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// The Content-Length of an answer's header; 0 when it names none.
std::size_t contentLength(std::string_view header) {
  std::string lower(header);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::size_t field = lower.find("\r\ncontent-length:");
  if (field == std::string::npos) {
    return 0;
  }
  return std::stoul(lower.substr(field + 17));
}

}  // namespace

SlowRelay::SlowRelay(std::string serverSocket, std::chrono::milliseconds bodyDelay)
    : serverSocket_(std::move(serverSocket)),
      bodyDelay_(bodyDelay),
      path_((std::filesystem::temp_directory_path() /
             ("batchspool-relay-" + std::to_string(::getpid()) + ".sock"))
                .string()),
      listenFd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
  std::filesystem::remove(path_);
  const sockaddr_un address = unixAddress(path_);
  if (listenFd_ < 0 ||
      ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(listenFd_, 16) != 0) {
    if (listenFd_ >= 0) {
      ::close(listenFd_);
    }
    throw std::runtime_error("cannot listen on " + path_);
  }
  acceptor_ = std::thread([this] { acceptLoop(); });
}

SlowRelay::~SlowRelay() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    ::shutdown(listenFd_, SHUT_RDWR);
    for (const int fd : fds_) {
      ::shutdown(fd, SHUT_RDWR);
    }
  }
  stopped_.notify_all();
  acceptor_.join();
  for (auto& thread : threads_) {
    thread.join();
  }
  for (const int fd : fds_) {
    ::close(fd);
  }
  ::close(listenFd_);
  std::filesystem::remove(path_);
}

void SlowRelay::acceptLoop() {
  for (;;) {
    const int client = ::accept(listenFd_, nullptr, nullptr);
    if (client < 0) {
      return;  // shut down
    }
    const int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const sockaddr_un address = unixAddress(serverSocket_);
    const std::lock_guard lock(mutex_);
    fds_.push_back(client);
    if (server >= 0) {
      fds_.push_back(server);
    }
    if (stopping_ || server < 0 ||
        ::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
      ::shutdown(client, SHUT_RDWR);
      if (stopping_) {
        return;
      }
      continue;
    }
    threads_.emplace_back([this, client, server] { clientToServer(client, server); });
    threads_.emplace_back([this, client, server] { serverToClient(server, client); });
  }
}

void SlowRelay::clientToServer(int client, int server) {
  char buffer[16384];
  for (;;) {
    const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
    if (got <= 0 || !writeAll(server, buffer, static_cast<std::size_t>(got))) {
      break;
    }
  }
  ::shutdown(server, SHUT_WR);
}

bool SlowRelay::pause() {
  std::unique_lock lock(mutex_);
  return !stopped_.wait_for(lock, bodyDelay_, [this] { return stopping_; });
}

// Answers are split at the end of each header; what follows the header up to its
// Content-Length is the body, held back before it is passed on.
void SlowRelay::serverToClient(int server, int client) {
  std::string pending;
  std::size_t bodyLeft = 0;
  char buffer[16384];
  for (;;) {
    const ssize_t got = ::recv(server, buffer, sizeof buffer, 0);
    if (got <= 0) {
      break;
    }
    pending.append(buffer, static_cast<std::size_t>(got));
    bool open = true;
    while (open && !pending.empty()) {
      if (bodyLeft > 0) {
        const std::size_t part = std::min(bodyLeft, pending.size());
        open = writeAll(client, pending.data(), part);
        pending.erase(0, part);
        bodyLeft -= part;
        continue;
      }
      const std::size_t end = pending.find("\r\n\r\n");
      if (end == std::string::npos) {
        break;  // the rest of the header is still to come
      }
      const std::string header = pending.substr(0, end + 4);
      pending.erase(0, end + 4);
      open = writeAll(client, header.data(), header.size());
      bodyLeft = contentLength(header);
      if (open && bodyLeft > 0) {
        ++heldBack_;
        open = pause();
      }
    }
    if (!open) {
      break;
    }
  }
  ::shutdown(client, SHUT_WR);
}

}  // namespace testing_support
