#include "platform/posix/session_log_posix.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace platform {

namespace {

void CreateFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1); ; slash = folder.find('/', slash + 1)) {
    mkdir(folder.substr(0, slash).c_str(), 0700);
    if (slash == std::string::npos) return;
  }
}

// Removes the oldest "session-*.log" files of `folder` beyond `keep`. The
// names sort by their time stamp.
void PruneLogs(const std::string& folder, int keep) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> logs;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.rfind("session-", 0) == 0 && name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0)
      logs.push_back(name);
  }
  closedir(dir);
  std::sort(logs.begin(), logs.end());
  for (size_t i = 0; i + keep < logs.size(); ++i) unlink((folder + "/" + logs[i]).c_str());
}

}  // namespace

std::string SessionLogFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/websetup";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/state/websetup";
  return {};
}

PosixSessionLog::PosixSessionLog(const std::string& folder) {
  const std::string where = folder.empty() ? SessionLogFolder() : folder;
  if (where.empty()) return;
  CreateFolders(where);
  const std::time_t now = std::time(nullptr);
  std::tm local {};
  localtime_r(&now, &local);
  char name[96];
  std::strftime(name, sizeof name, "session-%Y%m%d-%H%M%S", &local);
  path_ = where + "/" + name + "-" + std::to_string(getpid()) + ".log";
  fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    path_.clear();
    return;
  }
  PruneLogs(where, kKeptSessionLogs);
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S %z", &local);
  Write(std::string("session started ") + stamp);
}

PosixSessionLog::~PosixSessionLog() {
  if (fd_ >= 0) close(fd_);
}

void PosixSessionLog::Write(const std::string& line) {
  if (fd_ < 0) return;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%8.3f] ", seconds);
  const std::string text = stamp + line + "\n";
  std::lock_guard<std::mutex> lock(lock_);
  // One write per line: with O_APPEND, lines of started programs and ours
  // do not tear each other.
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace platform
