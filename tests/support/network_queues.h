#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tests/support/loopback_printer.h"
#include "tests/support/private_cupsd.h"

namespace testing_support {

// A print server reached over TCP whose queues print through CUPS's own network backends to
// printers of the test's own on 127.0.0.1, the ways operators' printers are reached: AppSocket,
// IPP (a second cupsd over TCP playing the network printer, capturing what it gets) and LPD. The
// queues are raw: what the program sends is what the printer gets.
class NetworkQueues {
 public:
  enum class FarEnd { appSocket, ipp, lpd };
  // The server's queue that prints to the far end.
  static std::string queue(FarEnd farEnd);

  // `settings` are the program's server's; it listens on TCP whatever they say.
  explicit NetworkQueues(ServerSettings settings);

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

  // How many connections the server took over TCP since `mark` (the length its error_log had,
  // from logLength()), and how many of them were made TLS. The server logs these at LogLevel
  // debug, which it runs at here.
  struct TcpClients {
    int accepted = 0;
    int encrypted = 0;
  };
  std::size_t logLength() const;
  TcpClients tcpClientsSince(std::size_t mark) const;

 private:
  LoopbackPrinter appSocket_;
  LoopbackPrinter lpd_;
  // Started before the program's server, so that this process's clients point at the latter.
  PrivateCupsd networkPrinter_;
  PrivateCupsd server_;
};

}  // namespace testing_support
