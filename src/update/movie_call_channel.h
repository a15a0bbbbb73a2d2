// The synchronous movie call of the update worker, built on the main
// thread's message queue: the worker queues WM_APP_MOVIE_CALL for the main
// thread and waits until the main thread has handed the call to the movie.
// When the dialog stops the worker it releases the channel first, so a
// worker waiting in a call goes on (and every later call returns at once):
// stopping can never deadlock on a call already under way.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/main_loop.h"
#include "update/dialog_link.h"

namespace update {

class MovieCallChannel : public DialogLink {
 public:
  using Handler = std::function<void(const std::string* function, const std::string* parameter)>;

  // `mainLoop` receives the calls; not owned, must outlive the channel.
  explicit MovieCallChannel(platform::MainLoop& mainLoop);

  // Worker thread: queues the call and blocks until it has been handled or
  // the channel released. Returns at once once released, or when the main
  // queue has ended.
  void SendMovieCall(std::unique_ptr<std::string> function, std::unique_ptr<std::string> parameter) override;

  // Main thread: handles a WM_APP_MOVIE_CALL taken from the main queue by
  // giving its texts to `handler` (unless the channel was released) and
  // then releasing the waiting worker. False for any other message.
  bool HandleMessage(const platform::ThreadMessage& message, const Handler& handler);

  // Releases every waiting and future call (the "movie event" set for
  // good). Any thread.
  void Release();
  bool Released() const;

 private:
  struct PendingCall;
  mutable std::mutex lock_;
  std::condition_variable done_;
  platform::MainLoop& mainLoop_;
  bool released_ = false;
};

}  // namespace update
