// stamp <executable> <KEY> <value>
//
// Writes one value into the stamped parameter block of a built installer,
// the way the download site personalises each copy. The file keeps its
// length and every key its offset. Anything doubtful (unknown key, a value
// longer than its slot, no block or more than one) is refused with a message
// on stderr and a non-zero exit, and the file is left byte for byte as it
// was. The new file replaces the old one in a single rename, so a reader
// never sees a half-stamped installer.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "stamp_block.h"

namespace {

constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

int Refuse(const std::string& file, const std::string& why) {
  std::fprintf(stderr, "stamp: %s: %s; the file is left unchanged\n", file.c_str(), why.c_str());
  return kExitRefused;
}

std::string SystemError(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

std::string KnownKeys() {
  std::string keys;
  for (size_t i = 0; i < app::kStampedSlotCount; ++i) {
    if (!keys.empty()) keys += ", ";
    keys += stamp::SlotName(static_cast<app::StampedSlot>(i));
  }
  return keys;
}

bool ReadAll(int fd, std::vector<unsigned char>& bytes) {
  unsigned char chunk[65536];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
}

bool WriteAll(int fd, const std::vector<unsigned char>& bytes) {
  const unsigned char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

// Writes `bytes` to a new file beside `path` with `mode`, flushes it to
// disk and renames it over `path`. Returns an empty text on success, else
// what failed; the temporary file is removed on failure.
std::string ReplaceFile(const std::string& path, const std::vector<unsigned char>& bytes, mode_t mode) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temp = folder + "/." + base + ".stamp-XXXXXX";

  const int fd = mkstemp(temp.data());
  if (fd < 0) return SystemError("cannot create a temporary file in the executable's folder");
  std::string failure;
  if (!WriteAll(fd, bytes)) {
    failure = SystemError("cannot write the temporary file");
  } else if (fchmod(fd, mode) != 0) {
    failure = SystemError("cannot give the temporary file the executable's mode");
  } else if (fsync(fd) != 0) {
    failure = SystemError("cannot flush the temporary file");
  }
  if (close(fd) != 0 && failure.empty()) failure = SystemError("cannot close the temporary file");
  if (failure.empty() && rename(temp.c_str(), path.c_str()) != 0) failure = SystemError("cannot replace the file");
  if (!failure.empty()) {
    unlink(temp.c_str());
    return failure;
  }
  // Make the rename itself durable.
  const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: stamp <executable> <KEY> <value>\n  KEY is one of %s\n", KnownKeys().c_str());
    return kExitUsage;
  }
  const std::string file = argv[1];
  const std::string keyName = argv[2];
  const std::string value = argv[3];

  const std::optional<app::StampedSlot> slot = stamp::SlotByName(keyName);
  if (!slot) return Refuse(file, "unknown key \"" + keyName + "\" (known keys: " + KnownKeys() + ")");
  // The application and launcher names become folder, file and process
  // names: an empty one would make the install folder the data folder
  // itself, and a separator or a control character would leave it.
  if (*slot == app::StampedSlot::AName || *slot == app::StampedSlot::EName) {
    if (value.empty()) return Refuse(file, "the " + keyName + " value may not be empty");
    for (unsigned char c : value) {
      if (c == '/' || c == '\\' || c == ':' || c < 0x20 || c == 0x7F) {
        return Refuse(file, "the " + keyName + " value may not hold path separators, \":\" or control characters");
      }
    }
    if (value == "." || value == "..") return Refuse(file, "the " + keyName + " value may not be \".\" or \"..\"");
  }
  const size_t capacity = app::SlotLayout(*slot).capacity;
  if (value.size() > capacity) {
    return Refuse(file, "the value has " + std::to_string(value.size()) + " characters, the " + keyName +
                            " slot holds at most " + std::to_string(capacity));
  }

  // Stamp the file itself when given a symbolic link, and keep the link.
  char resolved[PATH_MAX];
  if (!realpath(file.c_str(), resolved)) return Refuse(file, SystemError("cannot find the file"));
  const std::string path = resolved;

  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Refuse(file, SystemError("cannot open the file"));
  struct stat st {};
  std::vector<unsigned char> bytes;
  std::string readFailure;
  if (fstat(fd, &st) != 0) {
    readFailure = SystemError("cannot examine the file");
  } else if (!S_ISREG(st.st_mode)) {
    readFailure = "not a regular file";
  } else if (!ReadAll(fd, bytes)) {
    readFailure = SystemError("cannot read the file");
  }
  close(fd);
  if (!readFailure.empty()) return Refuse(file, readFailure);

  const std::vector<size_t> blocks = stamp::FindBlocks(bytes);
  if (blocks.empty()) return Refuse(file, "no stamped parameter block found");
  if (blocks.size() > 1) {
    return Refuse(file, "the stamped parameter block was found " + std::to_string(blocks.size()) +
                            " times; which one the program reads is unknown");
  }

  stamp::WriteSlot(bytes, blocks.front(), *slot, value);
  const std::string failure = ReplaceFile(path, bytes, st.st_mode & 07777);
  if (!failure.empty()) return Refuse(file, failure);
  return 0;
}
