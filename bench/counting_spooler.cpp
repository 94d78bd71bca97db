#include "bench/counting_spooler.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

// Adds the time from its making to its end to the spooler's own.
class OwnTime {
 public:
  explicit OwnTime(CountingSpooler& owner) : owner_(owner) {}
  ~OwnTime() { owner_.ownTime += Clock::now() - start_; }
  OwnTime(const OwnTime&) = delete;
  OwnTime& operator=(const OwnTime&) = delete;

 private:
  CountingSpooler& owner_;
  Clock::time_point start_ = Clock::now();
};

class CountingHandle final : public spool::PrinterHandle {
 public:
  explicit CountingHandle(CountingSpooler& owner) : owner_(owner) {}
  ~CountingHandle() override { const OwnTime clock(owner_); }
  CountingHandle(const CountingHandle&) = delete;
  CountingHandle& operator=(const CountingHandle&) = delete;

  bool startDocument(std::string_view /*docName*/) override {
    const OwnTime clock(owner_);
    pending_ = 0;
    return true;
  }
  bool write(std::span<const std::byte> piece) override {
    const OwnTime clock(owner_);
    pending_ += piece.size();
    return true;
  }
  bool flush() override {
    const OwnTime clock(owner_);
    return true;
  }
  bool endDocument() override {
    const OwnTime clock(owner_);
    ++owner_.documents;
    owner_.bytes += pending_;
    return true;
  }
  void cancelDocument() override { const OwnTime clock(owner_); }

 private:
  CountingSpooler& owner_;
  std::uint64_t pending_ = 0;
};

}  // namespace

std::unique_ptr<spool::PrinterHandle> CountingSpooler::open(std::string_view /*printerName*/) {
  const OwnTime clock(*this);
  ++opens;
  return std::make_unique<CountingHandle>(*this);
}

}  // namespace bench
