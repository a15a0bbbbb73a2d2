// String values of the machine and user registry hives: the installation's
// registration, its uninstall entry and the user name kept across a
// reinstallation. Keys are backslash-separated paths ("Software\Quorix");
// key paths and value names compare without regard to letter case, as the
// Windows registry does, and the first spelling written is the one kept.
#pragma once

#include <string>

namespace platform {

enum class Hive { LocalMachine, CurrentUser };

// Result codes of the registry calls. Any other non-zero result is the
// system's error code (Win32 error, errno on POSIX); the calling thread's
// last error (System::LastErrorCode) holds the same code after a
// failure, so SystemErrorText can describe it.
inline constexpr int kRegistryOk = 0;
inline constexpr int kRegistryNotFound = 2;  // the key or the value does not exist

// Every call blocks until the store has been read or durably written. Calls
// are safe from any thread and from several processes at once: one write
// never loses another's.
class Registry {
 public:
  virtual ~Registry() = default;
  // Reads the string value `valueName` of `key`. Returns kRegistryOk with
  // the text in *value; kRegistryNotFound when the key or the value is
  // absent; otherwise an error code (the store cannot be read or is
  // damaged). *value is left unchanged on any failure.
  [[nodiscard]] virtual int ReadString(Hive hive, const std::string& key, const std::string& valueName,
                                       std::string* value) = 0;
  // Sets the string value, creating the key when needed. Returns
  // kRegistryOk or an error code; on failure the store is as it was.
  [[nodiscard]] virtual int WriteString(Hive hive, const std::string& key, const std::string& valueName,
                                        const std::string& text) = 0;
  // Deletes `key` together with its values. Returns kRegistryOk,
  // kRegistryNotFound when the key does not exist, or an error code.
  // Keys below `key` are separate keys and stay.
  [[nodiscard]] virtual int DeleteKey(Hive hive, const std::string& key) = 0;
};

}  // namespace platform
