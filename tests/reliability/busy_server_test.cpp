// A run against a print server that is slow to answer: answers that pause between their header
// and their body, and a server that holds thousands of jobs the printer has not taken yet.
// Every document the server takes is reported as printed, once, and none is dropped for want
// of an answer.
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/cups/cups_spooler.h"
#include "spool/print_run.h"
#include "tests/reliability/reliability_support.h"
#include "tests/reliability/server_run.h"
#include "tests/support/answer_relay.h"
#include "tests/support/private_cupsd.h"

namespace {

namespace fs = std::filesystem;
using reliability::hashOf;
using testing_support::PrivateCupsd;

constexpr int kJobCompleted = 9;
constexpr auto kStall = std::chrono::seconds(30);

// While it lives, this process's libcups talks to the server at the given TCP port of the
// loopback rather than to the one the fixture set.
class ServerOverride {
 public:
  explicit ServerOverride(int port) : saved_(std::getenv("CUPS_SERVER")) {
    ::setenv("CUPS_SERVER", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
    cupsSetServer(nullptr);
  }
  ~ServerOverride() {
    ::setenv("CUPS_SERVER", saved_.c_str(), 1);
    cupsSetServer(nullptr);
  }
  ServerOverride(const ServerOverride&) = delete;
  ServerOverride& operator=(const ServerOverride&) = delete;

 private:
  std::string saved_;
};

struct Pause {
  int holdEvery;
  std::chrono::milliseconds hold;
};

class PausedAnswers : public ::testing::TestWithParam<Pause> {};

TEST_P(PausedAnswers, AnAnswerThatPausesAfterItsHeaderIsStillHeard) {
  constexpr std::size_t kFiles = 40;
  PrivateCupsd server;
  reliability::ServerRun run(server, "paused");
  std::vector<std::string> paths;
  std::vector<std::uint64_t> hashes;
  for (std::size_t i = 0; i < kFiles; ++i) {
    // Some past the layer's send buffer, so that documents go over in several writes.
    const std::string bytes = reliability::randomBytes(i % 7 == 0 ? 70'000 : 900 + i, i);
    const std::string name = "f" + std::to_string(i) + ".prn";
    paths.push_back(run.add(name, bytes));
    hashes.push_back(hashOf(bytes));
    run.controls.lines.push_back(name);
  }
  testing_support::AnswerRelay relay(server.socketPath(), GetParam().holdEvery, GetParam().hold);
  {
    const ServerOverride throughTheRelay(relay.port());
    run.run("1");
  }

  EXPECT_EQ(run.controls.messages, run.passLines(paths));
  EXPECT_GT(relay.held(), 0) << "no answer was held back";
  ASSERT_TRUE(reliability::waitForCapturedJobs(run.capture, kFiles, kStall));
  const std::vector<PrivateCupsd::CapturedJob> captured = server.waitForJobs("paused", kFiles);
  ASSERT_EQ(captured.size(), kFiles) << "a job was made twice or lost";
  for (std::size_t i = 0; i < kFiles; ++i) {
    EXPECT_EQ(captured[i].title, paths[i]);
    EXPECT_EQ(hashOf(captured[i].bytes), hashes[i]) << paths[i];
  }
  for (const PrivateCupsd::ServerJob& job : server.serverJobs("paused")) {
    EXPECT_EQ(job.state, kJobCompleted) << job.title << " was not printed whole";
  }
}

// One answer in 25 paused for longer than the one-second wait slice that libcups was once
// given, and one in 60 for three seconds.
INSTANTIATE_TEST_SUITE_P(BusyServer, PausedAnswers,
                         ::testing::Values(Pause{25, std::chrono::milliseconds(1500)},
                                           Pause{60, std::chrono::milliseconds(3000)}));

// The documents of the jobs the server holds, in job order.
std::vector<std::string> heldDocuments(const fs::path& spool) {
  const std::regex document("d([0-9]+)-001");
  std::vector<std::pair<int, fs::path>> found;
  for (const fs::directory_entry& entry : fs::directory_iterator(spool)) {
    std::smatch match;
    const std::string name = entry.path().filename().string();
    if (std::regex_match(name, match, document)) {
      found.emplace_back(std::stoi(match[1]), entry.path());
    }
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> documents;
  for (const auto& [id, path] : found) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    documents.push_back(bytes.str());
  }
  return documents;
}

// A printer far behind the run (stopped: every job stays pending), so that the server holds
// thousands of jobs and grows slower to answer as the run goes on.
TEST(BusyServer, TenThousandFilesWithThousandsPendingArePrintedExactlyOnce) {
  constexpr std::size_t kFiles = 10'000;
  PrivateCupsd server;
  reliability::ServerRun run(server, "behind");
  server.run({"cupsdisable", "behind"});
  std::vector<std::string> paths;
  std::vector<std::string> contents;
  for (std::size_t i = 0; i < kFiles; ++i) {
    const std::string name = "f" + std::to_string(i) + ".prn";
    contents.push_back("file " + std::to_string(i) + "\n" +
                       reliability::randomBytes(50 + i % 300, i));
    paths.push_back(run.add(name, contents.back()));
    run.controls.lines.push_back(name);
  }
  run.run("1");

  const std::vector<std::string> expected = run.passLines(paths);
  ASSERT_EQ(run.controls.messages.size(), expected.size()) << run.controls.messages.back();
  EXPECT_EQ(run.controls.messages, expected);
  const std::vector<std::string> held = heldDocuments(server.spoolFolder());
  ASSERT_EQ(held.size(), kFiles) << "every file once, no more and no less";
  for (std::size_t i = 0; i < kFiles; ++i) {
    ASSERT_EQ(held[i], contents[i]) << "job " << i;
  }
}

}  // namespace
