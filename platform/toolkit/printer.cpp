#include "platform/toolkit/printer.h"

#include <QString>

#include "platform/toolkit/exceptions.h"

namespace toolkit {

namespace {

const char* const kNoDefaultPrinter = "デフォルト プリンタが存在しません";
const char* const kIndexOutOfRange = "Printer index out of range";
const char* const kOsCallFailed = "OS 機能呼び出しの失敗";
// "システムエラー。コード：%d.\r\n%s" filled with the code and its text.
const char* const kOsErrorHead = "システムエラー。コード：";
const char* const kOsErrorMiddle = ".\r\n";

// Printer names are compared the way the user reads them: letters without regard to case.
bool sameName(const std::string& a, const std::string& b) {
  return QString::fromUtf8(a).compare(QString::fromUtf8(b), Qt::CaseInsensitive) == 0;
}

}  // namespace

std::vector<PrinterEntry> printerEntries(spool::PlatformFamily family,
                                         const std::vector<spool::PrinterRecord>& records) {
  std::vector<PrinterEntry> entries;
  for (const auto& record : records) {
    if (family == spool::PlatformFamily::NT) {
      entries.push_back({record.name, {"", record.name, ""}});
      continue;
    }
    for (const auto& port : spool::splitPortList(record.ports)) {
      entries.push_back({record.name + ". " + port, {"", record.name, port}});
    }
  }
  return entries;
}

std::string osErrorMessage(int code, const std::string& text) {
  if (code == 0) {
    return kOsCallFailed;
  }
  return kOsErrorHead + std::to_string(code) + kOsErrorMiddle + text;
}

Printer::Printer(spool::PrinterEnumeration& enumeration) : enumeration_(enumeration) {}

const std::vector<PrinterEntry>& Printer::printers() {
  if (!printers_) {
    spool::PrinterLook look = enumeration_.look();
    printers_ = printerEntries(enumeration_.family(), look.printers);
    lookDefault_ = std::move(look.defaultPrinter);
  }
  return *printers_;
}

int Printer::printerIndex() {
  if (index_ == -1) {
    setToDefaultPrinter();
  }
  return index_;
}

void Printer::setPrinterIndex(int index) {
  if (index != -1 && (index < 0 || static_cast<std::size_t>(index) >= printers().size())) {
    throw EPrinter(kIndexOutOfRange);
  }
  if (index == -1) {
    index_ = -1;
    setToDefaultPrinter();
  } else if (index_ == -1) {
    setToDefaultPrinter();
  }
  index_ = index;
}

std::string Printer::defaultPrinterName() {
  spool::DefaultPrinterQuery query;
  if (lookDefault_) {
    query = std::move(*lookDefault_);
    lookDefault_.reset();
  } else {
    query = enumeration_.defaultPrinter();
  }
  switch (query.outcome) {
    case spool::DefaultPrinterQuery::Outcome::Named:
      return query.name;
    case spool::DefaultPrinterQuery::Outcome::NoneNamed:
      return spool::profileDeviceName(enumeration_.profileDevice());
    case spool::DefaultPrinterQuery::Outcome::NoDefault:
      break;
    case spool::DefaultPrinterQuery::Outcome::SystemError:
      throw EOSError(query.errorCode, osErrorMessage(query.errorCode, query.errorText));
  }
  throw EPrinter(kNoDefaultPrinter);
}

// On the older family the first entry of a printer is the one for its first port. The list
// comes first, so that a list enumerated here lends its look's default to this lookup.
void Printer::setToDefaultPrinter() {
  const auto& entries = printers();
  const std::string name = defaultPrinterName();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (sameName(entries[i].device.printer, name)) {
      index_ = static_cast<int>(i);
      return;
    }
  }
  throw EPrinter(kNoDefaultPrinter);
}

}  // namespace toolkit
