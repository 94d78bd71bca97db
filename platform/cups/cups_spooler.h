#pragma once

#include <chrono>
#include <memory>
#include <string_view>

#include "spool/spooler.h"

namespace batchcups {

// How long an open, or any later call on the printer it opened, may wait for the print server
// in all before it gives up. libcups alone would wait some three minutes per request on a
// server that has stopped answering.
inline constexpr std::chrono::milliseconds kDefaultServerBound{30'000};

// What a spooler keeps between opens: its connection to the server and the destinations it has
// looked up. Shared with the printers it opens, which hand the connection back when they close.
struct ServerSession;

// The spooler on the print server that libcups finds (CUPS_SERVER, client.conf): every document
// becomes one raw job on the named destination, its bytes passed unchanged.
class CupsSpooler final : public spool::Spooler {
 public:
  explicit CupsSpooler(std::chrono::milliseconds bound = kDefaultServerBound);

  spool::PlatformFamily family() const override { return spool::PlatformFamily::NT; }
  // Null when the server has no such destination, cannot be reached, or does not answer
  // within the bound.
  std::unique_ptr<spool::PrinterHandle> open(std::string_view printerName) override;
  void endRun() override;

 private:
  std::chrono::milliseconds bound_ = kDefaultServerBound;
  std::shared_ptr<ServerSession> session_;
};

}  // namespace batchcups
