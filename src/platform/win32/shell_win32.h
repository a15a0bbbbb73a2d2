// Windows shell services: special folders from the shell, and the folder
// tree operations as a walk of FindFirstFileA/FindNextFileA. The shell's own
// file operation is not used for the trees: copying a folder that holds a
// single entry to a missing target copies that entry as the target, and its
// results are its own codes rather than system errors.
//
// A junction or symbolic link inside a tree is never followed: a delete
// removes the link itself, a copy or a move skips it with
// ERROR_NOT_SUPPORTED.
#pragma once

#include "platform/shell.h"

namespace platform {

class Win32Shell : public Shell {
 public:
  // SHGetFolderPathA with the folder's CSIDL.
  std::string SpecialFolderPath(SpecialFolder folder) override;
  // Read-only entries are made writable before they are deleted. A current
  // directory inside the deleted tree moves to the tree's parent, since
  // Windows cannot remove a folder that is a current directory.
  int DeleteTree(const std::string& path, bool contentsOnly) override;
  // CopyFileA per file, existing targets overwritten (read-only ones made
  // writable first); file attributes and times come along with CopyFileA.
  int CopyTree(const std::string& from, const std::string& to) override;
  // MoveFileExA per file with MOVEFILE_REPLACE_EXISTING and
  // MOVEFILE_COPY_ALLOWED; folders are made in `to` and removed from `from`
  // once emptied.
  int MoveTree(const std::string& from, const std::string& to) override;
};

}  // namespace platform
