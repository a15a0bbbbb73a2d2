// Processes of the Windows layer under Wine: a program started with its
// working folder and waited for, one left running, found in the snapshot
// and by its window, and ended.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/win32/processes_win32.h"
#include "platform/win32/win32_system.h"
#include "win32/win32_test_folder.h"

namespace {

using platform::RunResult;
using testing_support::ReadText;
using testing_support::Win32TestFolder;

constexpr const char* kChild = "win32_test_child.exe";

int AsInt(RunResult result) { return static_cast<int>(result); }

std::string TestsFolder() { return platform::DirectoryOf(platform::Win32System().ExecutablePath()); }

class Win32ProcessesTest : public ::testing::Test {
 protected:
  // The pids of running children, waited for up to `limitMs`.
  std::vector<int> ChildPids(int limitMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
      std::vector<int> pids;
      for (const auto& process : processes.Snapshot()) {
        if (process.exeName == kChild) pids.push_back(process.pid);
      }
      if (!pids.empty() || std::chrono::steady_clock::now() >= deadline) return pids;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  void TearDown() override {
    for (int pid : ChildPids(0)) processes.Terminate(pid, 0);
  }

  platform::Win32Processes processes;
  Win32TestFolder folder;
};

TEST_F(Win32ProcessesTest, AProgramRunsInItsFolderAndIsWaitedFor) {
  const std::string mark = folder / "ran.txt";
  EXPECT_EQ(processes.RunProgram(TestsFolder() + "\\", kChild, "touch:" + mark, false, true), AsInt(RunResult::Ok));
  EXPECT_EQ(ReadText(mark), TestsFolder()) << "the working folder is the program's folder";
  EXPECT_EQ(processes.RunProgram(folder.path(), "absent.exe", std::nullopt, true, true),
            AsInt(RunResult::NotStarted));
}

TEST_F(Win32ProcessesTest, AWaitPastTheLimitAnswersStillRunning) {
  processes.SetWaitLimitMs(300);
  EXPECT_EQ(processes.RunProgram(TestsFolder(), kChild, std::string("sleep"), false, true),
            AsInt(RunResult::StillRunning));
}

TEST_F(Win32ProcessesTest, ARunningProgramIsFoundByItsWindowAndEnded) {
  ASSERT_EQ(processes.RunProgram(TestsFolder(), kChild, std::string("window:websetup child"), true, false),
            AsInt(RunResult::Ok));
  const std::vector<int> pids = ChildPids();
  ASSERT_EQ(pids.size(), 1u);
  bool found = false;
  for (int i = 0; i < 250 && !found; ++i) {
    found = processes.FindTopLevelWindow("test_child");
    if (!found) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(found);
  EXPECT_TRUE(processes.BringTopLevelWindowToFront("test_child"));
  EXPECT_FALSE(processes.FindTopLevelWindow("Test_Child")) << "letter case counts";
  EXPECT_FALSE(processes.FindTopLevelWindow("win32_tests")) << "the calling process is never a match";

  const HANDLE child = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pids[0]));
  ASSERT_TRUE(processes.Terminate(pids[0], 7));
  const DWORD waited = WaitForSingleObject(child, 5000);
  DWORD exitCode = 0;
  GetExitCodeProcess(child, &exitCode);
  CloseHandle(child);
  ASSERT_EQ(waited, WAIT_OBJECT_0);
  EXPECT_EQ(exitCode, 7u);
  EXPECT_TRUE(ChildPids(0).empty());
  EXPECT_FALSE(processes.Terminate(0, 0));
}

}  // namespace
