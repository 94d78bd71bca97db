#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string_view>

#include "spool/spooler.h"

namespace bench {

// A spooler that takes every document and keeps nothing of it but counts, so that a run over
// it costs what the window and the pass cost. It clocks the time spent inside its own calls,
// so that this share can be taken off a run's time.
class CountingSpooler final : public spool::Spooler {
 public:
  spool::PlatformFamily family() const override { return spool::PlatformFamily::NT; }
  std::unique_ptr<spool::PrinterHandle> open(std::string_view printerName) override;

  std::uint64_t documents = 0;  // ended whole
  std::uint64_t bytes = 0;
  std::uint64_t opens = 0;
  std::chrono::steady_clock::duration ownTime{};
};

}  // namespace bench
