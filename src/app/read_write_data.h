// Whole-buffer file access with numeric result codes: every file the
// installer reads or writes as one piece (the settings record, the language
// file, the server override, the switch files' contents) goes through here.
#pragma once

#include <cstddef>
#include <string>

#include "platform/file_system.h"

namespace app {

enum class DataResult {
  Ok = 0,
  OpenFailed = 1,   // could not be opened (read) or opened/created (write)
  ReadFailed = 2,
  WriteFailed = 3,
  NoBuffer = 4,     // no destination or data buffer was given
  NoBytes = 5,      // write of 0 bytes; the file is not created
  EmptyFile = 6,    // read: the file is empty
};

class ReadWriteData {
 public:
  static constexpr const char* kTemporarySuffix = ".new";

  // `files` is not owned and must outlive this object.
  explicit ReadWriteData(platform::FileSystem& files) : files_(files) {}

  // Reads up to `size` bytes of `path` into `buffer` (size 0: the whole
  // file; the buffer must then hold the file's length). When fewer bytes than
  // `size` but at least one were read, the rest of the buffer up to `size` is
  // zeroed. Stores the count in *bytesRead when given (0 on failure).
  // Opens the file shared with readers only. Blocks on file I/O.
  [[nodiscard]] DataResult ReadData(const std::string& path, void* buffer, size_t size, size_t* bytesRead) const;

  // Replaces `path` with `size` bytes of `data`, atomically: the bytes go
  // to `path` + kTemporarySuffix, are flushed, and that file is renamed
  // over `path`. On failure `path` is as it was and the temporary is gone.
  [[nodiscard]] DataResult WriteData(const std::string& path, const void* data, size_t size) const;

  platform::FileSystem& Files() const { return files_; }

 private:
  platform::FileSystem& files_;
};

}  // namespace app
