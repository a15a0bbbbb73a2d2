// Failures of a whole run against the reference update server: the real
// transport (TLS against the test CA), real files in a temporary
// installation folder and real programs, with the server misbehaving on
// purpose, and local troubles (a full disk, a read-only folder, a program
// that never ends, a hostile file list). Every row runs the worker once and
// must end in its final code (set once: one closing report), its error box,
// a non-zero result for the main thread, and an installation that received
// nothing (the end of the exchange with the server comes after the set is in
// place: there the set is complete, and nothing beside it changed).
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>

#include "platform/posix/curl_http_client.h"
#include "platform/posix/processes_posix.h"
#include "platform/system_error.h"
#include "support/refserver.h"
#include "update_worker_fixture.h"

namespace update {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::RefServer;
using testing_support::WriteFile;

constexpr const char* kServlet = "/servlet/UpdateServlet";
constexpr const char* kCommunicationFailed =
    "Communication with the server failed, please verify internet connection and try again";

// The client the server publishes for most rows: a small file listed first
// and a larger one listed after it, so that a failure on the second comes
// after the first was staged.
constexpr size_t kSmallBytes = 1000;
constexpr size_t kLargeBytes = 50000;
constexpr const char* kLargePath = "/files/client/z.dat";

// Programs the worker waits for are given this long before they count as
// never ending.
constexpr int kWaitLimitMs = 300;

std::string Bytes(size_t size, char seed) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(seed + static_cast<char>(i * 7 % 61));
  return data;
}

// The local disk as the worker sees it: the real file system, which can be
// made full (writes fail with ENOSPC once `freeBytes` have been written,
// after writing what still fits) or read-only (no file or folder can be
// created: EROFS).
class TroubledFileSystem : public platform::PosixFileSystem {
 public:
  std::optional<uint64_t> freeBytes;
  bool readOnly = false;

  std::unique_ptr<platform::File> CreateForWrite(const std::string& path, std::string* error) override {
    if (readOnly) return Refuse(error);
    std::unique_ptr<platform::File> file = PosixFileSystem::CreateForWrite(path, error);
    if (!file || !freeBytes) return file;
    return std::make_unique<FillingFile>(std::move(file), *this);
  }
  bool MakeDirectory(const std::string& path) override {
    if (readOnly) {
      errno = EROFS;
      return false;
    }
    return PosixFileSystem::MakeDirectory(path);
  }

 private:
  class FillingFile : public platform::File {
   public:
    FillingFile(std::unique_ptr<platform::File> inner, TroubledFileSystem& disk)
        : inner_(std::move(inner)), disk_(disk) {}
    bool Read(void* buffer, size_t size, size_t* received) override { return inner_->Read(buffer, size, received); }
    bool Write(const void* data, size_t size) override {
      const uint64_t room = std::min<uint64_t>(size, *disk_.freeBytes);
      if (room > 0 && !inner_->Write(data, static_cast<size_t>(room))) return false;
      *disk_.freeBytes -= room;
      if (room == size) return true;
      errno = ENOSPC;
      return false;
    }
    int64_t Size() override { return inner_->Size(); }
    bool Close() override { return inner_->Close(); }

   private:
    std::unique_ptr<platform::File> inner_;
    TroubledFileSystem& disk_;
  };

  static std::unique_ptr<platform::File> Refuse(std::string* error) {
    if (error) *error = platform::SystemErrorText(EROFS);
    errno = EROFS;
    return nullptr;
  }
};

class RefServerFailureTest;

struct RefFailureRow {
  const char* name;
  // Before the server starts: client files, reply set, local troubles.
  std::function<void(RefServerFailureTest&)> prepare;
  // Once it runs: the misbehaviour.
  std::function<void(RefServerFailureTest&, RefServer&)> arm;
  int32_t finalCode;
  const char* boxDetail;
  const char* cause;        // system error text in the box and the closing report, or null
  const char* movieError;   // "ErrorMsg" parameter, or null for none
  bool setInPlace = false;  // the failure comes after the set was put in place
  // Further checks of the row, after the run.
  std::function<void(RefServerFailureTest&, RefServer&)> check = nullptr;
};

void PrintTo(const RefFailureRow& row, std::ostream* os) {
  *os << "{" << row.name << ": final code " << row.finalCode << ", box \"" << row.boxDetail << "\"}";
}

class RefServerFailureTest : public ::testing::TestWithParam<RefFailureRow> {
 public:
  RefServerFailureTest()
      : savedCwd(fs::current_path()),
        clientDir(root / "served/client"),
        outside(root / "outside"),
        installDir(root / "outside/a/b/Quorix"),
        updateDir(installDir + "/Update"),
        extractDir(installDir + "/Extract") {
    WriteFile(clientDir + "/a.dat", Bytes(kSmallBytes, 'a'));
    WriteFile(clientDir + "/z.dat", Bytes(kLargeBytes, 'z'));
    // Files beside and above the installation that no run may touch.
    WriteFile(outside + "/keep.dat", "keep");
    WriteFile(outside + "/a/keep.dat", "keep");
    WriteFile(outside + "/a/b/keep.dat", "keep");
    fs::create_directories(installDir + "/cfg");
    fs::current_path(installDir);
    processes.SetWaitLimitMs(kWaitLimitMs);
    config.timeouts = {10, 5};
  }
  ~RefServerFailureTest() override {
    fs::current_path(savedCwd);
    for (int pid : PidsOfPrograms()) kill(pid, SIGKILL);
  }

  // A file list served byte for byte instead of the client set's ("{base}"
  // stands for the server's address).
  void ServeList(const std::string& reply) {
    WriteFile(root / "served/list.txt", reply);
    AddReply("acfile=11 list.txt");
  }
  void AddReply(const std::string& line) {
    std::ofstream(root / "served/replies.txt", std::ios::app) << line << "\n";
    options.replySet = root / "served/replies.txt";
  }
  // A shell program of the client set that notes its process id and then
  // never ends on its own.
  void AddEndlessProgram(const std::string& name, char operation) {
    WriteFile(clientDir + "/" + name, "#!/bin/sh\necho $$ > '" + (root / "pids/") + name + "'\nexec sleep 30\n");
    fs::create_directories(root / "pids");
    std::ofstream(clientDir + "/.operations", std::ios::app) << operation << " " << name << "\n";
  }
  // Processes the row's programs started (they leave their id behind).
  std::vector<int> PidsOfPrograms() const {
    std::vector<int> pids;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root / "pids", ec)) {
      const int pid = std::atoi(ReadFile(entry.path()).c_str());
      if (pid > 0) pids.push_back(pid);
    }
    return pids;
  }

  // Every file and folder beside and above the installation, with its
  // content: what a run must leave as it was.
  std::map<std::string, std::string> OutsideTree() const {
    std::map<std::string, std::string> tree;
    for (auto it = fs::recursive_directory_iterator(outside); it != fs::recursive_directory_iterator(); ++it) {
      if (it->path() == installDir) {
        it.disable_recursion_pending();
        continue;
      }
      tree[it->path().string()] = it->is_regular_file() ? ReadFile(it->path()) : "<folder>";
    }
    return tree;
  }

  // Runs the worker once on this thread against the server; the result the
  // main thread got.
  std::optional<uintptr_t> Run(RefServer& server) {
    platform::CurlHttpClient http;
    http.SetExtraCaFile(server.caFile());
    platform::Platform p;
    p.system = &system;
    p.files = &files;
    p.http = &http;
    p.dialogs = &dialogs;
    p.registry = &registry;
    p.shell = &shell;
    p.processes = &processes;
    platform::QueueMainLoop mainLoop;
    p.mainLoop = &mainLoop;
    app::CInstallerApp application(p);
    PointAtServer(application, installDir, server.httpsPort());
    config.app = &application;
    config.dialog = &dialog;
    {
      CUpdateVersionFiles worker(config);
      const auto start = std::chrono::steady_clock::now();
      worker.RunUpdate();
      runSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      runResult = worker.RunResult();
    }
    application.Reports().WaitForReports();
    finalCode = application.stats.finalCode.load();
    std::optional<uintptr_t> posted;
    while (auto message = mainLoop.TryTake()) {
      if (message->id == app::WM_APP_FILESET_DONE) posted = message->wParam;
    }
    return posted;
  }

  bool BoxHas(const std::string& line) const {
    for (const auto& box : dialogs.Boxes()) {
      if (box.text.find(line) != std::string::npos) return true;
    }
    return false;
  }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const auto& box : dialogs.Boxes()) texts.push_back(box.text);
    return texts;
  }
  static int RequestsTo(const RefServer& server, const std::string& path) {
    int n = 0;
    for (const auto& request : server.Requests()) n += request.path == path;
    return n;
  }

  testing_support::TempDir root;
  fs::path savedCwd;
  std::string clientDir;
  std::string outside;
  std::string installDir;
  std::string updateDir;
  std::string extractDir;
  testing_support::RefServerOptions options;
  WorkerConfig config;

  fakes::FakeSystem system;
  TroubledFileSystem files;
  fakes::FakeDialogs dialogs;
  fakes::FakeRegistry registry;
  platform::PosixShell shell;
  platform::PosixProcesses processes;
  RecordingDialog dialog;

  int32_t runResult = 0;
  int32_t finalCode = 0;
  double runSeconds = 0;
};

TEST_P(RefServerFailureTest, EndsInItsCodeBoxAndAnUntouchedInstallation) {
  const RefFailureRow& row = GetParam();
  options.clientSet = clientDir;
  if (row.prepare) row.prepare(*this);
  RefServer server(options);
  ASSERT_TRUE(server.started());
  if (row.arm) row.arm(*this, server);
  const std::map<std::string, std::string> outsideBefore = OutsideTree();

  const std::optional<uintptr_t> posted = Run(server);

  ASSERT_TRUE(posted.has_value()) << "no result reached the main thread";
  EXPECT_NE(*posted, 0u);
  EXPECT_EQ(*posted, static_cast<uintptr_t>(runResult));
  EXPECT_EQ(finalCode, row.finalCode);

  // Set once: the server heard exactly one closing report, with this code.
  std::vector<testing_support::LoggedRequest> finishes;
  for (const auto& request : server.Requests()) {
    if (request.Field("ac") == "101" && request.Field("txt") == "FINISH") finishes.push_back(request);
  }
  ASSERT_EQ(finishes.size(), 1u);
  EXPECT_EQ(finishes[0].Field("ier"), std::to_string(row.finalCode));

  EXPECT_TRUE(BoxHas(std::string("Detalis: ") + row.boxDetail)) << ::testing::PrintToString(BoxTexts());
  if (row.cause) {
    EXPECT_TRUE(BoxHas(std::string("Cause: ") + row.cause)) << ::testing::PrintToString(BoxTexts());
    EXPECT_NE(finishes[0].Field("lem").find(row.cause), std::string::npos) << finishes[0].Field("lem");
  }
  if (row.movieError) {
    ASSERT_FALSE(dialog.calls.empty());
    EXPECT_EQ(dialog.calls.back(), (std::pair<std::string, std::string>{"ErrorMsg", row.movieError}));
  } else {
    EXPECT_EQ(dialog.Count("ErrorMsg"), 0);
  }

  EXPECT_EQ(OutsideTree(), outsideBefore) << "a file beside or above the installation changed";
  if (row.setInPlace) {
    EXPECT_EQ(ReadFile(installDir + "/a.dat"), Bytes(kSmallBytes, 'a'));
    EXPECT_FALSE(fs::exists(updateDir));
  } else {
    // Only the work folders may have appeared; the settings folder stays empty.
    for (const auto& entry : fs::directory_iterator(installDir)) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "cfg" || name == "Update" || name == "Extract") << "installed: " << name;
    }
    EXPECT_TRUE(fs::is_empty(installDir + "/cfg"));
  }
  if (row.check) row.check(*this, server);
}

std::string NamedRow(const ::testing::TestParamInfo<RefFailureRow>& info) { return info.param.name; }

// A download failure: every attempt of the larger file fails the same way.
std::function<void(RefServerFailureTest&, RefServer&)> EveryAttempt(const char* mode, int bytes = 0) {
  return [mode, bytes](RefServerFailureTest&, RefServer& server) {
    server.Misbehave(mode, kLargePath, kDownloadAttempts, "", 0, bytes);
  };
}

void ExpectAttempts(RefServerFailureTest&, RefServer& server) {
  EXPECT_EQ(RefServerFailureTest::RequestsTo(server, kLargePath), kDownloadAttempts);
}

std::string Record(const std::string& fo, const std::string& fn, const std::string& rd, size_t size,
                   const std::string& url) {
  return "|~fn=" + fn + "~fo=" + fo + "~rd=" + rd + "~fs=" + std::to_string(size) + "~url=" + url;
}

// A list that stages the small file first and then meets `hostile`.
std::function<void(RefServerFailureTest&)> HostileList(std::function<std::string(RefServerFailureTest&)> hostile) {
  return [hostile](RefServerFailureTest& t) {
    t.ServeList("~ac=11~sn=100001~cv=1.0.0~cb=1~fl=" +
                Record("W", "a.dat", "", kSmallBytes, "{base}/files/client/a.dat") + hostile(t) + "||");
  };
}
const std::string kSmallUrl = "{base}/files/client/a.dat";

INSTANTIATE_TEST_SUITE_P(
    FileList, RefServerFailureTest,
    ::testing::Values(
        RefFailureRow{"ErrorPage", nullptr, [](auto&, RefServer& s) { s.Misbehave("html", kServlet, 1, "11"); }, 20,
                      kCommunicationFailed, nullptr, "InternalServerError"},
        // Armed twice: a client may send a request once more on a fresh
        // connection when the first one closed without a reply.
        RefFailureRow{"ConnectionClosed", nullptr, [](auto&, RefServer& s) { s.Misbehave("close", kServlet, 2, "11"); },
                      20, kCommunicationFailed, nullptr, "NoData"},
        RefFailureRow{"ConnectionDropped", nullptr, [](auto&, RefServer& s) { s.Misbehave("drop", kServlet, 1, "11"); },
                      20, kCommunicationFailed, nullptr, "ReceiveData"},
        RefFailureRow{"Rejected", [](auto& t) { t.AddReply("ac=11 ~ac=30"); }, nullptr, 10,
                      "Invalid action code returned from server while getting file list", nullptr, nullptr},
        RefFailureRow{"UnknownActionCode", nullptr,
                      [](auto&, RefServer& s) { s.Misbehave("badac", kServlet, 1, "11"); }, 10,
                      "Unknown action code returned from server while getting file list", nullptr, nullptr},
        RefFailureRow{"CutShort",
                      [](auto& t) {
                        t.ServeList("~ac=11~sn=100001~fl=" + Record("W", "a.dat", "", kSmallBytes, kSmallUrl) +
                                    "|~fn=z.dat~fo=W~rd=~fs=");
                      },
                      nullptr, 20, kCommunicationFailed, nullptr, "ReceiveData"}),
    NamedRow);

INSTANTIATE_TEST_SUITE_P(
    Downloads, RefServerFailureTest,
    ::testing::Values(RefFailureRow{"NotFound", nullptr, EveryAttempt("404"), 23, "File Download failed", nullptr,
                                    nullptr, false, ExpectAttempts},
                      RefFailureRow{"LongerThanListed", nullptr, EveryAttempt("wronglength", 5), 21,
                                    "File Download failed", nullptr, nullptr, false, ExpectAttempts},
                      RefFailureRow{"ShorterThanListed", nullptr, EveryAttempt("wronglength", -5), 21,
                                    "File Download failed", nullptr, nullptr, false, ExpectAttempts},
                      RefFailureRow{"DroppedMidway", nullptr, EveryAttempt("dropafter", 20000), 21,
                                    "File Download failed", nullptr, nullptr, false, ExpectAttempts},
                      RefFailureRow{"Endless",
                                    [](auto& t) {
                                      // The staged file, looked at whenever the movie hears of progress.
                                      t.dialog.onCall = [&t](const std::string&) {
                                        const std::string staged = t.updateDir + "/z.dat";
                                        std::error_code ec;
                                        const auto size = fs::file_size(staged, ec);
                                        if (!ec) {
                                          EXPECT_LE(size, kLargeBytes) << "the download ran past its listed size";
                                        }
                                      };
                                    },
                                    EveryAttempt("endless"), 21, "File Download failed", nullptr, nullptr, false,
                                    [](auto& t, RefServer& s) {
                                      ExpectAttempts(t, s);
                                      std::error_code ec;
                                      const auto size = fs::file_size(t.updateDir + "/z.dat", ec);
                                      if (!ec) {
                                        EXPECT_LE(size, kLargeBytes);
                                      }
                                    }},
                      // The stall is the last attempt (the ones before it find nothing), so
                      // that the run takes one idle time-out, not twenty; its code is the
                      // final one.
                      RefFailureRow{"Stalled", [](auto& t) { t.config.timeouts.idleSeconds = 1; },
                                    [](auto&, RefServer& s) {
                                      s.Misbehave("404", kLargePath, kDownloadAttempts - 1);
                                      s.Misbehave("stall", kLargePath, 1, "", 60);
                                    },
                                    21, "File Download failed", nullptr, nullptr, false,
                                    [](auto& t, RefServer& s) {
                                      ExpectAttempts(t, s);
                                      std::string lastMode;
                                      for (const auto& request : s.Requests()) {
                                        if (request.path == kLargePath) lastMode = request.misbehave;
                                      }
                                      EXPECT_EQ(lastMode, "stall");
                                      EXPECT_LT(t.runSeconds, 10.0)
                                          << "the stall was not ended by the shortened idle time-out";
                                    }}),
    NamedRow);

INSTANTIATE_TEST_SUITE_P(
    EndOfProcess, RefServerFailureTest,
    ::testing::Values(
        RefFailureRow{"ConnectionClosed", nullptr, [](auto&, RefServer& s) { s.Misbehave("close", kServlet, 2, "15"); },
                      28, kCommunicationFailed, nullptr, nullptr, true},
        RefFailureRow{"Rejected", [](auto& t) { t.AddReply("ac=15 ~ac=30"); }, nullptr, 11,
                      "Invalid action code returned from server while sending end process", nullptr, nullptr, true},
        RefFailureRow{"UnknownActionCode", nullptr,
                      [](auto&, RefServer& s) { s.Misbehave("badac", kServlet, 1, "15"); }, 22,
                      "Unknown action code returned from server while sending end process", nullptr, nullptr, true}),
    NamedRow);

INSTANTIATE_TEST_SUITE_P(
    Local, RefServerFailureTest,
    ::testing::Values(RefFailureRow{"ProgramNeverEnds", [](auto& t) { t.AddEndlessProgram("run.sh", 'R'); }, nullptr,
                                    35, "Running the Extracted File failed", nullptr, nullptr, false,
                                    [](auto& t, RefServer&) {
                                      EXPECT_EQ(t.PidsOfPrograms().size(), 1u) << "the program never started";
                                      EXPECT_FALSE(fs::exists(t.updateDir + "/run.sh")) << "the program stayed behind";
                                    }},
                      RefFailureRow{"ArchiveNeverEnds", [](auto& t) { t.AddEndlessProgram("arc.sh", 'X'); }, nullptr,
                                    39, "Cannot extract archive", nullptr, nullptr, false,
                                    [](auto& t, RefServer&) {
                                      EXPECT_EQ(t.PidsOfPrograms().size(), 1u) << "the archive never started";
                                      EXPECT_FALSE(fs::exists(t.extractDir + "/arc.sh")) << "the archive stayed behind";
                                    }},
                      // Room for the small file and part of the large one.
                      RefFailureRow{"DiskFull", [](auto& t) { t.files.freeBytes = kSmallBytes + 4096; }, nullptr, 21,
                                    "File Download failed", "No space left on device", nullptr},
                      RefFailureRow{"ReadOnlyFolder", [](auto& t) { t.files.readOnly = true; }, nullptr, 32,
                                    "Directory creation failed", "Read-only file system", nullptr, false,
                                    [](auto& t, RefServer& s) {
                                      EXPECT_TRUE(t.BoxHas("Dir: " + t.updateDir));
                                      EXPECT_EQ(RefServerFailureTest::RequestsTo(s, "/files/client/a.dat"), 0);
                                    }},
                      // The work folders of an earlier run are there and can be emptied;
                      // no file can be created in them.
                      RefFailureRow{"ReadOnlyFolderWithWorkFolders",
                                    [](auto& t) {
                                      WriteFile(t.updateDir + "/old.dat", "old");
                                      fs::create_directories(t.extractDir);
                                      t.files.readOnly = true;
                                    },
                                    nullptr, 24, "File Download failed", "Read-only file system", nullptr, false,
                                    [](auto& t, RefServer&) {
                                      EXPECT_FALSE(fs::exists(t.updateDir + "/a.dat"));
                                      EXPECT_FALSE(fs::exists(t.updateDir + "/old.dat"));
                                    }}),
    NamedRow);

// Names and folders of the list that would leave their folder. Each target
// is a real file of the server, so that a missing guard would write it.
INSTANTIATE_TEST_SUITE_P(
    HostileList, RefServerFailureTest,
    ::testing::Values(
        RefFailureRow{"NameUpwards",
                      HostileList([](auto&) { return Record("W", "../escape.dat", "", kSmallBytes, kSmallUrl); }),
                      nullptr, 24, "File name outside the installation folder refused", nullptr, nullptr},
        RefFailureRow{"FolderUpwards",
                      HostileList([](auto&) { return Record("W", "x.dat", "..\\..\\x", kSmallBytes, kSmallUrl); }),
                      nullptr, 31, "Directory creation failed", nullptr, nullptr},
        RefFailureRow{"AbsoluteName", HostileList([](auto& t) {
                        return Record("W", t.outside + "/abs.dat", "", kSmallBytes, kSmallUrl);
                      }),
                      nullptr, 24, "File name outside the installation folder refused", nullptr, nullptr},
        RefFailureRow{"ArchiveMemberUpwards", HostileList([](auto&) {
                        return Record("W", "m.dat", "", kSmallBytes, "{base}/files/client/..");
                      }),
                      nullptr, 24, "File name outside the installation folder refused", nullptr, nullptr},
        RefFailureRow{"DeleteUpwards", HostileList([](auto&) { return Record("D", "../keep.dat", "", 0, ""); }),
                      nullptr, 34, "File name outside the installation folder refused", nullptr, nullptr},
        RefFailureRow{"DeleteInFolderUpwards",
                      HostileList([](auto&) { return Record("D", "keep.dat", "../..", 0, ""); }), nullptr, 31,
                      "Directory creation failed", nullptr, nullptr},
        RefFailureRow{"ProgramUpwards",
                      HostileList([](auto&) { return Record("R", "../run.dat", "", kSmallBytes, kSmallUrl); }), nullptr,
                      35, "File name outside the installation folder refused", nullptr, nullptr},
        RefFailureRow{"ArchiveUpwards",
                      HostileList([](auto&) { return Record("X", "../arc.dat", "", kSmallBytes, kSmallUrl); }), nullptr,
                      39, "File name outside the installation folder refused", nullptr, nullptr}),
    NamedRow);

}  // namespace
}  // namespace update
