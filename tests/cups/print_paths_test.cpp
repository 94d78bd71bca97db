// The paths from the program to the printer that operators have: the server reached over TCP,
// over TLS, and CUPS's own network backends to a printer at the far end.
#include <cups/cups.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/cups/cups_spooler.h"
#include "spool/print_run.h"
#include "spool/source_file.h"
#include "tests/support/network_queues.h"
#include "tests/support/private_cupsd.h"
#include "tests/support/random_bytes.h"
#include "tests/support/recording_spooler.h"
#include "tests/support/temp_folder.h"

namespace testing_support {
// The far end by name in test listings.
void PrintTo(NetworkQueues::FarEnd farEnd, std::ostream* out) {
  *out << NetworkQueues::queue(farEnd);
}
}  // namespace testing_support

namespace {

using testing_support::randomBytes;

using namespace std::string_literals;
using testing_support::ClientRoute;
using testing_support::NetworkQueues;
using testing_support::PrivateCupsd;
using testing_support::ServerRoute;
using testing_support::serverRoutes;
using testing_support::ServerSettings;
using FarEnd = NetworkQueues::FarEnd;
using Clock = std::chrono::steady_clock;

constexpr int kJobCompleted = 9;  // IPP job-state completed

std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The queue names libcups finds by the route the test chose.
std::vector<std::string> queueNames() {
  cups_dest_t* dests = nullptr;
  const int n = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
  std::vector<std::string> names;
  for (int i = 0; i < n; ++i) {
    names.emplace_back(dests[i].name);
  }
  cupsFreeDests(n, dests);
  return names;
}

TEST(PrivateCupsdTcp, ListensOnItsOwnPortAndEachRouteLeadsThere) {
  ServerSettings settings;
  settings.tcp = true;
  PrivateCupsd server(settings);
  server.addCaptureQueue("overtcp");
  ASSERT_GT(server.port(), 0);
  for (const ClientRoute route : {ClientRoute::tcpEnvironment, ClientRoute::tcpClientConf}) {
    server.routeClients(route);
    EXPECT_STREQ(cupsServer(), "127.0.0.1");
    EXPECT_EQ(ippPort(), server.port());
    EXPECT_EQ(queueNames(), std::vector<std::string>{"overtcp"});
  }
  server.routeClients(ClientRoute::socket);
  EXPECT_EQ(cupsServer(), server.socketPath());
}

TEST(PrivateCupsdTcp, TwoServersEachOnAPortOfItsOwn) {
  ServerSettings settings;
  settings.tcp = true;
  PrivateCupsd first(settings);
  PrivateCupsd second(settings);
  EXPECT_NE(first.port(), second.port());
  first.addCaptureQueue("first");
  second.addCaptureQueue("second");
  first.routeClients(ClientRoute::tcpEnvironment);
  EXPECT_EQ(queueNames(), std::vector<std::string>{"first"});
  second.routeClients(ClientRoute::tcpEnvironment);
  EXPECT_EQ(queueNames(), std::vector<std::string>{"second"});
}

TEST(PrivateCupsdTcp, EncryptionRequiredServesOverTlsWithACertificateOfItsOwn) {
  ServerSettings settings;
  settings.encryptionRequired = true;
  settings.directives = {"LogLevel debug"};
  PrivateCupsd server(settings);
  server.addCaptureQueue("sealed");
  server.routeClients(ClientRoute::tcpClientConf, {"Encryption Required"});
  EXPECT_EQ(queueNames(), std::vector<std::string>{"sealed"});
  const std::string log = readText(std::filesystem::path(server.logDir()) / "error_log");
  EXPECT_NE(log.find("Connection now encrypted."), std::string::npos) << log;
}

// Bytes a careless path would change: NULs, CR/LF and lone LFs and CRs, bytes that are not
// UTF-8, every byte value, and no line end at the end.
std::string awkwardBytes() {
  std::string bytes = "\0\0first line\r\nsecond\nthird\r\r\n\x1b%-12345X@PJL\r\n"s;
  bytes += "caf\xe9 \xc3\x28 \xff\xfe\xfd \xed\xa0\x80 \xf4\x90\x80\x80"s;
  for (int b = 0; b < 256; ++b) {
    bytes.push_back(static_cast<char>(b));
  }
  return bytes + "\r\n\0last"s;
}

struct PrintFile {
  std::string name;
  std::string bytes;
};

// Small and awkward, then larger than the CUPS layer's send buffer (32 KiB), so that a document
// goes out in several writes and arrives through the backend in several reads.
std::vector<PrintFile> printFiles() {
  return {{"awkward.prn", awkwardBytes()},
          {"sub folder/large job.bin", randomBytes(3 * 32 * 1024 + 17, 4)}};
}

using PathCase = std::tuple<std::size_t, FarEnd>;  // a route of serverRoutes(), a far end

// Every route with every far end the server offers by it.
std::vector<PathCase> pathCases() {
  std::vector<PathCase> cases;
  for (std::size_t r = 0; r < serverRoutes().size(); ++r) {
    for (const FarEnd farEnd : NetworkQueues::offered(serverRoutes()[r])) {
      cases.emplace_back(r, farEnd);
    }
  }
  return cases;
}

class PrintPathsThroughTheLayer : public testing::TestWithParam<PathCase> {};

std::string farEndName(FarEnd farEnd) {
  return farEnd == FarEnd::appSocket ? "AppSocket" : farEnd == FarEnd::ipp ? "Ipp" : "Lpd";
}

TEST_P(PrintPathsThroughTheLayer, EveryFileArrivesAtThePrinterUnchangedNamedByItsPath) {
  const ServerRoute& route = serverRoutes()[std::get<0>(GetParam())];
  const FarEnd farEnd = std::get<1>(GetParam());
  NetworkQueues queues(route);
  const testing_support::TempFolder folder;
  testing_support::FakeControls controls;
  controls.printerBox = NetworkQueues::queue(farEnd);
  controls.folder = folder.path().string();
  std::vector<std::string> expectedMessages = {"printer name : " + controls.printerBox};
  std::vector<std::string> paths;
  for (const PrintFile& file : printFiles()) {
    paths.push_back(folder.write(file.name, file.bytes));
    controls.lines.push_back(file.name);
    expectedMessages.push_back("manage " + paths.back());
  }
  const std::size_t mark = queues.logLength();

  const auto started = Clock::now();
  {
    batchcups::CupsSpooler spooler;
    spool::PosixFileOpener opener;
    spool::runPrintJob(controls, spooler, opener);
  }
  EXPECT_EQ(controls.messages, expectedMessages);

  const std::vector<NetworkQueues::Arrived> arrived = queues.waitForJobs(farEnd, paths.size());
  const auto printed = Clock::now() - started;
  ASSERT_EQ(arrived.size(), paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    SCOPED_TRACE(paths[i]);
    EXPECT_EQ(arrived[i].bytes.size(), printFiles()[i].bytes.size());
    EXPECT_TRUE(arrived[i].bytes == printFiles()[i].bytes) << "the bytes differ";
    if (farEnd == FarEnd::ipp) {
      EXPECT_EQ(arrived[i].title, paths[i]) << "the network printer's job name";
    }
  }
  EXPECT_TRUE(queues.faults().empty()) << testing::PrintToString(queues.faults());

  const std::vector<PrivateCupsd::ServerJob> jobs = queues.waitForFinishedJobs(farEnd);
  ASSERT_EQ(jobs.size(), paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    EXPECT_EQ(jobs[i].title, paths[i]);
    EXPECT_EQ(jobs[i].state, kJobCompleted) << jobs[i].title;
  }

  const NetworkQueues::TcpRequests requests = queues.tcpRequestsSince(mark);
  EXPECT_GT(requests.answered, 0) << "the program reached its server over TCP";
  EXPECT_EQ(requests.overTls, route.tls ? requests.answered : 0)
      << requests.answered << " requests answered over TCP";
  std::cout << "[ MEASURED ] " << route.label << " " << farEndName(farEnd) << ": printed in "
            << std::chrono::duration_cast<std::chrono::milliseconds>(printed).count() << " ms, "
            << requests.answered << " requests over TCP\n";
}

INSTANTIATE_TEST_SUITE_P(RouteAndPrinter, PrintPathsThroughTheLayer, testing::ValuesIn(pathCases()),
                         [](const testing::TestParamInfo<PathCase>& param) {
                           return serverRoutes()[std::get<0>(param.param)].label + "To" +
                                  farEndName(std::get<1>(param.param));
                         });

}  // namespace
