#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "spool/spooler.h"

typedef struct _http_s http_t;

namespace batchcups {

// How long an open, or any later call on the printer it opened, may wait for the print server
// in all before it gives up. libcups alone would wait some three minutes per request on a
// server that has stopped answering.
inline constexpr std::chrono::milliseconds kDefaultServerBound{30'000};
// How long starting a document waits for room on a server that holds as many jobs as it allows,
// while not one job leaves the destination's queue: a printer that prints nothing, or a quota
// that does not reset.
inline constexpr std::chrono::milliseconds kDefaultStallBound{600'000};

// A user and the password the server checks for it.
struct Credentials {
  std::string user;
  std::string password;
};

// Asks the operator for the password the server wants: libcups's prompt, and the user name it
// would send. Nothing when the operator cancels. Called on the thread that made the call.
using PasswordPrompt =
    std::function<std::optional<Credentials>(const std::string& prompt, const std::string& user)>;

// Called again and again, on the thread that made the call, while the spooler waits for the
// server: the caller's chance to keep its window painted and answering.
using KeepAlive = std::function<void()>;

// What the operator gave when a server last asked for a password: held in memory for the
// program's life, so that neither a new connection nor the printer box asks again, and never
// written anywhere.
struct PasswordMemory {
  PasswordMemory() = default;
  ~PasswordMemory();
  PasswordMemory(const PasswordMemory&) = delete;
  PasswordMemory& operator=(const PasswordMemory&) = delete;
  std::optional<Credentials> given;
};

struct SpoolerSettings {
  std::chrono::milliseconds bound = kDefaultServerBound;
  std::chrono::milliseconds stallBound = kDefaultStallBound;
  KeepAlive keepAlive;
  // Without one, a request the server refuses for want of a password fails.
  PasswordPrompt passwordPrompt;
  // Shared with the ThreadPasswordPrompt of the window's thread; the spooler keeps its own when
  // none is given.
  std::shared_ptr<PasswordMemory> passwords;
};

// Makes `prompt` libcups's password callback on the calling thread while it lives, for the
// libcups calls made outside the spooler, so that libcups never reads the terminal.
class ThreadPasswordPrompt {
 public:
  explicit ThreadPasswordPrompt(PasswordPrompt prompt,
                                std::shared_ptr<PasswordMemory> memory = nullptr);
  ~ThreadPasswordPrompt();
  ThreadPasswordPrompt(const ThreadPasswordPrompt&) = delete;
  ThreadPasswordPrompt& operator=(const ThreadPasswordPrompt&) = delete;

 private:
  static const char* answer(const char* prompt, http_t* http, const char* method,
                            const char* resource, void* self);
  PasswordPrompt prompt_;
  std::shared_ptr<PasswordMemory> memory_;
  // The connections already offered the remembered password: one that asks again is refused it,
  // and the operator is asked.
  std::set<http_t*> offered_;
  std::string given_;
};

// What a spooler keeps between opens: its connection to the server, the destinations it has
// looked up, and the thread its libcups calls run on.
struct ServerSession;

// The spooler on the print server that libcups finds (CUPS_SERVER, client.conf): every document
// becomes one raw job on the named destination, its bytes passed unchanged.
class CupsSpooler final : public spool::Spooler {
 public:
  explicit CupsSpooler(SpoolerSettings settings = {});
  explicit CupsSpooler(std::chrono::milliseconds bound);
  ~CupsSpooler() override;

  spool::PlatformFamily family() const override { return spool::PlatformFamily::NT; }
  // Null when the server has no such destination, cannot be reached, or does not answer
  // within the bound.
  std::unique_ptr<spool::PrinterHandle> open(std::string_view printerName) override;
  void endRun() override;

 private:
  SpoolerSettings settings_;
  std::shared_ptr<PasswordMemory> passwords_;
  std::shared_ptr<ServerSession> session_;
};

}  // namespace batchcups
