// Facts about the machine and the running program on Windows.
#pragma once

#include "platform/system.h"

namespace platform {

class Win32System : public System {
 public:
  // GetVersionExA: the version the system reports to this program.
  OsVersion GetOsVersion() override;
  // The primary screen (SM_CXSCREEN, SM_CYSCREEN).
  ScreenSize GetScreenSize() override;
  std::string ComputerName() override;
  uint32_t TickCount() override;
  uint64_t SystemTimeAsFileTime() override;
  LocalTime GetLocalTime() override;
  std::string ExecutablePath() override;
  // GetTempPathA without its trailing separator.
  std::string TempFolder() override;
  void LowerCurrentThreadPriority() override;
  int LastErrorCode() override;
  void SetLastErrorCode(int code) override;
  // FormatMessageA; WinINet's codes from wininet.dll's message table.
  std::string ErrorText(int code) override;
};

}  // namespace platform
