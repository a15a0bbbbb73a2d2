#include "flash/flash_player.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>

#include "app/installer_app.h"
#include "build_config.h"
#include "fakes/fake_http.h"
#include "fakes/fake_movie.h"
#include "fakes/fake_os.h"
#include "fakes/fake_platform.h"
#include "platform/posix/curl_http_client.h"
#include "platform/posix/posix_file_system.h"
#include "support/refserver.h"
#include "support/temp_dir.h"

namespace flash {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::TempDir;

using fakes::FakeMovieHost;

// Notice windows, with every call in one log.
class RecordingWindows : public platform::WindowFactory {
 public:
  std::vector<std::string> log;
  std::unique_ptr<platform::DialogWindow> CreateDialogWindow(int templateId, bool visible) override {
    log.push_back("create " + std::to_string(templateId) + (visible ? " visible" : " hidden"));
    return std::make_unique<Window>(log);
  }

 private:
  struct Window : platform::DialogWindow {
    explicit Window(std::vector<std::string>& l) : log(l) {}
    ~Window() override { log.push_back("destroy"); }
    void SetTitle(const std::string& title) override { log.push_back("title " + title); }
    void SetText(const std::string& text) override { log.push_back("text " + text.substr(0, 20)); }
    void SetTopmost() override {}
    void SetBackground(const platform::Colour&) override {}
    void FitClient(int, int) override {}
    void Show() override { log.push_back("show"); }
    void Hide() override { log.push_back("hide"); }
    void SetCloseRequestHandler(std::function<void()>) override {}
    bool Visible() const override { return false; }
    std::vector<std::string>& log;
  };
};

// Records what the set-up file held when it was run.
class SetupProcesses : public fakes::FakeProcesses {
 public:
  std::vector<std::string> contentsAtRun;
  int RunProgram(const std::string& directory, const std::string& file, const std::optional<std::string>& argument,
                 bool show, bool wait) override {
    contentsAtRun.push_back(ReadFile(directory + "/" + file));
    return FakeProcesses::RunProgram(directory, file, argument, show, wait);
  }
};

class FlashPlayerTest : public ::testing::Test {
 protected:
  FlashPlayerTest() {
    system.tempFolder = temp.path();
    platform::Platform p;
    p.system = &system;
    p.dialogs = &dialogs;
    p.files = &files;
    p.http = &http;
    p.processes = &processes;
    p.movies = &movies;
    p.windows = &windows;
    application = std::make_unique<app::CInstallerApp>(p);
    application->appName = "Quorix";
  }

  std::string SetupPath() const { return temp / "SetupFlash.exe"; }

  TempDir temp;
  fakes::FakeSystem system;
  fakes::FakeDialogs dialogs;
  fakes::FakeHttpClient http;
  platform::PosixFileSystem files;
  SetupProcesses processes;
  FakeMovieHost movies;
  RecordingWindows windows;
  std::unique_ptr<app::CInstallerApp> application;
};

TEST_F(FlashPlayerTest, RecentPlayerNeedsNothing) {
  for (const int32_t version : {0x90000, 0xA0000, 0x90001}) {
    SCOPED_TRACE(version);
    movies.versions = {version};
    windows.log.clear();
    EXPECT_EQ(EnsureFlashPlayer(*application), 0);
    EXPECT_EQ(application->flashVersion, version);
    EXPECT_EQ(application->flashInstalled, 0);
  }
  EXPECT_TRUE(http.Sessions().empty());
  EXPECT_TRUE(processes.Runs().empty());
  EXPECT_TRUE(dialogs.Boxes().empty());
  EXPECT_EQ(windows.log, (std::vector<std::string>{"create 129 hidden", "destroy"}));
  EXPECT_EQ(movies.created.front(), std::make_pair(1001, false));
}

TEST_F(FlashPlayerTest, SetupOutcomeDecidesByTheSecondCheck) {
  struct Row {
    const char* name;
    std::deque<int32_t> versions;  // first check, second check
    int result;
    int32_t flashVersion;
    bool thanked;
  };
  const Row rows[] = {
      {"no player, then 9", {-1, 0x90000}, 0, 0x90000, true},
      {"old player, then 6 will do", {0x80000, 0x60000}, 0, 0x60000, true},
      {"no player, then 5", {-1, 0x50000}, 1, 0x50000, false},
      {"no player before or after", {-1, -1}, 1, 0, false},
  };
  const std::string address = SetupAddress();
  EXPECT_EQ(address, "https://" + std::string(build_config::kDownloadHost) +
                         "/setup/basic/flash/flashplayer9r115_winax.exe.zip");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fakes::FakeHttpClient rowHttp;
    rowHttp.downloads[address] = {fakes::Serves({fakes::Chunk("MZ set-up "), fakes::Chunk("program")})};
    SetupProcesses rowProcesses;
    fakes::FakeDialogs rowDialogs;
    RecordingWindows rowWindows;
    platform::Platform p = application->Platform();
    p.http = &rowHttp;
    p.processes = &rowProcesses;
    p.dialogs = &rowDialogs;
    p.windows = &rowWindows;
    app::CInstallerApp rowApp(p);
    rowApp.appName = "Quorix";
    movies.versions = row.versions;

    EXPECT_EQ(EnsureFlashPlayer(rowApp), row.result);
    EXPECT_EQ(rowApp.flashInstalled, 1);
    EXPECT_EQ(rowApp.flashVersion, row.flashVersion);
    ASSERT_EQ(rowHttp.Sessions().size(), 1u);
    EXPECT_EQ(rowHttp.Sessions()[0].agent, "Quorix");
    EXPECT_EQ(rowHttp.OpenedUrls(), std::vector<std::string>{address});
    for (const size_t capacity : rowHttp.DownloadReadCapacities()) EXPECT_LE(capacity, kSetupChunk);
    const auto runs = rowProcesses.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].directory, temp.path());
    EXPECT_EQ(runs[0].file, "SetupFlash.exe");
    EXPECT_FALSE(runs[0].argument.has_value());
    EXPECT_FALSE(runs[0].show);
    EXPECT_TRUE(runs[0].wait);
    EXPECT_EQ(rowProcesses.contentsAtRun, std::vector<std::string>{"MZ set-up program"});
    EXPECT_FALSE(fs::exists(SetupPath()));
    const auto boxes = rowDialogs.Boxes();
    ASSERT_EQ(boxes.size(), row.thanked ? 1u : 0u);
    if (row.thanked) {
      EXPECT_EQ(boxes[0].text, std::string(kThankYouText));
      EXPECT_EQ(boxes[0].style, platform::BoxStyle::Plain);
    }
    ASSERT_GE(rowWindows.log.size(), 5u);
    EXPECT_EQ(rowWindows.log[0], "create 129 hidden");
    EXPECT_EQ(rowWindows.log[1], "title Flash Player Installation");
    EXPECT_EQ(rowWindows.log[2], "text The program requiers");
    EXPECT_EQ(rowWindows.log[3], "text In a few seconds you");
    EXPECT_EQ(rowWindows.log[4], "show");
    EXPECT_EQ(rowWindows.log.back(), "destroy");
  }
}

TEST_F(FlashPlayerTest, BrokenTransferStillRunsThePartialFileOnceAndDeletesIt) {
  movies.versions = {-1, 0x90000};
  http.downloads[SetupAddress()] = {fakes::Serves({fakes::Chunk("MZ part"), fakes::ReadFails()})};
  EXPECT_EQ(EnsureFlashPlayer(*application), 0);
  EXPECT_EQ(processes.contentsAtRun, std::vector<std::string>{"MZ part"});
  EXPECT_FALSE(fs::exists(SetupPath()));
}

TEST_F(FlashPlayerTest, UnopenableAddressOrUnwritableFileEndsWithoutRunning) {
  movies.versions = {-1, 0x90000};
  http.downloads[SetupAddress()] = {fakes::CannotOpen()};
  EXPECT_EQ(EnsureFlashPlayer(*application), 1);
  EXPECT_EQ(application->flashInstalled, 1);
  EXPECT_TRUE(processes.Runs().empty());
  EXPECT_FALSE(fs::exists(SetupPath()));
  EXPECT_EQ(windows.log.back(), "destroy");

  movies.versions = {-1, 0x90000};
  system.tempFolder = temp / "absent";
  EXPECT_EQ(EnsureFlashPlayer(*application), 1);
  EXPECT_EQ(http.OpenedUrls().size(), 1u);  // the second call never opened the address
  EXPECT_TRUE(processes.Runs().empty());
}

TEST_F(FlashPlayerTest, SetupComesFromALocalServerOverTls) {
  TempDir served;
  const std::string setup(1500000, 'S');  // more than two read chunks
  testing_support::WriteFile(served / "setup/SetupFlash.bin", setup);
  testing_support::RefServerOptions options;
  options.filesDir = served.path();
  testing_support::RefServer server(options);
  platform::CurlHttpClient curl;
  curl.SetExtraCaFile(server.caFile());
  platform::Platform p = application->Platform();
  p.http = &curl;
  app::CInstallerApp withServer(p);
  withServer.appName = "Quorix";
  movies.versions = {0x50000, 0x90000};

  const std::string address = "https://127.0.0.1:" + std::to_string(server.httpsPort()) + "/files/setup/SetupFlash.bin";
  EXPECT_EQ(EnsureFlashPlayer(withServer, address), 0);
  ASSERT_EQ(processes.contentsAtRun.size(), 1u);
  EXPECT_EQ(processes.contentsAtRun[0].size(), setup.size());
  EXPECT_TRUE(processes.contentsAtRun[0] == setup);
  EXPECT_FALSE(fs::exists(SetupPath()));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].userAgent, "Quorix");
}

}  // namespace
}  // namespace flash
