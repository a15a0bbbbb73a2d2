#include <cstdlib>

#include "platform/path.h"

namespace platform {

std::string FallbackProgramFilesDir() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && *data == '/') return data;
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "") + "/.local/share";
}

std::string_view ShortcutExtension() { return ".desktop"; }

bool IsAbsolutePath(std::string_view path) { return !path.empty() && (path[0] == '/' || path[0] == '\\'); }

}  // namespace platform
