// Processes on Windows: the Toolhelp snapshot, OpenProcess and
// TerminateProcess, CreateProcessA, and the top-level window list.
#pragma once

#include <atomic>

#include "platform/processes.h"

namespace platform {

class Win32Processes : public Processes {
 public:
  // CreateToolhelp32Snapshot (TH32CS_SNAPPROCESS), Process32First/Next.
  std::vector<ProcessInfo> Snapshot() override;
  int CurrentProcessId() override;
  // OpenProcess with PROCESS_TERMINATE, TerminateProcess with `exitCode`.
  bool Terminate(int pid, int exitCode) override;
  // CreateProcessA with the command line "\"<directory>\<file>\"", then
  // " \"<argument>\"" when given, no handle inheritance, the working folder
  // `directory` (one trailing "\" dropped; empty: the current directory);
  // `show` false starts the first window hidden (SW_HIDE). A wait is
  // WaitForSingleObject up to the wait limit.
  int RunProgram(const std::string& directory, const std::string& file, const std::optional<std::string>& argument,
                 bool show, bool wait) override;
  // EnumWindows over the top-level windows, each window's owner from
  // GetWindowThreadProcessId.
  bool FindTopLevelWindow(const std::string& programName) override;
  // The same search, then SetForegroundWindow on the window found.
  bool BringTopLevelWindowToFront(const std::string& programName) override;

  // The longest wait of RunProgram in milliseconds (kRunWaitLimitMs unless
  // a test shortens it).
  void SetWaitLimitMs(int limitMs) { waitLimitMs_ = limitMs; }

 private:
  std::atomic<int> waitLimitMs_{kRunWaitLimitMs};
};

}  // namespace platform
