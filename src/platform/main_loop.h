// The main thread's loop: the one place where the main thread waits. The
// application, its dialogs and the players post their messages here from
// any thread; the loop runs them on the main thread. Each platform waits in
// its own way, so that its windows keep working while the application
// waits: the console waits on a plain queue, a window system dispatches its
// window messages (and a COM apartment's calls) between the application's.
#pragma once

#include <cstdint>
#include <functional>

namespace platform {

struct ThreadMessage {
  uint32_t id = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

// Called on the main thread for each application message the loop takes.
using MessageDispatcher = std::function<void(const ThreadMessage& message)>;

class MainLoop {
 public:
  virtual ~MainLoop() = default;
  // Queues a message and wakes the loop; any thread, never blocks. Returns
  // false once Quit was called (the message is then dropped).
  virtual bool Post(const ThreadMessage& message) = 0;
  // Main thread. Takes the posted messages in order and hands each to
  // `dispatch` (the platform's own window events are handled in between)
  // until `done` answers true, checked before every wait and after every
  // message. Returns true when `done` ended it, false when Quit did (the
  // messages posted before the Quit are dispatched first). Calls nest: a
  // dispatched message may run an inner loop.
  virtual bool RunUntil(const std::function<bool()>& done, const MessageDispatcher& dispatch) = 0;
  // Ends every running and later RunUntil with `exitCode`; any thread. The
  // first call's code stays.
  virtual void Quit(int exitCode) = 0;
  virtual bool QuitRequested() const = 0;
  virtual int ExitCode() const = 0;
};

// A piece of work handed to the main thread: players and other platform
// parts deliver their events this way.
inline constexpr uint32_t kTaskMessage = 0x8000 + 100;

// Queues `task` for the main thread. False (and the task dropped) once the
// loop has ended. Any thread.
bool PostTask(MainLoop& loop, std::function<void()> task);
// Runs the task a kTaskMessage carries and frees it; false for any other
// message. Main thread.
bool RunIfTask(const ThreadMessage& message);
// Frees the task of a kTaskMessage without running it (a queue emptied at
// its end).
void DiscardIfTask(const ThreadMessage& message);

}  // namespace platform
