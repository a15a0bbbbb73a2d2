// Process-wide guards of one installer run on Linux: SIGTERM and SIGHUP
// (a shutdown, a closed terminal) become close requests, and one installer
// per application and user runs at a time.
#pragma once

#include <functional>
#include <string>
#include <thread>

namespace platform {

// Turns SIGTERM and SIGHUP into calls of `onRequest`. The handlers only
// write to a pipe; a thread of this object reads it and calls `onRequest`
// there (not on the main thread: post to the main queue from it). A second
// signal while the first is handled calls it again. Destruction restores
// the previous handlers and joins the thread. One object per process.
class TerminationRequests {
 public:
  explicit TerminationRequests(std::function<void()> onRequest);
  ~TerminationRequests();
  TerminationRequests(const TerminationRequests&) = delete;
  TerminationRequests& operator=(const TerminationRequests&) = delete;

 private:
  void Watch();

  std::function<void()> onRequest_;
  int pipe_[2] = {-1, -1};
  std::thread watcher_;
};

// The single-instance lock of application `appName` for this user: an
// exclusive advisory lock on "$XDG_DATA_HOME/websetup/<appName>.lock",
// held while the object lives. The system drops it when the process ends,
// also when it is killed, so a stale lock never blocks the next run.
class InstanceLock {
 public:
  explicit InstanceLock(const std::string& appName);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // False when another process of this user holds the lock. A lock file
  // that cannot be created at all does not stop the run: true.
  bool Held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

}  // namespace platform
