#include "app/installer_app.h"

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>
#include <vector>

#include "build_config.h"
#include "fakes/fake_platform.h"

namespace app {
namespace {

struct MovieAnswer {
  std::string label, funcName, parm;
};

class RecordingDialog : public InstallerDialogPort {
 public:
  void AnswerMovie(const std::string& label, const std::string& funcName,
                   const std::optional<std::string>& parm) override {
    answers.push_back({label, funcName, parm.value_or("<none>")});
    events.push_back("answer:" + funcName);
  }
  void PostCloseDialog(uintptr_t askFirst) override { events.push_back("close:" + std::to_string(askFirst)); }
  void CloseDialogNow() override { events.push_back("close now"); }
  void EndModal(int result) override { events.push_back("end:" + std::to_string(result)); }

  std::vector<MovieAnswer> answers;
  std::vector<std::string>& events;
  explicit RecordingDialog(std::vector<std::string>& log) : events(log) {}
};

class RecordingActions : public InstallationActions {
 public:
  explicit RecordingActions(std::vector<std::string>& log) : events(log) {}
  void RemoveInstallation(const std::string& folder, const std::string& appName) override {
    events.push_back("remove:" + folder + ":" + appName);
  }
  void FinishInstallation() override { events.push_back("finish"); }
  std::vector<std::string>& events;
};

class InstallerAppTest : public ::testing::Test {
 protected:
  InstallerAppTest() : dialog(events), actions(events), application(MakePlatform()) {
    application.SetDialog(&dialog);
    application.SetActions(&actions);
  }

  platform::Platform MakePlatform() {
    platform::Platform p;
    p.system = &system;
    p.dialogs = &dialogs;
    p.mainLoop = &mainLoop;
    return p;
  }

  platform::QueueMainLoop mainLoop;
  fakes::FakeSystem system;
  fakes::FakeDialogs dialogs;
  std::vector<std::string> events;
  RecordingDialog dialog;
  RecordingActions actions;
  CInstallerApp application;
};

TEST_F(InstallerAppTest, StartupValuesDeriveNamesFromTheUnstampedBlock) {
  application.TakeStartupValues();
  EXPECT_EQ(application.appName.str(), "Quorix");
  EXPECT_EQ(application.clientPrefix.str(), "Quorix");
  EXPECT_EQ(application.launcherFile.str(), "Quorix.exe");
  EXPECT_EQ(application.appRegKey.str(), "Software\\Quorix");
  EXPECT_EQ(application.affiliate.str(), "orbelta");
  EXPECT_EQ(application.affiliateSub.str(), "tessmark");
  EXPECT_EQ(application.param1.str(), std::string(100, '@'));
  EXPECT_EQ(application.serial.str(), "K7TQ2M9XRB4HZ0WLC8NVJ5PDAE3GY61FSUQ0ZK2M");
  EXPECT_EQ(application.serverHost.str(), build_config::kSecureHost);
  EXPECT_EQ(application.serverPort, build_config::kSecurePort);
  EXPECT_EQ(application.helpUrl.str(), build_config::kHelpUrl);
  EXPECT_TRUE(std::regex_match(application.moduleVersion.str(),
                               std::regex(R"([A-Z][a-z]{2} [ 0-9]\d \d{4}_\d\d:\d\d:\d\d)")))
      << application.moduleVersion.str();
  EXPECT_EQ(application.sessionId.str().rfind("TESTPC_", 0), 0u) << application.sessionId.str();
}

TEST_F(InstallerAppTest, SessionIdCarriesNameTimeAndThreeDigits) {
  system.computerName = "BOX-7";
  system.fileTime = 133456789012345678ULL;
  EXPECT_TRUE(std::regex_match(application.MakeSessionId(true), std::regex(R"(BOX-7_133456789012345678_\d{3})")))
      << application.MakeSessionId(true);
  EXPECT_TRUE(std::regex_match(application.MakeSessionId(false),
                               std::regex(R"(BOX-7_2026-12-08_09:05:07\.042_\d{3})")))
      << application.MakeSessionId(false);
}

TEST_F(InstallerAppTest, SessionIdFitsItsFieldWithAnOverlongComputerName) {
  system.computerName = std::string(400, 'N');
  application.sessionId = application.MakeSessionId(true);
  EXPECT_EQ(application.sessionId.size(), 100u);
}

TEST_F(InstallerAppTest, StepIsFrozenOnceTheFinalCodeIsSet) {
  application.SetStep(41);
  ASSERT_TRUE(application.stats.TrySetFinalCode(21));
  application.SetStep(45);
  EXPECT_EQ(application.stats.step.load(), 41);
  EXPECT_EQ(application.stats.stepAtFinal.load(), 41);
  EXPECT_FALSE(application.stats.TrySetFinalCode(100));
  EXPECT_EQ(application.stats.finalCode.load(), 21);
}

TEST_F(InstallerAppTest, ResetClearsTheRunButKeepsTheStepAtFinal) {
  SessionStats& s = application.stats;
  s.step = 45;
  ASSERT_TRUE(s.TrySetFinalCode(24));
  s.userExit = true;
  s.eps = 3, s.dlFileCount = 4, s.dlRetryCount = 5, s.dlRetryFiles = 6, s.kbs = 12.5;
  s.tDlg = 7, s.tLang = 8, s.tDL = 9;
  application.ResetSessionStats();
  EXPECT_EQ(s.step.load(), 0);
  EXPECT_EQ(s.finalCode.load(), 0);
  EXPECT_FALSE(s.userExit.load());
  EXPECT_EQ(s.eps + s.dlFileCount + s.dlRetryCount + s.dlRetryFiles, 0);
  EXPECT_EQ(s.kbs.load(), 0.0);
  EXPECT_EQ(s.tDlg + s.tLang + s.tDL, 0u);
  EXPECT_EQ(s.stepAtFinal.load(), 45);
}

TEST(SessionStatsTest, OnlyOneOfManyThreadsSetsTheFinalCode) {
  for (int round = 0; round < 50; ++round) {
    SessionStats stats;
    std::atomic<int> winners{0};
    std::vector<std::thread> threads;
    for (int code = 1; code <= 8; ++code) {
      threads.emplace_back([&, code] {
        if (stats.TrySetFinalCode(code)) ++winners;
      });
    }
    for (auto& t : threads) t.join();
    ASSERT_EQ(winners.load(), 1) << "round " << round;
    ASSERT_NE(stats.finalCode.load(), 0);
  }
}

TEST_F(InstallerAppTest, BrandColourFollowsTheApplicationName) {
  const struct {
    const char* name;
    Rgb colour;
  } rows[] = {
      {"Ostravelin", {0, 8, 72}},    {"OSTRAVELIN", {0, 8, 72}},     {"quorix", {75, 70, 43}},
      {"Quorix", {75, 70, 43}},      {"Plenvarico", {75, 70, 43}},   {"trivosalen", {50, 75, 69}},
      {"QuorixX", {204, 204, 204}},  {"", {204, 204, 204}},
  };
  for (const auto& row : rows) {
    application.appName = row.name;
    const Rgb got = application.BrandBackgroundColor();
    EXPECT_EQ(got, row.colour) << "name '" << row.name << "' gave " << int(got.r) << "," << int(got.g) << ","
                               << int(got.b);
  }
}

TEST(BrowseRuleTest, AppendsTheApplicationNameUnlessThePathHoldsIt) {
  const struct {
    const char* chosen;
    const char* expected;
  } rows[] = {
      {"/home/ann/Games", "/home/ann/Games/Quorix"},
      {"/home/ann/Games/", "/home/ann/Games/Quorix"},
      {"/", "/Quorix"},
      {"/opt/QUORIX", "/opt/QUORIX"},
      {"/opt/myquorixgames/x", "/opt/myquorixgames/x"},
      {"D:\\Games\\", "D:\\Games\\Quorix"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ApplyBrowseRule(row.chosen, "Quorix"), row.expected) << "chosen '" << row.chosen << "'";
  }
}

TEST_F(InstallerAppTest, BrowseAnswersTheMovieWithTheChosenFolder) {
  application.appName = "Quorix";
  dialogs.folderToPick = "/srv/games";
  application.DispatchThreadMessage({WM_APP_BROWSE_FOLDER, 0, 0});
  ASSERT_EQ(dialog.answers.size(), 1u);
  EXPECT_EQ(dialog.answers[0].label, "Data");
  EXPECT_EQ(dialog.answers[0].funcName, "SetDirectory");
  EXPECT_EQ(dialog.answers[0].parm, "/srv/games/Quorix");
  EXPECT_EQ(application.installDir.str(), "/srv/games/Quorix");
  EXPECT_EQ(dialogs.PickerTitles(), std::vector<std::string>{"Select a directory"});
}

TEST_F(InstallerAppTest, CancelledBrowseChangesNothing) {
  application.installDir = "/opt/Quorix";
  dialogs.folderToPick.reset();
  application.OnBrowseFolder();
  EXPECT_TRUE(dialog.answers.empty());
  EXPECT_EQ(application.installDir.str(), "/opt/Quorix");
}

TEST_F(InstallerAppTest, GoodRunShowsTheLicence) {
  application.DispatchThreadMessage({WM_APP_FILESET_DONE, 0, 0});
  EXPECT_EQ(application.stats.step.load(), kStepLicence);
  ASSERT_EQ(dialog.answers.size(), 1u);
  EXPECT_EQ(dialog.answers[0].funcName, "SetLA");
  EXPECT_EQ(dialog.answers[0].parm, "<none>");  // the movie keeps its last parameter
  EXPECT_EQ(events, std::vector<std::string>{"answer:SetLA"});
}

TEST_F(InstallerAppTest, FailedRunRemovesOnlyWhatThisSessionPrepared) {
  application.appName = "Quorix";
  application.installDir = "/opt/Quorix";
  application.DispatchThreadMessage({WM_APP_FILESET_DONE, 1, 0});
  EXPECT_EQ(events, std::vector<std::string>{"close:0"});

  events.clear();
  application.removeOnFailure = true;
  application.DispatchThreadMessage({WM_APP_FILESET_DONE, 30, 0});
  EXPECT_EQ(events, (std::vector<std::string>{"remove:/opt/Quorix:Quorix", "close:0"}));
}

TEST_F(InstallerAppTest, AcceptedLicenceFinishesTheInstallation) {
  EXPECT_TRUE(application.DispatchThreadMessage({WM_APP_FINISH_INSTALL, 0, 0}));
  EXPECT_EQ(events, std::vector<std::string>{"finish"});
  EXPECT_FALSE(application.DispatchThreadMessage({WM_APP_MOVIE_CALL, 0, 0}));
}

// The run ends only when both the closing pixel and the dialog's close have
// arrived, whichever comes first.
TEST_F(InstallerAppTest, QuitHandshakeNeedsBothHalvesInEitherOrder) {
  for (bool reportFirst : {true, false}) {
    SCOPED_TRACE(reportFirst ? "report first" : "dialog first");
    fakes::FakeSystem localSystem;
    platform::Platform p;
    p.system = &localSystem;
    platform::QueueMainLoop loop;
    p.mainLoop = &loop;
    std::vector<std::string> log;
    RecordingDialog localDialog(log);
    CInstallerApp local(p);
    local.SetDialog(&localDialog);

    const uint32_t first = reportFirst ? WM_APP_REPORT_DONE : WM_APP_DIALOG_CLOSED;
    const uint32_t second = reportFirst ? WM_APP_DIALOG_CLOSED : WM_APP_REPORT_DONE;
    ASSERT_TRUE(local.PostToMainThread(first));
    ASSERT_TRUE(local.PostToMainThread(first));  // a repeat of one half is not the other half
    ASSERT_TRUE(local.PostToMainThread(second));

    int handled = 0;
    while (auto message = loop.Wait()) {
      local.DispatchThreadMessage(*message);
      ++handled;
      if (handled < 3) {
        EXPECT_FALSE(loop.QuitRequested()) << "ended after " << handled;
      }
    }
    EXPECT_EQ(handled, 3);
    EXPECT_TRUE(loop.QuitRequested());
    EXPECT_EQ(loop.ExitCode(), 0);
    EXPECT_EQ(log, std::vector<std::string>{"end:0"});
  }
}

TEST_F(InstallerAppTest, MessagesPostedFromOtherThreadsAllArrive) {
  constexpr int kThreads = 4, kEach = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kEach; ++i) application.PostToMainThread(WM_APP_FINISH_INSTALL);
    });
  }
  for (auto& t : threads) t.join();
  int count = 0;
  while (auto message = mainLoop.TryTake()) count += application.DispatchThreadMessage(*message);
  EXPECT_EQ(count, kThreads * kEach);
}

TEST(FixedTextTest, ValuesAreCutToTheFieldNeverOverflowing) {
  FixedText<5> field;
  field = "abcdefgh";
  EXPECT_EQ(field.str(), "abcd");
  field = std::string_view("ab\0cd", 5);
  EXPECT_EQ(field.str(), "ab");
  field.Append("xyz");
  EXPECT_EQ(field.str(), "abxy");
}

}  // namespace
}  // namespace app
