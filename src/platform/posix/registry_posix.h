// The registry on Linux: a small store of string values in one text file
// per hive, kept in the user's XDG folders (installations on Linux are per
// user, so the "machine" hive is the user's too):
//   machine hive  $XDG_DATA_HOME/websetup/registry-machine
//   user hive     $XDG_CONFIG_HOME/websetup/registry-user
// The environment is read at every call.
//
// File format (text, one record a line, fields percent-escaped so that no
// field can contain a line end, "=", "[", "]" or "%" of its own):
//   websetup-registry 1 <body length> <CRC-32 of the body, 8 hex digits>
//   [<key>]
//   <value name>=<value>
// A file whose header, length, checksum or lines do not check out is
// damaged, and the reason is written to stderr. Every save also writes a
// last good copy ("<file>.good"); a damaged file is read from that copy
// (and the next write replaces it with that copy's content and the new
// value). With both damaged, reads answer EBADMSG (never "not found") and
// writes refuse to replace the file. A missing file is an empty hive.
//
// Writes hold an exclusive flock on "<file>.lock" around the whole
// read-modify-write, so writers in several threads or processes never lose
// each other's values, and replace the file atomically (temporary file,
// fsync, rename, fsync of the folder): a reader sees the old file or the
// new one, never a mixture.
#pragma once

#include <string>

#include "platform/registry.h"

namespace platform {

class PosixRegistry : public Registry {
 public:
  // The key and value that answer the program-files folder. When the store
  // holds no such value, $XDG_DATA_HOME (default ~/.local/share) answers.
  static constexpr const char* kCurrentVersionKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
  static constexpr const char* kProgramFilesValue = "ProgramFilesDir";

  // The file that holds `hive`.
  static std::string HiveFile(Hive hive);

  int ReadString(Hive hive, const std::string& key, const std::string& valueName, std::string* value) override;
  int WriteString(Hive hive, const std::string& key, const std::string& valueName, const std::string& text) override;
  int DeleteKey(Hive hive, const std::string& key) override;
};

}  // namespace platform
