#include "platform/cups/cups_printers.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/printer/silent_server.h"
#include "tests/support/private_cupsd.h"

namespace {

using Outcome = spool::DefaultPrinterQuery::Outcome;
using Clock = std::chrono::steady_clock;

std::vector<std::string> names(const std::vector<spool::PrinterRecord>& records) {
  std::vector<std::string> found;
  for (const auto& r : records) {
    EXPECT_EQ(r.ports, "");
    found.push_back(r.name);
  }
  return found;
}

// Sets or clears an environment variable for one test and puts the former value back.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      old_ = old;
    }
    value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
  }
  ~ScopedVariable() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// One server for the whole program, queues added out of order, "Zed" the server's default.
// libcups reads HOME (for lpoptions) once per process, so every test that writes lpoptions
// must see the same HOME.
class QueuesEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    server_ = std::make_unique<testing_support::PrivateCupsd>();
    for (const char* name : {"Zed", "alpha", "Beta"}) {
      server_->addCaptureQueue(name);
    }
    server_->setDefault("Zed");
  }
  void TearDown() override { server_.reset(); }

 private:
  std::unique_ptr<testing_support::PrivateCupsd> server_;
};

const testing::Environment* const kQueues =
    testing::AddGlobalTestEnvironment(new QueuesEnvironment);

class CupsPrintersTest : public testing::Test {
 protected:
  static std::filesystem::path lpoptions() {
    return std::filesystem::path(std::getenv("HOME")) / ".cups" / "lpoptions";
  }
  static void writeLpoptions(const std::string& text) {
    std::filesystem::create_directories(lpoptions().parent_path());
    std::ofstream(lpoptions()) << text;
  }
  void TearDown() override { std::filesystem::remove(lpoptions()); }

  batchcups::CupsPrinters printers;
};

TEST_F(CupsPrintersTest, DestinationsInTheServersOrderWithoutOptionPresets) {
  writeLpoptions("Dest Beta/draft sides=one-sided\nDest alpha/x copies=2\n");
  EXPECT_EQ(names(printers.printers()), (std::vector<std::string>{"alpha", "Beta", "Zed"}));
  EXPECT_EQ(printers.family(), spool::PlatformFamily::NT);
}

struct DefaultSource {
  const char* name;
  std::optional<std::string> lpdest;
  std::optional<std::string> printer;
  std::string lpoptions;
  std::optional<std::string> expected;  // none: no default
};

void PrintTo(const DefaultSource& c, std::ostream* os) {
  *os << c.name;
}

class CupsDefault : public CupsPrintersTest, public testing::WithParamInterface<DefaultSource> {};

TEST_P(CupsDefault, IsTheDestinationLibcupsMarksAsTheUsersDefault) {
  const auto& c = GetParam();
  const ScopedVariable lpdest("LPDEST", c.lpdest);
  const ScopedVariable printer("PRINTER", c.printer);
  writeLpoptions(c.lpoptions);
  const auto query = printers.defaultPrinter();
  if (c.expected) {
    EXPECT_EQ(query.outcome, Outcome::Named);
    EXPECT_EQ(query.name, *c.expected);
  } else {
    EXPECT_EQ(query.outcome, Outcome::NoDefault);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, CupsDefault,
    testing::Values(DefaultSource{"ServerDefault", {}, {}, "", "Zed"},
                    DefaultSource{"LpoptionsOverServer", {}, {}, "Default alpha\n", "alpha"},
                    DefaultSource{
                        "PresetOfAQueue", {}, {}, "Dest Beta/draft\nDefault Beta/draft\n", "Beta"},
                    DefaultSource{"PrinterOverLpoptions", {}, "Beta", "Default alpha\n", "Beta"},
                    DefaultSource{"LpdestOverPrinter", "alpha", "Beta", "", "alpha"},
                    DefaultSource{"OtherLetterCase", "beta", {}, "", "Beta"},
                    DefaultSource{"NotAQueue", "Nowhere", {}, "", std::nullopt}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(CupsPrintersEmpty, NoQueuesGiveNoPrintersAndNoDefault) {
  testing_support::PrivateCupsd server;
  batchcups::CupsPrinters printers;
  EXPECT_TRUE(printers.printers().empty());
  EXPECT_EQ(printers.defaultPrinter().outcome, Outcome::NoDefault);
}

// Points libcups at `path` for one test, whatever is (or is not) listening there.
class ScopedServer {
 public:
  explicit ScopedServer(const std::string& path) : variable_("CUPS_SERVER", path) {
    cupsSetServer(nullptr);
  }
  ~ScopedServer() { cupsSetServer(nullptr); }

 private:
  ScopedVariable variable_;
};

TEST(CupsPrintersUnreachable, NoServerGivesNoPrintersAndNoDefault) {
  const ScopedServer server("/nonexistent/batchspool-no-server");
  batchcups::CupsPrinters printers;
  EXPECT_TRUE(printers.printers().empty());
  EXPECT_EQ(printers.defaultPrinter().outcome, Outcome::NoDefault);
}

// The window is built after one listing and one default lookup; it must be up within 10 s.
TEST(CupsPrintersUnreachable, ServerThatNeverAnswersIsGivenUpWithinTheBound) {
  const testing_support::SilentServer silent;
  const ScopedServer server(silent.path());
  batchcups::CupsPrinters printers;
  const auto start = Clock::now();
  EXPECT_TRUE(printers.printers().empty());
  EXPECT_EQ(printers.defaultPrinter().outcome, Outcome::NoDefault);
  const auto took = Clock::now() - start;
  EXPECT_LT(took, std::chrono::seconds(8)) << std::chrono::duration<double>(took).count() << " s";
  std::cout << "listing and default lookup against a silent server: "
            << std::chrono::duration<double>(took).count() << " s\n";
}

}  // namespace
