#include "platform/posix/posix_file_system.h"

#include "platform/posix/file_copy_posix.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace platform {

namespace {

// Writes all of `data`; false on an error or when nothing more can be
// written (a full disk shows as a short write).
bool WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

class PosixFile : public File {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override {
    if (fd_ >= 0) close(fd_);
  }

  bool Flush() override { return fd_ >= 0 && fsync(fd_) == 0; }

  bool Close() override {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

  bool Read(void* buffer, size_t size, size_t* received) override {
    for (;;) {
      const ssize_t n = read(fd_, buffer, size);
      if (n >= 0) {
        *received = static_cast<size_t>(n);
        return true;
      }
      if (errno != EINTR) return false;
    }
  }

  bool Write(const void* data, size_t size) override { return WriteAll(fd_, data, size); }

  int64_t Size() override {
    struct stat st;
    if (fstat(fd_, &st) != 0) return -1;
    return st.st_size;
  }

 private:
  int fd_;
};

void SetError(std::string* error, int code) {
  if (error) *error = std::strerror(code);
}

// Opens `path` and takes the advisory lock of `lockKind` without waiting.
// A writer truncates only once it holds the lock, so that a reader holding
// the file is never handed an emptied file.
std::unique_ptr<File> OpenLocked(const std::string& path, int flags, int lockKind, bool truncate, std::string* error) {
  const int fd = open(path.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) {
    SetError(error, errno);
    return nullptr;
  }
  if (flock(fd, lockKind | LOCK_NB) != 0) {
    const int code = errno;
    close(fd);
    SetError(error, code);
    return nullptr;
  }
  // An empty file is left as it is: on ext4 truncating even an empty file
  // makes the close that follows write the new content out at once, which
  // costs a large download a noticeable pause.
  struct stat st;
  if (truncate && (fstat(fd, &st) != 0 || st.st_size != 0) && ftruncate(fd, 0) != 0) {
    const int code = errno;
    close(fd);
    SetError(error, code);
    return nullptr;
  }
  return std::make_unique<PosixFile>(fd);
}

}  // namespace

std::unique_ptr<File> PosixFileSystem::OpenForRead(const std::string& path, std::string* error) {
  return OpenLocked(path, O_RDONLY, LOCK_SH, false, error);
}

std::unique_ptr<File> PosixFileSystem::CreateForWrite(const std::string& path, std::string* error) {
  return OpenLocked(path, O_WRONLY | O_CREAT | O_NOFOLLOW, LOCK_EX, true, error);
}

bool PosixFileSystem::Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

bool PosixFileSystem::IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PosixFileSystem::IsLink(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool PosixFileSystem::IsEmptyDirectory(const std::string& path) {
  DIR* dir = opendir(path.c_str());
  if (!dir) return false;
  bool empty = true;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") {
      empty = false;
      break;
    }
  }
  closedir(dir);
  return empty;
}

bool PosixFileSystem::ListFolder(const std::string& path, std::vector<std::string>* names) {
  DIR* dir = opendir(path.c_str());
  if (!dir) return false;
  errno = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(name);
  }
  const int error = errno;
  closedir(dir);
  errno = error;
  return error == 0;
}

bool PosixFileSystem::MakeDirectory(const std::string& path) { return mkdir(path.c_str(), 0755) == 0; }

bool PosixFileSystem::ChangeCurrentDirectory(const std::string& path) { return chdir(path.c_str()) == 0; }

std::string PosixFileSystem::CurrentDirectory() {
  char path[PATH_MAX + 1] = {};
  if (!getcwd(path, PATH_MAX)) return {};
  return path;
}

bool PosixFileSystem::RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

int64_t PosixFileSystem::FileSize(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

bool PosixFileSystem::CopyOneFile(const std::string& from, const std::string& to) {
  struct stat st;
  if (stat(from.c_str(), &st) != 0) return false;
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return false;
  }
  const int code = CopyRegularFile(AT_FDCWD, from, AT_FDCWD, to, st, true);
  if (code != 0) errno = code;
  return code == 0;
}

bool PosixFileSystem::MoveOneFile(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

bool PosixFileSystem::MarkRunnable(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return false;
  if ((info.st_mode & S_IXUSR) != 0) return true;
  return chmod(path.c_str(), (info.st_mode & 07777) | S_IXUSR) == 0;
}

}  // namespace platform
