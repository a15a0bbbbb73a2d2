// The main loop of the Windows program. The application's messages wait in
// a locked queue of the loop's own, and an event wakes the main thread;
// while it waits (MsgWaitForMultipleObjectsEx) it dispatches the thread's
// window messages and the messages other threads send to its windows, so
// dialogs, controls and COM calls keep working. The application's messages
// are not thread messages: a modal loop that is not ours (a message box's)
// would take and drop them, and a thread without a queue yet could not be
// posted to at all (ERROR_INVALID_THREAD_ID).
#pragma once

#include <deque>
#include <mutex>
#include <optional>

#include "platform/main_loop.h"

namespace platform {

class Win32MainLoop : public MainLoop {
 public:
  // Main thread: the thread that constructs the loop is the one that runs
  // it; its window message queue is made here.
  Win32MainLoop();
  ~Win32MainLoop() override;
  Win32MainLoop(const Win32MainLoop&) = delete;
  Win32MainLoop& operator=(const Win32MainLoop&) = delete;

  bool Post(const ThreadMessage& message) override;
  // A WM_QUIT taken from the window messages (PostQuitMessage) ends the
  // loop as Quit does, with its exit code.
  bool RunUntil(const std::function<bool()>& done, const MessageDispatcher& dispatch) override;
  void Quit(int exitCode) override;
  bool QuitRequested() const override;
  int ExitCode() const override;
  // Pumps window messages (no application message) until `done`.
  void WaitUntil(const std::function<bool()>& done) override;
  void Wake() override;

 private:
  std::optional<ThreadMessage> Take();
  void PumpWindowMessages();

  void* wake_ = nullptr;  // auto-reset event, set by Post and Quit
  mutable std::mutex mutex_;
  std::deque<ThreadMessage> messages_;
  bool quit_ = false;
  int exitCode_ = 0;
};

}  // namespace platform
