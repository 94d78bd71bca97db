// The run when the print server or the files fail it: each failure ends the pass with its
// lines, nothing hangs, and what the server accepted is kept.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/cups/cups_spooler.h"
#include "tests/reliability/reliability_support.h"
#include "tests/reliability/server_run.h"
#include "tests/reliability/shared_server_test.h"
#include "tests/support/private_cupsd.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using reliability::repeated;
using reliability::ServerRun;
using testing_support::PrivateCupsd;

constexpr int kJobPending = 3;
// A run against a server that is gone must not wait on it: well under any wait bound.
constexpr auto kAtOnce = std::chrono::seconds(3);
// How long a slow machine may take beyond a bound to notice it and clean up.
constexpr auto kBoundMargin = std::chrono::seconds(5);
constexpr auto kServerEndBound = std::chrono::seconds(10);

std::chrono::milliseconds elapsedSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

std::string openFailure(const std::string& queue) {
  return "OpenPrinter for " + queue + " failed. Terminated.";
}

void killServer(PrivateCupsd& server, int signal) {
  ASSERT_EQ(::kill(server.pid(), signal), 0);
  if (signal == SIGKILL) {
    ASSERT_TRUE(
        reliability::waitFor([&] { return reliability::hasEnded(server.pid()); }, kServerEndBound));
  }
}

// Faults of the server itself: each test has a server of its own to stop, freeze or kill.
TEST(ServerFaults, NoServerAtTheSocketFailsTheFirstOpenAtOnce) {
  PrivateCupsd server;
  ServerRun run(server, "gone");
  const std::string a = run.add("a.prn", "a");
  run.controls.lines = {"a.prn", "b.prn"};
  killServer(server, SIGKILL);

  const auto start = Clock::now();
  run.run("2");
  EXPECT_LT(elapsedSince(start), kAtOnce);
  EXPECT_EQ(run.controls.messages, repeated(run.passLines({a}, {openFailure("gone")}), 2));
}

TEST(ServerFaults, AFrozenServerFailsTheOpenWithinTheBound) {
  PrivateCupsd server;
  ServerRun run(server, "frozen");
  const std::string a = run.add("a.prn", "a");
  run.controls.lines = {"a.prn"};
  killServer(server, SIGSTOP);

  constexpr auto kBound = std::chrono::milliseconds(2000);
  batchcups::CupsSpooler spooler(kBound);
  spool::PosixFileOpener files;
  const auto start = Clock::now();
  run.run("1", spooler, files);
  const auto took = elapsedSince(start);
  ::kill(server.pid(), SIGCONT);

  EXPECT_EQ(run.controls.messages, run.passLines({a}, {openFailure("frozen")}));
  // It gave the server the whole bound, and no more.
  EXPECT_GE(took, kBound - std::chrono::milliseconds(100));
  EXPECT_LT(took, kBound + kBoundMargin);
}

// Whatever the file's size, a server that dies while the file's bytes go over refuses its
// write: a file of one gathered send is refused when it is handed over at its end, and the line
// still says which step failed.
TEST(ServerFaults, AServerKilledMidWriteEndsThatPassAndTheNextCannotOpen) {
  struct Case {
    std::size_t size;
    std::size_t killAfter;  // bytes read from the file
  };
  for (const Case c : {Case{200u << 20, 50u << 20}, Case{10'000, 4096}}) {
    SCOPED_TRACE(c.size);
    PrivateCupsd server;
    ServerRun run(server, "killed");
    const std::string file = run.add("file.bin", reliability::randomBytes(c.size, 7));
    run.controls.lines = {"file.bin", "after.prn"};
    run.add("after.prn", "never printed");

    // The server dies at an exact point of the stream.
    reliability::HookedFileOpener files;
    files.readEvery = c.killAfter;
    bool killed = false;
    files.afterRead = [&](std::uint64_t) {
      if (!killed) {
        killServer(server, SIGKILL);
        killed = true;
      }
    };
    constexpr auto kBound = std::chrono::milliseconds(5000);
    batchcups::CupsSpooler spooler(kBound);
    const auto start = Clock::now();
    run.run("2", spooler, files);

    EXPECT_TRUE(killed);
    const std::vector<std::string> expected = {
        "printer name : killed", "manage " + file, "WritePrinter failed. Terminated.",
        "printer name : killed", "manage " + file, openFailure("killed")};
    EXPECT_EQ(run.controls.messages, expected);
    // No wait ran into its bound: the dead connection is noticed, not waited out.
    EXPECT_LT(elapsedSince(start), kBound);
  }
}

// Faults of one queue or one file: the tests share a server, each with a queue of its own.
class QueueAndFileFaults : public reliability::SharedServerTest {
 protected:
  std::unique_ptr<ServerRun> run_ = newRun("q");
};

TEST_F(QueueAndFileFaults, AStoppedQueueAcceptsTheJobsAndKeepsThem) {
  const std::vector<std::string> names = {"a.prn", "b.prn", "c.prn"};
  std::vector<std::string> paths;
  for (const std::string& name : names) {
    paths.push_back(run_->add(name, "bytes of " + name));
  }
  run_->controls.lines = names;
  run_->server.run({"cupsdisable", run_->queue});

  run_->run("1");
  EXPECT_EQ(run_->controls.messages, run_->passLines(paths));
  const std::vector<PrivateCupsd::ServerJob> held = run_->server.serverJobs(run_->queue);
  ASSERT_EQ(held.size(), paths.size());
  for (std::size_t i = 0; i < held.size(); ++i) {
    EXPECT_EQ(held[i].title, paths[i]);
    EXPECT_EQ(held[i].state, kJobPending);
  }
  EXPECT_EQ(reliability::capturedJobCount(run_->capture), 0u);

  // Started again, the queue prints what it kept, whole and in order.
  run_->server.run({"cupsenable", run_->queue});
  const std::vector<PrivateCupsd::CapturedJob> jobs = run_->server.waitForJobs(run_->queue, 3);
  ASSERT_EQ(jobs.size(), 3u);
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    EXPECT_EQ(jobs[i].title, paths[i]);
    EXPECT_EQ(jobs[i].bytes, "bytes of " + names[i]);
  }
}

TEST_F(QueueAndFileFaults, ARejectingQueueFailsTheStartOfEveryPass) {
  const std::string a = run_->add("a.prn", "a");
  run_->controls.lines = {"a.prn"};
  run_->server.run({"cupsreject", run_->queue});

  run_->run("2");
  EXPECT_EQ(run_->controls.messages,
            repeated(run_->passLines({a}, {"StartDocPrinter failed. Terminated."}), 2));
  EXPECT_TRUE(run_->server.serverJobs(run_->queue).empty());
}

TEST_F(QueueAndFileFaults, AnUnreadableFileEndsEveryPassThere) {
  const std::string a = run_->add("a.prn", "first");
  const std::string secret = run_->add("secret.prn", "nobody may read this");
  run_->add("c.prn", "never reached");
  fs::permissions(secret, fs::perms::none);
  run_->controls.lines = {"a.prn", "secret.prn", "c.prn"};

  {
    // Root reads any file whatever its mode; an operator does not.
    const reliability::UnprivilegedScope operatorUser;
    if (!operatorUser.active()) {
      GTEST_SKIP() << "running as root with no unprivileged user to take on";
    }
    run_->run("2");
  }
  EXPECT_EQ(run_->controls.messages,
            repeated(run_->passLines({a}, {"cannot open " + secret, "exit"}), 2));
  const std::vector<PrivateCupsd::CapturedJob> jobs = run_->server.waitForJobs(run_->queue, 2);
  ASSERT_EQ(jobs.size(), 2u);
  for (const PrivateCupsd::CapturedJob& job : jobs) {
    EXPECT_EQ(job.title, a);
    EXPECT_EQ(job.bytes, "first");
  }
}

TEST_F(QueueAndFileFaults, AFileRemovedBetweenTwoCopiesEndsTheSecondPass) {
  const std::string a = run_->add("a.prn", "a bytes");
  const std::string b = run_->add("b.prn", "b bytes");
  run_->controls.lines = {"a.prn", "b.prn"};

  // The second copy begins by opening a.prn again: b.prn disappears just before.
  reliability::HookedFileOpener files;
  int opensOfA = 0;
  files.beforeOpen = [&](const std::string& path) {
    if (path == a && ++opensOfA == 2) {
      fs::remove(b);
    }
  };
  batchcups::CupsSpooler spooler;
  run_->run("2", spooler, files);

  std::vector<std::string> expected = run_->passLines({a, b});
  const std::vector<std::string> second = run_->passLines({a}, {"cannot open " + b, "exit"});
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(run_->controls.messages, expected);
  const std::vector<PrivateCupsd::CapturedJob> jobs = run_->server.waitForJobs(run_->queue, 3);
  ASSERT_EQ(jobs.size(), 3u);
  const std::vector<std::pair<std::string, std::string>> printed = {
      {a, "a bytes"}, {b, "b bytes"}, {a, "a bytes"}};
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    EXPECT_EQ(jobs[i].title, printed[i].first);
    EXPECT_EQ(jobs[i].bytes, printed[i].second);
  }
}

TEST_F(QueueAndFileFaults, ADirectoryOrAFifoIsNoFileToPrint) {
  const std::string a = run_->add("a.prn", "a");
  const fs::path dir = run_->folder.path() / "folder.prn";
  fs::create_directory(dir);
  const fs::path fifo = run_->folder.path() / "fifo.prn";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);  // no writer ever: reading it would block

  for (const fs::path& notAFile : {dir, fifo}) {
    SCOPED_TRACE(notAFile.string());
    run_->controls.messages.clear();
    run_->controls.lines = {"a.prn", notAFile.filename().string(), "a.prn"};
    run_->run("2");
    EXPECT_EQ(run_->controls.messages,
              repeated(run_->passLines({a}, {"cannot open " + notAFile.string(), "exit"}), 2));
  }
  const std::vector<PrivateCupsd::CapturedJob> jobs = run_->server.waitForJobs(run_->queue, 4);
  EXPECT_EQ(jobs.size(), 4u);
}

}  // namespace
