#include "platform/cups/cups_printers.h"

#include <cups/cups.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace batchcups {

namespace {

using Clock = std::chrono::steady_clock;
using Outcome = spool::DefaultPrinterQuery::Outcome;

// What is left of a wait once the deadline has passed: whatever the call still tries ends at
// once instead of waiting its full length again.
constexpr double kSpentSeconds = 0.001;

double secondsLeft(Clock::time_point deadline) {
  return std::chrono::duration<double>(deadline - Clock::now()).count();
}

struct HttpCloser {
  void operator()(http_t* http) const { httpClose(http); }
};

spool::DefaultPrinterQuery systemError(int code, const char* text) {
  return {Outcome::SystemError, "", code, text == nullptr ? "" : text};
}

spool::DefaultPrinterQuery lastCupsError() {
  return systemError(static_cast<int>(cupsLastError()), cupsLastErrorString());
}

struct Server {
  std::string host;
  int port = 0;
  http_encryption_t encryption = HTTP_ENCRYPTION_IF_REQUESTED;
  std::string user;
};

}  // namespace

// What the caller and the thread that looks share.
struct CupsPrinters::Look {
  explicit Look(Clock::time_point until) : deadline(until.time_since_epoch().count()) {}
  ~Look() { std::fill(password.begin(), password.end(), '\0'); }
  Look(const Look&) = delete;
  Look& operator=(const Look&) = delete;

  Clock::time_point until() const { return Clock::time_point(Clock::duration(deadline.load())); }

  // Starts again when the operator has answered a password request.
  std::atomic<Clock::rep> deadline;

  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
  Destinations found;
  // The caller has stopped waiting: a password request gets no answer any more.
  bool abandoned = false;
  // A password request of the server, answered by the caller on its own thread.
  bool asking = false;
  std::string prompt;
  std::optional<std::pair<std::string, std::string>> answer;  // user, password
  std::string password;                                       // what libcups reads
  // The connection the caller's password callback is told of (see askOnThisThread).
  std::shared_ptr<http_t> placeholder;
};

namespace {

// libcups waits as long as the connection's timeout at a time: for an answer's header, then
// once more for its body (and that wait never comes here). So every wait is given all the time
// left before the deadline, and nothing shorter: a server that pauses between an answer's
// header and its body (cupsd saving its state files) is still heard. Called when a wait has
// run its full length.
int stillInTimeForLook(http_t* http, void* data) {
  const double left = secondsLeft(static_cast<CupsPrinters::Look*>(data)->until());
  httpSetTimeout(http, left > 0 ? left : kSpentSeconds, stillInTimeForLook, data);
  return left > 0 ? 1 : 0;
}

// The server wants a password: the caller asks the operator through its own thread's prompt,
// which may show a dialog, and this thread waits for the answer.
const char* askCaller(const char* prompt, http_t* /*http*/, const char* /*method*/,
                      const char* /*resource*/, void* data) {
  auto* look = static_cast<CupsPrinters::Look*>(data);
  std::unique_lock lock(look->mutex);
  if (look->abandoned) {
    return nullptr;
  }
  look->prompt = prompt == nullptr ? "" : prompt;
  look->answer.reset();
  look->asking = true;
  look->changed.notify_all();
  look->changed.wait(lock, [look] { return !look->asking || look->abandoned; });
  if (look->asking || !look->answer) {
    return nullptr;
  }
  cupsSetUser(look->answer->first.c_str());
  look->password = std::move(look->answer->second);
  look->answer.reset();
  return look->password.c_str();
}

// One look on a connection of its own, every wait given the time left before the deadline.
CupsPrinters::Destinations lookAt(const Server& server, CupsPrinters::Look& look) {
  cupsSetUser(server.user.c_str());
  cupsSetPasswordCB2(askCaller, &look);
  CupsPrinters::Destinations found;
  // Made without connecting, so that a failed connection still tells its errno.
  std::unique_ptr<http_t, HttpCloser> http(httpConnect2(
      server.host.c_str(), server.port, nullptr, AF_UNSPEC, server.encryption, 1, 0, nullptr));
  if (!http) {
    found.defaultPrinter = lastCupsError();
    return found;
  }
  const auto connectMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(look.until() - Clock::now()).count();
  if (connectMs <= 0) {
    found.defaultPrinter = systemError(ETIMEDOUT, std::strerror(ETIMEDOUT));
    return found;
  }
  httpSetTimeout(http.get(), secondsLeft(look.until()), stillInTimeForLook, &look);
  if (httpReconnect2(http.get(), static_cast<int>(connectMs), nullptr) != 0) {
    const int error = httpError(http.get());
    found.defaultPrinter = systemError(error, std::strerror(error));
    return found;
  }
  const double left = secondsLeft(look.until());
  if (left <= 0) {
    found.defaultPrinter = systemError(ETIMEDOUT, std::strerror(ETIMEDOUT));
    return found;
  }
  httpSetTimeout(http.get(), left, stillInTimeForLook, &look);

  cups_dest_t* dests = nullptr;
  const int count = cupsGetDests2(http.get(), &dests);
  // An empty answer is the server saying it has no destinations; any other failure is the
  // look's, and says nothing of a default.
  const ipp_status_t status = cupsLastError();
  if (count == 0 && status != IPP_STATUS_OK && status != IPP_STATUS_ERROR_NOT_FOUND) {
    found.defaultPrinter = lastCupsError();
  } else {
    found.defaultPrinter = {Outcome::NoDefault, "", 0, ""};
  }
  for (int i = 0; i < count; ++i) {
    const cups_dest_t& dest = dests[i];
    if (dest.is_default) {
      found.defaultPrinter = {Outcome::Named, dest.name, 0, ""};
    }
    if (dest.instance == nullptr) {
      found.names.emplace_back(dest.name);
    }
  }
  cupsFreeDests(count, dests);
  return found;
}

}  // namespace

CupsPrinters::CupsPrinters(std::chrono::milliseconds bound) : bound_(bound) {}

CupsPrinters::~CupsPrinters() {
  for (auto& [look, worker] : late_) {
    worker.join();
  }
}

std::vector<spool::PrinterRecord> CupsPrinters::printers() {
  return look().printers;
}

spool::DefaultPrinterQuery CupsPrinters::defaultPrinter() {
  return destinations().defaultPrinter;
}

spool::PrinterLook CupsPrinters::look() {
  Destinations found = destinations();
  spool::PrinterLook look;
  for (auto& name : found.names) {
    look.printers.push_back({std::move(name), ""});
  }
  look.defaultPrinter = std::move(found.defaultPrinter);
  return look;
}

// libcups has waits of its own that no timeout shortens (a second for the server's "100
// Continue" before each request, and a look makes two), so the look runs on a thread of its
// own and the caller waits for it only until the deadline. A look still running then is left
// to end by itself (its own waits are bounded too) and joined later. A password the server
// asks for meanwhile is asked of the operator on the caller's thread, through its prompt, and
// the bound starts again, once for each request, when the operator has answered.
CupsPrinters::Destinations CupsPrinters::destinations() {
  joinFinished();
  auto look = std::make_shared<Look>(Clock::now() + bound_);
  // The caller's own server settings and user, as libcups holds them for this thread.
  Server server{cupsServer(), ippPort(), cupsEncryption(), cupsUser()};
  std::thread worker([look, server = std::move(server)] {
    Destinations found = lookAt(server, *look);
    const std::lock_guard lock(look->mutex);
    look->found = std::move(found);
    look->done = true;
    look->changed.notify_all();
  });
  std::unique_lock lock(look->mutex);
  for (;;) {
    if (look->done) {
      lock.unlock();
      worker.join();
      return std::move(look->found);
    }
    if (look->asking) {
      const std::string prompt = look->prompt;
      lock.unlock();
      std::optional<std::pair<std::string, std::string>> answer =
          askOnThisThread(prompt, look->placeholder);
      lock.lock();
      // The operator's time is not the server's. From the answer on, each of the look's two
      // requests (the default, the list) may take the whole bound again: the server checks the
      // password on every request that carries it, and that check alone can take a second.
      look->deadline = (Clock::now() + 2 * bound_).time_since_epoch().count();
      look->answer = std::move(answer);
      look->asking = false;
      look->changed.notify_all();
      continue;
    }
    if (!look->changed.wait_until(lock, look->until(),
                                  [&] { return look->done || look->asking; })) {
      break;
    }
  }
  look->abandoned = true;
  look->changed.notify_all();
  lock.unlock();
  late_.emplace_back(std::move(look), std::move(worker));
  Destinations timedOut;
  timedOut.defaultPrinter = systemError(ETIMEDOUT, std::strerror(ETIMEDOUT));
  return timedOut;
}

// This thread's password callback, as libcups would call it for a request of this thread; the
// user it leaves set is the one the answer is for. The callback is told of one connection for
// the whole look, never opened, as the look's own requests go over one connection: a callback
// that offers a remembered password once per connection offers it once per look.
std::optional<std::pair<std::string, std::string>> CupsPrinters::askOnThisThread(
    const std::string& prompt, std::shared_ptr<http_t>& placeholder) {
  if (!placeholder) {
    placeholder.reset(
        httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 0, nullptr),
        HttpCloser());
  }
  const char* password = cupsGetPassword2(prompt.c_str(), placeholder.get(), "POST", "/");
  if (password == nullptr) {
    return std::nullopt;
  }
  return std::pair(std::string(cupsUser()), std::string(password));
}

void CupsPrinters::joinFinished() {
  for (auto it = late_.begin(); it != late_.end();) {
    bool done = false;
    {
      const std::lock_guard lock(it->first->mutex);
      done = it->first->done;
    }
    if (done) {
      it->second.join();
      it = late_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace batchcups
