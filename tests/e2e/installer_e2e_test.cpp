// The real installer program against the reference server: a fresh
// installation, the second run, and the ways a session can fail.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/install_location.h"
#include "app/settings_record.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/processes_posix.h"
#include "support/child_program.h"
#include "support/refserver.h"
#include "support/temp_dir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using testing_support::ChildEnd;
using testing_support::ChildProgram;
using testing_support::ReadFile;
using testing_support::RefServer;
using testing_support::RefServerOptions;
using testing_support::RunChild;
using testing_support::TempDir;
using testing_support::WriteFile;

constexpr const char* kInstallScript = R"(version 0xA0000
on load DlgUpdater.qrx: InitPreloader 640~480
on load DlgUpdater.qrx: InitDialog 640~480
on play: Ready
on InstallDir: SetLang de
on InstallDir: Install $funcParm~2
on SetLA: AcceptLA
)";

struct RunResult {
  int exitCode = -1;
  double seconds = 0;
  std::string out, err;
  std::vector<std::string> record;
};

// One user's machine: a home folder (with a space in its path, as many are)
// and the downloaded program with its server override next to it.
class InstallerMachine {
 public:
  explicit InstallerMachine(const RefServer& server) : server_(server) {
    home_ = root_ / "home of ann";
    download_ = root_ / "download";
    fs::create_directories(home_);
    fs::create_directories(download_ + "/cfg");
    fs::copy_file(std::string(WEBSETUP_BIN_DIR) + "/websetup_e2e", download_ + "/websetup_e2e");
    WriteFile(download_ + "/cfg/Updater.cfg", "~ip=localhost~srvl=UpdateServlet~po=" +
                                                  std::to_string(server.httpsPort()) + "~ca=" + server.caFile());
  }

  std::string InstallDir() const { return home_ + "/.local/share/Quorix"; }
  const std::string& DownloadFolder() const { return download_; }
  const std::string& Home() const { return home_; }

  RunResult Run(const std::string& script, int timeoutSeconds = 60, const std::vector<std::string>& extraEnv = {}) {
    const std::string scriptPath = root_ / ("script" + std::to_string(++runs_) + ".txt");
    const std::string recordPath = root_ / ("record" + std::to_string(runs_) + ".txt");
    const std::string outPath = root_ / ("out" + std::to_string(runs_) + ".txt");
    const std::string errPath = root_ / ("err" + std::to_string(runs_) + ".txt");
    WriteFile(scriptPath, script);
    const std::string program = download_ + "/websetup_e2e";
    const std::string port = std::to_string(server_.httpsPort());
    ChildProgram child;
    child.args = {program, scriptPath, recordPath, port};
    child.env = {"HOME=" + home_,
                 "XDG_DATA_HOME=" + home_ + "/.local/share",
                 "XDG_CONFIG_HOME=" + home_ + "/.config",
                 "XDG_DESKTOP_DIR=" + home_ + "/Desktop",
                 "PATH=/usr/bin:/bin",
                 "no_proxy=localhost,127.0.0.1",
                 "WEBSETUP_SAMPLE_LOG=" + (root_ / "sample.log")};
    child.env.insert(child.env.end(), extraEnv.begin(), extraEnv.end());
    child.folder = download_;
    child.outPath = outPath;
    child.errPath = errPath;
    child.timeoutSeconds = timeoutSeconds;
    runningPid_ = 0;
    RunResult result;
    const ChildEnd end = RunChild(child, [this](pid_t pid) { runningPid_ = pid; });
    if (!end.started) return result;
    result.seconds = end.seconds;
    result.exitCode = end.exitCode;
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    std::string line;
    std::istringstream record(ReadFile(recordPath));
    while (std::getline(record, line)) result.record.push_back(line);
    return result;
  }

  std::string SampleLog() const { return ReadFile(root_ / "sample.log"); }
  // The process of the run under way (0 before it started).
  int RunningPid() const { return runningPid_.load(); }

 private:
  const RefServer& server_;
  TempDir root_;
  std::string home_;
  std::string download_;
  int runs_ = 0;
  std::atomic<int> runningPid_{0};
};

RefServerOptions SampleClient() {
  RefServerOptions options;
  options.clientSet = testing_support::SampleClientDir() + "/client";
  options.filesDir = testing_support::SampleClientDir();
  return options;
}

// The FINISH report of a session: its final code and first parameter.
std::pair<std::string, std::string> Finish(const std::vector<testing_support::LoggedRequest>& requests) {
  for (const auto& r : requests) {
    if (r.Field("txt") == "FINISH") return {r.Field("ier"), r.Field("parm1")};
  }
  return {"<none>", ""};
}

int Count(const std::vector<testing_support::LoggedRequest>& requests, const std::string& path,
          const std::string& field, const std::string& value) {
  int n = 0;
  for (const auto& r : requests) n += r.path == path && r.Field(field) == value;
  return n;
}

// Lines of the record that start with `prefix`, in order.
std::vector<std::string> Lines(const RunResult& run, const std::string& prefix) {
  std::vector<std::string> lines;
  for (const auto& line : run.record) {
    if (line.rfind(prefix, 0) == 0) lines.push_back(line);
  }
  return lines;
}

TEST(InstallerEndToEnd, FreshInstallationThenPlay) {
  RefServer server(SampleClient());
  InstallerMachine machine(server);
  const RunResult run = machine.Run(kInstallScript);
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  const std::string dir = machine.InstallDir();

  // The files, the modules under their custom names, the updater as the launcher.
  for (const char* file : {"QuorixSalon.exe", "QuorixWirex.dll", "QuorixTavrel.dll", "QuorixWebPane.exe",
                           "Quorix.exe", "Uninstall.exe", "qrx/DlgMsg.qrx", "qrx/mcLang.qrx",
                           "data/maps/map1.dat", "cfg/ovl.cfg"}) {
    EXPECT_TRUE(fs::exists(dir + "/" + file)) << file;
  }
  EXPECT_FALSE(fs::exists(dir + "/Updater.exe"));
  EXPECT_FALSE(fs::exists(dir + "/Update"));

  // The registry store.
  const std::string machineHive = ReadFile(machine.Home() + "/.local/share/websetup/registry-machine");
  EXPECT_NE(machineHive.find("AppDirectory=" + dir + "\n"), std::string::npos) << machineHive;
  EXPECT_NE(machineHive.find("DisplayName=Quorix"), std::string::npos) << machineHive;
  EXPECT_NE(machineHive.find("UninstallString=" + dir + "/Uninstall.exe"), std::string::npos) << machineHive;

  // The shortcuts.
  const std::string desktop = ReadFile(machine.Home() + "/Desktop/Quorix.desktop");
  EXPECT_NE(desktop.find("Quorix.exe"), std::string::npos) << desktop;
  EXPECT_NE(desktop.find("Icon=" + dir + "/AppBig.ico"), std::string::npos) << desktop;
  EXPECT_TRUE(fs::exists(machine.Home() + "/.local/share/applications/Quorix/Quorix.desktop"));
  EXPECT_TRUE(fs::exists(machine.Home() + "/.local/share/applications/Quorix/Uninstall.desktop"));

  // The settings record's identity fields.
  platform::PosixFileSystem files;
  app::SettingsRecord record(files);
  ASSERT_FALSE(record.LoadFrom(dir));
  EXPECT_EQ(record.GetLauncherFile(), "Quorix.exe");
  EXPECT_EQ(record.GetClientPrefix(), "Quorix");

  // The lobby started with the folder, a "~" for every space.
  std::string folderArgument = dir;
  for (char& c : folderArgument) c = c == ' ' ? '~' : c;
  // The lobby is not waited for: on a busy machine it writes its line after
  // the installer has ended.
  for (int i = 0; i < 200 && machine.SampleLog().find(folderArgument) == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  EXPECT_NE(machine.SampleLog().find(folderArgument), std::string::npos) << machine.SampleLog();
  // Play would bring a lobby still running forward instead of starting the
  // launcher: let the first one end.
  const auto lobbyRuns = [] {
    for (const auto& process : platform::PosixProcesses().Snapshot())
      if (process.exeName == "QuorixSalon.exe") return true;
    return false;
  };
  for (int i = 0; i < 200 && lobbyRuns(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));

  // The movie: the start variables in order before Play, the language chosen.
  const auto sets = Lines(run, "set m_");
  ASSERT_EQ(sets.size(), 5u) << ::testing::PrintToString(run.record);
  EXPECT_EQ(sets[0], "set m_aName=Quorix");
  EXPECT_EQ(sets[1], "set m_bIsInstaller=1");
  EXPECT_EQ(sets[4].rfind("set m_dispatcherURL=", 0), 0u);

  // One closing pixel (20) and one FINISH report, the language of the session.
  const auto requests = server.Requests();
  EXPECT_EQ(Count(requests, "/servlet/PixelServlet", "ac", "20"), 1);
  EXPECT_EQ(Count(requests, "/servlet/UpdateServlet", "txt", "FINISH"), 1);
  EXPECT_EQ(Count(requests, "/servlet/UpdateServlet", "langID", "de"), 1);
  for (const auto& r : requests) {
    if (r.Field("txt") == "FINISH") {
      EXPECT_EQ(r.Field("ier"), "100");
    }
  }

  // The second run offers Reinstall or Play; Play starts the launcher.
  const RunResult again = machine.Run(R"(on load DlgMsg.qrx: Ready 400~240
on Msg=ReInstall~Quorix~Play: Play
)");
  EXPECT_EQ(again.exitCode, 0) << again.out << again.err;
  EXPECT_EQ(Lines(again, "movie ").size(), 1u);
  EXPECT_NE(Lines(again, "movie ").at(0).find("/qrx/DlgMsg.qrx?m_Lang="), std::string::npos);
  // The launcher (the renamed updater) leaves its mark in the installation.
  for (int i = 0; i < 200 && !fs::exists(dir + "/launcher-started.txt"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  EXPECT_TRUE(fs::exists(dir + "/launcher-started.txt")) << machine.SampleLog();
}

// A second run while the client runs brings it forward and starts
// nothing; "ReInstall" takes the old installation away and installs again,
// keeping the user's name.
TEST(InstallerEndToEnd, SecondRunWithARunningClientAndReinstall) {
  RefServer server(SampleClient());
  InstallerMachine machine(server);
  ASSERT_EQ(machine.Run(kInstallScript).exitCode, 0);
  const std::string dir = machine.InstallDir();
  {
    platform::PosixFileSystem files;
    fs::current_path(dir);
    app::SettingsRecord record(files);
    record.Load();
    ASSERT_EQ(app::DataResult::Ok, record.SetUserName("ann_the_brave"));
    fs::current_path("/");
  }
  fs::remove(dir + "/launcher-started.txt");

  // The client is running: Play starts nothing.
  TempDir clientFolder;
  fs::copy_file("/bin/sleep", clientFolder / "QuorixSalon.exe");
  pid_t client = -1;
  std::string program = clientFolder / "QuorixSalon.exe";
  char* clientArgv[] = {program.data(), const_cast<char*>("30"), nullptr};
  ASSERT_EQ(posix_spawn(&client, program.c_str(), nullptr, nullptr, clientArgv, environ), 0);
  const RunResult play = machine.Run(R"(on load DlgMsg.qrx: Ready 400~240
on Msg: Play
)");
  EXPECT_EQ(play.exitCode, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(fs::exists(dir + "/launcher-started.txt")) << "a second client was started";
  kill(client, SIGKILL);
  waitpid(client, nullptr, 0);

  // ReInstall: the movie of the installation, then the installer movie.
  const RunResult reinstall = machine.Run(std::string(R"(on load DlgMsg.qrx: Ready 400~240
on Msg: ReInstall
)") + kInstallScript);
  EXPECT_EQ(reinstall.exitCode, 0) << reinstall.err;
  EXPECT_EQ(Lines(reinstall, "movie ").size(), 2u) << ::testing::PrintToString(reinstall.record);
  platform::PosixFileSystem files;
  app::SettingsRecord record(files);
  ASSERT_FALSE(record.LoadFrom(dir));
  EXPECT_EQ(record.ReadUserName(), "ann_the_brave");
  EXPECT_TRUE(fs::exists(dir + "/QuorixSalon.exe"));
}

// The session start: a server that closes the connection is failure A with
// rc=3; a server that cannot be reached at all still gets its closing pixel
// sent and the program ends; an answer with another action code is
// failure B.
TEST(InstallerEndToEnd, SessionStartFailures) {
  {
    RefServer server(SampleClient());
    server.Misbehave("close", "/servlet/UpdateServlet", 2, "10");
    InstallerMachine machine(server);
    const RunResult run = machine.Run(kInstallScript);
    EXPECT_EQ(run.exitCode, 1);
    const auto finish = Finish(server.Requests());
    EXPECT_EQ(finish.first, "1");
    EXPECT_EQ(finish.second, "ERROR: Return from the server on initial post failed.  rc=3");
    EXPECT_NE(run.err.find("Communication with the server failed"), std::string::npos) << run.err;
  }
  {
    testing_support::TempDir replies;
    WriteFile(replies / "replies.txt", "ac=10 ~ac=11~url=x\n");
    RefServerOptions options = SampleClient();
    options.replySet = replies / "replies.txt";
    RefServer server(options);
    InstallerMachine machine(server);
    const RunResult run = machine.Run(kInstallScript);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(Finish(server.Requests()).second, "ERROR: Invalid return code from the server on initial post.  ac=11");
    EXPECT_TRUE(Lines(run, "movie ").empty());
  }
  {
    RefServer server(SampleClient());
    InstallerMachine machine(server);
    // The update server named next to the program is not there; the pixel
    // host (the test's server) is.
    WriteFile(machine.DownloadFolder() + "/cfg/Updater.cfg",
              "~ip=127.0.0.1~srvl=UpdateServlet~po=1~ca=" + server.caFile());
    const RunResult run = machine.Run(kInstallScript, 30);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Communication with the server failed"), std::string::npos) << run.err;
    EXPECT_EQ(Count(server.Requests(), "/servlet/PixelServlet", "ac", "21"), 1);
  }
}

// The program ends only after the closing pixel: a pixel host that answers
// late keeps it waiting, and the pixel still arrives.
TEST(InstallerEndToEnd, ExitWaitsForTheClosingPixel) {
  RefServer server(SampleClient());
  server.Misbehave("stall", "/servlet/PixelServlet", 1, "21", 2);
  InstallerMachine machine(server);
  const RunResult run = machine.Run(R"(on load DlgUpdater.qrx: InitDialog 640~480
on play: Ready
on InstallDir: Decline
)");
  EXPECT_EQ(run.exitCode, 51) << "declined";
  EXPECT_GE(run.seconds, 2.0);
  const auto requests = server.Requests();
  EXPECT_EQ(Count(requests, "/servlet/PixelServlet", "ac", "21"), 1);
  EXPECT_EQ(Count(requests, "/servlet/UpdateServlet", "txt", "FINISH"), 1);
  for (const auto& r : requests) {
    if (r.Field("txt") == "FINISH") {
      EXPECT_EQ(r.Field("ier"), "51");
    }
  }
  EXPECT_FALSE(fs::exists(machine.InstallDir()));
  EXPECT_EQ(run.err.find("An error has occurred"), std::string::npos) << "Decline shows no error box";
}

struct FailureCase {
  const char* name;
  std::function<void(RefServer&)> arm;
  const char* script;
  const char* finalCode;
  const char* box;  // text the error box shows (on standard error without a terminal)
};

void PrintTo(const FailureCase& row, std::ostream* out) { *out << row.name; }

class InstallerFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(InstallerFailureTest, EndsWithItsCodeBoxAndNoInstallation) {
  const FailureCase& c = GetParam();
  RefServer server(SampleClient());
  c.arm(server);
  InstallerMachine machine(server);
  const RunResult run = machine.Run(c.script);
  EXPECT_EQ(run.exitCode, std::stoi(c.finalCode)) << run.err;
  EXPECT_NE(run.err.find(c.box), std::string::npos) << run.err;
  const auto requests = server.Requests();
  EXPECT_EQ(Count(requests, "/servlet/UpdateServlet", "txt", "FINISH"), 1);
  for (const auto& r : requests) {
    if (r.Field("txt") == "FINISH") {
      EXPECT_EQ(r.Field("ier"), c.finalCode);
    }
  }
  EXPECT_FALSE(fs::exists(machine.InstallDir())) << "the half-made installation stays";
  EXPECT_FALSE(fs::exists(machine.Home() + "/Desktop/Quorix.desktop"));
  const std::string hive = ReadFile(machine.Home() + "/.local/share/websetup/registry-machine");
  EXPECT_EQ(hive.find("AppDirectory"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, InstallerFailureTest,
    ::testing::Values(
        FailureCase{"InitialPostHtmlPage", [](RefServer& s) { s.Misbehave("html", "/servlet/UpdateServlet", 1, "10"); },
                    kInstallScript, "1", "Communication with the server failed"},
        FailureCase{"InitialPostWrongCode", [](RefServer& s) { s.Misbehave("badac", "/servlet/UpdateServlet", 1, "10"); },
                    kInstallScript, "1", "Invalid return code from the server on initial post.  ac=99"},
        FailureCase{"FileListDropped", [](RefServer& s) { s.Misbehave("close", "/servlet/UpdateServlet", 2, "11"); },
                    kInstallScript, "20", "Communication with the server failed"},
        FailureCase{"FileMissing", [](RefServer& s) { s.Misbehave("404", "/files/client/Salon.exe", 100); },
                    kInstallScript, "23", "File Download failed"},
        FailureCase{"EndOfProcessRejected",
                    [](RefServer& s) { s.Misbehave("badac", "/servlet/UpdateServlet", 1, "15"); }, kInstallScript,
                    "22", "Unknown action code returned from server while sending end process"},
        FailureCase{"MovieError", [](RefServer&) {},
                    R"(on load DlgUpdater.qrx: InitDialog 640~480
on play: Ready
on InstallDir: error
on InstallDir: Error
)",
                    "90", "Communication with the server failed"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// A folder that holds someone's files keeps them: the installation goes
// into a folder of its own inside it.
TEST(InstallerEndToEnd, ChosenFolderWithFilesKeepsThem) {
  RefServer server(SampleClient());
  InstallerMachine machine(server);
  const std::string chosen = machine.Home() + "/Games";
  WriteFile(chosen + "/save.dat", "progress of years");
  const RunResult run = machine.Run(std::string(R"(on load DlgUpdater.qrx: InitDialog 640~480
on play: Ready
on InstallDir: SetLang en
on InstallDir: Install )") + chosen + "\non SetLA: AcceptLA\n");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadFile(chosen + "/save.dat"), "progress of years");
  EXPECT_TRUE(fs::exists(chosen + "/Quorix/QuorixSalon.exe"));
}

}  // namespace

namespace {

// Every entry of `folder`, recursively, as paths relative to it; the marks
// that the started client leaves in its own time are not the installer's.
std::vector<std::string> TreeOf(const std::string& folder) {
  std::vector<std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = fs::relative(entry.path(), folder).string();
    if (name != "salon-started.txt" && name != "launcher-started.txt") entries.push_back(name);
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

// The tree an undisturbed installation leaves.
const std::vector<std::string>& ReferenceTree() {
  static const std::vector<std::string> tree = [] {
    RefServer server(SampleClient());
    InstallerMachine machine(server);
    EXPECT_EQ(machine.Run(kInstallScript).exitCode, 0);
    return TreeOf(machine.InstallDir());
  }();
  return tree;
}

}  // namespace

// A run stopped dead at one step of an installation (or of the ReInstall
// that takes an earlier one away), then run again: the second run ends in
// one complete installation in the chosen folder, with nothing of the first
// run left over and exactly the tree an undisturbed installation leaves; the
// run after it finds the installation complete.
struct KillRow {
  const char* point;
  bool reinstall;  // the killed run is the ReInstall of a complete installation
};

void PrintTo(const KillRow& row, std::ostream* out) { *out << row.point; }

class KilledInstallationTest : public ::testing::TestWithParam<KillRow> {};

TEST_P(KilledInstallationTest, RerunInstallsCleanly) {
  const std::vector<std::string>& reference = ReferenceTree();
  RefServer server(SampleClient());
  InstallerMachine machine(server);
  std::string script = kInstallScript;
  if (GetParam().reinstall) {
    ASSERT_EQ(machine.Run(kInstallScript).exitCode, 0);
    script = std::string("on load DlgMsg.qrx: Ready 400~240\non Msg: ReInstall\n") + kInstallScript;
  }
  const RunResult killed = machine.Run(script, 60, {std::string("WEBSETUP_TEST_KILL_AT=") + GetParam().point});
  ASSERT_EQ(killed.exitCode, 128 + SIGKILL) << "the kill point was not reached\n" << killed.err;
  EXPECT_TRUE(fs::exists(machine.InstallDir() + "/" + app::kIncompleteMarker));

  const RunResult rerun = machine.Run(kInstallScript);
  EXPECT_EQ(rerun.exitCode, 0) << rerun.err;
  std::string lastFinish;
  for (const auto& r : server.Requests()) {
    if (r.Field("txt") == "FINISH") lastFinish = r.Field("ier");
  }
  EXPECT_EQ(lastFinish, "100") << rerun.err;
  EXPECT_EQ(TreeOf(machine.InstallDir()), reference);
  const std::string machineHive = ReadFile(machine.Home() + "/.local/share/websetup/registry-machine");
  EXPECT_NE(machineHive.find("AppDirectory=" + machine.InstallDir() + "\n"), std::string::npos) << machineHive;

  const RunResult play = machine.Run("on load DlgMsg.qrx: Ready 400~240\non Msg=ReInstall~Quorix~Play: Play\n");
  EXPECT_EQ(Lines(play, "movie ").size(), 1u) << ::testing::PrintToString(play.record);
}

INSTANTIATE_TEST_SUITE_P(Steps, KilledInstallationTest,
                         ::testing::Values(KillRow{"download", false}, KillRow{"staging", false},
                                           KillRow{"program", false}, KillRow{"move", false},
                                           KillRow{"record", false}, KillRow{"registration", false},
                                           KillRow{"shortcuts", false}, KillRow{"rename", false},
                                           KillRow{"emptying", true}),
                         [](const ::testing::TestParamInfo<KillRow>& info) { return std::string(info.param.point); });

// A shutdown or a closed terminal (SIGTERM, SIGHUP) during the downloads
// ends the session as leaving does: its final code, the closing report,
// and no half-made installation.
TEST(InstallerEndToEnd, TerminationDuringTheDownloadsEndsTheSession) {
  for (const char* signal : {"TERM", "HUP"}) {
    SCOPED_TRACE(signal);
    RefServer server(SampleClient());
    InstallerMachine machine(server);
    const RunResult run = machine.Run(kInstallScript, 60,
                                      {"WEBSETUP_TEST_KILL_AT=download", std::string("WEBSETUP_TEST_SIGNAL=") + signal});
    EXPECT_EQ(run.exitCode, 50) << run.err;
    EXPECT_EQ(Finish(server.Requests()).first, "50");
    EXPECT_EQ(Count(server.Requests(), "/servlet/PixelServlet", "ac", "21"), 1);
    EXPECT_FALSE(fs::exists(machine.InstallDir()));
  }
}

// A second installer of the same application while one runs says so and
// leaves the first one's work alone.
TEST(InstallerEndToEnd, SecondInstallerAtOnceIsRefused) {
  RefServer server(SampleClient());
  InstallerMachine machine(server);
  // The first installer stops itself at its first download, holding its lock.
  RunResult first;
  std::thread firstRun(
      [&] { first = machine.Run(kInstallScript, 60, {"WEBSETUP_TEST_KILL_AT=download", "WEBSETUP_TEST_SIGNAL=STOP"}); });
  int pid = 0;
  for (int i = 0; i < 1500 && pid == 0; ++i) {
    const int started = machine.RunningPid();
    if (started != 0 && ReadFile("/proc/" + std::to_string(started) + "/stat").find(") T ") != std::string::npos) {
      pid = started;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (pid == 0) {
    firstRun.join();
    FAIL() << "the first installer never reached its first download";
  }
  const RunResult second = machine.Run(kInstallScript);
  kill(pid, SIGCONT);
  firstRun.join();
  EXPECT_EQ(second.exitCode, 1) << second.err;
  EXPECT_NE(second.err.find("already running"), std::string::npos) << second.err;
  EXPECT_EQ(first.exitCode, 0) << first.err;
  EXPECT_TRUE(fs::exists(machine.InstallDir() + "/Quorix.exe"));
  EXPECT_FALSE(fs::exists(machine.InstallDir() + "/Quorix"));
}
