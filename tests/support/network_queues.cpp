#include "tests/support/network_queues.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

namespace testing_support {

namespace {

using Clock = std::chrono::steady_clock;

// The queue on the IPP printer, and the one the LPD printer serves.
constexpr const char* kIppPrinterQueue = "far";
constexpr const char* kLpdPrinterQueue = "raw";
constexpr auto kFinishBound = std::chrono::seconds(30);
constexpr auto kPollInterval = std::chrono::milliseconds(10);
constexpr int kFirstFinishedState = 7;  // IPP job-state canceled; aborted and completed follow

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

ServerSettings programServer(const ServerRoute& route) {
  ServerSettings settings;
  settings.tcp = true;
  settings.encryptionRequired = route.tls;
  if (!route.privateAddress.empty()) {
    settings.tcpAddress = route.privateAddress;
  }
  // The server tells which connections came over TCP and which of them it made TLS.
  settings.directives.emplace_back("LogLevel debug");
  return settings;
}

ServerSettings networkPrinter() {
  ServerSettings settings;
  settings.tcp = true;
  return settings;
}

std::string loopbackUri(const std::string& scheme, int port, const std::string& resource) {
  return scheme + "://127.0.0.1:" + std::to_string(port) + resource;
}

// The client number of a cupsd debug line "... [Client N] text", or -1.
int clientOf(const std::string& line) {
  const std::size_t at = line.find("[Client ");
  if (at == std::string::npos) {
    return -1;
  }
  return std::atoi(line.c_str() + at + 8);
}

std::optional<PrivateNetwork> networkFor(const ServerRoute& route) {
  if (route.privateAddress.empty()) {
    return std::nullopt;
  }
  return std::optional<PrivateNetwork>(std::in_place, route.privateAddress);
}

}  // namespace

const std::vector<ServerRoute>& serverRoutes() {
  static const std::vector<ServerRoute> all = {
      {"CupsServerVariable", ClientRoute::tcpEnvironment, {}, false, ""},
      // cupsd does not hold a client on a loopback address to its "Encryption Required"; the
      // client asks for TLS itself, as an operator's client.conf can.
      {"ClientConfOverTls", ClientRoute::tcpClientConf, {"Encryption Required"}, true, ""},
      // A client on another address is held to it with nothing asked of the client: each
      // connection is upgraded to TLS at the server's word.
      {"ServerDemandsTls", ClientRoute::tcpEnvironment, {}, true, "10.213.0.1"},
  };
  return all;
}

std::string NetworkQueues::queue(FarEnd farEnd) {
  switch (farEnd) {
    case FarEnd::appSocket:
      return "socket";
    case FarEnd::ipp:
      return "ipp";
    case FarEnd::lpd:
      return "lpd";
  }
  return {};
}

std::vector<NetworkQueues::FarEnd> NetworkQueues::offered(const ServerRoute& route) {
  if (!route.privateAddress.empty()) {
    return {FarEnd::lpd, FarEnd::appSocket};
  }
  return {FarEnd::ipp, FarEnd::lpd, FarEnd::appSocket};
}

NetworkQueues::NetworkQueues(const ServerRoute& route)
    : network_(networkFor(route)),
      appSocket_(LoopbackPrinter::Protocol::appSocket),
      lpd_(LoopbackPrinter::Protocol::lpd, kLpdPrinterQueue),
      networkPrinter_(networkPrinter()),
      server_(programServer(route)) {
  networkPrinter_.addCaptureQueue(kIppPrinterQueue);
  const std::vector<std::pair<FarEnd, std::string>> devices = {
      {FarEnd::appSocket, loopbackUri("socket", appSocket_.port(), "")},
      {FarEnd::ipp,
       loopbackUri("ipp", networkPrinter_.port(), std::string("/printers/") + kIppPrinterQueue)},
      // As root the backend would bind a reserved source port first, which an LPD server may
      // ask for but this one does not.
      {FarEnd::lpd,
       loopbackUri("lpd", lpd_.port(), std::string("/") + kLpdPrinterQueue + "?reserve=none")},
  };
  for (const auto& [farEnd, uri] : devices) {
    server_.run({"lpadmin", "-p", queue(farEnd), "-E", "-v", uri});
  }
  server_.routeClients(route.route, route.clientConf);
}

std::vector<NetworkQueues::Arrived> NetworkQueues::waitForJobs(FarEnd farEnd, std::size_t count) {
  std::vector<Arrived> arrived;
  if (farEnd == FarEnd::ipp) {
    for (PrivateCupsd::CapturedJob& job : networkPrinter_.waitForJobs(kIppPrinterQueue, count)) {
      arrived.push_back({std::move(job.title), std::move(job.bytes)});
    }
    return arrived;
  }
  LoopbackPrinter& printer = farEnd == FarEnd::appSocket ? appSocket_ : lpd_;
  for (LoopbackPrinter::Job& job : printer.waitForJobs(count)) {
    arrived.push_back({"", std::move(job.data)});
  }
  return arrived;
}

std::vector<std::string> NetworkQueues::faults() const {
  std::vector<std::string> all = appSocket_.faults();
  for (const std::string& fault : lpd_.faults()) {
    all.push_back(fault);
  }
  return all;
}

std::vector<PrivateCupsd::ServerJob> NetworkQueues::waitForFinishedJobs(FarEnd farEnd) {
  const auto deadline = Clock::now() + kFinishBound;
  for (;;) {
    std::vector<PrivateCupsd::ServerJob> jobs = server_.serverJobs(queue(farEnd));
    if (std::all_of(jobs.begin(), jobs.end(), [](const PrivateCupsd::ServerJob& job) {
          return job.state >= kFirstFinishedState;
        })) {
      return jobs;
    }
    if (Clock::now() > deadline) {
      throw std::runtime_error("the jobs on " + queue(farEnd) + " did not finish: " +
                               readFile(std::filesystem::path(server_.logDir()) / "error_log"));
    }
    std::this_thread::sleep_for(kPollInterval);
  }
}

std::size_t NetworkQueues::logLength() const {
  return readFile(std::filesystem::path(server_.logDir()) / "error_log").size();
}

NetworkQueues::TcpRequests NetworkQueues::tcpRequestsSince(std::size_t mark) const {
  const std::string log = readFile(std::filesystem::path(server_.logDir()) / "error_log");
  std::istringstream lines(log.substr(std::min(mark, log.size())));
  std::set<int> overTcp;
  std::set<int> encrypted;
  TcpRequests requests;
  for (std::string line; std::getline(lines, line);) {
    const int client = clientOf(line);
    if (line.find("] Accepted from ") != std::string::npos && line.ends_with("(IPv4)")) {
      overTcp.insert(client);
    } else if (line.ends_with("] Connection now encrypted.")) {
      encrypted.insert(client);
    } else if (line.find("] Returning IPP ") != std::string::npos && overTcp.contains(client)) {
      ++requests.answered;
      requests.overTls += encrypted.contains(client) ? 1 : 0;
    }
  }
  return requests;
}

}  // namespace testing_support
