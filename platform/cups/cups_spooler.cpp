#include "platform/cups/cups_spooler.h"

#include <cups/cups.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <vector>

#include "spool/job_name.h"

namespace batchcups {
namespace {

using Clock = std::chrono::steady_clock;

// A wait on the server wakes this often to look at its call's deadline. Not shorter: with
// 0.1 s slices libcups failed one request in a few hundred under load ("No such file or
// directory"), where 1 s slices gave 4,000 jobs of 4,000 (measured).
constexpr double kWaitSliceSeconds = 1.0;
// Pieces are gathered up to this size before they go to the server: fewer, larger writes are
// markedly faster than one request write per 4096-byte piece.
constexpr std::size_t kSendBufferSize = 32 * 1024;

struct DestDeleter {
  void operator()(cups_dest_t* dest) const { cupsFreeDests(1, dest); }
};
struct InfoDeleter {
  void operator()(cups_dinfo_t* info) const { cupsFreeDestInfo(info); }
};
using DestPtr = std::unique_ptr<cups_dest_t, DestDeleter>;
using InfoPtr = std::unique_ptr<cups_dinfo_t, InfoDeleter>;

// Whether a request on the connection succeeded. libcups reports the status of the last answer
// it read, so after a wait that gave up it still reports the previous request's success; only an
// HTTP answer on this connection says the server took the request.
bool succeeded(http_t* http, ipp_status_t status) {
  return status <= IPP_STATUS_OK_EVENTS_COMPLETE && httpGetStatus(http) == HTTP_STATUS_OK;
}

// One connection to the server. Every wait inside libcups on it (connecting, sending, awaiting
// an answer) gives up once the deadline of the call now using it has passed.
class Connection {
 public:
  // Null when no connection is made before the deadline.
  static std::unique_ptr<Connection> open(Clock::time_point deadline);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  http_t* http() const { return http_; }
  void setDeadline(Clock::time_point deadline) { deadline_ = deadline; }

 private:
  explicit Connection(Clock::time_point deadline) : deadline_(deadline) {}
  static int keepWaiting(http_t* http, void* self);

  http_t* http_ = nullptr;
  Clock::time_point deadline_{};
};

std::unique_ptr<Connection> Connection::open(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) {
    return nullptr;
  }
  std::unique_ptr<Connection> connection(new Connection(deadline));
  connection->http_ = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                   static_cast<int>(left.count()), nullptr);
  if (connection->http_ == nullptr) {
    return nullptr;
  }
  httpSetTimeout(connection->http_, kWaitSliceSeconds, &Connection::keepWaiting, connection.get());
  return connection;
}

Connection::~Connection() {
  if (http_ != nullptr) {
    httpClose(http_);
  }
}

int Connection::keepWaiting(http_t* /*http*/, void* self) {
  return Clock::now() < static_cast<const Connection*>(self)->deadline_ ? 1 : 0;
}

// A destination as libcups describes it, with what it needs to make jobs on it.
struct Destination {
  DestPtr dest;
  InfoPtr info;
};

}  // namespace

// Opening a printer per file is the run's rule; a connection and a destination lookup per file
// would be most of the time a small job takes. So a spooler keeps one connection that finished
// its last request cleanly, and the destinations it has found, and asks the server each time
// only whether the queue is still there.
struct ServerSession {
  std::unique_ptr<Connection> idle;
  std::map<std::string, std::shared_ptr<const Destination>, std::less<>> known;
};

namespace {

// One destination opened for jobs. At most one job is in hand at a time: created by
// startDocument, sent as one raw document, and either finished or cancelled. Each call gives
// the server one bound in all, whatever it has to ask of it.
class CupsPrinter final : public spool::PrinterHandle {
 public:
  CupsPrinter(std::unique_ptr<Connection> connection, std::shared_ptr<const Destination> dest,
              std::shared_ptr<ServerSession> session, std::chrono::milliseconds bound)
      : connection_(std::move(connection)),
        destination_(std::move(dest)),
        session_(std::move(session)),
        bound_(bound) {
    buffer_.reserve(kSendBufferSize);
  }
  ~CupsPrinter() override;
  CupsPrinter(const CupsPrinter&) = delete;
  CupsPrinter& operator=(const CupsPrinter&) = delete;

  bool startDocument(std::string_view docName) override;
  bool write(std::span<const std::byte> piece) override;
  bool endDocument() override;
  void cancelDocument() override { cancelJob(beginCall()); }

 private:
  // The deadline of a call starting now, set on the connection.
  Clock::time_point beginCall();
  bool flush();
  bool cancelJob(Clock::time_point deadline);

  cups_dest_t* dest() const { return destination_->dest.get(); }
  cups_dinfo_t* info() const { return destination_->info.get(); }

  std::unique_ptr<Connection> connection_;
  std::shared_ptr<const Destination> destination_;
  std::shared_ptr<ServerSession> session_;
  std::chrono::milliseconds bound_{};
  // The connection's last request was answered and nothing of a document is open on it, so the
  // next printer may use it.
  bool clean_ = true;
  int jobId_ = 0;         // the job in hand; 0 when none
  bool sending_ = false;  // its document request is open on the connection
  std::size_t documentBytes_ = 0;
  std::vector<char> buffer_;
};

CupsPrinter::~CupsPrinter() {
  // A document dropped without an end must not print.
  if (cancelJob(beginCall()) && clean_ && connection_) {
    session_->idle = std::move(connection_);
  }
}

Clock::time_point CupsPrinter::beginCall() {
  const Clock::time_point deadline = Clock::now() + bound_;
  if (connection_) {
    connection_->setDeadline(deadline);
  }
  return deadline;
}

bool CupsPrinter::startDocument(std::string_view docName) {
  const Clock::time_point deadline = beginCall();
  cancelJob(deadline);
  if (!connection_) {
    return false;
  }
  http_t* http = connection_->http();
  const std::string name = spool::jobNameForPath(docName);
  int id = 0;
  const ipp_status_t created =
      cupsCreateDestJob(http, dest(), info(), &id, name.c_str(), 0, nullptr);
  clean_ = httpGetStatus(http) == HTTP_STATUS_OK;
  if (!succeeded(http, created) || id <= 0) {
    return false;
  }
  jobId_ = id;
  sending_ = true;
  documentBytes_ = 0;
  buffer_.clear();
  if (cupsStartDestDocument(http, dest(), info(), id, name.c_str(), CUPS_FORMAT_RAW, 0, nullptr,
                            1) != HTTP_STATUS_CONTINUE) {
    cancelJob(deadline);
    return false;
  }
  return true;
}

bool CupsPrinter::write(std::span<const std::byte> piece) {
  if (!sending_) {
    return false;
  }
  const auto* bytes = reinterpret_cast<const char*>(piece.data());
  buffer_.insert(buffer_.end(), bytes, bytes + piece.size());
  if (buffer_.size() < kSendBufferSize) {
    return true;
  }
  beginCall();
  return flush();
}

bool CupsPrinter::flush() {
  if (buffer_.empty()) {
    return true;
  }
  const http_status_t status =
      cupsWriteRequestData(connection_->http(), buffer_.data(), buffer_.size());
  documentBytes_ += buffer_.size();
  buffer_.clear();
  return status == HTTP_STATUS_CONTINUE;
}

bool CupsPrinter::endDocument() {
  if (!sending_) {
    return false;
  }
  const Clock::time_point deadline = beginCall();
  if (!flush()) {
    cancelJob(deadline);
    return false;
  }
  http_t* http = connection_->http();
  const ipp_status_t status = cupsFinishDestDocument(http, dest(), info());
  clean_ = httpGetStatus(http) == HTTP_STATUS_OK;
  if (!clean_) {
    // No answer: the request may still be open on the connection.
    cancelJob(deadline);
    return false;
  }
  sending_ = false;
  if (succeeded(http, status)) {
    jobId_ = 0;
    return true;
  }
  // The server refuses a document with no bytes and would hold its job for a quarter of an
  // hour; an empty file is no failure of the run, so the job is dropped instead.
  const bool empty = documentBytes_ == 0;
  return cancelJob(deadline) && empty;
}

// Drops the job in hand. A document request still open on the connection cannot be taken back
// on it, so that connection is closed (the server then drops the unfinished document) and the
// cancel goes over a fresh one. True when the server confirmed the cancel.
bool CupsPrinter::cancelJob(Clock::time_point deadline) {
  if (jobId_ == 0) {
    return true;
  }
  const int id = jobId_;
  jobId_ = 0;
  buffer_.clear();
  if (sending_) {
    sending_ = false;
    connection_.reset();
    connection_ = Connection::open(deadline);
  }
  if (!connection_) {
    return false;
  }
  http_t* http = connection_->http();
  const bool cancelled = succeeded(http, cupsCancelDestJob(http, dest(), id));
  clean_ = httpGetStatus(http) == HTTP_STATUS_OK;
  return cancelled;
}

enum class QueueAnswer { Exists, Unknown, NoAnswer };

// What the server says of the queue. When it does not answer, cupsGetNamedDest would go on to a
// lookup over libcups's own connection, whose waits run for minutes that no deadline of ours
// bounds; asking first over the bounded connection keeps the open from ever reaching that
// lookup on a server that has stopped answering.
QueueAnswer askAboutQueue(http_t* http, const std::string& queue) {
  std::array<char, HTTP_MAX_URI> uri{};
  if (httpAssembleURIf(HTTP_URI_CODING_ALL, uri.data(), static_cast<int>(uri.size()), "ipp",
                       nullptr, "localhost", ippPort(), "/printers/%s",
                       queue.c_str()) != HTTP_URI_STATUS_OK) {
    return QueueAnswer::Unknown;
  }
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.data());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
               "printer-name");
  ipp_t* response = cupsDoRequest(http, request, "/");
  if (response == nullptr || httpGetStatus(http) != HTTP_STATUS_OK) {
    ippDelete(response);
    return QueueAnswer::NoAnswer;
  }
  const bool exists = ippGetStatusCode(response) <= IPP_STATUS_OK_EVENTS_COMPLETE;
  ippDelete(response);
  return exists ? QueueAnswer::Exists : QueueAnswer::Unknown;
}

std::shared_ptr<const Destination> lookUp(http_t* http, const std::string& name) {
  DestPtr dest(cupsGetNamedDest(http, name.c_str(), nullptr));
  if (!dest) {
    return nullptr;
  }
  InfoPtr info(cupsCopyDestInfo(http, dest.get()));
  if (!info) {
    return nullptr;
  }
  return std::make_shared<const Destination>(Destination{std::move(dest), std::move(info)});
}

}  // namespace

CupsSpooler::CupsSpooler(std::chrono::milliseconds bound)
    : bound_(bound), session_(std::make_shared<ServerSession>()) {}

std::unique_ptr<spool::PrinterHandle> CupsSpooler::open(std::string_view printerName) {
  // libcups takes names as C strings: an empty name would mean the default destination and a
  // NUL inside would name another printer than the one asked for.
  if (printerName.empty() || printerName.find('\0') != std::string_view::npos) {
    return nullptr;
  }
  const Clock::time_point deadline = Clock::now() + bound_;
  const std::string name(printerName);
  std::unique_ptr<Connection> connection = std::move(session_->idle);
  QueueAnswer answer = QueueAnswer::NoAnswer;
  if (connection) {
    connection->setDeadline(deadline);
    answer = askAboutQueue(connection->http(), name);
  }
  if (answer == QueueAnswer::NoAnswer) {
    // The server may have closed a connection kept idle; a fresh one tells for certain.
    connection = Connection::open(deadline);
    if (!connection) {
      return nullptr;
    }
    answer = askAboutQueue(connection->http(), name);
  }
  if (answer == QueueAnswer::NoAnswer) {
    return nullptr;
  }
  // A queue of the server's own is looked up once; any other name (a printer the server finds
  // on the network) every time, and a queue that is gone is forgotten.
  std::shared_ptr<const Destination> destination;
  if (answer == QueueAnswer::Exists) {
    destination = session_->known[name];
  } else {
    session_->known.erase(name);
  }
  if (!destination) {
    destination = lookUp(connection->http(), name);
    if (!destination) {
      return nullptr;
    }
    if (answer == QueueAnswer::Exists) {
      session_->known[name] = destination;
    }
  }
  return std::make_unique<CupsPrinter>(std::move(connection), std::move(destination), session_,
                                       bound_);
}

void CupsSpooler::endRun() {
  session_->idle.reset();
  session_->known.clear();
}

}  // namespace batchcups
