#pragma once

#include <exception>
#include <string>
#include <vector>

#include "spool/printer_enumeration.h"

namespace testing_support {

// A print system that lists what it is given and counts how often it is asked, for logic
// tests only. Unless told otherwise it has one printer, "Printer", which is the default.
class FakeEnumeration final : public spool::PrinterEnumeration {
 public:
  spool::PlatformFamily familyToReport = spool::PlatformFamily::NT;
  std::vector<spool::PrinterRecord> records = {{"Printer", ""}};
  spool::DefaultPrinterQuery query = {spool::DefaultPrinterQuery::Outcome::Named, "Printer", 0, ""};
  std::string device;
  // When set, the default query throws it instead of answering.
  std::exception_ptr failure;

  int looks = 0;
  int listings = 0;
  int defaultQueries = 0;
  int profileReads = 0;

  spool::PlatformFamily family() const override { return familyToReport; }
  std::vector<spool::PrinterRecord> printers() override {
    ++listings;
    return records;
  }
  spool::DefaultPrinterQuery defaultPrinter() override {
    ++defaultQueries;
    if (failure) {
      std::rethrow_exception(failure);
    }
    return query;
  }
  spool::PrinterLook look() override {
    ++looks;
    return PrinterEnumeration::look();
  }
  std::string profileDevice() override {
    ++profileReads;
    return device;
  }
};

inline spool::DefaultPrinterQuery named(std::string name) {
  return {spool::DefaultPrinterQuery::Outcome::Named, std::move(name), 0, ""};
}

}  // namespace testing_support
