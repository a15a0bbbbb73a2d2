// Linux implementations of the machine facts.
#pragma once

#include "platform/system.h"

namespace platform {

class PosixSystem : public System {
 public:
  // Linux is not one of the Windows platforms: platformId 0, which the
  // operating-system code reports as "other".
  OsVersion GetOsVersion() override;
  // No screen query on a terminal: 0 x 0.
  ScreenSize GetScreenSize() override;
  std::string ComputerName() override;
  uint32_t TickCount() override;
  uint64_t SystemTimeAsFileTime() override;
  LocalTime GetLocalTime() override;
  std::string ExecutablePath() override;
  std::string TempFolder() override;
  // Raises the thread's nice value to the highest (lowest priority).
  void LowerCurrentThreadPriority() override;
  // errno, and the C library's message in the current locale's language.
  int LastErrorCode() override;
  void SetLastErrorCode(int code) override;
  std::string ErrorText(int code) override;
};

}  // namespace platform
