#include "app/install_location.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/installer_app.h"
#include "app/settings_record.h"
#include "fakes/fake_os.h"
#include "fakes/fake_platform.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/processes_posix.h"
#include "platform/posix/registry_posix.h"
#include "platform/posix/shell_posix.h"
#include "support/temp_dir.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using platform::Hive;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

// Real registry store, shell and files, each call also written to one
// shared log so that the order of the steps can be checked.
struct CallLog {
  std::vector<std::string> calls;
};

class LoggedRegistry : public platform::Registry {
 public:
  explicit LoggedRegistry(CallLog& log) : log_(log) {}
  int ReadString(Hive hive, const std::string& key, const std::string& name, std::string* value) override {
    return real_.ReadString(hive, key, name, value);
  }
  int WriteString(Hive hive, const std::string& key, const std::string& name, const std::string& text) override {
    log_.calls.push_back("write " + key + " " + name + "=" + text);
    return real_.WriteString(hive, key, name, text);
  }
  int DeleteKey(Hive hive, const std::string& key) override {
    log_.calls.push_back("delete key " + key);
    return real_.DeleteKey(hive, key);
  }
  platform::PosixRegistry real_;

 private:
  CallLog& log_;
};

class LoggedShell : public platform::Shell {
 public:
  explicit LoggedShell(CallLog& log) : log_(log) {}
  std::string SpecialFolderPath(platform::SpecialFolder folder) override { return real_.SpecialFolderPath(folder); }
  int DeleteTree(const std::string& path, bool contentsOnly) override {
    log_.calls.push_back(std::string(contentsOnly ? "empty " : "delete tree ") + path);
    return real_.DeleteTree(path, contentsOnly);
  }
  int CopyTree(const std::string& from, const std::string& to) override { return real_.CopyTree(from, to); }
  int MoveTree(const std::string& from, const std::string& to) override { return real_.MoveTree(from, to); }

 private:
  platform::PosixShell real_;
  CallLog& log_;
};

class LoggedFiles : public platform::PosixFileSystem {
 public:
  std::string deniedFolder;  // its creation is refused, as a read-only parent refuses it

  explicit LoggedFiles(CallLog& log) : log_(log) {}
  bool RemoveFile(const std::string& path) override {
    log_.calls.push_back("delete file " + path);
    return PosixFileSystem::RemoveFile(path);
  }
  bool MakeDirectory(const std::string& path) override {
    if (path != deniedFolder) return PosixFileSystem::MakeDirectory(path);
    errno = EACCES;
    return false;
  }

 private:
  CallLog& log_;
};

// Each test runs with HOME and the XDG folders inside its own temporary
// tree, so the registry store, the menu and the desktop are its own.
class InstallLocationTest : public ::testing::Test {
 protected:
  InstallLocationTest()
      : registry(log), shell(log), files(log), application(MakePlatform()), savedCwd(fs::current_path()) {
    application.appName = "Quorix";
    application.appRegKey = "Software\\Quorix";
  }
  ~InstallLocationTest() override { fs::current_path(savedCwd); }

  static void SetUpTestSuite() {}

  platform::Platform MakePlatform() {
    setenv("HOME", home.path().c_str(), 1);
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("XDG_DESKTOP_DIR", (home / "Desktop").c_str(), 1);
    fs::create_directories(home / "data/applications");
    fs::create_directories(home / "Desktop");
    platform::Platform p;
    p.system = &system;
    p.dialogs = &dialogs;
    p.files = &files;
    p.registry = &registry;
    p.shell = &shell;
    p.processes = &processes;
    return p;
  }

  // A complete installation of Quorix in `folder`, registered, with its
  // shortcuts and a user name in its settings record.
  void Install(const std::string& folder, const std::string& userName) {
    fs::create_directories(folder + "/cfg");
    fs::create_directories(folder + "/qrx");
    WriteFile(folder + "/qrx/DlgMsg.qrx", "movie");
    WriteFile(folder + "/QuorixSalon.exe", "program");
    fs::current_path(folder);
    SettingsRecord record(files);
    ASSERT_EQ(app::DataResult::Ok, record.SetUserName(userName));
    ASSERT_EQ(record.Save(), DataResult::Ok);
    fs::current_path(savedCwd);
    ASSERT_EQ(registry.real_.WriteString(Hive::LocalMachine, "Software\\Quorix", "AppDirectory", folder), 0);
    const std::string uninstall = std::string(kUninstallKeyBase) + "Quorix";
    ASSERT_EQ(registry.real_.WriteString(Hive::LocalMachine, uninstall, "DisplayName", "Quorix"), 0);
    ASSERT_EQ(registry.real_.WriteString(Hive::LocalMachine, uninstall, "UninstallString", folder + "/Uninstall.exe"), 0);
    WriteFile(home / "data/applications/Quorix/Quorix.desktop", "[Desktop Entry]\n");
    WriteFile(home / "data/applications/Quorix/Uninstall.desktop", "[Desktop Entry]\n");
    WriteFile(home / "Desktop/Quorix.desktop", "[Desktop Entry]\n");
  }

  TempDir home;
  CallLog log;
  fakes::FakeSystem system;
  fakes::FakeDialogs dialogs;
  fakes::FakeProcesses processes;
  LoggedRegistry registry;
  LoggedShell shell;
  LoggedFiles files;
  CInstallerApp application;
  fs::path savedCwd;
};

TEST_F(InstallLocationTest, NothingRegisteredProposesTheDataFolder) {
  std::string proposal = "x";
  EXPECT_TRUE(application.FindInstallation(proposal));
  const std::string expected = home.path() + "/data/Quorix";
  EXPECT_EQ(application.installDir.str(), expected);
  EXPECT_EQ(proposal, "Quorix~" + expected);
}

TEST_F(InstallLocationTest, RegisteredFolderIsTakenAsItStands) {
  ASSERT_EQ(registry.real_.WriteString(Hive::LocalMachine, "software\\QUORIX", "appdirectory", "/games/Quorix"), 0);
  std::string proposal = "x";
  EXPECT_FALSE(application.FindInstallation(proposal));
  EXPECT_EQ(application.installDir.str(), "/games/Quorix");
  EXPECT_EQ(proposal, "");
}

TEST_F(InstallLocationTest, DamagedRegistryStoreNeverCostsTheInstallation) {
  const std::string folder = home / "data/Quorix";
  Install(folder, "ann");
  // One changed byte: the last good copy still knows the installation.
  const std::string store = home / "data/websetup/registry-machine";
  std::string bytes = ReadFile(store);
  bytes[bytes.size() - 2] ^= 0x01;
  WriteFile(store, bytes);
  std::string proposal;
  EXPECT_FALSE(application.FindInstallation(proposal));
  EXPECT_EQ(application.installDir.str(), folder);

  // Both copies damaged: a fresh installation is proposed, but the folder
  // that holds the installation is not emptied.
  WriteFile(store, "garbage that is no store\n");
  WriteFile(store + ".good", "garbage that is no store\n");
  EXPECT_TRUE(application.FindInstallation(proposal));
  EXPECT_EQ(application.installDir.str(), folder);
  EXPECT_EQ(application.PrepareInstallDir(folder), PrepareResult::RegistryUnreadable);
  EXPECT_TRUE(fs::exists(folder + "/QuorixSalon.exe"));
  EXPECT_FALSE(application.removeOnFailure);
  EXPECT_EQ(ReadFile(store), "garbage that is no store\n");
}

// A folder left by a run that was killed carries this application's marker:
// it is emptied and reused, never nested into. Another application's marker
// is someone's files.
TEST_F(InstallLocationTest, HalfMadeInstallationIsEmptiedAndReused) {
  const std::string folder = home / "data/Quorix";
  WriteFile(folder + "/" + kIncompleteMarker, "Quorix");
  WriteFile(folder + "/Update/Salon.exe", "partial");
  WriteFile(folder + "/Extract/a.bin", "x");
  EXPECT_EQ(application.PrepareInstallDir(folder), PrepareResult::Ok);
  EXPECT_EQ(application.installDir.str(), folder);
  EXPECT_FALSE(fs::exists(folder + "/Update"));
  EXPECT_FALSE(fs::exists(folder + "/Extract"));
  EXPECT_FALSE(fs::exists(folder + "/Quorix"));

  const std::string other = home / "Other";
  WriteFile(other + "/" + kIncompleteMarker, "Plenvarico");
  EXPECT_EQ(application.PrepareInstallDir(other), PrepareResult::Ok);
  EXPECT_EQ(application.installDir.str(), other + "/Quorix");
  EXPECT_EQ(ReadFile(other + "/" + kIncompleteMarker), "Plenvarico");
}

TEST_F(InstallLocationTest, CompleteOnlyWithRecordAndLauncherAndWithoutMarker) {
  const std::string folder = home / "data/Quorix";
  Install(folder, "ann");
  EXPECT_FALSE(InstallationComplete(files, folder, "Quorix.exe"));
  WriteFile(folder + "/Quorix.exe", "launcher");
  EXPECT_TRUE(InstallationComplete(files, folder, "Quorix.exe"));
  ASSERT_TRUE(WriteIncompleteMarker(files, folder, "Quorix"));
  EXPECT_FALSE(InstallationComplete(files, folder, "Quorix.exe"));
  ASSERT_TRUE(RemoveIncompleteMarker(files, folder));
  EXPECT_TRUE(InstallationComplete(files, folder, "Quorix.exe"));
}

TEST_F(InstallLocationTest, SomeonesFolderKeepsEveryFile) {
  const std::string chosen = home / "Documents";
  WriteFile(chosen + "/thesis.odt", "years of work");
  WriteFile(chosen + "/photos/cat.jpg", "cat");
  EXPECT_EQ(application.PrepareInstallDir(chosen), PrepareResult::Ok);
  EXPECT_EQ(ReadFile(chosen + "/thesis.odt"), "years of work");
  EXPECT_EQ(ReadFile(chosen + "/photos/cat.jpg"), "cat");
  EXPECT_EQ(application.installDir.str(), chosen + "/Quorix");
  EXPECT_TRUE(fs::is_directory(chosen + "/Quorix/cfg"));
  EXPECT_EQ(fs::current_path(), fs::path(chosen + "/Quorix"));
  EXPECT_TRUE(application.removeOnFailure);

  // Taking the half-made installation away again leaves their files too.
  RemoveInstallation(application, application.installDir.str(), "Quorix");
  EXPECT_FALSE(fs::exists(chosen + "/Quorix"));
  EXPECT_EQ(ReadFile(chosen + "/thesis.odt"), "years of work");
  EXPECT_EQ(ReadFile(chosen + "/photos/cat.jpg"), "cat");
}

TEST_F(InstallLocationTest, ForeignApplicationSubFolderStopsBeforeAnythingIsDeleted) {
  const std::string chosen = home / "Games";
  WriteFile(chosen + "/other.sav", "save");
  WriteFile(chosen + "/Quorix/notes.txt", "mine");
  EXPECT_EQ(application.PrepareInstallDir(chosen), PrepareResult::ForeignFiles);
  EXPECT_EQ(ReadFile(chosen + "/other.sav"), "save");
  EXPECT_EQ(ReadFile(chosen + "/Quorix/notes.txt"), "mine");
  EXPECT_FALSE(application.removeOnFailure);
  EXPECT_TRUE(log.calls.empty());
}

TEST_F(InstallLocationTest, EarlierInstallationIsEmptiedInPlace) {
  const std::string folder = home / "data/Quorix";
  Install(folder, "ann");
  fs::create_directories(folder + "/qrx/deep/er");
  EXPECT_EQ(application.PrepareInstallDir(folder), PrepareResult::Ok);
  EXPECT_EQ(application.installDir.str(), folder);
  EXPECT_TRUE(fs::is_directory(folder + "/cfg"));
  EXPECT_TRUE(fs::is_empty(folder + "/cfg"));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
  EXPECT_EQ(ReadFile(folder + "/" + kIncompleteMarker), "Quorix");
}

TEST_F(InstallLocationTest, NewAndEmptyFoldersAreUsedDirectly) {
  for (const std::string& folder : {home / "new", home / "empty"}) {
    if (folder.ends_with("empty")) fs::create_directories(folder);
    EXPECT_EQ(application.PrepareInstallDir(folder), PrepareResult::Ok) << folder;
    EXPECT_EQ(application.installDir.str(), folder);
    EXPECT_TRUE(fs::is_directory(folder + "/cfg")) << folder;
    EXPECT_EQ(fs::current_path(), fs::path(folder));
  }
}

TEST_F(InstallLocationTest, MissingParentFoldersAreMadeToo) {
  const std::string folder = home / "missing/parent/Quorix";
  EXPECT_EQ(application.PrepareInstallDir(folder), PrepareResult::Ok);
  EXPECT_TRUE(fs::is_directory(folder + "/cfg"));
}

TEST_F(InstallLocationTest, FolderThatCannotBeMadeIsReported) {
  WriteFile(home / "afile", "x");
  const std::string folder = home / "afile/Quorix";
  EXPECT_EQ(application.PrepareInstallDir(folder), PrepareResult::NotCreatable);
  EXPECT_EQ(system.LastErrorCode(), ENOTDIR);
  EXPECT_EQ(fs::current_path(), savedCwd);
  EXPECT_EQ(ReadFile(home / "afile"), "x");

  // The level that was refused gives the reason, not the level below it.
  files.deniedFolder = home / "denied";
  EXPECT_EQ(application.PrepareInstallDir(home / "denied/games/Quorix"), PrepareResult::NotCreatable);
  EXPECT_EQ(system.LastErrorCode(), EACCES);
}

TEST_F(InstallLocationTest, RemovalOnACleanMachineDeletesNothing) {
  WriteFile(home / "data/applications/other.desktop", "x");
  WriteFile(home / "Desktop/other.desktop", "x");
  RemoveInstallation(application, "", "Quorix");
  EXPECT_TRUE(fs::exists(home / "data/applications/other.desktop"));
  EXPECT_TRUE(fs::exists(home / "Desktop/other.desktop"));
  std::string value;
  EXPECT_EQ(registry.real_.ReadString(Hive::CurrentUser, "Software\\Quorix", "UserName", &value), 2);
  EXPECT_EQ(fs::current_path(), savedCwd);
}

TEST_F(InstallLocationTest, RemovalTakesEverythingAwayInOrderAndKeepsTheUserName) {
  const std::string folder = home / "data/Quorix";
  Install(folder, "ann");
  WriteFile(home / "data/applications/other.desktop", "x");
  processes.Add(4001, "QuorixSalon.exe", false, folder + "/QuorixSalon.exe");
  processes.Add(4002, "quorix.exe", false, folder + "/quorix.exe");
  // A second installer saved beside the downloads is not the client's.
  processes.Add(4003, "QuorixSetup.exe", false, home / "Downloads/QuorixSetup.exe");
  processes.Add(4004, "QuorixSalon.exe", false, folder + "-old/QuorixSalon.exe");
  application.installDir = folder;
  application.keepUserName = true;

  RemoveInstallation(application, "", "Quorix");

  const std::string apps = home / "data/applications/Quorix";
  const std::string uninstall = std::string(kUninstallKeyBase) + "Quorix";
  EXPECT_EQ(log.calls, (std::vector<std::string>{
                           "delete tree " + apps,
                           "delete file " + (home / "Desktop/Quorix.desktop"),
                           "delete key " + uninstall,
                           "write Software\\Quorix UserName=ann",
                           // The folder keeps its marker until everything else is gone.
                           "delete tree " + folder + "/QuorixSalon.exe",
                           "delete tree " + folder + "/cfg",
                           "delete tree " + folder + "/qrx",
                           "delete tree " + folder,
                           "delete key Software\\Quorix",
                       }));
  ASSERT_EQ(processes.Kills().size(), 1u);
  EXPECT_EQ(processes.Kills()[0].pid, 4001);
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_FALSE(fs::exists(apps));
  EXPECT_FALSE(fs::exists(home / "Desktop/Quorix.desktop"));
  EXPECT_TRUE(fs::exists(home / "data/applications/other.desktop"));
  std::string value;
  EXPECT_EQ(registry.real_.ReadString(Hive::LocalMachine, "Software\\Quorix", "AppDirectory", &value), 2);
  EXPECT_EQ(registry.real_.ReadString(Hive::LocalMachine, uninstall, "DisplayName", &value), 2);
  ASSERT_EQ(registry.real_.ReadString(Hive::CurrentUser, "Software\\Quorix", "UserName", &value), 0);
  EXPECT_EQ(value, "ann");
}

TEST_F(InstallLocationTest, RegistrationNamingSomeonesFolderDoesNotCostTheirFiles) {
  const std::string folder = home / "Documents";
  WriteFile(folder + "/thesis.odt", "years of work");
  ASSERT_EQ(registry.real_.WriteString(Hive::LocalMachine, "Software\\Quorix", "AppDirectory", folder), 0);
  RemoveInstallation(application, "", "Quorix");
  EXPECT_EQ(ReadFile(folder + "/thesis.odt"), "years of work");
  std::string value;
  EXPECT_EQ(registry.real_.ReadString(Hive::LocalMachine, "Software\\Quorix", "AppDirectory", &value), 2);
}

TEST_F(InstallLocationTest, RegistryHelpersCutAndTraceFailures) {
  std::vector<std::string> traced;
  SetTraceHook([&](const std::string& message, const std::string& function, const auto& pairs) {
    traced.push_back(function + ": " + message + " [" + pairs.at(0).second + "|" + pairs.at(1).second + "]");
  });
  ASSERT_EQ(RegWriteString(registry, Hive::CurrentUser, "Software\\Quorix", "UserName", "abcdefgh"), 0);
  std::string value = "unchanged";
  EXPECT_EQ(RegReadString(registry, Hive::CurrentUser, "Software\\Quorix", "UserName", &value, 5), 0);
  EXPECT_EQ(value, "abcd");
  value = "unchanged";
  EXPECT_EQ(RegReadString(registry, Hive::CurrentUser, "Software\\Other", "UserName", &value, 100), 2);
  EXPECT_EQ(value, "unchanged");
  SetTraceHook(nullptr);
  EXPECT_EQ(traced, std::vector<std::string>{
                        "RegReadString: Error opening registry key [Software\\Other|UserName]"});
}

// Real processes: programs named like the client's modules are stopped,
// a name in another letter case and the caller itself are not.
TEST(StopProcessesTest, StopsRealProcessesByCaseSensitivePrefix) {
  TempDir dir;
  const std::string prefix = "Qx" + std::to_string(getpid());  // no other test's processes match
  const std::vector<std::string> names = {prefix + ".exe", prefix + "Helper.exe", "qx" + std::to_string(getpid()) + ".exe"};
  for (const auto& name : names) fs::copy_file("/bin/sleep", dir / name);
  platform::PosixProcesses processes;
  for (const auto& name : names) ASSERT_EQ(processes.RunProgram(dir.path(), name, "30", true, false), 0) << name;

  auto running = [&](const std::string& name) {
    for (const auto& p : processes.Snapshot()) {
      if (p.exeName == name) return true;
    }
    return false;
  };
  for (int i = 0; i < 200 && !(running(names[0]) && running(names[1]) && running(names[2])); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(running(names[0]) && running(names[1]) && running(names[2]));

  int pauses = 0;
  EXPECT_EQ(StopProcessesByPrefix(processes, prefix, dir.path() + "/elsewhere", [&] { ++pauses; }), 2);
  EXPECT_EQ(StopProcessesByPrefix(processes, prefix, dir.path(), [&] { ++pauses; }), 1);
  EXPECT_EQ(pauses, 2);
  for (int i = 0; i < 200 && (running(names[0]) || running(names[1])); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_FALSE(running(names[0]));
  EXPECT_FALSE(running(names[1]));
  EXPECT_TRUE(running(names[2]));

  EXPECT_EQ(StopProcessesByPrefix(processes, prefix + "Nothing", dir.path(), [] {}), 2);
  EXPECT_EQ(StopProcessesByPrefix(processes, "qx" + std::to_string(getpid()), dir.path(), [] {}), 1);
}

// An empty name or folder stops nothing: every process would match.
TEST(StopProcessesTest, EmptyNameOrFolderStopsNothing) {
  fakes::FakeProcesses processes;
  processes.Add(10, "QuorixSalon.exe", false, "/home/ann/Quorix/QuorixSalon.exe");
  processes.Add(11, "bash", false, "/usr/bin/bash");
  EXPECT_EQ(StopProcessesByPrefix(processes, "", "/home/ann/Quorix", [] {}), 2);
  EXPECT_EQ(StopProcessesByPrefix(processes, "", "/", [] {}), 2);
  EXPECT_EQ(StopProcessesByPrefix(processes, "Quorix", "", [] {}), 2);
  EXPECT_TRUE(processes.Kills().empty());
}

TEST(StopProcessesTest, NeverStopsTheCaller) {
  fakes::FakeProcesses processes;
  processes.currentPid = 500;
  processes.Add(500, "QuorixSetup.exe", false, "/opt/QuorixSetup.exe");
  EXPECT_EQ(StopProcessesByPrefix(processes, "Quorix", "/", [] {}), 2);
  EXPECT_TRUE(processes.Kills().empty());
}

}  // namespace
}  // namespace app
