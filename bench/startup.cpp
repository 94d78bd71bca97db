#include "bench/startup.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kProbeFd = 3;
constexpr auto kQuitBound = std::chrono::seconds(10);

// The probe is built beside the benchmark, in a folder laid out as Qt looks for plugins.
std::string pluginFolder() {
  return (fs::read_symlink("/proc/self/exe").parent_path() / "bench-plugins").string();
}

std::vector<std::string> childEnvironment(const std::map<std::string, std::string>& changes) {
  std::map<std::string, std::string> env = changes;
  env["QT_QPA_PLATFORM"] = "offscreen";
  env["QT_PLUGIN_PATH"] = pluginFolder();
  env["QT_QPA_GENERIC_PLUGINS"] = "batchspoolbenchprobe";
  env["BATCHSPOOL_BENCH_PROBE_FD"] = std::to_string(kProbeFd);
  std::vector<std::string> out;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (!env.contains(entry.substr(0, entry.find('=')))) {
      out.push_back(entry);
    }
  }
  for (const auto& [name, value] : env) {
    if (!value.empty()) {
      out.push_back(name + "=" + value);
    }
  }
  return out;
}

std::string tail(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  const std::string s = text.str();
  return s.size() > 400 ? s.substr(s.size() - 400) : s;
}

// Ends the child: it should already be on its way out; after the bound it is killed. Gives its
// status, or -1 when it had to be killed, and the processor time it used.
int reap(pid_t pid, std::chrono::milliseconds bound, double& cpuSeconds) {
  const auto deadline = Clock::now() + bound;
  int status = 0;
  rusage usage{};
  int result = 0;
  while ((result = ::wait4(pid, &status, WNOHANG, &usage)) == 0) {
    if (Clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::wait4(pid, &status, 0, &usage);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  return result == pid ? status : -1;
}

}  // namespace

StartUp startAndWaitUntilUp(const std::string& program,
                            const std::map<std::string, std::string>& environment,
                            std::chrono::milliseconds bound) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    throw std::runtime_error(std::string("socketpair: ") + std::strerror(errno));
  }
  const std::string output = "/tmp/batchspool-bench-start-" + std::to_string(::getpid()) + ".log";
  std::vector<std::string> env = childEnvironment(environment);
  std::vector<char*> envp;
  for (std::string& e : env) {
    envp.push_back(e.data());
  }
  envp.push_back(nullptr);
  std::string name = program;
  char* argv[] = {name.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fds[1], kProbeFd);

  StartUp result;
  const Clock::time_point start = Clock::now();
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
  }
  const auto seconds = [&start] {
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  [[maybe_unused]] const ssize_t asked = ::write(fds[0], "?\n", 2);

  std::string failure;
  std::string input;
  const Clock::time_point deadline = start + bound;
  bool up = false;
  while (!up && failure.empty()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{fds[0], POLLIN, 0};
    if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) == 0) {
      failure = "no window within " + std::to_string(bound.count()) + " ms";
      break;
    }
    char chunk[512];
    const ssize_t got = ::read(fds[0], chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      failure = "the program ended before its window was up";
      break;
    }
    const double now = seconds();
    input.append(chunk, static_cast<std::size_t>(got));
    for (std::size_t end; !up && (end = input.find('\n')) != std::string::npos;) {
      const std::string line = input.substr(0, end);
      input.erase(0, end + 1);
      if (line.starts_with("mark ")) {
        const std::size_t blank = line.find(' ', 5);
        const std::chrono::nanoseconds at(std::stoll(line.substr(blank + 1)));
        const double when = std::chrono::duration<double>(at - start.time_since_epoch()).count();
        (line.compare(5, blank - 5, "qt") == 0 ? result.qtSeconds : result.shownSeconds) = when;
      } else if (line.starts_with("box ")) {
        result.boxSeconds = now;
        result.boxText = line.substr(4);
      } else if (line.starts_with("up ")) {
        result.upSeconds = now;
        const std::size_t tab = line.find('\t');
        result.title = line.substr(3, tab - 3);
        result.printerItems = std::stoi(line.substr(tab + 1));
        up = true;
      }
    }
  }
  if (up) {
    [[maybe_unused]] const ssize_t told = ::write(fds[0], "quit\n", 5);
  } else {
    ::kill(pid, SIGKILL);
  }
  const int status = reap(pid, kQuitBound, result.cpuSeconds);
  ::close(fds[0]);
  if (failure.empty() && (status < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
    failure = "the program did not end with exit code 0 when asked to quit";
  }
  if (!failure.empty()) {
    failure = program + ": " + failure + "; its output: " + tail(output);
  }
  std::error_code ignored;
  fs::remove(output, ignored);
  if (!failure.empty()) {
    throw std::runtime_error(failure);
  }
  return result;
}

}  // namespace bench
