#include "update_worker_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "app/settings_record.h"
#include "fakes/fake_http.h"
#include "fakes/fake_os.h"
#include "fakes/fake_platform.h"
#include "net/request_forms.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/processes_posix.h"
#include "platform/posix/shell_posix.h"
#include "support/temp_dir.h"

namespace update {
namespace {

namespace fs = std::filesystem;
using fakes::Chunk;
using fakes::ReadFails;
using fakes::Serves;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

using UpdateWorkerTest = UpdateWorkerFixture;

TEST_F(UpdateWorkerTest, WholeRunInstallsTheSetUnderCustomNames) {
  WriteFile(installDir + "/old/stale.dat", "old");
  ASSERT_EQ(registry.WriteString(platform::Hive::CurrentUser, "Software\\Quorix", "UserName", "ann"), 0);
  Serve("http://files.test/Salon.exe", "salon-program");
  Serve("http://files.test/Wirex.dll", "wirex");
  Serve("http://files.test/maps/m1.dat", std::string(70000, 'm'));
  Serve("http://files.test/prep.exe", "prep");
  SetList(Entry("W", "Salon.exe", "", 13, "http://files.test/Salon.exe") + "|" +
          Entry("Write", "Wirex.dll", "", 5, "http://files.test/Wirex.dll") + "|" +
          Entry("W", "m1.dat", "data\\maps/deep", 70000, "http://files.test/maps/m1.dat") + "|" +
          Entry("R", "prep.exe", "", 4, "http://files.test/prep.exe") + "|" +
          Entry("D", "stale.dat", "old", 0, "") + "|" + Entry("Q", "ignored.dat", "", 0, "http://files.test/none"));

  EXPECT_EQ(Run(), std::optional<uintptr_t>(0));
  EXPECT_EQ(lastFileCount, 6u);

  // The files, under their custom names where they are client modules.
  EXPECT_EQ(ReadFile(installDir + "/QuorixSalon.exe"), "salon-program");
  EXPECT_EQ(ReadFile(installDir + "/QuorixWirex.dll"), "wirex");
  EXPECT_FALSE(fs::exists(installDir + "/Salon.exe"));
  EXPECT_EQ(fs::file_size(installDir + "/data/maps/deep/m1.dat"), 70000u);
  EXPECT_FALSE(fs::exists(installDir + "/prep.exe"));  // run in staging, never installed
  EXPECT_FALSE(fs::exists(installDir + "/old/stale.dat"));
  EXPECT_TRUE(fs::is_directory(installDir + "/old"));
  EXPECT_FALSE(fs::exists(installDir + "/Update"));
  EXPECT_FALSE(fs::exists(installDir + "/Extract"));
  ASSERT_EQ(processes.Runs().size(), 1u);
  EXPECT_EQ(processes.Runs()[0].directory, installDir + "/Update");
  EXPECT_EQ(processes.Runs()[0].file, "prep.exe");
  EXPECT_FALSE(processes.Runs()[0].show);
  EXPECT_TRUE(processes.Runs()[0].wait);

  // The settings record took the server's fields, the prefix and the user name.
  app::SettingsRecord record(files);
  record.Load();
  EXPECT_EQ(record.Version().clientVersion, "2.1.0");
  EXPECT_EQ(record.Version().clientBuild, 77u);
  EXPECT_EQ(record.Version().serial, "SRV9");
  EXPECT_EQ(record.GetClientPrefix(), "Quorix");
  EXPECT_EQ(record.ReadUserName(), "ann");
  EXPECT_EQ(application.serverSerial.str(), "SRV9");

  // The reports, in order, and the end-of-process form from the record.
  EXPECT_EQ(server.StatisticsTexts(),
            (std::vector<std::string>{"START", "STATUS: 01 Before creating update directory",
                                      "STATUS: 02 After creating update directory",
                                      "STATUS: 03 After downloading all files",
                                      "STATUS: 04 Before changing to custum file names",
                                      "STATUS: 05 Before sending end process message",
                                      "STATUS: 06 CommunicateEndProcess: Before AddUpdaterData",
                                      "STATUS: 07 CommunicateEndProcess: Before CommunicatePost",
                                      "STATUS: 08 CommunicateEndProcess: After CommunicatePost, ac=OK",
                                      "STATUS: 09 After sending end process message",
                                      "STATUS: 10 Before sending end pixel"}));
  for (auto& form : server.Forms()) {
    if (form["ac"] != "15") continue;
    EXPECT_EQ(form["sn"], "SRV9");
    EXPECT_EQ(form["cv"], "2.1.0");
    EXPECT_EQ(form["cb"], "77");
    EXPECT_EQ(form["param1"], "p1");
  }
  EXPECT_EQ(application.stats.finalCode.load(), 0);
  EXPECT_EQ(application.stats.step.load(), kStepApplyEnd);
  EXPECT_EQ(application.stats.dlFileCount.load(), 4);
  EXPECT_TRUE(dialogs.Boxes().empty());

  // The movie: connecting, zero progress, performing, then per file.
  const auto functions = dialog.Functions();
  ASSERT_GE(functions.size(), 4u);
  EXPECT_EQ(dialog.calls[0], (std::pair<std::string, std::string>{"Msg", "Connecting"}));
  EXPECT_EQ(dialog.calls[1], (std::pair<std::string, std::string>{"SetProgress", "0~0~0"}));
  EXPECT_EQ(dialog.calls[2], (std::pair<std::string, std::string>{"Performing", "Install"}));
  // Progress is shown at most ten times a second: the last file shows.
  EXPECT_GE(dialog.Count("SetFileName"), 1);
  EXPECT_EQ(dialog.calls.back().first, "SetProgress");
  EXPECT_EQ(dialog.calls.back().second.substr(dialog.calls.back().second.size() - 9), "~1.000000");
}

TEST_F(UpdateWorkerTest, FileListRequestCarriesTheSessionFields) {
  {
    std::lock_guard<std::mutex> lock(application.textLock);
    application.language = "de";
  }
  application.serverAddress.extraName = "mode";
  application.serverAddress.extraValue = "beta";
  SetList("");
  WorkerConfig config{kRunModeInstall, &application, &dialog, 1, 10};
  CUpdateVersionFiles worker(config);
  worker.RunUpdate();
  application.Reports().WaitForReports();
  const auto form = server.Forms().at(0);
  EXPECT_EQ(form.at("ac"), "11");
  EXPECT_EQ(form.at("sn"), "K7TQ");
  EXPECT_EQ(form.at("langID"), "de");
  EXPECT_EQ(form.at("param1"), "p1");
  EXPECT_EQ(form.at("fli"), "1");
  EXPECT_EQ(form.at("flv"), "10");
  EXPECT_EQ(form.at("status"), "10");
  EXPECT_EQ(form.at("mode"), "beta");
  EXPECT_TRUE(form.count("h1") && form.count("h2"));
}

TEST_F(UpdateWorkerTest, PixelAddressesOnTheProductDomainUseTheServlet) {
  SetList("", "~ac=11~sn=S~pix1=https://localhost/p1~pix2=https://localhost/p2");
  Run();
  EXPECT_FALSE(application.useWebPixels.load());
  EXPECT_EQ(application.webPixel1.str(), "https://localhost/p1");
  SetList("", "~ac=11~sn=S");
  Run();
  EXPECT_TRUE(application.useWebPixels.load());
  EXPECT_EQ(application.webPixel2.str(), "https://localhost/p2");  // kept from the earlier reply
  SetList("", "~ac=11~sn=S~pix1=https://ads.example/p");
  Run();
  EXPECT_TRUE(application.useWebPixels.load());
}

TEST_F(UpdateWorkerTest, RetriesCountAttemptsAndFiles) {
  server.downloads["http://f/a"] = {Serves({Chunk("ab"), ReadFails()}), fakes::CannotOpen(), Serves({Chunk("abcd")})};
  Serve("http://f/empty", "");
  SetList(Entry("W", "a.dat", "", 4, "http://f/a") + "|" + Entry("W", "e.dat", "", 0, "http://f/empty"));
  EXPECT_EQ(Run(), std::optional<uintptr_t>(0));
  EXPECT_EQ(application.stats.dlRetryCount.load(), 2);
  EXPECT_EQ(application.stats.dlRetryFiles.load(), 1);
  EXPECT_EQ(application.stats.dlFileCount.load(), 2);
  EXPECT_EQ(ReadFile(installDir + "/a.dat"), "abcd");
  EXPECT_TRUE(fs::exists(installDir + "/e.dat"));
  // The empty file showed its name but no progress of its own.
  ASSERT_GE(dialog.calls.size(), 2u);
  const auto& last = dialog.calls[dialog.calls.size() - 1];
  EXPECT_EQ(last, (std::pair<std::string, std::string>{"SetFileName", "e.dat"}));
}

TEST_F(UpdateWorkerTest, ProgressShowsSizesRateAndFractions) {
  system.fileTime = 133000000000000000ULL;
  Serve("http://f/a", std::string(40000, 'a'));
  Serve("http://f/b", std::string(20000, 'b'));
  SetList(Entry("W", "a", "", 40000, "http://f/a") + "|" + Entry("W", "b", "", 20000, "http://f/b"));
  EXPECT_EQ(Run(), std::optional<uintptr_t>(0));
  std::vector<std::string> progress;
  for (const auto& call : dialog.calls) {
    if (call.first == "SetProgress") progress.push_back(call.second);
  }
  // "0~0~0", then at most ten a second while the files arrive (both at
  // once), ending with the last file of the list complete.
  ASSERT_GE(progress.size(), 2u);
  EXPECT_EQ(progress.back(), "020k~020k~58.6~1.000000~1.000000");
  double runFraction = 0;
  for (size_t i = 1; i < progress.size(); ++i) {
    const double fraction = std::stod(progress[i].substr(progress[i].rfind('~') + 1));
    EXPECT_GE(fraction, runFraction) << progress[i];
    runFraction = fraction;
  }
  EXPECT_DOUBLE_EQ(application.stats.kbs.load(), 60000 / 1024.0);
}

// A file of a few megabytes, arriving in pieces of odd sizes, lands whole:
// every read asks for a whole chunk, and the local file is written in
// pieces of about a megabyte, not once per chunk.
TEST_F(UpdateWorkerTest, LargeFileLandsWholeInFewWrites) {
  const size_t size = 3 * 1024 * 1024 + 4567;
  std::string content(size, '\0');
  for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i * 7919) >> 5);
  std::vector<fakes::HttpStep> steps;
  const size_t pieces[] = {30720, 1, 12345, 65536, 30719, 100000};
  for (size_t offset = 0, i = 0; offset < size; ++i) {
    const size_t n = std::min(pieces[i % std::size(pieces)], size - offset);
    steps.push_back(Chunk(content.substr(offset, n)));
    offset += n;
  }
  server.downloads["http://f/big"] = {Serves(steps)};
  SetList(Entry("W", "big.dat", "", size, "http://f/big"));

  files.countedName = "big.dat";
  ASSERT_EQ(Run(), std::optional<uintptr_t>(0));
  const int writes = files.writes.load();

  EXPECT_TRUE(ReadFile(installDir + "/big.dat") == content) << "the installed file differs from the served one";
  const std::vector<size_t> capacities = server.DownloadReadCapacities();
  for (size_t capacity : capacities) EXPECT_EQ(capacity, kDownloadChunk);
  // Four buffer loads hold the file; unbuffered it would take over a
  // hundred writes.
  EXPECT_LE(writes, 10) << writes << " write calls";
}

// Files are fetched ahead and out of order, while the programs and
// archives of the list run in its order: "a" can only arrive once "b" has
// arrived whole, and the programs wait for the files listed before them.
TEST_F(UpdateWorkerTest, ActionsKeepListOrderWhileFilesArriveOutOfOrder) {
  std::promise<void> bArrived;
  std::shared_future<void> bDone = bArrived.get_future().share();
  server.downloads["http://f/a"] = {Serves({fakes::Gated(
      [bDone] { return bDone.wait_for(std::chrono::seconds(10)) == std::future_status::ready; }, "aa")})};
  server.downloads["http://f/b"] = {Serves({Chunk("bb"), fakes::Gated([&bArrived] {
                                              bArrived.set_value();
                                              return true;
                                            }, "")})};
  for (const char* name : {"r1", "x1", "c", "d", "r2"}) Serve(std::string("http://f/") + name, "12");
  SetList(Entry("W", "a.dat", "", 2, "http://f/a") + "|" + Entry("W", "b.dat", "", 2, "http://f/b") + "|" +
          Entry("R", "r1", "", 2, "http://f/r1") + "|" + Entry("W", "c.dat", "", 2, "http://f/c") + "|" +
          Entry("X", "x1", "", 2, "http://f/x1") + "|" + Entry("W", "d.dat", "", 2, "http://f/d") + "|" +
          Entry("R", "r2", "", 2, "http://f/r2"));

  EXPECT_EQ(Run(), std::optional<uintptr_t>(0));
  EXPECT_EQ(ReadFile(installDir + "/a.dat"), "aa");
  EXPECT_EQ(ReadFile(installDir + "/d.dat"), "12");
  std::vector<std::string> ran;
  for (const auto& run : processes.Runs()) ran.push_back(run.file);
  EXPECT_EQ(ran, (std::vector<std::string>{"r1", "x1", "r2"}));
  EXPECT_EQ(application.stats.dlFileCount.load(), 7);
}

TEST(FormatSizeTest, ShowsBytesKilobytesAndMegabytes) {
  const struct {
    uint32_t bytes;
    const char* text;
  } rows[] = {{0, "000b"},       {5, "005b"},       {1023, "1023b"},   {1024, "001k"},
              {1535, "001k"},    {1536, "002k"},    {1047039, "1022k"}, {1047040, "1.0M"},
              {2621440, "2.5M"}, {UINT32_MAX, "4096.0M"}};
  for (const auto& row : rows) EXPECT_EQ(FormatSize(row.bytes), row.text) << row.bytes;
}

}  // namespace
}  // namespace update
