// The calling thread's last system error (GetLastError) and the system's
// message for it, behind Win32System's calls of the same names.
#pragma once

#include <string>

namespace platform {

// The calling thread's last error code (GetLastError).
int LastErrorCode();
// Sets the calling thread's last error code; platform implementations and
// fakes use it so that a later LastErrorCode describes their failure.
void SetLastErrorCode(int code);
// The system's message for `code` in the user's language, ending with a
// line end ("\r\n" on every platform, as the system's messages do on
// Windows, so reports read the same wherever they come from). Empty when
// the system has no text for the code. Thread-safe, non-blocking.
std::string SystemErrorText(int code);

}  // namespace platform
