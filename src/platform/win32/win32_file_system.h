// Files and folders on Windows, through the ANSI file calls. A reader
// shares the file with other readers only and a writer with nobody, so a
// file being written cannot be read half-made and a file being read cannot
// be replaced under the reader.
#pragma once

#include "platform/file_system.h"

namespace platform {

class Win32FileSystem : public FileSystem {
 public:
  // CreateFileA, FILE_SHARE_READ, existing files only.
  std::unique_ptr<File> OpenForRead(const std::string& path, std::string* error) override;
  // CreateFileA, no sharing, CREATE_ALWAYS: a file someone holds open is
  // refused with a sharing violation before anything of it is truncated.
  std::unique_ptr<File> CreateForWrite(const std::string& path, std::string* error) override;
  bool Exists(const std::string& path) override;
  bool IsDirectory(const std::string& path) override;
  // GetFileAttributesA: FILE_ATTRIBUTE_REPARSE_POINT (links, junctions).
  bool IsLink(const std::string& path) override;
  bool IsEmptyDirectory(const std::string& path) override;
  bool ListFolder(const std::string& path, std::vector<std::string>* names) override;
  bool MakeDirectory(const std::string& path) override;
  bool ChangeCurrentDirectory(const std::string& path) override;
  std::string CurrentDirectory() override;
  // A read-only file is made writable first, as a delete of a folder tree
  // removes read-only entries too.
  bool RemoveFile(const std::string& path) override;
  int64_t FileSize(const std::string& path) override;
  // CopyFileA over an existing `to`; a read-only `to` is made writable and
  // the copy tried once more.
  bool CopyOneFile(const std::string& from, const std::string& to) override;
  // MoveFileExA with MOVEFILE_REPLACE_EXISTING and MOVEFILE_COPY_ALLOWED, so
  // that a file also moves onto another volume.
  bool MoveOneFile(const std::string& from, const std::string& to) override;
};

}  // namespace platform
