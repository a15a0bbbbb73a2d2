// The session log: one file per run for support, with each step, each
// exchange's result and time, each file's size and attempts and the final
// code. It holds nothing the update server does not receive already (no
// form bodies, no identity). The output of programs the installer starts
// goes there too, not over the installer's own screen.
#pragma once

#include <string>

namespace platform {

class SessionLog {
 public:
  virtual ~SessionLog() = default;
  // Appends `line`, stamped with the seconds since the run began. A log
  // that could not be opened drops it. Thread-safe; does not wait for the
  // disk.
  virtual void Write(const std::string& line) = 0;
  // The log file's path; empty when there is none.
  virtual std::string Path() const = 0;
};

// Writes `line` to `log` when there is one.
inline void LogLine(SessionLog* log, const std::string& line) {
  if (log != nullptr) log->Write(line);
}

}  // namespace platform
