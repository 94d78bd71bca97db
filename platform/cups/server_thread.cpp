#include "platform/cups/server_thread.h"

#include <cups/cups.h>

#include <algorithm>
#include <utility>

namespace batchcups {
namespace {

using Clock = std::chrono::steady_clock;

// How often the calling thread looks up from its wait: often enough that the window answers
// the window manager and shows a new message line without a delay anyone notices.
constexpr auto kServeSlice = std::chrono::milliseconds(10);
// Keeping the window alive costs a pass over the window system's events; more often than this
// it only slows a run of small jobs down.
constexpr auto kKeepAliveEvery = std::chrono::milliseconds(20);
// A wrong password is asked for again this many times within one request, then the request
// fails as if the operator had cancelled.
constexpr int kMaxPrompts = 3;

void wipe(std::string& secret) {
  std::fill(secret.begin(), secret.end(), '\0');
}

// libcups keeps these per thread; the server thread starts from the caller's.
struct ClientSettings {
  std::string server = cupsServer();
  int port = ippPort();
  http_encryption_t encryption = cupsEncryption();
  std::string user = cupsUser();

  void apply() const {
    cupsSetServer(server.c_str());
    ippSetPort(port);
    cupsSetEncryption(encryption);
    cupsSetUser(user.c_str());
  }
};

}  // namespace

ServerThread::ServerThread(KeepAlive keepAlive, PasswordPrompt prompt,
                           std::shared_ptr<PasswordMemory> memory)
    : keepAlive_(std::move(keepAlive)), prompt_(std::move(prompt)), memory_(std::move(memory)) {
  thread_ = std::thread([this, settings = ClientSettings()] {
    settings.apply();
    cupsSetPasswordCB2(&ServerThread::onPassword, this);
    work();
  });
}

ServerThread::~ServerThread() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
  wipe(passwordGiven_);
}

void ServerThread::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || task_; });
    if (!task_) {
      return;
    }
    std::function<void()> task = std::move(task_);
    task_ = nullptr;
    lock.unlock();
    std::exception_ptr error;
    try {
      task();
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    taskError_ = error;
    taskDone_ = true;
    wake_.notify_all();
  }
}

void ServerThread::runOnThread(std::function<void()> task) {
  std::unique_lock lock(mutex_);
  offeredMemory_.clear();
  prompts_.clear();
  task_ = std::move(task);
  taskDone_ = false;
  taskError_ = nullptr;
  wake_.notify_all();
  serve(
      lock, [this] { return taskDone_; }, std::nullopt);
  if (taskError_) {
    std::rethrow_exception(std::exchange(taskError_, nullptr));
  }
}

void ServerThread::pause(std::chrono::milliseconds duration) {
  std::unique_lock lock(mutex_);
  serve(
      lock, [] { return false; }, Clock::now() + duration);
}

void ServerThread::keepAliveIfDue() {
  const Clock::time_point now = Clock::now();
  if (keepAlive_ && now - lastKeptAlive_ >= kKeepAliveEvery) {
    lastKeptAlive_ = now;
    keepAlive_();
  }
}

void ServerThread::serve(std::unique_lock<std::mutex>& lock, const std::function<bool()>& done,
                         std::optional<Clock::time_point> until) {
  for (;;) {
    if (done()) {
      return;
    }
    if (passwordRequest_ != nullptr && !passwordRequest_->answered) {
      PasswordRequest& request = *passwordRequest_;
      lock.unlock();
      std::optional<Credentials> answer;
      if (prompt_) {
        answer = prompt_(request.prompt, request.user);
      }
      lock.lock();
      request.answer = std::move(answer);
      request.answered = true;
      wake_.notify_all();
      continue;
    }
    const Clock::time_point now = Clock::now();
    if (until && now >= *until) {
      return;
    }
    const Clock::time_point wakeAt =
        until ? std::min(now + kServeSlice, *until) : now + kServeSlice;
    if (!wake_.wait_until(lock, wakeAt, [&] {
          return done() || (passwordRequest_ != nullptr && !passwordRequest_->answered);
        })) {
      lock.unlock();
      keepAliveIfDue();
      lock.lock();
    }
  }
}

const char* ServerThread::onPassword(const char* prompt, http_t* http, const char* /*method*/,
                                     const char* /*resource*/, void* self) {
  return static_cast<ServerThread*>(self)->password(prompt, http);
}

// On the server thread, inside a libcups call that the server refused for want of a user.
const char* ServerThread::password(const char* prompt, http_t* http) {
  wipe(passwordGiven_);
  if (memory_->given && offeredMemory_[http]++ == 0) {
    cupsSetUser(memory_->given->user.c_str());
    passwordGiven_ = memory_->given->password;
    return passwordGiven_.c_str();
  }
  if (!prompt_ || ++prompts_[http] > kMaxPrompts) {
    return nullptr;
  }
  PasswordRequest request{prompt == nullptr ? "" : prompt, cupsUser(), std::nullopt, false};
  {
    std::unique_lock lock(mutex_);
    passwordRequest_ = &request;
    wake_.notify_all();
    wake_.wait(lock, [&] { return request.answered; });
    passwordRequest_ = nullptr;
  }
  if (!request.answer) {
    return nullptr;
  }
  if (memory_->given) {
    wipe(memory_->given->password);
  }
  memory_->given = std::move(request.answer);
  // The connection has now been offered what is remembered.
  offeredMemory_[http] = 1;
  cupsSetUser(memory_->given->user.c_str());
  passwordGiven_ = memory_->given->password;
  return passwordGiven_.c_str();
}

}  // namespace batchcups
