#include "platform/path.h"

namespace platform {

namespace {
bool IsSeparator(char c) { return c == '\\' || c == '/'; }
}  // namespace

std::string NativePath(std::string_view path) {
  std::string out(path);
  for (char& c : out) {
    if (IsSeparator(c)) c = PathSeparator();
  }
  return out;
}

bool EndsWithSeparator(std::string_view path) { return !path.empty() && IsSeparator(path.back()); }

std::string JoinPath(std::string_view folder, std::string_view relative) {
  if (folder.empty()) return NativePath(relative);
  while (!relative.empty() && IsSeparator(relative.front())) relative.remove_prefix(1);
  std::string out = NativePath(folder);
  if (!EndsWithSeparator(out)) out.push_back(PathSeparator());
  out += NativePath(relative);
  return out;
}

std::string DirectoryOf(std::string_view path) {
  const size_t cut = path.find_last_of("\\/");
  if (cut == std::string_view::npos) return {};
  return std::string(path.substr(0, cut));
}

// Windows also counts a drive with its root ("C:\..." or "C:/..."); both
// count a path that starts at a root ("\\server\share" included).
bool IsAbsolutePath(std::string_view path) {
#ifdef _WIN32
  if (path.size() >= 3 && (path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z' && path[1] == ':' &&
      IsSeparator(path[2]))
    return true;
#endif
  return !path.empty() && IsSeparator(path[0]);
}

}  // namespace platform
