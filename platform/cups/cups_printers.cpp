#include "platform/cups/cups_printers.h"

#include <cups/cups.h>

#include <memory>

namespace batchcups {

namespace {

using Clock = std::chrono::steady_clock;

// How often libcups asks, while it waits for the server, whether to go on waiting.
constexpr double kWaitCheckSeconds = 0.1;

int stillInTime(http_t* /*http*/, void* deadline) {
  return Clock::now() < *static_cast<Clock::time_point*>(deadline) ? 1 : 0;
}

struct HttpCloser {
  void operator()(http_t* http) const { httpClose(http); }
};

}  // namespace

CupsPrinters::CupsPrinters(std::chrono::milliseconds bound) : bound_(bound) {}

std::vector<spool::PrinterRecord> CupsPrinters::printers() {
  std::vector<spool::PrinterRecord> records;
  for (auto& name : destinations().names) {
    records.push_back({std::move(name), ""});
  }
  return records;
}

spool::DefaultPrinterQuery CupsPrinters::defaultPrinter() {
  auto found = destinations().defaultName;
  if (!found) {
    return {spool::DefaultPrinterQuery::Outcome::NoDefault, "", 0, ""};
  }
  return {spool::DefaultPrinterQuery::Outcome::Named, std::move(*found), 0, ""};
}

// One connection of our own, so that the whole look, connecting included, ends at the deadline.
CupsPrinters::Destinations CupsPrinters::destinations() const {
  Clock::time_point deadline = Clock::now() + bound_;
  std::unique_ptr<http_t, HttpCloser> http(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC,
                                                        cupsEncryption(), 1,
                                                        static_cast<int>(bound_.count()), nullptr));
  if (!http) {
    return {};
  }
  // libcups keeps the deadline's address; the connection is closed before it goes away.
  httpSetTimeout(http.get(), kWaitCheckSeconds, stillInTime, &deadline);

  cups_dest_t* dests = nullptr;
  const int count = cupsGetDests2(http.get(), &dests);
  Destinations found;
  for (int i = 0; i < count; ++i) {
    const cups_dest_t& dest = dests[i];
    if (dest.is_default) {
      found.defaultName = dest.name;
    }
    if (dest.instance == nullptr) {
      found.names.emplace_back(dest.name);
    }
  }
  cupsFreeDests(count, dests);
  return found;
}

}  // namespace batchcups
