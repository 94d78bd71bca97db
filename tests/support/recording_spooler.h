#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "spool/print_run.h"
#include "spool/source_file.h"
#include "spool/spooler.h"

namespace testing_support {

// A spooler that records every call and can be told to refuse any of them. It counts the
// printer handles still open, so a test can check that a pass closes every one.
class RecordingSpooler final : public spool::Spooler {
 public:
  struct Job {
    std::string printer;
    std::string name;
    std::vector<std::size_t> pieceSizes;
    std::string bytes;
    bool ended = false;
    bool cancelled = false;
  };

  spool::PlatformFamily familyToReport = spool::PlatformFamily::NT;
  bool refuseOpen = false;
  bool refuseStart = false;
  bool refuseEnd = false;
  std::optional<std::size_t> refuseWriteNumber;  // 0-based index of the write to refuse

  std::vector<std::string> calls;  // "open NAME", "start NAME", "write N", "end", "cancel", "close"
  std::vector<Job> jobs;
  int openHandles = 0;
  int runsEnded = 0;
  std::size_t writes = 0;

  spool::PlatformFamily family() const override { return familyToReport; }
  std::unique_ptr<spool::PrinterHandle> open(std::string_view printerName) override;
  void endRun() override { ++runsEnded; }
};

// Files held in memory, keyed by path. A file can be told to fail its nth read.
class MemoryFiles final : public spool::FileOpener {
 public:
  void add(std::string path, std::string bytes, std::optional<int> failingRead = std::nullopt);
  void remove(const std::string& path) { files_.erase(path); }

  std::unique_ptr<spool::SourceFile> open(const std::string& path) override;

  std::vector<std::string> opened;  // paths, in the order they were opened
  int openFiles = 0;

 private:
  struct Entry {
    std::string bytes;
    std::optional<int> failingRead;
  };
  std::map<std::string, Entry> files_;
};

// The window's controls as plain values, with the message pane as a list of lines.
struct FakeControls final : spool::RunControls {
  std::string printerBox;
  std::string folder;
  std::vector<std::string> lines;
  std::string copies = "1";
  std::vector<std::string> messages;

  std::string printerBoxText() override { return printerBox; }
  std::string folderText() override { return folder; }
  std::vector<std::string> listLines() override { return lines; }
  std::string copiesText() override { return copies; }
  void appendMessage(std::string_view line) override { messages.emplace_back(line); }
};

}  // namespace testing_support
