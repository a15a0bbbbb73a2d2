// A person at a terminal, scripted with tmux: the installer in a real
// terminal (send-keys types, capture-pane reads the screen) against the
// reference server. The screens are kept under test-artifacts/ in the
// build folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "support/refserver.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::RefServer;
using testing_support::RefServerOptions;
using testing_support::TempDir;
using testing_support::WriteFile;

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string Output(const std::string& command) {
  std::string text;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    pclose(pipe);
  }
  return text;
}

// One tmux session running one command in a terminal of 160 x 50.
class Terminal {
 public:
  Terminal(const std::string& name, const std::string& command) : name_(name) {
    // The shell stays after the program so that its exit code can be read.
    const std::string line = command + "; echo \"EXIT=$?\"; sleep 120";
    ok_ = std::system(("tmux new-session -d -s " + name_ + " -x 160 -y 50 " + Quote(line)).c_str()) == 0;
  }
  ~Terminal() { (void)std::system(("tmux kill-session -t " + name_ + " 2>/dev/null").c_str()); }

  bool Started() const { return ok_; }
  // The whole screen with its scroll-back.
  std::string Screen() const { return Output("tmux capture-pane -p -J -S - -t " + name_); }
  void Type(const std::string& text) {
    (void)std::system(("tmux send-keys -t " + name_ + " -l " + Quote(text)).c_str());
    (void)std::system(("tmux send-keys -t " + name_ + " Enter").c_str());
  }
  void Key(const std::string& key) { (void)std::system(("tmux send-keys -t " + name_ + " " + key).c_str()); }

  // Waits until the screen shows `text` `count` times; false after 60 s.
  bool Shows(const std::string& text, int count = 1) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      const std::string screen = Screen();
      int seen = 0;
      for (size_t at = screen.find(text); at != std::string::npos; at = screen.find(text, at + 1)) ++seen;
      if (seen >= count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  // Keeps the screen as a test artefact.
  void Keep(const std::string& file) const {
    const fs::path folder = fs::path(WEBSETUP_ARTIFACT_DIR) / "console-session";
    fs::create_directories(folder);
    WriteFile((folder / file).string(), Screen());
  }

 private:
  std::string name_;
  bool ok_ = false;
};

TEST(ConsoleSession, APersonInstallsThenLeavesAReinstall) {
  if (std::system("command -v tmux > /dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
  RefServerOptions options;
  options.clientSet = testing_support::SampleClientDir() + "/client";
  options.filesDir = testing_support::SampleClientDir();
  RefServer server(options);
  ASSERT_TRUE(server.started());

  TempDir root;
  const std::string home = root / "home";
  const std::string download = root / "download";
  fs::create_directories(download + "/cfg");
  WriteFile(home + "/afile", "not a folder");
  fs::copy_file(std::string(WEBSETUP_BIN_DIR) + "/websetup_console_e2e", download + "/websetup");
  WriteFile(download + "/cfg/Updater.cfg", "~ip=localhost~srvl=UpdateServlet~po=" +
                                               std::to_string(server.httpsPort()) + "~ca=" + server.caFile());
  const std::string run = "cd " + Quote(download) + " && env -i PATH=/usr/bin:/bin TERM=xterm HOME=" + Quote(home) +
                          " XDG_DATA_HOME=" + Quote(home + "/.local/share") + " XDG_CONFIG_HOME=" +
                          Quote(home + "/.config") + " XDG_STATE_HOME=" + Quote(home + "/.local/state") +
                          " no_proxy=localhost,127.0.0.1 ./websetup " + std::to_string(server.httpsPort());
  const std::string session = "websetup-test-" + std::to_string(getpid());

  {
    Terminal terminal(session + "-install", run);
    ASSERT_TRUE(terminal.Started());
    ASSERT_TRUE(terminal.Shows("Connecting to the update server... ")) << terminal.Screen();
    ASSERT_TRUE(terminal.Shows("Language [1]: ")) << terminal.Screen();
    terminal.Keep("01-language.txt");
    terminal.Type("2");
    ASSERT_TRUE(terminal.Shows("Installationsordner: " + home + "/.local/share/Quorix")) << terminal.Screen();
    // Ctrl-C, then No: the question comes back.
    terminal.Key("C-c");
    ASSERT_TRUE(terminal.Shows("Are you sure you want to exit?")) << terminal.Screen();
    terminal.Type("n");
    ASSERT_TRUE(terminal.Shows("oder b zum Auswaehlen: ", 2)) << terminal.Screen();
    terminal.Keep("02-ctrl-c-no.txt");
    terminal.Type("Spiele");
    ASSERT_TRUE(terminal.Shows("vollstaendigen Pfad")) << terminal.Screen();
    terminal.Type("~/afile");
    ASSERT_TRUE(terminal.Shows(home + "/afile ist nicht verwendbar: es ist eine Datei.")) << terminal.Screen();
    terminal.Type("~/Spiele");
    ASSERT_TRUE(terminal.Shows("Installation nach " + home + "/Spiele")) << terminal.Screen();
    terminal.Keep("03-folders.txt");
    ASSERT_TRUE(terminal.Shows("a zum Annehmen oder d zum Ablehnen: ")) << terminal.Screen();
    terminal.Keep("04-progress.txt");
    const std::string progress = terminal.Screen();
    EXPECT_NE(progress.find("KB/s  file 100%"), std::string::npos) << progress;
    EXPECT_EQ(progress.find("sample archive"), std::string::npos) << "a started program wrote over the screen";
    EXPECT_EQ(progress.find("0/0"), std::string::npos) << progress;
    terminal.Type("a");
    ASSERT_TRUE(terminal.Shows("EXIT=0")) << terminal.Screen();
    terminal.Keep("05-installed.txt");
    EXPECT_TRUE(terminal.Shows("Quorix ist in " + home + "/Spiele installiert. Quorix startet jetzt."))
        << terminal.Screen();
  }
  ASSERT_TRUE(fs::exists(home + "/Spiele/Quorix.exe"));
  EXPECT_NE(fs::status(home + "/Spiele/Quorix.exe").permissions() & fs::perms::owner_exec, fs::perms::none)
      << "the launcher cannot be started from its shortcut";
  // The programs' own output went to the session log.
  std::string logs;
  for (const auto& entry : fs::directory_iterator(home + "/.local/state/websetup")) logs += ReadFile(entry.path());
  WriteFile((fs::path(WEBSETUP_ARTIFACT_DIR) / "console-session" / "session-log.txt").string(), logs);
  EXPECT_NE(logs.find("sample archive"), std::string::npos) << logs;
  EXPECT_NE(logs.find("final code 100"), std::string::npos) << logs;

  {
    Terminal terminal(session + "-reinstall", run);
    ASSERT_TRUE(terminal.Started());
    ASSERT_TRUE(terminal.Shows("(r)einstall or (p)lay [p]: ")) << terminal.Screen();
    terminal.Type("r");
    ASSERT_TRUE(terminal.Shows("Reinstalling first removes " + home + "/Spiele and everything in it.")) << terminal.Screen();
    terminal.Type("y");
    ASSERT_TRUE(terminal.Shows("Language [1]: ")) << terminal.Screen();
    terminal.Key("C-c");
    ASSERT_TRUE(terminal.Shows("Are you sure you want to exit?")) << terminal.Screen();
    terminal.Type("y");
    ASSERT_TRUE(terminal.Shows("EXIT=50")) << terminal.Screen();
    terminal.Keep("06-reinstall-left.txt");
    EXPECT_TRUE(terminal.Shows("The installation did not finish (exit code 50).")) << terminal.Screen();
  }
}

}  // namespace
