#include "tests/support/private_cupsd.h"

#include <cups/cups.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testing_support {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

#ifndef BATCHSPOOL_SOURCE_DIR
#error "BATCHSPOOL_SOURCE_DIR must name the source tree, where backend/capture lives"
#endif

constexpr const char* kCaptureBackendSource = BATCHSPOOL_SOURCE_DIR "/backend/capture";
constexpr const char* kSystemServerBin = "/usr/lib/cups";
// Start-up takes some 20 ms and a backend a few; these only bound a server that is broken.
constexpr auto kStartBound = std::chrono::seconds(10);
constexpr auto kJobsBound = std::chrono::seconds(20);
constexpr auto kStopBound = std::chrono::seconds(10);
constexpr auto kPollInterval = std::chrono::milliseconds(2);

// The variables that steer libcups and the tools: every one is set to this server or removed.
constexpr std::array kClientVariables = {"CUPS_SERVER", "HOME", "CUPS_SERVERROOT", "LPDEST",
                                         "PRINTER"};

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error("private cupsd: " + what);
}

[[noreturn]] void failErrno(const std::string& what) {
  fail(what + ": " + std::strerror(errno));
}

void writeFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) {
    fail("cannot write " + path.string());
  }
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void makeDir(const fs::path& path, mode_t mode) {
  if (::mkdir(path.c_str(), mode) != 0 || ::chmod(path.c_str(), mode) != 0) {
    failErrno("cannot create " + path.string());
  }
}

// The environment every tool runs in: this process's, with messages in plain English.
std::vector<std::string> toolEnvironment() {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "LC_ALL=", 7) != 0 && std::strncmp(*e, "LANG=", 5) != 0) {
      env.emplace_back(*e);
    }
  }
  env.emplace_back("LC_ALL=C");
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) {
    out.push_back(s.data());
  }
  out.push_back(nullptr);
  return out;
}

// The program a tool name stands for. The administration tools live in /usr/sbin, which a
// normal user's PATH often lacks.
std::string programPath(const std::string& name) {
  if (name.find('/') != std::string::npos) {
    return name;
  }
  const char* path = std::getenv("PATH");
  std::string dirs = path == nullptr ? "" : path;
  dirs += ":/usr/sbin:/usr/bin:/sbin:/bin";
  std::istringstream list(dirs);
  for (std::string dir; std::getline(list, dir, ':');) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  fail("no program " + name + " in PATH or /usr/sbin");
}

// Starts argv[0] with stdin from /dev/null and stdout and stderr into
// outputFd. Returns the child's pid.
pid_t spawn(const std::vector<std::string>& argv, int outputFd) {
  std::vector<std::string> args = argv;
  std::vector<std::string> env = toolEnvironment();
  std::vector<char*> argp = pointers(args);
  std::vector<char*> envp = pointers(env);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, outputFd, STDERR_FILENO);
  pid_t pid = -1;
  const std::string program = programPath(argv.at(0));
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    errno = rc;
    failErrno("cannot start " + argv[0]);
  }
  return pid;
}

struct ToolResult {
  int status = -1;
  std::string output;
};

ToolResult runTool(const std::vector<std::string>& argv) {
  std::array<int, 2> pipeFds{};
  if (::pipe2(pipeFds.data(), O_CLOEXEC) != 0) {
    failErrno("pipe");
  }
  pid_t pid = -1;
  try {
    pid = spawn(argv, pipeFds[1]);
  } catch (...) {
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    throw;
  }
  ::close(pipeFds[1]);
  ToolResult result;
  std::array<char, 4096> chunk{};
  for (;;) {
    const ssize_t got = ::read(pipeFds[0], chunk.data(), chunk.size());
    if (got > 0) {
      result.output.append(chunk.data(), static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(pipeFds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = status;
  return result;
}

std::string joinedArgs(const std::vector<std::string>& argv) {
  std::string s;
  for (const std::string& a : argv) {
    s += (s.empty() ? "" : " ") + a;
  }
  return s;
}

std::string groupName(gid_t gid) {
  const group* g = ::getgrgid(gid);
  if (g == nullptr) {
    fail("no name for group " + std::to_string(gid));
  }
  return g->gr_name;
}

// ServerBin: the system's programs by symlink, with a backend folder of our own that holds the
// system backends and a copy of the capture backend. As root, cupsd runs only root-owned
// backends of mode 0755, which a copy made here is.
void buildServerBin(const fs::path& bin) {
  makeDir(bin, 0755);
  makeDir(bin / "backend", 0755);
  for (const fs::directory_entry& entry : fs::directory_iterator(kSystemServerBin)) {
    if (entry.path().filename() != "backend") {
      fs::create_symlink(entry.path(), bin / entry.path().filename());
    }
  }
  const fs::path systemBackends = fs::path(kSystemServerBin) / "backend";
  if (fs::is_directory(systemBackends)) {
    for (const fs::directory_entry& entry : fs::directory_iterator(systemBackends)) {
      fs::create_symlink(entry.path(), bin / "backend" / entry.path().filename());
    }
  }
  const fs::path capture = bin / "backend" / "capture";
  fs::copy_file(kCaptureBackendSource, capture);
  if (::chmod(capture.c_str(), 0755) != 0) {
    failErrno("cannot chmod " + capture.string());
  }
}

std::string filesConf(const fs::path& dir) {
  std::ostringstream c;
  c << "ServerRoot " << (dir / "root").string() << "\n"
    << "RequestRoot " << (dir / "spool").string() << "\n"
    << "TempDir " << (dir / "spool" / "tmp").string() << "\n"
    << "CacheDir " << (dir / "cache").string() << "\n"
    << "StateDir " << (dir / "state").string() << "\n"
    << "ServerBin " << (dir / "bin").string() << "\n"
    << "DataDir /usr/share/cups\n"
    << "DocumentRoot /usr/share/cups/doc-root\n"
    << "AccessLog " << (dir / "log" / "access_log").string() << "\n"
    << "ErrorLog " << (dir / "log" / "error_log").string() << "\n"
    << "PageLog " << (dir / "log" / "page_log").string() << "\n"
    << "Printcap " << (dir / "printcap").string() << "\n"
    << "SystemGroup " << groupName(::getgid()) << "\n"
    << "FileDevice Yes\n";
  return c.str();
}

// The directive a cupsd.conf line sets: its first word.
std::string directiveName(const std::string& line) {
  return line.substr(0, line.find(' '));
}

std::string serverConf(const fs::path& socket, const ServerSettings& settings) {
  std::vector<std::string> directives = {
      "Listen " + socket.string(), "LogLevel warn",        "MaxLogSize 0",         "Browsing No",
      "BrowseLocalProtocols none", "WebInterface No",      "DefaultAuthType None", "MaxJobs 0",
      "PreserveJobHistory Yes",    "ErrorPolicy abort-job"};
  for (const std::string& line : settings.directives) {
    const auto same = std::find_if(directives.begin(), directives.end(), [&](const std::string& d) {
      return directiveName(d) == directiveName(line);
    });
    if (same != directives.end() && directiveName(line) != "Listen") {
      *same = line;
    } else {
      directives.push_back(line);
    }
  }
  std::ostringstream c;
  for (const std::string& line : directives) {
    c << line << "\n";
  }
  c << "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
    << "<Policy default>\n"
    << "  JobPrivateAccess all\n  JobPrivateValues none\n"
    << "  SubscriptionPrivateAccess all\n  SubscriptionPrivateValues none\n"
    << settings.policyLimits << "  <Limit All>\n    Order deny,allow\n  </Limit>\n"
    << "</Policy>\n";
  return c.str();
}

std::string describeExit(int status) {
  if (WIFEXITED(status)) {
    return "exit code " + std::to_string(WEXITSTATUS(status));
  }
  if (WIFSIGNALED(status)) {
    return std::string("signal ") + ::strsignal(WTERMSIG(status));
  }
  return "status " + std::to_string(status);
}

// The job id from a capture file name "job-ID.data"; nullopt for any other name.
std::optional<int> capturedJobId(const std::string& fileName) {
  constexpr std::string_view prefix = "job-";
  constexpr std::string_view suffix = ".data";
  if (fileName.size() <= prefix.size() + suffix.size() || !fileName.starts_with(prefix) ||
      !fileName.ends_with(suffix)) {
    return std::nullopt;
  }
  const std::string digits =
      fileName.substr(prefix.size(), fileName.size() - prefix.size() - suffix.size());
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  return std::stoi(digits);
}

}  // namespace

PrivateCupsd::PrivateCupsd(ServerSettings settings) : settings_(std::move(settings)) {
  std::string pattern = "/tmp/cups.XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    failErrno("mkdtemp");
  }
  dir_ = pattern;
  try {
    start();
  } catch (...) {
    stop();
    restoreEnvironment();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
    throw;
  }
}

PrivateCupsd::~PrivateCupsd() {
  stop();
  restoreEnvironment();
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

std::string PrivateCupsd::socketPath() const {
  return dir_ + "/sock";
}

void PrivateCupsd::start() {
  const fs::path dir = dir_;
  // cupsd as root runs backends as lp, which must reach the capture folders inside.
  if (::chmod(dir.c_str(), 0755) != 0) {
    failErrno("cannot chmod " + dir_);
  }
  for (const char* sub : {"root", "spool", "cache", "state", "log", "home", "capture"}) {
    makeDir(dir / sub, 0755);
  }
  makeDir(dir / "spool" / "tmp", 01777);
  buildServerBin(dir / "bin");
  writeFile(dir / "root" / "cups-files.conf", filesConf(dir));
  writeFile(dir / "root" / "cupsd.conf", serverConf(socketPath(), settings_));
  writeFile(dir / "root" / "client.conf", "ServerName " + socketPath() + "\n");

  pointClientsHere();

  const int logFd =
      ::open((dir / "log" / "cupsd.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (logFd < 0) {
    failErrno("cannot create the server's output file");
  }
  try {
    pid_ = spawn({"/usr/sbin/cupsd", "-f", "-c", (dir / "root" / "cupsd.conf").string(), "-s",
                  (dir / "root" / "cups-files.conf").string()},
                 logFd);
  } catch (...) {
    ::close(logFd);
    throw;
  }
  ::close(logFd);

  const auto deadline = Clock::now() + kStartBound;
  for (;;) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      fail("cupsd ended (" + describeExit(status) + "): " + readFile(dir / "log" / "cupsd.out") +
           readFile(dir / "log" / "error_log"));
    }
    // lpstat exits 0 whether or not the scheduler answers; only its text tells.
    if (runTool({"lpstat", "-r"}).output == "scheduler is running\n") {
      return;
    }
    if (Clock::now() > deadline) {
      fail("cupsd did not answer on " + socketPath() + ": " + readFile(dir / "log" / "error_log"));
    }
    std::this_thread::sleep_for(kPollInterval);
  }
}

void PrivateCupsd::stop() {
  if (pid_ <= 0) {
    return;
  }
  ::kill(pid_, SIGTERM);
  // A test may have left it stopped; a stopped process does not act on SIGTERM.
  ::kill(pid_, SIGCONT);
  const auto deadline = Clock::now() + kStopBound;
  int status = 0;
  while (::waitpid(pid_, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  pid_ = -1;
}

void PrivateCupsd::pointClientsHere() {
  for (const char* name : kClientVariables) {
    const char* value = std::getenv(name);
    savedEnvironment_.emplace_back(
        name, value == nullptr ? std::nullopt : std::optional<std::string>(value));
  }
  ::setenv("CUPS_SERVER", socketPath().c_str(), 1);
  ::setenv("HOME", (dir_ + "/home").c_str(), 1);
  ::setenv("CUPS_SERVERROOT", (dir_ + "/root").c_str(), 1);
  ::unsetenv("LPDEST");
  ::unsetenv("PRINTER");
  cupsSetServer(nullptr);
}

void PrivateCupsd::restoreEnvironment() {
  for (const auto& [name, value] : savedEnvironment_) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }
  savedEnvironment_.clear();
  cupsSetServer(nullptr);
}

void PrivateCupsd::run(const std::vector<std::string>& argv) {
  const ToolResult result = runTool(argv);
  if (!WIFEXITED(result.status) || WEXITSTATUS(result.status) != 0) {
    fail(joinedArgs(argv) + " failed (" + describeExit(result.status) + "): " + result.output);
  }
}

std::string PrivateCupsd::addCaptureQueue(const std::string& name) {
  const fs::path capture = fs::path(dir_) / "capture" / name;
  makeDir(capture, 0755);
  if (::geteuid() == 0) {
    const passwd* lp = ::getpwnam("lp");
    if (lp == nullptr || ::chown(capture.c_str(), lp->pw_uid, lp->pw_gid) != 0) {
      fail("cannot hand " + capture.string() + " to user lp");
    }
  }
  run({"lpadmin", "-p", name, "-E", "-v", "capture:" + capture.string()});
  captureDirs_[name] = capture.string();
  return capture.string();
}

void PrivateCupsd::setDefault(const std::string& name) {
  run({"lpadmin", "-d", name});
}

std::vector<PrivateCupsd::CapturedJob> PrivateCupsd::waitForJobs(const std::string& queue,
                                                                 std::size_t count) {
  const auto found = captureDirs_.find(queue);
  if (found == captureDirs_.end()) {
    fail("no capture queue " + queue);
  }
  const fs::path capture = found->second;
  const auto deadline = Clock::now() + kJobsBound;
  for (;;) {
    std::vector<int> ids;
    for (const fs::directory_entry& entry : fs::directory_iterator(capture)) {
      if (const std::optional<int> id = capturedJobId(entry.path().filename().string())) {
        ids.push_back(*id);
      }
    }
    if (ids.size() >= count) {
      std::sort(ids.begin(), ids.end());
      std::vector<CapturedJob> jobs;
      for (const int id : ids) {
        const std::string stem = "job-" + std::to_string(id);
        jobs.push_back(
            {id, readFile(capture / (stem + ".title")), readFile(capture / (stem + ".data"))});
      }
      return jobs;
    }
    if (Clock::now() > deadline) {
      fail("queue " + queue + " captured " + std::to_string(ids.size()) + " of " +
           std::to_string(count) + " jobs: " + readFile(fs::path(dir_) / "log" / "error_log"));
    }
    std::this_thread::sleep_for(kPollInterval);
  }
}

std::vector<PrivateCupsd::ServerJob> PrivateCupsd::serverJobs(const std::string& queue) {
  cups_job_t* jobs = nullptr;
  const int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue.c_str(), 0, CUPS_WHICHJOBS_ALL);
  if (n < 0) {
    fail("cannot list the jobs of " + queue + ": " + cupsLastErrorString());
  }
  std::vector<ServerJob> out;
  for (int i = 0; i < n; ++i) {
    out.push_back({jobs[i].id, jobs[i].title == nullptr ? "" : jobs[i].title,
                   static_cast<int>(jobs[i].state)});
  }
  cupsFreeJobs(n, jobs);
  std::sort(out.begin(), out.end(),
            [](const ServerJob& a, const ServerJob& b) { return a.id < b.id; });
  return out;
}

}  // namespace testing_support
