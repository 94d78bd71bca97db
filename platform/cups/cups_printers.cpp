#include "platform/cups/cups_printers.h"

#include <cups/cups.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>

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

// libcups waits as long as the connection's timeout at a time: for an answer's header, then
// once more for its body (and that wait never comes here). So every wait is given all the time
// left before the deadline, and nothing shorter: a server that pauses between an answer's
// header and its body (cupsd saving its state files) is still heard. Called when a wait has
// run its full length.
int stillInTime(http_t* http, void* deadline) {
  const double left = secondsLeft(*static_cast<const Clock::time_point*>(deadline));
  httpSetTimeout(http, left > 0 ? left : kSpentSeconds, stillInTime, deadline);
  return left > 0 ? 1 : 0;
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
};

// One look on a connection of its own, every wait given the time left before the deadline.
CupsPrinters::Destinations lookAt(const Server& server, Clock::time_point deadline) {
  CupsPrinters::Destinations found;
  // Made without connecting, so that a failed connection still tells its errno.
  std::unique_ptr<http_t, HttpCloser> http(httpConnect2(
      server.host.c_str(), server.port, nullptr, AF_UNSPEC, server.encryption, 1, 0, nullptr));
  if (!http) {
    found.defaultPrinter = lastCupsError();
    return found;
  }
  const auto connectMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (connectMs <= 0) {
    found.defaultPrinter = systemError(ETIMEDOUT, std::strerror(ETIMEDOUT));
    return found;
  }
  httpSetTimeout(http.get(), secondsLeft(deadline), stillInTime,
                 &deadline);
  if (httpReconnect2(http.get(), static_cast<int>(connectMs), nullptr) != 0) {
    const int error = httpError(http.get());
    found.defaultPrinter = systemError(error, std::strerror(error));
    return found;
  }
  const double left = secondsLeft(deadline);
  if (left <= 0) {
    found.defaultPrinter = systemError(ETIMEDOUT, std::strerror(ETIMEDOUT));
    return found;
  }
  httpSetTimeout(http.get(), left, stillInTime, &deadline);

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

struct CupsPrinters::Look {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  Destinations found;
};

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
// to end by itself (its own waits are bounded too) and joined later.
CupsPrinters::Destinations CupsPrinters::destinations() {
  joinFinished();
  const Clock::time_point deadline = Clock::now() + bound_;
  // The caller's own server settings, as libcups holds them for this thread.
  Server server{cupsServer(), ippPort(), cupsEncryption()};
  auto look = std::make_shared<Look>();
  std::thread worker([look, server = std::move(server), deadline] {
    Destinations found = lookAt(server, deadline);
    const std::lock_guard lock(look->mutex);
    look->found = std::move(found);
    look->done = true;
    look->finished.notify_all();
  });
  std::unique_lock lock(look->mutex);
  if (look->finished.wait_until(lock, deadline, [&] { return look->done; })) {
    lock.unlock();
    worker.join();
    return std::move(look->found);
  }
  lock.unlock();
  late_.emplace_back(std::move(look), std::move(worker));
  Destinations timedOut;
  timedOut.defaultPrinter = systemError(ETIMEDOUT, std::strerror(ETIMEDOUT));
  return timedOut;
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
