#include "platform/message_queue.h"
#include "platform/posix/console_window.h"
#include "support/scripted_player.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace {

// The dialog window the controls are created in; the players draw nothing
// into it.
platform::ConsoleWindow hostWindow(1, true);

using platform::QueueMainLoop;
using platform::MovieControl;
using platform::ScriptedMovieHost;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
using Lines = std::vector<std::string>;

// Runs the tasks waiting in the queue, as the main loop would; returns how
// many ran.
int RunTasks(QueueMainLoop& queue) {
  int ran = 0;
  while (auto message = queue.TryTake()) ran += platform::RunIfTask(*message) ? 1 : 0;
  return ran;
}

class ScriptedPlayerTest : public ::testing::Test {
 protected:
  std::unique_ptr<MovieControl> Create(ScriptedMovieHost& host, int id = 102, bool visible = true) {
    return host.CreateControl(hostWindow, id, visible, [this](const std::string& command, const std::string& args) {
      raised_.push_back(args.empty() ? command : command + " " + args);
    });
  }

  // The program's way of calling a movie function.
  static void Call(MovieControl& control, const std::string& name, const std::string& parm) {
    control.SetVariable("funcName", name);
    control.SetVariable("funcParm", parm);
    control.TCallLabel("_root", "Data");
  }

  Lines Take() {
    RunTasks(queue_);
    return std::exchange(raised_, {});
  }

  TempDir dir_;
  QueueMainLoop queue_;
  Lines raised_;
};

TEST_F(ScriptedPlayerTest, InstallerRunRaisesItsCommandsOnlyThroughTheQueueAndRecordsEveryCall) {
  const std::string script =
      "# the installer movie\n"
      "version 0x90000\n"
      "on load DlgUpdater.qrx: InitPreloader 640~480\n"
      "on load DlgUpdater.qrx: InitDialog 640~480\n"
      "\n"
      "on play: Ready\n"
      "on InstallDir: SetLang en\n"
      "on InstallDir: Install $funcParm~2\n"
      "on SetLA: AcceptLA\n";
  const std::string recordPath = dir_ / "record.txt";
  ScriptedMovieHost host(script, recordPath, queue_);
  EXPECT_TRUE(host.ScriptErrors().empty());
  ASSERT_TRUE(host.RecordFileOpen());

  auto control = Create(host);
  ASSERT_NE(nullptr, control);
  EXPECT_EQ(0x90000, control->FlashVersion());
  control->SetScaleMode(0);
  control->SetQuality(1);
  control->SetMovie("https://localhost:8443/qrx/DlgUpdater.qrx");
  EXPECT_TRUE(raised_.empty()) << "raised from inside SetMovie";
  EXPECT_EQ((Lines{"InitPreloader 640~480", "InitDialog 640~480"}), Take());

  control->SetSize(640, 480);
  control->SetVariable("m_aName", "Quorix");
  control->Play();
  EXPECT_TRUE(raised_.empty()) << "raised from inside Play";
  EXPECT_EQ((Lines{"Ready"}), Take());

  Call(*control, "InstallDir", "Quorix~/tmp/x/Quorix");
  EXPECT_TRUE(raised_.empty()) << "raised from inside TCallLabel";
  EXPECT_EQ((Lines{"SetLang en", "Install /tmp/x/Quorix"}), Take());

  Call(*control, "SetProgress", "030k~039k~30.0~0.768000~0.512000");
  control->SetVariable("funcName", "SetLA");
  control->TCallLabel("_root", "Data");
  EXPECT_EQ((Lines{"AcceptLA"}), Take());

  const Lines expected = {
      "create 102 visible",
      "version",
      "scale 0",
      "quality 1",
      "movie https://localhost:8443/qrx/DlgUpdater.qrx",
      "raise InitPreloader 640~480",
      "raise InitDialog 640~480",
      "size 640x480",
      "set m_aName=Quorix",
      "play",
      "raise Ready",
      "set funcName=InstallDir",
      "set funcParm=Quorix~/tmp/x/Quorix",
      "label _root Data",
      "raise SetLang en",
      "raise Install /tmp/x/Quorix",
      "set funcName=SetProgress",
      "set funcParm=030k~039k~30.0~0.768000~0.512000",
      "label _root Data",
      "set funcName=SetLA",
      "label _root Data",
      "raise AcceptLA",
  };
  EXPECT_EQ(expected, host.Record());
  std::string file;
  for (const std::string& line : expected) file += line + "\n";
  EXPECT_EQ(file, ReadFile(recordPath));
}

TEST_F(ScriptedPlayerTest, TriggersMatchTheirMovieFunctionAndParameter) {
  struct Row {
    const char* name;
    std::string script;
    std::string address;                                     // SetMovie, when not empty
    std::vector<std::pair<std::string, std::string>> calls;  // funcName, funcParm
    Lines expected;
  };
  const Row rows[] = {
      {"movie name inside an address with a query",
       "on load DlgMsg.qrx: Ready 400~240\non load DlgUpdater.qrx: InitPreloader 1~1\n",
       "/home/u/Quorix/qrx/DlgMsg.qrx?m_Lang=de",
       {},
       {"Ready 400~240"}},
      {"empty movie text matches every movie", "on load: Loaded\n", "anything.qrx", {}, {"Loaded"}},
      {"no load rule for the movie", "on load DlgUpdater.qrx: InitPreloader 1~1\n", "intro.qrx", {}, {}},
      {"parameter must match whole",
       "on Msg=ReInstall~Quorix~Play: Play\n",
       "",
       {{"Msg", "Connecting"}, {"Msg", "ReInstall~Quorix~Play"}, {"Msg", "ReInstall~Quorix~Play~"}},
       {"Play"}},
      {"function name is case-sensitive", "on SetLA: AcceptLA\n", "", {{"setla", ""}, {"SetLA", ""}}, {"AcceptLA"}},
      {"several lines raise in script order",
       "on InstallDir: SetLang de\non SetLA: AcceptLA\non InstallDir: Browse\non InstallDir: Install /q\n",
       "",
       {{"InstallDir", "Q~/p"}},
       {"SetLang de", "Browse", "Install /q"}},
      {"parameter fields and the function name in arguments",
       "on InstallDir: Install $funcParm~2/sub\non InstallDir: Note $funcName got $funcParm\n",
       "",
       {{"InstallDir", "Quorix~/opt/games"}},
       {"Install /opt/games/sub", "Note InstallDir got Quorix~/opt/games"}},
      {"command without arguments",
       "on SetDirectory: Install $funcParm\non SetLA: AcceptLA\n",
       "",
       {{"SetDirectory", "/picked"}, {"SetLA", ""}},
       {"Install /picked", "AcceptLA"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    QueueMainLoop queue;
    ScriptedMovieHost host(row.script, "", queue);
    EXPECT_TRUE(host.ScriptErrors().empty());
    Lines raised;
    auto control = host.CreateControl(hostWindow, 102, true, [&](const std::string& command, const std::string& args) {
      raised.push_back(args.empty() ? command : command + " " + args);
    });
    if (!row.address.empty()) control->SetMovie(row.address);
    for (const auto& [name, parm] : row.calls) Call(*control, name, parm);
    RunTasks(queue);
    EXPECT_EQ(row.expected, raised);
  }
}

TEST_F(ScriptedPlayerTest, FunctionTriggersFireOnlyForTheRootDataLabel) {
  ScriptedMovieHost host("on SetLA: AcceptLA\n", "", queue_);
  auto control = Create(host);
  control->SetVariable("funcName", "SetLA");
  control->TCallLabel("_root", "Other");
  control->TCallLabel("_level1", "Data");
  EXPECT_TRUE(Take().empty());
  control->TCallLabel("_root", "Data");
  EXPECT_EQ((Lines{"AcceptLA"}), Take());
}

TEST_F(ScriptedPlayerTest, CountersLimitAndSkipMatchesPerLine) {
  struct Row {
    const char* name;
    std::string script;
    Lines expected;  // after four "ErrorMsg" calls
  };
  const Row rows[] = {
      {"no modifier raises every time", "on ErrorMsg: Retry\n", {"Retry", "Retry", "Retry", "Retry"}},
      {"once then the next line",
       "on ErrorMsg once: Retry\non ErrorMsg after 1: Error\n",
       {"Retry", "Error", "Error", "Error"}},
      {"first two", "on ErrorMsg 2x: Retry\n", {"Retry", "Retry"}},
      {"only the third", "on ErrorMsg after 2 once: Retry\n", {"Retry"}},
      {"skip beyond the calls", "on ErrorMsg after 4: Retry\n", {}},
      {"matches of another parameter are not counted",
       "on ErrorMsg=NoData once: Retry\non ErrorMsg=ReceiveData: Error\n",
       {"Error", "Retry", "Error"}},
  };
  const std::string parms[] = {"ReceiveData", "NoData", "ReceiveData", "NoData"};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    QueueMainLoop queue;
    ScriptedMovieHost host(row.script, "", queue);
    EXPECT_TRUE(host.ScriptErrors().empty());
    Lines raised;
    auto control = host.CreateControl(
        hostWindow, 102, true, [&](const std::string& command, const std::string&) { raised.push_back(command); });
    for (const std::string& parm : parms) {
      Call(*control, "ErrorMsg", parm);
      RunTasks(queue);
    }
    EXPECT_EQ(row.expected, raised);
  }
}

TEST_F(ScriptedPlayerTest, CountersAreSharedByTheControlsOfOneHost) {
  ScriptedMovieHost host("on load DlgUpdater.qrx once: InitPreloader 640~480\n", "", queue_);
  auto first = Create(host);
  first->SetMovie("DlgUpdater.qrx");
  first.reset();
  auto second = Create(host);
  second->SetMovie("DlgUpdater.qrx");
  EXPECT_TRUE(Take().empty());  // the first control's command died with it, the second had none left
}

TEST_F(ScriptedPlayerTest, ArgumentPlaceholders) {
  struct Row {
    std::string args, funcName, funcParm, expected;
  };
  const Row rows[] = {
      {"$funcParm", "F", "a~b~c", "a~b~c"},
      {"$funcParm~1", "F", "a~b~c", "a"},
      {"$funcParm~2", "F", "a~b~c", "b"},
      {"$funcParm~3", "F", "a~b~c", "c"},
      {"$funcParm~4", "F", "a~b~c", ""},
      {"$funcParm~2", "F", "Quorix", ""},
      {"$funcParm~12", "F", "0~1~2~3~4~5~6~7~8~9~10~11~12", "11"},
      {"[$funcParm~2][$funcParm~1]", "F", "x~y", "[y][x]"},
      {"$funcParm~", "F", "a~b", "a~b~"},
      {"$funcParm~x", "F", "a", "a~x"},
      {"$funcName/$funcParm", "Msg", "p", "Msg/p"},
      {"costs $5 and $funcParmx", "F", "p", "costs $5 and px"},
      {"", "F", "p", ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.expected, platform::ExpandScriptArgs(row.args, row.funcName, row.funcParm))
        << "args \"" << row.args << "\" parm \"" << row.funcParm << "\"";
  }
}

TEST_F(ScriptedPlayerTest, PlayerVersionAndMissingPlayer) {
  const std::string marker = dir_ / "player-installed";
  struct Row {
    const char* name;
    std::string script;
    bool markerExists;
    bool created;
    int32_t version;  // when created
  };
  const Row rows[] = {
      {"default is a usable player", "", false, true, 0xA0000},
      {"hex version", "version 0x60000\n", false, true, 0x60000},
      {"decimal version", "version 589824\n", false, true, 0x90000},
      {"no player", "nocontrol\n", false, false, 0},
      {"player installed later, not yet", "nocontrol\nversion-after " + marker + " 0x90000\n", false, false, 0},
      {"player installed later, now there", "nocontrol\nversion-after " + marker + " 0x90000\n", true, true, 0x90000},
      {"old player updated", "version 0x60000\nversion-after " + marker + " 0xA0000\n", true, true, 0xA0000},
      {"old player not updated", "version 0x60000\nversion-after " + marker + " 0xA0000\n", false, true, 0x60000},
      {"file name too long to look up", "nocontrol\nversion-after " + std::string(300, 'n') + " 0x90000\n", false,
       false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::remove(marker.c_str());
    if (row.markerExists) WriteFile(marker, "x");
    ScriptedMovieHost host(row.script, "", queue_);
    EXPECT_TRUE(host.ScriptErrors().empty());
    auto control = Create(host, 1001, false);
    EXPECT_EQ(row.created, control != nullptr);
    if (control) {
      EXPECT_EQ(row.version, control->FlashVersion());
    }
    EXPECT_EQ(row.created ? "create 1001 hidden" : "create 1001 hidden none", host.Record().at(0));
  }
}

TEST_F(ScriptedPlayerTest, VersionAfterTakesEffectOnceTheFileAppears) {
  const std::string marker = dir_ / "setup-ran";
  ScriptedMovieHost host("nocontrol\nversion-after " + marker + " 0x90000\n", "", queue_);
  EXPECT_EQ(nullptr, Create(host, 1001, false));
  WriteFile(marker, "");
  auto control = Create(host, 1001, false);
  ASSERT_NE(nullptr, control);
  EXPECT_EQ(0x90000, control->FlashVersion());
}

TEST_F(ScriptedPlayerTest, UnreadableLinesAreReportedWithTheirNumbersAndTheRestApplies) {
  const std::string script =
      "version nine\n"           // 1
      "on play: Ready\n"         // 2
      "frobnicate\n"             // 3
      "on play\n"                // 4: no command
      "on SetLA:\n"              // 5: no command
      "on Two Words: X\n"        // 6
      "version-after 0x90000\n"  // 7: no file
      "   # indented comment\n"  // 8
      "on ErrorMsg 0x: Retry\n"  // 9
      "on SetLA: AcceptLA\n";    // 10
  ScriptedMovieHost host(script, "", queue_);
  EXPECT_EQ((Lines{"line 1: version nine", "line 3: frobnicate", "line 4: on play", "line 5: on SetLA:",
                   "line 6: on Two Words: X", "line 7: version-after 0x90000", "line 9: on ErrorMsg 0x: Retry"}),
            host.ScriptErrors());
  auto control = Create(host);
  EXPECT_EQ(0xA0000, control->FlashVersion());
  control->Play();
  Call(*control, "SetLA", "");
  EXPECT_EQ((Lines{"Ready", "AcceptLA"}), Take());
}

TEST_F(ScriptedPlayerTest, CommandsForAControlThatIsGoneAreDropped) {
  ScriptedMovieHost host("on play: Ready\n", "", queue_);
  auto control = Create(host);
  control->Play();
  control.reset();
  EXPECT_EQ(1, RunTasks(queue_));
  EXPECT_TRUE(raised_.empty());
  EXPECT_EQ((Lines{"create 102 visible", "play"}), host.Record());
}

TEST_F(ScriptedPlayerTest, RecordFileIsAppendedToAndReadableWhileTheHostLives) {
  const std::string recordPath = dir_ / "record.txt";
  WriteFile(recordPath, "earlier run\n");
  ScriptedMovieHost host("", recordPath, queue_);
  auto control = Create(host, 1001, true);
  control->SetMovie("/i/qrx/DlgMsg.qrx?m_Lang=");
  // Flushed at once: another process (the end-to-end test) reads it now.
  EXPECT_EQ("earlier run\ncreate 1001 visible\nmovie /i/qrx/DlgMsg.qrx?m_Lang=\n", ReadFile(recordPath));
}

TEST_F(ScriptedPlayerTest, RecordingFromSeveralThreadsKeepsWholeLines) {
  const std::string recordPath = dir_ / "record.txt";
  ScriptedMovieHost host("", recordPath, queue_);
  constexpr int kThreads = 4, kLines = 250;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&host, t] {
      for (int i = 0; i < kLines; ++i) host.AppendRecord("set t" + std::to_string(t) + "=" + std::to_string(i));
    });
  for (std::thread& thread : threads) thread.join();
  const Lines record = host.Record();
  ASSERT_EQ(static_cast<size_t>(kThreads * kLines), record.size());
  std::string file;
  for (const std::string& line : record) file += line + "\n";
  EXPECT_EQ(file, ReadFile(recordPath));
}

TEST_F(ScriptedPlayerTest, LoadsItsScriptFromAFile) {
  WriteFile(dir_ / "movie.script", "version 0x90000\non play: Ready\n");
  auto host = platform::LoadScriptedMovieHost(dir_ / "movie.script", "", queue_);
  ASSERT_NE(nullptr, host);
  auto control = Create(*host);
  EXPECT_EQ(0x90000, control->FlashVersion());
  control->Play();
  EXPECT_EQ((Lines{"Ready"}), Take());
  EXPECT_EQ(nullptr, platform::LoadScriptedMovieHost(dir_ / "missing.script", "", queue_));
}

}  // namespace
