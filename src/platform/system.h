// Facts about the machine and the running program: OS version, screen size,
// computer name, clocks, temp folder and the executable's own path.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct OsVersion {
  bool ok = false;          // false when the query failed
  uint32_t platformId = 0;  // 1 = Windows 9x family, 2 = NT family, 0 = other
  uint32_t major = 0;
  uint32_t minor = 0;
};

struct ScreenSize {
  int width = 0;   // pixels; 0 when there is no screen
  int height = 0;
};

struct LocalTime {
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

// All calls are non-blocking and safe from any thread.
class System {
 public:
  virtual ~System() = default;
  virtual OsVersion GetOsVersion() = 0;
  virtual ScreenSize GetScreenSize() = 0;
  // The machine's name; empty when it cannot be read.
  virtual std::string ComputerName() = 0;
  // Milliseconds since an arbitrary start, wrapping at 2^32.
  virtual uint32_t TickCount() = 0;
  // Current UTC time as 100-nanosecond intervals since 1601-01-01.
  virtual uint64_t SystemTimeAsFileTime() = 0;
  virtual LocalTime GetLocalTime() = 0;
  // Full path of the running executable.
  virtual std::string ExecutablePath() = 0;
  virtual std::string TempFolder() = 0;
  // Runs the calling thread at the lowest priority, so that long work
  // leaves the machine responsive.
  virtual void LowerCurrentThreadPriority() = 0;
  // The calling thread's last error code (Win32 error, errno on POSIX).
  // Platform calls that fail leave their code there, so that the failure
  // reports can add the system's explanation.
  virtual int LastErrorCode() = 0;
  // Sets the calling thread's last error code, so that a later
  // LastErrorCode describes a failure the logic found itself.
  virtual void SetLastErrorCode(int code) = 0;
  // The system's message for `code` in the user's language, ending with a
  // line end ("\r\n" on every platform, as the system's messages do on
  // Windows, so reports read the same wherever they come from). Empty when
  // the system has no text for the code.
  virtual std::string ErrorText(int code) = 0;
};

// Whole seconds since 1970-01-01 of a file-time count; 0 for a time before
// it.
inline uint64_t UnixSecondsFromFileTime(uint64_t fileTime) {
  constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;  // 100 ns steps from 1601 to 1970
  return fileTime > kFileTimeUnixEpoch ? (fileTime - kFileTimeUnixEpoch) / 10000000ULL : 0;
}

}  // namespace platform
