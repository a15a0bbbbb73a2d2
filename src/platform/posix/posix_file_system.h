// Linux files: the share rules of the Windows build are kept with advisory
// locks (readers share, a writer is exclusive), so a reader never sees a
// half-written settings file from another process of ours.
#pragma once

#include "platform/file_system.h"

namespace platform {

class PosixFileSystem : public FileSystem {
 public:
  std::unique_ptr<File> OpenForRead(const std::string& path, std::string* error) override;
  std::unique_ptr<File> CreateForWrite(const std::string& path, std::string* error) override;
  bool Exists(const std::string& path) override;
  bool IsDirectory(const std::string& path) override;
  // Adds the owner's execute bit (u+x) to the file's mode.
  bool MarkRunnable(const std::string& path) override;
  bool IsLink(const std::string& path) override;
  bool IsEmptyDirectory(const std::string& path) override;
  bool ListFolder(const std::string& path, std::vector<std::string>* names) override;
  bool MakeDirectory(const std::string& path) override;
  bool ChangeCurrentDirectory(const std::string& path) override;
  std::string CurrentDirectory() override;
  bool RemoveFile(const std::string& path) override;
  int64_t FileSize(const std::string& path) override;
  bool CopyOneFile(const std::string& from, const std::string& to) override;
  bool MoveOneFile(const std::string& from, const std::string& to) override;
};

}  // namespace platform
