// One file of the list on its way from the network to its local path: its
// attempts, the bytes kept from earlier attempts (a retry resumes after
// them), and the local file written through a buffer.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/file_system.h"
#include "update/file_list.h"

namespace update {

// The local file is written through a buffer far larger than the network's
// pieces: few, large writes. A write that comes up short fails the attempt,
// at the latest when the buffer is flushed before the size check.
class FileWriter {
 public:
  static constexpr size_t kCapacity = 1024 * 1024;

  // `sizeHint`: the most the file will receive; the buffer is no larger.
  FileWriter(std::unique_ptr<platform::File> file, uint64_t sizeHint)
      : file_(std::move(file)), capacity_(static_cast<size_t>(std::clamp<uint64_t>(sizeHint, 1, kCapacity))) {}

  // False when writing out a full buffer failed.
  bool Append(const char* data, size_t size) {
    while (size > 0) {
      if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(capacity_);
      const size_t n = std::min(size, capacity_ - used_);
      std::copy(data, data + n, buffer_.get() + used_);
      used_ += n;
      data += n;
      size -= n;
      if (used_ == capacity_ && !Flush()) return false;
    }
    return true;
  }

  bool Flush() {
    if (used_ == 0) return true;
    const bool ok = file_->Write(buffer_.get(), used_);
    used_ = 0;
    return ok;
  }

  // Flushes and closes; false when either failed.
  bool Close() {
    const bool flushed = Flush();
    return file_->Close() && flushed;
  }

 private:
  std::unique_ptr<platform::File> file_;
  const size_t capacity_;
  std::unique_ptr<char[]> buffer_;
  size_t used_ = 0;
};

struct FileFetch {
  enum class State {
    Waiting,  // its next attempt waits for room on the wire
    Running,  // an attempt is on the wire
    Done,     // the file is complete with its listed size
    Failed,   // the attempts are over without the file
  };

  size_t index = 0;  // the entry's place in the list
  const FileEntry* entry = nullptr;
  std::string path;
  uint32_t expected = 0;
  State state = State::Waiting;

  uint64_t transfer = 0;  // the attempt on the wire
  uint32_t attempts = 0;  // attempts made
  int stalls = 0;
  uint32_t attemptStartTick = 0;
  uint64_t from = 0;      // the byte the attempt asked to start at
  uint64_t kept = 0;      // bytes in the local file before this attempt
  uint32_t received = 0;  // bytes that arrived in this attempt
  uint32_t written = 0;   // of them, those that went to the file
  bool resumable = true;  // cleared once the server answered a range wrongly
  int32_t code = 0;       // final code of the last failed attempt
  int systemError = 0;    // of the last failing local file operation
  std::string why;        // the transport's word on the last failure
  std::unique_ptr<FileWriter> writer;

  uint64_t BytesDone() const { return kept + written; }
  // The bytes of the local file are given up: its writer closed, none kept.
  void StartOver() {
    if (writer) (void)writer->Close();
    writer.reset();
    kept = 0;
  }
};

}  // namespace update
