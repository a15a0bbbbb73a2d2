// A temporary folder for one test, removed with everything in it when the
// object goes out of scope.
#pragma once

#include <string>

namespace testing_support {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // Path of `relative` inside the folder.
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

// Writes `content` to `path`, creating the parent folders.
void WriteFile(const std::string& path, const std::string& content);
// The whole content of `path`; empty when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace testing_support
