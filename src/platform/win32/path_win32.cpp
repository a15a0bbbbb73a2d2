#include "platform/path.h"

namespace platform {

std::string FallbackProgramFilesDir() { return "C:\\Program Files"; }

std::string_view ShortcutExtension() { return ".lnk"; }

// "C:\..." or "C:/..." (a drive with its root), "\\server\share" or any
// other path that starts at a root.
bool IsAbsolutePath(std::string_view path) {
  const auto separator = [](char c) { return c == '\\' || c == '/'; };
  if (path.size() >= 3 && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' && separator(path[2]))
    return true;
  return !path.empty() && separator(path[0]);
}

}  // namespace platform
