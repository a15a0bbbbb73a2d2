// A fresh folder in the Windows temp folder for one test, removed with
// everything in it when the test ends, and small file helpers.
#pragma once

#include <string>

#include "platform/path.h"
#include "platform/win32/shell_win32.h"
#include "platform/win32/win32_api.h"

namespace testing_support {

class Win32TestFolder {
 public:
  Win32TestFolder() {
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, temp);
    char name[MAX_PATH + 1] = {};
    GetTempFileNameA(temp, "wst", 0, name);  // makes a file of that name
    DeleteFileA(name);
    path_ = name;
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~Win32TestFolder() { (void)platform::Win32Shell().DeleteTree(path_, false); }
  Win32TestFolder(const Win32TestFolder&) = delete;
  Win32TestFolder& operator=(const Win32TestFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return platform::JoinPath(path_, relative); }

 private:
  std::string path_;
};

inline bool WriteText(const std::string& path, const std::string& text) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                  written == text.size();
  CloseHandle(file);
  return ok;
}

// The file's content; "<missing>" when it cannot be opened. The file stays
// open to writers meanwhile: a test that polls a log must never make a
// program's write to it fail (the line would be lost).
inline std::string ReadText(const std::string& path) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<missing>";
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  return text;
}

}  // namespace testing_support
