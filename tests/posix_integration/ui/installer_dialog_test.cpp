// The installer dialog with the scripted movie player: the movie command
// table, the answers, the window sizing and the ways the dialog ends.
#include "ui/installer_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "fakes/fake_http.h"
#include "fakes/fake_os.h"
#include "fakes/fake_platform.h"
#include "fakes/fake_ui.h"
#include "platform/message_queue.h"
#include "platform/posix/posix_file_system.h"
#include "support/scripted_player.h"
#include "support/temp_dir.h"

namespace ui {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSessionReply =
    "~ac=10~url=https://d.test/dispatch~fl=|~fn=DlgUpdater.qrx~url=https://m.test/DlgUpdater.qrx|"
    "~fn=mcLogo.qrx~url=https://m.test/logo|~fn=mcLang.qrx~url=https://m.test/lang||";

class InstallerDialogTest : public ::testing::Test {
 protected:
  InstallerDialogTest() : savedCwd(fs::current_path()) {
    http.script = {fakes::Chunk(kSessionReply)};
    platform.system = &system;
    platform.files = &files;
    platform.http = &http;
    platform.dialogs = &dialogs;
    platform.registry = &registry;
    platform.shell = &shell;
    platform.processes = &processes;
    platform.windows = &windows;
  }
  ~InstallerDialogTest() override { fs::current_path(savedCwd); }

  // Runs the dialog to its end with the movie of `script`; the movie's
  // record afterwards.
  // `closeRequests` close requests with the question wait in the queue when
  // the dialog starts. Each run is a session of its own, with its own queue.
  std::vector<std::string> RunDialog(const std::string& script, int closeRequests = 0) {
    queue = std::make_unique<platform::QueueMainLoop>();
    platform.mainLoop = queue.get();
    for (int i = 0; i < closeRequests; ++i) queue->Post({app::WM_APP_CLOSE_DIALOG, 1, 0});
    platform::ScriptedMovieHost movies(script, "", *queue);
    platform.movies = &movies;
    application = std::make_unique<app::CInstallerApp>(platform);
    application->appName = "Quorix";
    application->appRegKey = "Software\\Quorix";
    CInstallerDlg dialog(*application);
    result = dialog.RunModal(7);
    application->Reports().WaitForReports();
    std::vector<std::string> record = movies.Record();
    while (auto message = queue->TryTake()) platform::DiscardIfTask(*message);
    return record;
  }

  std::vector<std::string> Lines(const std::vector<std::string>& record, const std::string& prefix) {
    std::vector<std::string> lines;
    std::copy_if(record.begin(), record.end(), std::back_inserter(lines),
                 [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
    return lines;
  }

  bool BoxShown(const std::string& text) {
    for (const auto& box : dialogs.Boxes()) {
      if (box.text.find(text) != std::string::npos) return true;
    }
    return false;
  }

  testing_support::TempDir root;
  fs::path savedCwd;
  fakes::FakeSystem system;
  platform::PosixFileSystem files;
  fakes::FakeHttpClient http;
  fakes::FakeDialogs dialogs;
  fakes::FakeRegistry registry;
  fakes::FakeShell shell;
  fakes::FakeProcesses processes;
  fakes::RecordingWindowFactory windows;
  std::unique_ptr<platform::QueueMainLoop> queue;
  platform::Platform platform;
  std::unique_ptr<app::CInstallerApp> application;
  int result = -2;
};

TEST_F(InstallerDialogTest, InitDialogSizesTheWindowAndSetsTheStartVariablesBeforePlay) {
  const auto record = RunDialog(R"(on load DlgUpdater.qrx: InitPreloader 640~480
on load DlgUpdater.qrx: InitDialog 800~600
on play: Decline
)");
  EXPECT_EQ(Lines(record, "movie "), std::vector<std::string>{"movie https://m.test/DlgUpdater.qrx"});
  std::vector<std::string> afterInit;
  bool started = false;
  for (const auto& line : record) {
    if (line == "raise InitDialog 800~600") started = true;
    if (started && (line.rfind("set ", 0) == 0 || line == "play")) afterInit.push_back(line);
  }
  EXPECT_EQ(afterInit, (std::vector<std::string>{"set m_aName=Quorix", "set m_bIsInstaller=1",
                                                 "set m_movieLangURL=https://m.test/lang",
                                                 "set m_movieLogoURL=https://m.test/logo",
                                                 "set m_dispatcherURL=https://d.test/dispatch", "play"}));
  EXPECT_EQ(Lines(record, "size "), (std::vector<std::string>{"size 640x480", "size 800x600"}));
  const auto windowRecord = windows.Record();
  EXPECT_NE(std::find(windowRecord.begin(), windowRecord.end(), "fit 800x600"), windowRecord.end());
  EXPECT_NE(std::find(windowRecord.begin(), windowRecord.end(), "title   Quorix"), windowRecord.end());
  EXPECT_EQ(application->stats.finalCode.load(), 51);
  EXPECT_EQ(application->stats.stepAtFinal.load(), app::kStepInitDialog);
  EXPECT_TRUE(dialogs.Boxes().empty());  // Decline shows no box
}

TEST_F(InstallerDialogTest, CommandsThatAreNotTheMoviesAreIgnored) {
  const auto record = RunDialog(R"(on load DlgUpdater.qrx: initdialog 640~480
on load DlgUpdater.qrx: InitPreloader 640x480
on load DlgUpdater.qrx: InitPreloader 12345678901~2345678901
on load DlgUpdater.qrx: Retry
on load DlgUpdater.qrx: Error
)");
  EXPECT_TRUE(Lines(record, "set m_").empty());
  EXPECT_TRUE(Lines(record, "size ").empty());
  EXPECT_EQ(application->stats.finalCode.load(), 90);
  EXPECT_TRUE(BoxShown("Communication with the server failed"));
}

TEST_F(InstallerDialogTest, ReadyOffersTheProposedFolderOrNothingWhenInstalled) {
  auto record = RunDialog(R"(on load DlgUpdater.qrx: Ready
on InstallDir: NoDataFromServer
)");
  const auto parms = Lines(record, "set funcParm=");
  ASSERT_EQ(parms.size(), 1u);
  EXPECT_EQ(parms[0].rfind("set funcParm=Quorix~", 0), 0u);
  EXPECT_EQ(application->stats.finalCode.load(), 27);

  ASSERT_EQ(registry.WriteString(platform::Hive::LocalMachine, "Software\\Quorix", "AppDirectory", "/games/Q"), 0);
  record = RunDialog(R"(on load DlgUpdater.qrx: Ready
on InstallDir: Decline
)");
  EXPECT_EQ(Lines(record, "set funcParm="), std::vector<std::string>{"set funcParm="});
}

TEST_F(InstallerDialogTest, LanguageIsTakenForTheSession) {
  RunDialog(R"(on load DlgUpdater.qrx: SetLang fr
on load DlgUpdater.qrx: Decline
)");
  EXPECT_EQ(application->language.str(), "fr");
  EXPECT_NE(application->stats.tLang.load(), 0u);
}

TEST_F(InstallerDialogTest, FolderWithSomeonesFilesEndsTheSessionUntouched) {
  const std::string chosen = root / "Games";
  testing_support::WriteFile(chosen + "/save.dat", "mine");
  testing_support::WriteFile(chosen + "/Quorix/notes.txt", "also mine");
  RunDialog("on load DlgUpdater.qrx: Install " + chosen + "\n");
  EXPECT_EQ(application->stats.finalCode.load(), kFinalInstallFolder);
  EXPECT_TRUE(BoxShown("already holds other files"));
  EXPECT_FALSE(BoxShown("Cause:")) << "no system error refused the folder";
  EXPECT_EQ(testing_support::ReadFile(chosen + "/save.dat"), "mine");
  EXPECT_EQ(testing_support::ReadFile(chosen + "/Quorix/notes.txt"), "also mine");
  EXPECT_TRUE(shell.Deletes().empty());
}

TEST_F(InstallerDialogTest, ExitQuestionNoKeepsTheSessionYesEndsIt) {
  dialogs.answer = platform::BoxAnswer::No;
  // A close with the question (answered No), then the movie declines.
  RunDialog("on load DlgUpdater.qrx: Decline\n", 1);
  EXPECT_EQ(application->stats.finalCode.load(), 51);
  EXPECT_FALSE(application->stats.userExit.load());
  ASSERT_FALSE(dialogs.Boxes().empty());
  EXPECT_EQ(dialogs.Boxes()[0].text, "Are you sure you want to exit?");
  EXPECT_EQ(dialogs.Boxes()[0].style, platform::BoxStyle::YesNo);

  dialogs.answer = platform::BoxAnswer::Yes;
  RunDialog("", 1);
  EXPECT_EQ(application->stats.finalCode.load(), kFinalUserExit);
  EXPECT_TRUE(application->stats.userExit.load());
  EXPECT_EQ(result, 0);
}

// The user leaves while the files are being fetched: the folder this
// session prepared is taken away again.
TEST_F(InstallerDialogTest, LeavingDuringTheInstallationLeavesNothingBehind) {
  class LeaveOnFileList : public fakes::FakeHttpClient {
   public:
    platform::MainLoop** queue = nullptr;
    std::unique_ptr<app::CInstallerApp>* application = nullptr;
    std::unique_ptr<platform::HttpStream> Post(const platform::HttpPostRequest& request) override {
      if (request.body.rfind("ac=11&", 0) == 0) {
        (*queue)->Post({app::WM_APP_CLOSE_DIALOG, 1, 0});
        // A slow server: the reply comes only once the user has left (bounded).
        for (int i = 0; i < 500 && !(*application)->stats.userExit.load(); ++i) {
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
      }
      return FakeHttpClient::Post(request);
    }
  };
  LeaveOnFileList leaving;
  leaving.script = {fakes::Chunk(kSessionReply)};
  // RunDialog makes the session's queue: the client finds it through the
  // platform context.
  leaving.queue = &platform.mainLoop;
  leaving.application = &application;
  platform.http = &leaving;
  dialogs.answer = platform::BoxAnswer::Yes;
  const std::string folder = root / "Quorix";
  RunDialog("on load DlgUpdater.qrx: Install " + folder + "\n");
  EXPECT_EQ(application->stats.finalCode.load(), kFinalUserExit);
  bool removed = false;
  for (const auto& call : shell.Deletes()) removed = removed || (call.path == folder && !call.contentsOnly);
  EXPECT_TRUE(removed) << "the prepared folder was not taken away";
}

TEST_F(InstallerDialogTest, SessionStartFailureEndsBeforeAnyMovie) {
  using namespace std::string_literals;
  struct Row {
    std::string reply, box;
  };
  const std::string failed = "Communication with the server failed";
  const Row rows[] = {
      {"~ac=11", "ERROR: Invalid return code from the server on initial post.  ac=11"},
      {"~ac=10", failed},
      {"~ac=10~url=https://d.test/dispatch~fl=|~fn=mcLogo.qrx~url=https://m.test/logo||", failed},
      {"~ac=10\0~fl=|~fn=DlgUpdater.qrx~url=https://m.test/DlgUpdater.qrx||"s, failed},
      {"~ac=10~fl=|~fn=DlgUpdater.qrx|~fn=mcLang.qrx~url=https://m.test/lang||", failed},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.reply);
    http.script = {fakes::Chunk(row.reply)};
    const auto record = RunDialog("on load DlgUpdater.qrx: InitDialog 640~480\n");
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(record.empty());
    EXPECT_EQ(application->stats.finalCode.load(), kFinalSessionStart);
    EXPECT_TRUE(BoxShown(row.box));
    std::string finish;
    for (const auto& request : http.Requests()) {
      if (request.body.find("txt=FINISH") != std::string::npos) finish = request.body;
    }
    EXPECT_EQ(finish.find("installer+movie") != std::string::npos, row.box == failed) << finish;
  }
}

TEST(MovieAddressTest, LanguageGoesIntoTheQuery) {
  EXPECT_EQ(MovieAddressWithLanguage("/i/qrx/DlgMsg.qrx", "de"), "/i/qrx/DlgMsg.qrx?m_Lang=de");
  EXPECT_EQ(MovieAddressWithLanguage("/i/qrx/DlgMsg.qrx?x=1", "de"), "/i/qrx/DlgMsg.qrx?x=1&m_Lang=de");
  EXPECT_EQ(MovieAddressWithLanguage("/i/qrx/DlgMsg.qrx", ""), "/i/qrx/DlgMsg.qrx?m_Lang=");
  EXPECT_EQ(MovieAddressWithLanguage("m", "a&b"), "m?m_Lang=a%26b");
}

TEST(SizeTextTest, WidthAndHeightOrNothing) {
  EXPECT_EQ(ParseSizeText("640~480"), std::make_optional(std::make_pair(640, 480)));
  EXPECT_EQ(ParseSizeText("640px~480px"), std::make_optional(std::make_pair(640, 480)));
  EXPECT_EQ(ParseSizeText("~"), std::make_optional(std::make_pair(0, 0)));
  EXPECT_EQ(ParseSizeText("640x480"), std::nullopt);
  EXPECT_EQ(ParseSizeText("12345678901~234567890"), std::nullopt);
}

}  // namespace
}  // namespace ui
