// A run against a server that holds as many jobs as it allows, as CUPS ships (MaxJobs 500) or
// as an administrator sets it (per printer, per user), with a printer slower than the run: the
// run waits for room and goes on, and gives up only on a printer that makes no progress.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/cups/cups_spooler.h"
#include "spool/print_run.h"
#include "tests/reliability/reliability_support.h"
#include "tests/reliability/server_run.h"
#include "tests/support/private_cupsd.h"

namespace {

using Clock = std::chrono::steady_clock;
using reliability::hashOf;
using testing_support::PrivateCupsd;

constexpr int kJobPending = 3;
constexpr int kJobCancelled = 7;  // the first state of a job that has left the queue
// The captures keep arriving after the run; only a stall fails the wait for them.
constexpr auto kStall = std::chrono::seconds(30);

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++n;
  }
  return n;
}

testing_support::ServerSettings withDirectives(std::vector<std::string> directives) {
  testing_support::ServerSettings settings;
  settings.directives = std::move(directives);
  return settings;
}

std::size_t activeJobs(PrivateCupsd& server, const std::string& queue) {
  std::size_t active = 0;
  for (const PrivateCupsd::ServerJob& job : server.serverJobs(queue)) {
    active += job.state < kJobCancelled ? 1 : 0;
  }
  return active;
}

struct Limit {
  std::string directive;
  std::size_t jobsAllowed;
  std::size_t files;  // enough to fill the queue and have it refilled several times over
};

class JobLimits : public ::testing::TestWithParam<Limit> {};

// The queue is stopped, so the run fills the limit; once it has, the queue is started and
// prints behind the run, which must then wait for room again and again.
TEST_P(JobLimits, EveryFilePrintsInOrderWholeThroughAFullQueue) {
  const Limit& limit = GetParam();
  const std::size_t kFiles = limit.files;
  PrivateCupsd server(withDirectives({limit.directive, "AccessLogLevel all"}));
  reliability::ServerRun run(server, "limited");
  server.run({"cupsdisable", "limited"});
  std::vector<std::string> paths;
  std::vector<std::uint64_t> hashes;
  for (std::size_t i = 0; i < kFiles; ++i) {
    const std::string bytes = reliability::randomBytes(100 + i * 37 % 5000, i);
    paths.push_back(run.add("f" + std::to_string(i) + ".prn", bytes));
    hashes.push_back(hashOf(bytes));
    run.controls.lines.push_back("f" + std::to_string(i) + ".prn");
  }

  // The spooler's keep-alive is where the operator's window would be served; here it starts
  // the printer once the run has filled the queue.
  std::optional<Clock::time_point> released;
  Clock::time_point lastLook{};
  batchcups::SpoolerSettings settings;
  settings.keepAlive = [&] {
    if (released || Clock::now() - lastLook < std::chrono::milliseconds(200)) {
      return;
    }
    lastLook = Clock::now();
    if (activeJobs(server, "limited") >= limit.jobsAllowed) {
      server.startQueue("limited");
      released = Clock::now();
    }
  };
  batchcups::CupsSpooler spooler(settings);
  spool::PosixFileOpener files;
  const Clock::time_point started = Clock::now();
  run.run("1", spooler, files);
  const Clock::time_point ended = Clock::now();

  EXPECT_EQ(run.controls.messages, run.passLines(paths));
  ASSERT_TRUE(released) << "the run never filled the queue";
  ASSERT_TRUE(reliability::waitForCapturedJobs(run.capture, kFiles, kStall))
      << reliability::capturedJobCount(run.capture) << " of " << kFiles << " captured";
  const std::vector<PrivateCupsd::CapturedJob> captured = server.waitForJobs("limited", kFiles);
  ASSERT_EQ(captured.size(), kFiles);
  for (std::size_t i = 0; i < kFiles; ++i) {
    ASSERT_EQ(captured[i].title, paths[i]) << "job " << i;
    ASSERT_EQ(hashOf(captured[i].bytes), hashes[i]) << paths[i];
  }
  const std::string log = server.accessLog();
  std::cout << limit.directive << ": filled in "
            << std::chrono::duration<double>(*released - started).count() << " s, then "
            << std::chrono::duration<double>(ended - *released).count() << " s to the end, "
            << count(log, "Create-Job client-error-not-possible") << " refusals for want of room\n";
}

INSTANTIATE_TEST_SUITE_P(AsShippedAndAsSet, JobLimits,
                         ::testing::Values(Limit{"MaxJobs 500", 500, 600},
                                           Limit{"MaxJobsPerPrinter 50", 50, 200},
                                           Limit{"MaxJobsPerUser 50", 50, 200}),
                         [](const auto& param) {
                           return param.param.directive.substr(0, param.param.directive.find(' '));
                         });

// A printer that prints nothing: the run waits for the stall bound, then ends the pass as a
// refused start does, and every job it made stays whole on the server.
TEST(JobLimitsStalled, AQueueThatStaysStoppedEndsThePassAfterTheStallBound) {
  PrivateCupsd server(withDirectives({"MaxJobsPerPrinter 5"}));
  reliability::ServerRun run(server, "stopped");
  server.run({"cupsdisable", "stopped"});
  std::vector<std::string> paths;
  for (int i = 0; i < 8; ++i) {
    paths.push_back(
        run.add("f" + std::to_string(i) + ".prn", "bytes of file " + std::to_string(i)));
    run.controls.lines.push_back("f" + std::to_string(i) + ".prn");
  }
  batchcups::SpoolerSettings settings;
  settings.stallBound = std::chrono::milliseconds(2000);
  batchcups::CupsSpooler spooler(settings);
  spool::PosixFileOpener files;
  const Clock::time_point started = Clock::now();
  run.run("1", spooler, files);
  const auto waited = Clock::now() - started;

  const std::vector<std::string> printed(paths.begin(), paths.begin() + 6);
  std::vector<std::string> expected =
      run.passLines(printed, {"StartDocPrinter failed. Terminated."});
  EXPECT_EQ(run.controls.messages, expected);
  EXPECT_GE(waited, settings.stallBound);
  EXPECT_LT(waited, settings.stallBound + std::chrono::seconds(5));
  const std::vector<PrivateCupsd::ServerJob> jobs = server.serverJobs("stopped");
  ASSERT_EQ(jobs.size(), 5u);
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    EXPECT_EQ(jobs[i].title, paths[i]);
    EXPECT_EQ(jobs[i].state, kJobPending) << "held whole, waiting for the printer";
  }
}

}  // namespace
