// Shortcuts on Windows: shell links (".lnk") made with the shell's link
// object (IShellLinkA) and saved through its IPersistFile.
#pragma once

#include "platform/shortcuts.h"

namespace platform {

class Win32Shortcuts : public Shortcuts {
 public:
  // Initialises COM on the calling thread for the call (and uninitialises
  // it again when this call did the initialising). The icon location is
  // `iconPath` with index 0. The link is saved to a temporary file beside
  // `linkPath` and moved over it, so a reader sees the old link or the whole
  // new one. Returns 1 with the last error set when the link object cannot
  // be made or the link cannot be saved; no temporary file is left.
  int CreateShortcut(const std::string& linkPath, const std::string& target, const std::string& workingFolder,
                     const std::string& description, const std::optional<std::string>& iconPath) override;
};

}  // namespace platform
