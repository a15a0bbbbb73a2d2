// The thread's last error on Windows is the Win32 last error. Its message
// comes from the system's message table in the user's language; WinINet's
// codes (12001-12175) are in wininet.dll's own table.
#include <string>

#include "platform/win32/system_error_win32.h"
#include "platform/win32/win32_api.h"

namespace platform {

namespace {

constexpr DWORD kInternetErrorFirst = 12000;
constexpr DWORD kInternetErrorLast = 12175;

std::string FormatFrom(DWORD flags, const void* source, DWORD code) {
  char* text = nullptr;
  const DWORD length =
      FormatMessageA(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, source, code,
                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out;
  if (length > 0 && text != nullptr) out.assign(text, length);
  if (text != nullptr) LocalFree(text);
  return out;
}

}  // namespace

int LastErrorCode() { return static_cast<int>(GetLastError()); }

void SetLastErrorCode(int code) { SetLastError(static_cast<DWORD>(code)); }

std::string SystemErrorText(int code) {
  if (code < 0) return std::string();
  const DWORD saved = GetLastError();
  const DWORD number = static_cast<DWORD>(code);
  std::string text;
  if (number >= kInternetErrorFirst && number <= kInternetErrorLast) {
    if (HMODULE wininet = GetModuleHandleA("wininet.dll")) {
      text = FormatFrom(FORMAT_MESSAGE_FROM_HMODULE, wininet, number);
    }
  }
  if (text.empty()) text = FormatFrom(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, number);
  SetLastError(saved);
  if (text.empty()) return text;
  // The system's texts end in "\r\n" already; one that does not is given it.
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text + "\r\n";
}

}  // namespace platform
