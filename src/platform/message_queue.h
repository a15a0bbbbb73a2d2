// A thread's message queue, a locked queue that a thread waits on: the
// update worker's queue, and the main loop of a platform that has no window
// system to pump (the console, the tests).
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "platform/main_loop.h"

namespace platform {

class MessageQueue {
 public:
  // Adds a message; any thread. Returns false once the queue has been told
  // to quit (the message is then dropped).
  bool Post(const ThreadMessage& message);
  // Blocks until a message arrives; returns nothing once Quit was called and
  // the messages posted before it have been taken. Owner thread only.
  std::optional<ThreadMessage> Wait();
  // Takes a message if one is waiting; never blocks.
  std::optional<ThreadMessage> TryTake();
  // Ends the queue's loop with `exitCode`; any thread.
  void Quit(int exitCode);
  bool QuitRequested() const;
  int ExitCode() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<ThreadMessage> messages_;
  bool quit_ = false;
  int exitCode_ = 0;
};

// The main loop of a platform without a window system: the main thread
// waits on a plain queue. Tests take messages from it directly.
class QueueMainLoop : public MainLoop {
 public:
  bool Post(const ThreadMessage& message) override { return queue_.Post(message); }
  bool RunUntil(const std::function<bool()>& done, const MessageDispatcher& dispatch) override;
  void Quit(int exitCode) override { queue_.Quit(exitCode); }
  bool QuitRequested() const override { return queue_.QuitRequested(); }
  int ExitCode() const override { return queue_.ExitCode(); }

  // What MessageQueue's do, for tests that play the main thread themselves.
  std::optional<ThreadMessage> Wait() { return queue_.Wait(); }
  std::optional<ThreadMessage> TryTake() { return queue_.TryTake(); }

 private:
  MessageQueue queue_;
};

}  // namespace platform
