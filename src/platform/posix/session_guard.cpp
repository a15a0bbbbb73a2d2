#include "platform/posix/session_guard.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace platform {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP};
std::atomic<int> requestPipe{-1};
struct sigaction savedActions[2];

void OnTerminationSignal(int) {
  const int saved = errno;
  const int fd = requestPipe.load();
  const char byte = 1;
  if (fd >= 0) {
    [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
  }
  errno = saved;
}

std::string DataHome() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && *data) return data;
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "") + "/.local/share";
}

}  // namespace

TerminationRequests::TerminationRequests(std::function<void()> onRequest) : onRequest_(std::move(onRequest)) {
  if (pipe2(pipe_, O_CLOEXEC) != 0) return;
  requestPipe.store(pipe_[1]);
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < 2; ++i) sigaction(kSignals[i], &action, &savedActions[i]);
  watcher_ = std::thread([this] { Watch(); });
}

TerminationRequests::~TerminationRequests() {
  if (pipe_[1] < 0) return;
  for (size_t i = 0; i < 2; ++i) sigaction(kSignals[i], &savedActions[i], nullptr);
  requestPipe.store(-1);
  close(pipe_[1]);  // the watcher reads the end of the pipe and stops
  if (watcher_.joinable()) watcher_.join();
  close(pipe_[0]);
}

void TerminationRequests::Watch() {
  for (;;) {
    char byte = 0;
    const ssize_t n = read(pipe_[0], &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    if (onRequest_) onRequest_();
  }
}

InstanceLock::InstanceLock(const std::string& appName) {
  // Every missing level: a fresh account may lack even its data folder.
  const std::string folder = DataHome() + "/websetup";
  for (size_t slash = folder.find('/', 1); slash != std::string::npos; slash = folder.find('/', slash + 1)) {
    mkdir(folder.substr(0, slash).c_str(), 0700);
  }
  mkdir(folder.c_str(), 0700);
  fd_ = open((folder + "/" + appName + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) {
    held_ = true;
    return;
  }
  held_ = flock(fd_, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace platform
