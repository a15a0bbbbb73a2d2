#include "update/movie_call_channel.h"

#include "app/messages.h"

namespace update {

// One call in flight: owned by the waiting worker, pointed to by the queued
// message until the main thread marks it handled.
struct MovieCallChannel::PendingCall {
  std::unique_ptr<std::string> function;
  std::unique_ptr<std::string> parameter;
  bool handled = false;
};

MovieCallChannel::MovieCallChannel(platform::MainLoop& mainLoop) : mainLoop_(mainLoop) {}

void MovieCallChannel::SendMovieCall(std::unique_ptr<std::string> function, std::unique_ptr<std::string> parameter) {
  PendingCall call{std::move(function), std::move(parameter), false};
  std::unique_lock<std::mutex> lock(lock_);
  if (released_) return;
  if (!mainLoop_.Post({app::WM_APP_MOVIE_CALL, 0, reinterpret_cast<intptr_t>(&call)})) return;
  done_.wait(lock, [&] { return call.handled || released_; });
  // A released call may still sit in the main queue: mark it so that the
  // main thread never touches it once this frame is gone.
  call.handled = true;
}

bool MovieCallChannel::HandleMessage(const platform::ThreadMessage& message, const Handler& handler) {
  if (message.id != app::WM_APP_MOVIE_CALL) return false;
  auto* call = reinterpret_cast<PendingCall*>(message.lParam);
  std::unique_lock<std::mutex> lock(lock_);
  // After a release the worker no longer waits: its call must not be read.
  if (released_ || call->handled) return true;
  const std::string* function = call->function.get();
  const std::string* parameter = call->parameter.get();
  // The worker stays blocked until `handled`, so the texts stay valid while
  // the movie is called without the lock held.
  lock.unlock();
  if (handler) handler(function, parameter);
  lock.lock();
  // Released meanwhile: the worker may have gone on and its call be gone.
  if (released_) return true;
  call->handled = true;
  done_.notify_all();
  return true;
}

void MovieCallChannel::Release() {
  {
    std::lock_guard<std::mutex> lock(lock_);
    released_ = true;
  }
  done_.notify_all();
}

bool MovieCallChannel::Released() const {
  std::lock_guard<std::mutex> lock(lock_);
  return released_;
}

}  // namespace update
