#include "finish/launch_client.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/installer_app.h"
#include "app/settings_record.h"
#include "fakes/fake_os.h"
#include "fakes/fake_platform.h"
#include "platform/posix/posix_file_system.h"
#include "support/temp_dir.h"

namespace finish {
namespace {

namespace fs = std::filesystem;

struct LobbyRow {
  std::string folder;
  std::string prefix;
  std::string directory;
  std::string program;
  std::string argument;
};

TEST(LaunchClientAfterInstallTest, StartsTheLobbyWithTheFolderAsOneWord) {
  const LobbyRow rows[] = {
      {"/opt/Program Files/Quorix", "Quorix", "/opt/Program Files/Quorix", "QuorixSalon.exe",
       "/opt/Program~Files/Quorix"},
      {"/opt/Program Files/Quorix/", "Quorix", "/opt/Program Files/Quorix", "QuorixSalon.exe",
       "/opt/Program~Files/Quorix"},
      {"/games/q  two", "Plenvarico", "/games/q  two", "PlenvaricoSalon.exe", "/games/q~~two"},
      {"/games/quorix", "", "/games/quorix", "Salon.exe", "/games/quorix"},
  };
  for (const LobbyRow& row : rows) {
    SCOPED_TRACE(row.folder + " | " + row.prefix);
    fakes::FakeProcesses processes;
    LaunchClientAfterInstall(processes, row.folder, row.prefix);
    const auto runs = processes.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].directory, row.directory);
    EXPECT_EQ(runs[0].file, row.program);
    EXPECT_EQ(runs[0].argument, row.argument);
    EXPECT_TRUE(runs[0].show);
    EXPECT_FALSE(runs[0].wait);
  }
}

// "Play" on an installed client: the record in the install folder names the
// prefix and the launcher.
class LaunchInstalledClientTest : public ::testing::Test {
 protected:
  LaunchInstalledClientTest() : savedCwd(fs::current_path()) {
    platform::Platform p;
    p.system = &system;
    p.dialogs = &dialogs;
    p.files = &files;
    p.processes = &processes;
    p.registry = &registry;
    p.shell = &shell;
    application = std::make_unique<app::CInstallerApp>(p);
    application->appName = "Quorix";
    application->installDir = installDir;
    fs::create_directories(installDir + "/cfg");
    fs::current_path(installDir);
    app::SettingsRecord record(files);
    EXPECT_EQ(app::DataResult::Ok, record.ApplyServerReply("~sn=1", std::string_view("Quorix")));
    EXPECT_EQ(app::DataResult::Ok, record.SetIdentity("Quorix", "Quorix.exe", "tessmark", "orbelta"));
    fs::current_path(savedCwd);
  }
  ~LaunchInstalledClientTest() override { fs::current_path(savedCwd); }

  testing_support::TempDir temp;
  const std::string installDir = temp / "Quorix Games";
  fakes::FakeSystem system;
  fakes::FakeDialogs dialogs;
  fakes::FakeProcesses processes;
  fakes::FakeRegistry registry;
  fakes::FakeShell shell;
  platform::PosixFileSystem files;
  std::unique_ptr<app::CInstallerApp> application;
  fs::path savedCwd;
};

TEST_F(LaunchInstalledClientTest, RunningLobbyIsBroughtForwardAndNothingStarts) {
  processes.Add(42, "QuorixSalon.exe", true);
  EXPECT_EQ(LaunchInstalledClient(*application), PlayResult::Raised);
  EXPECT_EQ(processes.Raised(), std::vector<int>{42});
  EXPECT_TRUE(processes.Runs().empty());
  EXPECT_EQ(fs::current_path(), fs::path(installDir));
}

TEST_F(LaunchInstalledClientTest, WithoutARunningLobbyWindowTheLauncherStarts) {
  struct Row {
    const char* name;
    int pid;
    const char* exe;
    bool window;
  };
  const Row rows[] = {
      {"no process", 0, "", false},
      {"lobby without a window", 43, "QuorixSalon.exe", false},
      {"this process", 1000, "QuorixSalon.exe", true},
      {"other program", 44, "OtherSalon.exe", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fakes::FakeProcesses table;
    if (row.pid != 0) table.Add(row.pid, row.exe, row.window);
    platform::Platform p = application->Platform();
    p.processes = &table;
    app::CInstallerApp play(p);
    play.appName = "Quorix";
    play.installDir = installDir;
    EXPECT_EQ(LaunchInstalledClient(play), PlayResult::Started);
    EXPECT_TRUE(table.Raised().empty());
    const auto runs = table.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].directory, installDir);
    EXPECT_EQ(runs[0].file, "Quorix.exe");
    EXPECT_FALSE(runs[0].argument.has_value());
    EXPECT_TRUE(runs[0].show);
    EXPECT_FALSE(runs[0].wait);
  }
}

// A launcher that cannot start is said, and the installation is offered
// again in place of the old one, keeping the user's name.
TEST_F(LaunchInstalledClientTest, LauncherThatCannotStartOffersTheInstallationAgain) {
  processes.runResult = 1;
  PlayOrOfferInstallation(*application);
  ASSERT_EQ(dialogs.Boxes().size(), 1u);
  EXPECT_NE(dialogs.Boxes()[0].text.find("could not be started"), std::string::npos) << dialogs.Boxes()[0].text;
  EXPECT_TRUE(application->keepUserName);
  const auto deletes = shell.Deletes();
  ASSERT_FALSE(deletes.empty());
  EXPECT_EQ(deletes.back().path, installDir) << "the old installation stays";
}

}  // namespace
}  // namespace finish
