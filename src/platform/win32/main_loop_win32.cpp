#include "platform/win32/main_loop_win32.h"

#include "platform/win32/win32_api.h"

namespace platform {

Win32MainLoop::Win32MainLoop() {
  MSG ignored;
  PeekMessageA(&ignored, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the thread's queue
  wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

Win32MainLoop::~Win32MainLoop() {
  for (const ThreadMessage& message : messages_) DiscardIfTask(message);
  if (wake_ != nullptr) CloseHandle(wake_);
}

bool Win32MainLoop::Post(const ThreadMessage& message) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (quit_) return false;
    messages_.push_back(message);
  }
  SetEvent(wake_);
  return true;
}

void Win32MainLoop::Quit(int exitCode) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (quit_) return;
    quit_ = true;
    exitCode_ = exitCode;
  }
  SetEvent(wake_);
}

bool Win32MainLoop::QuitRequested() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return quit_;
}

int Win32MainLoop::ExitCode() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return exitCode_;
}

std::optional<ThreadMessage> Win32MainLoop::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (messages_.empty()) return std::nullopt;
  ThreadMessage message = messages_.front();
  messages_.pop_front();
  return message;
}

void Win32MainLoop::PumpWindowMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      Quit(static_cast<int>(message.wParam));
      continue;
    }
    // Tab, Enter and Escape move among a dialog's controls, as a dialog's
    // own loop would have it.
    const HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    if (root != nullptr && IsDialogMessageA(root, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

bool Win32MainLoop::RunUntil(const std::function<bool()>& done, const MessageDispatcher& dispatch) {
  for (;;) {
    if (done()) return true;
    PumpWindowMessages();
    if (std::optional<ThreadMessage> message = Take()) {
      dispatch(*message);
      continue;
    }
    if (QuitRequested()) return false;
    // A window message just dispatched may have ended the wait.
    if (done()) return true;
    // Wakes for a posted message (the event), a window message or a message
    // sent from another thread; input already seen but not taken counts too.
    MsgWaitForMultipleObjectsEx(1, &wake_, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

void Win32MainLoop::WaitUntil(const std::function<bool()>& done) {
  // The wake event is auto-reset: a Wake between the check and the wait
  // leaves it set, so the wait returns at once and checks again.
  for (;;) {
    if (done()) return;
    PumpWindowMessages();
    if (done()) return;
    MsgWaitForMultipleObjectsEx(1, &wake_, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

void Win32MainLoop::Wake() { SetEvent(wake_); }

}  // namespace platform
