#include "platform/posix/file_copy_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <vector>

namespace platform {

namespace {

int CopyBytes(int from, int to) {
  // copy_file_range lets the file system share or copy blocks in the
  // kernel; read/write serves where it is not offered.
  for (;;) {
    const ssize_t n = copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
    if (n == 0) return 0;
    if (n > 0) continue;
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) break;
    return errno;
  }
  std::vector<char> buffer(256 * 1024);
  for (;;) {
    const ssize_t n = read(from, buffer.data(), buffer.size());
    if (n == 0) return 0;
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = write(to, buffer.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return w < 0 ? errno : EIO;
      done += w;
    }
  }
}

// Opens the destination file for writing without following a link and
// without truncating yet, replacing a read-only file or a link.
int OpenDestination(int toDir, const std::string& name, mode_t mode) {
  const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
  int fd = openat(toDir, name.c_str(), flags, mode | S_IWUSR);
  if (fd < 0 && (errno == EACCES || errno == ELOOP || errno == EPERM)) {
    if (unlinkat(toDir, name.c_str(), 0) == 0) fd = openat(toDir, name.c_str(), flags, mode | S_IWUSR);
  }
  return fd;
}

}  // namespace

int CopyRegularFile(int fromDir, const std::string& fromName, int toDir, const std::string& toName,
                    const struct stat& source, bool followSourceLink) {
  const int in = openat(fromDir, fromName.c_str(), O_RDONLY | O_CLOEXEC | (followSourceLink ? 0 : O_NOFOLLOW));
  if (in < 0) return errno;
  const int out = OpenDestination(toDir, toName, source.st_mode & 07777);
  if (out < 0) {
    const int error = errno;
    close(in);
    return error;
  }
  int result = 0;
  struct stat target;
  if (fstat(out, &target) != 0) {
    result = errno;
  } else if (target.st_dev == source.st_dev && target.st_ino == source.st_ino) {
    result = 0;  // the file onto itself: truncating it would destroy it
  } else if (ftruncate(out, 0) != 0) {
    result = errno;
  } else {
    result = CopyBytes(in, out);
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    if (result == 0 && fchmod(out, source.st_mode & 07777) != 0) result = errno;
    if (result == 0) futimens(out, times);  // times are a courtesy; their failure is not the copy's
  }
  if (close(out) != 0 && result == 0) result = errno;
  close(in);
  return result;
}

}  // namespace platform
