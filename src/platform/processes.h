// Running processes: the list of processes with their executable names,
// termination, starting a program in a working folder with an optional wait,
// and finding a running program's top-level window.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

struct ProcessInfo {
  int pid = 0;
  std::string exeName;  // the executable's file name without folder ("QuorixSalon.exe")
  std::string exePath;  // the executable's full path; empty when it cannot be told
};

// Results of RunProgram, with the system's numbers.
enum class RunResult : int {
  Ok = 0,            // started (and, when waited for, ended)
  NotStarted = 1,    // the program could not be started
  WaitFailed = 2,    // started, but waiting for it failed
  StillRunning = 3,  // started, still running when the wait limit passed
};

// The longest wait of RunProgram: one hour.
inline constexpr int kRunWaitLimitMs = 3600000;

// Calls are safe from any thread.
class Processes {
 public:
  virtual ~Processes() = default;
  // Every process of the current user that can be seen, in no set order
  // (other users' processes are never listed). Processes that end while
  // the list is taken are left out. Non-blocking; empty on failure.
  virtual std::vector<ProcessInfo> Snapshot() = 0;
  virtual int CurrentProcessId() = 0;
  // Ends the process at once. `exitCode` is the code it ends with where
  // the system lets the caller choose one. Returns false when the process
  // does not exist or may not be ended. Does not wait for it to be gone.
  virtual bool Terminate(int pid, int exitCode) = 0;
  // Starts the program `file` of folder `directory` (empty: the current
  // directory), with `directory` as its working folder and `argument`, when
  // given, as its one argument; never through a command interpreter. `show`
  // false asks for its first window to be hidden. When `wait` is true,
  // blocks until the program ends or kRunWaitLimitMs has passed; the
  // program's exit code is not examined. Returns a RunResult as int.
  [[nodiscard]] virtual int RunProgram(const std::string& directory, const std::string& file,
                                       const std::optional<std::string>& argument, bool show, bool wait) = 0;
  // True when a process other than this one, whose executable name contains
  // `programName` (exact letter case), has a top-level window. Non-blocking.
  virtual bool FindTopLevelWindow(const std::string& programName) = 0;
  // The same search; the first window found is brought to the foreground.
  // Returns true when a window was found.
  virtual bool BringTopLevelWindowToFront(const std::string& programName) = 0;
};

}  // namespace platform
