// Files and folders. Paths are in the platform's form (see path.h); relative
// paths resolve against the process's current directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// An open file. Not thread-safe; owned by whoever opened it; closed on
// destruction.
class File {
 public:
  virtual ~File() = default;
  // Reads up to `size` bytes. Returns false on a read error (then *received
  // is unspecified); true with *received = 0 at the end of the file.
  virtual bool Read(void* buffer, size_t size, size_t* received) = 0;
  // Writes all `size` bytes. Returns false on a write error or a short write.
  virtual bool Write(const void* data, size_t size) = 0;
  // The file's length in bytes, -1 when it cannot be told.
  virtual int64_t Size() = 0;
  // Makes what was written durable on the storage device (the system's
  // flush). Returns false when it could not. Blocks until done.
  virtual bool Flush() { return true; }
  // Closes the file and tells whether everything written reached it.
  // Later calls do nothing and answer true. Destruction closes a file that
  // is still open, without an answer.
  virtual bool Close() { return true; }
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opens for reading, shared with other readers only: a file that a writer
  // holds open is refused. Returns null on failure with the system's
  // message in *error (when given).
  virtual std::unique_ptr<File> OpenForRead(const std::string& path, std::string* error) = 0;
  // Creates or truncates the file for writing, exclusive of other users.
  // A symbolic link in the last place of `path` is never written through:
  // the open fails. Returns null on failure with the system's message in
  // *error.
  virtual std::unique_ptr<File> CreateForWrite(const std::string& path, std::string* error) = 0;
  virtual bool Exists(const std::string& path) = 0;
  virtual bool IsDirectory(const std::string& path) = 0;
  // True when `path` itself is a symbolic link (or, on systems that have
  // them, another kind of reparse point), whatever it points at.
  virtual bool IsLink(const std::string& path) = 0;
  // True when `path` is a folder with nothing in it.
  virtual bool IsEmptyDirectory(const std::string& path) = 0;
  // Appends the names of the entries of folder `path` (not "." and "..")
  // to *names, in no particular order. False when the folder cannot be
  // read, with the thread's last error set; *names may then hold part of
  // the list.
  virtual bool ListFolder(const std::string& path, std::vector<std::string>* names) = 0;
  // Creates the last level of `path` only. True when it was created.
  virtual bool MakeDirectory(const std::string& path) = 0;
  virtual bool ChangeCurrentDirectory(const std::string& path) = 0;
  virtual std::string CurrentDirectory() = 0;
  virtual bool RemoveFile(const std::string& path) = 0;
  // Size of the file in bytes; -1 when it does not exist or is no file.
  virtual int64_t FileSize(const std::string& path) = 0;
  // Copies a file onto `to`, overwriting it, keeping the file mode. True on
  // success; a failed copy may leave a partial `to`.
  virtual bool CopyOneFile(const std::string& from, const std::string& to) = 0;
  // Renames a file or folder, replacing an existing file `to`. True on
  // success.
  virtual bool MoveOneFile(const std::string& from, const std::string& to) = 0;
  // Lets an existing file be started as a program: a system that marks
  // programs by a permission gives the owner's execute bit; one that does
  // not has nothing to do. True on success (or nothing to do); false with
  // the thread's last error set.
  virtual bool MarkRunnable(const std::string& /*path*/) { return true; }
};

}  // namespace platform
