#include "platform/posix/session_log_posix.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(SessionLogTest, OneFilePerRunOwnerOnlyStampedLinesAndTheLastTenKept) {
  TempDir dir;
  const std::string folder = dir / "state/websetup";
  fs::create_directories(folder);
  for (int i = 0; i < 12; ++i) WriteFile(folder + "/session-20000101-0000" + (i < 10 ? "0" : "") + std::to_string(i) + "-1.log", "old");
  WriteFile(folder + "/notes.txt", "not a log");
  std::string path;
  {
    platform::PosixSessionLog log(folder);
    path = log.Path();
    ASSERT_FALSE(path.empty());
    log.Write("step 10");
    EXPECT_GE(log.Fd(), 0);
  }
  EXPECT_TRUE(std::regex_match(fs::path(path).filename().string(), std::regex(R"(session-\d{8}-\d{6}-\d+\.log)")))
      << path;
  struct stat info {};
  ASSERT_EQ(0, stat(path.c_str(), &info));
  EXPECT_EQ(0600u, info.st_mode & 0777);
  const std::string text = ReadFile(path);
  EXPECT_TRUE(std::regex_search(text, std::regex(R"(^\[ *\d+\.\d{3}\] session started .*\n\[ *\d+\.\d{3}\] step 10\n$)")))
      << text;
  int logs = 0;
  for (const auto& entry : fs::directory_iterator(folder)) logs += entry.path().extension() == ".log";
  EXPECT_EQ(platform::kKeptSessionLogs, logs);
  EXPECT_FALSE(fs::exists(folder + "/session-20000101-000000-1.log")) << "the oldest goes first";
  EXPECT_TRUE(fs::exists(folder + "/session-20000101-000011-1.log"));
  EXPECT_TRUE(fs::exists(folder + "/notes.txt"));
}

TEST(SessionLogTest, AFolderThatCannotBeMadeGivesNoLogAndDropsLines) {
  TempDir dir;
  WriteFile(dir / "file", "x");
  platform::PosixSessionLog log(dir / "file/websetup");
  EXPECT_EQ("", log.Path());
  EXPECT_EQ(-1, log.Fd());
  log.Write("dropped");  // no file, no crash
}

}  // namespace
