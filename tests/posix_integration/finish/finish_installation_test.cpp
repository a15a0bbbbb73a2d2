#include "finish/finish_installation.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

#include "app/settings_record.h"
#include "fakes/fake_http.h"
#include "fakes/fake_os.h"
#include "fakes/fake_platform.h"
#include "net/request_forms.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/registry_posix.h"
#include "platform/posix/shell_posix.h"
#include "platform/posix/shortcuts_posix.h"
#include "support/temp_dir.h"

namespace finish {
namespace {

namespace fs = std::filesystem;
using platform::Hive;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

// The real registry store, made to fail every write when `failWith` is set.
class SwitchableRegistry : public platform::Registry {
 public:
  int failWith = 0;
  int ReadString(Hive hive, const std::string& key, const std::string& name, std::string* value) override {
    return real.ReadString(hive, key, name, value);
  }
  int WriteString(Hive hive, const std::string& key, const std::string& name, const std::string& text) override {
    if (failWith != 0) {
      errno = failWith;
      return failWith;
    }
    return real.WriteString(hive, key, name, text);
  }
  int DeleteKey(Hive hive, const std::string& key) override { return real.DeleteKey(hive, key); }
  platform::PosixRegistry real;
};

// Real desktop entries; call number `failCall` (1-based) fails with EIO.
class CountingShortcuts : public platform::Shortcuts {
 public:
  int failCall = 0;
  int calls = 0;
  int CreateShortcut(const std::string& linkPath, const std::string& target, const std::string& workingFolder,
                     const std::string& description, const std::optional<std::string>& iconPath) override {
    if (++calls == failCall) {
      errno = EIO;
      return 1;
    }
    return real.CreateShortcut(linkPath, target, workingFolder, description, iconPath);
  }
  platform::PosixShortcuts real;
};

// The dialog port: records each close with the number of programs started
// before it.
class RecordingDialog : public app::InstallerDialogPort {
 public:
  explicit RecordingDialog(fakes::FakeProcesses& processes) : processes_(processes) {}
  void AnswerMovie(const std::string&, const std::string&, const std::optional<std::string>&) override {}
  void PostCloseDialog(uintptr_t askFirst) override { posted.push_back(askFirst); }
  void CloseDialogNow() override { closedAfterRuns.push_back(processes_.Runs().size()); }
  void EndModal(int) override {}
  std::vector<size_t> closedAfterRuns;
  std::vector<uintptr_t> posted;

 private:
  fakes::FakeProcesses& processes_;
};

using Form = std::map<std::string, std::string>;

Form ParseForm(const std::string& body) {
  Form form;
  std::stringstream in(body);
  std::string pair;
  while (std::getline(in, pair, '&')) {
    const size_t eq = pair.find('=');
    form[net::FormDecode(pair.substr(0, eq))] = eq == std::string::npos ? "" : net::FormDecode(pair.substr(eq + 1));
  }
  return form;
}

// The fields of a desktop entry file.
std::map<std::string, std::string> EntryFields(const std::string& path) {
  std::map<std::string, std::string> fields;
  std::stringstream in(ReadFile(path));
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return fields;
}

std::string RecordText(const app::SettingsRecord& record, size_t offset, size_t width) {
  const auto& bytes = record.bytes();
  std::string text;
  for (size_t i = offset; i < offset + width && bytes[i] != 0; ++i) text.push_back(static_cast<char>(bytes[i]));
  return text;
}

// Each test has its own HOME and XDG tree (registry store, menu, desktop)
// and an install folder with a space in its path, holding the downloaded
// updater and a settings record with the client prefix.
class FinishTest : public ::testing::Test {
 protected:
  FinishTest() : dialog(processes), application(MakePlatform()), savedCwd(fs::current_path()) {
    application.appName = "Quorix";
    application.launcherFile = "Quorix.exe";
    application.appRegKey = "Software\\Quorix";
    application.affiliate = "orbelta";
    application.affiliateSub = "tessmark";
    application.serverSerial = "100001";
    application.sessionId = "TESTPC_1_042";
    application.serverHost = "127.0.0.1";
    application.serverPort = 8443;
    application.serverAddress.host = "127.0.0.1";
    application.serverAddress.directory = "UpdateServlet";
    application.serverAddress.port = 8443;
    application.installDir = installDir;
    application.removeOnFailure = true;
    fs::create_directories(installDir + "/cfg");
    WriteFile(installDir + "/Updater.exe", "updater program");
    fs::current_path(installDir);
    app::SettingsRecord record(files);
    EXPECT_EQ(app::DataResult::Ok, record.ApplyServerReply("~sn=100001~cv=1.0~cb=7", std::string_view("Quorix")));
  }
  ~FinishTest() override {
    application.Reports().WaitForReports();
    fs::current_path(savedCwd);
  }

  platform::Platform MakePlatform() {
    setenv("HOME", home.path().c_str(), 1);
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("XDG_DESKTOP_DIR", (home / "Desktop").c_str(), 1);
    platform::Platform p;
    p.system = &system;
    p.dialogs = &dialogs;
    p.files = &files;
    p.registry = &registry;
    p.shell = &shell;
    p.processes = &processes;
    p.http = &http;
    p.shortcuts = &shortcuts;
    return p;
  }

  void Finish() {
    FinishInstallation(application, dialog);
    application.Reports().WaitForReports();
  }

  std::vector<Form> Sent(const std::string& servlet) const {
    std::vector<Form> forms;
    for (const auto& request : http.Requests()) {
      if (request.objectName.find(servlet) != std::string::npos) forms.push_back(ParseForm(request.body));
    }
    return forms;
  }

  std::string Registered(const std::string& key, const std::string& name) {
    std::string value;
    return registry.real.ReadString(Hive::LocalMachine, key, name, &value) == 0 ? value : "<absent>";
  }

  TempDir home;
  const std::string installDir = home / "My Games/Quorix";
  const std::string menuFolder = home / "data/applications/Quorix";
  fakes::FakeSystem system;
  fakes::FakeDialogs dialogs;
  fakes::FakeProcesses processes;
  fakes::FakeHttpClient http;
  platform::PosixFileSystem files;
  platform::PosixShell shell;
  SwitchableRegistry registry;
  CountingShortcuts shortcuts;
  RecordingDialog dialog;
  app::CInstallerApp application;
  fs::path savedCwd;
};

TEST_F(FinishTest, SuccessRegistersLinksHandsOverReportsOnceStartsTheLobbyAndCloses) {
  WriteFile(menuFolder + "/stale.desktop", "left by an earlier installation");
  Finish();

  // Registration.
  EXPECT_EQ(Registered("Software\\Quorix", "AppDirectory"), installDir);
  const std::string uninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorix";
  EXPECT_EQ(Registered(uninstallKey, "DisplayName"), "Quorix");
  EXPECT_EQ(Registered(uninstallKey, "UninstallString"), installDir + "/Uninstall.exe");

  // Shortcuts: a fresh menu folder with two entries, and the desktop entry.
  EXPECT_FALSE(fs::exists(menuFolder + "/stale.desktop"));
  struct Link {
    std::string file, name, exec, icon;
  };
  const Link links[] = {
      {menuFolder + "/Quorix.desktop", "Quorix", installDir + "/Quorix.exe", installDir + "/AppSmall.ico"},
      {menuFolder + "/Uninstall.desktop", "Uninstall", installDir + "/Uninstall.exe",
       installDir + "/UninstallSmall.ico"},
      {home / "Desktop/Quorix.desktop", "Quorix", installDir + "/Quorix.exe", installDir + "/AppBig.ico"},
  };
  for (const Link& link : links) {
    SCOPED_TRACE(link.file);
    const auto fields = EntryFields(link.file);
    EXPECT_EQ(fields.count("Type") ? fields.at("Type") : "", "Application");
    EXPECT_EQ(fields.count("Name") ? fields.at("Name") : "", link.name);
    EXPECT_EQ(fields.count("Comment") ? fields.at("Comment") : "", "Quorix");
    EXPECT_EQ(fields.count("Exec") ? fields.at("Exec") : "", "\"" + link.exec + "\"");
    EXPECT_EQ(fields.count("Path") ? fields.at("Path") : "", installDir);
    EXPECT_EQ(fields.count("Icon") ? fields.at("Icon") : "", link.icon);
    struct stat st {};
    ASSERT_EQ(stat(link.file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
  }

  // Identity in the settings record.
  app::SettingsRecord record(files);
  ASSERT_FALSE(record.LoadFrom(installDir));
  EXPECT_EQ(RecordText(record, 596, 31), "Quorix");
  EXPECT_EQ(RecordText(record, 627, 31), "Quorix.exe");
  EXPECT_EQ(RecordText(record, 658, 41), "tessmark");
  EXPECT_EQ(RecordText(record, 735, 101), "orbelta");

  // The updater is now the launcher.
  EXPECT_FALSE(fs::exists(installDir + "/Updater.exe"));
  EXPECT_EQ(ReadFile(installDir + "/Quorix.exe"), "updater program");

  // One closing pixel and one FINISH report, without lem.
  const auto pixels = Sent("PixelServlet");
  ASSERT_EQ(pixels.size(), 1u);
  EXPECT_EQ(pixels[0].at("ac"), "20");
  const auto reports = Sent("UpdateServlet");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].at("txt"), "FINISH");
  EXPECT_EQ(reports[0].at("ier"), "100");
  EXPECT_EQ(reports[0].at("ies"), "100");
  EXPECT_EQ(reports[0].count("lem"), 0u);
  EXPECT_EQ(reports[0].count("parm1"), 0u);
  EXPECT_EQ(application.stats.finalCode.load(), 100);
  EXPECT_TRUE(dialogs.Boxes().empty());

  // The lobby, with the folder as one space-free word, then the close.
  const auto runs = processes.Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].directory, installDir);
  EXPECT_EQ(runs[0].file, "QuorixSalon.exe");
  EXPECT_EQ(runs[0].argument, home.path() + "/My~Games/Quorix");
  EXPECT_TRUE(runs[0].show);
  EXPECT_FALSE(runs[0].wait);
  EXPECT_EQ(dialog.closedAfterRuns, std::vector<size_t>{1});
  EXPECT_TRUE(dialog.posted.empty());
}

// One failing step per row, each with and without the removal of the
// installation.
struct FailureRow {
  const char* name;
  std::function<void(FinishTest&)> arrange;
  int32_t finalCode;
  const char* boxDetail;
  const char* boxTail;  // the lines after "Cause"; "<dir>" stands for the install folder
  const char* lem;
  std::vector<std::string> parms;  // "<dir>" as above
};

void PrintTo(const FailureRow& row, std::ostream* out) { *out << row.name; }

class FinishFailureTest : public FinishTest, public ::testing::WithParamInterface<std::tuple<FailureRow, bool>> {
 public:
  void ArrangeRow(const FailureRow& row) { row.arrange(*this); }
  SwitchableRegistry& Registry() { return registry; }
  CountingShortcuts& Shortcuts() { return shortcuts; }
  TempDir& Home() { return home; }
  const std::string& InstallDir() const { return installDir; }
};

std::string WithDir(std::string text, const std::string& dir) {
  for (size_t at; (at = text.find("<dir>")) != std::string::npos;) text.replace(at, 5, dir);
  return text;
}

const FailureRow kFailureRows[] = {
    {"RegistryWrite", [](FinishTest& t) { static_cast<FinishFailureTest&>(t).Registry().failWith = EACCES; }, 43,
     "Registry entries creation failed", "\nKey: Software\\Quorix", "Permission denied\r\n",
     {"Software\\Quorix", "<dir>"}},
    {"MenuFolder",
     [](FinishTest& t) { WriteFile(static_cast<FinishFailureTest&>(t).Home() / "data/applications", "a file"); }, 41,
     "Start Menu folder creation failed", "", "Not a directory\r\n", {}},
    {"MenuShortcut", [](FinishTest& t) { static_cast<FinishFailureTest&>(t).Shortcuts().failCall = 2; }, 42,
     "Creating start menu shortcut failed", "", "Input/output error\r\n", {}},
    {"DesktopShortcut",
     [](FinishTest& t) {
       const std::string desktop = static_cast<FinishFailureTest&>(t).Home() / "desk-is-a-file";
       WriteFile(desktop, "a file");
       setenv("XDG_DESKTOP_DIR", desktop.c_str(), 1);
     },
     44, "Creating desktop shortcut failed", "", "Not a directory\r\n", {}},
    {"RecordCannotBeSaved",
     [](FinishTest& t) { fs::create_directories(static_cast<FinishFailureTest&>(t).InstallDir() + "/cfg/ovl.cfg.new"); },
     45, "Settings file saving failed", "\nFile: cfg\\ovl.cfg", "Is a directory\r\n", {"cfg\\ovl.cfg"}},
    {"UpdaterMissing", [](FinishTest& t) { fs::remove(static_cast<FinishFailureTest&>(t).InstallDir() + "/Updater.exe"); },
     37, "Rename file failed", "\nFrom: <dir>/Updater.exe\nTO: Quorix.exe", "No such file or directory\r\n",
     {"Quorix.exe"}},
    {"LauncherPresent",
     [](FinishTest& t) { WriteFile(static_cast<FinishFailureTest&>(t).InstallDir() + "/Quorix.exe", "older"); }, 37,
     "Rename file failed", "\nFrom: <dir>/Updater.exe\nTO: Quorix.exe", "File exists\r\n", {"Quorix.exe"}},
};

TEST_P(FinishFailureTest, EndsWithItsCodeBoxAndReportAndStartsNothing) {
  const auto& [row, removeOnFailure] = GetParam();
  SCOPED_TRACE(row.name);
  application.removeOnFailure = removeOnFailure;
  ArrangeRow(row);
  Finish();

  EXPECT_EQ(application.stats.finalCode.load(), row.finalCode);
  const auto boxes = dialogs.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  const std::string expectedBox = std::string("An error has occurred\nPlease contact technical support.\n\nDetalis: ") +
                                  row.boxDetail + "\nCause: " + row.lem + WithDir(row.boxTail, installDir);
  EXPECT_EQ(boxes[0].text, expectedBox);
  EXPECT_EQ(boxes[0].style, platform::BoxStyle::Error);

  const auto pixels = Sent("PixelServlet");
  ASSERT_EQ(pixels.size(), 1u);
  EXPECT_EQ(pixels[0].at("ac"), "21");
  const auto reports = Sent("UpdateServlet");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].at("txt"), "FINISH");
  EXPECT_EQ(reports[0].at("ier"), std::to_string(row.finalCode));
  EXPECT_EQ(reports[0].count("lem") ? reports[0].at("lem") : "<absent>", row.lem);
  for (size_t i = 0; i < 4; ++i) {
    const std::string name = "parm" + std::to_string(i + 1);
    const std::string expected = i < row.parms.size() ? WithDir(row.parms[i], installDir) : "<absent>";
    EXPECT_EQ(reports[0].count(name) ? reports[0].at(name) : "<absent>", expected) << name;
  }

  EXPECT_TRUE(processes.Runs().empty());
  EXPECT_EQ(dialog.closedAfterRuns, std::vector<size_t>{0});
  EXPECT_EQ(fs::exists(installDir), !removeOnFailure);
  if (removeOnFailure) {
    EXPECT_FALSE(fs::exists(menuFolder));
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, FinishFailureTest,
                         ::testing::Combine(::testing::ValuesIn(kFailureRows), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_Removed" : "_Kept");
                         });

TEST_F(FinishTest, LauncherAlreadyPresentKeepsBothFiles) {
  application.removeOnFailure = false;
  WriteFile(installDir + "/Quorix.exe", "older launcher");
  Finish();
  EXPECT_EQ(ReadFile(installDir + "/Quorix.exe"), "older launcher");
  EXPECT_EQ(ReadFile(installDir + "/Updater.exe"), "updater program");
}

TEST_F(FinishTest, FailureAfterAnEarlierFinalCodeShowsTheBoxButReportsNothingMore) {
  application.SetStep(45);
  ASSERT_TRUE(application.stats.TrySetFinalCode(27));
  application.removeOnFailure = false;
  fs::remove(installDir + "/Updater.exe");
  Finish();
  EXPECT_EQ(application.stats.finalCode.load(), 27);
  EXPECT_EQ(application.stats.stepAtFinal.load(), 45);
  ASSERT_EQ(dialogs.Boxes().size(), 1u);
  EXPECT_NE(dialogs.Boxes()[0].text.find("Detalis: Rename file failed"), std::string::npos);
  EXPECT_TRUE(http.Requests().empty());
  EXPECT_EQ(dialog.closedAfterRuns, std::vector<size_t>{0});
}

TEST_F(FinishTest, SuccessAfterAnEarlierFinalCodeStillStartsTheLobbyWithoutReports) {
  ASSERT_TRUE(application.stats.TrySetFinalCode(27));
  Finish();
  EXPECT_EQ(application.stats.finalCode.load(), 27);
  EXPECT_TRUE(http.Requests().empty());
  EXPECT_EQ(processes.Runs().size(), 1u);
  EXPECT_EQ(dialog.closedAfterRuns, std::vector<size_t>{1});
}

TEST_F(FinishTest, ActionsFinishWithTheApplicationsDialogAndRemoveThroughTheInstallLocation) {
  application.SetDialog(&dialog);
  FinishActions actions(application);
  actions.FinishInstallation();
  application.Reports().WaitForReports();
  EXPECT_EQ(application.stats.finalCode.load(), 100);
  EXPECT_EQ(dialog.closedAfterRuns, std::vector<size_t>{1});

  actions.RemoveInstallation(installDir, "Quorix");
  EXPECT_FALSE(fs::exists(installDir));
  EXPECT_FALSE(fs::exists(menuFolder));
  EXPECT_FALSE(fs::exists(home / "Desktop/Quorix.desktop"));
  EXPECT_EQ(Registered("Software\\Quorix", "AppDirectory"), "<absent>");
}

}  // namespace
}  // namespace finish
