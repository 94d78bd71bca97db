#include "tests/support/recording_spooler.h"

#include <algorithm>
#include <cstring>

namespace testing_support {
namespace {

class RecordingHandle final : public spool::PrinterHandle {
 public:
  RecordingHandle(RecordingSpooler& owner, std::string printer)
      : owner_(owner), printer_(std::move(printer)) {
    ++owner_.openHandles;
  }
  ~RecordingHandle() override {
    owner_.calls.emplace_back("close");
    --owner_.openHandles;
  }
  RecordingHandle(const RecordingHandle&) = delete;
  RecordingHandle& operator=(const RecordingHandle&) = delete;

  bool startDocument(std::string_view docName) override {
    owner_.calls.push_back("start " + std::string(docName));
    if (owner_.refuseStart) {
      return false;
    }
    RecordingSpooler::Job job;
    job.printer = printer_;
    job.name = std::string(docName);
    owner_.jobs.push_back(std::move(job));
    return true;
  }

  bool write(std::span<const std::byte> piece) override {
    owner_.calls.push_back("write " + std::to_string(piece.size()));
    const std::size_t number = owner_.writes++;
    if (owner_.refuseWriteNumber == number) {
      return false;
    }
    RecordingSpooler::Job& job = owner_.jobs.back();
    job.pieceSizes.push_back(piece.size());
    job.bytes.append(reinterpret_cast<const char*>(piece.data()), piece.size());
    return true;
  }

  bool endDocument() override {
    owner_.calls.emplace_back("end");
    owner_.jobs.back().ended = true;
    return !owner_.refuseEnd;
  }

  void cancelDocument() override {
    owner_.calls.emplace_back("cancel");
    owner_.jobs.back().cancelled = true;
  }

 private:
  RecordingSpooler& owner_;
  std::string printer_;
};

class MemoryFile final : public spool::SourceFile {
 public:
  MemoryFile(MemoryFiles& owner, std::string bytes, std::optional<int> failingRead)
      : owner_(owner), bytes_(std::move(bytes)), failingRead_(failingRead) {
    ++owner_.openFiles;
  }
  ~MemoryFile() override { --owner_.openFiles; }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  std::ptrdiff_t read(std::span<std::byte> into) override {
    if (failingRead_ == reads_++) {
      return -1;
    }
    const std::size_t n = std::min(into.size(), bytes_.size() - offset_);
    std::memcpy(into.data(), bytes_.data() + offset_, n);
    offset_ += n;
    return static_cast<std::ptrdiff_t>(n);
  }

 private:
  MemoryFiles& owner_;
  std::string bytes_;
  std::optional<int> failingRead_;
  std::size_t offset_ = 0;
  int reads_ = 0;
};

}  // namespace

std::unique_ptr<spool::PrinterHandle> RecordingSpooler::open(std::string_view printerName) {
  calls.push_back("open " + std::string(printerName));
  if (refuseOpen) {
    return nullptr;
  }
  return std::make_unique<RecordingHandle>(*this, std::string(printerName));
}

void MemoryFiles::add(std::string path, std::string bytes, std::optional<int> failingRead) {
  files_[std::move(path)] = Entry{std::move(bytes), failingRead};
}

std::unique_ptr<spool::SourceFile> MemoryFiles::open(const std::string& path) {
  const auto it = files_.find(path);
  if (it == files_.end()) {
    return nullptr;
  }
  opened.push_back(path);
  return std::make_unique<MemoryFile>(*this, it->second.bytes, it->second.failingRead);
}

}  // namespace testing_support
