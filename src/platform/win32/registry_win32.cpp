#include "platform/win32/registry_win32.h"

#include <vector>

#include "platform/win32/win32_api.h"

namespace platform {

namespace {

HKEY Root(Hive hive) { return hive == Hive::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

// Leaves `code` as the thread's last error and returns it.
int Result(LONG code) {
  SetLastError(static_cast<DWORD>(code));
  return static_cast<int>(code);
}

// Deletes every value of the open key `key`.
LONG DeleteValues(HKEY key) {
  for (;;) {
    char name[16384];
    DWORD length = sizeof name;
    const LONG code = RegEnumValueA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (code == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (code != ERROR_SUCCESS) return code;
    const LONG deleted = RegDeleteValueA(key, name);
    if (deleted != ERROR_SUCCESS) return deleted;
  }
}

}  // namespace

int Win32Registry::ReadString(Hive hive, const std::string& key, const std::string& valueName, std::string* value) {
  HKEY handle = nullptr;
  LONG code = RegOpenKeyExA(Root(hive), key.c_str(), 0, KEY_QUERY_VALUE, &handle);
  if (code != ERROR_SUCCESS) return Result(code);
  std::vector<char> data(256);
  for (;;) {
    DWORD size = static_cast<DWORD>(data.size());
    code = RegQueryValueExA(handle, valueName.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size);
    if (code == ERROR_MORE_DATA) {
      data.resize(size + 1);
      continue;
    }
    if (code == ERROR_SUCCESS) {
      size_t length = 0;
      while (length < size && data[length] != '\0') ++length;
      value->assign(data.data(), length);
    }
    break;
  }
  RegCloseKey(handle);
  return Result(code);
}

int Win32Registry::WriteString(Hive hive, const std::string& key, const std::string& valueName,
                               const std::string& text) {
  HKEY handle = nullptr;
  LONG code = RegCreateKeyExA(Root(hive), key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                              &handle, nullptr);
  if (code != ERROR_SUCCESS) return Result(code);
  code = RegSetValueExA(handle, valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
  RegCloseKey(handle);
  return Result(code);
}

int Win32Registry::DeleteKey(Hive hive, const std::string& key) {
  LONG code = RegDeleteKeyA(Root(hive), key.c_str());
  if (code != ERROR_ACCESS_DENIED) return Result(code);
  // Either the key has keys below it or this user may not delete it.
  HKEY handle = nullptr;
  if (RegOpenKeyExA(Root(hive), key.c_str(), 0, KEY_READ | KEY_SET_VALUE, &handle) != ERROR_SUCCESS) {
    return Result(code);
  }
  DWORD subKeys = 0;
  const bool hasSubKeys = RegQueryInfoKeyA(handle, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr,
                                           nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                          subKeys > 0;
  if (hasSubKeys) code = DeleteValues(handle);
  RegCloseKey(handle);
  return Result(code);
}

}  // namespace platform
