#include "tests/support/private_cupsd.h"

#include <arpa/inet.h>
#include <cups/cups.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
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
#include <mutex>
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
// A free port found by binding port 0 can be taken by someone else before cupsd binds it; a
// few fresh ports make that race harmless.
constexpr int kPortAttempts = 5;

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

// The environment a tool runs in: this process's, with messages in plain English and the
// variables in `overrides` ("NAME=value") in place of this process's own.
std::vector<std::string> environmentWith(const std::vector<std::string>& overrides) {
  std::vector<std::string> replaced = {"LC_ALL=", "LANG="};
  for (const std::string& o : overrides) {
    replaced.push_back(o.substr(0, o.find('=') + 1));
  }
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry = *e;
    if (std::none_of(replaced.begin(), replaced.end(),
                     [&](const std::string& name) { return entry.starts_with(name); })) {
      env.emplace_back(entry);
    }
  }
  env.emplace_back("LC_ALL=C");
  env.insert(env.end(), overrides.begin(), overrides.end());
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

// Starts argv[0] in `environment` with stdin from /dev/null and stdout and stderr into
// outputFd. Returns the child's pid.
pid_t spawn(const std::vector<std::string>& argv, std::vector<std::string> env, int outputFd) {
  std::vector<std::string> args = argv;
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

ToolResult runTool(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  std::array<int, 2> pipeFds{};
  if (::pipe2(pipeFds.data(), O_CLOEXEC) != 0) {
    failErrno("pipe");
  }
  pid_t pid = -1;
  try {
    pid = spawn(argv, env, pipeFds[1]);
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
  // Debian's cups package installs its network backends there and links those the
  // administrator chose into the backend folder; a test may print through any of them.
  const fs::path available = fs::path(kSystemServerBin) / "backend-available";
  if (fs::is_directory(available)) {
    for (const fs::directory_entry& entry : fs::directory_iterator(available)) {
      if (!fs::exists(fs::symlink_status(bin / "backend" / entry.path().filename()))) {
        fs::create_symlink(entry.path(), bin / "backend" / entry.path().filename());
      }
    }
  }
  const fs::path capture = bin / "backend" / "capture";
  fs::copy_file(kCaptureBackendSource, capture);
  if (::chmod(capture.c_str(), 0755) != 0) {
    failErrno("cannot chmod " + capture.string());
  }
}

// A port on `address` that nobody listens on now.
int freePort(const std::string& address) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    failErrno("socket");
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  if (::inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
    ::close(fd);
    fail("not an IPv4 address: " + address);
  }
  addr.sin_port = 0;
  socklen_t length = sizeof addr;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    failErrno("cannot find a free port on " + address);
  }
  ::close(fd);
  return ntohs(addr.sin_port);
}

std::string filesConf(const fs::path& dir, const ServerSettings& settings) {
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
  if (settings.encryptionRequired) {
    c << "ServerKeychain " << (dir / "ssl").string() << "\n"
      << "CreateSelfSignedCerts yes\n";
  }
  return c.str();
}

// The directive a cupsd.conf line sets: its first word.
std::string directiveName(const std::string& line) {
  return line.substr(0, line.find(' '));
}

std::string serverConf(const fs::path& socket, int port, const ServerSettings& settings) {
  std::vector<std::string> directives = {
      "Listen " + socket.string(), "LogLevel warn",        "MaxLogSize 0",         "Browsing No",
      "BrowseLocalProtocols none", "WebInterface No",      "DefaultAuthType None", "MaxJobs 0",
      "PreserveJobHistory Yes",    "ErrorPolicy abort-job"};
  if (port != 0) {
    directives.push_back("Listen " + settings.tcpAddress + ":" + std::to_string(port));
  }
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
  c << "<Location />\n  Order allow,deny\n  Allow all\n"
    << (settings.encryptionRequired ? "  Encryption Required\n" : "") << "</Location>\n"
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

// The HOME every server of this process gives its clients: one path for the process's life,
// since libcups reads HOME once per thread, when the thread first calls it; a folder of each
// server's own would leave every later server's clients reading the first one's
// ~/.cups/client.conf and lpoptions. The folder is there, emptied, while a server lives, and
// removed when the last one stops.
class ClientHome {
 public:
  static ClientHome& instance() {
    static ClientHome home;
    return home;
  }
  const std::string& path() {
    const std::lock_guard lock(mutex_);
    if (path_.empty()) {
      std::string pattern = "/tmp/cups-home.XXXXXX";
      if (::mkdtemp(pattern.data()) == nullptr) {
        failErrno("mkdtemp");
      }
      path_ = pattern;
      ::rmdir(path_.c_str());  // made again as a server starts
    }
    return path_;
  }
  void take() {
    const std::string& home = path();
    const std::lock_guard lock(mutex_);
    if (users_++ == 0) {
      std::error_code ignored;
      fs::remove_all(home, ignored);
      if (::mkdir(home.c_str(), 0700) != 0) {
        --users_;
        failErrno("cannot create " + home);
      }
    } else {
      for (const fs::directory_entry& entry : fs::directory_iterator(home)) {
        fs::remove_all(entry.path());
      }
    }
  }
  void release() {
    const std::lock_guard lock(mutex_);
    if (--users_ == 0) {
      std::error_code ignored;
      fs::remove_all(path_, ignored);
    }
  }

 private:
  ClientHome() = default;
  std::mutex mutex_;
  std::string path_;
  int users_ = 0;
};

}  // namespace

std::string PrivateCupsd::clientHome() {
  return ClientHome::instance().path();
}

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
    releaseHome();
    throw;
  }
}

PrivateCupsd::~PrivateCupsd() {
  stop();
  restoreEnvironment();
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
  releaseHome();
}

void PrivateCupsd::releaseHome() {
  if (holdsHome_) {
    ClientHome::instance().release();
    holdsHome_ = false;
  }
}

std::string PrivateCupsd::socketPath() const {
  return dir_ + "/sock";
}

std::string PrivateCupsd::logDir() const {
  return dir_ + "/log";
}

std::vector<std::string> PrivateCupsd::toolEnvironment() const {
  // The fixture's own tools always reach this server by its socket, in the clear, whichever
  // route the test gives libcups and whichever server of the test was started last.
  return environmentWith({"CUPS_SERVER=" + socketPath(), "CUPS_ENCRYPTION=IfRequested"});
}

std::string PrivateCupsd::accessLog() const {
  return readFile(fs::path(dir_) / "log" / "access_log");
}

std::string PrivateCupsd::spoolFolder() const {
  return dir_ + "/spool";
}

void PrivateCupsd::start() {
  const fs::path dir = dir_;
  // cupsd as root runs backends as lp, which must reach the capture folders inside.
  if (::chmod(dir.c_str(), 0755) != 0) {
    failErrno("cannot chmod " + dir_);
  }
  for (const char* sub : {"root", "spool", "cache", "state", "log", "capture"}) {
    makeDir(dir / sub, 0755);
  }
  makeDir(dir / "spool" / "tmp", 01777);
  ClientHome::instance().take();
  holdsHome_ = true;
  if (settings_.encryptionRequired) {
    makeDir(dir / "ssl", 0700);
  }
  buildServerBin(dir / "bin");
  writeFile(dir / "root" / "cups-files.conf", filesConf(dir, settings_));
  writeFile(dir / "root" / "client.conf", "ServerName " + socketPath() + "\n");

  pointClientsHere();

  const bool tcp = settings_.tcp || settings_.encryptionRequired;
  for (int attempt = 0; attempt < (tcp ? kPortAttempts : 1); ++attempt) {
    port_ = tcp ? freePort(settings_.tcpAddress) : 0;
    writeFile(dir / "root" / "cupsd.conf", serverConf(socketPath(), port_, settings_));
    if (startOnce()) {
      return;
    }
  }
  fail("cupsd could not listen on " + settings_.tcpAddress + " at any of " +
       std::to_string(kPortAttempts) + " free ports");
}

bool PrivateCupsd::startOnce() {
  const fs::path log = logDir();
  std::error_code ignored;
  fs::remove(log / "error_log", ignored);
  const int logFd =
      ::open((log / "cupsd.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (logFd < 0) {
    failErrno("cannot create the server's output file");
  }
  try {
    pid_ = spawn({"/usr/sbin/cupsd", "-f", "-c", dir_ + "/root/cupsd.conf", "-s",
                  dir_ + "/root/cups-files.conf"},
                 toolEnvironment(), logFd);
  } catch (...) {
    ::close(logFd);
    throw;
  }
  ::close(logFd);

  const std::string address = settings_.tcpAddress + ":" + std::to_string(port_);
  // cupsd opens every listener before it answers on any, so once the socket answers the log
  // tells whether the port was still free.
  bool socketAnswers = false;
  const auto deadline = Clock::now() + kStartBound;
  for (;;) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      fail("cupsd ended (" + describeExit(status) + "): " + readFile(log / "cupsd.out") +
           readFile(log / "error_log"));
    }
    // lpstat exits 0 whether or not the scheduler answers; only its text tells.
    if (!socketAnswers) {
      socketAnswers =
          runTool({"lpstat", "-r"}, toolEnvironment()).output == "scheduler is running\n";
      if (socketAnswers && port_ == 0) {
        return true;
      }
      if (socketAnswers &&
          readFile(log / "error_log").find("Unable to open listen socket for address " + address) !=
              std::string::npos) {
        stop();
        return false;
      }
    }
    if (socketAnswers && runTool({"lpstat", "-h", address, "-r"}, toolEnvironment()).output ==
                             "scheduler is running\n") {
      return true;
    }
    if (Clock::now() > deadline) {
      fail("cupsd did not answer on " + (socketAnswers ? address : socketPath()) + ": " +
           readFile(log / "error_log"));
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
  ::setenv("HOME", clientHome().c_str(), 1);
  ::setenv("CUPS_SERVERROOT", (dir_ + "/root").c_str(), 1);
  ::unsetenv("LPDEST");
  ::unsetenv("PRINTER");
  cupsSetServer(nullptr);
}

void PrivateCupsd::routeClients(ClientRoute route, const std::vector<std::string>& clientConf) {
  if (route != ClientRoute::socket && port_ == 0) {
    fail("a TCP route to a server that listens on its socket only");
  }
  const std::string address = settings_.tcpAddress + ":" + std::to_string(port_);
  const fs::path userConf = fs::path(clientHome()) / ".cups";
  std::error_code exists;
  fs::create_directory(userConf, exists);
  std::string text = route == ClientRoute::tcpClientConf ? "ServerName " + address + "\n" : "";
  for (const std::string& line : clientConf) {
    text += line + "\n";
  }
  writeFile(userConf / "client.conf", text);
  // A socket nobody listens on, rather than no name: libcups without a name would try the
  // machine's own server.
  writeFile(
      fs::path(dir_) / "root" / "client.conf",
      "ServerName " + (route == ClientRoute::socket ? socketPath() : dir_ + "/no-server") + "\n");
  switch (route) {
    case ClientRoute::socket:
      ::setenv("CUPS_SERVER", socketPath().c_str(), 1);
      break;
    case ClientRoute::tcpEnvironment:
      ::setenv("CUPS_SERVER", address.c_str(), 1);
      break;
    case ClientRoute::tcpClientConf:
      ::unsetenv("CUPS_SERVER");
      break;
  }
  cupsSetServer(nullptr);

  const std::string server = cupsServer();
  const int port = ippPort();
  const bool here = route == ClientRoute::socket ? server == socketPath()
                                                 : server == settings_.tcpAddress && port == port_;
  if (!here) {
    fail("libcups in this thread names " + server + ":" + std::to_string(port) + ", not " +
         (route == ClientRoute::socket ? socketPath() : address) +
         ": it read HOME or CUPS_SERVERROOT before this server set them");
  }
  // libcups reads its encryption once per thread, at the first call that needs it: a thread
  // that has not read it yet reads it from the file now; one that has is told what the file
  // says, as a process started now would read it.
  for (const std::string& line : clientConf) {
    if (directiveName(line) == "Encryption") {
      const std::string value = line.substr(line.find(' ') + 1);
      const http_encryption_t wanted = value == "Required" ? HTTP_ENCRYPTION_REQUIRED
                                       : value == "Always" ? HTTP_ENCRYPTION_ALWAYS
                                       : value == "Never"  ? HTTP_ENCRYPTION_NEVER
                                                           : HTTP_ENCRYPTION_IF_REQUESTED;
      if (cupsEncryption() != wanted) {
        cupsSetEncryption(wanted);
      }
      routedEncryption_ = true;
    }
  }
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
  if (routedEncryption_) {
    // libcups keeps what it read for this thread; the next server's clients start from CUPS's
    // own default.
    cupsSetEncryption(HTTP_ENCRYPTION_IF_REQUESTED);
    routedEncryption_ = false;
  }
}

void PrivateCupsd::run(const std::vector<std::string>& argv) {
  const ToolResult result = runTool(argv, toolEnvironment());
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

void PrivateCupsd::startQueue(const std::string& name) {
  const std::vector<std::string> argv = {"cupsenable", name};
  const ToolResult result = runTool(argv, toolEnvironment());
  // With a per-printer or per-user job limit reached, cupsd starts the printer and then answers
  // "Quota limit reached." all the same.
  if (result.status != 0 && result.output.find("client-error-not-possible") == std::string::npos) {
    fail(joinedArgs(argv) + " failed (" + describeExit(result.status) + "): " + result.output);
  }
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
  // By its own socket, as the tools: the test may have pointed libcups at another server.
  http_t* http = httpConnect2(socketPath().c_str(), 0, nullptr, AF_LOCAL,
                              HTTP_ENCRYPTION_IF_REQUESTED, 1, 30000, nullptr);
  if (http == nullptr) {
    fail("cannot reach " + socketPath() + ": " + cupsLastErrorString());
  }
  cups_job_t* jobs = nullptr;
  const int n = cupsGetJobs2(http, &jobs, queue.c_str(), 0, CUPS_WHICHJOBS_ALL);
  httpClose(http);
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
