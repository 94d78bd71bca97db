#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "spool/printer_enumeration.h"

typedef struct _http_s http_t;

namespace batchcups {

// How long one look at the server's destinations may take before it counts as failed. libcups
// alone waits one to two minutes on a server that does not answer; the window is built only
// after its first look (the list and the default together).
inline constexpr std::chrono::milliseconds kEnumerationBound{2'000};

// The printers of the print server libcups finds: its destinations in the order it reports
// them (sorted by name), without the option presets that lpoptions adds as "name/instance".
// The default is the destination libcups marks as the user's: LPDEST, PRINTER, lpoptions, then
// the server's own default.
class CupsPrinters final : public spool::PrinterEnumeration {
 public:
  explicit CupsPrinters(std::chrono::milliseconds bound = kEnumerationBound);
  // Waits for the looks that outlived their deadline: each ends within a few seconds.
  ~CupsPrinters() override;
  CupsPrinters(const CupsPrinters&) = delete;
  CupsPrinters& operator=(const CupsPrinters&) = delete;

  spool::PlatformFamily family() const override { return spool::PlatformFamily::NT; }
  // Empty when the server cannot be reached or does not answer within the bound.
  std::vector<spool::PrinterRecord> printers() override;
  // Names the default destination; says there is none when the server answered and marked
  // none (no destinations, or a default that is not one of them); and is a system error, with
  // libcups's status or the connection's errno and its text, when the server could not be
  // reached or did not answer within the bound.
  spool::DefaultPrinterQuery defaultPrinter() override;
  // Both from one look, within one bound.
  spool::PrinterLook look() override;
  // CUPS keeps no such profile value.
  std::string profileDevice() override { return {}; }

  struct Destinations {
    std::vector<std::string> names;
    spool::DefaultPrinterQuery defaultPrinter;
  };

  struct Look;

 private:
  Destinations destinations();
  static std::optional<std::pair<std::string, std::string>> askOnThisThread(
      const std::string& prompt, std::shared_ptr<http_t>& placeholder);
  void joinFinished();

  std::chrono::milliseconds bound_ = kEnumerationBound;
  std::vector<std::pair<std::shared_ptr<Look>, std::thread>> late_;
};

}  // namespace batchcups
