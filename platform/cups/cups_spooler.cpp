#include "platform/cups/cups_spooler.h"

#include <cups/cups.h>
#include <sys/socket.h>

#include <algorithm>
#include <string>
#include <vector>

#include "spool/job_name.h"

namespace batchcups {
namespace {

using Clock = std::chrono::steady_clock;

// A wait on the server wakes this often to look at its call's deadline.
constexpr double kWaitSliceSeconds = 0.1;
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

// One connection to the server. Each call made over it starts a deadline; every wait inside
// libcups (connecting, sending, awaiting the answer) gives up once that deadline has passed.
class Connection {
 public:
  // Connects within the bound, which also starts the first call's deadline. Null on failure.
  static std::unique_ptr<Connection> open(std::chrono::milliseconds bound);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  http_t* http() const { return http_; }
  void startCall() { deadline_ = Clock::now() + bound_; }

 private:
  explicit Connection(std::chrono::milliseconds bound) : bound_(bound) {}
  static int keepWaiting(http_t* http, void* self);

  http_t* http_ = nullptr;
  std::chrono::milliseconds bound_{};
  Clock::time_point deadline_{};
};

std::unique_ptr<Connection> Connection::open(std::chrono::milliseconds bound) {
  std::unique_ptr<Connection> connection(new Connection(bound));
  connection->startCall();
  const int msec = static_cast<int>(std::max<std::chrono::milliseconds::rep>(bound.count(), 1));
  connection->http_ =
      httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, msec, nullptr);
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

// One destination opened for jobs. At most one job is in hand at a time: created by
// startDocument, sent as one raw document, and either finished or cancelled.
class CupsPrinter final : public spool::PrinterHandle {
 public:
  CupsPrinter(std::unique_ptr<Connection> connection, DestPtr dest, InfoPtr info,
              std::chrono::milliseconds bound)
      : connection_(std::move(connection)),
        dest_(std::move(dest)),
        info_(std::move(info)),
        bound_(bound) {
    buffer_.reserve(kSendBufferSize);
  }
  ~CupsPrinter() override;
  CupsPrinter(const CupsPrinter&) = delete;
  CupsPrinter& operator=(const CupsPrinter&) = delete;

  bool startDocument(std::string_view docName) override;
  bool write(std::span<const std::byte> piece) override;
  bool endDocument() override;
  void cancelDocument() override { cancelJob(); }

 private:
  bool flush();
  bool cancelJob();

  std::unique_ptr<Connection> connection_;
  DestPtr dest_;
  InfoPtr info_;
  std::chrono::milliseconds bound_{};
  int jobId_ = 0;         // the job in hand; 0 when none
  bool sending_ = false;  // its document request is open on the connection
  std::size_t documentBytes_ = 0;
  std::vector<char> buffer_;
};

CupsPrinter::~CupsPrinter() {
  // A document dropped without an end must not print.
  cancelJob();
}

bool CupsPrinter::startDocument(std::string_view docName) {
  cancelJob();
  if (!connection_) {
    return false;
  }
  connection_->startCall();
  http_t* http = connection_->http();
  const std::string name = spool::jobNameForPath(docName);
  int id = 0;
  if (cupsCreateDestJob(http, dest_.get(), info_.get(), &id, name.c_str(), 0, nullptr) >
          IPP_STATUS_OK_EVENTS_COMPLETE ||
      id <= 0) {
    return false;
  }
  jobId_ = id;
  sending_ = true;
  documentBytes_ = 0;
  buffer_.clear();
  if (cupsStartDestDocument(http, dest_.get(), info_.get(), id, name.c_str(), CUPS_FORMAT_RAW, 0,
                            nullptr, 1) != HTTP_STATUS_CONTINUE) {
    cancelJob();
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
  return buffer_.size() < kSendBufferSize || flush();
}

bool CupsPrinter::flush() {
  if (buffer_.empty()) {
    return true;
  }
  connection_->startCall();
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
  if (!flush()) {
    cancelJob();
    return false;
  }
  connection_->startCall();
  const ipp_status_t status = cupsFinishDestDocument(connection_->http(), dest_.get(), info_.get());
  sending_ = false;
  if (status <= IPP_STATUS_OK_EVENTS_COMPLETE) {
    jobId_ = 0;
    return true;
  }
  // The server refuses a document with no bytes and would hold its job for a quarter of an
  // hour; an empty file is no failure of the run, so the job is dropped instead.
  const bool empty = documentBytes_ == 0;
  return cancelJob() && empty;
}

// Drops the job in hand. A document request still open on the connection cannot be taken back
// on it, so that connection is closed (the server then drops the unfinished document) and the
// cancel goes over a fresh one. True when the server confirmed the cancel.
bool CupsPrinter::cancelJob() {
  if (jobId_ == 0) {
    return true;
  }
  const int id = jobId_;
  jobId_ = 0;
  buffer_.clear();
  if (sending_) {
    sending_ = false;
    connection_.reset();
    connection_ = Connection::open(bound_);
  }
  if (!connection_) {
    return false;
  }
  connection_->startCall();
  return cupsCancelDestJob(connection_->http(), dest_.get(), id) <= IPP_STATUS_OK_EVENTS_COMPLETE;
}

}  // namespace

CupsSpooler::CupsSpooler(std::chrono::milliseconds bound) : bound_(bound) {}

std::unique_ptr<spool::PrinterHandle> CupsSpooler::open(std::string_view printerName) {
  // libcups takes names as C strings: an empty name would mean the default destination and a
  // NUL inside would name another printer than the one asked for.
  if (printerName.empty() || printerName.find('\0') != std::string_view::npos) {
    return nullptr;
  }
  std::unique_ptr<Connection> connection = Connection::open(bound_);
  if (!connection) {
    return nullptr;
  }
  const std::string name(printerName);
  DestPtr dest(cupsGetNamedDest(connection->http(), name.c_str(), nullptr));
  if (!dest) {
    return nullptr;
  }
  InfoPtr info(cupsCopyDestInfo(connection->http(), dest.get()));
  if (!info) {
    return nullptr;
  }
  return std::make_unique<CupsPrinter>(std::move(connection), std::move(dest), std::move(info),
                                       bound_);
}

}  // namespace batchcups
