#include "platform/posix/shortcuts_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace platform {

namespace {

// Name of the link file without folder and without its last extension.
std::string EntryName(const std::string& linkPath) {
  const size_t slash = linkPath.find_last_of('/');
  std::string name = slash == std::string::npos ? linkPath : linkPath.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Removes the temporary file without losing the errno of the failure.
int FailAndRemove(int fd, const std::string& tempPath) {
  const int error = errno;
  if (fd >= 0) close(fd);
  unlink(tempPath.c_str());
  errno = error;
  return 1;
}

}  // namespace

std::string DesktopStringValue(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case ' ': out += i == 0 ? "\\s" : " "; break;
      default: out.push_back(c);
    }
  }
  return out;
}

std::string DesktopExecValue(std::string_view program) {
  std::string quoted = "\"";
  for (const char c : program) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted.push_back('\\');
    if (c == '%') quoted.push_back('%');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  return DesktopStringValue(quoted);
}

std::string DesktopEntryText(const std::string& linkPath, const std::string& target,
                             const std::string& workingFolder, const std::string& description,
                             const std::optional<std::string>& iconPath) {
  std::string text = "[Desktop Entry]\nType=Application\n";
  text += "Name=" + DesktopStringValue(EntryName(linkPath)) + "\n";
  text += "Comment=" + DesktopStringValue(description) + "\n";
  text += "Exec=" + DesktopExecValue(target) + "\n";
  text += "Path=" + DesktopStringValue(workingFolder) + "\n";
  if (iconPath) text += "Icon=" + DesktopStringValue(*iconPath) + "\n";
  text += "Terminal=false\n";
  return text;
}

int PosixShortcuts::CreateShortcut(const std::string& linkPath, const std::string& target,
                                   const std::string& workingFolder, const std::string& description,
                                   const std::optional<std::string>& iconPath) {
  const std::string text = DesktopEntryText(linkPath, target, workingFolder, description, iconPath);
  std::vector<char> tempPath(linkPath.begin(), linkPath.end());
  const std::string suffix = ".XXXXXX";
  tempPath.insert(tempPath.end(), suffix.begin(), suffix.end());
  tempPath.push_back('\0');
  const int fd = mkostemp(tempPath.data(), O_CLOEXEC);
  if (fd < 0) return 1;
  const std::string temp(tempPath.data());
  if (!WriteAll(fd, text) || fsync(fd) != 0 || fchmod(fd, 0755) != 0) return FailAndRemove(fd, temp);
  if (close(fd) != 0) return FailAndRemove(-1, temp);
  if (rename(temp.c_str(), linkPath.c_str()) != 0) return FailAndRemove(-1, temp);
  return 0;
}

}  // namespace platform
