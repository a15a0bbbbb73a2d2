#include "app/read_write_data.h"

#include <cstdint>
#include <cstring>
#include <memory>

namespace app {

namespace {

// Reads until `size` bytes are in or the file ends; the file layer may hand
// back less than asked for on one call. False on a read error.
bool ReadFully(platform::File& file, unsigned char* buffer, size_t size, size_t* received) {
  size_t total = 0;
  while (total < size) {
    size_t n = 0;
    if (!file.Read(buffer + total, size - total, &n)) return false;
    if (n == 0) break;
    total += n;
  }
  *received = total;
  return true;
}

}  // namespace

DataResult ReadWriteData::ReadData(const std::string& path, void* buffer, size_t size, size_t* bytesRead) const {
  if (bytesRead) *bytesRead = 0;
  if (buffer == nullptr) return DataResult::NoBuffer;

  std::unique_ptr<platform::File> file = files_.OpenForRead(path, nullptr);
  if (!file) return DataResult::OpenFailed;

  if (size == 0) {
    const int64_t length = file->Size();
    if (length < 0) return DataResult::ReadFailed;
    if (length == 0) return DataResult::EmptyFile;
    size = static_cast<size_t>(length);
  }

  unsigned char* bytes = static_cast<unsigned char*>(buffer);
  size_t received = 0;
  if (!ReadFully(*file, bytes, size, &received)) return DataResult::ReadFailed;
  if (received == 0) return DataResult::EmptyFile;
  // A short file leaves a defined buffer: everything after its content is zero.
  if (received < size) std::memset(bytes + received, 0, size - received);
  if (bytesRead) *bytesRead = received;
  return DataResult::Ok;
}

DataResult ReadWriteData::WriteData(const std::string& path, const void* data, size_t size) const {
  if (data == nullptr) return DataResult::NoBuffer;
  // Checked before the file is opened, so a write of nothing creates nothing.
  if (size == 0) return DataResult::NoBytes;

  // Written beside the file and renamed over it once it is complete and
  // flushed: a kill or a full disk leaves the old file or the new one,
  // never an emptied or partial one.
  // A file that a writer holds open is not replaced under it.
  std::unique_ptr<platform::File> held;
  if (files_.Exists(path) && !(held = files_.OpenForRead(path, nullptr))) return DataResult::OpenFailed;
  const std::string temporary = path + kTemporarySuffix;
  std::unique_ptr<platform::File> file = files_.CreateForWrite(temporary, nullptr);
  if (!file) return DataResult::OpenFailed;
  const bool written = file->Write(data, size) && file->Flush();
  // Let go of the old file before it is replaced: Windows refuses to
  // rename over a file that is open, even one open for reading only.
  held.reset();
  if (!file->Close() || !written || !files_.MoveOneFile(temporary, path)) {
    files_.RemoveFile(temporary);
    return DataResult::WriteFailed;
  }
  return DataResult::Ok;
}

}  // namespace app
