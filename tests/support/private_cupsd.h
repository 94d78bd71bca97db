#pragma once

#include <sys/types.h>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// What a test changes in the server's configuration, as CUPS's own directives.
struct ServerSettings {
  // cupsd.conf lines, each replacing the fixture's own line of the same directive ("MaxJobs 500"
  // replaces "MaxJobs 0") or added when the fixture has none.
  std::vector<std::string> directives;
  // <Limit> blocks put in the default policy ahead of its catch-all, e.g. one that asks for a
  // password for the job operations.
  std::string policyLimits;
};

// A print server of the test's own: cupsd listening on a unix socket in a fresh folder, with
// every piece of its state inside that folder. While it lives, this process's libcups (and every
// tool run through it) talks to it and to nothing else. Jobs sent to a capture queue land as
// files, so a test can compare what the server received byte for byte.
class PrivateCupsd {
 public:
  // Starts the server; throws std::runtime_error with the reason when it cannot.
  explicit PrivateCupsd(ServerSettings settings = {});
  // Stops the server (SIGTERM by pid), waits for it, removes its folder and gives this process
  // its former environment back.
  ~PrivateCupsd();
  PrivateCupsd(const PrivateCupsd&) = delete;
  PrivateCupsd& operator=(const PrivateCupsd&) = delete;

  std::string socketPath() const;
  pid_t pid() const { return pid_; }

  // A queue whose jobs are captured by backend/capture; returns the capture folder.
  std::string addCaptureQueue(const std::string& name);
  // Makes the queue the server's default destination (lpadmin -d).
  void setDefault(const std::string& name);
  // Runs a CUPS tool (cupsreject, lpadmin, lp, ...) against this server; throws with the tool's
  // output when it fails.
  void run(const std::vector<std::string>& argv);

  struct CapturedJob {
    int id = 0;
    std::string title;
    std::string bytes;
  };
  // The queue's captured jobs in job-id order, once at least `count` of them have arrived;
  // throws when they have not within a few seconds.
  std::vector<CapturedJob> waitForJobs(const std::string& queue, std::size_t count);

  struct ServerJob {
    int id = 0;
    std::string title;
    int state = 0;  // an ipp_jstate_t: 3 pending ... 7 cancelled, 9 completed
  };
  // Every job the server knows for the queue, finished or not, in job-id order.
  std::vector<ServerJob> serverJobs(const std::string& queue);

 private:
  void start();
  void stop();
  void pointClientsHere();
  void restoreEnvironment();

  ServerSettings settings_;
  std::string dir_;
  pid_t pid_ = -1;
  std::map<std::string, std::string> captureDirs_;
  std::vector<std::pair<std::string, std::optional<std::string>>> savedEnvironment_;
};

}  // namespace testing_support
