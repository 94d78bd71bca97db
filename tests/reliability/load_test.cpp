// Many files of mixed sizes in one run of two copies, through the real pass, the CUPS layer and
// a private cupsd: every job arrives, in order, whole, named by its path, and the run leaves no
// descriptor open.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/cups/cups_spooler.h"
#include "spool/print_run.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/private_cupsd.h"
#include "tests/support/recording_spooler.h"

namespace {

using reliability::hashOf;
using testing_support::PrivateCupsd;

constexpr std::size_t kFiles = 2000;
constexpr std::size_t kMaxSize = 4 * 1024 * 1024;
constexpr int kJobCancelled = 7;
constexpr int kJobCompleted = 9;
// The jobs keep arriving after the run has handed them over; the wait fails only on a stall.
constexpr auto kStall = std::chrono::seconds(30);

struct ExpectedFile {
  std::string path;
  std::size_t size = 0;
  std::uint64_t hash = 0;
};

// The sizes where streaming is most likely to go wrong (nothing, one piece and its edges, the
// largest), then sizes spread evenly over their orders of magnitude up to 1 MiB, so that the
// run stays quick and most jobs are small, as a real batch's are.
std::vector<std::size_t> mixedSizes() {
  std::vector<std::size_t> sizes = {0,     1,         4095,          4096,     4097, 8192,
                                    32767, 32 * 1024, 32 * 1024 + 1, kMaxSize, 0,    kMaxSize - 1};
  std::mt19937 engine(2024);
  std::uniform_real_distribution<double> magnitude(0.0, 20.0);
  while (sizes.size() < kFiles) {
    sizes.push_back(static_cast<std::size_t>(std::exp2(magnitude(engine))));
  }
  std::shuffle(sizes.begin(), sizes.end(), engine);
  return sizes;
}

TEST(NothingLostUnderLoad, EveryJobArrivesInOrderWholeAndNamedByItsPath) {
  PrivateCupsd server;
  const std::string capture = server.addCaptureQueue("load");
  const reliability::TempFolder folder;

  testing_support::FakeControls controls;
  controls.printerBox = "load";
  controls.folder = folder.path().string();
  controls.copies = "2";
  std::vector<ExpectedFile> files;
  const std::vector<std::size_t> sizes = mixedSizes();
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    // A few files in a subfolder, named as a list line can name them.
    const std::string name = (i % 97 == 0 ? "sub/f" : "f") + std::to_string(i) + ".bin";
    const std::string bytes = reliability::randomBytes(sizes[i], i);
    files.push_back({folder.write(name, bytes), bytes.size(), hashOf(bytes)});
    controls.lines.push_back(name);
  }

  const int descriptorsBefore = reliability::openDescriptorCount();
  batchcups::CupsSpooler spooler;
  spool::PosixFileOpener opener;
  spool::runPrintJob(controls, spooler, opener);
  EXPECT_EQ(reliability::openDescriptorCount(), descriptorsBefore);

  std::vector<std::string> expectedMessages;
  std::vector<const ExpectedFile*> expectedOrder;
  for (int copy = 0; copy < 2; ++copy) {
    expectedMessages.push_back("printer name : load");
    for (const ExpectedFile& file : files) {
      expectedMessages.push_back("manage " + file.path);
      expectedOrder.push_back(&file);
    }
  }
  for (std::size_t i = 0; i < std::min(expectedMessages.size(), controls.messages.size()); ++i) {
    ASSERT_EQ(controls.messages[i], expectedMessages[i]) << "message " << i;
  }
  ASSERT_EQ(controls.messages.size(), expectedMessages.size())
      << "last: " << controls.messages.back();

  // The server knows one job per file and copy, in the order they were handed over; a file of
  // no bytes makes a job that is dropped rather than left waiting for its document.
  std::vector<const ExpectedFile*> printed;
  for (const ExpectedFile* file : expectedOrder) {
    if (file->size > 0) {
      printed.push_back(file);
    }
  }

  ASSERT_TRUE(reliability::waitForCapturedJobs(capture, printed.size(), kStall))
      << reliability::capturedJobCount(capture) << " of " << printed.size() << " jobs captured";
  const std::vector<PrivateCupsd::CapturedJob> captured =
      server.waitForJobs("load", printed.size());
  ASSERT_EQ(captured.size(), printed.size());
  for (std::size_t i = 0; i < captured.size(); ++i) {
    ASSERT_EQ(captured[i].title, printed[i]->path) << "job " << i;
    ASSERT_EQ(captured[i].bytes.size(), printed[i]->size) << printed[i]->path;
    ASSERT_EQ(hashOf(captured[i].bytes), printed[i]->hash) << printed[i]->path;
  }
  // Nothing is left waiting on the server, and a file of no bytes made a job that was dropped
  // rather than left held. cupsd answers for at most 500 jobs of its history (measured, whatever
  // MaxJobs says), so this looks at those it reports; the captures above hold every job.
  std::map<std::string, std::size_t> sizeOfPath;
  for (const ExpectedFile* file : expectedOrder) {
    sizeOfPath[file->path] = file->size;
  }
  const std::vector<PrivateCupsd::ServerJob> serverJobs = server.serverJobs("load");
  ASSERT_FALSE(serverJobs.empty());
  for (const PrivateCupsd::ServerJob& job : serverJobs) {
    ASSERT_TRUE(sizeOfPath.contains(job.title)) << job.title;
    EXPECT_EQ(job.state, sizeOfPath[job.title] == 0 ? kJobCancelled : kJobCompleted) << job.title;
  }
}

}  // namespace
