#include "platform/toolkit/printer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/toolkit/exceptions.h"
#include "tests/printer/fake_enumeration.h"

namespace {

using spool::DefaultPrinterQuery;
using spool::PlatformFamily;
using testing_support::FakeEnumeration;
using testing_support::named;
using Outcome = DefaultPrinterQuery::Outcome;

const std::string kNoDefault = "デフォルト プリンタが存在しません";

struct PortListCase {
  const char* ports;
  std::vector<std::string> expectedPorts;
};

void PrintTo(const PortListCase& c, std::ostream* os) {
  *os << '"' << c.ports << '"';
}

class OlderFamilyEntries : public testing::TestWithParam<PortListCase> {};

TEST_P(OlderFamilyEntries, OneEntryPerPortUpToTheFirstEmptyPiece) {
  const auto& c = GetParam();
  const auto entries = toolkit::printerEntries(PlatformFamily::Older, {{"P", c.ports}});
  ASSERT_EQ(entries.size(), c.expectedPorts.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].text, "P. " + c.expectedPorts[i]);
    EXPECT_EQ(entries[i].device.printer, "P");
    EXPECT_EQ(entries[i].device.port, c.expectedPorts[i]);
    EXPECT_EQ(entries[i].device.driver, "");
  }
}

INSTANTIATE_TEST_SUITE_P(PortLists, OlderFamilyEntries,
                         testing::Values(PortListCase{"LPT1:,COM1:", {"LPT1:", "COM1:"}},
                                         PortListCase{"LPT1:, COM1:", {"LPT1:", "COM1:"}},
                                         PortListCase{"LPT1:,,COM1:", {"LPT1:"}},
                                         PortListCase{",LPT1:", {}}, PortListCase{"", {}},
                                         PortListCase{"LPT1: ,COM1:", {"LPT1: ", "COM1:"}},
                                         PortListCase{"  LPT1:,  ", {"LPT1:"}}));

TEST(PrinterEntries, NtFamilyTakesEachNameAsItIsInOrderWithDuplicates) {
  const auto entries = toolkit::printerEntries(
      PlatformFamily::NT, {{"Zeta", "ignored:"}, {"alpha beta", ""}, {"Zeta", ""}});
  std::vector<std::string> texts;
  for (const auto& e : entries) {
    texts.push_back(e.text);
    EXPECT_EQ(e.device.printer, e.text);
    EXPECT_EQ(e.device.port, "");
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"Zeta", "alpha beta", "Zeta"}));
}

struct DefaultCase {
  const char* name;
  PlatformFamily family;
  std::vector<spool::PrinterRecord> records;
  DefaultPrinterQuery query;
  std::string device;
  std::optional<int> index;  // the default entry's position, or a failure:
  std::string message;       // the failure's message
  bool systemError = false;  // EOSError rather than EPrinter
};

void PrintTo(const DefaultCase& c, std::ostream* os) {
  *os << c.name;
}

class DefaultLookup : public testing::TestWithParam<DefaultCase> {};

TEST_P(DefaultLookup, FindsTheEntryOrFailsWithTheToolkitsError) {
  const auto& c = GetParam();
  FakeEnumeration printers;
  printers.familyToReport = c.family;
  printers.records = c.records;
  printers.query = c.query;
  printers.device = c.device;
  toolkit::Printer printer(printers);
  if (c.index) {
    EXPECT_EQ(printer.printerIndex(), *c.index);
    return;
  }
  try {
    printer.printerIndex();
    FAIL() << "no failure";
  } catch (const toolkit::EOSError& e) {
    EXPECT_TRUE(c.systemError);
    EXPECT_EQ(e.what(), c.message);
    EXPECT_EQ(e.code(), c.query.errorCode);
  } catch (const toolkit::EPrinter& e) {
    EXPECT_FALSE(c.systemError);
    EXPECT_EQ(e.what(), c.message);
  }
}

const std::vector<spool::PrinterRecord> kAB = {{"A", ""}, {"B", ""}};
const std::vector<spool::PrinterRecord> kOlder = {{"P", "LPT1:,COM1:"}, {"Q", "LPT2:"}};

INSTANTIATE_TEST_SUITE_P(
    Cases, DefaultLookup,
    testing::Values(
        DefaultCase{"NamedDefault", PlatformFamily::NT, kAB, named("B"), "", 1, ""},
        DefaultCase{"OtherLetterCase", PlatformFamily::NT, kAB, named("b"), "", 1, ""},
        DefaultCase{"FirstOfDuplicates",
                    PlatformFamily::NT,
                    {{"A", ""}, {"B", ""}, {"B", ""}},
                    named("B"),
                    "",
                    1,
                    ""},
        DefaultCase{"OlderFirstPort", PlatformFamily::Older, kOlder, named("P"), "", 0, ""},
        DefaultCase{"OlderByPrinterNotText", PlatformFamily::Older, kOlder, named("q"), "", 2, ""},
        DefaultCase{"OlderEntryTextIsNoName", PlatformFamily::Older, kOlder, named("P. LPT1:"), "",
                    std::nullopt, kNoDefault},
        DefaultCase{"ProfileFirstPiece",
                    PlatformFamily::NT,
                    kAB,
                    {Outcome::NoneNamed, "", 0, ""},
                    "  B,winspool,Ne00:",
                    1,
                    ""},
        DefaultCase{"EmptyProfile",
                    PlatformFamily::NT,
                    kAB,
                    {Outcome::NoneNamed, "", 0, ""},
                    "",
                    std::nullopt,
                    kNoDefault},
        DefaultCase{"NoDefault",
                    PlatformFamily::NT,
                    kAB,
                    {Outcome::NoDefault, "", 0, ""},
                    "",
                    std::nullopt,
                    kNoDefault},
        DefaultCase{"NotListed", PlatformFamily::NT, kAB, named("C"), "", std::nullopt, kNoDefault},
        DefaultCase{"NoPrinters", PlatformFamily::NT, {}, named("A"), "", std::nullopt, kNoDefault},
        DefaultCase{"SystemError",
                    PlatformFamily::NT,
                    kAB,
                    {Outcome::SystemError, "", 5, "Access is denied."},
                    "",
                    std::nullopt,
                    "システムエラー。コード：5.\r\nAccess is denied.",
                    true},
        DefaultCase{"SystemErrorWithoutCode",
                    PlatformFamily::NT,
                    kAB,
                    {Outcome::SystemError, "", 0, "ignored"},
                    "",
                    std::nullopt,
                    "OS 機能呼び出しの失敗",
                    true}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(PrinterProfile, OnlyTheFirst1023BytesOfTheDeviceValueCount) {
  FakeEnumeration printers;
  const std::string longName(1023, 'n');
  printers.records = {{longName, ""}, {longName + "x", ""}};
  printers.query = {Outcome::NoneNamed, "", 0, ""};
  printers.device = longName + "x,winspool,Ne00:";
  toolkit::Printer printer(printers);
  EXPECT_EQ(printer.printerIndex(), 0);
}

// The index's life: what each operation returns and how often it asks the print system.
class PrinterIndex : public testing::Test {
 protected:
  PrinterIndex() {
    printers.records = {{"A", ""}, {"B", ""}, {"C", ""}};
    printers.query = named("B");
  }
  FakeEnumeration printers;
  toolkit::Printer printer{printers};
};

TEST_F(PrinterIndex, ListIsBuiltOnceAtFirstUseAndKept) {
  EXPECT_EQ(printers.listings, 0);
  const auto* first = &printer.printers();
  printers.records.push_back({"D", ""});
  EXPECT_EQ(printer.printers().size(), 3u);
  EXPECT_EQ(&printer.printers(), first);
  printer.printerIndex();
  EXPECT_EQ(printers.listings, 1);
}

TEST_F(PrinterIndex, LookupOnlyWhileTheIndexStandsAtMinusOne) {
  EXPECT_EQ(printer.printerIndex(), 1);
  EXPECT_EQ(printer.printerIndex(), 1);
  EXPECT_EQ(printers.defaultQueries, 1);
  printer.setPrinterIndex(2);
  EXPECT_EQ(printers.defaultQueries, 1);
  EXPECT_EQ(printer.printerIndex(), 2);
}

TEST_F(PrinterIndex, MinusOneLooksUpThenStaysAtMinusOneSoTheNextQueryLooksAgain) {
  printer.setPrinterIndex(0);
  printers.query = named("C");
  printer.setPrinterIndex(-1);
  EXPECT_EQ(printers.defaultQueries, 2);
  EXPECT_EQ(printer.printerIndex(), 2);
  EXPECT_EQ(printers.defaultQueries, 3);
}

TEST_F(PrinterIndex, PositionAfterMinusOneLooksUpFirstAndAFailureKeepsMinusOne) {
  printers.query = {Outcome::NoDefault, "", 0, ""};
  EXPECT_THROW(printer.setPrinterIndex(2), toolkit::EPrinter);
  EXPECT_EQ(printers.defaultQueries, 1);
  printers.query = named("A");
  EXPECT_EQ(printer.printerIndex(), 0);  // still -1, so this looks up again
  EXPECT_EQ(printers.defaultQueries, 2);
  printer.setPrinterIndex(2);
  EXPECT_EQ(printer.printerIndex(), 2);
  EXPECT_EQ(printers.defaultQueries, 2);
}

// A failed lookup for -1 still leaves the index at -1: the next pick from the list looks the
// default up again and reports its failure again, instead of passing as a plain position.
TEST_F(PrinterIndex, MinusOneStaysMinusOneWhenItsLookupFails) {
  printer.setPrinterIndex(2);
  const int before = printers.defaultQueries;
  printers.query = {Outcome::SystemError, "", 1283, "Service Unavailable"};
  EXPECT_THROW(printer.setPrinterIndex(-1), toolkit::EOSError);
  EXPECT_EQ(printers.defaultQueries, before + 1);
  EXPECT_THROW(printer.setPrinterIndex(0), toolkit::EOSError);
  EXPECT_EQ(printers.defaultQueries, before + 2);
  EXPECT_THROW(printer.printerIndex(), toolkit::EOSError);  // still -1
  printers.query = named("C");
  printer.setPrinterIndex(0);
  EXPECT_EQ(printer.printerIndex(), 0);
  EXPECT_EQ(printers.defaultQueries, before + 4);
}

// The list and the first default lookup come from one look; later lookups ask afresh.
TEST_F(PrinterIndex, FirstLookupTakesTheDefaultOfTheListsLook) {
  printer.printers();
  EXPECT_EQ(printers.looks, 1);
  printers.query = named("C");  // changed after the look: the first lookup still sees B
  EXPECT_EQ(printer.printerIndex(), 1);
  printer.setPrinterIndex(-1);
  EXPECT_EQ(printer.printerIndex(), 2);
  EXPECT_EQ(printers.looks, 1);
  EXPECT_EQ(printers.listings, 1);
}

TEST_F(PrinterIndex, LookupBeforeTheListEnumeratesItInTheSameLook) {
  EXPECT_EQ(printer.printerIndex(), 1);
  EXPECT_EQ(printers.looks, 1);
  EXPECT_EQ(printers.defaultQueries, 1);
}

TEST_F(PrinterIndex, PositionOutsideTheListIsRefused) {
  EXPECT_THROW(printer.setPrinterIndex(3), toolkit::EPrinter);
  EXPECT_THROW(printer.setPrinterIndex(-2), toolkit::EPrinter);
  EXPECT_EQ(printer.printerIndex(), 1);
}

}  // namespace
