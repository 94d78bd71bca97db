// The installed program started as the menu starts it (no options), offscreen, against a print
// server of the test's own: its window must come up, showing that server's default printer.
// The window is seen from outside through the probe plugin (window_probe.cpp).
//   installed_program_tests [PROGRAM]      PROGRAM defaults to /usr/bin/batchspool
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/private_cupsd.h"
#include "tests/support/temp_folder.h"

extern char** environ;

namespace {

std::string program = "/usr/bin/batchspool";

using Clock = std::chrono::steady_clock;
// Start-up is a second or two; the bound only keeps a hung program from holding the check.
constexpr auto kWindowBound = std::chrono::seconds(30);

// The program as a child whose stdout and stderr come back through one pipe; ended and reaped
// when the test lets go of it, however the test ends.
class Child {
 public:
  Child(const std::string& path, const std::map<std::string, std::string>& extraEnvironment);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Reads output until a line beginning with `prefix` is complete, the program ends, or the
  // bound passes. Returns the line, or nothing; everything read is kept in output().
  std::optional<std::string> waitForLine(const std::string& prefix);
  const std::string& output() const { return output_; }
  // Whether the program ended by itself, and how.
  std::string endedHow() const { return ended_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
  std::string ended_;
};

Child::Child(const std::string& path, const std::map<std::string, std::string>& extraEnvironment) {
  std::map<std::string, std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
    const auto eq = text.find('=');
    if (eq != std::string::npos) {
      environment[text.substr(0, eq)] = text.substr(eq + 1);
    }
  }
  for (const auto& [name, value] : extraEnvironment) {
    environment[name] = value;
  }
  std::vector<std::string> texts;
  for (const auto& [name, value] : environment) {
    texts.push_back(name + "=" + value);
  }
  std::vector<char*> envp;
  for (auto& text : texts) {
    envp.push_back(text.data());
  }
  envp.push_back(nullptr);

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
  std::string argv0 = path;
  char* const argv[] = {argv0.data(), nullptr};
  const int error = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  out_ = fds[0];
  if (error != 0) {
    ::close(out_);
    throw std::runtime_error("cannot start " + path + ": " + std::strerror(error));
  }
}

Child::~Child() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  ::close(out_);
}

std::optional<std::string> Child::waitForLine(const std::string& prefix) {
  const auto deadline = Clock::now() + kWindowBound;
  std::size_t scanned = 0;
  for (;;) {
    for (std::size_t end; (end = output_.find('\n', scanned)) != std::string::npos;
         scanned = end + 1) {
      if (output_.compare(scanned, prefix.size(), prefix) == 0) {
        return output_.substr(scanned, end - scanned);
      }
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      return std::nullopt;
    }
    pollfd fd{out_, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(left)) < 0 && errno != EINTR) {
      return std::nullopt;
    }
    char buffer[4096];
    const ssize_t got = fd.revents != 0 ? ::read(out_, buffer, sizeof buffer) : 0;
    if (got > 0) {
      output_.append(buffer, static_cast<std::size_t>(got));
      continue;
    }
    if (fd.revents != 0 && got == 0) {  // every writer has gone: the program has ended
      int status = 0;
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      pid_ = -1;
      ended_ = WIFEXITED(status) ? "exited with " + std::to_string(WEXITSTATUS(status))
                                 : "killed by signal " + std::to_string(WTERMSIG(status));
      return std::nullopt;
    }
  }
}

// The probe's line as field name -> value.
std::map<std::string, std::string> fields(const std::string& line) {
  std::map<std::string, std::string> result;
  std::size_t start = line.find('\t');
  while (start != std::string::npos) {
    const std::size_t end = line.find('\t', start + 1);
    const std::string field =
        line.substr(start + 1, end == std::string::npos ? end : end - start - 1);
    const std::size_t eq = field.find('=');
    result[field.substr(0, eq)] = eq == std::string::npos ? "" : field.substr(eq + 1);
    start = end;
  }
  return result;
}

TEST(InstalledProgram, OpensItsWindowOffscreenOnThePrintServerItIsPointedAt) {
  // The server puts CUPS_SERVER (and HOME) into this process's environment, which the program
  // inherits; its default queue has a name no other server has.
  testing_support::PrivateCupsd server;
  server.addCaptureQueue("installed_check");
  server.setDefault("installed_check");
  testing_support::TempFolder runtime;
  std::filesystem::permissions(runtime.path(), std::filesystem::perms::owner_all);

  Child child(program, {{"QT_QPA_PLATFORM", "offscreen"},
                        {"QT_PLUGIN_PATH", WINDOW_PROBE_PLUGIN_PATH},
                        {"QT_QPA_GENERIC_PLUGINS", "windowprobe"},
                        {"XDG_RUNTIME_DIR", runtime.path().string()}});
  const std::optional<std::string> line = child.waitForLine("windowprobe\t");
  ASSERT_TRUE(line) << program << " showed no window within the bound"
                    << (child.endedHow().empty() ? "" : "; it " + child.endedHow())
                    << "; its output:\n"
                    << child.output();
  const auto seen = fields(*line);
  EXPECT_EQ(seen.at("platform"), "offscreen");
  EXPECT_EQ(seen.at("title"), "Send many files to printer") << child.output();
  EXPECT_EQ(seen.at("ComboBox1"), "installed_check") << child.output();
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc > 1) {
    program = argv[1];
  }
  return RUN_ALL_TESTS();
}
