#include "platform/cups/cups_spooler.h"

#include <cups/cups.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/cups/server_thread.h"
#include "spool/job_name.h"

namespace batchcups {
namespace {

using Clock = std::chrono::steady_clock;

// Pieces are gathered up to this size before they go to the server: fewer, larger writes are
// markedly faster than one request write per 4096-byte piece.
constexpr std::size_t kSendBufferSize = 32 * 1024;
// How long a document waits between two asks for room in a queue that holds as many jobs as
// the server allows. A printer frees a place in a fraction of a second to a few seconds.
constexpr auto kRoomRetry = std::chrono::milliseconds(500);
// A server that says it has no room answers with one of these. cupsd's own are
// client-error-not-possible ("Too many active jobs.", "Quota limit reached."), and Create-Job
// gives that status for nothing else.
constexpr std::array kNoRoom = {IPP_STATUS_ERROR_NOT_POSSIBLE, IPP_STATUS_ERROR_BUSY,
                                IPP_STATUS_ERROR_TOO_MANY_JOBS};
// A job whose document the server has taken whole is in one of these states.
constexpr std::array kDocumentTaken = {IPP_JSTATE_PENDING, IPP_JSTATE_HELD, IPP_JSTATE_PROCESSING,
                                       IPP_JSTATE_STOPPED, IPP_JSTATE_COMPLETED};

// The wait libcups is given once a call's deadline has passed: a wait of zero would block.
constexpr double kGivenUpWait = 0.001;

struct DestDeleter {
  void operator()(cups_dest_t* dest) const { cupsFreeDests(1, dest); }
};
struct InfoDeleter {
  void operator()(cups_dinfo_t* info) const { cupsFreeDestInfo(info); }
};
struct IppDeleter {
  void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using DestPtr = std::unique_ptr<cups_dest_t, DestDeleter>;
using InfoPtr = std::unique_ptr<cups_dinfo_t, InfoDeleter>;
using IppPtr = std::unique_ptr<ipp_t, IppDeleter>;

// One connection to the server. Every wait inside libcups on it ends at the deadline of the
// call now using it, and not before: libcups reads an answer's body in one wait as long as the
// connection's timeout, so a shorter timeout would fail any answer that the server pauses in
// (cupsd writes its state files between an answer's header and its body).
class Connection {
 public:
  // Null when no connection is made before the deadline.
  static std::unique_ptr<Connection> open(Clock::time_point deadline);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  http_t* http() const { return http_; }
  // Arms the connection for the libcups call about to be made.
  void arm(Clock::time_point deadline);

 private:
  Connection() = default;
  static int keepWaiting(http_t* http, void* self);

  http_t* http_ = nullptr;
  Clock::time_point deadline_{};
};

std::unique_ptr<Connection> Connection::open(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) {
    return nullptr;
  }
  std::unique_ptr<Connection> connection(new Connection());
  connection->http_ = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                   static_cast<int>(left.count()), nullptr);
  if (connection->http_ == nullptr) {
    return nullptr;
  }
  connection->arm(deadline);
  return connection;
}

Connection::~Connection() {
  if (http_ != nullptr) {
    httpClose(http_);
  }
}

void Connection::arm(Clock::time_point deadline) {
  deadline_ = deadline;
  const std::chrono::duration<double> left = deadline - Clock::now();
  httpSetTimeout(http_, std::max(left.count(), kGivenUpWait), &Connection::keepWaiting, this);
}

// libcups asks this when a wait ran out. A wait that goes on is given just the time left; once
// the deadline has passed, every further wait of the call (libcups may flush the connection
// after giving up) ends at once.
int Connection::keepWaiting(http_t* http, void* self) {
  auto* connection = static_cast<Connection*>(self);
  const std::chrono::duration<double> left = connection->deadline_ - Clock::now();
  if (left.count() <= 0) {
    httpSetTimeout(http, kGivenUpWait, &Connection::keepWaiting, self);
    return 0;
  }
  httpSetTimeout(http, std::max(left.count(), kGivenUpWait), &Connection::keepWaiting, self);
  return 1;
}

// The server's reply to one request.
struct Reply {
  // Whether the server answered at all: with an IPP response, or with an HTTP refusal. A reply
  // that was not heard leaves the connection in an unknown state.
  bool heard = false;
  IppPtr response;

  bool ok() const {
    return response && ippGetStatusCode(response.get()) <= IPP_STATUS_OK_EVENTS_COMPLETE;
  }
  ipp_status_t status() const {
    return response ? ippGetStatusCode(response.get()) : IPP_STATUS_ERROR_INTERNAL;
  }
};

// Whether libcups's last request on the connection was answered by the server: an HTTP refusal
// is an answer; no status, or a body that never came after an OK header, is none.
bool heardFrom(http_t* http, const ipp_t* response) {
  if (response != nullptr) {
    return true;
  }
  const http_status_t status = httpGetStatus(http);
  return status >= HTTP_STATUS_BAD_REQUEST;
}

Reply ask(Connection& connection, ipp_t* request, const std::string& resource,
          Clock::time_point deadline) {
  connection.arm(deadline);
  IppPtr response(cupsDoRequest(connection.http(), request, resource.c_str()));
  const bool heard = heardFrom(connection.http(), response.get());
  return Reply{heard, std::move(response)};
}

// A destination as libcups describes it, with what it needs to make jobs on it.
struct Destination {
  DestPtr dest;
  InfoPtr info;
  std::string uri;       // the printer's URI on the server
  std::string resource;  // the path that requests about it are posted to
};

ipp_t* newRequest(ipp_op_t operation, const Destination& destination) {
  ipp_t* request = ippNewRequest(operation);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               destination.uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  return request;
}

void requestAttributes(ipp_t* request, std::initializer_list<const char*> names) {
  const std::vector<const char*> list(names);
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                static_cast<int>(list.size()), nullptr, list.data());
}

bool hasKeyword(ipp_attribute_t* attribute, std::string_view keyword) {
  for (int i = 0; attribute != nullptr && i < ippGetCount(attribute); ++i) {
    const char* value = ippGetString(attribute, i, nullptr);
    if (value != nullptr && keyword == value) {
      return true;
    }
  }
  return false;
}

// Each job of a Get-Jobs response, as its attributes' group.
template <typename F>
void forEachJob(ipp_t* response, F&& visit) {
  int id = 0;
  const char* name = nullptr;
  ipp_attribute_t* reasons = nullptr;
  const auto flush = [&] {
    if (id > 0) {
      visit(id, name == nullptr ? std::string_view() : std::string_view(name), reasons);
    }
    id = 0;
    name = nullptr;
    reasons = nullptr;
  };
  for (ipp_attribute_t* a = ippFirstAttribute(response); a != nullptr;
       a = ippNextAttribute(response)) {
    const char* attributeName = ippGetName(a);
    if (attributeName == nullptr) {
      flush();
    } else if (std::string_view(attributeName) == "job-id") {
      id = ippGetInteger(a, 0);
    } else if (std::string_view(attributeName) == "job-name") {
      name = ippGetString(a, 0, nullptr);
    } else if (std::string_view(attributeName) == "job-state-reasons") {
      reasons = a;
    }
  }
  flush();
}

enum class QueueAnswer { Exists, Unknown, NoAnswer };

// What the server says of the queue. When it does not answer, cupsGetNamedDest would go on to a
// lookup over libcups's own connection, whose waits run for minutes that no deadline of ours
// bounds; asking first over the bounded connection keeps the open from ever reaching that
// lookup on a server that has stopped answering.
QueueAnswer askAboutQueue(Connection& connection, const std::string& queue,
                          Clock::time_point deadline) {
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
  requestAttributes(request, {"printer-name"});
  const Reply reply = ask(connection, request, "/", deadline);
  if (!reply.heard || !reply.response) {
    return QueueAnswer::NoAnswer;
  }
  return reply.ok() ? QueueAnswer::Exists : QueueAnswer::Unknown;
}

std::shared_ptr<const Destination> lookUp(Connection& connection, const std::string& name,
                                          Clock::time_point deadline) {
  connection.arm(deadline);
  DestPtr dest(cupsGetNamedDest(connection.http(), name.c_str(), nullptr));
  if (!dest) {
    return nullptr;
  }
  connection.arm(deadline);
  InfoPtr info(cupsCopyDestInfo(connection.http(), dest.get()));
  if (!info) {
    return nullptr;
  }
  const char* uri = cupsGetOption("printer-uri-supported", dest->num_options, dest->options);
  if (uri == nullptr) {
    uri = cupsGetOption("device-uri", dest->num_options, dest->options);
  }
  std::array<char, HTTP_MAX_URI> scheme{}, user{}, host{}, resource{};
  int port = 0;
  if (uri == nullptr ||
      httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme.data(), static_cast<int>(scheme.size()),
                      user.data(), static_cast<int>(user.size()), host.data(),
                      static_cast<int>(host.size()), &port, resource.data(),
                      static_cast<int>(resource.size())) < HTTP_URI_STATUS_OK) {
    return nullptr;
  }
  return std::make_shared<const Destination>(
      Destination{std::move(dest), std::move(info), uri, resource.data()});
}

}  // namespace

// Opening a printer per file is the run's rule; a connection and a destination lookup per file
// would be most of the time a small job takes. So a spooler keeps one connection that finished
// its last request cleanly, and the destinations it has found, and asks the server each time
// only whether the queue is still there. Everything in here but the thread is touched only on
// the thread.
struct ServerSession {
  std::unique_ptr<ServerThread> thread;
  std::unique_ptr<Connection> idle;
  std::map<std::string, std::shared_ptr<const Destination>, std::less<>> known;
};

namespace {

// One destination opened for jobs. At most one job is in hand at a time: created by
// startDocument, sent as one raw document, and either finished or cancelled. Each call gives
// the server one bound, and a question about an answer that did not come a bound of its own.
// The calls run on the session's thread; the handle lives on the caller's.
class CupsPrinter final : public spool::PrinterHandle {
 public:
  CupsPrinter(std::unique_ptr<Connection> connection, std::shared_ptr<const Destination> dest,
              std::shared_ptr<ServerSession> session, const SpoolerSettings& settings)
      : connection_(std::move(connection)),
        destination_(std::move(dest)),
        session_(std::move(session)),
        bound_(settings.bound),
        stallBound_(settings.stallBound) {
    buffer_.reserve(kSendBufferSize);
  }
  ~CupsPrinter() override;
  CupsPrinter(const CupsPrinter&) = delete;
  CupsPrinter& operator=(const CupsPrinter&) = delete;

  bool startDocument(std::string_view docName) override;
  bool write(std::span<const std::byte> piece) override;
  bool flush() override;
  bool endDocument() override;
  void cancelDocument() override;

 private:
  enum class Created { Yes, NoRoom, Refused, NoAnswer };
  enum class Finished { Yes, Refused, NoAnswer };

  ServerThread& thread() const { return *session_->thread; }
  // The session's thread while the run lasts; a handle kept past the end of its run (which the
  // pass never does) is closed on the caller's.
  template <typename F>
  void onServer(F&& fn) {
    if (session_->thread) {
      session_->thread->run(std::forward<F>(fn));
    } else {
      fn();
    }
  }
  Clock::time_point deadline() const { return Clock::now() + bound_; }

  // On the session's thread.
  Connection* ready(Clock::time_point deadline);
  Created createJob(const std::string& name, Clock::time_point deadline);
  Created findCreatedJob(const std::string& name, Clock::time_point deadline);
  std::optional<std::set<int>> activeJobs(Clock::time_point deadline);
  bool startSending(const std::string& name, Clock::time_point deadline);
  bool send(Clock::time_point deadline);
  Finished finish(Clock::time_point deadline);
  bool documentTaken(Clock::time_point deadline);
  bool cancelJob(Clock::time_point deadline);

  bool waitForRoom(Clock::time_point& lastLeft, std::optional<std::set<int>>& seen);

  std::unique_ptr<Connection> connection_;
  std::shared_ptr<const Destination> destination_;
  std::shared_ptr<ServerSession> session_;
  std::chrono::milliseconds bound_{};
  std::chrono::milliseconds stallBound_{};
  // The connection's last request was answered and nothing of a document is open on it, so the
  // next request, or the next printer, may use it.
  bool clean_ = true;
  int jobId_ = 0;         // the job in hand; 0 when none
  bool sending_ = false;  // its document request is open on the connection
  std::size_t documentBytes_ = 0;
  std::vector<char> buffer_;
};

CupsPrinter::~CupsPrinter() {
  // A document dropped without an end must not print.
  onServer([this] {
    if (cancelJob(deadline()) && clean_ && connection_) {
      session_->idle = std::move(connection_);
    }
    connection_.reset();
  });
}

Connection* CupsPrinter::ready(Clock::time_point deadline) {
  if (!connection_ || !clean_) {
    connection_ = Connection::open(deadline);
    clean_ = true;
  }
  return connection_.get();
}

bool CupsPrinter::startDocument(std::string_view docName) {
  thread().run([this] { cancelJob(deadline()); });
  const std::string name = spool::jobNameForPath(docName);
  Clock::time_point lastLeft = Clock::now();
  std::optional<std::set<int>> seen;
  bool askedAboutLostAnswer = false;
  for (;;) {
    Created created = thread().run([&] { return createJob(name, deadline()); });
    if (created == Created::NoAnswer && !askedAboutLostAnswer) {
      // The server may have made the job and lost only its answer: a job it holds is not made
      // twice, and one it never made is asked for again.
      askedAboutLostAnswer = true;
      created = thread().run([&] { return findCreatedJob(name, deadline()); });
      if (created == Created::NoRoom) {
        continue;
      }
    }
    if (created == Created::Yes) {
      return thread().run([&] { return startSending(name, deadline()); });
    }
    if (created != Created::NoRoom || !waitForRoom(lastLeft, seen)) {
      return false;
    }
  }
}

// The server holds as many jobs as it allows. Waiting is worth it while jobs keep leaving the
// destination's queue; once none has left for the stall bound, the printer is taken to make no
// progress. A server that stops answering meanwhile ends the wait at once.
bool CupsPrinter::waitForRoom(Clock::time_point& lastLeft, std::optional<std::set<int>>& seen) {
  std::optional<std::set<int>> active = thread().run([&] { return activeJobs(deadline()); });
  if (!active) {
    return false;
  }
  const Clock::time_point now = Clock::now();
  if (seen &&
      std::any_of(seen->begin(), seen->end(), [&](int id) { return active->count(id) == 0; })) {
    lastLeft = now;
  }
  seen = std::move(active);
  if (now - lastLeft >= stallBound_) {
    return false;
  }
  thread().pause(std::min(kRoomRetry, std::chrono::duration_cast<std::chrono::milliseconds>(
                                          stallBound_ - (now - lastLeft))));
  return true;
}

CupsPrinter::Created CupsPrinter::createJob(const std::string& name, Clock::time_point deadline) {
  Connection* connection = ready(deadline);
  if (connection == nullptr) {
    return Created::NoAnswer;
  }
  ipp_t* request = newRequest(IPP_OP_CREATE_JOB, *destination_);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, name.c_str());
  const Reply reply = ask(*connection, request, destination_->resource, deadline);
  clean_ = reply.heard;
  if (!reply.heard) {
    return Created::NoAnswer;
  }
  if (!reply.ok()) {
    const ipp_status_t status = reply.status();
    return std::find(kNoRoom.begin(), kNoRoom.end(), status) != kNoRoom.end() ? Created::NoRoom
                                                                              : Created::Refused;
  }
  const int id =
      ippGetInteger(ippFindAttribute(reply.response.get(), "job-id", IPP_TAG_INTEGER), 0);
  if (id <= 0) {
    return Created::Refused;
  }
  jobId_ = id;
  return Created::Yes;
}

// After a Create-Job whose answer never came: the newest job of ours on the destination that
// bears the name and still waits for its document is the one that request made. NoRoom stands
// for "none was made, ask again".
CupsPrinter::Created CupsPrinter::findCreatedJob(const std::string& name,
                                                 Clock::time_point deadline) {
  Connection* connection = ready(deadline);
  if (connection == nullptr) {
    return Created::NoAnswer;
  }
  ipp_t* request = newRequest(IPP_OP_GET_JOBS, *destination_);
  ippAddBoolean(request, IPP_TAG_OPERATION, "my-jobs", 1);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
  requestAttributes(request, {"job-id", "job-name", "job-state-reasons"});
  const Reply reply = ask(*connection, request, destination_->resource, deadline);
  clean_ = reply.heard;
  if (!reply.ok()) {
    return reply.heard ? Created::Refused : Created::NoAnswer;
  }
  int found = 0;
  forEachJob(reply.response.get(), [&](int id, std::string_view jobName, ipp_attribute_t* reasons) {
    if (jobName == name && hasKeyword(reasons, "job-incoming")) {
      found = std::max(found, id);
    }
  });
  if (found == 0) {
    return Created::NoRoom;
  }
  jobId_ = found;
  return Created::Yes;
}

// The jobs the destination holds that have not finished; nothing when the server does not say.
std::optional<std::set<int>> CupsPrinter::activeJobs(Clock::time_point deadline) {
  Connection* connection = ready(deadline);
  if (connection == nullptr) {
    return std::nullopt;
  }
  ipp_t* request = newRequest(IPP_OP_GET_JOBS, *destination_);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
  requestAttributes(request, {"job-id"});
  const Reply reply = ask(*connection, request, destination_->resource, deadline);
  clean_ = reply.heard;
  if (!reply.ok()) {
    return std::nullopt;
  }
  std::set<int> ids;
  forEachJob(reply.response.get(),
             [&](int id, std::string_view, ipp_attribute_t*) { ids.insert(id); });
  return ids;
}

bool CupsPrinter::startSending(const std::string& name, Clock::time_point deadline) {
  Connection* connection = ready(deadline);
  if (connection == nullptr) {
    cancelJob(deadline);
    return false;
  }
  sending_ = true;
  documentBytes_ = 0;
  buffer_.clear();
  connection->arm(deadline);
  if (cupsStartDestDocument(connection->http(), destination_->dest.get(), destination_->info.get(),
                            jobId_, name.c_str(), CUPS_FORMAT_RAW, 0, nullptr,
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
  return flush();
}

bool CupsPrinter::flush() {
  if (!sending_) {
    return false;
  }
  if (buffer_.empty()) {
    thread().keepAliveIfDue();
    return true;
  }
  return thread().run([this] { return send(deadline()); });
}

bool CupsPrinter::send(Clock::time_point deadline) {
  connection_->arm(deadline);
  const http_status_t status =
      cupsWriteRequestData(connection_->http(), buffer_.data(), buffer_.size());
  documentBytes_ += buffer_.size();
  buffer_.clear();
  if (status != HTTP_STATUS_CONTINUE) {
    clean_ = false;
    return false;
  }
  return true;
}

bool CupsPrinter::endDocument() {
  if (!sending_) {
    return false;
  }
  if (!flush()) {
    cancelDocument();
    return false;
  }
  switch (thread().run([this] { return finish(deadline()); })) {
    case Finished::Yes:
      return true;
    case Finished::Refused: {
      // The server refuses a document with no bytes and would hold its job for a quarter of an
      // hour; an empty file is no failure of the run, so the job is dropped instead.
      const bool empty = documentBytes_ == 0;
      return thread().run([this] { return cancelJob(deadline()); }) && empty;
    }
    case Finished::NoAnswer:
      break;
  }
  // The server may have taken the document whole and lost only its answer: what it says of the
  // job decides, and a job it holds is never cancelled for want of an answer.
  return thread().run([this] { return documentTaken(deadline()); });
}

CupsPrinter::Finished CupsPrinter::finish(Clock::time_point deadline) {
  connection_->arm(deadline);
  const IppPtr response(cupsGetResponse(connection_->http(), destination_->resource.c_str()));
  const bool heard = heardFrom(connection_->http(), response.get());
  sending_ = false;
  clean_ = heard;
  if (!heard) {
    return Finished::NoAnswer;
  }
  if (response && ippGetStatusCode(response.get()) <= IPP_STATUS_OK_EVENTS_COMPLETE) {
    jobId_ = 0;
    return Finished::Yes;
  }
  return Finished::Refused;
}

bool CupsPrinter::documentTaken(Clock::time_point deadline) {
  Connection* connection = ready(deadline);
  if (connection == nullptr) {
    jobId_ = 0;  // not known to be dropped: left to the server
    return false;
  }
  ipp_t* request = newRequest(IPP_OP_GET_JOB_ATTRIBUTES, *destination_);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId_);
  requestAttributes(request, {"job-state", "job-state-reasons"});
  const Reply reply = ask(*connection, request, destination_->resource, deadline);
  clean_ = reply.heard;
  if (!reply.ok()) {
    if (reply.heard) {
      cancelJob(deadline);
    } else {
      jobId_ = 0;  // not known to be dropped: left to the server
    }
    return false;
  }
  ipp_t* job = reply.response.get();
  const auto state =
      static_cast<ipp_jstate_t>(ippGetInteger(ippFindAttribute(job, "job-state", IPP_TAG_ENUM), 0));
  const bool incoming =
      hasKeyword(ippFindAttribute(job, "job-state-reasons", IPP_TAG_KEYWORD), "job-incoming");
  if (!incoming &&
      std::find(kDocumentTaken.begin(), kDocumentTaken.end(), state) != kDocumentTaken.end()) {
    jobId_ = 0;
    return true;
  }
  cancelJob(deadline);
  return false;
}

void CupsPrinter::cancelDocument() {
  thread().run([this] { cancelJob(deadline()); });
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
    clean_ = false;
  }
  Connection* connection = ready(deadline);
  if (connection == nullptr) {
    return false;
  }
  ipp_t* request = newRequest(IPP_OP_CANCEL_JOB, *destination_);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
  const Reply reply = ask(*connection, request, destination_->resource, deadline);
  clean_ = reply.heard;
  return reply.ok();
}

}  // namespace

PasswordMemory::~PasswordMemory() {
  if (given) {
    std::fill(given->password.begin(), given->password.end(), '\0');
  }
}

ThreadPasswordPrompt::ThreadPasswordPrompt(PasswordPrompt prompt,
                                           std::shared_ptr<PasswordMemory> memory)
    : prompt_(std::move(prompt)),
      memory_(memory ? std::move(memory) : std::make_shared<PasswordMemory>()) {
  cupsSetPasswordCB2(&ThreadPasswordPrompt::answer, this);
}

ThreadPasswordPrompt::~ThreadPasswordPrompt() {
  cupsSetPasswordCB2(nullptr, nullptr);
  std::fill(given_.begin(), given_.end(), '\0');
}

const char* ThreadPasswordPrompt::answer(const char* prompt, http_t* http, const char* /*method*/,
                                         const char* /*resource*/, void* self) {
  auto* installed = static_cast<ThreadPasswordPrompt*>(self);
  std::optional<Credentials>& remembered = installed->memory_->given;
  if (!remembered || !installed->offered_.insert(http).second) {
    if (!installed->prompt_) {
      return nullptr;
    }
    std::optional<Credentials> given =
        installed->prompt_(prompt == nullptr ? "" : prompt, cupsUser());
    if (!given) {
      return nullptr;
    }
    if (remembered) {
      std::fill(remembered->password.begin(), remembered->password.end(), '\0');
    }
    remembered = std::move(given);
    installed->offered_.insert(http);
  }
  cupsSetUser(remembered->user.c_str());
  std::fill(installed->given_.begin(), installed->given_.end(), '\0');
  installed->given_ = remembered->password;
  return installed->given_.c_str();
}

CupsSpooler::CupsSpooler(SpoolerSettings settings)
    : settings_(std::move(settings)),
      passwords_(settings_.passwords ? settings_.passwords : std::make_shared<PasswordMemory>()),
      session_(std::make_shared<ServerSession>()) {}

CupsSpooler::CupsSpooler(std::chrono::milliseconds bound)
    : CupsSpooler([bound] {
        SpoolerSettings settings;
        settings.bound = bound;
        return settings;
      }()) {}

CupsSpooler::~CupsSpooler() {
  endRun();
}

std::unique_ptr<spool::PrinterHandle> CupsSpooler::open(std::string_view printerName) {
  // libcups takes names as C strings: an empty name would mean the default destination and a
  // NUL inside would name another printer than the one asked for.
  if (printerName.empty() || printerName.find('\0') != std::string_view::npos) {
    return nullptr;
  }
  if (!session_->thread) {
    session_->thread =
        std::make_unique<ServerThread>(settings_.keepAlive, settings_.passwordPrompt, passwords_);
  }
  const Clock::time_point deadline = Clock::now() + settings_.bound;
  const std::string name(printerName);
  ServerSession& session = *session_;
  return session.thread->run([&]() -> std::unique_ptr<spool::PrinterHandle> {
    std::unique_ptr<Connection> connection = std::move(session.idle);
    QueueAnswer answer = QueueAnswer::NoAnswer;
    if (connection) {
      answer = askAboutQueue(*connection, name, deadline);
    }
    if (answer == QueueAnswer::NoAnswer) {
      // The server may have closed a connection kept idle; a fresh one tells for certain.
      connection = Connection::open(deadline);
      if (!connection) {
        return nullptr;
      }
      answer = askAboutQueue(*connection, name, deadline);
    }
    if (answer == QueueAnswer::NoAnswer) {
      return nullptr;
    }
    // A queue of the server's own is looked up once; any other name (a printer the server
    // finds on the network) every time, and a queue that is gone is forgotten.
    std::shared_ptr<const Destination> destination;
    if (answer == QueueAnswer::Exists) {
      destination = session.known[name];
    } else {
      session.known.erase(name);
    }
    if (!destination) {
      destination = lookUp(*connection, name, deadline);
      if (!destination) {
        return nullptr;
      }
      if (answer == QueueAnswer::Exists) {
        session.known[name] = destination;
      }
    }
    return std::make_unique<CupsPrinter>(std::move(connection), std::move(destination), session_,
                                         settings_);
  });
}

// The thread goes with the run, so that the next run starts from libcups's settings as they
// are then, and nothing of the server stays open between runs.
void CupsSpooler::endRun() {
  if (session_->thread) {
    session_->thread->run([this] {
      session_->idle.reset();
      session_->known.clear();
    });
    session_->thread.reset();
  }
}

}  // namespace batchcups
