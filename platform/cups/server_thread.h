#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>

#include "platform/cups/cups_spooler.h"

typedef struct _http_s http_t;

namespace batchcups {

// Runs libcups calls on a thread of its own while the thread that asks for them keeps the window
// alive and answers the server's password requests. So libcups may wait on the server for as
// long as the call's deadline allows, in one wait if it likes, and the window is still painted
// and still answers the window manager meanwhile. The calling thread only ever waits for one
// call at a time, so the two never touch a connection at once.
class ServerThread {
 public:
  // The server, port, encryption and user that libcups uses on the calling thread are the ones
  // the thread uses too.
  ServerThread(KeepAlive keepAlive, PasswordPrompt prompt, std::shared_ptr<PasswordMemory> memory);
  ~ServerThread();
  ServerThread(const ServerThread&) = delete;
  ServerThread& operator=(const ServerThread&) = delete;

  // Runs fn on the thread and returns its result (or rethrows what it threw).
  template <typename F>
  std::invoke_result_t<F> run(F&& fn) {
    using R = std::invoke_result_t<F>;
    if constexpr (std::is_void_v<R>) {
      runOnThread([&] { fn(); });
    } else {
      std::optional<R> result;
      runOnThread([&] { result.emplace(fn()); });
      return std::move(*result);
    }
  }

  // Lets `duration` pass on the calling thread with the window kept alive.
  void pause(std::chrono::milliseconds duration);

  // Keeps the window alive if it has not been for a little while: between calls that each
  // come back quickly, the window would otherwise not be served at all during a long run.
  void keepAliveIfDue();

 private:
  struct PasswordRequest {
    std::string prompt;
    std::string user;
    std::optional<Credentials> answer;
    bool answered = false;
  };

  void runOnThread(std::function<void()> task);
  void work();
  // Waits on the calling thread until `done` holds or `until` passes, keeping the window alive
  // and answering password requests. Called with lock held.
  void serve(std::unique_lock<std::mutex>& lock, const std::function<bool()>& done,
             std::optional<std::chrono::steady_clock::time_point> until);
  static const char* onPassword(const char* prompt, http_t* http, const char* method,
                                const char* resource, void* self);
  const char* password(const char* prompt, http_t* http);

  KeepAlive keepAlive_;
  PasswordPrompt prompt_;
  std::shared_ptr<PasswordMemory> memory_;
  std::chrono::steady_clock::time_point lastKeptAlive_{};

  // Within one call: the connections that were already offered the remembered password, and
  // how often the operator was asked on each. A connection that is refused again after that is
  // asked anew, a few times at most.
  std::map<http_t*, int> offeredMemory_;
  std::map<http_t*, int> prompts_;
  std::string passwordGiven_;  // what libcups reads the answer from

  std::mutex mutex_;
  std::condition_variable wake_;
  std::function<void()> task_;
  bool taskDone_ = false;
  std::exception_ptr taskError_;
  PasswordRequest* passwordRequest_ = nullptr;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace batchcups
