// Shortcuts: the Start-menu entries and the desktop shortcut of an
// installation. On Windows these are shell links (".lnk"); on Linux they are
// freedesktop desktop entries (".desktop") with the same fields.
#pragma once

#include <optional>
#include <string>

namespace platform {

class Shortcuts {
 public:
  virtual ~Shortcuts() = default;
  // Writes the shortcut file `linkPath` that starts `target` in
  // `workingFolder`, described by `description`, with the icon file
  // `iconPath` when given. Returns 0 on success, 1 on failure (the calling
  // thread's last error then tells why). Blocks on file I/O; main thread.
  [[nodiscard]] virtual int CreateShortcut(const std::string& linkPath, const std::string& target,
                                           const std::string& workingFolder, const std::string& description,
                                           const std::optional<std::string>& iconPath) = 0;
};

}  // namespace platform
