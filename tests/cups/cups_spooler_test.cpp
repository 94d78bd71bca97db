// The CUPS spooler against a real cupsd of the tests' own, driven through the real pass.

#include "platform/cups/cups_spooler.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "spool/job_name.h"
#include "spool/print_run.h"
#include "spool/source_file.h"
#include "tests/support/private_cupsd.h"
#include "tests/support/random_bytes.h"
#include "tests/support/recording_spooler.h"

namespace {

using testing_support::randomBytes;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing_support::FakeControls;
using testing_support::PrivateCupsd;

constexpr int kJobCancelled = 7;  // IPP job-state canceled
// How long a slow machine may take beyond the bound to notice it and clean up.
constexpr auto kBoundMargin = std::chrono::milliseconds(3000);

class CupsSpoolerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = std::make_unique<PrivateCupsd>(); }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    ASSERT_NE(server_, nullptr) << "the private cupsd did not start";
    queue_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    server_->addCaptureQueue(queue_);
    std::string pattern = "/tmp/batchspool-files.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    controls_.printerBox = queue_;
    controls_.folder = folder_.string();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  // Writes a print file under the folder and lists it; returns its full path.
  std::string addFile(const std::string& name, const std::string& bytes) {
    const fs::path path = folder_ / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    controls_.lines.push_back(name);
    return path.string();
  }

  void runPass(spool::Spooler& spooler) {
    spool::PosixFileOpener files;
    spool::runPrintJob(controls_, spooler, files);
  }

  static inline std::unique_ptr<PrivateCupsd> server_;
  std::string queue_;
  fs::path folder_;
  FakeControls controls_;
};

// Whatever the test does to the server, it answers again before anything else is torn down.
struct ResumeOnExit {
  pid_t pid;
  ~ResumeOnExit() { ::kill(pid, SIGCONT); }
};

TEST_F(CupsSpoolerTest, EveryFileArrivesByteForByteNamedByItsPath) {
  struct Case {
    std::string name;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"random.bin", randomBytes(100'003, 1)},
      {"text.txt", "line one\r\nline two\n\ttabbed \r\n\n"},
      {"page.ps",
       "%!PS-Adobe-3.0\n/Courier findfont 12 scalefont setfont\n72 720 moveto\n"
       "(Hello) show\nshowpage\n%%EOF\n"},
      {"empty.prn", ""},
      {"one-byte.bin", std::string(1, '\0')},
      {"one-piece.bin", randomBytes(4096, 2)},
      {"exactly-32KiB.bin", randomBytes(32 * 1024, 3)},
      {"32KiB-and-one.bin", randomBytes(32 * 1024 + 1, 4)},
      {"several-MiB.bin", randomBytes(5 * 1024 * 1024 + 7, 5)},
  };
  std::vector<std::string> expectedMessages = {"printer name : " + queue_};
  std::vector<std::pair<std::string, const std::string*>> expectedJobs;  // path, bytes
  std::string emptyPath;
  for (const Case& c : cases) {
    const std::string path = addFile(c.name, c.bytes);
    expectedMessages.push_back("manage " + path);
    if (c.bytes.empty()) {
      emptyPath = path;
    } else {
      expectedJobs.emplace_back(path, &c.bytes);
    }
  }

  batchcups::CupsSpooler spooler;
  runPass(spooler);

  EXPECT_EQ(controls_.messages, expectedMessages);
  const std::vector<PrivateCupsd::CapturedJob> captured =
      server_->waitForJobs(queue_, expectedJobs.size());
  ASSERT_EQ(captured.size(), expectedJobs.size());
  for (std::size_t i = 0; i < captured.size(); ++i) {
    SCOPED_TRACE(expectedJobs[i].first);
    EXPECT_EQ(captured[i].title, expectedJobs[i].first);
    EXPECT_EQ(captured[i].bytes.size(), expectedJobs[i].second->size());
    EXPECT_TRUE(captured[i].bytes == *expectedJobs[i].second) << "the bytes differ";
  }
  // The empty file made a job of its own, which was dropped rather than left held.
  const std::vector<PrivateCupsd::ServerJob> jobs = server_->serverJobs(queue_);
  ASSERT_EQ(jobs.size(), cases.size());
  std::size_t emptyJobs = 0;
  for (const PrivateCupsd::ServerJob& job : jobs) {
    if (job.title == emptyPath) {
      ++emptyJobs;
      EXPECT_EQ(job.state, kJobCancelled);
    }
  }
  EXPECT_EQ(emptyJobs, 1u);
}

TEST_F(CupsSpoolerTest, JobNameIsThePathMadeFitForTheServer) {
  const std::vector<std::string> names = {
      std::string(120, 'd') + "/" + std::string(200, 'n') + ".prn",  // over 255 bytes
      "caf\xE9-\xFF\xFE.prn",                                        // not UTF-8
  };
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < names.size(); ++i) {
    paths.push_back(addFile(names[i], "job " + std::to_string(i)));
  }

  batchcups::CupsSpooler spooler;
  runPass(spooler);

  const std::vector<PrivateCupsd::CapturedJob> captured =
      server_->waitForJobs(queue_, names.size());
  ASSERT_EQ(captured.size(), names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_NE(captured[i].title, paths[i]);
    EXPECT_EQ(captured[i].title, spool::jobNameForPath(paths[i]));
    EXPECT_EQ(captured[i].bytes, "job " + std::to_string(i));
  }
}

TEST_F(CupsSpoolerTest, RefusalsEndThePassWithTheirMessage) {
  struct Case {
    std::string label;
    std::function<std::string(const std::string& queue)> prepare;  // returns the printer box
    std::string failure;                                           // with %s for the name
  };
  const std::vector<Case> cases = {
      {"unknown printer", [](const std::string&) { return std::string("no-such-queue"); },
       "OpenPrinter for no-such-queue failed. Terminated."},
      {"queue rejecting jobs",
       [](const std::string& queue) {
         server_->run({"cupsreject", queue});
         return queue;
       },
       "StartDocPrinter failed. Terminated."},
  };
  const std::string first = addFile("first.prn", "never printed");
  addFile("second.prn", "never reached");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    controls_.messages.clear();
    controls_.printerBox = c.prepare(queue_);

    batchcups::CupsSpooler spooler;
    runPass(spooler);

    const std::vector<std::string> expected = {"printer name : " + controls_.printerBox,
                                               "manage " + first, c.failure};
    EXPECT_EQ(controls_.messages, expected);
    EXPECT_TRUE(server_->serverJobs(queue_).empty());
  }
}

TEST_F(CupsSpoolerTest, DocumentDroppedPartWayIsCancelledNotPrinted) {
  struct Case {
    std::string label;
    bool cancelExplicitly;  // else the handle is destroyed with the document still open
  };
  const std::vector<Case> cases = {{"cancelDocument", true}, {"handle destroyed", false}};
  // More than one send buffer, so part of the document has already reached the server.
  const std::string piece = randomBytes(spool::kPieceSize, 7);
  constexpr int kPieces = 40;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].label);
    const std::string name = "/tmp/dropped-" + std::to_string(i) + ".prn";
    batchcups::CupsSpooler spooler;
    std::unique_ptr<spool::PrinterHandle> handle = spooler.open(queue_);
    ASSERT_NE(handle, nullptr);
    ASSERT_TRUE(handle->startDocument(name));
    for (int p = 0; p < kPieces; ++p) {
      ASSERT_TRUE(handle->write(std::as_bytes(std::span(piece))));
    }
    if (cases[i].cancelExplicitly) {
      handle->cancelDocument();
    }
    handle.reset();

    const std::vector<PrivateCupsd::ServerJob> jobs = server_->serverJobs(queue_);
    ASSERT_EQ(jobs.size(), i + 1);
    EXPECT_EQ(jobs.back().title, name);
    EXPECT_EQ(jobs.back().state, kJobCancelled);
  }
}

TEST_F(CupsSpoolerTest, OpenFailsWithinTheBoundWhenTheServerDoesNotAnswer) {
  addFile("a.prn", "held back");
  const auto bound = std::chrono::milliseconds(2000);
  batchcups::CupsSpooler spooler(bound);
  ASSERT_EQ(::kill(server_->pid(), SIGSTOP), 0);
  const ResumeOnExit resume{server_->pid()};

  const auto started = Clock::now();
  runPass(spooler);
  const auto elapsed = Clock::now() - started;

  ASSERT_EQ(controls_.messages.size(), 3u);
  EXPECT_EQ(controls_.messages[2], "OpenPrinter for " + queue_ + " failed. Terminated.");
  EXPECT_LT(elapsed, bound + kBoundMargin);
}

TEST_F(CupsSpoolerTest, LaterCallsGiveUpWithinTheBoundWhenTheServerStopsAnswering) {
  using Handle = spool::PrinterHandle;
  struct Case {
    std::string label;
    std::function<void(Handle&)> beforeStop;
    std::function<bool(Handle&)> call;  // true when the call succeeded
    // A call whose answer does not come asks the server about it before it gives up: a question
    // with a bound of its own.
    int bounds = 1;
  };
  const std::string piece = randomBytes(spool::kPieceSize, 6);
  const auto writeUntilRefused = [&](Handle& h) {
    // The socket takes a few hundred KiB before a write has to wait for the server.
    for (int i = 0; i < 64 * 1024; ++i) {
      if (!h.write(std::as_bytes(std::span(piece)))) {
        return false;
      }
    }
    return true;
  };
  const std::vector<Case> cases = {
      {"startDocument", [](Handle&) {}, [](Handle& h) { return h.startDocument("/tmp/x.prn"); }, 2},
      {"write", [](Handle& h) { ASSERT_TRUE(h.startDocument("/tmp/x.prn")); }, writeUntilRefused,
       1},
      {"endDocument",
       [&](Handle& h) {
         ASSERT_TRUE(h.startDocument("/tmp/x.prn"));
         ASSERT_TRUE(h.write(std::as_bytes(std::span(piece))));
       },
       [](Handle& h) { return h.endDocument(); }, 2},
  };
  const auto bound = std::chrono::milliseconds(2000);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    batchcups::CupsSpooler spooler(bound);
    const std::unique_ptr<Handle> handle = spooler.open(queue_);
    ASSERT_NE(handle, nullptr);
    c.beforeStop(*handle);
    ASSERT_EQ(::kill(server_->pid(), SIGSTOP), 0);
    const ResumeOnExit resume{server_->pid()};

    const auto started = Clock::now();
    EXPECT_FALSE(c.call(*handle));
    EXPECT_LT(Clock::now() - started, c.bounds * bound + kBoundMargin);
  }
}

}  // namespace
