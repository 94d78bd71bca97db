#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "spool/spooler.h"

namespace spool {

// One printer as the print system lists it. `ports` is the comma-separated port list that the
// older family reports with each printer; the NT family leaves it empty.
struct PrinterRecord {
  std::string name;
  std::string ports;
};

// The print system's answer when asked which printer is the default.
struct DefaultPrinterQuery {
  enum class Outcome {
    Named,        // `name` is the default printer's name
    NoneNamed,    // the query worked but named none: the profile's "device" value decides
    NoDefault,    // the print system says there is no default printer
    SystemError,  // the query failed: `errorCode` and its text `errorText`
  };
  Outcome outcome = Outcome::NoDefault;
  std::string name;
  int errorCode = 0;
  std::string errorText;
};

// The printers and the default as one look at the print system found them.
struct PrinterLook {
  std::vector<PrinterRecord> printers;
  DefaultPrinterQuery defaultPrinter;
};

// What the printer object needs of the print system to list printers and find the default.
class PrinterEnumeration {
 public:
  virtual ~PrinterEnumeration() = default;

  virtual PlatformFamily family() const = 0;
  // Every printer, in the print system's order; empty when the enumeration fails.
  virtual std::vector<PrinterRecord> printers() = 0;
  virtual DefaultPrinterQuery defaultPrinter() = 0;
  // The list and the default together, for a caller that needs both at once: a print system
  // that can answer both in one look overrides it, so that a server that does not answer is
  // waited for once, not twice.
  virtual PrinterLook look() { return {printers(), defaultPrinter()}; }
  // The profile's "device" value ("name,driver,port"), asked only after a query that named
  // no printer; empty when there is none.
  virtual std::string profileDevice() = 0;
};

// Splits a port list at commas. Each piece starts after the blanks leading it and runs to the
// next comma, so blanks after a name stay part of it; the first empty piece ends the list.
std::vector<std::string> splitPortList(std::string_view ports);

// The printer name in a profile "device" value: its first piece, split as a port list is.
std::string profileDeviceName(std::string_view device);

}  // namespace spool
