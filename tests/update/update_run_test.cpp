// The worker on its own thread, and whole runs against the reference server.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "platform/posix/curl_http_client.h"
#include "platform/posix/processes_posix.h"
#include "support/refserver.h"
#include "update/movie_call_channel.h"
#include "update_worker_fixture.h"

namespace update {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;

// The main thread's side: the application's queue, movie calls handed to
// `onCall` through the channel, until the run's result arrives.
struct MainThread {
  platform::QueueMainLoop& mainLoop;
  MovieCallChannel& channel;
  std::vector<std::string> functions;
  std::vector<uintptr_t> results;

  // Handles messages until `results` holds `count` results, or the queue
  // stays empty for `idleMs` once `count` is reached.
  void Pump(size_t count, const std::function<void(const std::string&)>& onCall = {}) {
    while (results.size() < count) {
      auto message = mainLoop.Wait();
      if (!message) return;
      if (message->id == app::WM_APP_FILESET_DONE) {
        results.push_back(message->wParam);
        continue;
      }
      channel.HandleMessage(*message, [&](const std::string* function, const std::string*) {
        functions.push_back(function ? *function : "");
        if (onCall) onCall(functions.back());
      });
    }
  }
};

class WorkerThreadTest : public UpdateWorkerFixture {
 protected:
  WorkerThreadTest() : channel(mainLoop) {}
  MovieCallChannel channel;
};

TEST_F(WorkerThreadTest, RetryQueuedDuringARunStartsANewRun) {
  Serve("http://f/a", "abc");
  SetList(Entry("W", "a.dat", "", 3, "http://f/a"));
  CUpdateVersionFiles worker({kRunModeInstall, &application, &channel, 0, 0});
  worker.Start();
  MainThread loop{mainLoop, channel, {}, {}};
  bool posted = false;
  loop.Pump(2, [&](const std::string& function) {
    if (function == "Performing" && !posted) {
      worker.PostRun();  // "Retry" while the first run is still going
      posted = true;
    }
  });
  EXPECT_EQ(loop.results, (std::vector<uintptr_t>{0, 0}));
  EXPECT_EQ(std::count(loop.functions.begin(), loop.functions.end(), "Msg"), 2);
  channel.Release();
  worker.Stop();
  EXPECT_EQ(system.priorityLowered, 1);
}

TEST_F(WorkerThreadTest, CancelStopsCallsAndPostsNothing) {
  Serve("http://f/a", "abc");
  Serve("http://f/b", "def");
  SetList(Entry("W", "a.dat", "", 3, "http://f/a") + "|" + Entry("W", "b.dat", "", 3, "http://f/b"));
  CUpdateVersionFiles worker({kRunModeInstall, &application, &channel, 0, 0});
  std::atomic<int> callsAfterCancel{0};
  MainThread loop{mainLoop, channel, {}, {}};
  worker.Start();
  // The user confirms leaving when the first file name shows.
  std::atomic<bool> cancelled{false};
  std::thread stopper;
  auto onCall = [&](const std::string& function) {
    if (cancelled) ++callsAfterCancel;
    if (function == "SetFileName" && !cancelled) {
      application.stats.userExit = true;
      cancelled = true;
    }
  };
  // Pump until the worker has ended its run; it posts no result, so stop
  // the worker from another thread once the main queue has gone quiet.
  stopper = std::thread([&] {
    while (!cancelled) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    channel.Release();
    worker.Stop();
    mainLoop.Quit(0);
  });
  loop.Pump(1, onCall);
  stopper.join();
  EXPECT_TRUE(loop.results.empty());
  EXPECT_EQ(callsAfterCancel.load(), 0);
  EXPECT_EQ(application.stats.finalCode.load(), 0);
  EXPECT_FALSE(fs::exists(installDir + "/a.dat"));
  application.Reports().WaitForReports();
  for (auto& text : server.StatisticsTexts()) EXPECT_NE(text, "FINISH");
}

TEST_F(WorkerThreadTest, StopReleasesAWorkerWaitingInAMovieCall) {
  SetList("");
  CUpdateVersionFiles worker({kRunModeInstall, &application, &channel, 0, 0});
  worker.Start();
  // Nobody handles the main queue: the worker blocks in its first call.
  while (mainLoop.TryTake() == std::nullopt) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  application.stats.userExit = true;
  channel.Release();
  worker.Stop();  // returns: the waiting call was released
  SUCCEED();
}

TEST_F(WorkerThreadTest, HeldWorkerWaitsAtItsNextCheck) {
  Serve("http://f/a", "abc");
  SetList(Entry("W", "a.dat", "", 3, "http://f/a"));
  CUpdateVersionFiles worker({kRunModeInstall, &application, &channel, 0, 0});
  MainThread loop{mainLoop, channel, {}, {}};
  worker.Start();
  size_t callsWhenHeld = 0;
  std::thread resumer;
  loop.Pump(1, [&](const std::string& function) {
    if (function == "Performing") {
      worker.Hold();
      callsWhenHeld = loop.functions.size();
      resumer = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        // Held: the worker has made no further call meanwhile.
        EXPECT_EQ(mainLoop.TryTake(), std::nullopt);
        worker.Resume();
      });
    }
  });
  resumer.join();
  EXPECT_EQ(loop.results, std::vector<uintptr_t>{0});
  EXPECT_GT(loop.functions.size(), callsWhenHeld);
  channel.Release();
  worker.Stop();
}

// A whole run against the reference server with the sample client: the
// real transport, real archive extraction and programs.
TEST(SampleRun, InstallsTheSampleClientFromTheReferenceServer) {
  testing_support::RefServerOptions options;
  options.clientSet = testing_support::SampleClientDir() + "/client";
  testing_support::RefServer server(options);
  testing_support::TempDir root;
  const fs::path savedCwd = fs::current_path();
  const std::string installDir = root / "Quorix";
  fs::create_directories(installDir + "/cfg");
  fs::current_path(installDir);

  fakes::FakeSystem system;
  platform::PosixFileSystem files;
  platform::CurlHttpClient http;
  http.SetExtraCaFile(server.caFile());
  fakes::FakeDialogs dialogs;
  fakes::FakeRegistry registry;
  platform::PosixShell shell;
  platform::PosixProcesses processes;
  platform::Platform p;
  p.system = &system;
  p.files = &files;
  p.http = &http;
  p.dialogs = &dialogs;
  p.registry = &registry;
  p.shell = &shell;
  p.processes = &processes;
  {
    app::CInstallerApp application(p);
    PointAtServer(application, installDir, server.httpsPort());
    RecordingDialog dialog;
    CUpdateVersionFiles worker({kRunModeInstall, &application, &dialog, 0, 0});
    worker.RunUpdate();
    application.Reports().WaitForReports();
    EXPECT_EQ(worker.RunResult(), 0) << ::testing::PrintToString(dialogs.Boxes().size());
    for (const auto& box : dialogs.Boxes()) ADD_FAILURE() << box.text;

    // Every module under its custom name, the rest as listed.
    for (const char* module : {"Salon.exe", "Wirex.dll", "Tavrel.dll", "WebPane.exe"}) {
      EXPECT_TRUE(fs::exists(installDir + "/Quorix" + module)) << module;
      EXPECT_FALSE(fs::exists(installDir + "/" + module)) << module;
    }
    for (const char* file : {"Updater.exe", "Uninstall.exe", "qrx/DlgMsg.qrx", "qrx/mcLang.qrx"}) {
      EXPECT_TRUE(fs::exists(installDir + "/" + file)) << file;
    }
    EXPECT_FALSE(fs::exists(installDir + "/prepare.exe"));
    EXPECT_FALSE(fs::exists(installDir + "/bundle.exe"));
    EXPECT_FALSE(fs::exists(installDir + "/Update"));
    app::SettingsRecord record(files);
    record.Load();
    EXPECT_FALSE(record.Version().serial.empty());
    EXPECT_EQ(record.GetClientPrefix(), "Quorix");
    EXPECT_EQ(application.serverSerial.str(), record.Version().serial);
  }
  fs::current_path(savedCwd);

  // The server saw START and the ten status lines in order, and the end of
  // process carried the record's fields.
  std::vector<std::string> texts;
  for (const auto& request : server.Requests()) {
    if (request.Field("ac") == "101") texts.push_back(request.Field("txt"));
    if (request.Field("ac") == "15") {
      EXPECT_FALSE(request.Field("sn").empty());
      EXPECT_FALSE(request.Field("cv").empty());
      EXPECT_TRUE(request.HasField("cb"));
    }
  }
  ASSERT_EQ(texts.size(), 11u) << ::testing::PrintToString(texts);
  EXPECT_EQ(texts[0], "START");
  for (int i = 1; i <= 10; ++i) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "STATUS: %02d", i);
    EXPECT_EQ(texts[static_cast<size_t>(i)].rfind(prefix, 0), 0u) << texts[static_cast<size_t>(i)];
  }
}

}  // namespace
}  // namespace update
