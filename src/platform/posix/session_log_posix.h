// The session log on Linux: "$XDG_STATE_HOME/websetup/session-<date>-<time>-<pid>.log"
// ($XDG_STATE_HOME defaults to ~/.local/state), readable by its owner only.
// The last kKeptSessionLogs logs are kept; older ones are removed when a
// new one is opened.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

#include "platform/session_log.h"

namespace platform {

inline constexpr int kKeptSessionLogs = 10;

class PosixSessionLog : public SessionLog {
 public:
  // Opens a new log in `folder` (created when missing); an empty folder
  // means the user's state folder. A log that cannot be opened stays
  // closed: Path() is then empty and lines are dropped.
  explicit PosixSessionLog(const std::string& folder = std::string());
  ~PosixSessionLog() override;
  PosixSessionLog(const PosixSessionLog&) = delete;
  PosixSessionLog& operator=(const PosixSessionLog&) = delete;

  void Write(const std::string& line) override;
  std::string Path() const override { return path_; }
  // The open file, for the output of started programs; -1 when closed.
  int Fd() const { return fd_; }

 private:
  std::string path_;
  int fd_ = -1;
  std::mutex lock_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// The user's state folder for the logs: $XDG_STATE_HOME/websetup, or
// $HOME/.local/state/websetup; empty when neither is set.
std::string SessionLogFolder();

}  // namespace platform
