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
  // The server also listens on tcpAddress, at a free port it is given when it starts (port()).
  bool tcp = false;
  // 127.0.0.1, or an address of a network namespace of the test's own (PrivateNetwork).
  std::string tcpAddress = "127.0.0.1";
  // Every request to the server must come over TLS ("Encryption Required" for the whole server),
  // with a certificate the server makes for itself on the first TLS connection. Implies tcp.
  // cupsd exempts clients on loopback addresses (127.0.0.0/8, ::1) from this: such a client
  // must ask for TLS itself (Encryption Required in its client.conf), or reach the server on an
  // address of a PrivateNetwork, to be held to it.
  bool encryptionRequired = false;
};

// How this process's libcups finds the server.
enum class ClientRoute {
  // CUPS_SERVER names the server's unix socket (what the server starts with).
  socket,
  // CUPS_SERVER=ADDRESS:PORT.
  tcpEnvironment,
  // CUPS_SERVER unset and "ServerName ADDRESS:PORT" in ~/.cups/client.conf, the way an
  // operator points a desktop at a print server.
  tcpClientConf,
};

// A print server of the test's own: cupsd listening on a unix socket in a fresh folder (and on
// TCP when asked), with every piece of its state inside that folder. While it lives, this
// process's libcups talks to it (the one started last, where a test starts two) and to nothing
// else; the tools run through run() always reach it by its socket. Jobs sent to a capture queue
// land as files, so a test can compare what the server received byte for byte.
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
  // What the server has written to its access log so far (every request, with AccessLogLevel
  // all among the settings).
  std::string accessLog() const;
  // Where the server keeps the documents of the jobs it holds (dNNNNN-001 for job NNNNN).
  std::string spoolFolder() const;
  pid_t pid() const { return pid_; }
  // The TCP port on tcpAddress(); 0 when the server listens on its socket only.
  int port() const { return port_; }
  const std::string& tcpAddress() const { return settings_.tcpAddress; }
  // The HOME of this process's clients while a server lives: one path for every server of the
  // process, a folder emptied as each starts and removed when the last one stops.
  static std::string clientHome();
  // The folder that holds the server's own logs (error_log, access_log).
  std::string logDir() const;

  // Points this process's libcups at the server by `route` (the TCP routes need tcp), with
  // `clientConf` as further lines of ~/.cups/client.conf (e.g. "Encryption Required"). The
  // system-wide client.conf then names no server that answers, so nothing reaches this server
  // by a route the test did not choose. Throws when libcups in this thread does not then name
  // this server, as when the thread had called libcups before any server set HOME.
  void routeClients(ClientRoute route, const std::vector<std::string>& clientConf = {});

  // A queue whose jobs are captured by backend/capture; returns the capture folder.
  std::string addCaptureQueue(const std::string& name);
  // Starts a stopped queue's printer (cupsenable).
  void startQueue(const std::string& name);
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
  bool startOnce();
  void releaseHome();
  std::vector<std::string> toolEnvironment() const;

  ServerSettings settings_;
  std::string dir_;
  pid_t pid_ = -1;
  int port_ = 0;
  bool routedEncryption_ = false;
  bool holdsHome_ = false;
  std::map<std::string, std::string> captureDirs_;
  std::vector<std::pair<std::string, std::optional<std::string>>> savedEnvironment_;
};

}  // namespace testing_support
