// ./dev bench: the run side by side with its peers on one private cupsd, every comparison run
// alternately in the same process, several rounds, as ratios of medians. One line per figure,
// the summary last.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bare_client.h"
#include "bench/figures.h"
#include "form/Unit1.h"
#include "platform/cups/cups_spooler.h"
#include "platform/toolkit/text_bytes.h"
#include "spool/print_run.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/private_cupsd.h"
#include "tests/support/recording_spooler.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using bench::Figure;
using testing_support::PrivateCupsd;

constexpr const char* kQueue = "bench";
constexpr std::size_t kSmallFiles = 1000;
constexpr std::size_t kKiB = 1024;
constexpr std::size_t kGiB = 1024 * 1024 * 1024;
// Jobs keep arriving at the capture folder after they are handed over; a side's wait for them
// fails only when none has arrived for this long.
constexpr auto kStall = std::chrono::seconds(120);

// The print server and the files every side works on.
struct Setting {
  PrivateCupsd server;
  fs::path capture = server.addCaptureQueue(kQueue);
  reliability::TempFolder folder;
  // Passes that ended on a failure and were timed again.
  int failedRuns = 0;
};

// Waits until the side's jobs have all been captured, then clears them away so that the next
// side starts on an idle server with an empty queue.
void drain(Setting& s, std::size_t jobs) {
  if (!reliability::waitForCapturedJobs(s.capture, jobs, kStall)) {
    throw std::runtime_error("only " + std::to_string(reliability::capturedJobCount(s.capture)) +
                             " of " + std::to_string(jobs) + " jobs arrived");
  }
  s.server.run({"cancel", "-a", "-x", kQueue});
  for (const fs::directory_entry& e : fs::directory_iterator(s.capture)) {
    fs::remove(e.path());
  }
}

constexpr int kMostFailedRuns = 10;

// The run's pass through the CUPS layer, as the start button makes it.
double runSide(Setting& s, const std::vector<std::string>& lines) {
  testing_support::FakeControls controls;
  controls.printerBox = kQueue;
  controls.folder = s.folder.path().string();
  controls.lines = lines;
  batchcups::CupsSpooler spooler;
  spool::PosixFileOpener files;
  const double t = bench::secondsFor([&] { spool::runPrintJob(controls, spooler, files); });
  if (controls.messages.size() != lines.size() + 1) {
    // A failed pass times less than the whole list: say so, clear up, and time it again.
    std::printf("run failed after %zu of %zu files (%s); timing it again\n",
                controls.messages.size() - 2, lines.size(), controls.messages.back().c_str());
    drain(s, controls.messages.size() - 3);
    if (++s.failedRuns > kMostFailedRuns) {
      throw std::runtime_error("the run kept failing");
    }
    return runSide(s, lines);
  }
  drain(s, lines.size());
  return t;
}

// One `lp -d QUEUE -o raw FILE` per file, one after the other, as an operator would script it.
double lpSide(Setting& s, const std::vector<std::string>& paths) {
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const double t = bench::secondsFor([&] {
    for (const std::string& path : paths) {
      const char* argv[] = {"lp", "-d", kQueue, "-o", "raw", path.c_str(), nullptr};
      pid_t pid = 0;
      int status = 0;
      if (posix_spawnp(&pid, "lp", &quiet, nullptr, const_cast<char**>(argv), environ) != 0 ||
          ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("lp failed for " + path);
      }
    }
  });
  posix_spawn_file_actions_destroy(&quiet);
  drain(s, paths.size());
  return t;
}

double bareSide(Setting& s, const std::vector<std::string>& paths) {
  const double t = bench::secondsFor([&] {
    for (const std::string& path : paths) {
      if (!bench::bareClientPrint(kQueue, path)) {
        throw std::runtime_error("the bare client failed for " + path);
      }
    }
  });
  drain(s, paths.size());
  return t;
}

std::string perJob(double seconds, std::size_t jobs) {
  return std::to_string(seconds * 1000 / static_cast<double>(jobs)).substr(0, 5) + " ms/job";
}

void smallFiles(Setting& s, int rounds, std::vector<Figure>& figures) {
  std::vector<std::string> lines;
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < kSmallFiles; ++i) {
    lines.push_back("small/f" + std::to_string(i) + ".bin");
    paths.push_back(s.folder.write(lines.back(), reliability::randomBytes(kKiB, i)));
  }
  const std::vector<double> t =
      bench::alternate({[&] { return runSide(s, lines); }, [&] { return lpSide(s, paths); },
                        [&] { return bareSide(s, paths); }},
                       rounds);
  const std::string times = "run " + perJob(t[0], kSmallFiles) + ", lp " +
                            perJob(t[1], kSmallFiles) + ", bare client " +
                            perJob(t[2], kSmallFiles);
  figures.push_back({"1000 x 1 KiB, run/lp time", t[0] / t[1], 0.3, true, times});
  figures.push_back({"1000 x 1 KiB, run/bare time", t[0] / t[2], 1.2, true, times});
}

void oneBigFile(Setting& s, const std::string& path, int rounds, std::vector<Figure>& figures) {
  const std::vector<double> t = bench::alternate(
      {[&] { return runSide(s, {"big.bin"}); }, [&] { return lpSide(s, {path}); }}, rounds);
  const double mb = static_cast<double>(kGiB) / 1e6;
  char detail[128];
  std::snprintf(detail, sizeof detail, "run %.0f MB/s, lp -o raw %.0f MB/s", mb / t[0], mb / t[1]);
  figures.push_back({"1 GiB, run/lp throughput", t[1] / t[0], 1.1, false, detail});
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

void memory(Setting& s, const std::string& self, int rounds, std::vector<Figure>& figures) {
  s.folder.write("one-KiB.bin", reliability::randomBytes(kKiB, 1));
  const std::string folder = s.folder.path().string();
  std::vector<double> small;
  std::vector<double> big;
  for (int i = 0; i < rounds; ++i) {
    small.push_back(static_cast<double>(peakResidentKiB(self, folder, "one-KiB.bin")));
    drain(s, 1);
    big.push_back(static_cast<double>(peakResidentKiB(self, folder, "big.bin")));
    drain(s, 1);
  }
  const double smallKiB = bench::median(small);
  const double bigKiB = bench::median(big);
  char detail[128];
  std::snprintf(detail, sizeof detail, "peak RSS %.0f KiB over 1 KiB, %.0f KiB over 1 GiB",
                smallKiB, bigKiB);
  figures.push_back({"1 GiB - 1 KiB peak RSS, MiB", (bigKiB - smallKiB) / 1024, 1.0, true, detail});
}

// A list as an operator writes one: mostly names (of a handful of files, so the fake's own
// lookups stay flat), some comments and empty lines.
std::vector<std::string> listOf(std::size_t n) {
  std::vector<std::string> lines;
  lines.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    lines.push_back(i % 10 == 3   ? "# section " + std::to_string(i)
                    : i % 10 == 7 ? ""
                                  : "sub/file" + std::to_string(i % 16) + ".prn");
  }
  return lines;
}

double recordedPass(const std::vector<std::string>& lines) {
  testing_support::FakeControls controls;
  controls.printerBox = kQueue;
  controls.folder = "/out";
  controls.lines = lines;
  testing_support::MemoryFiles files;
  for (int i = 0; i < 16; ++i) {
    files.add("/out/sub/file" + std::to_string(i) + ".prn", std::string(100, 'x'));
  }
  testing_support::RecordingSpooler spooler;
  return bench::secondsFor([&] { spool::printListedFiles(controls, spooler, files); });
}

void passScaling(int rounds, std::vector<Figure>& figures) {
  const std::vector<std::string> small = listOf(10'000);
  const std::vector<std::string> large = listOf(100'000);
  const std::vector<double> t = bench::alternate(
      {[&] { return recordedPass(small); }, [&] { return recordedPass(large); }}, rounds * 3);
  char detail[128];
  std::snprintf(detail, sizeof detail, "10,000 lines %.2f ms, 100,000 lines %.2f ms", t[0] * 1e3,
                t[1] * 1e3);
  figures.push_back({"pass 100,000/10,000 lines time", t[1] / t[0], 12, true, detail});
  figures.push_back({"pass us per line", t[1] * 1e6 / 100'000, 1.0, true, detail});
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

void paneLoad(Setting& s, int rounds, std::vector<Figure>& figures) {
  std::string text;
  for (int i = 0; i < 100'000; ++i) {
    text += "sub/folder" + std::to_string(i % 100) + "/file" + std::to_string(i) + ".prn\r\n";
  }
  const QString list = QString::fromStdString(s.folder.write("list.txt", text));
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
  figures.push_back({"load 100,000 lines/setPlainText time", t[0] / t[1], 2.0, true, detail});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--rss-child") {
    return rssChild(argv[2], argv[3]);
  }
  const int rounds = argc == 3 && std::string(argv[1]) == "--rounds" ? std::atoi(argv[2]) : 3;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  try {
    Setting s;
    std::vector<Figure> figures;
    const auto report = [&figures](std::size_t from) {
      for (std::size_t i = from; i < figures.size(); ++i) {
        std::printf("%s\n", bench::describe(figures[i]).c_str());
        std::fflush(stdout);
      }
    };
    passScaling(rounds, figures);
    paneLoad(s, rounds, figures);
    report(0);
    std::size_t shown = figures.size();
    try {
      smallFiles(s, rounds, figures);
    } catch (const std::exception& e) {
      // Without the run's own figure the comparison has no value; the others still do.
      for (const char* what : {"1000 x 1 KiB, run/lp time", "1000 x 1 KiB, run/bare time"}) {
        Figure missing{what, 0, 0, true, e.what()};
        missing.measured = false;
        figures.push_back(missing);
      }
    }
    report(shown);
    shown = figures.size();
    std::string block = reliability::randomBytes(1 << 20, 9);
    std::string big;
    big.reserve(kGiB);
    while (big.size() < kGiB) {
      big += block;
    }
    const std::string bigPath = s.folder.write("big.bin", big);
    big = std::string();
    oneBigFile(s, bigPath, rounds, figures);
    memory(s, fs::read_symlink("/proc/self/exe").string(), rounds, figures);
    report(shown);
    if (s.failedRuns > 0) {
      std::printf("note: %d run(s) ended on a failure and were timed again\n", s.failedRuns);
    }
    std::printf("%s\n", bench::summary(figures).c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench failed: %s\n", e.what());
    return 1;
  }
  return 0;
}
