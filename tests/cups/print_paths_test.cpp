// The paths from the program to the printer that operators have: the server reached over TCP,
// over TLS, and CUPS's own network backends to a printer at the far end.
#include <cups/cups.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/private_cupsd.h"

namespace {

using testing_support::ClientRoute;
using testing_support::PrivateCupsd;
using testing_support::ServerSettings;

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

}  // namespace
