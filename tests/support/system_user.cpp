#include "tests/support/system_user.h"

#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <random>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace testing_support {
namespace {

using Clock = std::chrono::steady_clock;

// The shadow tools take a lock on the password files and give up at once when another test
// holds it; the lock is held for milliseconds.
constexpr auto kLockBound = std::chrono::seconds(20);
constexpr auto kLockRetry = std::chrono::milliseconds(20);

struct ToolResult {
  int status = -1;
  std::string output;
};

bool succeeded(const ToolResult& result) {
  return WIFEXITED(result.status) && WEXITSTATUS(result.status) == 0;
}

// Runs the tool with `input` on its standard input (so that a password never appears among a
// process's arguments) and its output captured.
ToolResult runTool(std::vector<std::string> argv, const std::string& input) {
  std::array<int, 2> in{};
  std::array<int, 2> out{};
  if (::pipe2(in.data(), O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
  if (::pipe2(out.data(), O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
  std::vector<char*> args;
  for (std::string& a : argv) {
    args.push_back(a.data());
  }
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  if (rc != 0) {
    ::close(in[1]);
    ::close(out[0]);
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  }
  // The input is a line or two, well within a pipe's buffer.
  const ssize_t written = ::write(in[1], input.data(), input.size());
  ::close(in[1]);
  ToolResult result;
  std::array<char, 1024> chunk{};
  for (;;) {
    const ssize_t got = ::read(out[0], chunk.data(), chunk.size());
    if (got > 0) {
      result.output.append(chunk.data(), static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(out[0]);
  while (::waitpid(pid, &result.status, 0) < 0 && errno == EINTR) {
  }
  if (written != static_cast<ssize_t>(input.size())) {
    result.output += "\n(its input could not be written whole)";
    result.status = -1;
  }
  return result;
}

// Runs the tool, again while another process holds the password files' lock.
ToolResult runShadowTool(const std::vector<std::string>& argv, const std::string& input = {}) {
  const auto deadline = Clock::now() + kLockBound;
  for (;;) {
    ToolResult result = runTool(argv, input);
    const bool locked = result.output.find("lock") != std::string::npos;
    if (succeeded(result) || !locked || Clock::now() > deadline) {
      return result;
    }
    std::this_thread::sleep_for(kLockRetry);
  }
}

// Every name a process makes begins with this.
std::string namePrefix(pid_t pid) {
  return "bsp" + std::to_string(pid) + "x";
}

std::string uniqueName() {
  static std::atomic<int> made = 0;
  return namePrefix(::getpid()) + std::to_string(made++);
}

void removeUser(const std::string& name) {
  const ToolResult removed = runShadowTool({"/usr/sbin/userdel", "--remove", name});
  if (!succeeded(removed)) {
    std::cerr << "userdel --remove " << name << " failed: " << removed.output << "\n";
  }
}

std::string randomPassword() {
  static constexpr std::string_view kAlphabet =
      "abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
  std::random_device device;
  std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
  std::string password;
  for (int i = 0; i < 20; ++i) {
    password.push_back(kAlphabet[pick(device)]);
  }
  return password;
}

}  // namespace

SystemUser::SystemUser() : name_(uniqueName()), password_(randomPassword()) {
  const ToolResult added =
      runShadowTool({"/usr/sbin/useradd", "--create-home", "--shell", "/bin/sh", name_});
  if (!succeeded(added)) {
    throw std::runtime_error("useradd " + name_ + " failed: " + added.output);
  }
  const ToolResult set = runShadowTool({"/usr/sbin/chpasswd"}, name_ + ":" + password_ + "\n");
  if (!succeeded(set)) {
    runShadowTool({"/usr/sbin/userdel", "--remove", name_});
    throw std::runtime_error("chpasswd for " + name_ + " failed: " + set.output);
  }
}

SystemUser::~SystemUser() {
  removeUser(name_);
}

void SystemUser::removeLeftBy(pid_t pid) {
  const std::string prefix = namePrefix(pid);
  std::vector<std::string> left;
  ::setpwent();
  while (const passwd* entry = ::getpwent()) {
    if (std::string_view(entry->pw_name).starts_with(prefix)) {
      left.emplace_back(entry->pw_name);
    }
  }
  ::endpwent();
  for (const std::string& name : left) {
    removeUser(name);
  }
}

}  // namespace testing_support
