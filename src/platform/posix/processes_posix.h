// Processes on Linux, read from /proc and started with posix_spawn.
//
// Names: a process's name is the file name of its executable
// (/proc/<pid>/exe), which keeps the whole name ("QuorixSalon.exe") where the
// kernel's own process name is cut at 15 characters. When argv[0] names a
// ".exe" program (one run by a Windows compatibility layer, whose executable
// is the layer's loader), that name is taken instead. Processes whose
// executable cannot be read (other users') are named from argv[0], and
// kernel threads from their kernel name. Exited processes not yet collected
// by their parent are left out.
//
// Starting: argv is [<directory>/<file>, argument] and the working folder is
// `directory`; no command interpreter is involved, so no character of the
// texts has a special meaning. A downloaded program has no execute bit: the
// file is given its owner's execute bit before it is started. `show` has no
// meaning for a terminal program and is ignored. A program not waited for is
// started in its own session, so that it outlives the installer and its
// terminal; it is collected by a background thread when it ends.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "platform/processes.h"

namespace platform {

class PosixProcesses : public Processes {
 public:
  std::vector<ProcessInfo> Snapshot() override;
  int CurrentProcessId() override;
  // Sends SIGKILL; the exit code cannot be chosen on Linux (the process
  // ends by the signal). False for pids below 1, for a process that does
  // not exist and for one this user may not signal.
  bool Terminate(int pid, int exitCode) override;
  int RunProgram(const std::string& directory, const std::string& file, const std::optional<std::string>& argument,
                 bool show, bool wait) override;
  // There is no window list on a terminal: a running process (other than
  // this one) whose name contains `programName` counts as the program's
  // window. Bringing it forward has nothing to raise and answers the same.
  bool FindTopLevelWindow(const std::string& programName) override;
  bool BringTopLevelWindowToFront(const std::string& programName) override;

  // The longest wait of RunProgram in milliseconds (kRunWaitLimitMs unless
  // a test shortens it).
  void SetWaitLimitMs(int limitMs) { waitLimitMs_ = limitMs; }
  // Started programs write their output (standard output and error) to
  // `fd` (the session log) instead of the installer's terminal; -1 (the
  // default) leaves them the installer's. Not owned; it must stay open
  // while programs are started.
  void SetOutputFd(int fd) { outputFd_ = fd; }

  // The name Snapshot gives the process `pid`; nothing when the process does
  // not exist (any more) or has ended.
  static std::optional<std::string> ProcessName(int pid);
  // The same, with the executable's full path in *exePath (empty when it
  // cannot be told).
  static std::optional<std::string> ProcessName(int pid, std::string* exePath);

 private:
  std::atomic<int> waitLimitMs_{kRunWaitLimitMs};
  std::atomic<int> outputFd_{-1};
};

}  // namespace platform
