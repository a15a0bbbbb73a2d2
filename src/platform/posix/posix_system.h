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

// Makes the C library keep freed memory for reuse: blocks up to 1 MiB come
// from the heap, and up to 4 MiB free at its top stay there. The transfers
// make and free their receive buffers (128 KiB) file after file; left to the
// library's adaptive limits, which depend on what other code in the process
// (a web engine) freed before, those buffers could each be mapped, touched
// page by page and returned: on a set of 400 small files, twice the page
// faults and a third more time. Call first thing in main.
void KeepFreedMemoryForReuse();

}  // namespace platform
