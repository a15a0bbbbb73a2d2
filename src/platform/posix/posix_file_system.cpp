#include "platform/posix/posix_file_system.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace platform {

namespace {

class PosixFile : public File {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { close(fd_); }

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

  bool Write(const void* data, size_t size) override {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      const ssize_t n = write(fd_, p, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      p += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }

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
  if (truncate && ftruncate(fd, 0) != 0) {
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
  return OpenLocked(path, O_WRONLY | O_CREAT, LOCK_EX, true, error);
}

bool PosixFileSystem::Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

bool PosixFileSystem::IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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

bool PosixFileSystem::CreateDirectory(const std::string& path) { return mkdir(path.c_str(), 0755) == 0; }

bool PosixFileSystem::SetCurrentDirectory(const std::string& path) { return chdir(path.c_str()) == 0; }

std::string PosixFileSystem::CurrentDirectory() {
  char path[PATH_MAX + 1] = {};
  if (!getcwd(path, PATH_MAX)) return {};
  return path;
}

bool PosixFileSystem::DeleteFile(const std::string& path) { return unlink(path.c_str()) == 0; }

}  // namespace platform
