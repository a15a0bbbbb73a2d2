// The Windows registry: string values of HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER. The 32-bit program sees the 32-bit view of the machine
// hive on 64-bit Windows, as an installer of a 32-bit client must.
#pragma once

#include "platform/registry.h"

namespace platform {

class Win32Registry : public Registry {
 public:
  // RegOpenKeyExA (KEY_QUERY_VALUE) and RegQueryValueExA; a value that is
  // not a string is read as its bytes, up to its first zero.
  int ReadString(Hive hive, const std::string& key, const std::string& valueName, std::string* value) override;
  // RegCreateKeyExA (non-volatile, KEY_WRITE) and RegSetValueExA as REG_SZ
  // with the terminating zero.
  int WriteString(Hive hive, const std::string& key, const std::string& valueName, const std::string& text) override;
  // RegDeleteKeyA. Windows keeps a key that has keys below it: such a key
  // loses its values and stays as their parent.
  int DeleteKey(Hive hive, const std::string& key) override;
};

}  // namespace platform
