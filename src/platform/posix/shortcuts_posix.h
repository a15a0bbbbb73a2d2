// Shortcuts on Linux: freedesktop desktop entries. A shortcut is a
// ".desktop" file of type Application whose Exec line starts the target in
// its working folder (Path), with the description as Comment and the icon
// file as Icon; desktop menus read them from $XDG_DATA_HOME/applications
// and file managers from the desktop folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/shortcuts.h"

namespace platform {

// A value of type string as a desktop entry stores it: "\" doubled, line
// breaks, tabs and carriage returns written as "\n", "\t" and "\r", and a
// leading space as "\s".
std::string DesktopStringValue(std::string_view text);

// The Exec value that starts `program` with no arguments: the path quoted
// as one argument ("\"", "`", "$" and "\" escaped by a backslash inside the
// quotes), "%" doubled so that no field code is expanded, then stored as a
// string value (DesktopStringValue).
std::string DesktopExecValue(std::string_view program);

// The whole desktop entry text for one shortcut; Name is the link file's
// name without its folder and its last extension. No Icon line without
// `iconPath`.
std::string DesktopEntryText(const std::string& linkPath, const std::string& target,
                             const std::string& workingFolder, const std::string& description,
                             const std::optional<std::string>& iconPath);

class PosixShortcuts : public Shortcuts {
 public:
  // Writes DesktopEntryText to a temporary file beside `linkPath`, flushes
  // it to disk, gives it the modes 0755 (some desktops launch only entries
  // marked executable) and renames it over `linkPath`, so a reader sees the
  // old entry or the whole new one. The folder must exist. Returns 1 with
  // errno set on failure; no temporary file is left behind.
  int CreateShortcut(const std::string& linkPath, const std::string& target, const std::string& workingFolder,
                     const std::string& description, const std::optional<std::string>& iconPath) override;
};

}  // namespace platform
