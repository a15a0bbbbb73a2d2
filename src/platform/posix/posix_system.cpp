#include "platform/posix/posix_system.h"
#include "platform/posix/system_error_posix.h"

#include <limits.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {
constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;
}

OsVersion PosixSystem::GetOsVersion() {
  OsVersion version;
  struct utsname name;
  if (uname(&name) != 0) return version;
  version.ok = true;
  unsigned major = 0, minor = 0;
  if (std::sscanf(name.release, "%u.%u", &major, &minor) >= 1) {
    version.major = major;
    version.minor = minor;
  }
  return version;
}

ScreenSize PosixSystem::GetScreenSize() { return {}; }

std::string PosixSystem::ComputerName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

uint32_t PosixSystem::TickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

uint64_t PosixSystem::SystemTimeAsFileTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return kFileTimeUnixEpoch + static_cast<uint64_t>(now.tv_sec) * 10000000ULL + static_cast<uint64_t>(now.tv_nsec) / 100;
}

LocalTime PosixSystem::GetLocalTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm parts{};
  localtime_r(&now.tv_sec, &parts);
  LocalTime t;
  t.year = static_cast<unsigned>(parts.tm_year + 1900);
  t.month = static_cast<unsigned>(parts.tm_mon + 1);
  t.day = static_cast<unsigned>(parts.tm_mday);
  t.hour = static_cast<unsigned>(parts.tm_hour);
  t.minute = static_cast<unsigned>(parts.tm_min);
  t.second = static_cast<unsigned>(parts.tm_sec);
  t.millisecond = static_cast<unsigned>(now.tv_nsec / 1000000);
  return t;
}

std::string PosixSystem::ExecutablePath() {
  char path[PATH_MAX + 1] = {};
  const ssize_t n = readlink("/proc/self/exe", path, PATH_MAX);
  if (n <= 0) return {};
  return std::string(path, static_cast<size_t>(n));
}

std::string PosixSystem::TempFolder() {
  const char* tmp = std::getenv("TMPDIR");
  return (tmp && *tmp) ? tmp : "/tmp";
}

}  // namespace platform

namespace platform {

void PosixSystem::LowerCurrentThreadPriority() {
  // On Linux the nice value belongs to the thread named by its id.
  const id_t thread = static_cast<id_t>(syscall(SYS_gettid));
  (void)setpriority(PRIO_PROCESS, thread, 19);
}

int PosixSystem::LastErrorCode() { return platform::LastErrorCode(); }

void PosixSystem::SetLastErrorCode(int code) { platform::SetLastErrorCode(code); }

std::string PosixSystem::ErrorText(int code) { return SystemErrorText(code); }

void KeepFreedMemoryForReuse() {
#ifdef __GLIBC__
  mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 4 * 1024 * 1024);
#endif
}

}  // namespace platform
