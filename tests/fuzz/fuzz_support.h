// Helpers of the fuzz targets: a private scratch folder for the parsers that
// read their input from a file, the input written there, and a file system
// in memory for the parsers that read through the platform's files (a disk
// write and its flush per input would hold a target to a few hundred inputs
// a second).
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace fuzzing {

// A scratch folder of this process, made once.
inline const std::string& ScratchFolder() {
  static const std::string folder = [] {
    char pattern[] = "/tmp/websetup-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) abort();
    return std::string(made);
  }();
  return folder;
}

// Replaces `path` with the fuzzer's bytes.
inline void WriteInput(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) abort();
  std::fclose(file);
}

// Files and folders held in memory, with "/" as the separator; relative
// paths resolve against the current folder. A file being written takes its
// content when it is closed.
class MemoryFileSystem : public platform::FileSystem {
 public:
  MemoryFileSystem() { folders_.insert("/"); }

  void Put(const std::string& path, std::string content) { files_[Full(path)] = std::move(content); }
  void MakeFolders(const std::string& path) {
    const std::string full = Full(path);
    for (size_t at = 1; at != std::string::npos; at = full.find('/', at + 1)) folders_.insert(full.substr(0, at));
    folders_.insert(full);
  }

  std::unique_ptr<platform::File> OpenForRead(const std::string& path, std::string*) override {
    auto it = files_.find(Full(path));
    if (it == files_.end()) return nullptr;
    return std::make_unique<MemoryFile>(it->second, nullptr);
  }
  std::unique_ptr<platform::File> CreateForWrite(const std::string& path, std::string*) override {
    const std::string full = Full(path);
    if (!folders_.count(Parent(full)) || folders_.count(full)) return nullptr;
    files_[full].clear();
    return std::make_unique<MemoryFile>(std::string(), &files_[full]);
  }
  bool Exists(const std::string& path) override { return files_.count(Full(path)) || folders_.count(Full(path)); }
  bool IsDirectory(const std::string& path) override { return folders_.count(Full(path)) != 0; }
  bool IsLink(const std::string&) override { return false; }
  bool IsEmptyDirectory(const std::string& path) override {
    std::vector<std::string> names;
    return ListFolder(path, &names) && names.empty();
  }
  bool ListFolder(const std::string& path, std::vector<std::string>* names) override {
    const std::string full = Full(path);
    if (!folders_.count(full)) return false;
    for (const auto& [file, content] : files_) {
      if (Parent(file) == full) names->push_back(file.substr(file.rfind('/') + 1));
    }
    return true;
  }
  bool MakeDirectory(const std::string& path) override {
    const std::string full = Full(path);
    if (Exists(full) || !folders_.count(Parent(full))) return false;
    folders_.insert(full);
    return true;
  }
  bool ChangeCurrentDirectory(const std::string& path) override {
    if (!folders_.count(Full(path))) return false;
    cwd_ = Full(path);
    return true;
  }
  std::string CurrentDirectory() override { return cwd_; }
  bool RemoveFile(const std::string& path) override { return files_.erase(Full(path)) != 0; }
  int64_t FileSize(const std::string& path) override {
    auto it = files_.find(Full(path));
    return it == files_.end() ? -1 : static_cast<int64_t>(it->second.size());
  }
  bool CopyOneFile(const std::string& from, const std::string& to) override {
    auto it = files_.find(Full(from));
    if (it == files_.end() || !folders_.count(Parent(Full(to)))) return false;
    files_[Full(to)] = it->second;
    return true;
  }
  bool MoveOneFile(const std::string& from, const std::string& to) override {
    if (!CopyOneFile(from, to)) return false;
    if (Full(from) != Full(to)) files_.erase(Full(from));
    return true;
  }

 private:
  class MemoryFile : public platform::File {
   public:
    MemoryFile(std::string content, std::string* target) : content_(std::move(content)), target_(target) {}
    ~MemoryFile() override { Close(); }
    bool Read(void* buffer, size_t size, size_t* received) override {
      *received = std::min(size, content_.size() - position_);
      std::memcpy(buffer, content_.data() + position_, *received);
      position_ += *received;
      return true;
    }
    bool Write(const void* data, size_t size) override {
      content_.append(static_cast<const char*>(data), size);
      return target_ != nullptr;
    }
    int64_t Size() override { return static_cast<int64_t>(content_.size()); }
    bool Close() override {
      if (target_) *target_ = content_;
      target_ = nullptr;
      return true;
    }

   private:
    std::string content_;
    size_t position_ = 0;
    std::string* target_;
  };

  // The absolute form of `path`: "\\" read as "/", no "." parts, no
  // trailing "/".
  std::string Full(std::string path) const {
    for (char& c : path) {
      if (c == '\\') c = '/';
    }
    if (path.empty() || path[0] != '/') path = cwd_ + "/" + path;
    std::string full;
    size_t start = 0;
    while (start <= path.size()) {
      size_t end = path.find('/', start);
      if (end == std::string::npos) end = path.size();
      const std::string part = path.substr(start, end - start);
      if (!part.empty() && part != ".") full += "/" + part;
      start = end + 1;
    }
    return full.empty() ? "/" : full;
  }
  static std::string Parent(const std::string& full) {
    const size_t slash = full.rfind('/');
    return slash == 0 ? "/" : full.substr(0, slash);
  }

  std::map<std::string, std::string> files_;
  std::set<std::string> folders_;
  std::string cwd_ = "/";
};

}  // namespace fuzzing
