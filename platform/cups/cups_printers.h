#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "spool/printer_enumeration.h"

namespace batchcups {

// How long one look at the server's destinations may take before it counts as failed. libcups
// alone waits one to two minutes on a server that does not answer, and the window is built
// only after two such looks (the list, then the default).
inline constexpr std::chrono::milliseconds kEnumerationBound{2'000};

// The printers of the print server libcups finds: its destinations in the order it reports
// them (sorted by name), without the option presets that lpoptions adds as "name/instance".
// The default is the destination libcups marks as the user's: LPDEST, PRINTER, lpoptions, then
// the server's own default.
class CupsPrinters final : public spool::PrinterEnumeration {
 public:
  explicit CupsPrinters(std::chrono::milliseconds bound = kEnumerationBound);

  spool::PlatformFamily family() const override { return spool::PlatformFamily::NT; }
  std::vector<spool::PrinterRecord> printers() override;
  // Names the default destination, or says there is none: no server, no answer within the
  // bound, no destinations, or no destination marked as the default.
  spool::DefaultPrinterQuery defaultPrinter() override;
  // CUPS keeps no such profile value.
  std::string profileDevice() override { return {}; }

 private:
  struct Destinations {
    std::vector<std::string> names;
    std::optional<std::string> defaultName;
  };
  Destinations destinations() const;

  std::chrono::milliseconds bound_ = kEnumerationBound;
};

}  // namespace batchcups
