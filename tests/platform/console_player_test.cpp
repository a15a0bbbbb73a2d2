#include "platform/message_queue.h"
#include "platform/posix/console_player.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/posix/console_texts.h"
#include "platform/posix/console_window.h"
#include "platform/posix/posix_dialogs.h"
#include "support/temp_dir.h"

namespace {

// The dialog window the controls are created in; the players draw nothing
// into it.
platform::ConsoleWindow hostWindow(1, true);

using platform::ConsoleMovieHost;
using platform::ConsoleOptions;
using platform::QueueMainLoop;
using platform::MovieControl;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
using Lines = std::vector<std::string>;

constexpr auto kPatience = std::chrono::seconds(10);
constexpr uint32_t kTimeoutMessage = 0x8000 + 999;

// Runs the main queue's tasks until `done` holds, as the main loop would.
// False when `done` still does not hold after kPatience: a watchdog posts a
// time-out message instead of the test sleeping.
bool PumpUntil(QueueMainLoop& queue, const std::function<bool()>& done) {
  static uintptr_t generation = 0;
  const uintptr_t mine = ++generation;
  std::mutex lock;
  std::condition_variable cancelled;
  bool over = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> guard(lock);
    if (!cancelled.wait_for(guard, kPatience, [&] { return over; })) queue.Post({kTimeoutMessage, mine, 0});
  });
  bool reached = false;
  for (;;) {
    if (done()) {
      reached = true;
      break;
    }
    const auto message = queue.Wait();
    if (!message) break;
    if (message->id == kTimeoutMessage) {
      if (message->wParam == mine) break;
      continue;  // left by an earlier pump
    }
    platform::RunIfTask(*message);
  }
  {
    std::lock_guard<std::mutex> guard(lock);
    over = true;
  }
  cancelled.notify_all();
  watchdog.join();
  return reached;
}

void RunWaitingTasks(QueueMainLoop& queue) {
  while (auto message = queue.TryTake()) platform::RunIfTask(*message);
}

// Frees what a test left in its queue, as the main loop does at its end.
void DiscardWaitingTasks(QueueMainLoop& queue) {
  while (auto message = queue.TryTake()) platform::DiscardIfTask(*message);
}

void Call(MovieControl& control, const std::string& name, const std::string& parm) {
  control.SetVariable("funcName", name);
  control.SetVariable("funcParm", parm);
  control.TCallLabel("_root", "Data");
}

// Collects what a control raises, "Command args".
struct Sink {
  Lines raised;
  std::function<void(const std::string&, const std::string&)> also;
  platform::MovieCommandSink Get() {
    return [this](const std::string& command, const std::string& args) {
      raised.push_back(args.empty() ? command : command + " " + args);
      if (also) also(command, args);
    };
  }
  Lines Take() { return std::exchange(raised, {}); }
};

// --- Without a terminal ---

class ConsolePlayerLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    input_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
    output_ = open((dir_ / "out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(input_, 0);
    ASSERT_GE(output_, 0);
  }
  void TearDown() override {
    DiscardWaitingTasks(queue_);
    close(input_);
    close(output_);
  }

  std::unique_ptr<ConsoleMovieHost> MakeHost(bool unattended) {
    ConsoleOptions options;
    options.unattended = unattended;
    options.inputFd = input_;
    options.outputFd = output_;
    options.catchInterrupt = false;
    return std::make_unique<ConsoleMovieHost>(queue_, std::move(options));
  }

  std::string Output() const { return ReadFile(dir_ / "out.txt"); }

  Lines Raised() {
    RunWaitingTasks(queue_);
    return sink_.Take();
  }

  TempDir dir_;
  int input_ = -1;
  int output_ = -1;
  QueueMainLoop queue_;
  Sink sink_;
};

TEST_F(ConsolePlayerLogTest, InstallerAndReinstallMoviesWithoutATerminal) {
  struct Row {
    const char* name;
    bool unattended;
    Lines onInstallDir, onSetLA, onErrorMsg, onOffer;
  };
  const Row rows[] = {
      {"unattended takes every default",
       true,
       {"SetLang en", "Install /home/u/.local/share/Quorix"},
       {"AcceptLA"},
       {"Error"},
       {"Play"}},
      {"without the switch nothing installs", false, {"Decline"}, {"Decline"}, {"Error"}, {"Play"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto host = MakeHost(row.unattended);
    EXPECT_FALSE(host->Interactive());
    auto control = host->CreateControl(hostWindow, 102, true, sink_.Get());
    ASSERT_NE(nullptr, control);
    EXPECT_GE(control->FlashVersion(), 0x90000);

    control->SetScaleMode(0);
    control->SetQuality(1);
    control->SetMovie("https://localhost:8443/qrx/DlgUpdater.qrx");
    EXPECT_TRUE(sink_.raised.empty()) << "raised from inside SetMovie";
    EXPECT_EQ((Lines{"InitPreloader 640~480", "InitDialog 640~480"}), Raised());
    for (const char* name : {"m_aName", "m_bIsInstaller", "m_movieLangURL", "m_movieLogoURL", "m_dispatcherURL"})
      control->SetVariable(name, std::string(name) == "m_aName" ? "Quorix" : "1");
    control->Play();
    EXPECT_TRUE(sink_.raised.empty()) << "raised from inside Play";
    EXPECT_EQ((Lines{"Ready"}), Raised());

    Call(*control, "InstallDir", "Quorix~/home/u/.local/share/Quorix");
    EXPECT_TRUE(sink_.raised.empty()) << "raised from inside TCallLabel";
    EXPECT_EQ(row.onInstallDir, Raised());
    control->SetVariable("funcName", "SetLA");  // keeps the earlier funcParm
    control->TCallLabel("_root", "Data");
    EXPECT_EQ(row.onSetLA, Raised());
    Call(*control, "ErrorMsg", "NoData");
    EXPECT_EQ(row.onErrorMsg, Raised());
    control.reset();

    auto reinstall = host->CreateControl(hostWindow, 1001, true, sink_.Get());
    reinstall->SetMovie("/home/u/.local/share/Quorix/qrx/DlgMsg.qrx?m_Lang=de");
    EXPECT_EQ((Lines{std::string("Ready ") + platform::kReinstallMovieSize}), Raised());
    Call(*reinstall, "Msg", "ReInstall~Quorix~Play");
    EXPECT_EQ(row.onOffer, Raised());
  }
}

TEST_F(ConsolePlayerLogTest, UnattendedWithoutAProposedFolderDeclines) {
  auto host = MakeHost(true);
  auto control = host->CreateControl(hostWindow, 102, true, sink_.Get());
  control->SetMovie("DlgUpdater.qrx");
  control->Play();
  Raised();
  Call(*control, "InstallDir", "");
  EXPECT_EQ((Lines{"Decline"}), Raised());
}

TEST_F(ConsolePlayerLogTest, OtherMoviesAndLabelsRaiseNothing) {
  auto host = MakeHost(true);
  auto control = host->CreateControl(hostWindow, 102, true, sink_.Get());
  control->SetMovie("https://localhost:8443/qrx/mcLogo.qrx");
  control->Play();
  Call(*control, "InstallDir", "Quorix~/q");
  Call(*control, "SetLA", "");
  EXPECT_TRUE(Raised().empty());

  control->SetMovie("/x/DlgUpdater.qrx.bak");
  EXPECT_TRUE(Raised().empty());
  control->SetMovie("C:\\Games\\qrx\\DLGUPDATER.QRX");  // file names compare without case
  EXPECT_EQ(2u, Raised().size());
  control->SetVariable("funcName", "SetLA");
  control->TCallLabel("_root", "Other");
  control->TCallLabel("_level0", "Data");
  EXPECT_TRUE(Raised().empty());
}

TEST_F(ConsolePlayerLogTest, CommandsOfAControlThatIsGoneAreDropped) {
  auto host = MakeHost(true);
  auto control = host->CreateControl(hostWindow, 102, true, sink_.Get());
  control->SetMovie("DlgUpdater.qrx");
  control.reset();
  EXPECT_TRUE(Raised().empty());
}

TEST_F(ConsolePlayerLogTest, ProgressIsWrittenAsPlainLinesWhenItsNumbersMove) {
  auto host = MakeHost(true);
  auto control = host->CreateControl(hostWindow, 102, true, sink_.Get());
  control->SetMovie("DlgUpdater.qrx");
  control->SetVariable("m_aName", "Quorix");
  Call(*control, "Msg", "Connecting");
  Call(*control, "SetProgress", "0~0~0");
  Call(*control, "Performing", "Install");
  Call(*control, "SetFileName", "Quorix.exe");
  Call(*control, "SetProgress", "030k~039k~30.0~0.768000~0.512000");
  Call(*control, "SetProgress", "030k~039k~31.0~0.769000~0.513000");  // same percentages: no new line
  Call(*control, "SetProgress", "039k~039k~32.5~1.000000~0.600000");
  Call(*control, "SetProgress", "49152~49152~32.5~1.000000~0.700000");  // an unpacked file's copy
  host.reset();

  const std::string out = Output();
  EXPECT_EQ(std::string::npos, out.find('\x1b')) << out;
  EXPECT_EQ(std::string::npos, out.find('\r')) << out;
  const std::string expected =
      "Connecting to the update server...\n"
      "Installing Quorix...\n"
      "Downloading Quorix.exe\n"
      "Quorix.exe  030k/039k  30.0 KB/s  file  76%  [##########----------]  51%\n"
      "Quorix.exe  039k/039k  32.5 KB/s  file 100%  [############--------]  60%\n"
      "unpacked files  048k/048k  32.5 KB/s  file 100%  [##############------]  70%\n";
  EXPECT_EQ(expected, out);
}

TEST(ConsoleProgressLineTest, FieldsOfTheProgressText) {
  struct Row {
    std::string fileName, progress, expected;
  };
  const Row rows[] = {
      {"Quorix.exe", "030k~039k~30.0~0.768000~0.512000",
       "Quorix.exe  030k/039k  30.0 KB/s  file  76%  [##########----------]  51%"},
      {"", "0~0~0", "000b/000b  0.0 KB/s  file   0%  [--------------------]   0%"},
      {"x", "49152~2097152~2~0.5~0.5", "x  048k/2.0M  2.0 KB/s  file  50%  [##########----------]  50%"},
      {"a.cab", "1.5M~1.5M~512.25~1.000000~1.000000",
       "a.cab  1.5M/1.5M  512.2 KB/s  file 100%  [####################] 100%"},
      {"b", "5~7~1~0.29~0.999999", "b  005b/007b  1.0 KB/s  file  29%  [###################-]  99%"},
      {"c", "1~2~3~1.7~-0.2", "c  001b/002b  3.0 KB/s  file 100%  [--------------------]   0%"},
      {"d", "", "d  0/0  0.0 KB/s  file   0%  [--------------------]   0%"},
      {"e", "1~2~x~nan~0.05", "e  001b/002b  0.0 KB/s  file   0%  [#-------------------]   5%"},
      {"f", "1~2~0~8e8~inf", "f  001b/002b  0.0 KB/s  file 100%  [####################] 100%"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(row.expected, platform::FormatProgressLine(row.fileName, row.progress)) << "progress " << row.progress;
}

TEST(ConsoleWindowTest, TitleIsPrintedOnceAsAHeadingAndTheRestIsKept) {
  TempDir dir;
  const int out = open((dir / "out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(out, 0);
  platform::ConsoleWindowFactory factory(out);
  auto window = factory.CreateDialogWindow(102, true);
  window->SetTitle("  Quorix");
  window->SetTitle("  Quorix");
  window->SetTitle("   ");
  window->SetTitle("Quorix Setup");
  window->SetTopmost();
  window->SetBackground({1, 2, 3});
  window->FitClient(640, 480);
  EXPECT_TRUE(window->Visible());
  window->Hide();
  EXPECT_FALSE(window->Visible());
  window->Show();
  EXPECT_TRUE(window->Visible());
  EXPECT_FALSE(factory.CreateDialogWindow(130, false)->Visible());
  auto* console = dynamic_cast<platform::ConsoleWindow*>(window.get());
  ASSERT_NE(nullptr, console);
  EXPECT_EQ(640, console->ClientWidth());
  EXPECT_EQ(480, console->ClientHeight());
  close(out);
  EXPECT_EQ("\n==  Quorix  ==\n\n\n==  Quorix Setup  ==\n\n", ReadFile(dir / "out.txt"));
}

// --- Ctrl-C ---

struct sigaction CurrentInterruptDisposition() {
  struct sigaction now {};
  sigaction(SIGINT, nullptr, &now);
  return now;
}

TEST(ConsoleInterruptTest, CtrlCBecomesACloseRequestOnTheMainThreadAndTheDispositionIsRestored) {
  const auto before = CurrentInterruptDisposition();
  QueueMainLoop queue;
  const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
  ASSERT_GE(devNull, 0);
  int closeRequests = 0;
  std::thread::id handlerThread;
  {
    ConsoleOptions options;
    options.inputFd = devNull;
    options.outputFd = devNull;
    options.onCloseRequest = [&] {
      ++closeRequests;
      handlerThread = std::this_thread::get_id();
    };
    ConsoleMovieHost host(queue, std::move(options));
    ASSERT_TRUE(host.HoldsInterrupt());

    ConsoleOptions second;
    second.inputFd = second.outputFd = devNull;
    EXPECT_FALSE(ConsoleMovieHost(queue, second).HoldsInterrupt()) << "a second host took the signal";

    ASSERT_EQ(0, raise(SIGINT));
    EXPECT_EQ(0, closeRequests) << "the close request must come through the queue";
    ASSERT_TRUE(PumpUntil(queue, [&] { return closeRequests == 1; }));
    EXPECT_EQ(std::this_thread::get_id(), handlerThread);

    ASSERT_EQ(0, raise(SIGINT));  // the next Ctrl-C is heard again
    ASSERT_TRUE(PumpUntil(queue, [&] { return closeRequests == 2; }));
  }
  const auto after = CurrentInterruptDisposition();
  EXPECT_EQ(before.sa_handler, after.sa_handler);
  close(devNull);
}

// --- On a terminal ---

// A pseudo-terminal standing for the user's terminal: the player gets the
// slave side; the test types into the master side and reads what the
// player shows there.
class ConsolePlayerTerminalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The texts and the default language follow the locale: English here.
    for (const char* name : {"LC_ALL", "LC_MESSAGES"}) unsetenv(name);
    setenv("LANG", "C", 1);
    ASSERT_EQ(0, openpty(&master_, &slave_, nullptr, nullptr, nullptr));
    ASSERT_EQ(0, pipe(stopPipe_));
    reader_ = std::thread([this] { ReadTerminal(); });
  }

  void TearDown() override {
    control_.reset();
    host_.reset();
    DiscardWaitingTasks(queue_);
    StopReadingTerminal();
    for (int fd : {master_, slave_, stopPipe_[0], stopPipe_[1]})
      if (fd >= 0) close(fd);
  }

  void StartHost(bool catchInterrupt = false, std::function<void()> onClose = {}) {
    ConsoleOptions options;
    options.inputFd = slave_;
    options.outputFd = slave_;
    options.catchInterrupt = catchInterrupt;
    options.onCloseRequest = std::move(onClose);
    host_ = std::make_unique<ConsoleMovieHost>(queue_, std::move(options));
    ASSERT_TRUE(host_->Interactive());
  }

  // Loads `address` and runs what the load raises.
  void Load(const std::string& address, size_t loadCommands) {
    control_ = host_->CreateControl(hostWindow, 102, true, sink_.Get());
    control_->SetVariable("m_aName", "Quorix");
    control_->SetMovie(address);
    ASSERT_TRUE(PumpUntil(queue_, [&] { return sink_.raised.size() >= loadCommands; }));
    sink_.Take();
  }

  void Type(const std::string& text) {
    ASSERT_EQ(static_cast<ssize_t>(text.size()), write(master_, text.data(), text.size()));
  }

  // Waits until the terminal has shown `text` `count` times in all.
  bool Shown(const std::string& text, int count = 1) {
    std::unique_lock<std::mutex> lock(screenLock_);
    return screenChanged_.wait_for(lock, kPatience, [&] {
      int seen = 0;
      for (size_t at = screen_.find(text); at != std::string::npos; at = screen_.find(text, at + 1)) ++seen;
      return seen >= count;
    });
  }

  std::string Screen() {
    std::lock_guard<std::mutex> lock(screenLock_);
    return screen_;
  }

  void StopReadingTerminal() {
    if (!reader_.joinable()) return;
    const char byte = 's';
    [[maybe_unused]] const ssize_t n = write(stopPipe_[1], &byte, 1);
    reader_.join();
  }

  // How often the terminal has shown `text` so far.
  int Seen(const std::string& text) {
    const std::string screen = Screen();
    int seen = 0;
    for (size_t at = screen.find(text); at != std::string::npos; at = screen.find(text, at + 1)) ++seen;
    return seen;
  }

  bool RaisedCount(size_t count) {
    return PumpUntil(queue_, [&] { return sink_.raised.size() >= count; });
  }

  TempDir dir_;
  int master_ = -1, slave_ = -1;
  QueueMainLoop queue_;
  Sink sink_;
  std::unique_ptr<ConsoleMovieHost> host_;
  std::unique_ptr<MovieControl> control_;

 private:
  void ReadTerminal() {
    for (;;) {
      pollfd fds[2] = {{master_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents) return;
      char buffer[512];
      const ssize_t n = read(master_, buffer, sizeof(buffer));
      if (n <= 0) return;
      {
        std::lock_guard<std::mutex> lock(screenLock_);
        screen_.append(buffer, static_cast<size_t>(n));
      }
      screenChanged_.notify_all();
    }
  }

  int stopPipe_[2] = {-1, -1};
  std::thread reader_;
  std::mutex screenLock_;
  std::condition_variable screenChanged_;
  std::string screen_;
};

TEST_F(ConsolePlayerTerminalTest, InstallPagesFollowWhatTheUserTypes) {
  struct Row {
    const char* name;
    std::string typed;
    std::optional<std::string> pickerAnswer;  // the folder picker's "SetDirectory", if it answers
    Lines expected;
  };
  // Folders the user may write to: the answers are checked before they go.
  const std::string u = dir_ / "u";
  const Row rows[] = {
      {"defaults", "\n\n", {}, {"SetLang en", "Install " + u + "/Quorix"}},
      {"second language by number", "2\n\n", {}, {"SetLang de", "Install " + u + "/Quorix"}},
      {"language by code", "FR\n", {}, {"SetLang fr"}},
      {"unknown language asked again", "7\nxx\n4\n\n", {}, {"SetLang es", "Install " + u + "/Quorix"}},
      {"typed folder", "\n" + u + "/games/Quorix Online\n", {}, {"SetLang en", "Install " + u + "/games/Quorix Online"}},
      {"browse, folder picked", "\nb\n\n", u + "/big/Quorix", {"SetLang en", "Browse", "Install " + u + "/big/Quorix"}},
      {"browse, picker cancelled", "\nb\n\n", {}, {"SetLang en", "Browse", "Install " + u + "/Quorix"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    StartHost();
    Load("https://localhost:8443/qrx/DlgUpdater.qrx", 2);
    sink_.also = [&](const std::string& command, const std::string&) {
      if (command != "Browse" || !row.pickerAnswer) return;
      // The dialog's folder picker answers after the command, on the main thread.
      platform::PostTask(queue_, [&] { Call(*control_, "SetDirectory", *row.pickerAnswer); });
    };
    Call(*control_, "InstallDir", "Quorix~" + u + "/Quorix");
    Type(row.typed);
    ASSERT_TRUE(RaisedCount(row.expected.size())) << Screen();
    EXPECT_EQ(row.expected, sink_.Take()) << Screen();
    if (row.pickerAnswer) {
      EXPECT_TRUE(Shown("Install folder: " + *row.pickerAnswer)) << Screen();
    }
    sink_.also = {};
    control_.reset();
    host_.reset();
  }
}

TEST_F(ConsolePlayerTerminalTest, AnswersToTheLaterQuestions) {
  struct Row {
    const char* name;
    std::string movie;
    std::string funcName, funcParm;
    std::string question;  // shown before typing
    std::string typed;
    Lines expected;
  };
  const std::string installer = "DlgUpdater.qrx";
  const std::string reinstall = "/home/u/Quorix/qrx/DlgMsg.qrx?m_Lang=en";
  const Row rows[] = {
      {"licence declined", installer, "SetLA", "", "Type a to accept", "d\n", {"Decline"}},
      {"licence accepted after a wrong key", installer, "SetLA", "", "Type a to accept", "x\n\na\n", {"AcceptLA"}},
      {"retry by default", installer, "ErrorMsg", "ReceiveData", "(r)etry or (q)uit", "\n", {"Retry"}},
      {"quit after an error", installer, "ErrorMsg", "NoData", "(r)etry or (q)uit", "q\n", {"Error"}},
      {"reinstall after a yes", reinstall, "Msg", "ReInstall~Quorix~Play", "(r)einstall or (p)lay", "r\nmaybe\ny\n",
       {"ReInstall"}},
      {"reinstall, no, then play", reinstall, "Msg", "ReInstall~Quorix~Play", "(r)einstall or (p)lay", "r\n\nx\np\n",
       {"Play"}},
      {"play by default", reinstall, "Msg", "ReInstall~Quorix~Play", "(r)einstall or (p)lay", "\n", {"Play"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    StartHost();
    Load(row.movie, row.movie == installer ? 2 : 1);
    Call(*control_, row.funcName, row.funcParm);
    EXPECT_TRUE(Shown(row.question)) << Screen();
    EXPECT_TRUE(sink_.raised.empty());
    Type(row.typed);
    ASSERT_TRUE(RaisedCount(row.expected.size())) << Screen();
    EXPECT_EQ(row.expected, sink_.Take());
    if (row.typed[0] == 'r') {
      EXPECT_TRUE(Shown("Reinstalling first removes /home/u/Quorix and everything in it.")) << Screen();
    }
    control_.reset();
    host_.reset();
  }
}

TEST_F(ConsolePlayerTerminalTest, ProgressIsRedrawnInPlace) {
  StartHost();
  Load("DlgUpdater.qrx", 2);
  Call(*control_, "SetFileName", "Quorix.exe");
  Call(*control_, "SetProgress", "030k~039k~30.0~0.768000~0.512000");
  Call(*control_, "Msg", "Done");
  EXPECT_TRUE(Shown("Done")) << Screen();
  EXPECT_NE(std::string::npos,
            Screen().find("\rQuorix.exe  030k/039k  30.0 KB/s  file  76%  [##########----------]  51%\x1b[K"))
      << Screen();
  // The open progress line is ended before the next line.
  EXPECT_NE(std::string::npos, Screen().find("51%\x1b[K\r\nDone")) << Screen();
}

// The exit question is asked after the close request (here from a thread
// of the test's, which types meanwhile): the box reads its answer through
// the player, which then shows the movie's open question again.
TEST_F(ConsolePlayerTerminalTest, TheExitQuestionGetsTheAnswerAndTheQuestionComesBack) {
  struct Row {
    const char* name;
    std::string typed;  // at the box's prompt; "" types Ctrl-C, "\x04" the end of input
    std::optional<std::string> answer;
  };
  const Row rows[] = {{"no", "n\n", "n"}, {"ctrl-c", "", std::nullopt}, {"ctrl-d", "\x04", std::nullopt}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::optional<std::string> boxAnswer;
    std::thread box;
    StartHost(true, [&] { box = std::thread([&] { boxAnswer = host_->ReadAnswer("[y/N] "); }); });
    Load("DlgUpdater.qrx", 2);
    const int questions = Seen("Language [1]: ");
    const int boxes = Seen("[y/N] ");
    Call(*control_, "InstallDir", "Quorix~/q");
    ASSERT_TRUE(Shown("Language [1]: ", questions + 1)) << Screen();
    ASSERT_EQ(0, raise(SIGINT));
    ASSERT_TRUE(PumpUntil(queue_, [&] { return box.joinable(); }));
    EXPECT_TRUE(Shown("[y/N] ", boxes + 1)) << Screen();  // not fatal: the box thread must be joined
    if (row.typed.empty()) {
      ASSERT_EQ(0, raise(SIGINT));
    } else {
      Type(row.typed);
    }
    box.join();
    EXPECT_EQ(row.answer, boxAnswer);
    EXPECT_TRUE(sink_.raised.empty()) << "the player took the answer meant for the box";
    if (row.answer) {
      host_->RepeatQuestion();  // what the box does after a No
      RunWaitingTasks(queue_);
      ASSERT_TRUE(Shown("Language [1]: ", questions + 2)) << Screen();
      Type("3\n");  // the language question is still open
      ASSERT_TRUE(RaisedCount(1)) << Screen();
      EXPECT_EQ((Lines{"SetLang fr"}), sink_.Take());
    }
    control_.reset();
    host_.reset();
  }
}

TEST_F(ConsolePlayerTerminalTest, EndOfInputIsACloseRequest) {
  int closeRequests = 0;
  StartHost(false, [&] { ++closeRequests; });
  Load("DlgUpdater.qrx", 2);
  control_->SetVariable("funcName", "SetLA");
  control_->TCallLabel("_root", "Data");
  ASSERT_TRUE(Shown("Type a to accept")) << Screen();
  struct termios mode {};
  ASSERT_EQ(0, tcgetattr(slave_, &mode));
  Type(std::string(1, static_cast<char>(mode.c_cc[VEOF])));
  ASSERT_TRUE(PumpUntil(queue_, [&] { return closeRequests == 1; }));
  EXPECT_TRUE(sink_.raised.empty());
}

// A terminal that goes away is a close request, and the exit question then
// gets no answer (which its box takes as leaving).
TEST_F(ConsolePlayerTerminalTest, ATerminalThatGoesAwayIsACloseRequest) {
  int closeRequests = 0;
  StartHost(false, [&] { ++closeRequests; });
  Load("DlgUpdater.qrx", 2);
  Call(*control_, "InstallDir", "Quorix~/q");
  ASSERT_TRUE(Shown("Language [1]: ")) << Screen();
  StopReadingTerminal();  // its poll holds the terminal open
  close(master_);
  master_ = -1;
  ASSERT_TRUE(PumpUntil(queue_, [&] { return closeRequests == 1; }));
  EXPECT_EQ(std::nullopt, host_->ReadAnswer("[y/N] "));
  EXPECT_TRUE(sink_.raised.empty());
}

TEST_F(ConsolePlayerTerminalTest, TheTerminalSettingsAreRestored) {
  struct termios before {};
  ASSERT_EQ(0, tcgetattr(slave_, &before));
  StartHost();
  Load("DlgUpdater.qrx", 2);
  Call(*control_, "InstallDir", "Quorix~/q");
  ASSERT_TRUE(Shown("Language [1]: "));
  struct termios changed = before;
  changed.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  ASSERT_EQ(0, tcsetattr(slave_, TCSANOW, &changed));  // as a box that hid the typing and failed to restore it
  control_.reset();
  host_.reset();
  struct termios after {};
  ASSERT_EQ(0, tcgetattr(slave_, &after));
  EXPECT_EQ(before.c_lflag, after.c_lflag);
}

// --- Pure rules of the questions ---

TEST(ConsoleFolderTest, WhereAFolderTakesTheInstallationOrWhyNot) {
  TempDir dir;
  WriteFile(dir / "afile", "x");
  WriteFile(dir / "mine/save.dat", "x");
  WriteFile(dir / "crowded/save.dat", "x");
  WriteFile(dir / "crowded/Quorix/other.txt", "x");
  WriteFile(dir / "earlier/cfg/ovl.cfg", "x");
  std::filesystem::create_directories(dir / "empty");
  using platform::FolderProblem;
  struct Row {
    std::string folder;
    FolderProblem problem;
    std::string target;
    bool subFolder;
  };
  const Row rows[] = {
      {"games/Quorix", FolderProblem::NotFull, "", false},
      {"", FolderProblem::NotFull, "", false},
      {dir / "afile", FolderProblem::IsFile, dir / "afile", false},
      {dir / "empty", FolderProblem::None, dir / "empty", false},
      {dir / "new/deeper/", FolderProblem::None, dir / "new/deeper", false},
      {dir / "mine", FolderProblem::None, dir / "mine/Quorix", true},
      {dir / "crowded", FolderProblem::ForeignFiles, dir / "crowded/Quorix", true},
      {dir / "earlier", FolderProblem::None, dir / "earlier", false},
      {dir / "afile/Quorix", FolderProblem::NotWritable, dir / "afile/Quorix", false},
  };
  for (const Row& row : rows) {
    const platform::FolderCheck check = platform::CheckInstallFolder(row.folder, "Quorix");
    EXPECT_EQ(static_cast<int>(row.problem), static_cast<int>(check.problem)) << row.folder;
    if (row.problem != FolderProblem::NotFull) {
      EXPECT_EQ(row.target, check.target) << row.folder;
    }
    EXPECT_EQ(row.subFolder, check.subFolder) << row.folder;
  }
  EXPECT_EQ("/home/ann/Spiele", platform::ExpandHome("~/Spiele", "/home/ann"));
  EXPECT_EQ("/home/ann", platform::ExpandHome("~", "/home/ann"));
  EXPECT_EQ("~ann/Spiele", platform::ExpandHome("~ann/Spiele", "/home/ann"));
}

TEST(ConsoleLanguageTest, TheLocaleChoosesTheDefault) {
  struct Row {
    const char *lcAll, *lcMessages, *lang;
    const char* code;
  };
  const Row rows[] = {
      {nullptr, nullptr, "de_DE.UTF-8", "de"}, {nullptr, "fr_FR", "de_DE", "fr"}, {"C", nullptr, "de_DE", "en"},
      {"", "", "es", "es"},                    {nullptr, nullptr, "pt_BR", "en"}, {nullptr, nullptr, nullptr, "en"},
  };
  for (const Row& row : rows) {
    EXPECT_STREQ(row.code,
                 platform::ConsoleLanguage(platform::ConsoleLanguageFromLocale(row.lcAll, row.lcMessages, row.lang)).code)
        << (row.lang ? row.lang : "(none)");
  }
}

TEST(ConsoleBoxTest, YesNoAnswers) {
  using platform::BoxAnswer;
  const std::pair<const char*, std::optional<BoxAnswer>> rows[] = {
      {"y", BoxAnswer::Yes}, {" YES ", BoxAnswer::Yes}, {"ja", BoxAnswer::Yes}, {"oui", BoxAnswer::Yes},
      {"", BoxAnswer::No},   {"n", BoxAnswer::No},      {"Nein", BoxAnswer::No}, {"maybe", std::nullopt},
  };
  for (const auto& [typed, answer] : rows) EXPECT_EQ(answer, platform::YesNoAnswer(typed)) << typed;
}

}  // namespace
