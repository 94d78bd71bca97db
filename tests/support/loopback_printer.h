#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

// The far end of a network printer on 127.0.0.1, at a free port, for CUPS's own network
// backends to print to. It serves one connection at a time on a thread of its own and keeps what
// each job brings. It stops when destroyed, and by itself once its lifetime is over, so that a
// test that never reaches its end leaves nothing listening.
class LoopbackPrinter {
 public:
  enum class Protocol {
    // AppSocket / JetDirect (socket://): a connection's bytes, up to its end, are one job.
    appSocket,
    // LPD (lpd://, RFC 1179): "receive a printer job" for one queue, with its control file and
    // data file subcommands, each acknowledged with a zero byte.
    lpd,
  };
  struct Job {
    std::string controlFile;  // LPD only
    std::string data;         // the document's bytes as they arrived
  };

  // `lpdQueue` is the one queue an LPD printer takes jobs for.
  explicit LoopbackPrinter(Protocol protocol, std::string lpdQueue = {});
  ~LoopbackPrinter();
  LoopbackPrinter(const LoopbackPrinter&) = delete;
  LoopbackPrinter& operator=(const LoopbackPrinter&) = delete;

  int port() const;
  // The jobs received, in the order they came, once at least `count` have; throws when they
  // have not within a bound, saying what did arrive.
  std::vector<Job> waitForJobs(std::size_t count);
  // What the printer took as a breach of its protocol (an unknown command, a short file, a
  // queue it does not serve); a test expects none.
  std::vector<std::string> faults() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace testing_support
