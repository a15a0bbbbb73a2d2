#include "platform/message_queue.h"

#include <memory>

namespace platform {

bool MessageQueue::Post(const ThreadMessage& message) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (quit_) return false;
    messages_.push_back(message);
  }
  ready_.notify_one();
  return true;
}

std::optional<ThreadMessage> MessageQueue::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  ready_.wait(lock, [this] { return quit_ || !messages_.empty(); });
  if (messages_.empty()) return std::nullopt;
  ThreadMessage message = messages_.front();
  messages_.pop_front();
  return message;
}

std::optional<ThreadMessage> MessageQueue::TryTake() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (messages_.empty()) return std::nullopt;
  ThreadMessage message = messages_.front();
  messages_.pop_front();
  return message;
}

void MessageQueue::Quit(int exitCode) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (quit_) return;
    quit_ = true;
    exitCode_ = exitCode;
  }
  ready_.notify_all();
}

bool MessageQueue::QuitRequested() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return quit_;
}

int MessageQueue::ExitCode() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return exitCode_;
}

bool QueueMainLoop::RunUntil(const std::function<bool()>& done, const MessageDispatcher& dispatch) {
  while (!done()) {
    std::optional<ThreadMessage> message = queue_.Wait();
    if (!message) return false;
    dispatch(*message);
  }
  return true;
}

bool PostTask(MainLoop& loop, std::function<void()> task) {
  auto* held = new std::function<void()>(std::move(task));
  if (loop.Post({kTaskMessage, 0, reinterpret_cast<intptr_t>(held)})) return true;
  delete held;
  return false;
}
bool RunIfTask(const ThreadMessage& message) {
  if (message.id != kTaskMessage) return false;
  std::unique_ptr<std::function<void()>> task(reinterpret_cast<std::function<void()>*>(message.lParam));
  if (task && *task) (*task)();
  return true;
}

void DiscardIfTask(const ThreadMessage& message) {
  if (message.id == kTaskMessage) delete reinterpret_cast<std::function<void()>*>(message.lParam);
}

}  // namespace platform
