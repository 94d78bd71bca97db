// Texts far longer than any field of the window: nothing overflows and nothing is cut; a name
// the file system refuses is reported as a file that cannot be opened, in full.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "spool/job_name.h"
#include "spool/list_file.h"
#include "tests/reliability/server_run.h"
#include "tests/reliability/shared_server_test.h"

namespace {

using reliability::ServerRun;

constexpr std::size_t kMiB = 1024 * 1024;

class LongTexts : public reliability::SharedServerTest {
 protected:
  std::unique_ptr<ServerRun> run_ = newRun("long");
  std::string first_ = run_->add("a.prn", "first file");
};

TEST_F(LongTexts, AOneMebibyteListLineIsReadWholeAndReportedWhole) {
  const std::string longName(kMiB, 'n');
  const std::string list = run_->add("list.txt", "a.prn\r\n" + longName + "\r\nc.prn\r\n");
  const auto entries = spool::readListFile(list);
  ASSERT_TRUE(entries.has_value());
  ASSERT_EQ(entries->size(), 3u);
  EXPECT_TRUE((*entries)[1] == longName)
      << "the long line came back " << (*entries)[1].size() << " bytes long";
  run_->controls.lines = *entries;

  run_->run("1");
  const std::string longPath = run_->folder.path().string() + "/" + longName;
  ASSERT_EQ(run_->controls.messages.size(), 4u);
  EXPECT_EQ(run_->controls.messages[2].size(),
            std::string("cannot open ").size() + longPath.size());
  EXPECT_TRUE(run_->controls.messages ==
              run_->passLines({first_}, {"cannot open " + longPath, "exit"}));
  ASSERT_EQ(run_->server.waitForJobs(run_->queue, 1).size(), 1u);
}

TEST_F(LongTexts, ATenThousandByteFolderIsReportedWhole) {
  // Longer than any path the kernel takes, so the file system refuses it.
  std::string folder = run_->folder.path().string();
  while (folder.size() < 10'000) {
    folder += "/d";
  }
  folder.resize(10'000);
  if (folder.back() == '/') {
    folder.back() = 'd';
  }
  run_->controls.folder = folder;
  run_->controls.lines = {"a.prn"};

  run_->run("1");
  EXPECT_EQ(run_->controls.messages,
            run_->passLines({}, {"cannot open " + folder + "/a.prn", "exit"}));
  EXPECT_TRUE(run_->server.serverJobs(run_->queue).empty());
}

TEST_F(LongTexts, ADeepFolderThatExistsPrintsItsFileWithANameTheServerKeeps) {
  std::string sub;
  while (sub.size() < 3000) {
    sub += std::string(200, 'f') + "/";
  }
  const std::string path = run_->add(sub + "deep.prn", "deep bytes");
  run_->controls.lines = {sub + "deep.prn"};

  run_->run("1");
  EXPECT_EQ(run_->controls.messages, run_->passLines({path}));
  const auto jobs = run_->server.waitForJobs(run_->queue, 1);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].bytes, "deep bytes");
  EXPECT_EQ(jobs[0].title, spool::jobNameForPath(path));
  EXPECT_TRUE(jobs[0].title.ends_with("/deep.prn"));
}

TEST_F(LongTexts, AHundredThousandCharacterCopiesTextGivesItsCount) {
  const struct {
    std::string copies;
    int passes;
  } cases[] = {
      {std::string(99'999, '0') + "2", 2},
      {std::string(99'998, ' ') + "+3", 3},
      {"1" + std::string(99'999, 'x'), 1},
      {"-" + std::string(99'999, '9'), 0},
  };
  std::size_t jobs = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.passes);
    ASSERT_EQ(c.copies.size(), 100'000u);
    run_->controls.messages.clear();
    run_->controls.lines = {"a.prn"};
    run_->run(c.copies);
    EXPECT_EQ(run_->controls.messages, reliability::repeated(run_->passLines({first_}), c.passes));
    jobs += static_cast<std::size_t>(c.passes);
  }
  EXPECT_EQ(run_->server.waitForJobs(run_->queue, jobs).size(), jobs);
}

TEST_F(LongTexts, AHundredThousandCharacterCopiesTextWithNoNumberIsQuotedWhole) {
  const std::string copies(100'000, 'x');
  run_->controls.lines = {"a.prn"};
  run_->run(copies);
  EXPECT_EQ(run_->controls.messages,
            std::vector<std::string>{"copies is not a number : " + copies});
}

}  // namespace
