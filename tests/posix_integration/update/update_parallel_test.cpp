// Parallel downloads of a whole run against the reference server over TLS:
// a retry resumes after the bytes already written, a server that ignores
// or mistakes the range never gets a spliced file, and a server that turns
// requests away for load still sees the run complete.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>

#include "platform/posix/curl_http_client.h"
#include "platform/posix/processes_posix.h"
#include "support/refserver.h"
#include "update_worker_fixture.h"

namespace update {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::RefServer;
using testing_support::WriteFile;

constexpr int kFiles = 8;
constexpr size_t kFileBytes = 300000;
constexpr size_t kDropAt = 100000;
constexpr const char* kWatched = "/files/client/f3.dat";

std::string Content(int file) {
  std::string data(kFileBytes, '\0');
  for (size_t i = 0; i < kFileBytes; ++i) data[i] = static_cast<char>((i * 31 + static_cast<size_t>(file) * 7) % 251);
  return data;
}

struct ParallelRow {
  const char* name;
  std::function<void(RefServer&)> arm;
  // The Range headers of the requests for the watched file, in order;
  // nullopt when they depend on timing.
  std::optional<std::vector<std::string>> watchedRanges;
};

void PrintTo(const ParallelRow& row, std::ostream* os) { *os << row.name; }

class ParallelDownloadTest : public ::testing::TestWithParam<ParallelRow> {
 protected:
  ParallelDownloadTest() : savedCwd(fs::current_path()), installDir(root / "Quorix") {
    for (int i = 0; i < kFiles; ++i) WriteFile(root / ("served/client/f" + std::to_string(i) + ".dat"), Content(i));
    fs::create_directories(installDir + "/cfg");
    fs::current_path(installDir);
  }
  ~ParallelDownloadTest() override { fs::current_path(savedCwd); }

  testing_support::TempDir root;
  fs::path savedCwd;
  std::string installDir;
};

TEST_P(ParallelDownloadTest, InstallsEveryFileWhole) {
  const ParallelRow& row = GetParam();
  testing_support::RefServerOptions options;
  options.clientSet = root / "served/client";
  RefServer server(options);
  ASSERT_TRUE(server.started());
  row.arm(server);

  fakes::FakeSystem system;
  platform::PosixFileSystem files;
  fakes::FakeDialogs dialogs;
  fakes::FakeRegistry registry;
  platform::PosixShell shell;
  platform::PosixProcesses processes;
  platform::CurlHttpClient http;
  http.SetExtraCaFile(server.caFile());
  platform::QueueMainLoop mainLoop;
  platform::Platform p{&system, &files, &http, &dialogs, &registry, &shell, &processes};
  p.mainLoop = &mainLoop;
  app::CInstallerApp application(p);
  PointAtServer(application, installDir, server.httpsPort());
  RecordingDialog dialog;
  WorkerConfig config{kRunModeInstall, &application, &dialog, 0, 0};
  config.timeouts = {10, 5};
  {
    CUpdateVersionFiles worker(config);
    worker.RunUpdate();
    EXPECT_EQ(worker.RunResult(), 0);
  }
  application.Reports().WaitForReports();

  EXPECT_EQ(application.stats.finalCode.load(), 0) << ::testing::PrintToString(dialogs.Boxes().size());
  for (int i = 0; i < kFiles; ++i) {
    EXPECT_TRUE(ReadFile(installDir + "/f" + std::to_string(i) + ".dat") == Content(i)) << "f" << i << " differs";
  }
  std::vector<std::string> ranges;
  for (const auto& request : server.Requests()) {
    if (request.path == kWatched) ranges.push_back(request.range);
  }
  if (row.watchedRanges) {
    EXPECT_EQ(ranges, *row.watchedRanges);
  }
}

using Ranges = std::vector<std::string>;
const std::string kResume = "bytes=" + std::to_string(kDropAt) + "-";

void DropOnce(RefServer& s) { s.Misbehave("dropafter", kWatched, 1, "", 0, static_cast<int>(kDropAt)); }

INSTANTIATE_TEST_SUITE_P(
    Ranges, ParallelDownloadTest,
    ::testing::Values(ParallelRow{"ResumesAfterTheBytesWritten", DropOnce, Ranges{"", kResume}},
                      ParallelRow{"StartsOverWhenTheRangeIsIgnored",
                                  [](RefServer& s) {
                                    DropOnce(s);
                                    s.Misbehave("norange", kWatched);
                                  },
                                  Ranges{"", kResume}},
                      ParallelRow{"StartsOverAfterAnotherRange",
                                  [](RefServer& s) {
                                    DropOnce(s);
                                    s.Misbehave("badrange", kWatched);
                                  },
                                  Ranges{"", kResume, ""}},
                      ParallelRow{"WaitsOutTooManyRequests", [](RefServer& s) { s.Misbehave("429", kWatched, 3); },
                                  Ranges{"", "", "", ""}},
                      ParallelRow{"WaitsOutUnavailable", [](RefServer& s) { s.Misbehave("503", kWatched, 2); },
                                  Ranges{"", "", ""}},
                      ParallelRow{"ShrinksToTheServersLimit",
                                  [](RefServer& s) { s.Misbehave("limit", "/files/client/", 1000, "", 0, 2); },
                                  std::nullopt}),
    [](const ::testing::TestParamInfo<ParallelRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace update
