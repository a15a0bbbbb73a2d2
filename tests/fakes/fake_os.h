// In-memory fakes of the registry, the shell and the process list for unit
// tests of the logic. Each holds the state a test sets, answers from it and
// records what it was asked. All are thread-safe.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/shell.h"

namespace fakes {

// A failing fake leaves its code as the thread's last error, where
// FakeSystem::LastErrorCode finds it.
inline void SetFakeLastError(int code) { errno = code; }

// Registry values keyed by hive, key and value name, compared without
// regard to letter case like the real store. `failWith` makes every call
// fail with that code (and leave it as the thread's last error).
class FakeRegistry : public platform::Registry {
 public:
  int failWith = 0;

  int ReadString(platform::Hive hive, const std::string& key, const std::string& valueName,
                 std::string* value) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failWith != 0) return Fail(failWith);
    auto k = keys_.find({hive, Lower(key)});
    if (k == keys_.end()) return Fail(platform::kRegistryNotFound);
    auto v = k->second.find(Lower(valueName));
    if (v == k->second.end()) return Fail(platform::kRegistryNotFound);
    *value = v->second;
    return platform::kRegistryOk;
  }
  int WriteString(platform::Hive hive, const std::string& key, const std::string& valueName,
                  const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failWith != 0) return Fail(failWith);
    keys_[{hive, Lower(key)}][Lower(valueName)] = text;
    return platform::kRegistryOk;
  }
  int DeleteKey(platform::Hive hive, const std::string& key) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failWith != 0) return Fail(failWith);
    deleted_.push_back(key);
    return keys_.erase({hive, Lower(key)}) == 1 ? platform::kRegistryOk : Fail(platform::kRegistryNotFound);
  }

  // Test-side access, bypassing `failWith`.
  void Set(platform::Hive hive, const std::string& key, const std::string& valueName, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    keys_[{hive, Lower(key)}][Lower(valueName)] = text;
  }
  std::optional<std::string> Get(platform::Hive hive, const std::string& key, const std::string& valueName) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto k = keys_.find({hive, Lower(key)});
    if (k == keys_.end()) return std::nullopt;
    auto v = k->second.find(Lower(valueName));
    if (v == k->second.end()) return std::nullopt;
    return v->second;
  }
  bool HasKey(platform::Hive hive, const std::string& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return keys_.count({hive, Lower(key)}) == 1;
  }
  // Keys passed to DeleteKey, in order, present or not.
  std::vector<std::string> DeletedKeys() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return deleted_;
  }

 private:
  static std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
  }
  static int Fail(int code) {
    SetFakeLastError(code);
    return code;
  }

  mutable std::mutex mutex_;
  std::map<std::pair<platform::Hive, std::string>, std::map<std::string, std::string>> keys_;
  std::vector<std::string> deleted_;
};

// Special folders from a table; DeleteTree and CopyTree only record their
// calls and answer the result a test sets.
class FakeShell : public platform::Shell {
 public:
  struct TreeCall {
    std::string path;  // DeleteTree: the path; CopyTree, MoveTree: "from"
    std::string to;    // CopyTree, MoveTree only
    bool contentsOnly = false;
  };

  std::map<platform::SpecialFolder, std::string> folders{
      {platform::SpecialFolder::CommonPrograms, "/home/user/.local/share/applications"},
      {platform::SpecialFolder::CommonDesktop, "/home/user/Desktop"}};
  int deleteResult = 0;
  int copyResult = 0;
  int moveResult = 0;

  std::string SpecialFolderPath(platform::SpecialFolder folder) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = folders.find(folder);
    return it == folders.end() ? std::string() : it->second;
  }
  int DeleteTree(const std::string& path, bool contentsOnly) override {
    std::lock_guard<std::mutex> lock(mutex_);
    deletes_.push_back({path, "", contentsOnly});
    if (deleteResult != 0) SetFakeLastError(deleteResult);
    return deleteResult;
  }
  int CopyTree(const std::string& from, const std::string& to) override {
    std::lock_guard<std::mutex> lock(mutex_);
    copies_.push_back({from, to, false});
    if (copyResult != 0) SetFakeLastError(copyResult);
    return copyResult;
  }
  int MoveTree(const std::string& from, const std::string& to) override {
    std::lock_guard<std::mutex> lock(mutex_);
    moves_.push_back({from, to, false});
    if (moveResult != 0) SetFakeLastError(moveResult);
    return moveResult;
  }

  std::vector<TreeCall> Deletes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return deletes_;
  }
  std::vector<TreeCall> Copies() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return copies_;
  }
  std::vector<TreeCall> Moves() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return moves_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<TreeCall> deletes_;
  std::vector<TreeCall> copies_;
  std::vector<TreeCall> moves_;
};

// A process table a test fills. Terminate takes the process out of the
// table; RunProgram records its call and answers `runResult`; windows exist
// for the pids in `withWindow`.
class FakeProcesses : public platform::Processes {
 public:
  struct Run {
    std::string directory;
    std::string file;
    std::optional<std::string> argument;
    bool show = false;
    bool wait = false;
  };
  struct Kill {
    int pid = 0;
    int exitCode = 0;
  };

  int currentPid = 1000;
  int runResult = 0;

  void Add(int pid, const std::string& exeName, bool hasWindow = false, const std::string& exePath = {}) {
    std::lock_guard<std::mutex> lock(mutex_);
    table_.push_back({pid, exeName, exePath});
    if (hasWindow) withWindow_.insert(pid);
  }

  std::vector<platform::ProcessInfo> Snapshot() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++snapshots_;
    return table_;
  }
  int CurrentProcessId() override { return currentPid; }
  bool Terminate(int pid, int exitCode) override {
    std::lock_guard<std::mutex> lock(mutex_);
    kills_.push_back({pid, exitCode});
    auto it = std::find_if(table_.begin(), table_.end(), [pid](const auto& p) { return p.pid == pid; });
    if (it == table_.end()) return false;
    table_.erase(it);
    return true;
  }
  int RunProgram(const std::string& directory, const std::string& file, const std::optional<std::string>& argument,
                 bool show, bool wait) override {
    std::lock_guard<std::mutex> lock(mutex_);
    runs_.push_back({directory, file, argument, show, wait});
    return runResult;
  }
  bool FindTopLevelWindow(const std::string& programName) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return FindWindowLocked(programName) != 0;
  }
  bool BringTopLevelWindowToFront(const std::string& programName) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const int pid = FindWindowLocked(programName);
    if (pid != 0) raised_.push_back(pid);
    return pid != 0;
  }

  std::vector<Run> Runs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return runs_;
  }
  std::vector<Kill> Kills() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return kills_;
  }
  // Pids whose window was brought to the front, in order.
  std::vector<int> Raised() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return raised_;
  }
  int SnapshotCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return snapshots_;
  }

 private:
  int FindWindowLocked(const std::string& programName) const {
    for (const auto& p : table_) {
      if (p.pid != currentPid && withWindow_.count(p.pid) == 1 && p.exeName.find(programName) != std::string::npos) {
        return p.pid;
      }
    }
    return 0;
  }

  mutable std::mutex mutex_;
  std::vector<platform::ProcessInfo> table_;
  std::set<int> withWindow_;
  std::vector<Run> runs_;
  std::vector<Kill> kills_;
  std::vector<int> raised_;
  int snapshots_ = 0;
};

}  // namespace fakes
