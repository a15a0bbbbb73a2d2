// The stand-in movie control (standin_movie_control.dll, next to the test
// programs), registered under the movie control's class id among the
// machine's classes of the test prefix while the object lives; Wine looks
// up in-process servers there only. The prefix is the tests' own.
#pragma once

#include <string>

#include "platform/path.h"
#include "platform/win32/win32_api.h"
#include "platform/win32/win32_system.h"

namespace testing_support {

class StandInControlRegistration {
 public:
  StandInControlRegistration() {
    const std::string server =
        platform::DirectoryOf(platform::Win32System().ExecutablePath()) + "\\standin_movie_control.dll";
    HKEY key = nullptr;
    registered_ = RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(kClassKey) + "\\InprocServer32").c_str(), 0, nullptr,
                                  0, KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS;
    if (!registered_) return;
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                   static_cast<DWORD>(server.size() + 1));
    RegSetValueExA(key, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>("Apartment"), 10);
    RegCloseKey(key);
  }
  ~StandInControlRegistration() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kClassKey); }
  StandInControlRegistration(const StandInControlRegistration&) = delete;
  StandInControlRegistration& operator=(const StandInControlRegistration&) = delete;
  bool registered() const { return registered_; }

 private:
  static constexpr const char* kClassKey = "Software\\Classes\\CLSID\\{D27CDB6E-AE6D-11CF-96B8-444553540000}";
  bool registered_ = false;
};

}  // namespace testing_support
