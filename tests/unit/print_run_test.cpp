#include "spool/print_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/recording_spooler.h"

namespace {

using Lines = std::vector<std::string>;
using testing_support::FakeControls;
using testing_support::MemoryFiles;
using testing_support::RecordingSpooler;

class PrintRun : public ::testing::Test {
 protected:
  PrintRun() {
    controls.printerBox = "Office";
    controls.folder = "/out";
  }
  void TearDown() override {
    EXPECT_EQ(spooler.openHandles, 0) << "a printer handle was left open";
    EXPECT_EQ(files.openFiles, 0) << "a file was left open";
  }
  void run() { spool::runPrintJob(controls, spooler, files); }
  std::vector<std::string> jobNames() const {
    std::vector<std::string> names;
    for (const auto& job : spooler.jobs) {
      names.push_back(job.name);
    }
    return names;
  }

  FakeControls controls;
  RecordingSpooler spooler;
  MemoryFiles files;
};

TEST_F(PrintRun, StreamsAFileThroughOnePieceOfFourKilobytes) {
  std::string bytes(10000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<char>(i * 7);
  }
  files.add("/out/a.prn", bytes);
  controls.lines = {"a.prn"};
  run();
  ASSERT_EQ(spooler.jobs.size(), 1u);
  EXPECT_EQ(spooler.jobs[0].pieceSizes, (std::vector<std::size_t>{4096, 4096, 1808}));
  EXPECT_EQ(spooler.jobs[0].bytes, bytes);
  EXPECT_EQ(spooler.calls, (Lines{"open Office", "start /out/a.prn", "write 4096", "write 4096",
                                  "write 1808", "end", "close"}));
  EXPECT_EQ(controls.messages, (Lines{"printer name : Office", "manage /out/a.prn"}));
}

TEST_F(PrintRun, AnEmptyFileIsAJobWithNoWrite) {
  files.add("/out/empty.prn", "");
  controls.lines = {"empty.prn"};
  run();
  EXPECT_EQ(spooler.calls, (Lines{"open Office", "start /out/empty.prn", "end", "close"}));
}

TEST_F(PrintRun, EachCopyIsAPassOverTheWholeList) {
  files.add("/out/a.prn", "A");
  files.add("/out/b.prn", "B");
  controls.lines = {"a.prn\n", "", "# a comment", "b.prn"};
  controls.copies = "2";
  run();
  EXPECT_EQ(controls.messages,
            (Lines{"printer name : Office", "manage /out/a.prn", "manage /out/b.prn",
                   "printer name : Office", "manage /out/a.prn", "manage /out/b.prn"}));
  EXPECT_EQ(jobNames(), (Lines{"/out/a.prn", "/out/b.prn", "/out/a.prn", "/out/b.prn"}));
  EXPECT_EQ(spooler.runsEnded, 1) << "the spooler is told once, after the last pass";
}

TEST_F(PrintRun, TheEndMarkEndsThePassAndNothingAfterItIsRead) {
  files.add("/out/a.prn", "A");
  files.add("/out/b.prn", "B");
  controls.lines = {"a.prn", "endnote.prn", "b.prn"};
  run();
  EXPECT_EQ(jobNames(), Lines{"/out/a.prn"});
  EXPECT_EQ(files.opened, Lines{"/out/a.prn"});
}

TEST_F(PrintRun, AListWithNoNamesMakesOnlyThePrinterLine) {
  controls.lines = {"", "#x", "\n"};
  controls.copies = "3";
  run();
  EXPECT_EQ(controls.messages, Lines(3, "printer name : Office"));
  EXPECT_TRUE(spooler.calls.empty());
}

TEST_F(PrintRun, AMissingFileEndsThePassAndTheNextCopyStartsAgain) {
  files.add("/out/a.prn", "A");
  files.add("/out/c.prn", "C");
  controls.lines = {"a.prn", "missing.prn", "c.prn"};
  controls.copies = "2";
  run();
  const Lines pass = {"printer name : Office", "manage /out/a.prn", "cannot open /out/missing.prn",
                      "exit"};
  Lines both = pass;
  both.insert(both.end(), pass.begin(), pass.end());
  EXPECT_EQ(controls.messages, both);
  EXPECT_EQ(jobNames(), (Lines{"/out/a.prn", "/out/a.prn"}));
}

TEST_F(PrintRun, AFileRemovedBetweenCopiesFailsOnlyTheLaterPass) {
  files.add("/out/a.prn", "A");
  controls.lines = {"a.prn"};
  spool::printListedFiles(controls, spooler, files);
  files.remove("/out/a.prn");
  spool::printListedFiles(controls, spooler, files);
  EXPECT_EQ(controls.messages, (Lines{"printer name : Office", "manage /out/a.prn",
                                      "printer name : Office", "cannot open /out/a.prn", "exit"}));
}

// Each spooler or file failure: the lines it appends, the calls made, and the pass ended there
// (the second file is never reached).
TEST_F(PrintRun, FailuresEndThePassWithTheirLinesAndCloseEverything) {
  struct Case {
    const char* what;
    void (*arrange)(RecordingSpooler&, MemoryFiles&);
    Lines messages;  // after "printer name : P" and "manage /out/a.prn"
    Lines calls;
  };
  const Case cases[] = {
      {"open refused",
       [](RecordingSpooler& s, MemoryFiles&) { s.refuseOpen = true; },
       {"OpenPrinter for P failed. Terminated."},
       {"open P"}},
      {"start refused",
       [](RecordingSpooler& s, MemoryFiles&) { s.refuseStart = true; },
       {"StartDocPrinter failed. Terminated."},
       {"open P", "start /out/a.prn", "close"}},
      {"second write refused",
       [](RecordingSpooler& s, MemoryFiles&) { s.refuseWriteNumber = 1; },
       {"WritePrinter failed. Terminated."},
       {"open P", "start /out/a.prn", "write 4096", "write 4096", "cancel", "close"}},
      {"read error",
       [](RecordingSpooler&, MemoryFiles& f) { f.add("/out/a.prn", std::string(9000, 'a'), 1); },
       {"cannot read /out/a.prn"},
       {"open P", "start /out/a.prn", "write 4096", "cancel", "close"}},
      {"end failed",
       [](RecordingSpooler& s, MemoryFiles&) { s.refuseEnd = true; },
       {"EndDocPrinter failed. Terminated."},
       {"open P", "start /out/a.prn", "write 4096", "write 4096", "write 808", "end", "close"}},
  };
  for (const Case& c : cases) {
    FakeControls ctl;
    ctl.printerBox = "P";
    ctl.folder = "/out/";
    ctl.lines = {"a.prn", "b.prn"};
    RecordingSpooler sp;
    MemoryFiles fs;
    fs.add("/out/a.prn", std::string(9000, 'a'));
    fs.add("/out/b.prn", "b");
    c.arrange(sp, fs);
    spool::runPrintJob(ctl, sp, fs);
    Lines messages = {"printer name : P", "manage /out/a.prn"};
    messages.insert(messages.end(), c.messages.begin(), c.messages.end());
    EXPECT_EQ(ctl.messages, messages) << c.what;
    EXPECT_EQ(sp.calls, c.calls) << c.what;
    EXPECT_EQ(fs.opened, Lines{"/out/a.prn"}) << c.what;
    EXPECT_EQ(sp.openHandles, 0) << c.what;
    EXPECT_EQ(fs.openFiles, 0) << c.what;
  }
}

TEST_F(PrintRun, NoPassForACountOfZeroOrLess) {
  files.add("/out/a.prn", "A");
  controls.lines = {"a.prn"};
  for (const char* copies : {"0", "-2", "-2147483648"}) {
    controls.copies = copies;
    run();
  }
  EXPECT_TRUE(controls.messages.empty());
  EXPECT_TRUE(spooler.calls.empty());
}

TEST_F(PrintRun, ACopiesTextWithNoNumberSaysSoAndMakesNoPass) {
  for (const char* copies : {"", "abc", "x5", "+"}) {
    controls.copies = copies;
    run();
  }
  EXPECT_EQ(controls.messages,
            (Lines{"copies is not a number : ", "copies is not a number : abc",
                   "copies is not a number : x5", "copies is not a number : +"}));
  EXPECT_TRUE(spooler.calls.empty());
}

TEST_F(PrintRun, TextsAreCopiedNeverInterpretedAsFormats) {
  controls.printerBox = "%s%n%d";
  controls.folder = "/%s";
  files.add("/%s/%n.prn", "x");
  controls.lines = {"%n.prn"};
  run();
  EXPECT_EQ(controls.messages, (Lines{"printer name : %s%n%d", "manage /%s/%n.prn"}));
}

TEST(PrinterName, OlderFamilyTakesTheTextBeforeTheLastPortSeparator) {
  using spool::PlatformFamily;
  const struct {
    const char* box;
    PlatformFamily family;
    const char* name;
  } cases[] = {
      {"P. LPT1:", PlatformFamily::NT, "P. LPT1:"},
      {"P. LPT1:", PlatformFamily::Older, "P"},
      {"Dr. Who. COM1:", PlatformFamily::Older, "Dr. Who"},
      {"Typed name", PlatformFamily::Older, "Typed name"},
      {"", PlatformFamily::Older, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(spool::printerNameFromBoxText(c.box, c.family), c.name) << c.box;
  }
}

TEST_F(PrintRun, OlderFamilyOpensThePrinterByItsName) {
  spooler.familyToReport = spool::PlatformFamily::Older;
  controls.printerBox = "P. LPT1:";
  spooler.refuseOpen = true;
  files.add("/out/a.prn", "A");
  controls.lines = {"a.prn"};
  run();
  EXPECT_EQ(controls.messages, (Lines{"printer name : P", "manage /out/a.prn",
                                      "OpenPrinter for P failed. Terminated."}));
}

}  // namespace
