#pragma once

#include <optional>
#include <string>
#include <vector>

#include "spool/printer_enumeration.h"

namespace toolkit {

// The device record that goes with each entry of the printer list.
struct PrinterDevice {
  std::string driver;  // always empty here
  std::string printer;
  std::string port;  // empty on the NT family
};

struct PrinterEntry {
  std::string text;
  PrinterDevice device;
};

// The entries for the printers as enumerated: the name itself on the NT family, "name. port"
// once per port on the older one.
std::vector<PrinterEntry> printerEntries(spool::PlatformFamily family,
                                         const std::vector<spool::PrinterRecord>& records);

// The message of the operating system's failure with `code`, whose own text is `text`.
std::string osErrorMessage(int code, const std::string& text);

// The printer list and the chosen printer. The list is enumerated once, at first use, and kept:
// printers installed later show only in the next run. Index -1 means "the default printer, not
// looked up yet"; every lookup asks the print system afresh, except the first one after the
// list was enumerated, which takes the default found in the same look: the list and its
// default are one picture of the print system, and a server that does not answer is waited
// for once, not twice, before the window opens.
class Printer {
 public:
  explicit Printer(spool::PrinterEnumeration& enumeration);

  const std::vector<PrinterEntry>& printers();
  // Looks the default printer up first while the index stands at -1. Throws EPrinter or
  // EOSError when that lookup fails.
  int printerIndex();
  // -1 looks the default printer up and leaves the index at -1, so that the next query looks
  // it up again, whether or not the lookup failed; a position is taken as it is, after a
  // lookup when the index stood at -1.
  void setPrinterIndex(int index);

 private:
  void setToDefaultPrinter();
  std::string defaultPrinterName();

  spool::PrinterEnumeration& enumeration_;
  std::optional<std::vector<PrinterEntry>> printers_;
  // The default from the look that enumerated the list, until a lookup takes it.
  std::optional<spool::DefaultPrinterQuery> lookDefault_;
  int index_ = -1;
};

}  // namespace toolkit
