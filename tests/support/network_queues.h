#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/loopback_printer.h"
#include "tests/support/private_cupsd.h"
#include "tests/support/private_network.h"

namespace testing_support {

// How the program finds its server: only ever over TCP, named by the environment or by the
// user's client.conf, in the clear or with every request over TLS.
struct ServerRoute {
  std::string label;
  ClientRoute route;
  std::vector<std::string> clientConf;  // lines of ~/.cups/client.conf
  bool tls = false;                     // the server requires TLS of every request
  // Where set, the server listens on this address of a PrivateNetwork rather than 127.0.0.1.
  std::string privateAddress;
};
// The routes the print path tests take, each a case of their tables.
const std::vector<ServerRoute>& serverRoutes();

// A print server reached over TCP whose queues print through CUPS's own network backends to
// printers of the test's own on 127.0.0.1, the ways operators' printers are reached: AppSocket,
// IPP (a second cupsd over TCP playing the network printer, capturing what it gets) and LPD. The
// queues are raw: what the program sends is what the printer gets.
class NetworkQueues {
 public:
  enum class FarEnd { appSocket, ipp, lpd };
  // The server's queue that prints to the far end.
  static std::string queue(FarEnd farEnd);
  // The far ends whose queues the server offers to a client by `route`, in the order of their
  // queue names. cupsd takes a queue without a driver whose device is another CUPS server's
  // printer (ipp://.../printers/...) for that server's queue, which it never shares: a client
  // that is not on the server's own loopback neither sees it nor prints to it.
  static std::vector<FarEnd> offered(const ServerRoute& route);

  // Starts the printers and the program's server, and points this process's clients at the
  // latter by `route`.
  explicit NetworkQueues(const ServerRoute& route);

  PrivateCupsd& server() { return server_; }

  struct Arrived {
    std::string title;  // the job's name where the protocol carries it whole (IPP), else empty
    std::string bytes;
  };
  // What the far end received, in order, once at least `count` jobs have come.
  std::vector<Arrived> waitForJobs(FarEnd farEnd, std::size_t count);
  // The AppSocket and LPD printers' complaints about what the backends sent; none expected.
  std::vector<std::string> faults() const;

  // The server's jobs on the queue once none of them is pending or printing any more; throws
  // when they have not all finished within a bound.
  std::vector<PrivateCupsd::ServerJob> waitForFinishedJobs(FarEnd farEnd);

  // How many requests the server answered over TCP since `mark` (the length its error_log had,
  // from logLength()), and how many of them came over TLS. A request the server turned away
  // with "426 Upgrade Required" is not answered. The server logs these at LogLevel debug, which
  // it runs at here.
  struct TcpRequests {
    int answered = 0;
    int overTls = 0;
  };
  std::size_t logLength() const;
  TcpRequests tcpRequestsSince(std::size_t mark) const;

 private:
  // Made first and gone last: everything else lives in it.
  std::optional<PrivateNetwork> network_;
  LoopbackPrinter appSocket_;
  LoopbackPrinter lpd_;
  // Started before the program's server, so that this process's clients point at the latter.
  PrivateCupsd networkPrinter_;
  PrivateCupsd server_;
};

}  // namespace testing_support
