#include "platform/posix/registry_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/shell_posix.h"

namespace platform {

namespace {

constexpr const char* kMagic = "websetup-registry";
constexpr int kFormatVersion = 1;

struct Value {
  std::string name;
  std::string data;
};

struct Key {
  std::string name;
  std::vector<Value> values;
};

// One hive as held in its file, in the order entries were first written.
struct Store {
  std::vector<Key> keys;
};

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

Key* FindKey(Store* store, const std::string& name) {
  for (Key& key : store->keys) {
    if (EqualNoCase(key.name, name)) return &key;
  }
  return nullptr;
}

Value* FindValue(Key* key, const std::string& name) {
  for (Value& value : key->values) {
    if (EqualNoCase(value.name, name)) return &value;
  }
  return nullptr;
}

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}

uint32_t Crc32(const std::string& data) {
  static constexpr std::array<uint32_t, 256> kTable = MakeCrcTable();
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : data) crc = kTable[(crc ^ c) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

bool NeedsEscape(unsigned char c) { return c < 0x20 || c == 0x7F || c == '%' || c == '=' || c == '[' || c == ']'; }

std::string Escape(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (NeedsEscape(c)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool Unescape(const std::string& text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c != '%') {
      if (NeedsEscape(c)) return false;  // a character the writer always escapes
      *out += static_cast<char>(c);
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = HexDigit(text[i + 1]);
    const int low = HexDigit(text[i + 2]);
    if (high < 0 || low < 0) return false;
    *out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

std::string Serialize(const Store& store) {
  std::string body;
  for (const Key& key : store.keys) {
    body += "[" + Escape(key.name) + "]\n";
    for (const Value& value : key.values) body += Escape(value.name) + "=" + Escape(value.data) + "\n";
  }
  char header[96];
  snprintf(header, sizeof header, "%s %d %zu %08x\n", kMagic, kFormatVersion, body.size(),
           static_cast<unsigned>(Crc32(body)));
  return header + body;
}

// Parses a whole file. Returns false with the reason when the file is not
// exactly what Serialize writes.
bool Parse(const std::string& content, Store* store, std::string* reason) {
  const size_t headerEnd = content.find('\n');
  if (headerEnd == std::string::npos) {
    *reason = content.empty() ? "the file is empty" : "the header line is incomplete";
    return false;
  }
  char magic[32] = {};
  int version = 0;
  size_t length = 0;
  unsigned crc = 0;
  int used = 0;
  const std::string header = content.substr(0, headerEnd);
  if (sscanf(header.c_str(), "%31s %d %zu %8x%n", magic, &version, &length, &crc, &used) != 4 ||
      static_cast<size_t>(used) != header.size() || std::string(magic) != kMagic) {
    *reason = "the header line is not a registry store's";
    return false;
  }
  if (version != kFormatVersion) {
    *reason = "unknown format version " + std::to_string(version);
    return false;
  }
  const std::string body = content.substr(headerEnd + 1);
  if (body.size() != length) {
    *reason = "the body has " + std::to_string(body.size()) + " bytes where the header names " + std::to_string(length);
    return false;
  }
  if (Crc32(body) != crc) {
    *reason = "the checksum does not match";
    return false;
  }
  Key* current = nullptr;
  size_t lineNumber = 1;
  for (size_t start = 0; start < body.size(); ++lineNumber) {
    const size_t end = body.find('\n', start);
    if (end == std::string::npos) {
      *reason = "the last line has no line end";
      return false;
    }
    const std::string line = body.substr(start, end - start);
    start = end + 1;
    std::string name;
    std::string data;
    bool ok = false;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      ok = Unescape(line.substr(1, line.size() - 2), &name);
      if (ok) {
        current = FindKey(store, name);
        if (current == nullptr) {
          store->keys.push_back({name, {}});
          current = &store->keys.back();
        }
      }
    } else if (const size_t eq = line.find('='); eq != std::string::npos && current != nullptr) {
      ok = Unescape(line.substr(0, eq), &name) && Unescape(line.substr(eq + 1), &data);
      if (ok) {
        if (Value* existing = FindValue(current, name)) {
          existing->data = data;
        } else {
          current->values.push_back({name, data});
        }
      }
    }
    if (!ok) {
      *reason = "line " + std::to_string(lineNumber + 1) + " is not a key or value record";
      return false;
    }
  }
  return true;
}

void ReportDamage(const std::string& path, const std::string& reason, bool goodCopy) {
  fprintf(stderr, "websetup: registry store %s is damaged (%s); %s\n", path.c_str(), reason.c_str(),
          goodCopy ? "its last good copy is used" : "it is left as it is");
}

// The copy of the hive file as it stood after the last successful save.
std::string GoodCopyOf(const std::string& path) { return path + ".good"; }

int ReadWholeFile(const std::string& path, std::string* content) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  char buffer[16384];
  int result = 0;
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      content->append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      result = errno;
      break;
    }
  }
  close(fd);
  return result;
}

// Loads the hive file: 0 with the store (empty when there is no file), the
// system's code when it cannot be read, EBADMSG when it is damaged.
// A damaged file is replaced in reading by its last good copy when that
// copy checks out.
int LoadStore(const std::string& path, Store* store) {
  std::string content;
  const int error = ReadWholeFile(path, &content);
  if (error == ENOENT) return 0;
  if (error != 0) return error;
  std::string reason;
  if (Parse(content, store, &reason)) return 0;
  std::string copy;
  std::string ignored;
  *store = Store{};
  const bool good = ReadWholeFile(GoodCopyOf(path), &copy) == 0 && Parse(copy, store, &ignored);
  ReportDamage(path, reason, good);
  if (good) return 0;
  *store = Store{};
  return EBADMSG;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Creates `folder` and its missing parents, private to the user.
int MakeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    if (slash == std::string::npos) return 0;
  }
}

int WriteAll(int fd, const std::string& data) {
  for (size_t done = 0; done < data.size();) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    done += static_cast<size_t>(n);
  }
  return 0;
}

// Replaces `path` with `content`: temporary file, fsync, rename, fsync of
// the folder. Called with the write lock held, so the temporary name is
// the writer's alone.
int ReplaceFile(const std::string& path, const std::string& content) {
  const std::string temporary = path + ".new";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return errno;
  int result = WriteAll(fd, content);
  if (result == 0 && fsync(fd) != 0) result = errno;
  if (close(fd) != 0 && result == 0) result = errno;
  if (result == 0 && rename(temporary.c_str(), path.c_str()) != 0) result = errno;
  if (result != 0) {
    unlink(temporary.c_str());
    return result;
  }
  const int folder = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return errno;
  if (fsync(folder) != 0) result = errno;
  close(folder);
  return result;
}

// Saves the hive file and then its last good copy, each replaced
// atomically: at any moment at least one of them is whole.
int SaveStore(const std::string& path, const Store& store) {
  const std::string content = Serialize(store);
  const int result = ReplaceFile(path, content);
  if (result != 0) return result;
  return ReplaceFile(GoodCopyOf(path), content);
}

// The exclusive lock of one hive for the length of a read-modify-write.
class WriteLock {
 public:
  explicit WriteLock(const std::string& hiveFile) {
    error_ = MakeFolders(FolderOf(hiveFile));
    if (error_ != 0) return;
    fd_ = open((hiveFile + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
      error_ = errno;
      return;
    }
    while (flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        error_ = errno;
        return;
      }
    }
  }
  ~WriteLock() {
    if (fd_ >= 0) close(fd_);  // closing releases the lock
  }
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

  int error() const { return error_; }

 private:
  int fd_ = -1;
  int error_ = 0;
};

int Finish(int result) {
  errno = result;
  return result;
}

}  // namespace

std::string PosixRegistry::HiveFile(Hive hive) {
  return hive == Hive::LocalMachine ? XdgDataHome() + "/websetup/registry-machine"
                                    : XdgConfigHome() + "/websetup/registry-user";
}

int PosixRegistry::ReadString(Hive hive, const std::string& key, const std::string& valueName, std::string* value) {
  Store store;
  const int error = LoadStore(HiveFile(hive), &store);
  if (error != 0) return Finish(error);
  Key* found = FindKey(&store, key);
  Value* entry = found == nullptr ? nullptr : FindValue(found, valueName);
  if (entry != nullptr) {
    *value = entry->data;
    return Finish(kRegistryOk);
  }
  if (hive == Hive::LocalMachine && EqualNoCase(key, kCurrentVersionKey) && EqualNoCase(valueName, kProgramFilesValue)) {
    *value = XdgDataHome();
    return Finish(kRegistryOk);
  }
  return Finish(kRegistryNotFound);
}

int PosixRegistry::WriteString(Hive hive, const std::string& key, const std::string& valueName,
                               const std::string& text) {
  const std::string path = HiveFile(hive);
  WriteLock lock(path);
  if (lock.error() != 0) return Finish(lock.error());
  Store store;
  if (const int error = LoadStore(path, &store); error != 0) return Finish(error);
  Key* found = FindKey(&store, key);
  if (found == nullptr) {
    store.keys.push_back({key, {}});
    found = &store.keys.back();
  }
  if (Value* entry = FindValue(found, valueName)) {
    entry->data = text;
  } else {
    found->values.push_back({valueName, text});
  }
  return Finish(SaveStore(path, store));
}

int PosixRegistry::DeleteKey(Hive hive, const std::string& key) {
  const std::string path = HiveFile(hive);
  // Without a store there is nothing to delete, and nothing is created.
  if (access(path.c_str(), F_OK) != 0 && errno == ENOENT) return Finish(kRegistryNotFound);
  WriteLock lock(path);
  if (lock.error() != 0) return Finish(lock.error());
  Store store;
  if (const int error = LoadStore(path, &store); error != 0) return Finish(error);
  for (auto it = store.keys.begin(); it != store.keys.end(); ++it) {
    if (EqualNoCase(it->name, key)) {
      store.keys.erase(it);
      return Finish(SaveStore(path, store));
    }
  }
  return Finish(kRegistryNotFound);
}

}  // namespace platform
