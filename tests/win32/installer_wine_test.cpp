// The Windows program's whole installation under Wine, with the scripted
// player, against the reference server: the files, registry values, shell
// links and reports it leaves, and a failing download that leaves nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

#include "platform/win32/native_player.h"
#include "platform/win32/processes_win32.h"
#include "platform/win32/registry_win32.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_system.h"
#include "support/refserver.h"
#include "win32/standin_registration.h"
#include "win32/win32_test_folder.h"
#include "win32/wine_paths.h"

namespace {

using platform::Hive;
using platform::SpecialFolder;
using testing_support::ReadText;
using testing_support::RefServer;
using testing_support::RefServerOptions;
using testing_support::RunLinuxShell;
using testing_support::StandInControlRegistration;
using testing_support::Win32TestFolder;
using testing_support::WindowsPathOf;
using testing_support::WriteText;

constexpr const char* kInstallScript = R"(version 0xA0000
on load DlgUpdater.qrx: InitPreloader 640~480
on load DlgUpdater.qrx: InitDialog 640~480
on play: Ready
on InstallDir: SetLang de
on InstallDir: Install $funcParm~2
on SetLA: AcceptLA
)";
constexpr const char* kAppKey = "Software\\Quorix";
constexpr const char* kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorix";

std::string TestsFolder() { return platform::DirectoryOf(platform::Win32System().ExecutablePath()); }

// The sample client set with its programs made for Windows: the Linux set's
// files, each program replaced by the sample program with its role after it.
std::string WindowsClientSet() {
  static const std::string set = [] {
    const std::string root = testing_support::NewLinuxScratchFolder("client-set");
    const std::string client = WindowsPathOf(root + "/client");
    const std::string linuxClient = WindowsPathOf(testing_support::SampleClientDir() + "/client");
    EXPECT_EQ(platform::Win32Shell().CopyTree(linuxClient, client), 0);
    const std::string program = ReadText(TestsFolder() + "\\sample_program.exe");
    auto write = [&](const std::string& name, const std::string& role) {
      char length[9];
      std::snprintf(length, sizeof length, "%08u", static_cast<unsigned>(role.size()));
      EXPECT_TRUE(WriteText(client + "\\" + name, program + role + length + "WSSAMPLE")) << name;
    };
    write("Salon.exe", "mark salon-started.txt");
    write("WebPane.exe", "mark webpane-started.txt");
    write("Uninstall.exe", "mark uninstall-ran.txt");
    write("prepare.exe", "mark prepare-ran.txt");
    write("Updater.exe", "launcher");
    std::string archive = "archive\n";
    for (const char* map : {"data\\maps\\map1.dat", "data\\maps\\map2.dat"}) {
      const std::string data = ReadText(client + "\\" + map);
      archive += std::string(map) + " " + std::to_string(data.size()) + "\n" + data;
    }
    write("bundle.exe", archive);
    return root + "/client";
  }();
  return set;
}

RefServerOptions SampleClient() {
  RefServerOptions options;
  options.clientSet = WindowsClientSet();
  options.filesDir = testing_support::SampleClientDir();
  return options;
}

struct ProgramRun {
  DWORD exitCode = 0xFFFFFFFF;
  std::vector<std::string> boxes;  // texts of the message boxes the program showed
};

struct BoxSearch {
  DWORD pid;
  std::vector<HWND> boxes;
};

// The message boxes ("#32770" windows) of process `pid`.
std::vector<HWND> MessageBoxesOf(DWORD pid) {
  BoxSearch search{pid, {}};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto* s = reinterpret_cast<BoxSearch*>(context);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        char className[64] = {};
        GetClassNameA(window, className, sizeof className);
        // A box is shown once all its texts are in place.
        // A box has its buttons as its own children; a movie dialog has
        // none (its movie's buttons lie inside the movie control).
        const bool buttons = GetDlgItem(window, IDOK) != nullptr || GetDlgItem(window, IDYES) != nullptr;
        if (owner == s->pid && std::string(className) == "#32770" && IsWindowVisible(window) && buttons) {
          s->boxes.push_back(window);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.boxes;
}

std::string BoxText(HWND box) {
  std::string text;
  EnumChildWindows(
      box,
      [](HWND child, LPARAM context) -> BOOL {
        char part[2048] = {};
        GetWindowTextA(child, part, sizeof part);
        *reinterpret_cast<std::string*>(context) += std::string(part) + "\n";
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&text));
  return text;
}

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Polls `done` until it holds or `bound` has passed; its last answer.
bool WaitFor(std::chrono::seconds bound, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return true;
}

// One user's machine: the downloaded program with its server override next
// to it. What an installation leaves in the shared places of the prefix
// (folder, registry, links, running client programs) is taken away before
// the test, so that an earlier test that crashed or failed cannot decide
// this one, and again after it.
class WindowsMachine {
 public:
  explicit WindowsMachine(const RefServer& server) : server_(server) {
    RemoveInstallation();
    EXPECT_FALSE(platform::Win32FileSystem().Exists(InstallDir())) << "an earlier installation could not be removed";
    CreateDirectoryA((download_ / "cfg").c_str(), nullptr);
    CopyFileA((TestsFolder() + "\\websetup_e2e.exe").c_str(), (download_ / "websetup_e2e.exe").c_str(), FALSE);
    WriteText(download_ / "cfg\\Updater.cfg", "~ip=localhost~srvl=UpdateServlet~po=" +
                                                  std::to_string(server.httpsPort()) + "~ca=" + server.caFile());
  }
  ~WindowsMachine() {
    WaitForTheClientToEnd();
    RemoveInstallation();
  }

  static void RemoveInstallation() {
    StopProgramsOfTheInstallation();
    platform::Win32Registry registry;
    (void)registry.DeleteKey(Hive::LocalMachine, kAppKey);
    (void)registry.DeleteKey(Hive::LocalMachine, kUninstallKey);
    (void)registry.DeleteKey(Hive::CurrentUser, kAppKey);
    platform::Win32Shell shell;
    if (GetFileAttributesA(InstallDir().c_str()) != INVALID_FILE_ATTRIBUTES) {
      EXPECT_EQ(shell.DeleteTree(InstallDir(), false), 0) << "the installation folder stays";
    }
    (void)shell.DeleteTree(MenuFolder(), false);
    DeleteFileA(DesktopLink().c_str());
  }

  // Programs still running from the installation folder (a client program
  // that hangs, an installer left by a test that failed) hold its files.
  static void StopProgramsOfTheInstallation() {
    platform::Win32Processes processes;
    const std::string folder = InstallDir() + "\\";
    for (const auto& process : processes.Snapshot()) {
      if (_strnicmp(process.exePath.c_str(), folder.c_str(), folder.size()) != 0) continue;
      const HANDLE handle = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(process.pid));
      if (handle == nullptr) continue;
      TerminateProcess(handle, 1);
      WaitForSingleObject(handle, 5000);
      CloseHandle(handle);
    }
  }

  static std::string InstallDir() { return "C:\\Program Files\\Quorix"; }
  static std::string MenuFolder() {
    return platform::Win32Shell().SpecialFolderPath(SpecialFolder::CommonPrograms) + "\\Quorix";
  }
  static std::string DesktopLink() {
    return platform::Win32Shell().SpecialFolderPath(SpecialFolder::CommonDesktop) + "\\Quorix.lnk";
  }
  std::string SampleLog() const { return ReadText(download_ / "sample.log"); }

  // Runs the program with `script`; message boxes are read and closed, as
  // the user would, since a box under the null display never goes away.
  ProgramRun RunScript(const std::string& script, int timeoutSeconds = 120) {
    const std::string scriptPath = download_ / "script.txt";
    WriteText(scriptPath, script);
    return Run("\"" + scriptPath + "\" \"" + (download_ / "record.txt") + "\"", timeoutSeconds,
               [](DWORD pid, ProgramRun& run) {
                 for (HWND box : MessageBoxesOf(pid)) {
                   run.boxes.push_back(BoxText(box));
                   PostMessageA(box, WM_COMMAND, IDOK, 0);
                 }
               });
  }

  // Runs the program with the movie control hosted as an ActiveX control:
  // the stand-in control plays `script` and keeps its record. Boxes are
  // read and closed as with RunScript.
  // `user`, when given, is called every 50 ms instead.
  ProgramRun RunActiveX(const std::string& script, std::function<void(DWORD pid, ProgramRun& run)> user = nullptr) {
    WriteText(download_ / "script.txt", script);
    SetEnvironmentVariableA("WEBSETUP_STANDIN_SCRIPT", (download_ / "script.txt").c_str());
    SetEnvironmentVariableA("WEBSETUP_STANDIN_RECORD", (download_ / "record.txt").c_str());
    if (!user) {
      user = [](DWORD pid, ProgramRun& run) {
        for (HWND box : MessageBoxesOf(pid)) {
          run.boxes.push_back(BoxText(box));
          PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
      };
    }
    ProgramRun run = Run("--activex", 120, user);
    SetEnvironmentVariableA("WEBSETUP_STANDIN_SCRIPT", nullptr);
    SetEnvironmentVariableA("WEBSETUP_STANDIN_RECORD", nullptr);
    return run;
  }
  std::string Record() const { return ReadText(download_ / "record.txt"); }

  // Runs the program with the native player; `user` is called every 50 ms
  // with the program's process id while it runs.
  ProgramRun RunNative(const std::function<void(DWORD pid, ProgramRun& run)>& user, int timeoutSeconds = 180) {
    return Run("--native", timeoutSeconds, user);
  }

  ProgramRun Run(const std::string& arguments, int timeoutSeconds,
                 const std::function<void(DWORD pid, ProgramRun& run)>& tick) {
    SetEnvironmentVariableA("WEBSETUP_SAMPLE_LOG", (download_ / "sample.log").c_str());
    std::string commandLine = "\"" + (download_ / "websetup_e2e.exe") + "\" " + arguments + " " +
                              std::to_string(server_.httpsPort());
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    ProgramRun run;
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, download_.path().c_str(),
                        &startup, &started)) {
      ADD_FAILURE() << "cannot start the program: error " << GetLastError();
      return run;
    }
    SetEnvironmentVariableA("WEBSETUP_SAMPLE_LOG", nullptr);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (WaitForSingleObject(started.hProcess, 50) == WAIT_TIMEOUT) {
      tick(started.dwProcessId, run);
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "the installer did not end within " << timeoutSeconds << " s";
        TerminateProcess(started.hProcess, 99);
        WaitForSingleObject(started.hProcess, 5000);
        break;
      }
    }
    GetExitCodeProcess(started.hProcess, &run.exitCode);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return run;
  }

  // The sample client programs the installation started end by themselves
  // at once; their files cannot be deleted while they run. Each program
  // start under Wine takes a second or more on a loaded machine.
  static void WaitForTheClientToEnd() {
    platform::Win32Processes processes;
    const bool ended = WaitFor(std::chrono::seconds(30), [&] {
      for (const auto& process : processes.Snapshot())
        if (process.exeName.rfind("Quorix", 0) == 0) return false;
      return true;
    });
    EXPECT_TRUE(ended) << "a client program still runs after 30 s";
  }

  // Waits until the sample client has been started `starts` times in all.
  void WaitForClientStarts(size_t starts) const {
    WaitFor(std::chrono::seconds(30), [&] { return Occurrences(SampleLog(), "QuorixSalon.exe") >= starts; });
  }

 private:
  const RefServer& server_;
  Win32TestFolder download_;
};

int Count(const std::vector<testing_support::LoggedRequest>& requests, const std::string& path,
          const std::string& field, const std::string& value) {
  int n = 0;
  for (const auto& r : requests) n += r.path == path && r.Field(field) == value;
  return n;
}

std::string FinishCode(const std::vector<testing_support::LoggedRequest>& requests) {
  for (const auto& r : requests) {
    if (r.Field("txt") == "FINISH") return r.Field("ier");
  }
  return "<none>";
}

// What the server received of the update exchange, for a failure's message:
// each request's action code and raw body, and the finish report's fields.
std::string UpdateExchange(const std::vector<testing_support::LoggedRequest>& requests) {
  std::string text;
  for (const auto& r : requests) {
    if (r.path != "/servlet/UpdateServlet") continue;
    text += "\n[" + r.Field("ac") + "] port " + std::to_string(r.remotePort) + ": " + r.rawBody;
  }
  return text;
}

std::string RegistryValue(const char* key, const char* name) {
  std::string value = "<absent>";
  (void)platform::Win32Registry().ReadString(Hive::LocalMachine, key, name, &value);
  return value;
}

TEST(WindowsInstallation, AFreshInstallationLeavesFilesRegistryLinksAndReports) {
  RefServer server(SampleClient());
  ASSERT_TRUE(server.started());
  WindowsMachine machine(server);
  const ProgramRun run = machine.RunScript(kInstallScript);
  EXPECT_EQ(run.exitCode, 0u) << ::testing::PrintToString(run.boxes);
  EXPECT_TRUE(run.boxes.empty()) << ::testing::PrintToString(run.boxes);
  const std::string dir = WindowsMachine::InstallDir();
  platform::Win32FileSystem files;
  for (const char* file : {"QuorixSalon.exe", "QuorixWirex.dll", "QuorixTavrel.dll", "QuorixWebPane.exe", "Quorix.exe",
                           "Uninstall.exe", "qrx\\DlgMsg.qrx", "data\\maps\\map1.dat", "cfg\\ovl.cfg"}) {
    EXPECT_TRUE(files.Exists(dir + "\\" + file)) << file;
  }
  EXPECT_FALSE(files.Exists(dir + "\\Updater.exe"));

  EXPECT_EQ(RegistryValue(kAppKey, "AppDirectory"), dir);
  EXPECT_EQ(RegistryValue(kUninstallKey, "DisplayName"), "Quorix");
  EXPECT_EQ(RegistryValue(kUninstallKey, "UninstallString"), dir + "\\Uninstall.exe");

  EXPECT_TRUE(files.Exists(WindowsMachine::MenuFolder() + "\\Quorix.lnk"));
  EXPECT_TRUE(files.Exists(WindowsMachine::MenuFolder() + "\\Uninstall.lnk"));
  EXPECT_TRUE(files.Exists(WindowsMachine::DesktopLink()));

  const auto requests = server.Requests();
  EXPECT_EQ(Count(requests, "/servlet/PixelServlet", "ac", "20"), 1);
  EXPECT_EQ(Count(requests, "/servlet/UpdateServlet", "txt", "FINISH"), 1);
  EXPECT_EQ(FinishCode(requests), "100") << UpdateExchange(requests);
  EXPECT_EQ(Count(requests, "/servlet/UpdateServlet", "langID", "de"), 1);

  // The launcher, started at the end, starts the client with the folder.
  machine.WaitForClientStarts(1);
  EXPECT_NE(machine.SampleLog().find("QuorixSalon.exe"), std::string::npos) << machine.SampleLog();
}

// The second run offers Reinstall or Play: Play starts the launcher again,
// ReInstall installs again and ends as the first installation did.
TEST(WindowsInstallation, ASecondRunPlaysOrReinstalls) {
  RefServer server(SampleClient());
  ASSERT_TRUE(server.started());
  WindowsMachine machine(server);
  ASSERT_EQ(machine.RunScript(kInstallScript).exitCode, 0u);
  machine.WaitForClientStarts(1);
  // Play would bring a lobby still running forward instead of starting one.
  WindowsMachine::WaitForTheClientToEnd();

  const ProgramRun play = machine.RunScript("on load DlgMsg.qrx: Ready 400~240\non Msg=ReInstall~Quorix~Play: Play\n");
  EXPECT_EQ(play.exitCode, 0u) << ::testing::PrintToString(play.boxes);
  machine.WaitForClientStarts(2);
  EXPECT_EQ(Occurrences(machine.SampleLog(), "QuorixSalon.exe"), 2u) << machine.SampleLog();
  WindowsMachine::WaitForTheClientToEnd();

  const ProgramRun reinstall =
      machine.RunScript(std::string("on load DlgMsg.qrx: Ready 400~240\non Msg: ReInstall\n") + kInstallScript);
  EXPECT_EQ(reinstall.exitCode, 0u) << ::testing::PrintToString(reinstall.boxes);
  EXPECT_TRUE(platform::Win32FileSystem().Exists(WindowsMachine::InstallDir() + "\\QuorixSalon.exe"));
  EXPECT_EQ(Count(server.Requests(), "/servlet/UpdateServlet", "txt", "FINISH"), 2) << UpdateExchange(server.Requests());
}

TEST(WindowsInstallation, AMissingFileEndsWithItsCodeAndLeavesNothing) {
  RefServer server(SampleClient());
  ASSERT_TRUE(server.started());
  server.Misbehave("404", "/files/client/Salon.exe", 100);
  WindowsMachine machine(server);
  const ProgramRun run = machine.RunScript(kInstallScript);
  EXPECT_EQ(run.exitCode, 23u) << "the program ends with the session's final code";
  ASSERT_FALSE(run.boxes.empty());
  EXPECT_NE(run.boxes[0].find("File Download failed"), std::string::npos) << run.boxes[0];
  EXPECT_EQ(FinishCode(server.Requests()), "23");
  EXPECT_FALSE(platform::Win32FileSystem().Exists(WindowsMachine::InstallDir())) << "the half-made installation stays";
  EXPECT_FALSE(platform::Win32FileSystem().Exists(WindowsMachine::DesktopLink()));
  EXPECT_EQ(RegistryValue(kAppKey, "AppDirectory"), "<absent>");
}

// Pixel pages on a foreign web domain open in the browser control. Wine's
// control asks for each page but cannot show it: each page ends in its
// navigation error, and the program still ends after its last page. The
// file list names no files, so the run fails at once (code 10) and only
// the final event's two pages are opened.
TEST(WindowsInstallation, PixelPagesOpenInTheBrowserControlAndTheProgramStillEnds) {
  RefServerOptions pixelSite;
  pixelSite.filesDir = testing_support::SampleClientDir();
  RefServer pixelHost(pixelSite);
  ASSERT_TRUE(pixelHost.started());
  const std::string replies = testing_support::NewLinuxScratchFolder("pixel-replies") + "/replies.txt";
  const std::string pixel = "http://127.0.0.1:" + std::to_string(pixelHost.httpPort()) + "/files/pixel/";
  WriteText(WindowsPathOf(replies), "ac=11 ~ac=11~sn=100001~cv=1.0.0~cb=1~lrm=0~rmp=0~pix1=" + pixel +
                                        "pix1.html~pix2=" + pixel + "pix2.html~fl=||\n");
  RefServerOptions options;
  options.filesDir = testing_support::SampleClientDir();
  options.replySet = replies;
  RefServer server(options);
  ASSERT_TRUE(server.started());
  WindowsMachine machine(server);
  const auto started = std::chrono::steady_clock::now();
  const ProgramRun run = machine.RunScript(kInstallScript);
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(run.exitCode, 10u) << ::testing::PrintToString(run.boxes);
  EXPECT_LT(took, std::chrono::seconds(30)) << "the program waited for the pages";
  std::vector<std::string> pages;
  for (const auto& request : pixelHost.Requests()) {
    pages.push_back(request.path);
    // The plain GET would send the program's name as its agent.
    EXPECT_NE(request.userAgent, "Quorix") << "the page was not loaded in the browser control";
  }
  EXPECT_EQ(pages, (std::vector<std::string>{"/files/pixel/pix1.html", "/files/pixel/pix2.html"}));
  EXPECT_EQ(Count(server.Requests(), "/servlet/PixelServlet", "ac", "21"), 0)
      << "the final event went to the pixel servlet instead of the pages";
}

// --- The native player, as a user sees it ---

struct ControlSearch {
  DWORD pid;
  int id;
  HWND found;
};

// The visible, enabled control `id` in any window of process `pid`.
HWND ControlOf(DWORD pid, int id) {
  ControlSearch search{pid, id, nullptr};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto* s = reinterpret_cast<ControlSearch*>(context);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != s->pid || !IsWindowVisible(window)) return TRUE;
        EnumChildWindows(
            window,
            [](HWND child, LPARAM inner) -> BOOL {
              auto* s = reinterpret_cast<ControlSearch*>(inner);
              if (GetDlgCtrlID(child) != s->id || !IsWindowVisible(child) || !IsWindowEnabled(child)) return TRUE;
              s->found = child;
              return FALSE;
            },
            context);
        return s->found == nullptr;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The shell's folder picker: a dialog with the folders' tree in it.
bool IsFolderPicker(HWND box) {
  bool tree = false;
  EnumChildWindows(
      box,
      [](HWND child, LPARAM context) -> BOOL {
        char className[32] = {};
        GetClassNameA(child, className, sizeof className);
        if (lstrcmpiA(className, "SysTreeView32") != 0) return TRUE;
        *reinterpret_cast<bool*>(context) = true;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&tree));
  return tree;
}

// A user of the native player: presses the buttons of `steps` in order,
// each once, as soon as it is on the screen (a question's Yes is IDYES);
// picks the language `language` in the list first. Error boxes are read
// and closed. What the installer window looked like on the language page
// is kept.
class NativeUser {
 public:
  NativeUser(std::vector<int> steps, int language = 0) : steps_(std::move(steps)), language_(language) {}

  void operator()(DWORD pid, ProgramRun& run) {
    sawErrorPage = sawErrorPage || ControlOf(pid, platform::kNativeErrorText) != nullptr;
    for (HWND box : MessageBoxesOf(pid)) {
      // A question or the folder picker: a step answers it.
      if (GetDlgItem(box, IDYES) != nullptr || IsFolderPicker(box)) continue;
      run.boxes.push_back(BoxText(box));
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
    if (taken == steps_.size()) return;
    const HWND control = ControlOf(pid, steps_[taken]);
    if (control == nullptr) return;
    if (steps_[taken] == platform::kNativeNext) SeeLanguagePage(pid);
    wchar_t label[128] = {};
    GetWindowTextW(control, label, 128);
    labels.push_back(label);
    PostMessageA(control, BM_CLICK, 0, 0);
    ++taken;
  }

  size_t taken = 0;
  std::vector<std::wstring> labels;  // of the buttons pressed, in order
  bool sawErrorPage = false;
  RECT client{}, frame{};
  bool topmost = false;

 private:
  void SeeLanguagePage(DWORD pid) {
    const HWND list = ControlOf(pid, platform::kNativeLanguageList);
    if (list == nullptr) return;
    SendMessageA(list, LB_SETCURSEL, language_, 0);
    const HWND dialog = GetAncestor(list, GA_ROOT);
    GetClientRect(dialog, &client);
    GetWindowRect(dialog, &frame);
    topmost = (GetWindowLongPtrA(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  }

  std::vector<int> steps_;
  int language_;
};

const std::vector<int> kInstallSteps = {platform::kNativeNext, platform::kNativeInstall, platform::kNativeAccept};

TEST(NativePlayerInstallation, AUserInstallsThroughTheNativePlayer) {
  RefServer server(SampleClient());
  ASSERT_TRUE(server.started());
  WindowsMachine machine(server);
  // The user opens the folder picker and cancels it: the proposed folder
  // stays.
  NativeUser user({platform::kNativeNext, platform::kNativeBrowse, IDCANCEL, platform::kNativeInstall,
                   platform::kNativeAccept},
                  1);  // Deutsch
  const ProgramRun run = machine.RunNative(std::ref(user));
  EXPECT_EQ(run.exitCode, 0u) << ::testing::PrintToString(run.boxes);
  EXPECT_TRUE(run.boxes.empty()) << ::testing::PrintToString(run.boxes);
  ASSERT_EQ(user.taken, 5u);
  // The pages speak the language chosen on the first one.
  EXPECT_EQ(user.labels[0], L"Next");
  EXPECT_EQ(user.labels[1], L"Durchsuchen\u2026");
  EXPECT_EQ(user.labels[3], L"Installieren");
  EXPECT_EQ(user.labels[4], L"Ich stimme zu");
  EXPECT_TRUE(platform::Win32FileSystem().Exists(WindowsMachine::InstallDir() + "\\QuorixSalon.exe"));
  const auto requests = server.Requests();
  EXPECT_EQ(FinishCode(requests), "100") << UpdateExchange(requests);
  EXPECT_EQ(Count(requests, "/servlet/UpdateServlet", "langID", "de"), 1);

  // The window the movie asked for: 640 x 480, centred on the work area,
  // above the other windows.
  RECT work{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_EQ(user.client.right, 640);
  EXPECT_EQ(user.client.bottom, 480);
  EXPECT_LE(std::abs((user.frame.left + user.frame.right) - (work.left + work.right)), 1);
  EXPECT_LE(std::abs((user.frame.top + user.frame.bottom) - (work.top + work.bottom)), 1);
  EXPECT_TRUE(user.topmost);
  machine.WaitForClientStarts(1);
}

// The reinstall/play dialog of the native player: Play starts the game,
// Reinstall (after its question) installs again.
TEST(NativePlayerInstallation, ASecondRunPlaysOrReinstalls) {
  RefServer server(SampleClient());
  ASSERT_TRUE(server.started());
  WindowsMachine machine(server);
  NativeUser install(kInstallSteps);
  ASSERT_EQ(machine.RunNative(std::ref(install)).exitCode, 0u);
  machine.WaitForClientStarts(1);
  WindowsMachine::WaitForTheClientToEnd();

  NativeUser player({platform::kNativePlay});
  const ProgramRun play = machine.RunNative(std::ref(player));
  EXPECT_EQ(play.exitCode, 0u) << ::testing::PrintToString(play.boxes);
  machine.WaitForClientStarts(2);
  EXPECT_EQ(Occurrences(machine.SampleLog(), "QuorixSalon.exe"), 2u) << machine.SampleLog();
  WindowsMachine::WaitForTheClientToEnd();

  std::vector<int> steps = {platform::kNativeReinstall, IDYES};
  steps.insert(steps.end(), kInstallSteps.begin(), kInstallSteps.end());
  NativeUser reinstaller(steps);
  const ProgramRun reinstall = machine.RunNative(std::ref(reinstaller));
  EXPECT_EQ(reinstall.exitCode, 0u) << ::testing::PrintToString(reinstall.boxes);
  EXPECT_EQ(reinstaller.taken, steps.size());
  EXPECT_EQ(Count(server.Requests(), "/servlet/UpdateServlet", "txt", "FINISH"), 2) << UpdateExchange(server.Requests());
}

// A file list that cannot be fetched shows the error page while the
// session ends with the list's code and its box, leaving nothing behind.
TEST(NativePlayerInstallation, AFailedFileListShowsTheErrorAndLeavesNothing) {
  RefServer server(SampleClient());
  ASSERT_TRUE(server.started());
  server.Misbehave("html", "/servlet/UpdateServlet", 1, "11");
  WindowsMachine machine(server);
  NativeUser user({platform::kNativeNext, platform::kNativeInstall});
  const ProgramRun run = machine.RunNative(std::ref(user));
  EXPECT_EQ(user.taken, 2u);
  EXPECT_TRUE(user.sawErrorPage);
  EXPECT_EQ(run.exitCode, 20u) << ::testing::PrintToString(run.boxes);
  EXPECT_EQ(FinishCode(server.Requests()), "20");
  EXPECT_FALSE(run.boxes.empty());
  EXPECT_FALSE(platform::Win32FileSystem().Exists(WindowsMachine::InstallDir())) << "the half-made installation stays";
}

// --- The movie control, hosted as an ActiveX control ---

// The sample client's server and a machine with the stand-in control.
class ActiveXInstallation : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.started());
    ASSERT_TRUE(registration.registered());
  }
  RefServer server{SampleClient()};
  StandInControlRegistration registration;
  WindowsMachine machine{server};
};

// A whole installation through the ActiveX host: every property, method
// and the event cross the control's dispatch interfaces.
TEST_F(ActiveXInstallation, TheStandInControlDrivesAWholeInstallation) {
  const ProgramRun run = machine.RunActiveX(kInstallScript);
  std::string record = machine.Record();
  record.erase(std::remove(record.begin(), record.end(), '\r'), record.end());
  EXPECT_EQ(run.exitCode, 0u) << ::testing::PrintToString(run.boxes) << record;
  EXPECT_TRUE(run.boxes.empty()) << ::testing::PrintToString(run.boxes);
  EXPECT_TRUE(platform::Win32FileSystem().Exists(WindowsMachine::InstallDir() + "\\QuorixSalon.exe"));
  const auto requests = server.Requests();
  EXPECT_EQ(FinishCode(requests), "100") << UpdateExchange(requests);
  EXPECT_EQ(Count(requests, "/servlet/UpdateServlet", "langID", "de"), 1);
  // The player check, then the installer's control: made and activated in
  // the dialog's site, set up by property puts, driven by method calls.
  std::vector<std::string> missing;
  for (const char* call : {"version", "inplace 0x0", "scale 0", "quality 1", "size 640x480", "set m_bIsInstaller=1",
                           "play", "set funcName=InstallDir", "label _root Data", "set funcName=SetLA",
                           "raise AcceptLA"}) {
    if (record.find(std::string(call) + "\n") == std::string::npos) missing.push_back(call);
  }
  if (record.find("movie https://localhost:") == std::string::npos) missing.push_back("movie");
  EXPECT_TRUE(missing.empty()) << ::testing::PrintToString(missing) << " missing in\n" << record;
  machine.WaitForClientStarts(1);
}

// The movie's window with nothing in it: a visible dialog of `pid` without
// buttons of its own.
HWND MovieDialogOf(DWORD pid) {
  std::pair<DWORD, HWND> search{pid, nullptr};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto* s = reinterpret_cast<std::pair<DWORD, HWND>*>(context);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        char className[64] = {};
        GetClassNameA(window, className, sizeof className);
        if (owner != s->first || !IsWindowVisible(window) || std::string(className) != "#32770") return TRUE;
        if (GetDlgItem(window, IDOK) != nullptr || GetDlgItem(window, IDYES) != nullptr) return TRUE;
        s->second = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.second;
}

// A movie that never raises a command leaves the dialog at its template
// size, but it can still be closed: the exit question, then final code 50.
TEST_F(ActiveXInstallation, AMovieThatNeverStartsCanBeClosed) {
  bool closeAsked = false, answered = false;
  const ProgramRun run = machine.RunActiveX("# this movie raises nothing\n", [&](DWORD pid, ProgramRun& run) {
    for (HWND box : MessageBoxesOf(pid)) {
      run.boxes.push_back(BoxText(box));
      answered = answered || GetDlgItem(box, IDYES) != nullptr;
      PostMessageA(box, WM_COMMAND, GetDlgItem(box, IDYES) != nullptr ? IDYES : IDOK, 0);
    }
    if (closeAsked) return;
    if (const HWND dialog = MovieDialogOf(pid)) {
      PostMessageA(dialog, WM_CLOSE, 0, 0);
      closeAsked = true;
    }
  });
  EXPECT_TRUE(closeAsked);
  EXPECT_TRUE(answered) << ::testing::PrintToString(run.boxes);
  EXPECT_EQ(run.exitCode, 50u) << ::testing::PrintToString(run.boxes);
  EXPECT_EQ(FinishCode(server.Requests()), "50");
}

// --- Seen on screen ---

// One photograph of the X server's root window: the picture is kept as a
// PNG artefact, its pixels read back from a PPM copy.
struct Screen {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
  bool Read(const std::string& ppmPath) {
    const std::string data = ReadText(ppmPath);
    int maxValue = 0, consumed = 0;
    if (std::sscanf(data.c_str(), "P6 %d %d %d%n", &width, &height, &maxValue, &consumed) != 3 || maxValue != 255) {
      return false;
    }
    const size_t start = static_cast<size_t>(consumed) + 1;  // one white space after the header
    if (data.size() < start + static_cast<size_t>(width) * height * 3) return false;
    rgb.assign(data.begin() + static_cast<std::ptrdiff_t>(start), data.end());
    return true;
  }
  COLORREF At(int x, int y) const {
    const size_t i = (static_cast<size_t>(y) * width + x) * 3;
    return RGB(rgb[i], rgb[i + 1], rgb[i + 2]);
  }
};

// Takes a picture of the screen into `folder` (a Linux path) as
// `name`.png; the pixels of it in `screen`.
bool Photograph(const std::string& folder, const std::string& name, Screen& screen) {
  const char* display = std::getenv("DISPLAY");
  const std::string png = folder + "/" + name + ".png";
  const std::string ppm = folder + "/" + name + ".ppm";
  const std::string done = folder + "/" + name + ".done";
  RunLinuxShell(std::string("DISPLAY=") + (display ? display : ":0") + " import -window root " + png +
                " && convert " + png + " " + ppm + "; touch " + done);
  if (!WaitFor(std::chrono::seconds(30), [&] { return ReadText(WindowsPathOf(done)) != "<missing>"; })) return false;
  const bool read = screen.Read(WindowsPathOf(ppm));
  DeleteFileA(WindowsPathOf(ppm).c_str());
  DeleteFileA(WindowsPathOf(done).c_str());
  return read;
}

// What a page looks like on the photograph, inside the installer window:
// how much of it is the brand colour, how many colours it has.
struct PageLook {
  int brandPixels = 0;
  int colours = 0;
};

PageLook LookAt(const Screen& screen, const RECT& area, COLORREF brand) {
  PageLook look;
  std::vector<COLORREF> seen;
  for (int y = std::max<int>(0, area.top); y < std::min<int>(screen.height, area.bottom); ++y) {
    for (int x = std::max<int>(0, area.left); x < std::min<int>(screen.width, area.right); ++x) {
      const COLORREF colour = screen.At(x, y);
      look.brandPixels += colour == brand;
      if (seen.size() < 64 && std::find(seen.begin(), seen.end(), colour) == seen.end()) seen.push_back(colour);
    }
  }
  look.colours = static_cast<int>(seen.size());
  return look;
}

// A user who photographs each page before pressing its button, and checks
// the picture: the window's client area at the movie's size, centred on
// the work area, the brand colour's band across it, text on the page. On
// the language page it picks the language `language` (an index in the
// list) after the picture.
class PhotographingUser {
 public:
  struct Step {
    int control;       // pressed once the page shows it
    const char* name;  // the picture's name
    int wantWidth, wantHeight;
    int textControl = 0;         // when set: photographed once this control's text
    const char* text = nullptr;  // holds this
  };
  PhotographingUser(std::string folder, std::vector<Step> steps, int language = 0)
      : folder_(std::move(folder)), steps_(std::move(steps)), language_(language) {}

  void operator()(DWORD pid, ProgramRun& run) {
    if (taken == steps_.size()) return;
    const Step& step = steps_[taken];
    const HWND control = ControlOf(pid, step.control);
    if (control == nullptr) return;
    if (step.textControl != 0) {
      char shown[256] = {};
      const HWND text = ControlOf(pid, step.textControl);
      if (text != nullptr) GetWindowTextA(text, shown, sizeof shown);
      if (std::string(shown).find(step.text) == std::string::npos) return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(700));  // the page is drawn
    const HWND dialog = GetAncestor(control, GA_ROOT);
    RECT client{}, frame{}, work{};
    GetClientRect(dialog, &client);
    GetWindowRect(dialog, &frame);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    POINT origin{0, 0};
    ClientToScreen(dialog, &origin);
    Screen screen;
    if (!Photograph(folder_, step.name, screen)) {
      ADD_FAILURE() << "no picture of " << step.name;
    } else {
      const RECT area{origin.x, origin.y, origin.x + client.right, origin.y + client.bottom};
      const PageLook look = LookAt(screen, area, RGB(75, 70, 43));
      EXPECT_GE(look.brandPixels, step.wantWidth * 50) << step.name << ": the brand colour's band";
      EXPECT_GE(look.colours, 16) << step.name << ": a page with text and controls, not a blank one";
    }
    EXPECT_EQ(client.right, step.wantWidth) << step.name;
    EXPECT_EQ(client.bottom, step.wantHeight) << step.name;
    EXPECT_LE(std::abs((frame.left + frame.right) - (work.left + work.right)), 1) << step.name << " centred";
    EXPECT_LE(std::abs((frame.top + frame.bottom) - (work.top + work.bottom)), 1) << step.name << " centred";
    if (const HWND list = ControlOf(pid, platform::kNativeLanguageList))
      SendMessageA(list, LB_SETCURSEL, language_, 0);
    PostMessageA(control, BM_CLICK, 0, 0);
    ++taken;
    (void)run;
  }

  size_t taken = 0;

 private:
  std::string folder_;
  std::vector<Step> steps_;
  int language_;
};

// Runs only on a display: tools/windows/wine_test.sh runs it under Xvfb in
// Wine's virtual desktop and names the pictures' folder.
TEST(NativePlayerScreens, EachPageOfAnInstallationAndOfTheSecondRunIsShownWhole) {
  const char* folder = std::getenv("WEBSETUP_SCREENSHOTS");
  if (folder == nullptr) GTEST_SKIP() << "no display: tools/windows/wine_test.sh runs this under Xvfb";
  RefServer server(SampleClient());
  ASSERT_TRUE(server.started());
  // A slow file keeps the progress page on the screen for its picture.
  server.Misbehave("trickle", "/files/client/Tavrel.dll", 1, "", 0, 60000);
  WindowsMachine machine(server);
  PhotographingUser installer(folder, {{platform::kNativeNext, "01-language", 640, 480},
                                       {platform::kNativeInstall, "02-folder", 640, 480},
                                       {platform::kNativeRunBar, "03-progress", 640, 480, platform::kNativeFileName, "Tavrel"},
                                       {platform::kNativeAccept, "04-licence", 640, 480}},
                              1);  // the pages after the first in German
  const ProgramRun install = machine.RunNative(std::ref(installer));
  EXPECT_EQ(install.exitCode, 0u);
  EXPECT_EQ(installer.taken, 4u);
  machine.WaitForClientStarts(1);
  WindowsMachine::WaitForTheClientToEnd();

  // The client keeps the user's language in its folder; the second run
  // speaks it.
  WriteText(WindowsMachine::InstallDir() + "\\cfg\\lang.cfg", "de");
  PhotographingUser player(folder, {{platform::kNativePlay, "05-reinstall-or-play", 400, 240}});
  const ProgramRun play = machine.RunNative(std::ref(player));
  EXPECT_EQ(play.exitCode, 0u);
  EXPECT_EQ(player.taken, 1u);
  machine.WaitForClientStarts(2);
}

}  // namespace
