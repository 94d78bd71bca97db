#include "platform/cups/cups_printers.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/printer/silent_server.h"
#include "tests/printer/slow_relay.h"
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
  static const testing_support::PrivateCupsd& server() { return *server_; }

  void SetUp() override {
    server_ = std::make_unique<testing_support::PrivateCupsd>();
    for (const char* name : {"Zed", "alpha", "Beta"}) {
      server_->addCaptureQueue(name);
    }
    server_->setDefault("Zed");
  }
  void TearDown() override { server_.reset(); }

 private:
  static inline std::unique_ptr<testing_support::PrivateCupsd> server_;
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

// A server that answers with no queue has no default: that is not a failure.
TEST(CupsPrintersEmpty, NoQueuesGiveNoPrintersAndNoDefault) {
  testing_support::PrivateCupsd server;
  batchcups::CupsPrinters printers;
  const auto look = printers.look();
  EXPECT_TRUE(look.printers.empty());
  EXPECT_EQ(look.defaultPrinter.outcome, Outcome::NoDefault);
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

double seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// No server to connect to: the errno libcups gives the failed connection (EHOSTDOWN once every
// address has failed), and its text.
TEST(CupsPrintersUnreachable, NoServerIsASystemErrorWithTheConnectionsErrno) {
  const ScopedServer server("/nonexistent/batchspool-no-server");
  batchcups::CupsPrinters printers;
  for (const auto& query : {printers.look().defaultPrinter, printers.defaultPrinter()}) {
    EXPECT_EQ(query.outcome, Outcome::SystemError);
    EXPECT_EQ(query.errorCode, EHOSTDOWN);
    EXPECT_EQ(query.errorText, std::strerror(EHOSTDOWN));
  }
  EXPECT_TRUE(printers.printers().empty());
}

// A server that takes the connection and never answers: the look waits out its whole bound,
// no less (a slow server still gets all of it) and little more, and is a system error with
// libcups's status, never "no default printer".
TEST(CupsPrintersUnreachable, ServerThatNeverAnswersIsASystemErrorAtTheBound) {
  const testing_support::SilentServer silent;
  const ScopedServer server(silent.path());
  batchcups::CupsPrinters printers;
  const auto start = Clock::now();
  const auto look = printers.look();
  const auto took = Clock::now() - start;
  std::cout << "one look at a silent server: " << seconds(took) << " s, status "
            << look.defaultPrinter.errorCode << " \"" << look.defaultPrinter.errorText << "\"\n";
  EXPECT_TRUE(look.printers.empty());
  EXPECT_EQ(look.defaultPrinter.outcome, Outcome::SystemError);
  EXPECT_NE(look.defaultPrinter.errorCode, 0);
  EXPECT_FALSE(look.defaultPrinter.errorText.empty());
  EXPECT_GE(took, batchcups::kEnumerationBound);
  EXPECT_LT(took, batchcups::kEnumerationBound + std::chrono::milliseconds(400));

  const auto again = Clock::now();
  EXPECT_EQ(printers.defaultPrinter().outcome, Outcome::SystemError);
  EXPECT_LT(Clock::now() - again, batchcups::kEnumerationBound + std::chrono::milliseconds(400));
}

// A server that pauses between each answer's header and its body, for longer than a short
// wait but well within the bound (a busy cupsd saving its state files), is still heard.
TEST(CupsPrintersSlowServer, PauseBeforeEachAnswersBodyWithinTheBoundIsWaitedFor) {
  const testing_support::SlowRelay relay(QueuesEnvironment::server().socketPath(),
                                         std::chrono::milliseconds(500));
  const ScopedServer server(relay.path());
  batchcups::CupsPrinters printers;
  const auto start = Clock::now();
  const auto look = printers.look();
  std::cout << "one look through a relay holding each body back 0.5 s: "
            << seconds(Clock::now() - start) << " s\n";
  EXPECT_EQ(names(look.printers), (std::vector<std::string>{"alpha", "Beta", "Zed"}));
  EXPECT_EQ(look.defaultPrinter.outcome, Outcome::Named);
  EXPECT_EQ(look.defaultPrinter.name, "Zed");
  EXPECT_GE(relay.heldBack(), 2);
}

}  // namespace
