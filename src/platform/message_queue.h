// A thread's message queue: the main thread's application messages and the
// update worker's queue are both of this kind. The portable implementation
// here is a locked queue; a Windows build may put thread messages behind the
// same interface.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

namespace platform {

struct ThreadMessage {
  uint32_t id = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

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

// A piece of work handed to the thread that owns a queue: players and other
// platform parts use it to deliver their events on the main thread.
inline constexpr uint32_t kTaskMessage = 0x8000 + 100;

// Queues `task` for the queue's owner thread. False (and the task dropped)
// once the queue has ended. Any thread.
bool PostTask(MessageQueue& queue, std::function<void()> task);
// Runs the task a kTaskMessage carries and frees it; false for any other
// message. Owner thread.
bool RunIfTask(const ThreadMessage& message);
// Frees the task of a kTaskMessage without running it (a queue emptied at
// its end).
void DiscardIfTask(const ThreadMessage& message);

}  // namespace platform
