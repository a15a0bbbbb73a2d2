#include "platform/posix/processes_posix.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace platform {

namespace {

// The first `limit` bytes of a /proc file; nothing when it cannot be read.
std::optional<std::string> ReadProcFile(const std::string& path, size_t limit) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string content(limit, '\0');
  size_t used = 0;
  while (used < limit) {
    const ssize_t n = read(fd, content.data() + used, limit - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  close(fd);
  content.resize(used);
  return content;
}

std::string BaseName(const std::string& path, const char* separators) {
  const size_t cut = path.find_last_of(separators);
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool EndsWithExe(const std::string& name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return tail == ".exe";
}

// The process state letter of /proc/<pid>/stat (after the parenthesised
// name, which may itself hold spaces and parentheses); 0 when unreadable.
char ProcessState(const std::string& procDir) {
  const auto stat = ReadProcFile(procDir + "/stat", 1024);
  if (!stat) return 0;
  const size_t close = stat->rfind(')');
  if (close == std::string::npos || close + 2 >= stat->size()) return 0;
  return (*stat)[close + 2];
}

int64_t MonotonicMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Collects a child that the caller no longer waits for, so that it does not
// stay behind as an exited, uncollected process.
void CollectLater(pid_t pid) {
  std::thread([pid] {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

// Waits until `pid` ends or `limitMs` has passed. Returns a RunResult.
// A process descriptor (Linux 5.3 and later) lets poll sleep until the end;
// without one the wait polls with short, growing sleeps.
RunResult WaitForChild(pid_t pid, int limitMs) {
  const int64_t deadline = MonotonicMs() + limitMs;
  const int pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  int pauseMs = 1;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) {
      const int error = errno;
      if (pidFd >= 0) close(pidFd);
      errno = error;
      return RunResult::WaitFailed;
    }
    const int left = static_cast<int>(std::max<int64_t>(0, deadline - MonotonicMs()));
    if (left <= 0) {
      if (pidFd >= 0) close(pidFd);
      CollectLater(pid);
      return RunResult::StillRunning;
    }
    if (pidFd >= 0) {
      pollfd entry{pidFd, POLLIN, 0};
      poll(&entry, 1, left);  // readable when the child ends; EINTR just loops
    } else {
      const int pause = std::min(pauseMs, left);
      const timespec step{pause / 1000, (pause % 1000) * 1000000L};
      nanosleep(&step, nullptr);
      pauseMs = std::min(pauseMs * 2, 50);
    }
  }
  if (pidFd >= 0) close(pidFd);
  return RunResult::Ok;
}

// Gives the owner the execute bit when the file lacks it. Returns 0 or the
// system's code.
int MakeExecutable(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EACCES;
  if ((st.st_mode & S_IXUSR) != 0) return 0;
  return chmod(path.c_str(), (st.st_mode & 07777) | S_IXUSR) == 0 ? 0 : errno;
}

std::string CurrentDirectory() {
  std::vector<char> buffer(PATH_MAX);
  return getcwd(buffer.data(), buffer.size()) != nullptr ? std::string(buffer.data()) : std::string(".");
}

// Starts the program; returns 0 with *pid, or the system's code.
int Spawn(const std::string& folder, const std::string& program, const std::optional<std::string>& argument,
          bool ownSession, int outputFd, pid_t* pid) {
  std::vector<char*> argv;
  std::string programCopy = program;
  std::string argumentCopy = argument.value_or(std::string());
  argv.push_back(programCopy.data());
  if (argument) argv.push_back(argumentCopy.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  if (outputFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outputFd, STDERR_FILENO);
  }
  // The child starts with no blocked signals and default handling of the
  // ones a parent commonly changes, whatever this process has set.
  sigset_t none;
  sigset_t defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int signal : {SIGPIPE, SIGCHLD, SIGINT, SIGQUIT, SIGTERM, SIGHUP}) sigaddset(&defaults, signal);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (ownSession) flags |= POSIX_SPAWN_SETSID;
  posix_spawnattr_setflags(&attributes, flags);

  const int error = posix_spawn(pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

}  // namespace

std::optional<std::string> PosixProcesses::ProcessName(int pid) {
  std::string path;
  return ProcessName(pid, &path);
}

std::optional<std::string> PosixProcesses::ProcessName(int pid, std::string* exePath) {
  const std::string procDir = "/proc/" + std::to_string(pid);
  const char state = ProcessState(procDir);
  if (state == 0 || state == 'Z' || state == 'X') return std::nullopt;

  std::string exeName;
  char target[PATH_MAX];
  const ssize_t n = readlink((procDir + "/exe").c_str(), target, sizeof target - 1);
  if (n > 0) {
    std::string path(target, static_cast<size_t>(n));
    const std::string deleted = " (deleted)";  // the file was replaced or removed since it started
    if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
      path.resize(path.size() - deleted.size());
    }
    exeName = BaseName(path, "/");
    *exePath = path;
  }
  if (const auto cmdline = ReadProcFile(procDir + "/cmdline", 4096); cmdline && !cmdline->empty()) {
    const std::string first = cmdline->substr(0, cmdline->find('\0'));
    const std::string argv0 = BaseName(first, "/\\");
    if (exeName.empty() || (EndsWithExe(argv0) && !EndsWithExe(exeName))) {
      exeName = argv0;
      // The program as started, taken from the process's own folder when
      // it was started by a relative name.
      char cwd[PATH_MAX];
      const ssize_t m = readlink((procDir + "/cwd").c_str(), cwd, sizeof cwd - 1);
      std::string started;
      if (!first.empty() && first[0] == '/') {
        started = first;
      } else if (m > 0 && first.find('/') != std::string::npos) {
        started = std::string(cwd, static_cast<size_t>(m)) + "/" + first;
      }
      // Resolved, so that ".." or a link cannot make it seem elsewhere.
      char resolved[PATH_MAX];
      *exePath = !started.empty() && realpath(started.c_str(), resolved) ? std::string(resolved) : std::string();
    }
  }
  if (exeName.empty()) {
    auto comm = ReadProcFile(procDir + "/comm", 64);
    if (!comm) return std::nullopt;  // gone while it was looked at
    if (!comm->empty() && comm->back() == '\n') comm->pop_back();
    exeName = *comm;
  }
  if (exeName.empty()) return std::nullopt;
  return exeName;
}

std::vector<ProcessInfo> PosixProcesses::Snapshot() {
  std::vector<ProcessInfo> result;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return result;
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long pid = strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || pid <= 0) continue;
    // Only this user's processes: another user's are none of ours to stop.
    struct stat st;
    const std::string procDir = std::string("/proc/") + entry->d_name;
    if (stat(procDir.c_str(), &st) != 0 || st.st_uid != getuid()) continue;
    std::string path;
    if (auto name = ProcessName(static_cast<int>(pid), &path)) {
      result.push_back({static_cast<int>(pid), std::move(*name), std::move(path)});
    }
  }
  closedir(proc);
  return result;
}

int PosixProcesses::CurrentProcessId() { return static_cast<int>(getpid()); }

bool PosixProcesses::Terminate(int pid, int /*exitCode*/) {
  // kill() with 0 or a negative pid would signal whole process groups.
  if (pid <= 0) {
    errno = ESRCH;
    return false;
  }
  return kill(pid, SIGKILL) == 0;
}

int PosixProcesses::RunProgram(const std::string& directory, const std::string& file,
                               const std::optional<std::string>& argument, bool /*show*/, bool wait) {
  std::string folder = directory.empty() ? CurrentDirectory() : directory;
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const std::string program = (folder == "/" ? std::string() : folder) + "/" + file;

  if (const int error = MakeExecutable(program); error != 0) {
    errno = error;
    return static_cast<int>(RunResult::NotStarted);
  }
  pid_t pid = 0;
  if (const int error = Spawn(folder, program, argument, !wait, outputFd_.load(), &pid); error != 0) {
    errno = error;
    return static_cast<int>(RunResult::NotStarted);
  }
  if (!wait) {
    CollectLater(pid);
    return static_cast<int>(RunResult::Ok);
  }
  return static_cast<int>(WaitForChild(pid, waitLimitMs_.load()));
}

// A terminal program has no window to look for: a running process of the
// program stands for it, so that "Play" never starts a second client.
bool PosixProcesses::FindTopLevelWindow(const std::string& programName) {
  if (programName.empty()) return false;
  const int self = CurrentProcessId();
  for (const ProcessInfo& process : Snapshot()) {
    if (process.pid != self && process.exeName.find(programName) != std::string::npos) return true;
  }
  return false;
}

// Nothing can be raised on a terminal; the running client is found all the
// same.
bool PosixProcesses::BringTopLevelWindowToFront(const std::string& programName) {
  return FindTopLevelWindow(programName);
}

}  // namespace platform
