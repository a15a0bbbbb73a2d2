#include "platform/posix/shell_posix.h"

#include "platform/posix/file_copy_posix.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

namespace platform {

namespace {

bool IsAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The value of a user-dirs.dirs line such as XDG_DESKTOP_DIR="$HOME/Desktop",
// with $HOME expanded; empty when the line is not usable.
std::string UserDirsValue(const std::string& line, const std::string& name) {
  const std::string prefix = name + "=\"";
  if (line.compare(0, prefix.size(), prefix) != 0) return std::string();
  const size_t end = line.rfind('"');
  if (end == std::string::npos || end < prefix.size()) return std::string();
  std::string value = line.substr(prefix.size(), end - prefix.size());
  if (value.compare(0, 5, "$HOME") == 0 && (value.size() == 5 || value[5] == '/')) {
    value = HomeFolder() + value.substr(5);
  }
  return value.empty() || value[0] != '/' ? std::string() : WithoutTrailingSlash(value);
}

// Entry names of an open folder, without "." and "..". The folder handle
// stays open and owned by the caller.
int ListFolder(int dirFd, std::vector<std::string>* names) {
  const int copy = dup(dirFd);
  if (copy < 0) return errno;
  DIR* dir = fdopendir(copy);
  if (dir == nullptr) {
    const int error = errno;
    close(copy);
    return error;
  }
  rewinddir(dir);
  errno = 0;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(name);
  }
  const int error = errno;
  closedir(dir);
  return error;
}

void KeepFirst(int* result, int error) {
  if (*result == 0) *result = error;
}

// Deletes everything inside the open folder `dirFd`, depth first.
int DeleteContents(int dirFd) {
  struct stat self;
  if (fstat(dirFd, &self) == 0 && (self.st_mode & S_IRWXU) != S_IRWXU) {
    fchmod(dirFd, (self.st_mode & 07777) | S_IRWXU);  // best effort; unlink reports what remains
  }
  std::vector<std::string> names;
  int result = ListFolder(dirFd, &names);
  for (const std::string& name : names) {
    struct stat st;
    if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) KeepFirst(&result, errno);
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      const int child = openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child < 0) {
        KeepFirst(&result, errno);
      } else {
        KeepFirst(&result, DeleteContents(child));
        close(child);
      }
      if (unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0) KeepFirst(&result, errno);
    } else if (unlinkat(dirFd, name.c_str(), 0) != 0 && errno != ENOENT) {
      KeepFirst(&result, errno);
    }
  }
  return result;
}

int CopyLink(int fromDir, int toDir, const std::string& name, const struct stat& source) {
  std::string target(static_cast<size_t>(source.st_size) + 1, '\0');
  const ssize_t n = readlinkat(fromDir, name.c_str(), target.data(), target.size());
  if (n < 0) return errno;
  target.resize(static_cast<size_t>(n));
  struct stat existing;
  if (fstatat(toDir, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(existing.st_mode)) {
    unlinkat(toDir, name.c_str(), 0);
  }
  return symlinkat(target.c_str(), toDir, name.c_str()) == 0 ? 0 : errno;
}

// The two folders a copy starts from, so that a tree copied into itself (or
// a destination inside its source) cannot feed on its own output.
struct CopyRoots {
  struct stat from;
  struct stat to;
};

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Fills an open destination folder from an open source folder: the copy's
// or the move's walk over the entries.
using FillFolder = int (*)(int fromDir, int toDir, const CopyRoots& roots);

int CopyContents(int fromDir, int toDir, const CopyRoots& roots);
int MoveContents(int fromDir, int toDir, const CopyRoots& roots);

// Makes (or enters) the destination folder `name` and fills it from the
// source folder of that name. Copy and move make folders the same way, so
// that a moved tree ends up as a copied one would.
int EnterFolder(int fromDir, int toDir, const std::string& name, const struct stat& source, const CopyRoots& roots,
                FillFolder fill) {
  if (mkdirat(toDir, name.c_str(), (source.st_mode & 07777) | S_IRWXU) != 0 && errno != EEXIST) return errno;
  const int from = openat(fromDir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (from < 0) return errno;
  const int to = openat(toDir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (to < 0) {
    const int error = errno;
    close(from);
    return error;
  }
  int result = 0;
  struct stat target;
  if (fstat(to, &target) != 0) {
    result = errno;
  } else if (SameFile(target, source) || SameFile(target, roots.from)) {
    result = ELOOP;  // the destination is the source itself
  } else {
    result = fill(from, to, roots);
  }
  close(to);
  close(from);
  return result;
}

int CopyContents(int fromDir, int toDir, const CopyRoots& roots) {
  std::vector<std::string> names;
  int result = ListFolder(fromDir, &names);
  for (const std::string& name : names) {
    struct stat st;
    if (fstatat(fromDir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      KeepFirst(&result, errno);
    } else if (S_ISDIR(st.st_mode)) {
      if (SameFile(st, roots.to)) continue;  // the destination lies inside the source: not copied into itself
      KeepFirst(&result, EnterFolder(fromDir, toDir, name, st, roots, CopyContents));
    } else if (S_ISREG(st.st_mode)) {
      KeepFirst(&result, CopyRegularFile(fromDir, name, toDir, name, st));
    } else if (S_ISLNK(st.st_mode)) {
      KeepFirst(&result, CopyLink(fromDir, toDir, name, st));
    } else {
      KeepFirst(&result, ENOTSUP);
    }
  }
  return result;
}

// A file or a link (never what it points at) renamed over whatever non-folder
// the destination holds under its name. Across file systems it is copied, and
// so it is where only the rename is refused (a source folder without write
// permission), since the copy may still succeed there.
int MoveEntry(int fromDir, int toDir, const std::string& name, const struct stat& source) {
  if (renameat(fromDir, name.c_str(), toDir, name.c_str()) == 0) return 0;
  if (errno != EXDEV && errno != EACCES && errno != EPERM) return errno;
  return S_ISREG(source.st_mode) ? CopyRegularFile(fromDir, name, toDir, name, source) : CopyLink(fromDir, toDir, name, source);
}

int MoveContents(int fromDir, int toDir, const CopyRoots& roots) {
  std::vector<std::string> names;
  int result = ListFolder(fromDir, &names);
  for (const std::string& name : names) {
    struct stat st;
    if (fstatat(fromDir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      KeepFirst(&result, errno);
    } else if (S_ISDIR(st.st_mode)) {
      if (SameFile(st, roots.to)) continue;  // the destination lies inside the source: left where it is
      const int moved = EnterFolder(fromDir, toDir, name, st, roots, MoveContents);
      KeepFirst(&result, moved);
      // The emptied source folder goes; one that still holds entries (a
      // failure, or copies from another volume) stays without harm.
      if (moved == 0) unlinkat(fromDir, name.c_str(), AT_REMOVEDIR);
    } else if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
      KeepFirst(&result, MoveEntry(fromDir, toDir, name, st));
    } else {
      KeepFirst(&result, ENOTSUP);
    }
  }
  return result;
}

// Opens both roots (making `to` when missing) and fills `to` from `from`.
int FillTree(const std::string& from, const std::string& to, FillFolder fill) {
  // The source is never reached through a link.
  const int fromDir = open(from.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fromDir < 0) return errno;
  CopyRoots roots;
  if (fstat(fromDir, &roots.from) != 0) {
    const int error = errno;
    close(fromDir);
    return error;
  }
  if (mkdir(to.c_str(), (roots.from.st_mode & 07777) | S_IRWXU) != 0 && errno != EEXIST) {
    const int error = errno;
    close(fromDir);
    return error;
  }
  const int toDir = open(to.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (toDir < 0) {
    const int error = errno;
    close(fromDir);
    return error;
  }
  int result = 0;
  if (fstat(toDir, &roots.to) != 0) {
    result = errno;
  } else if (!SameFile(roots.from, roots.to)) {
    result = fill(fromDir, toDir, roots);
  }
  close(toDir);
  close(fromDir);
  return result;
}

int Finish(int result) {
  errno = result;
  return result;
}

}  // namespace

std::string HomeFolder() {
  const char* home = getenv("HOME");
  if (IsAbsolute(home)) return WithoutTrailingSlash(home);
  struct passwd entry;
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      IsAbsolute(found->pw_dir)) {
    return WithoutTrailingSlash(found->pw_dir);
  }
  return "/";
}

std::string XdgDataHome() {
  const char* value = getenv("XDG_DATA_HOME");
  if (IsAbsolute(value)) return WithoutTrailingSlash(value);
  return HomeFolder() + "/.local/share";
}

std::string XdgConfigHome() {
  const char* value = getenv("XDG_CONFIG_HOME");
  if (IsAbsolute(value)) return WithoutTrailingSlash(value);
  return HomeFolder() + "/.config";
}

std::string XdgDesktopFolder() {
  const char* value = getenv("XDG_DESKTOP_DIR");
  if (IsAbsolute(value)) return WithoutTrailingSlash(value);
  std::ifstream dirs(XdgConfigHome() + "/user-dirs.dirs");
  std::string line;
  while (std::getline(dirs, line)) {
    const std::string desktop = UserDirsValue(line, "XDG_DESKTOP_DIR");
    if (!desktop.empty()) return desktop;
  }
  return HomeFolder() + "/Desktop";
}

std::string PosixShell::SpecialFolderPath(SpecialFolder folder) {
  switch (folder) {
    case SpecialFolder::CommonPrograms:
      return XdgDataHome() + "/applications";
    case SpecialFolder::CommonDesktop:
      return XdgDesktopFolder();
    case SpecialFolder::ProgramFiles:
      return XdgDataHome();
  }
  return std::string();
}

int PosixShell::DeleteTree(const std::string& path, bool contentsOnly) {
  struct stat st;
  if (path.empty()) return Finish(ENOENT);
  if (lstat(path.c_str(), &st) != 0) return Finish(errno);
  if (!S_ISDIR(st.st_mode)) {
    // A file or a link named directly: a link goes, its target stays.
    if (contentsOnly) return Finish(ENOTDIR);
    return Finish(unlink(path.c_str()) == 0 ? 0 : errno);
  }
  const int dir = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return Finish(errno);
  int result = DeleteContents(dir);
  close(dir);
  if (!contentsOnly && rmdir(path.c_str()) != 0) KeepFirst(&result, errno);
  return Finish(result);
}

int PosixShell::CopyTree(const std::string& from, const std::string& to) {
  return Finish(FillTree(from, to, CopyContents));
}

int PosixShell::MoveTree(const std::string& from, const std::string& to) {
  return Finish(FillTree(from, to, MoveContents));
}

}  // namespace platform
