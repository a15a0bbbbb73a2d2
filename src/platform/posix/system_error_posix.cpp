// The thread's last error on POSIX is errno; its message comes from the C
// library in the current locale's language.
#include <errno.h>
#include <string.h>

#include <string>

#include "platform/posix/system_error_posix.h"

namespace platform {

namespace {

// strerror_r comes in two shapes: the GNU one returns the text (which may
// or may not be in the buffer), the XSI one fills the buffer and returns 0.
[[maybe_unused]] const char* MessageFrom(char* result, const char*) { return result; }
[[maybe_unused]] const char* MessageFrom(int result, const char* buffer) { return result == 0 ? buffer : nullptr; }

}  // namespace

int LastErrorCode() { return errno; }

void SetLastErrorCode(int code) { errno = code; }

std::string SystemErrorText(int code) {
  if (code < 0) return std::string();
  char buffer[256] = {};
  const int saved = errno;
  const char* text = MessageFrom(strerror_r(code, buffer, sizeof buffer), buffer);
  errno = saved;
  // The C library invents "Unknown error N" for codes it has no text for;
  // that is no explanation, so the caller gets none.
  if (text == nullptr || *text == '\0' || strncmp(text, "Unknown error", 13) == 0) return std::string();
  return std::string(text) + "\r\n";
}

}  // namespace platform
