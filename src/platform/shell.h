// Shell services: the special folders that hold shortcuts, and the silent
// recursive delete, copy and move of folder trees. Paths are in the platform's
// form (see path.h).
#pragma once

#include <string>

namespace platform {

// Special folder ids, with the system's numbers.
enum class SpecialFolder : int {
  CommonPrograms = 23,  // the all-users Start-menu programs folder
  CommonDesktop = 25,   // the all-users desktop folder
  // The program-files folder: "C:\Program Files" on Windows; the user's
  // data folder ($XDG_DATA_HOME, default ~/.local/share) on Linux, where
  // installations are per user.
  ProgramFiles = 38,
};

// All calls block until done and are safe from any thread. Results are 0 on
// success, otherwise the system's error code (Win32 error, errno on POSIX);
// the calling thread's last error then holds the same code.
class Shell {
 public:
  virtual ~Shell() = default;
  // The file-system path of a special folder, no trailing separator. Never
  // fails visibly: an unknown id answers an empty text. Does not create the
  // folder.
  virtual std::string SpecialFolderPath(SpecialFolder folder) = 0;
  // Deletes `path` with everything below it, or only everything inside it
  // when `contentsOnly` is true (the folder itself stays). Symbolic links are
  // removed as links; nothing outside the tree is touched. A missing path
  // answers an error code (and changes nothing). Everything that can be
  // deleted is deleted even when one entry fails; the first failure's code
  // is returned.
  [[nodiscard]] virtual int DeleteTree(const std::string& path, bool contentsOnly) = 0;
  // Copies the contents of folder `from` into folder `to`, recursively:
  // folders are created as needed, existing files overwritten, file modes
  // kept. `to` is created when missing (its parent must exist). Returns 0
  // or the first failure's code; the copy goes on past a failing entry.
  [[nodiscard]] virtual int CopyTree(const std::string& from, const std::string& to) = 0;
  // Moves the contents of folder `from` into folder `to`, with the contract
  // of CopyTree: folders merged, existing files replaced, modes kept, `to`
  // created when missing, the first failure's code returned and the move
  // going on past a failing entry. The end state of `to` is the one CopyTree
  // leaves; `from` may be left partly or fully emptied. Entries are moved
  // where the system can, and copied where it cannot (another volume). The
  // default copies every entry, which meets the contract on any system.
  [[nodiscard]] virtual int MoveTree(const std::string& from, const std::string& to) { return CopyTree(from, to); }
};

}  // namespace platform
