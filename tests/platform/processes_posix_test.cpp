#include "platform/posix/processes_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/temp_dir.h"

extern char** environ;

namespace {

using platform::PosixProcesses;
using platform::ProcessInfo;
using platform::RunResult;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

int AsInt(RunResult result) { return static_cast<int>(result); }

bool OwnerMayExecute(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXUSR) != 0;
}

// A named pipe through which a child tells the test that it has reached a
// point; Await returns the line it wrote, or nothing after `limitMs`.
class Signal {
 public:
  explicit Signal(const std::string& path) {
    if (mkfifo(path.c_str(), 0600) == 0) fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  }
  ~Signal() {
    if (fd_ >= 0) close(fd_);
  }
  std::optional<std::string> Await(int limitMs) {
    std::string line;
    while (line.find('\n') == std::string::npos) {
      pollfd entry{fd_, POLLIN, 0};
      if (fd_ < 0 || poll(&entry, 1, limitMs) <= 0) return std::nullopt;
      char buffer[128];
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n == 0) return std::nullopt;  // the writer closed before a whole line
      if (n > 0) line.append(buffer, static_cast<size_t>(n));
    }
    return line.substr(0, line.find('\n'));
  }

 private:
  int fd_ = -1;
};

class ProcessesPosixTest : public ::testing::Test {
 protected:
  // Writes a program as a downloaded file: no execute bit.
  void WriteProgram(const std::string& path, const std::string& script) {
    WriteFile(path, "#!/bin/sh\n" + script);
    chmod(path.c_str(), 0644);
  }
  // Starts a copy of /bin/sleep named `name` with the given argv[0] and
  // returns its pid (the test's own child, collected by the test).
  pid_t StartSleeper(const std::string& name, const std::string& argv0) {
    const std::string copy = dir_ / name;
    std::filesystem::copy_file("/bin/sleep", copy, std::filesystem::copy_options::overwrite_existing);
    chmod(copy.c_str(), 0755);
    std::string arg0 = argv0;
    std::string seconds = "30";
    char* argv[] = {arg0.data(), seconds.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, copy.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
    return pid;
  }
  static std::optional<std::string> NameInSnapshot(const std::vector<ProcessInfo>& list, int pid) {
    for (const ProcessInfo& p : list) {
      if (p.pid == pid) return p.exeName;
    }
    return std::nullopt;
  }

  TempDir dir_;
  PosixProcesses processes_;
};

TEST_F(ProcessesPosixTest, RunsTheProgramInItsFolderWithTheArgumentUntouched) {
  struct Row {
    const char* name;
    std::optional<std::string> argument;
    std::string expected;  // "<count>:<first argument>"
  };
  const Row rows[] = {
      {"no argument", std::nullopt, "0:"},
      {"plain", std::string("/home/u/Quorix"), "1:/home/u/Quorix"},
      {"shell characters stay text", std::string("a b \"c\" $HOME; `id` | *"), "1:a b \"c\" $HOME; `id` | *"},
      {"empty argument given", std::string(""), "1:"},
  };
  const std::string folder = dir_ / "Quorix folder 'x'";
  WriteProgram(folder + "/Setup.exe", "printf '%s\\n%s:%s' \"$(pwd)\" \"$#\" \"$1\" > ran.txt\n");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    unlink((folder + "/ran.txt").c_str());
    ASSERT_EQ(AsInt(RunResult::Ok), processes_.RunProgram(folder + "/", "Setup.exe", row.argument, false, true));
    EXPECT_EQ(folder + "\n" + row.expected, ReadFile(folder + "/ran.txt"));
  }
  EXPECT_TRUE(OwnerMayExecute(folder + "/Setup.exe"));
}

TEST_F(ProcessesPosixTest, EmptyDirectoryMeansTheCurrentOne) {
  WriteProgram(dir_ / "tool.exe", "pwd > where.txt\n");
  char previous[4096];
  ASSERT_NE(nullptr, getcwd(previous, sizeof previous));
  ASSERT_EQ(0, chdir(dir_.path().c_str()));
  const int result = processes_.RunProgram("", "tool.exe", std::nullopt, true, true);
  ASSERT_EQ(0, chdir(previous));
  EXPECT_EQ(AsInt(RunResult::Ok), result);
  EXPECT_EQ(dir_.path() + "\n", ReadFile(dir_ / "where.txt"));
}

TEST_F(ProcessesPosixTest, ProgramsThatCannotStartAnswerOne) {
  WriteFile(dir_ / "notes.exe", "no interpreter line, not a program");
  chmod((dir_ / "notes.exe").c_str(), 0644);
  std::filesystem::create_directories(dir_ / "folder.exe");
  EXPECT_EQ(AsInt(RunResult::NotStarted), processes_.RunProgram(dir_.path(), "missing.exe", std::nullopt, true, true));
  EXPECT_EQ(ENOENT, errno);
  EXPECT_EQ(AsInt(RunResult::NotStarted), processes_.RunProgram(dir_.path(), "notes.exe", std::nullopt, true, true));
  EXPECT_EQ(AsInt(RunResult::NotStarted), processes_.RunProgram(dir_.path(), "folder.exe", std::nullopt, true, false));
  EXPECT_EQ(AsInt(RunResult::NotStarted), processes_.RunProgram(dir_ / "no-such-folder", "x.exe", std::nullopt, true, true));
}

TEST_F(ProcessesPosixTest, WaitingEndsWithTheProgramOrAtTheLimit) {
  // Ends by itself after a short while: the call returns only afterwards.
  WriteProgram(dir_ / "short.exe", "sleep 0.2\necho done > done.txt\n");
  processes_.SetWaitLimitMs(20000);
  EXPECT_EQ(AsInt(RunResult::Ok), processes_.RunProgram(dir_.path(), "short.exe", std::nullopt, false, true));
  EXPECT_EQ("done\n", ReadFile(dir_ / "done.txt"));

  // Outlives the limit: answer 3, and the program still runs.
  WriteProgram(dir_ / "long.exe", "echo $$ > pid.txt\nexec sleep 30\n");
  processes_.SetWaitLimitMs(300);
  EXPECT_EQ(AsInt(RunResult::StillRunning), processes_.RunProgram(dir_.path(), "long.exe", std::nullopt, false, true));
  const int pid = std::atoi(ReadFile(dir_ / "pid.txt").c_str());
  ASSERT_GT(pid, 0);
  EXPECT_EQ(0, kill(pid, 0));
  EXPECT_TRUE(processes_.Terminate(pid, 0));
}

TEST_F(ProcessesPosixTest, WithoutWaitingTheCallReturnsWhileTheProgramRuns) {
  Signal started(dir_ / "started");
  // The program reports its start and its pid, then keeps running.
  WriteProgram(dir_ / "lobby.exe", "echo \"$$ $1\" > started\nexec sleep 30\n");
  ASSERT_EQ(AsInt(RunResult::Ok), processes_.RunProgram(dir_.path(), "lobby.exe", std::string("arg"), true, false));
  const std::string line = started.Await(10000).value_or("<no start>");
  const int pid = std::atoi(line.c_str());
  ASSERT_GT(pid, 0) << line;
  EXPECT_EQ(std::to_string(pid) + " arg", line);
  EXPECT_EQ(0, kill(pid, 0));  // still running after RunProgram returned
  // It runs in a session of its own, away from the installer's terminal.
  EXPECT_EQ(pid, getsid(pid));
  EXPECT_TRUE(processes_.Terminate(pid, 0));
}

TEST_F(ProcessesPosixTest, SnapshotNamesProcessesByTheirWholeFileName) {
  struct Row {
    const char* file;
    const char* argv0;
    const char* expected;
  };
  const Row rows[] = {
      {"QuorixHelper.exe", "QuorixHelper.exe", "QuorixHelper.exe"},
      {"QuorixSalonLobbyClient.exe", "whatever", "QuorixSalonLobbyClient.exe"},
      // argv[0] naming a ".exe" beats the executable of a compatibility loader.
      {"loader", "C:\\Games\\Quorix\\QuorixSalon.exe", "QuorixSalon.exe"},
  };
  std::vector<pid_t> started;
  for (const Row& row : rows) started.push_back(StartSleeper(row.file, row.argv0));
  // A child shows its new name only once it has replaced its image: look
  // again until every one has (bounded).
  std::vector<ProcessInfo> list;
  for (int tries = 0; tries < 500; ++tries) {
    list = processes_.Snapshot();
    bool all = true;
    for (size_t i = 0; i < std::size(rows); ++i) {
      all = all && NameInSnapshot(list, started[i]).value_or("") == rows[i].expected;
    }
    if (all) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].file);
    ASSERT_GT(started[i], 0);
    EXPECT_EQ(rows[i].expected, NameInSnapshot(list, started[i]).value_or("<absent>"));
  }
  EXPECT_EQ(getpid(), processes_.CurrentProcessId());
  EXPECT_TRUE(NameInSnapshot(list, getpid()).has_value());

  for (pid_t pid : started) {
    EXPECT_TRUE(processes_.Terminate(pid, 0));
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  }
  // Collected processes are gone from the list and cannot be ended again.
  const std::vector<ProcessInfo> after = processes_.Snapshot();
  for (pid_t pid : started) {
    EXPECT_FALSE(NameInSnapshot(after, pid).has_value());
    EXPECT_FALSE(processes_.Terminate(pid, 0));
  }
}

TEST_F(ProcessesPosixTest, EndedButUncollectedProcessesAreLeftOut) {
  const pid_t pid = StartSleeper("QuorixGone.exe", "QuorixGone.exe");
  ASSERT_GT(pid, 0);
  ASSERT_EQ(0, kill(pid, SIGKILL));
  siginfo_t info{};
  // Wait for the end without collecting the child.
  ASSERT_EQ(0, waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT));
  EXPECT_FALSE(NameInSnapshot(processes_.Snapshot(), pid).has_value());
  EXPECT_FALSE(PosixProcesses::ProcessName(pid).has_value());
  ASSERT_EQ(pid, waitpid(pid, nullptr, 0));
}

TEST_F(ProcessesPosixTest, TerminateRefusesProcessGroups) {
  // 0 and -1 would signal whole process groups: refused.
  EXPECT_FALSE(processes_.Terminate(0, 0));
  EXPECT_FALSE(processes_.Terminate(-1, 0));
}

// Without windows on a terminal, a running program stands for its window.
TEST_F(ProcessesPosixTest, RunningProgramCountsAsItsWindow) {
  const std::string name = "Qw" + std::to_string(getpid()) + "Salon.exe";  // no other test's process
  EXPECT_FALSE(processes_.FindTopLevelWindow(name));
  const pid_t pid = StartSleeper(name, name);
  ASSERT_GT(pid, 0);
  bool found = false;
  for (int i = 0; i < 500 && !found; ++i) {
    found = processes_.FindTopLevelWindow("Salon.exe") && processes_.FindTopLevelWindow(name);
    if (!found) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(found);
  EXPECT_TRUE(processes_.BringTopLevelWindowToFront(name));
  EXPECT_FALSE(processes_.FindTopLevelWindow(name + "x"));  // the name must be contained exactly
  ASSERT_TRUE(processes_.Terminate(pid, 0));
  ASSERT_EQ(pid, waitpid(pid, nullptr, 0));
  EXPECT_FALSE(processes_.FindTopLevelWindow(name));
}

}  // namespace
