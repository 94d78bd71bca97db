#include "tests/support/loopback_printer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <utility>

namespace testing_support {

namespace {

using Clock = std::chrono::steady_clock;

// Long enough for any test of the suite, short enough that a stray printer goes away soon.
constexpr auto kLifetime = std::chrono::minutes(5);
// A backend that says nothing for this long has given up on the job.
constexpr auto kIdleBound = std::chrono::seconds(30);
constexpr auto kJobsBound = std::chrono::seconds(30);
// The lengths of LPD subcommand lines and control files are small; a data file may be large.
constexpr std::size_t kLineLimit = 1024;

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error("loopback printer: " + what);
}

[[noreturn]] void failErrno(const std::string& what) {
  fail(what + ": " + std::strerror(errno));
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Milliseconds left before `deadline`, for poll.
int msLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

// Why a connection's reading stopped before the protocol was done.
struct Broken {
  std::string why;
};

}  // namespace

struct LoopbackPrinter::State {
  Protocol protocol = Protocol::appSocket;
  std::string lpdQueue;
  int port = 0;
  int listenFd = -1;
  std::array<int, 2> stopPipe{-1, -1};
  Clock::time_point end;
  std::thread thread;

  mutable std::mutex mutex;
  std::condition_variable arrived;
  std::vector<Job> jobs;
  std::vector<std::string> faults;

  void serve();
  void serveConnection(int fd);
  void addJob(Job job) {
    const std::lock_guard lock(mutex);
    jobs.push_back(std::move(job));
    arrived.notify_all();
  }
  void addFault(std::string what) {
    const std::lock_guard lock(mutex);
    faults.push_back(std::move(what));
    arrived.notify_all();
  }
  // Waits until `fd` has bytes or has ended; false when the printer stops or its lifetime or the
  // idle bound ends first.
  bool waitReadable(int fd) const {
    const auto deadline = std::min(end, Clock::now() + kIdleBound);
    for (;;) {
      std::array<pollfd, 2> fds{pollfd{fd, POLLIN, 0}, pollfd{stopPipe[0], POLLIN, 0}};
      const int ready = ::poll(fds.data(), fds.size(), msLeft(deadline));
      if (ready < 0 && errno == EINTR) {
        continue;
      }
      if (ready <= 0 || fds[1].revents != 0) {
        return false;
      }
      return true;
    }
  }
};

namespace {

// Reads one connection through a buffer, each wait bounded by the printer's.
class Reader {
 public:
  Reader(const LoopbackPrinter::State& state, int fd) : state_(state), fd_(fd) {}

  // Bytes up to the peer's end of sending.
  std::string rest() {
    std::string out = std::move(buffer_);
    buffer_.clear();
    while (fill()) {
      out += buffer_;
      buffer_.clear();
    }
    if (!ended_) {
      throw Broken{"the connection went silent"};
    }
    return out;
  }
  // A line without its '\n'; nullopt when the peer ended cleanly before a new line began.
  std::optional<std::string> line() {
    for (;;) {
      const std::size_t newline = buffer_.find('\n');
      if (newline != std::string::npos) {
        std::string out = buffer_.substr(0, newline);
        buffer_.erase(0, newline + 1);
        return out;
      }
      if (buffer_.size() > kLineLimit) {
        throw Broken{"a command line longer than " + std::to_string(kLineLimit) + " bytes"};
      }
      if (!fill()) {
        if (ended_ && buffer_.empty()) {
          return std::nullopt;
        }
        throw Broken{ended_ ? "the connection ended inside a command line"
                            : "the connection went silent inside a command line"};
      }
    }
  }
  std::string exactly(std::size_t count) {
    while (buffer_.size() < count) {
      if (!fill()) {
        throw Broken{"the connection ended after " + std::to_string(buffer_.size()) + " of " +
                     std::to_string(count) + " bytes"};
      }
    }
    std::string out = buffer_.substr(0, count);
    buffer_.erase(0, count);
    return out;
  }

 private:
  bool fill() {
    if (ended_ || !state_.waitReadable(fd_)) {
      return false;
    }
    std::array<char, 64 * 1024> chunk{};
    for (;;) {
      const ssize_t got = ::recv(fd_, chunk.data(), chunk.size(), 0);
      if (got > 0) {
        buffer_.append(chunk.data(), static_cast<std::size_t>(got));
        return true;
      }
      if (got < 0 && errno == EINTR) {
        continue;
      }
      ended_ = true;
      return false;
    }
  }

  const LoopbackPrinter::State& state_;
  int fd_;
  std::string buffer_;
  bool ended_ = false;
};

void sendByte(int fd, char byte) {
  while (::send(fd, &byte, 1, MSG_NOSIGNAL) < 0 && errno == EINTR) {
  }
}

// "count name" of an LPD file subcommand, the count as decimal digits.
std::size_t fileLength(const std::string& operand) {
  const std::size_t space = operand.find(' ');
  const std::string digits = operand.substr(0, space);
  if (digits.empty() || digits.size() > 15 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    throw Broken{"a file subcommand without a byte count: " + operand};
  }
  return std::stoull(digits);
}

}  // namespace

void LoopbackPrinter::State::serveConnection(int fd) {
  Reader reader(*this, fd);
  try {
    if (protocol == Protocol::appSocket) {
      addJob({"", reader.rest()});
      return;
    }
    const std::optional<std::string> command = reader.line();
    if (!command) {
      return;  // a connection that asked nothing
    }
    if (command->empty() || (*command)[0] != '\x02') {
      throw Broken{
          "a daemon command other than receive-job: " +
          std::to_string(command->empty() ? 0 : static_cast<unsigned char>((*command)[0]))};
    }
    if (command->substr(1) != lpdQueue) {
      sendByte(fd, '\x01');
      throw Broken{"a job for queue " + command->substr(1) + ", not " + lpdQueue};
    }
    sendByte(fd, '\0');
    Job job;
    bool haveControl = false;
    bool haveData = false;
    while (const std::optional<std::string> sub = reader.line()) {
      const char code = sub->empty() ? '\0' : (*sub)[0];
      if (code == '\x01') {  // abort job
        sendByte(fd, '\0');
        job = {};
        haveControl = haveData = false;
        continue;
      }
      if (code != '\x02' && code != '\x03') {
        throw Broken{"an unknown receive-job subcommand"};
      }
      const std::size_t length = fileLength(sub->substr(1));
      sendByte(fd, '\0');
      std::string file = reader.exactly(length);
      if (reader.exactly(1) != std::string(1, '\0')) {
        throw Broken{"a file not followed by its zero byte"};
      }
      sendByte(fd, '\0');
      if (code == '\x02') {
        job.controlFile = std::move(file);
        haveControl = true;
      } else {
        job.data = std::move(file);
        haveData = true;
      }
    }
    if (!haveControl || !haveData) {
      throw Broken{"a job that ended without both its control file and its data file"};
    }
    addJob(std::move(job));
  } catch (const Broken& broken) {
    addFault(broken.why);
  }
}

void LoopbackPrinter::State::serve() {
  for (;;) {
    std::array<pollfd, 2> fds{pollfd{listenFd, POLLIN, 0}, pollfd{stopPipe[0], POLLIN, 0}};
    const int ready = ::poll(fds.data(), fds.size(), msLeft(end));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0 || fds[1].revents != 0) {
      return;
    }
    const Fd connection(::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC));
    if (connection.get() >= 0) {
      serveConnection(connection.get());
    }
  }
}

LoopbackPrinter::LoopbackPrinter(Protocol protocol, std::string lpdQueue)
    : state_(std::make_shared<State>()) {
  State& s = *state_;
  s.protocol = protocol;
  s.lpdQueue = std::move(lpdQueue);
  s.end = Clock::now() + kLifetime;
  s.listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s.listenFd < 0) {
    failErrno("socket");
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  if (::bind(s.listenFd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(s.listenFd, 8) != 0 ||
      ::getsockname(s.listenFd, reinterpret_cast<sockaddr*>(&addr), &length) != 0 ||
      ::pipe2(s.stopPipe.data(), O_CLOEXEC) != 0) {
    const int saved = errno;
    ::close(s.listenFd);
    errno = saved;
    failErrno("cannot listen on 127.0.0.1");
  }
  s.port = ntohs(addr.sin_port);
  s.thread = std::thread([&s] { s.serve(); });
}

LoopbackPrinter::~LoopbackPrinter() {
  State& s = *state_;
  const char stop = 's';
  while (::write(s.stopPipe[1], &stop, 1) < 0 && errno == EINTR) {
  }
  s.thread.join();
  ::close(s.listenFd);
  ::close(s.stopPipe[0]);
  ::close(s.stopPipe[1]);
}

int LoopbackPrinter::port() const {
  return state_->port;
}

std::vector<LoopbackPrinter::Job> LoopbackPrinter::waitForJobs(std::size_t count) {
  State& s = *state_;
  std::unique_lock lock(s.mutex);
  if (!s.arrived.wait_for(lock, kJobsBound, [&] { return s.jobs.size() >= count; })) {
    std::string faults;
    for (const std::string& f : s.faults) {
      faults += "; " + f;
    }
    fail("received " + std::to_string(s.jobs.size()) + " of " + std::to_string(count) +
         " jobs on port " + std::to_string(s.port) + faults);
  }
  return s.jobs;
}

std::vector<std::string> LoopbackPrinter::faults() const {
  const std::lock_guard lock(state_->mutex);
  return state_->faults;
}

}  // namespace testing_support
