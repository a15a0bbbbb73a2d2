#include "platform/posix/registry_posix.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace {

using platform::Hive;
using platform::kRegistryNotFound;
using platform::kRegistryOk;
using platform::PosixRegistry;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

const char* const kAppKey = "Software\\Quorix";
const char* const kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorix";

// Each test gets its own HOME and XDG folders inside a temporary tree.
class RegistryPosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("HOME", (tree_ / "home").c_str(), 1);
    setenv("XDG_DATA_HOME", (tree_ / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (tree_ / "config").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_CONFIG_HOME");
  }

  std::string Read(Hive hive, const std::string& key, const std::string& name, int* code) {
    std::string value = "<unchanged>";
    *code = registry_.ReadString(hive, key, name, &value);
    return value;
  }

  TempDir tree_;
  PosixRegistry registry_;
};

TEST_F(RegistryPosixTest, ValuesReadBackAsWrittenWhateverTheirCase) {
  struct Row {
    const char* writeKey;
    const char* writeName;
    const char* text;
    const char* readKey;
    const char* readName;
  };
  const Row rows[] = {
      {kAppKey, "AppDirectory", "/home/u/Quorix", "software\\QUORIX", "appdirectory"},
      {kUninstallKey, "UninstallString", "/opt/q/Uninstall.exe", "SOFTWARE\\MICROSOFT\\windows\\currentversion\\uninstall\\quorix", "UNINSTALLSTRING"},
      {kAppKey, "UserName", "", kAppKey, "UserName"},
      {kAppKey, "", "default value", kAppKey, ""},
      {"Software\\Odd=[Key]%", "na=me[1]%", "a=b%c[d]\nline2\r\n\t\x01\x7f end", "software\\odd=[key]%", "NA=ME[1]%"},
      {kAppKey, "Bytes", "\xc3\xa4\xc3\xb6 \xff\xfe", kAppKey, "bytes"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.writeKey) + " / " + row.writeName);
    ASSERT_EQ(kRegistryOk, registry_.WriteString(Hive::LocalMachine, row.writeKey, row.writeName, row.text));
    int code = -1;
    EXPECT_EQ(row.text, Read(Hive::LocalMachine, row.readKey, row.readName, &code));
    EXPECT_EQ(kRegistryOk, code);
  }
  // A fresh object reads the same from the file.
  PosixRegistry other;
  std::string value;
  ASSERT_EQ(kRegistryOk, other.ReadString(Hive::LocalMachine, "SOFTWARE\\quorix", "APPDIRECTORY", &value));
  EXPECT_EQ("/home/u/Quorix", value);
}

TEST_F(RegistryPosixTest, RewritingAValueKeepsOneEntryUnderTheFirstSpelling) {
  ASSERT_EQ(kRegistryOk, registry_.WriteString(Hive::LocalMachine, kAppKey, "AppDirectory", "/first"));
  ASSERT_EQ(kRegistryOk, registry_.WriteString(Hive::LocalMachine, "SOFTWARE\\QUORIX", "APPDIRECTORY", "/second"));
  int code = -1;
  EXPECT_EQ("/second", Read(Hive::LocalMachine, kAppKey, "AppDirectory", &code));
  const std::string file = ReadFile(PosixRegistry::HiveFile(Hive::LocalMachine));
  EXPECT_NE(std::string::npos, file.find("[Software\\Quorix]\nAppDirectory=/second\n")) << file;
  EXPECT_EQ(std::string::npos, file.find("QUORIX")) << file;
}

TEST_F(RegistryPosixTest, MissingKeyOrValueIsNotFoundAndLeavesTheOutputAlone) {
  int code = -1;
  EXPECT_EQ("<unchanged>", Read(Hive::LocalMachine, kAppKey, "AppDirectory", &code));
  EXPECT_EQ(kRegistryNotFound, code);
  ASSERT_EQ(kRegistryOk, registry_.WriteString(Hive::LocalMachine, kAppKey, "AppDirectory", "/x"));
  EXPECT_EQ("<unchanged>", Read(Hive::LocalMachine, kAppKey, "UserName", &code));
  EXPECT_EQ(kRegistryNotFound, code);
  EXPECT_EQ("<unchanged>", Read(Hive::LocalMachine, "Software\\Quorix\\Sub", "AppDirectory", &code));
  EXPECT_EQ(kRegistryNotFound, code);
}

TEST_F(RegistryPosixTest, HivesLiveInSeparateFilesUnderTheXdgFolders) {
  ASSERT_EQ(kRegistryOk, registry_.WriteString(Hive::LocalMachine, kAppKey, "AppDirectory", "/machine"));
  int code = -1;
  Read(Hive::CurrentUser, kAppKey, "AppDirectory", &code);
  EXPECT_EQ(kRegistryNotFound, code);
  ASSERT_EQ(kRegistryOk, registry_.WriteString(Hive::CurrentUser, kAppKey, "UserName", "player1"));

  EXPECT_EQ(tree_ / "data/websetup/registry-machine", PosixRegistry::HiveFile(Hive::LocalMachine));
  EXPECT_EQ(tree_ / "config/websetup/registry-user", PosixRegistry::HiveFile(Hive::CurrentUser));
  EXPECT_NE(std::string::npos, ReadFile(tree_ / "data/websetup/registry-machine").find("/machine"));
  EXPECT_NE(std::string::npos, ReadFile(tree_ / "config/websetup/registry-user").find("player1"));
  EXPECT_EQ(std::string::npos, ReadFile(tree_ / "config/websetup/registry-user").find("/machine"));

  // Without the XDG variables the defaults below HOME apply.
  unsetenv("XDG_DATA_HOME");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(tree_ / "home/.local/share/websetup/registry-machine", PosixRegistry::HiveFile(Hive::LocalMachine));
  EXPECT_EQ(tree_ / "home/.config/websetup/registry-user", PosixRegistry::HiveFile(Hive::CurrentUser));
}

TEST_F(RegistryPosixTest, DeleteKeyTakesItsValuesAndLeavesOtherKeys) {
  ASSERT_EQ(kRegistryOk, registry_.WriteString(Hive::LocalMachine, kUninstallKey, "DisplayName", "Quorix"));
  ASSERT_EQ(kRegistryOk, registry_.WriteString(Hive::LocalMachine, kUninstallKey, "UninstallString", "/q/Uninstall.exe"));
  ASSERT_EQ(kRegistryOk, registry_.WriteString(Hive::LocalMachine, kAppKey, "AppDirectory", "/q"));

  EXPECT_EQ(kRegistryOk, registry_.DeleteKey(Hive::LocalMachine, "software\\microsoft\\windows\\currentversion\\uninstall\\QUORIX"));
  int code = -1;
  Read(Hive::LocalMachine, kUninstallKey, "DisplayName", &code);
  EXPECT_EQ(kRegistryNotFound, code);
  Read(Hive::LocalMachine, kUninstallKey, "UninstallString", &code);
  EXPECT_EQ(kRegistryNotFound, code);
  EXPECT_EQ("/q", Read(Hive::LocalMachine, kAppKey, "AppDirectory", &code));

  EXPECT_EQ(kRegistryNotFound, registry_.DeleteKey(Hive::LocalMachine, kUninstallKey));
  EXPECT_EQ(kRegistryNotFound, registry_.DeleteKey(Hive::CurrentUser, kAppKey));
  // Deleting from a hive that has no file creates nothing.
  struct stat st;
  EXPECT_NE(0, stat((tree_ / "config/websetup").c_str(), &st));
}

TEST_F(RegistryPosixTest, ProgramFilesFolderIsTheDataHomeUnlessStored) {
  const char* key = PosixRegistry::kCurrentVersionKey;
  int code = -1;
  EXPECT_EQ(tree_ / "data", Read(Hive::LocalMachine, key, "ProgramFilesDir", &code));
  EXPECT_EQ(kRegistryOk, code);
  EXPECT_EQ(tree_ / "data", Read(Hive::LocalMachine, "software\\microsoft\\windows\\currentversion", "programfilesdir", &code));
  Read(Hive::CurrentUser, key, "ProgramFilesDir", &code);
  EXPECT_EQ(kRegistryNotFound, code);
  ASSERT_EQ(kRegistryOk, registry_.WriteString(Hive::LocalMachine, key, "ProgramFilesDir", "/opt"));
  EXPECT_EQ("/opt", Read(Hive::LocalMachine, key, "ProgramFilesDir", &code));
}

TEST_F(RegistryPosixTest, DamagedStoreIsReadFromItsGoodCopyElseReportedAndNeverOverwritten) {
  struct Row {
    const char* name;
    std::string (*damage)(const std::string&);
  };
  const Row rows[] = {
      {"last byte cut", [](const std::string& s) { return s.substr(0, s.size() - 1); }},
      {"cut in half", [](const std::string& s) { return s.substr(0, s.size() / 2); }},
      {"header only", [](const std::string& s) { return s.substr(0, s.find('\n') + 1); }},
      {"empty file", [](const std::string&) { return std::string(); }},
      {"byte changed", [](const std::string& s) { std::string t = s; t[t.size() - 3] ^= 0x20; return t; }},
      {"bytes appended", [](const std::string& s) { return s + "[Extra]\n"; }},
      {"not a store", [](const std::string&) { return std::string("AppDirectory=/q\n"); }},
      {"other version", [](const std::string& s) { std::string t = s; t[t.find(' ') + 1] = '2'; return t; }},
  };
  const std::string path = PosixRegistry::HiveFile(Hive::LocalMachine);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    unlink(path.c_str());
    ASSERT_EQ(kRegistryOk, registry_.WriteString(Hive::LocalMachine, kAppKey, "AppDirectory", "/home/u/Quorix"));
    ASSERT_EQ(kRegistryOk, registry_.WriteString(Hive::LocalMachine, kUninstallKey, "DisplayName", "Quorix"));
    const std::string damaged = row.damage(ReadFile(path));
    WriteFile(path, damaged);

    // The last good copy answers, and the next write repairs the file.
    int code = -1;
    testing::internal::CaptureStderr();
    EXPECT_EQ("/home/u/Quorix", Read(Hive::LocalMachine, kAppKey, "AppDirectory", &code));
    EXPECT_EQ(kRegistryOk, code);
    EXPECT_EQ(kRegistryOk, registry_.WriteString(Hive::LocalMachine, kAppKey, "UserName", "ann"));
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("last good copy"));
    EXPECT_EQ("Quorix", Read(Hive::LocalMachine, kUninstallKey, "DisplayName", &code));
    EXPECT_EQ(ReadFile(path), ReadFile(path + ".good"));

    // Both damaged: nothing answers and nothing is overwritten.
    WriteFile(path, damaged);
    WriteFile(path + ".good", damaged);
    testing::internal::CaptureStderr();
    Read(Hive::LocalMachine, kAppKey, "AppDirectory", &code);
    EXPECT_EQ(EBADMSG, code);
    EXPECT_EQ(EBADMSG, registry_.WriteString(Hive::LocalMachine, kAppKey, "UserName", "x"));
    EXPECT_EQ(EBADMSG, registry_.DeleteKey(Hive::LocalMachine, kUninstallKey));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, log.find("damaged")) << log;
    EXPECT_NE(std::string::npos, log.find(path)) << log;
    EXPECT_EQ(damaged, ReadFile(path));
  }
}

// Two processes and two threads each add their own values to one key at the
// same time; every value must survive.
TEST_F(RegistryPosixTest, ConcurrentWritersLoseNothing) {
  constexpr int kPerWriter = 30;
  auto writeSeries = [](const std::string& prefix) {
    PosixRegistry registry;
    int failures = 0;
    for (int i = 0; i < kPerWriter; ++i) {
      if (registry.WriteString(Hive::LocalMachine, kAppKey, prefix + std::to_string(i), prefix) != kRegistryOk) ++failures;
    }
    return failures;
  };
  std::vector<pid_t> children;
  for (const char* prefix : {"procA", "procB"}) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(writeSeries(prefix) == 0 ? 0 : 1);
    children.push_back(pid);
  }
  int threadFailures[2] = {0, 0};
  std::thread a([&] { threadFailures[0] = writeSeries("threadA"); });
  std::thread b([&] { threadFailures[1] = writeSeries("threadB"); });
  a.join();
  b.join();
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(0, threadFailures[0] + threadFailures[1]);
  for (const std::string prefix : {"procA", "procB", "threadA", "threadB"}) {
    for (int i = 0; i < kPerWriter; ++i) {
      int code = -1;
      EXPECT_EQ(prefix, Read(Hive::LocalMachine, kAppKey, prefix + std::to_string(i), &code)) << prefix << i;
    }
  }
}

// A reader running beside a writer sees the old store or the new one, never
// a partial file, and no temporary file is left behind.
TEST_F(RegistryPosixTest, ReadersNeverSeeAPartlyWrittenStore) {
  ASSERT_EQ(kRegistryOk, registry_.WriteString(Hive::LocalMachine, kAppKey, "AppDirectory", "0"));
  const pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    PosixRegistry registry;
    for (int i = 1; i <= 60; ++i) {
      if (registry.WriteString(Hive::LocalMachine, kAppKey, "AppDirectory", std::string(i * 200, 'x')) != 0) _exit(1);
    }
    _exit(0);
  }
  int badReads = 0;
  int status = 0;
  while (waitpid(writer, &status, WNOHANG) == 0) {
    int code = -1;
    Read(Hive::LocalMachine, kAppKey, "AppDirectory", &code);
    if (code != kRegistryOk) ++badReads;
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(0, badReads);
  int code = -1;
  EXPECT_EQ(std::string(60 * 200, 'x'), Read(Hive::LocalMachine, kAppKey, "AppDirectory", &code));
  struct stat st;
  EXPECT_NE(0, stat((PosixRegistry::HiveFile(Hive::LocalMachine) + ".new").c_str(), &st));
}

TEST_F(RegistryPosixTest, UnwritableStoreFolderFailsWithTheSystemCode) {
  // The parent of the store's folder is a file, so the folder cannot be made
  // (even by root, which permission bits would not stop).
  WriteFile(tree_ / "data", "not a folder");
  const int code = registry_.WriteString(Hive::LocalMachine, kAppKey, "AppDirectory", "/q");
  EXPECT_EQ(ENOTDIR, code);
  EXPECT_EQ(ENOTDIR, errno);
}

}  // namespace
