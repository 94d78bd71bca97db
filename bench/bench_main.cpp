// ./dev bench: the run side by side with its peers, every comparison run alternately in the same
// process, several rounds, as ratios of medians. One line per figure, the summary last.
//
// The printer at the end is the benchmark's own: a TCP listener behind a socket:// queue of a
// private cupsd, so CUPS's own socket backend carries every job to it and a figure can say when
// the last byte was at the printer, not only when the server took it. The listener digests
// every byte, so a fast wrong delivery cannot pass.
#include <cups/cups.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench/bare_client.h"
#include "bench/counting_spooler.h"
#include "bench/figures.h"
#include "bench/listener.h"
#include "bench/startup.h"
#include "form/Unit1.h"
#include "platform/cups/cups_spooler.h"
#include "platform/toolkit/keep_alive.h"
#include "platform/toolkit/text_bytes.h"
#include "spool/print_run.h"
#include "tests/printer/silent_server.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/private_cupsd.h"
#include "tests/support/recording_spooler.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using bench::Figure;
using Clock = std::chrono::steady_clock;
using testing_support::PrivateCupsd;

constexpr const char* kQueue = "bench";
constexpr const char* kWindowTitle = "Send many files to printer";
constexpr std::size_t kSmallFiles = 1000;
constexpr std::size_t kKiB = 1024;
constexpr std::size_t kGiB = 1024 * 1024 * 1024;
// Jobs keep arriving at the printer after they are handed over; a side's wait for them fails
// only when no byte has arrived for this long.
constexpr auto kStall = std::chrono::seconds(120);
constexpr auto kIdleBound = std::chrono::seconds(60);
constexpr int kMostFailedRuns = 10;

double since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The processor time this thread has used: beside a wall-clock time, it tells how much of that
// time other work on the machine took.
double threadCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

Figure notMeasured(const std::string& what, const std::string& why) {
  Figure f{what, 0, 0, true, why};
  f.measured = false;
  return f;
}

// What the printer must receive: each job's size and digest, in no particular order.
using Delivery = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

Delivery deliveryOf(const std::vector<std::string>& contents) {
  Delivery d;
  for (const std::string& c : contents) {
    d.emplace_back(c.size(), bench::hashOf(c));
  }
  std::sort(d.begin(), d.end());
  return d;
}

// The print server with one raw socket:// queue to the benchmark's printer, and the files every
// side works on.
struct Setting {
  bench::DeliveryListener printer;
  PrivateCupsd server;
  reliability::TempFolder folder;
  // Passes that ended on a failure and were timed again.
  int failedRuns = 0;

  Setting() {
    // The printer answers no SNMP, as a plain raw port does not; without this the backend
    // waits two seconds for an answer before every job.
    server.run({"lpadmin", "-p", kQueue, "-E", "-v",
                "socket://127.0.0.1:" + std::to_string(printer.port()) + "/?snmp=false"});
  }

  // Waits until the printer holds the side's jobs, checks every byte of them, and returns the
  // seconds from `start` until the last byte of the last job was there. Then clears the
  // server's job history, so that the next side starts on an idle server with an empty queue.
  double delivered(const Delivery& expected, Clock::time_point start) {
    const std::vector<bench::DeliveryListener::Job> jobs = printer.take(expected.size(), kStall);
    Delivery got;
    Clock::time_point last = start;
    for (const bench::DeliveryListener::Job& job : jobs) {
      got.emplace_back(job.bytes, job.hash);
      last = std::max(last, job.lastByte);
    }
    std::sort(got.begin(), got.end());
    if (got != expected) {
      throw std::runtime_error("the printer received other bytes than the files hold");
    }
    settle();
    return std::chrono::duration<double>(last - start).count();
  }

  // The backend of the last job ends after the printer has closed its connection.
  void settle() {
    if (!reliability::waitFor(
            [this] {
              cups_job_t* active = nullptr;
              const int n =
                  cupsGetJobs2(CUPS_HTTP_DEFAULT, &active, kQueue, 0, CUPS_WHICHJOBS_ACTIVE);
              cupsFreeJobs(std::max(n, 0), active);
              return n == 0;
            },
            kIdleBound)) {
      throw std::runtime_error("the queue still had active jobs after the printer had them all");
    }
    server.run({"cancel", "-a", "-x", kQueue});
  }
};

// The run's pass through the CUPS layer, as the start button makes it: the real pass, the real
// spooler. Returns {handed over, delivered}.
std::vector<double> runSide(Setting& s, const std::vector<std::string>& lines,
                            const Delivery& expected) {
  testing_support::FakeControls controls;
  controls.printerBox = kQueue;
  controls.folder = s.folder.path().string();
  controls.lines = lines;
  // As the program sets it up: the window system is served while the spooler waits.
  batchcups::SpoolerSettings settings;
  settings.keepAlive = toolkit::keepWindowsAlive;
  batchcups::CupsSpooler spooler(settings);
  spool::PosixFileOpener files;
  const Clock::time_point start = Clock::now();
  spool::runPrintJob(controls, spooler, files);
  const double handedOver = since(start);
  if (controls.messages.size() != lines.size() + 1) {
    // A failed pass times less than the whole list: say so, clear up, and time it again.
    const std::size_t done = controls.messages.size() < 3 ? 0 : controls.messages.size() - 3;
    std::printf("run failed after %zu of %zu files (%s); timing it again\n", done, lines.size(),
                controls.messages.back().c_str());
    s.printer.take(done, kStall);
    s.settle();
    if (++s.failedRuns > kMostFailedRuns) {
      throw std::runtime_error("the run kept failing");
    }
    return runSide(s, lines, expected);
  }
  return {handedOver, s.delivered(expected, start)};
}

// `lp -d QUEUE -o raw FILE` for each file in a shell loop, one after the other, as an operator
// would script it.
std::vector<double> lpSide(Setting& s, const std::vector<std::string>& paths,
                           const Delivery& expected) {
  std::vector<std::string> args = {
      "sh", "-c", std::string("for f; do lp -d ") + kQueue + " -o raw \"$f\" || exit 1; done",
      "sh"};
  args.insert(args.end(), paths.begin(), paths.end());
  std::vector<char*> argv;
  for (std::string& a : args) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const Clock::time_point start = Clock::now();
  pid_t pid = 0;
  int status = 0;
  const bool ok = posix_spawnp(&pid, "sh", &quiet, nullptr, argv.data(), environ) == 0 &&
                  ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
                  WEXITSTATUS(status) == 0;
  const double handedOver = since(start);
  posix_spawn_file_actions_destroy(&quiet);
  if (!ok) {
    throw std::runtime_error("the lp loop failed");
  }
  return {handedOver, s.delivered(expected, start)};
}

std::vector<double> bareSide(Setting& s, const std::vector<std::string>& paths,
                             const Delivery& expected) {
  const Clock::time_point start = Clock::now();
  for (const std::string& path : paths) {
    if (!bench::bareClientPrint(kQueue, path)) {
      throw std::runtime_error("the bare client failed for " + path);
    }
  }
  const double handedOver = since(start);
  return {handedOver, s.delivered(expected, start)};
}

std::vector<double> floorSide(Setting& s, const std::vector<std::string>& paths,
                              const Delivery& expected) {
  const Clock::time_point start = Clock::now();
  {
    bench::FloorClient client(kQueue);
    for (const std::string& path : paths) {
      if (!client.print(path)) {
        throw std::runtime_error("the floor client failed for " + path);
      }
    }
  }
  const double handedOver = since(start);
  return {handedOver, s.delivered(expected, start)};
}

std::string perJob(double seconds, std::size_t jobs) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f ms/job", seconds * 1000 / static_cast<double>(jobs));
  return text;
}

const char* const kSmallFigures[] = {
    "1000 x 1 KiB delivered, run/lp -o raw time", "1000 x 1 KiB handed over, run/lp time",
    "1000 x 1 KiB handed over, run/bare time", "1000 x 1 KiB handed over, run/floor time"};

void smallFiles(Setting& s, int rounds, std::vector<Figure>& figures) {
  std::vector<std::string> lines;
  std::vector<std::string> paths;
  std::vector<std::string> contents;
  for (std::size_t i = 0; i < kSmallFiles; ++i) {
    lines.push_back("small/f" + std::to_string(i) + ".bin");
    contents.push_back(reliability::randomBytes(kKiB, i));
    paths.push_back(s.folder.write(lines.back(), contents.back()));
  }
  const Delivery expected = deliveryOf(contents);
  const std::vector<std::vector<double>> t = bench::alternateMany(
      {[&] { return runSide(s, lines, expected); }, [&] { return lpSide(s, paths, expected); },
       [&] { return bareSide(s, paths, expected); }, [&] { return floorSide(s, paths, expected); }},
      rounds);
  const auto& run = t[0];
  const auto& lp = t[1];
  const auto& bare = t[2];
  const auto& floor = t[3];
  const std::string delivered = "delivered: run " + perJob(run[1], kSmallFiles) + ", lp -o raw " +
                                perJob(lp[1], kSmallFiles) + ", bare client " +
                                perJob(bare[1], kSmallFiles) + ", floor client " +
                                perJob(floor[1], kSmallFiles);
  const std::string handed = "handed over: run " + perJob(run[0], kSmallFiles) + ", lp -o raw " +
                             perJob(lp[0], kSmallFiles) + ", bare client " +
                             perJob(bare[0], kSmallFiles) + ", floor client " +
                             perJob(floor[0], kSmallFiles);
  figures.push_back({kSmallFigures[0], run[1] / lp[1], 0.5, true, delivered});
  figures.push_back({kSmallFigures[1], run[0] / lp[0], 0.3, true, handed});
  figures.push_back({kSmallFigures[2], run[0] / bare[0], 1.2, true, handed});
  figures.push_back({kSmallFigures[3], run[0] / floor[0], 1.3, true, handed});
}

const char* const kBigFigures[] = {"1 GiB delivered, run/lp -o raw throughput",
                                   "1 GiB handed over, run/lp throughput"};

void oneBigFile(Setting& s, const std::string& path, const Delivery& expected, int rounds,
                std::vector<Figure>& figures) {
  const std::vector<std::vector<double>> t =
      bench::alternateMany({[&] { return runSide(s, {"big.bin"}, expected); },
                            [&] { return lpSide(s, {path}, expected); }},
                           rounds);
  const double mb = static_cast<double>(kGiB) / 1e6;
  char delivered[160];
  std::snprintf(delivered, sizeof delivered, "delivered: run %.0f MB/s, lp -o raw %.0f MB/s",
                mb / t[0][1], mb / t[1][1]);
  char handed[160];
  std::snprintf(handed, sizeof handed, "handed over: run %.0f MB/s, lp -o raw %.0f MB/s",
                mb / t[0][0], mb / t[1][0]);
  figures.push_back({kBigFigures[0], t[1][1] / t[0][1], 1.0, false, delivered});
  figures.push_back({kBigFigures[1], t[1][0] / t[0][0], 1.1, false, handed});
}

// The peak resident size, in KiB, of a process that makes one run over the one file. The
// process reports it itself: its peak as the kernel keeps it for its own memory (VmHWM), which
// unlike the rusage figure owes nothing to the parent it was started from.
long peakResidentKiB(const std::string& self, const std::string& folder, const std::string& name) {
  const std::string command = "'" + self + "' --rss-child '" + folder + "' '" + name + "'";
  FILE* child = ::popen(command.c_str(), "r");
  long kib = -1;
  if (child == nullptr || std::fscanf(child, "%ld", &kib) != 1 || ::pclose(child) != 0 ||
      kib <= 0) {
    throw std::runtime_error("the measured run over " + name + " failed");
  }
  return kib;
}

long ownPeakResidentKiB() {
  FILE* status = std::fopen("/proc/self/status", "r");
  long kib = -1;
  char line[256];
  while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr) {
    if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) {
      break;
    }
  }
  if (status != nullptr) {
    std::fclose(status);
  }
  return kib;
}

int rssChild(const std::string& folder, const std::string& name) {
  testing_support::FakeControls controls;
  controls.printerBox = kQueue;
  controls.folder = folder;
  controls.lines = {name};
  batchcups::CupsSpooler spooler;
  spool::PosixFileOpener files;
  spool::runPrintJob(controls, spooler, files);
  std::printf("%ld\n", ownPeakResidentKiB());
  return controls.messages.size() == 2 ? 0 : 1;
}

void memory(Setting& s, const std::string& self, const Delivery& big, int rounds,
            std::vector<Figure>& figures) {
  const std::string small = reliability::randomBytes(kKiB, 1);
  s.folder.write("one-KiB.bin", small);
  const Delivery oneSmall = deliveryOf({small});
  const std::string folder = s.folder.path().string();
  std::vector<double> smallKiB;
  std::vector<double> bigKiB;
  for (int i = 0; i < rounds; ++i) {
    smallKiB.push_back(static_cast<double>(peakResidentKiB(self, folder, "one-KiB.bin")));
    s.delivered(oneSmall, Clock::now());
    bigKiB.push_back(static_cast<double>(peakResidentKiB(self, folder, "big.bin")));
    s.delivered(big, Clock::now());
  }
  const double smallMedian = bench::median(smallKiB);
  const double bigMedian = bench::median(bigKiB);
  char detail[128];
  std::snprintf(detail, sizeof detail, "peak RSS %.0f KiB over 1 KiB, %.0f KiB over 1 GiB",
                smallMedian, bigMedian);
  figures.push_back(
      {"1 GiB - 1 KiB peak RSS, MiB", (bigMedian - smallMedian) / 1024, 1.0, true, detail});
}

void delivery(const std::string& self, int rounds, std::vector<Figure>& figures,
              const std::function<void(std::size_t)>& report) {
  const std::size_t first = figures.size();
  std::unique_ptr<Setting> s;
  try {
    s = std::make_unique<Setting>();
  } catch (const std::exception& e) {
    for (const char* what : kSmallFigures) {
      figures.push_back(notMeasured(what, e.what()));
    }
    for (const char* what : kBigFigures) {
      figures.push_back(notMeasured(what, e.what()));
    }
    figures.push_back(notMeasured("1 GiB - 1 KiB peak RSS, MiB", e.what()));
    report(first);
    return;
  }
  std::size_t shown = figures.size();
  try {
    smallFiles(*s, rounds, figures);
  } catch (const std::exception& e) {
    // Without the run's own figure the comparisons have no value; the others still do.
    figures.resize(shown);
    for (const char* what : kSmallFigures) {
      figures.push_back(notMeasured(what, e.what()));
    }
  }
  report(shown);
  shown = figures.size();
  try {
    std::string block = reliability::randomBytes(1 << 20, 9);
    std::string big;
    big.reserve(kGiB);
    while (big.size() < kGiB) {
      big += block;
    }
    const Delivery expected = deliveryOf({big});
    const std::string bigPath = s->folder.write("big.bin", big);
    big = std::string();
    try {
      oneBigFile(*s, bigPath, expected, rounds, figures);
    } catch (const std::exception& e) {
      figures.resize(shown);
      for (const char* what : kBigFigures) {
        figures.push_back(notMeasured(what, e.what()));
      }
    }
    memory(*s, self, expected, rounds, figures);
  } catch (const std::exception& e) {
    figures.push_back(notMeasured("1 GiB - 1 KiB peak RSS, MiB", e.what()));
  }
  report(shown);
  if (s->failedRuns > 0) {
    std::printf("note: %d run(s) ended on a failure and were timed again\n", s->failedRuns);
  }
}

// The printer box of the window in the benchmark lists the one queue.
class OneQueue final : public spool::PrinterEnumeration {
 public:
  spool::PlatformFamily family() const override { return spool::PlatformFamily::NT; }
  std::vector<spool::PrinterRecord> printers() override { return {{kQueue, ""}}; }
  spool::DefaultPrinterQuery defaultPrinter() override {
    return {spool::DefaultPrinterQuery::Outcome::Named, kQueue, 0, ""};
  }
  std::string profileDevice() override { return ""; }
};

void showAndWait(QWidget& window) {
  window.show();
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (window.windowHandle() == nullptr || !window.windowHandle()->isExposed()) {
    if (Clock::now() > deadline) {
      throw std::runtime_error("the window did not come up");
    }
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
}

constexpr std::size_t kWindowFileBytes = 200;

// A fresh folder in memory (/dev/shm) where there is one, else under /tmp. A hundred thousand
// files on a disk mounted with online discard take minutes to remove, one synchronous discard
// each; in memory they open through the same calls and go in a moment.
class MemoryFolder {
 public:
  MemoryFolder() {
    std::string pattern = (fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp");
    pattern += "/batchspool-bench.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
  }
  ~MemoryFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  MemoryFolder(const MemoryFolder&) = delete;
  MemoryFolder& operator=(const MemoryFolder&) = delete;

  const fs::path& path() const { return path_; }

  // Writes the file (and any folders it needs) and returns its full path.
  std::string write(const std::string& name, std::string_view bytes) const {
    const fs::path file = path_ / name;
    fs::create_directories(file.parent_path());
    std::FILE* out = std::fopen(file.c_str(), "wb");
    const bool ok =
        out != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (out == nullptr || std::fclose(out) != 0 || !ok) {
      throw std::runtime_error("cannot write " + file.string());
    }
    return file.string();
  }

 private:
  fs::path path_;
};

// The window's own run: the form with its real panes, its file list loaded from a list file
// through its browse button as an operator loads one, the start button's handler, and a
// spooler that only counts. Returns {seconds, seconds spent inside the spooler}.
std::vector<double> windowRun(const QString& listFile, std::size_t files) {
  bench::CountingSpooler spooler;
  OneQueue printers;
  TForm1 form(spooler, printers);
  showAndWait(form);
  form.OpenDialog1->setChooser([&](QWidget*, const QString&) { return listFile; });
  form.Button1Click();
  QApplication::processEvents();
  if (static_cast<std::size_t>(form.Memo2->blockCount()) != files) {
    throw std::runtime_error("the list did not load");
  }
  const double cpuBefore = threadCpuSeconds();
  const Clock::time_point start = Clock::now();
  form.Button3Click();
  const double took = since(start);
  const double cpu = threadCpuSeconds() - cpuBefore;
  if (spooler.documents != files || spooler.bytes != files * kWindowFileBytes ||
      static_cast<std::size_t>(form.Memo1->blockCount()) != files + 1) {
    throw std::runtime_error(
        "the window's run did not hand every file over: " + std::to_string(spooler.documents) +
        " documents of " + std::to_string(files) + ", message pane " +
        std::to_string(form.Memo1->blockCount()) + " lines");
  }
  return {took, std::chrono::duration<double>(spooler.ownTime).count(), cpu};
}

constexpr const char* kWindowFigure = "window run 100,000/10,000 files time";

// The same pass over the same files without the window: plain controls, no panes. What the
// window's run costs beyond it is the panes' and the handler's.
std::vector<double> passAlone(const std::string& folder, const std::vector<std::string>& lines) {
  bench::CountingSpooler spooler;
  testing_support::FakeControls controls;
  controls.printerBox = kQueue;
  controls.folder = folder;
  controls.lines = lines;
  spool::PosixFileOpener files;
  const Clock::time_point start = Clock::now();
  spool::runPrintJob(controls, spooler, files);
  const double took = since(start);
  if (spooler.documents != lines.size()) {
    throw std::runtime_error("the pass without the window did not hand every file over");
  }
  return {took, std::chrono::duration<double>(spooler.ownTime).count()};
}

void windowRunScaling(int rounds, std::vector<Figure>& figures) {
  try {
    const MemoryFolder folder;
    const std::string bytes = reliability::randomBytes(kWindowFileBytes, 7);
    std::string small;
    std::string large;
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < 100'000; ++i) {
      lines.push_back("folder" + std::to_string(i % 100) + "/file" + std::to_string(i) + ".prn");
      folder.write(lines.back(), bytes);
      (i < 10'000 ? small : large) += lines.back() + "\r\n";
    }
    large = small + large;
    const QString smallList = QString::fromStdString(folder.write("list-10000.txt", small));
    const QString largeList = QString::fromStdString(folder.write("list-100000.txt", large));
    const std::vector<std::vector<double>> t =
        bench::alternateMany({[&] { return windowRun(smallList, 10'000); },
                              [&] { return windowRun(largeList, 100'000); },
                              [&] { return passAlone(folder.path().string() + "/", lines); }},
                             rounds);
    const double smallShare = (t[0][0] - t[0][1]) * 1e6 / 10'000;
    const double largeShare = (t[1][0] - t[1][1]) * 1e6 / 100'000;
    const double passShare = (t[2][0] - t[2][1]) * 1e6 / 100'000;
    char detail[400];
    std::snprintf(detail, sizeof detail,
                  "10,000 files %.0f ms, 100,000 files %.0f ms; the window's share (all but the "
                  "spooler) %.1f us/file at 10,000, %.1f us/file at 100,000, of which the pass "
                  "and its files without the panes %.1f us/file; processor time 10,000 files "
                  "%.0f ms, 100,000 files %.0f ms (ratio %.2f)",
                  t[0][0] * 1e3, t[1][0] * 1e3, smallShare, largeShare, passShare, t[0][2] * 1e3,
                  t[1][2] * 1e3, t[1][2] / t[0][2]);
    figures.push_back({kWindowFigure, t[1][0] / t[0][0], 11, true, detail});
  } catch (const std::exception& e) {
    figures.push_back(notMeasured(kWindowFigure, e.what()));
  }
}

constexpr const char* kLoadFigure = "load 100,000 lines/setPlainText time";

void paneLoad(int rounds, std::vector<Figure>& figures) {
  try {
    const MemoryFolder folder;
    std::string text;
    for (int i = 0; i < 100'000; ++i) {
      text += "sub/folder" + std::to_string(i % 100) + "/file" + std::to_string(i) + ".prn\r\n";
    }
    const QString list = QString::fromStdString(folder.write("list.txt", text));
    std::string lfText;
    for (const char c : text) {
      if (c != '\r') {
        lfText.push_back(c);
      }
    }
    lfText.pop_back();
    const QString paneText = toolkit::fromBytes(lfText);
    testing_support::RecordingSpooler spooler;
    OneQueue printers;
    const std::vector<double> t = bench::alternate(
        {[&] {
           TForm1 form(spooler, printers);
           form.OpenDialog1->setChooser([&](QWidget*, const QString&) { return list; });
           const double took = bench::secondsFor([&] { form.Button1Click(); });
           if (form.Memo2->blockCount() != 100'000) {
             throw std::runtime_error("the list did not load");
           }
           return took;
         },
         [&] {
           QPlainTextEdit pane;
           return bench::secondsFor([&] { pane.setPlainText(paneText); });
         }},
        rounds * 2);
    char detail[128];
    std::snprintf(detail, sizeof detail, "load %.0f ms, setPlainText %.0f ms", t[0] * 1e3,
                  t[1] * 1e3);
    figures.push_back({kLoadFigure, t[0] / t[1], 2.0, true, detail});
  } catch (const std::exception& e) {
    figures.push_back(notMeasured(kLoadFigure, e.what()));
  }
}

constexpr const char* kStartFigure = "start-up with 20 queues, program/empty window time";
constexpr const char* kSilentFigure = "start-up against a server that never answers, s";
constexpr int kQueuesAtStart = 20;

void startUp(const std::string& binFolder, int rounds, std::vector<Figure>& figures) {
  const std::string program = binFolder + "/batchspool";
  const std::string empty = binFolder + "/batchspool_bench_empty_window";
  try {
    PrivateCupsd server;
    for (int i = 1; i <= kQueuesAtStart; ++i) {
      server.addCaptureQueue("queue" + std::to_string(i));
    }
    server.setDefault("queue1");
    // Each side gives {up, Qt started, window shown, processor time}.
    const auto stages = [](const bench::StartUp& up) {
      return std::vector<double>{up.upSeconds, up.qtSeconds, up.shownSeconds, up.cpuSeconds};
    };
    const auto programSide = [&] {
      const bench::StartUp up = bench::startAndWaitUntilUp(program, {}, std::chrono::seconds(30));
      if (up.title != kWindowTitle || up.printerItems != kQueuesAtStart || up.boxSeconds >= 0) {
        throw std::runtime_error("the program came up as \"" + up.title + "\" with " +
                                 std::to_string(up.printerItems) + " printers" +
                                 (up.boxSeconds >= 0 ? " after an error box: " + up.boxText : ""));
      }
      return stages(up);
    };
    const auto emptySide = [&] {
      return stages(bench::startAndWaitUntilUp(empty, {}, std::chrono::seconds(30)));
    };
    // The program where no server is there at all, so every look at it is refused at once: its
    // start-up without the enumeration's waits (its error box is answered at once).
    const auto noServerSide = [&] {
      return stages(bench::startAndWaitUntilUp(program, {{"CUPS_SERVER", "/nonexistent/no-server"}},
                                               std::chrono::seconds(30)));
    };
    const std::vector<std::vector<double>> m =
        bench::alternateMany({programSide, emptySide, noServerSide}, rounds * 2 + 1);
    const std::vector<double> t = {m[0][0], m[1][0]};
    const auto ms = [](const std::vector<double>& side) {
      char text[96];
      std::snprintf(text, sizeof text, "Qt up %.0f, shown %.0f, answered %.0f ms (CPU %.0f ms)",
                    side[1] * 1e3, side[2] * 1e3, side[0] * 1e3, side[3] * 1e3);
      return std::string(text);
    };
    const std::string detail = "program: " + ms(m[0]) + "; empty window: " + ms(m[1]) +
                               "; the program with no server at all: " + ms(m[2]);
    figures.push_back({kStartFigure, t[0] / t[1], 1.5, true, detail});
  } catch (const std::exception& e) {
    figures.push_back(notMeasured(kStartFigure, e.what()));
  }
  try {
    std::vector<double> up;
    std::vector<double> box;
    for (int i = 0; i < rounds; ++i) {
      // A fresh socket each time: connections the server never took fill its backlog, and a
      // full backlog refuses at once where a silent server keeps the caller waiting.
      const testing_support::SilentServer silent;
      const bench::StartUp s = bench::startAndWaitUntilUp(program, {{"CUPS_SERVER", silent.path()}},
                                                          std::chrono::seconds(60));
      if (s.title != kWindowTitle || s.printerItems != 0) {
        throw std::runtime_error("the program came up as \"" + s.title + "\" with " +
                                 std::to_string(s.printerItems) + " printers");
      }
      up.push_back(s.upSeconds);
      box.push_back(s.boxSeconds);
    }
    const double boxMedian = bench::median(box);
    char detail[160];
    if (boxMedian >= 0) {
      std::snprintf(detail, sizeof detail,
                    "window up after %.2f s; its error box came first, after %.2f s",
                    bench::median(up), boxMedian);
    } else {
      std::snprintf(detail, sizeof detail, "window up after %.2f s", bench::median(up));
    }
    figures.push_back({kSilentFigure, bench::median(up), 2.5, true, detail});
  } catch (const std::exception& e) {
    figures.push_back(notMeasured(kSilentFigure, e.what()));
  }
}

}  // namespace

// The offscreen platform says on every show of the window that it cannot pass size hints on,
// which says nothing about what is measured.
void quietOffscreenNotes(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (!text.contains(QLatin1String("propagateSizeHints"))) {
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
  }
}

// batchspool_bench [--rounds N] [--only window|start|delivery]
int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--rss-child") {
    return rssChild(argv[2], argv[3]);
  }
  int rounds = 3;
  std::string only;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--rounds") {
      rounds = std::max(1, std::atoi(argv[i + 1]));
    } else if (option == "--only") {
      only = argv[i + 1];
    }
  }
  const auto wanted = [&only](const char* part) { return only.empty() || only == part; };
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  qInstallMessageHandler(quietOffscreenNotes);
  QApplication app(argc, argv);
  const fs::path self = fs::read_symlink("/proc/self/exe");
  std::vector<Figure> figures;
  const auto report = [&figures](std::size_t from) {
    for (std::size_t i = from; i < figures.size(); ++i) {
      std::printf("%s\n", bench::describe(figures[i]).c_str());
    }
    std::fflush(stdout);
  };
  // Other work on the machine skews every figure; the load says how quiet it was.
  const auto load = [] {
    std::string text;
    if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
      char line[128] = {};
      if (std::fgets(line, sizeof line, f) != nullptr) {
        text = line;
      }
      std::fclose(f);
    }
    return text.substr(0, text.find(' ', text.find(' ', text.find(' ') + 1) + 1));
  };
  std::printf("%d rounds; load average at the start: %s\n", rounds, load().c_str());
  try {
    if (wanted("window")) {
      windowRunScaling(rounds, figures);
      paneLoad(rounds, figures);
      report(0);
    }
    if (wanted("start")) {
      const std::size_t shown = figures.size();
      startUp(self.parent_path().string(), rounds, figures);
      report(shown);
    }
    if (wanted("delivery")) {
      delivery(self.string(), rounds, figures, report);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench failed: %s\n", e.what());
    return 1;
  }
  std::printf("load average at the end: %s\n", load().c_str());
  std::printf("%s\n", bench::summary(figures).c_str());
  return 0;
}
