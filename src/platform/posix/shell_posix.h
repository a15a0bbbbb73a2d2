// Linux shell services. Special folders follow the XDG base and user
// directory conventions of the user running the installer (installations on
// Linux are per user): the programs folder is $XDG_DATA_HOME/applications,
// where desktop menus look for entries, and the desktop is the user's XDG
// desktop folder. The environment is read at every call.
//
// Tree operations work relative to open folder handles and never follow a
// symbolic link, so a link inside a tree can neither lead a delete, a copy
// nor a move outside it.
#pragma once

#include <string>

#include "platform/shell.h"

namespace platform {

// The user's home folder: $HOME, else the password database's entry, else
// "/" (never empty).
std::string HomeFolder();
// $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
std::string XdgDataHome();
// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
std::string XdgConfigHome();
// $XDG_DESKTOP_DIR when absolute; else the XDG_DESKTOP_DIR line of
// $XDG_CONFIG_HOME/user-dirs.dirs ("$HOME/..." or an absolute path); else
// ~/Desktop.
std::string XdgDesktopFolder();

class PosixShell : public Shell {
 public:
  std::string SpecialFolderPath(SpecialFolder folder) override;
  // Folders without the owner's write permission are given it before their
  // contents are deleted, as a delete on Windows removes read-only entries.
  int DeleteTree(const std::string& path, bool contentsOnly) override;
  // Symbolic links are copied as links. File times are kept as well as
  // modes. A destination file that is read-only or is a link is replaced.
  // An entry that is neither file, folder nor link is skipped with ENOTSUP.
  int CopyTree(const std::string& from, const std::string& to) override;
  // Files and links are renamed into place (rename(2) replaces the target
  // in one step); folders are made as CopyTree makes them and filled
  // entry by entry, then removed from `from` once empty. An entry that
  // cannot be renamed because it lies on another file system (EXDEV) is
  // copied instead and stays in `from`.
  int MoveTree(const std::string& from, const std::string& to) override;
};

}  // namespace platform
