// Every failure of a run ends with its final code (set once), its error
// box, a non-zero result posted to the main thread, and nothing copied into
// the installation.
#include <gtest/gtest.h>

#include <filesystem>

#include "update_worker_fixture.h"

namespace update {
namespace {

namespace fs = std::filesystem;
using fakes::Chunk;
using fakes::ReadFails;
using fakes::Serves;

struct FailureRow {
  const char* name;
  std::function<void(UpdateWorkerFixture&)> setUp;
  int32_t finalCode;     // 0: the step sets none
  const char* boxDetail;
  const char* movieError;  // "ErrorMsg" parameter, or null for none
};

void PrintTo(const FailureRow& row, std::ostream* out) { *out << row.name; }

class UpdateFailureTest : public UpdateWorkerFixture, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(UpdateFailureTest, EndsInItsCodeBoxAndCleanState) {
  const FailureRow& row = GetParam();
  // A file that a good run would install; it must not arrive.
  Serve("http://f/good", "good");
  row.setUp(*this);
  const std::optional<uintptr_t> posted = Run();
  ASSERT_TRUE(posted.has_value()) << "no result reached the main thread";
  EXPECT_NE(*posted, 0u);
  EXPECT_EQ(application.stats.finalCode.load(), row.finalCode);
  EXPECT_TRUE(BoxSays(row.boxDetail)) << "boxes: " << ::testing::PrintToString(ErrorTexts());
  EXPECT_FALSE(fs::exists(installDir + "/good.dat"));
  EXPECT_FALSE(fs::exists(root / "outside.dat"));
  EXPECT_FALSE(fs::exists(root / "evil"));
  if (row.movieError) {
    EXPECT_EQ(dialog.calls.back(), (std::pair<std::string, std::string>{"ErrorMsg", row.movieError}));
  } else {
    EXPECT_EQ(dialog.Count("ErrorMsg"), 0);
  }
  // Only the first final code of the session counts: one closing pixel,
  // whose parameters stay short whatever the server sent.
  int finishes = 0;
  for (auto& form : server.Forms()) {
    if (form["txt"] != "FINISH") continue;
    ++finishes;
    for (const char* parm : {"parm1", "parm2", "parm3", "parm4"}) {
      EXPECT_LT(form[parm].size(), net::kReportParameterWidth + 30) << parm;
    }
  }
  EXPECT_EQ(finishes, row.finalCode == 0 ? 0 : 1);
}

const std::string kGood = Entry("W", "good.dat", "", 4, "http://f/good");

INSTANTIATE_TEST_SUITE_P(
    Rows, UpdateFailureTest,
    ::testing::Values(
        FailureRow{"ListNoReply", [](auto& t) { t.server.replies["11"] = {}; }, 20,
                   "Communication with the server failed", "NoData"},
        FailureRow{"ListHtmlPage", [](auto& t) { t.server.replies["11"] = {Chunk("<html>500</html>")}; }, 20,
                   "Communication with the server failed", "InternalServerError"},
        FailureRow{"ListDropped", [](auto& t) { t.server.replies["11"] = {Chunk("~ac=11~fl=|"), ReadFails()}; },
                   20, "Communication with the server failed", "ReceiveData"},
        FailureRow{"ListRejected", [](auto& t) { t.server.replies["11"] = {Chunk("~ac=30")}; }, 10,
                   "Invalid action code returned from server while getting file list", nullptr},
        FailureRow{"ListUnknownCode", [](auto& t) { t.server.replies["11"] = {Chunk("~sn=1~fl=||")}; }, 10,
                   "Unknown action code returned from server while getting file list", nullptr},
        FailureRow{"ListCutShort",
                   [](auto& t) { t.server.replies["11"] = {Chunk("~ac=11~fl=|" + kGood + "|~fn=b.dat~fo=W")}; }, 20,
                   "Communication with the server failed", "ReceiveData"},
        FailureRow{"LargeListCutShort",
                   [](auto& t) {
                     std::string list = "~ac=11~fl=|" + kGood;
                     while (list.size() < (4u << 20) - 100) list += "|" + kGood;
                     t.server.replies["11"] = {Chunk(list)};
                   },
                   20, "Communication with the server failed", "ReceiveData"},
        FailureRow{"ListMissing", [](auto& t) { t.server.replies["11"] = {Chunk("~ac=11~sn=7")}; }, 10,
                   "The file list from the server cannot be installed", nullptr},
        FailureRow{"ListNamesNoFiles",
                   [](auto& t) { t.SetList(Entry("D", "old.dll", "", 0, "") + "|" + Entry("R", "p.exe", "", 4, "x")); },
                   10, "The file list from the server cannot be installed", nullptr},
        FailureRow{"ListNamesAFileTwice",
                   [](auto& t) { t.SetList(kGood + "|" + Entry("W", "GOOD.DAT", "", 3, "http://f/b")); }, 10, "The file list from the server cannot be installed", nullptr},
        FailureRow{"AddressNotFound",
                   [](auto& t) {
                     t.SetList(kGood + "|" + Entry("W", "b.dat", "", 3, "http://f/missing"));
                   },
                   23, "File Download failed", nullptr},
        FailureRow{"WrongLength",
                   [](auto& t) {
                     t.Serve("http://f/b", "toolong");
                     t.SetList(kGood + "|" + Entry("W", "b.dat", "", 3, "http://f/b"));
                   },
                   21, "File Download failed", nullptr},
        FailureRow{"DroppedMidFile",
                   [](auto& t) {
                     t.server.downloads["http://f/b"] = {Serves({Chunk("ab"), ReadFails()})};
                     t.SetList(kGood + "|" + Entry("W", "b.dat", "", 3, "http://f/b"));
                   },
                   21, "File Download failed", nullptr},
        FailureRow{"LocalFileCannotBeCreated",
                   [](auto& t) {
                     t.Serve("http://f/b", "abc");
                     // The staging path of the file is a folder.
                     t.SetList(kGood + "|" + Entry("W", "x", "b.dat", 3, "http://f/b") + "|" +
                               Entry("W", "b.dat", "", 3, "http://f/b"));
                   },
                   24, "File Download failed", nullptr},
        FailureRow{"NameLeavesTheFolder",
                   [](auto& t) {
                     t.Serve("http://f/b", "abc");
                     t.SetList(kGood + "|" + Entry("W", "../../outside.dat", "", 3, "http://f/b"));
                   },
                   24, "File name outside the installation folder refused", nullptr},
        FailureRow{"AbsoluteName",
                   [](auto& t) {
                     t.Serve("http://f/b", "abc");
                     t.SetList(kGood + "|" + Entry("W", (t.root / "outside.dat"), "", 3, "http://f/b"));
                   },
                   24, "File name outside the installation folder refused", nullptr},
        FailureRow{"FolderLeavesTheInstallation",
                   [](auto& t) {
                     t.Serve("http://f/b", "abc");
                     t.SetList(kGood + "|" + Entry("W", "b.dat", "..\\..\\evil", 3, "http://f/b"));
                   },
                   31, "Directory creation failed", nullptr},
        FailureRow{"DeleteLeavesTheInstallation",
                   [](auto& t) {
                     testing_support::WriteFile(t.root / "outside.keep", "keep");
                     t.SetList(kGood + "|" + Entry("D", "../outside.keep", "", 0, ""));
                   },
                   34, "File name outside the installation folder refused", nullptr},
        FailureRow{"RunFolderLeavesTheWorkFolder",
                   [](auto& t) {
                     // The size matches a file outside: it must not be taken.
                     testing_support::WriteFile(t.root / "secret.bin", "abcd");
                     t.Serve("http://f/p", "prog");
                     t.SetList(kGood + "|" + Entry("X", "a.exe", "", 4, "http://f/p") + "|" +
                               Entry("R", "prep.exe", "../..", 4, "http://f/secret.bin"));
                   },
                   35, "File name outside the installation folder refused", nullptr},
        FailureRow{"ArchiveFolderLeavesTheWorkFolder",
                   [](auto& t) {
                     t.Serve("http://f/x", "arch");
                     t.SetList(kGood + "|" + Entry("X", "a.exe", "..\\..", 4, "http://f/x"));
                   },
                   39, "File name outside the installation folder refused", nullptr},
        FailureRow{"FileInTheExtractFolder",
                   [](auto& t) {
                     t.Serve("http://f/b", "abc");
                     t.SetList(kGood + "|" + Entry("W", "b.dat", "Extract", 3, "http://f/b"));
                   },
                   24, "File name of a work folder refused", nullptr},
        FailureRow{"DeleteInTheUpdateFolder",
                   [](auto& t) { t.SetList(kGood + "|" + Entry("D", "update\\x.dll", "", 0, "")); },
                   34, "File name of a work folder refused", nullptr},
        FailureRow{"DeviceName",
                   [](auto& t) {
                     t.Serve("http://f/b", "abc");
                     t.SetList(kGood + "|" + Entry("W", "nul.txt", "bin", 3, "http://f/b"));
                   },
                   24, "File name outside the installation folder refused", nullptr},
        FailureRow{"ControlCharacters",
                   [](auto& t) {
                     t.Serve("http://f/b", "abc");
                     t.SetList(kGood + "|" + Entry("W", "a\x1b]0;owned\x07\rb.dat", "", 3, "http://f/b"));
                   },
                   24, "File name outside the installation folder refused", nullptr},
        FailureRow{"LinkedFolderInTheInstallation",
                   [](auto& t) {
                     fs::create_directories(t.root / "elsewhere");
                     fs::create_directory_symlink(t.root / "elsewhere", t.installDir + "/bin");
                     testing_support::WriteFile(t.root / "elsewhere/keep.dll", "keep");
                     t.SetList(kGood + "|" + Entry("D", "keep.dll", "bin", 0, ""));
                   },
                   31, "Directory creation failed", nullptr},
        FailureRow{"StagingFolderReplacedByALinkMidRun",
                   [](auto& t) {
                     // Planted as the address opens, before the file is
                     // written: it would land beside the installation as
                     // "outside.dat".
                     fakes::ScriptedDownload download = Serves({Chunk("data")});
                     download.onOpen = [&t] {
                       fs::remove_all(t.installDir + "/Update");
                       fs::create_directory_symlink(t.root.path(), t.installDir + "/Update");
                     };
                     t.server.downloads["http://f/out"] = {download};
                     t.SetList(Entry("W", "outside.dat", "", 4, "http://f/out"));
                   },
                   32, "File Download failed", nullptr},
        FailureRow{"DeleteFails",
                   [](auto& t) {
                     testing_support::WriteFile(t.installDir + "/busy/inner.dat", "x");
                     t.SetList(kGood + "|" + Entry("D", "busy", "", 0, ""));
                   },
                   34, "File deletion failed", nullptr},
        FailureRow{"ProgramDoesNotRun",
                   [](auto& t) {
                     t.Serve("http://f/p", "prog");
                     t.processes.runResult = 1;
                     t.SetList(kGood + "|" + Entry("R", "prep.exe", "", 4, "http://f/p"));
                   },
                   35, "Running the Extracted File failed", nullptr},
        FailureRow{"ArchiveRunsTooLong",
                   [](auto& t) {
                     t.Serve("http://f/x", "arch");
                     t.processes.runResult = 3;
                     t.SetList(Entry("X", "bundle.exe", "", 4, "http://f/x") + "|" + kGood);
                   },
                   39, "Cannot extract archive", nullptr},
        FailureRow{"WorkFolderCannotBeEmptied",
                   [](auto& t) {
                     testing_support::WriteFile(t.installDir + "/Update", "a file");
                     t.SetList(kGood);
                   },
                   33,
                   "Directory files deletion failed", nullptr},
        FailureRow{"TreeCannotBeCopied",
                   [](auto& t) {
                     t.shell.copyFailure = 28;
                     t.SetList(kGood);
                   },
                   30, "Directory copying failed", nullptr},
        FailureRow{"RecordCannotBeSaved",
                   [](auto& t) {
                     fs::create_directories(t.installDir + "/cfg/ovl.cfg.new");
                     t.SetList(Entry("W", "set.dat", "", 4, "http://f/good"));
                   },
                   45, "Settings file saving failed", nullptr},
        FailureRow{"EndProcessNoReply",
                   [](auto& t) {
                     t.server.replies["15"] = {};
                     t.SetList(Entry("W", "set.dat", "", 4, "http://f/good"));
                   },
                   28, "Communication with the server failed", nullptr},
        FailureRow{"EndProcessRejected",
                   [](auto& t) {
                     t.server.replies["15"] = {Chunk("~ac=30")};
                     t.SetList(Entry("W", "set.dat", "", 4, "http://f/good"));
                   },
                   11, "Invalid action code returned from server while sending end process", nullptr},
        FailureRow{"EndProcessWithoutCode",
                   [](auto& t) {
                     t.server.replies["15"] = {Chunk("~sn=1")};
                     t.SetList(Entry("W", "set.dat", "", 4, "http://f/good"));
                   },
                   22, "Unknown action code returned from server while sending end process", nullptr}),
    [](const ::testing::TestParamInfo<FailureRow>& info) { return std::string(info.param.name); });

// Only the end-of-process failures come after the set is in place; every
// other failure leaves the installation as it was.
TEST_F(UpdateWorkerFixture, TwentyFailedAttemptsCountNineteenRetries) {
  Serve("http://f/b", "toolong");
  SetList(Entry("W", "b.dat", "", 3, "http://f/b"));
  EXPECT_EQ(Run(), std::optional<uintptr_t>(1));
  EXPECT_EQ(application.stats.dlRetryCount.load(), 19);
  EXPECT_EQ(application.stats.dlRetryFiles.load(), 1);
  EXPECT_EQ(application.stats.dlFileCount.load(), 0);
  EXPECT_EQ(application.stats.finalCode.load(), 21);
  EXPECT_EQ(server.OpenedUrls().size(), 20u);
}

// Attempts that each last the no-data time-out are stalls: the second one
// gives the file up instead of waiting out twenty.
TEST_F(UpdateWorkerFixture, RepeatedStallsCutTheAttemptsShort) {
  system.tickStep = 31000;  // each attempt lasts past the 30 s no-data time-out
  Serve("http://f/b", "toolong");
  SetList(Entry("W", "b.dat", "", 3, "http://f/b"));
  EXPECT_EQ(Run(), std::optional<uintptr_t>(1));
  EXPECT_EQ(application.stats.finalCode.load(), 21);
  EXPECT_EQ(server.OpenedUrls().size(), 2u);
}

// A server that keeps sending is cut off at the listed size: no attempt
// reads much past it.
TEST_F(UpdateWorkerFixture, DownloadNeverRunsPastItsListedSize) {
  server.downloads["http://f/endless"] = {Serves(std::vector<fakes::HttpStep>(1000, Chunk(std::string(30720, 'z'))))};
  SetList(Entry("W", "b.dat", "", 100000, "http://f/endless"));
  EXPECT_EQ(Run(), std::optional<uintptr_t>(1));
  EXPECT_EQ(application.stats.finalCode.load(), 21);
  // 4 chunks per attempt reach 122880 > 100000; the fifth is never asked for.
  EXPECT_EQ(server.DownloadReadCapacities().size(), 20u * 4u);
}

TEST_F(UpdateWorkerFixture, RenameOfABusyModuleFailsTheRun) {
  Serve("http://f/s", "new");
  fs::create_directories(installDir + "/QuorixSalon.exe/held");  // cannot be deleted
  SetList(Entry("W", "Salon.exe", "", 3, "http://f/s"));
  EXPECT_EQ(Run(), std::optional<uintptr_t>(1));
  EXPECT_TRUE(BoxSays("File Deletion Failed"));
  EXPECT_EQ(application.stats.finalCode.load(), 0);  // this step sets no final code
  EXPECT_EQ(server.StatisticsTexts().back(), "STATUS: 10 Before sending end pixel");
  for (auto& form : server.Forms()) EXPECT_NE(form["ac"], "15") << "end of process sent after a failed step";
}

}  // namespace
}  // namespace update
