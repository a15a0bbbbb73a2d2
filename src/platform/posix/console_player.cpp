#include "platform/posix/console_player.h"


#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/builtin_movies.h"
#include "platform/posix/console_texts.h"
#include "platform/posix/posix_file_system.h"

namespace platform {

namespace {

// The write end of the interrupt pipe of the host that holds SIGINT, or -1.
std::atomic<int> interruptPipe{-1};
std::atomic<bool> interruptHeld{false};

extern "C" void OnInterrupt(int) {
  const int fd = interruptPipe.load();
  if (fd < 0) return;
  const int saved = errno;
  const char byte = 'i';
  [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
  errno = saved;
}

std::string Trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

int Percent(double fraction) {
  if (!(fraction > 0)) return 0;  // also NaN
  return static_cast<int>(std::min(std::floor(fraction * 100 + 1e-6), 100.0));
}

using MovieKind = BuiltInMovie;

bool IsOneOf(const std::string& answer, std::initializer_list<const char*> words) {
  const std::string lower = Lower(answer);
  for (const char* word : words)
    if (lower == word) return true;
  return false;
}

bool PathExists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

}  // namespace

std::string ExpandHome(const std::string& folder, const std::string& home) {
  if (folder == "~") return home;
  if (folder.rfind("~/", 0) == 0) return (home.size() > 1 && home.back() == '/' ? home.substr(0, home.size() - 1) : home) + folder.substr(1);
  return folder;
}

FolderCheck CheckInstallFolder(const std::string& folder, const std::string& appName) {
  FolderCheck check;
  check.target = folder;
  while (check.target.size() > 1 && check.target.back() == '/') check.target.pop_back();
  if (check.target.empty() || check.target.front() != '/') {
    check.problem = FolderProblem::NotFull;
    return check;
  }
  // The rule of the installation itself: a folder that is not empty and
  // holds no installation of this application keeps its files, and the
  // installation goes into a folder of its own inside it.
  PosixFileSystem files;
  const auto mayEmpty = [&files](const std::string& path) {
    return files.IsEmptyDirectory(path) || PathExists(path + "/cfg/ovl.cfg");
  };
  const auto isFolder = [&files](const std::string& path) { return files.IsDirectory(path); };
  if (PathExists(check.target) && !isFolder(check.target)) {
    check.problem = FolderProblem::IsFile;
    return check;
  }
  if (isFolder(check.target) && !mayEmpty(check.target)) {
    check.target = (check.target == "/" ? "" : check.target) + "/" + appName;
    check.subFolder = true;
    if (PathExists(check.target) && !isFolder(check.target)) {
      check.problem = FolderProblem::IsFile;
      return check;
    }
    if (isFolder(check.target) && !mayEmpty(check.target)) {
      check.problem = FolderProblem::ForeignFiles;
      return check;
    }
  }
  // What is created or emptied there needs the right to write in the
  // nearest folder that exists.
  std::string existing = check.target;
  while (!PathExists(existing)) {
    const size_t slash = existing.find_last_of('/');
    existing = slash == 0 || slash == std::string::npos ? "/" : existing.substr(0, slash);
  }
  if (access(existing.c_str(), W_OK | X_OK) != 0) {
    check.problem = FolderProblem::NotWritable;
    check.systemError = errno;
  }
  return check;
}

std::string FormatProgressLine(const std::string& fileName, const std::string& progress) {
  std::vector<std::string> fields = SplitTildeFields(progress);
  fields.resize(std::max<size_t>(fields.size(), 5));
  const auto number = [](const std::string& text) { return std::strtod(text.c_str(), nullptr); };
  const int filePercent = Percent(number(fields[3]));
  const int runPercent = Percent(number(fields[4]));
  constexpr int kBarWidth = 20;
  const int filled = runPercent * kBarWidth / 100;
  char tail[160];
  std::snprintf(tail, sizeof(tail), "  %.1f KB/s  file %3d%%  [%s%s] %3d%%", number(fields[2]), filePercent,
                std::string(filled, '#').c_str(), std::string(kBarWidth - filled, '-').c_str(), runPercent);
  const std::string done = MovieSizeText(fields[0]);
  const std::string total = MovieSizeText(fields[1]);
  return (fileName.empty() ? std::string() : fileName + "  ") + done + "/" + total + tail;
}

// What the host and its controls share: the terminal, the question being
// asked, the input thread and the interrupt pipe.
class ConsoleSession : public std::enable_shared_from_this<ConsoleSession> {
 public:
  using Answer = std::function<void(const std::string&)>;

  ConsoleSession(MainLoop& queue, ConsoleOptions options)
      : queue_(queue),
        options_(std::move(options)),
        interactive_(isatty(options_.inputFd) && isatty(options_.outputFd)),
        language_(ConsoleLanguageFromLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"))) {}

  void Start() {
    if (interactive_) haveTermios_ = tcgetattr(options_.inputFd, &savedTermios_) == 0;
    if (pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) wakePipe_[0] = wakePipe_[1] = -1;
    if (options_.catchInterrupt) HoldInterrupt();
    reader_ = std::thread([this] { ReadLoop(); });
  }

  void Shutdown() {
    {
      std::lock_guard<std::mutex> lock(stateLock_);
      stop_ = true;
    }
    directChanged_.notify_all();
    Wake();
    if (reader_.joinable()) reader_.join();
    ReleaseInterrupt();
    for (int fd : wakePipe_)
      if (fd >= 0) close(fd);
    wakePipe_[0] = wakePipe_[1] = -1;
    if (haveTermios_) tcsetattr(options_.inputFd, TCSANOW, &savedTermios_);
    std::lock_guard<std::mutex> lock(outputLock_);
    if (lineOpen_) Write("\n");
    lineOpen_ = false;
  }

  MainLoop& Queue() { return queue_; }
  bool Interactive() const { return interactive_; }
  bool Unattended() const { return options_.unattended; }
  bool HoldsInterrupt() const { return interruptPipeOwned_; }
  void SetCloseRequestHandler(std::function<void()> handler) { options_.onCloseRequest = std::move(handler); }

  // The language of the texts: the locale's until the user chooses one.
  int Language() const { return language_.load(); }
  void SetLanguage(int index) { language_ = index; }
  const ConsoleTexts& Texts() const { return ConsoleLanguage(language_.load()); }

  // What the final line tells. Main thread.
  struct Outcome {
    std::string appName;
    std::string folder;  // where the installation went
    bool accepted = false;
    bool declined = false;
  };
  Outcome outcome;

  // Shows `prompt` and blocks until the user has typed a line, for the
  // message boxes that share the terminal with the movie. Nothing when
  // there is no terminal, its input has ended (Ctrl-D, the terminal went
  // away) or Ctrl-C was pressed. Any thread but the player's.
  std::optional<std::string> ReadAnswer(const std::string& prompt) {
    if (!interactive_) return std::nullopt;
    std::lock_guard<std::mutex> one(directLock_);
    // The line is the box's from before its prompt shows.
    std::unique_lock<std::mutex> lock(stateLock_);
    if (stop_) return std::nullopt;
    directActive_ = true;
    directDone_ = false;
    directLine_.reset();
    lock.unlock();
    Wake();
    {
      std::lock_guard<std::mutex> output(outputLock_);
      Write((lineOpen_ ? "\n" : "") + prompt);
      lineOpen_ = true;
    }
    lock.lock();
    directChanged_.wait(lock, [this] { return directDone_ || stop_; });
    directActive_ = false;
    std::optional<std::string> answer = directDone_ ? directLine_ : std::nullopt;
    if (answer) inputEnded_ = false;  // the terminal answers again
    lock.unlock();
    Wake();
    std::lock_guard<std::mutex> output(outputLock_);
    lineOpen_ = false;
    return answer;
  }

  // Shows the movie's open question again, once the main loop gets to it.
  void RepeatQuestion() {
    uint64_t armed = 0;
    {
      std::lock_guard<std::mutex> lock(stateLock_);
      armed = armedSerial_;
    }
    if (armed == 0) return;
    PostTask(queue_, [weak = weak_from_this(), armed] {
      if (const auto session = weak.lock()) session->Reprompt(armed);
    });
  }

  // --- Output, main thread ---

  // A whole line; a progress line or prompt still open is ended first.
  void Line(const std::string& text) {
    std::lock_guard<std::mutex> lock(outputLock_);
    Write((lineOpen_ ? "\n" : "") + text + "\n");
    lineOpen_ = false;
  }

  // A progress line: redrawn in place on a terminal, a line of its own in a
  // log.
  void Progress(const std::string& text) {
    if (!interactive_) return Line(text);
    std::lock_guard<std::mutex> lock(outputLock_);
    Write("\r" + text + "\x1b[K");
    lineOpen_ = true;
  }

  // --- Questions, main thread ---

  // Shows `prompt` and hands the next line typed to `answer` on the main
  // thread. A newer question replaces one still open. Interactive only.
  void Ask(const void* owner, const std::string& prompt, Answer answer) {
    {
      std::lock_guard<std::mutex> lock(outputLock_);
      Write((lineOpen_ ? "\n" : "") + prompt);
      lineOpen_ = true;
    }
    pending_ = Pending{owner, ++questionSerial_, std::move(answer)};
    {
      std::lock_guard<std::mutex> lock(stateLock_);
      armedSerial_ = questionSerial_;
      armedPrompt_ = prompt;
    }
    Wake();
  }

  void CancelQuestions(const void* owner) {
    if (!pending_ || pending_->owner != owner) return;
    pending_.reset();
    {
      std::lock_guard<std::mutex> lock(stateLock_);
      armedSerial_ = 0;
    }
    Wake();
  }

 private:
  struct Pending {
    const void* owner;
    uint64_t serial;
    Answer answer;
  };

  void Write(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = write(options_.outputFd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // a closed output loses the rest of the text
      done += static_cast<size_t>(n);
    }
  }

  void Wake() {
    if (wakePipe_[1] < 0) return;
    const char byte = 'w';
    [[maybe_unused]] const ssize_t written = write(wakePipe_[1], &byte, 1);
  }

  static void Drain(int fd) {
    char buffer[64];
    while (read(fd, buffer, sizeof(buffer)) > 0) {
    }
  }

  void HoldInterrupt() {
    bool expected = false;
    if (!interruptHeld.compare_exchange_strong(expected, true)) return;
    if (pipe2(interruptPipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
      interruptHeld = false;
      return;
    }
    interruptPipe.store(interruptPipe_[1]);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &savedInterrupt_);
    interruptPipeOwned_ = true;
  }

  void ReleaseInterrupt() {
    if (!interruptPipeOwned_) return;
    sigaction(SIGINT, &savedInterrupt_, nullptr);
    interruptPipe.store(-1);
    for (int fd : interruptPipe_) close(fd);
    interruptPipe_[0] = interruptPipe_[1] = -1;
    interruptPipeOwned_ = false;
    interruptHeld = false;
  }

  // --- The player's thread ---

  void ReadLoop() {
    std::string partial;
    bool wasDirect = false;
    for (;;) {
      uint64_t serial = 0;
      bool direct = false;
      {
        std::lock_guard<std::mutex> lock(stateLock_);
        if (stop_) return;
        direct = directActive_ && !directDone_;
        if (!direct && !paused_ && !inputEnded_) serial = armedSerial_;
      }
      if (direct != wasDirect) partial.clear();  // a line begun for one question is not the other's
      wasDirect = direct;
      pollfd fds[3];
      nfds_t count = 0;
      if (wakePipe_[0] >= 0) fds[count++] = {wakePipe_[0], POLLIN, 0};
      const nfds_t interruptIndex = count;
      if (interruptPipeOwned_) fds[count++] = {interruptPipe_[0], POLLIN, 0};
      const nfds_t inputIndex = count;
      if ((serial != 0 || direct) && interactive_) fds[count++] = {options_.inputFd, POLLIN, 0};
      if (count == 0) return;
      if (poll(fds, count, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      // A wake-up means the state changed (a box waits, a question was
      // armed): look again before taking a key or Ctrl-C for the wrong one.
      if (wakePipe_[0] >= 0 && (fds[0].revents & POLLIN)) {
        Drain(wakePipe_[0]);
        continue;
      }
      if (interruptIndex < count && fds[interruptIndex].fd == interruptPipe_[0] && fds[interruptIndex].revents) {
        Drain(interruptPipe_[0]);
        // Ctrl-C at a box's question answers it with nothing (leave).
        if (direct) {
          FinishDirect(std::nullopt);
        } else {
          RequestClose();
        }
        continue;
      }
      if (inputIndex < count && fds[inputIndex].fd == options_.inputFd && fds[inputIndex].revents) {
        if (direct) {
          ReadDirect(partial);
        } else {
          ReadInput(serial, partial);
        }
      }
    }
  }

  // Reads one byte at a time so that nothing past the answer's line is
  // taken from the terminal: the message boxes read the same input.
  void ReadInput(uint64_t serial, std::string& partial) {
    char byte = 0;
    const ssize_t n = read(options_.inputFd, &byte, 1);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
      {
        std::lock_guard<std::mutex> lock(stateLock_);
        inputEnded_ = true;
      }
      RequestClose();
      return;
    }
    if (byte == '\r') return;
    if (byte != '\n') {
      partial += byte;
      return;
    }
    std::string line = std::move(partial);
    partial.clear();
    {
      std::lock_guard<std::mutex> lock(stateLock_);
      if (armedSerial_ == serial) armedSerial_ = 0;
    }
    PostTask(queue_, [weak = weak_from_this(), serial, line = std::move(line)] {
      if (const auto session = weak.lock()) session->DeliverLine(serial, line);
    });
  }

  void ReadDirect(std::string& partial) {
    char byte = 0;
    const ssize_t n = read(options_.inputFd, &byte, 1);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) return FinishDirect(std::nullopt);
    if (byte == '\r') return;
    if (byte != '\n') {
      partial += byte;
      return;
    }
    FinishDirect(std::exchange(partial, {}));
  }

  void FinishDirect(std::optional<std::string> line) {
    {
      std::lock_guard<std::mutex> lock(stateLock_);
      directLine_ = std::move(line);
      directDone_ = true;
    }
    directChanged_.notify_all();
  }

  // Input stays paused until the close handler has returned, so the exit
  // question gets the user's answer.
  void RequestClose() {
    {
      std::lock_guard<std::mutex> lock(stateLock_);
      if (paused_) return;  // one close request at a time
      paused_ = true;
    }
    PostTask(queue_, [weak = weak_from_this()] {
      if (const auto session = weak.lock()) session->RunCloseHandler();
    });
  }

  // --- Back on the main thread ---

  void DeliverLine(uint64_t serial, const std::string& line) {
    if (!pending_ || pending_->serial != serial) return;
    Answer answer = std::move(pending_->answer);
    pending_.reset();
    {
      std::lock_guard<std::mutex> lock(outputLock_);
      lineOpen_ = false;  // the terminal echoed the answer and its newline
    }
    answer(line);
  }

  void Reprompt(uint64_t serial) {
    if (!pending_ || pending_->serial != serial) return;
    std::string prompt;
    {
      std::lock_guard<std::mutex> lock(stateLock_);
      prompt = armedPrompt_;
    }
    std::lock_guard<std::mutex> lock(outputLock_);
    Write((lineOpen_ ? "\n" : "") + prompt);
    lineOpen_ = true;
  }

  void RunCloseHandler() {
    if (options_.onCloseRequest) {
      options_.onCloseRequest();
    } else if (interruptPipeOwned_) {
      // Nobody takes close requests: Ctrl-C does what it would have done
      // without this player.
      sigaction(SIGINT, &savedInterrupt_, nullptr);
      raise(SIGINT);
    }
    {
      std::lock_guard<std::mutex> lock(stateLock_);
      paused_ = false;
    }
    Wake();
  }

  MainLoop& queue_;
  ConsoleOptions options_;
  const bool interactive_;
  bool haveTermios_ = false;
  termios savedTermios_{};

  std::mutex outputLock_;
  bool lineOpen_ = false;  // a prompt or progress line without its newline

  std::optional<Pending> pending_;  // main thread
  uint64_t questionSerial_ = 0;     // main thread

  std::atomic<int> language_;

  std::mutex directLock_;  // one box question at a time
  std::condition_variable directChanged_;
  bool directActive_ = false;  // stateLock_: a box waits for a line
  bool directDone_ = false;
  std::optional<std::string> directLine_;

  std::mutex stateLock_;
  uint64_t armedSerial_ = 0;  // the question the input thread reads for; 0 none
  std::string armedPrompt_;
  bool paused_ = false;
  bool inputEnded_ = false;
  bool stop_ = false;

  int wakePipe_[2] = {-1, -1};
  int interruptPipe_[2] = {-1, -1};
  bool interruptPipeOwned_ = false;
  struct sigaction savedInterrupt_ {};
  std::thread reader_;
};

namespace {

// One movie on the console. Everything runs on the main thread; commands
// are posted to the main queue and dropped when the control is gone by then.
class ConsoleMovie : public std::enable_shared_from_this<ConsoleMovie> {
 public:
  ConsoleMovie(std::shared_ptr<ConsoleSession> session, MovieCommandSink sink)
      : session_(std::move(session)), sink_(std::move(sink)) {}

  ~ConsoleMovie() { session_->CancelQuestions(this); }

  void Load(const std::string& address) {
    session_->CancelQuestions(this);
    kind_ = BuiltInMovieOf(address);
    waitingForDirectory_ = false;
    if (kind_ == MovieKind::Reinstall) installedFolder_ = InstallationOfMovie(address);
    if (kind_ == MovieKind::Installer) {
      Raise("InitPreloader", kInstallerMovieSize);
      Raise("InitDialog", kInstallerMovieSize);
    } else if (kind_ == MovieKind::Reinstall) {
      Raise("Ready", kReinstallMovieSize);
    }
  }

  void Play() {
    if (kind_ == MovieKind::Installer) Raise("Ready", {});
  }

  void SetVariable(const std::string& name, const std::string& value) { variables_.Set(name, value); }

  void CallLabel(const std::string& target, const std::string& label) {
    if (target != "_root" || label != "Data") return;
    const std::string name = variables_.Get("funcName");
    const std::string parm = variables_.Get("funcParm");
    if (kind_ == MovieKind::Installer) {
      RunInstallerFunction(name, parm);
    } else if (kind_ == MovieKind::Reinstall && name == "Msg") {
      OfferReinstall(parm);
    }
  }

 private:
  std::string AppName() const {
    const std::string name = variables_.Get("m_aName");
    return name.empty() ? "the game" : name;
  }

  void Raise(const std::string& command, const std::string& args) {
    PostTask(session_->Queue(), [weak = weak_from_this(), command, args] {
      if (const auto movie = weak.lock())
        if (movie->sink_) movie->sink_(command, args);
    });
  }

  // Asks on the terminal; the answer comes back on the main thread as long
  // as this movie is still there.
  void Ask(const std::string& prompt, void (ConsoleMovie::*handler)(const std::string&)) {
    session_->Ask(this, prompt, [weak = weak_from_this(), handler](const std::string& line) {
      if (const auto movie = weak.lock()) ((*movie).*handler)(Trim(line));
    });
  }

  const ConsoleTexts& T() const { return session_->Texts(); }
  void Say(const std::string& text) { session_->Line(text); }

  void RunInstallerFunction(const std::string& name, const std::string& parm) {
    if (name == "InstallDir") return StartInstallPages(parm);
    if (name == "SetDirectory") return TakeDirectory(parm);
    if (name == "SetLA") return ShowLicence();
    if (name == "ErrorMsg") return ShowError(parm);
    if (name == "Msg") return Say(parm == "Connecting" ? ConnectingText() : parm);
    if (name == "Performing") return ShowPerforming(parm);
    if (name == "SetFileName") return ShowFileName(parm);
    if (name == "SetProgress") return ShowProgress(parm);
  }

  // "Connecting to the update server..." without its seconds.
  std::string ConnectingText() const {
    const std::string text = T().connecting;
    return Trim(text.substr(0, text.find("%d")));
  }

  // --- Language and folder ---

  void StartInstallPages(const std::string& parm) {
    // "App~/proposed/folder"; empty when the game is registered already.
    const size_t tilde = parm.find('~');
    proposedFolder_ = tilde == std::string::npos ? std::string() : parm.substr(tilde + 1);
    session_->outcome.appName = AppName();
    if (parm.empty()) Say(FormatText(T().installedAlready, AppName().c_str()));
    if (session_->Interactive()) return AskLanguage();
    if (!session_->Unattended()) {
      Say(T().noTerminal);
      return Decline();
    }
    if (proposedFolder_.empty()) {
      Say(T().noFolder);
      return Decline();
    }
    session_->SetLanguage(0);
    Say(std::string("Language: ") + ConsoleLanguage(0).code);
    Raise("SetLang", ConsoleLanguage(0).code);
    Install(proposedFolder_, CheckInstallFolder(proposedFolder_, AppName()));
  }

  std::string LanguagePrompt() const { return FormatText(T().languagePrompt, session_->Language() + 1); }

  void AskLanguage() {
    Say(T().chooseLanguage);
    for (int i = 0; i < kConsoleLanguageCount; ++i)
      Say("  " + std::to_string(i + 1) + ") " + ConsoleLanguage(i).name + " (" + ConsoleLanguage(i).code + ")");
    Ask(LanguagePrompt(), &ConsoleMovie::OnLanguage);
  }

  void OnLanguage(const std::string& answer) {
    int chosen = -1;
    if (answer.empty()) chosen = session_->Language();
    if (answer.size() == 1 && answer[0] >= '1' && answer[0] < '1' + kConsoleLanguageCount) chosen = answer[0] - '1';
    if (chosen < 0) chosen = ConsoleLanguageIndex(answer);
    if (chosen < 0) {
      Say(FormatText(T().languageHint, kConsoleLanguageCount));
      return Ask(LanguagePrompt(), &ConsoleMovie::OnLanguage);
    }
    session_->SetLanguage(chosen);
    Raise("SetLang", ConsoleLanguage(chosen).code);
    AskFolder();
  }

  void AskFolder() {
    if (proposedFolder_.empty()) {
      Say(FormatText(T().folderAsk, AppName().c_str()));
      return Ask(T().folderAskPrompt, &ConsoleMovie::OnFolder);
    }
    Say(FormatText(T().folderProposed, proposedFolder_.c_str()));
    Ask(T().folderPrompt, &ConsoleMovie::OnFolder);
  }

  // A folder is checked before anything is downloaded: one that cannot be
  // used is asked again.
  void OnFolder(const std::string& answer) {
    if (answer.empty() && proposedFolder_.empty()) {
      Say(T().folderNotFull);
      return AskFolder();
    }
    if (answer == "b" || answer == "B") return Browse();
    const char* home = std::getenv("HOME");
    const std::string folder = answer.empty() ? proposedFolder_ : ExpandHome(answer, home ? home : "");
    const FolderCheck check = CheckInstallFolder(folder, AppName());
    if (check.problem == FolderProblem::None) return Install(folder, check);
    if (check.problem == FolderProblem::NotFull) {
      Say(T().folderNotFull);
    } else {
      std::string reason;
      if (check.problem == FolderProblem::IsFile) reason = T().reasonFile;
      if (check.problem == FolderProblem::ForeignFiles) reason = FormatText(T().reasonForeign, check.target.c_str());
      if (check.problem == FolderProblem::NotWritable)
        reason = FormatText(T().reasonNotWritable, strerror(check.systemError));
      Say(FormatText(T().folderNotUsable, folder.c_str(), reason.c_str()));
    }
    AskFolder();
  }

  void Install(const std::string& folder, const FolderCheck& check) {
    if (check.subFolder) Say(FormatText(T().folderSubFolder, AppName().c_str(), check.target.c_str()));
    Say(FormatText(T().installingInto, check.target.c_str()));
    session_->outcome.folder = check.target;
    Raise("Install", folder);
  }

  void Decline() {
    session_->outcome.declined = true;
    Say(T().declined);
    Raise("Decline", {});
  }

  // The folder comes back as "SetDirectory". A cancelled picker sends
  // nothing: once the main loop has handled what was queued behind
  // "Browse" (the picker among it) and no folder came, ask again.
  void Browse() {
    waitingForDirectory_ = true;
    PostTask(session_->Queue(), [weak = weak_from_this()] {
      const auto movie = weak.lock();
      if (!movie) return;
      if (movie->sink_) movie->sink_("Browse", {});
      PostTask(movie->session_->Queue(), [weak] {
        const auto later = weak.lock();
        if (!later || !later->waitingForDirectory_) return;
        later->waitingForDirectory_ = false;
        later->Say(later->T().noFolderChosen);
        later->AskFolder();
      });
    });
  }

  void TakeDirectory(const std::string& folder) {
    if (!folder.empty()) proposedFolder_ = folder;
    if (!waitingForDirectory_) return;
    waitingForDirectory_ = false;
    if (session_->Interactive()) AskFolder();
  }

  // --- Licence ---

  void ShowLicence() {
    Say("");
    Say(T().licenceTitle);
    Say("  " + FormatText(T().licenceText, AppName().c_str()));
    if (session_->Interactive()) return Ask(T().licencePrompt, &ConsoleMovie::OnLicence);
    if (session_->Unattended()) {
      Say(T().licenceUnattended);
      session_->outcome.accepted = true;
      return Raise("AcceptLA", {});
    }
    Say(T().licenceNoTerminal);
    Decline();
  }

  void OnLicence(const std::string& answer) {
    if (IsOneOf(answer, {"a", "accept", "y", "yes", "j", "ja", "o", "oui", "s", "si"})) {
      session_->outcome.accepted = true;
      return Raise("AcceptLA", {});
    }
    if (IsOneOf(answer, {"d", "decline", "n", "no", "nein", "non"})) return Decline();
    Ask(T().licencePrompt, &ConsoleMovie::OnLicence);
  }

  // --- Progress and errors ---

  void ShowError(const std::string& reason) {
    Say(FormatText(T().listFailed, reason.c_str()));
    if (session_->Interactive()) return Ask(T().retryPrompt, &ConsoleMovie::OnErrorChoice);
    Say(T().quitting);
    Raise("Error", {});
  }

  void OnErrorChoice(const std::string& answer) {
    if (answer.empty() || IsOneOf(answer, {"r", "retry", "w"})) return Raise("Retry", {});
    if (IsOneOf(answer, {"q", "quit", "b", "s"})) return Raise("Error", {});
    Say(T().answerHint);
    Ask(T().retryPrompt, &ConsoleMovie::OnErrorChoice);
  }

  void ShowPerforming(const std::string& what) {
    if (what == "Install") return Say(FormatText(T().installing, AppName().c_str()));
    if (what == "Update") return Say(FormatText(T().updating, AppName().c_str()));
    Say(what);
  }

  void ShowFileName(const std::string& name) {
    fileName_ = name;
    const std::string line = FormatText(T().downloading, name.c_str());
    if (session_->Interactive()) return session_->Progress(line);
    Say(line);
  }

  void ShowProgress(const std::string& text) {
    const std::vector<std::string> fields = SplitTildeFields(text);
    const auto field = [&](size_t i) { return i < fields.size() ? fields[i] : std::string(); };
    // "0~0~0" starts a run: nothing to show until a file comes.
    if (field(1).empty() || field(1) == "0") {
      fileName_.clear();
      return;
    }
    // Sizes in plain bytes come from the copy of an unpacked file, which
    // names no file of its own.
    const std::string done = field(0);
    const bool unpacked = !done.empty() && std::all_of(done.begin(), done.end(), [](char c) {
      return std::isdigit(static_cast<unsigned char>(c));
    });
    const std::string name = unpacked ? T().unpacked : fileName_;
    const std::string line = FormatProgressLine(name, text);
    if (session_->Interactive()) return session_->Progress(line);
    // A log gets a line only when a shown percentage moves.
    const auto percent = [&](size_t i) { return Percent(std::strtod(field(i).c_str(), nullptr)); };
    const std::string key = name + "~" + std::to_string(percent(3)) + "~" + std::to_string(percent(4));
    if (key == lastLoggedProgress_) return;
    lastLoggedProgress_ = key;
    Say(line);
  }

  // --- Reinstall or play ---

  void OfferReinstall(const std::string& offer) {
    // "ReInstall~<app>~Play"
    const std::vector<std::string> fields = SplitTildeFields(offer);
    offeredApp_ = fields.size() > 1 && !fields[1].empty() ? fields[1] : "The game";
    session_->outcome.appName = offeredApp_;
    Say(FormatText(T().reinstallOffer, offeredApp_.c_str(), installedFolder_.c_str()));
    if (session_->Interactive()) return Ask(T().reinstallPrompt, &ConsoleMovie::OnReinstallChoice);
    PlayGame();
  }

  void PlayGame() {
    Say(FormatText(T().starting, offeredApp_.c_str()));
    Raise("Play", {});
  }

  void OnReinstallChoice(const std::string& answer) {
    if (IsOneOf(answer, {"r", "reinstall", "n"})) {
      Say(FormatText(T().reinstallConfirm, installedFolder_.c_str()));
      return Ask(T().yesNoPrompt, &ConsoleMovie::OnReinstallConfirm);
    }
    if (answer.empty() || IsOneOf(answer, {"p", "play", "s", "j"})) return PlayGame();
    Say(T().answerHint);
    Ask(T().reinstallPrompt, &ConsoleMovie::OnReinstallChoice);
  }

  // Reinstalling removes the installation first: only on a clear yes.
  void OnReinstallConfirm(const std::string& answer) {
    if (IsOneOf(answer, {"y", "yes", "j", "ja", "o", "oui", "s", "si"})) return Raise("ReInstall", {});
    if (answer.empty() || IsOneOf(answer, {"n", "no", "nein", "non"}))
      return Ask(T().reinstallPrompt, &ConsoleMovie::OnReinstallChoice);
    Say(T().yesNoHint);
    Ask(T().yesNoPrompt, &ConsoleMovie::OnReinstallConfirm);
  }

  std::shared_ptr<ConsoleSession> session_;
  MovieCommandSink sink_;
  MovieKind kind_ = MovieKind::None;
  MovieVariables variables_;
  std::string proposedFolder_;
  bool waitingForDirectory_ = false;
  std::string fileName_;
  std::string lastLoggedProgress_;
  std::string offeredApp_ = "The game";
  std::string installedFolder_;  // the reinstall movie's: the installation it is part of
};

class ConsoleControl : public MovieControl {
 public:
  ConsoleControl(std::shared_ptr<ConsoleSession> session, MovieCommandSink sink)
      : movie_(std::make_shared<ConsoleMovie>(std::move(session), std::move(sink))) {}

  void SetMovie(const std::string& address) override { movie_->Load(address); }
  void SetQuality(int32_t) override {}
  void SetScaleMode(int32_t) override {}
  void Play() override { movie_->Play(); }
  int32_t FlashVersion() override { return kConsolePlayerVersion; }
  void SetVariable(const std::string& name, const std::string& value) override { movie_->SetVariable(name, value); }
  void TCallLabel(const std::string& target, const std::string& label) override { movie_->CallLabel(target, label); }
  void SetSize(int, int) override {}

 private:
  std::shared_ptr<ConsoleMovie> movie_;
};

}  // namespace

ConsoleMovieHost::ConsoleMovieHost(MainLoop& mainLoop, ConsoleOptions options)
    : session_(std::make_shared<ConsoleSession>(mainLoop, std::move(options))) {
  session_->Start();
}

ConsoleMovieHost::~ConsoleMovieHost() { session_->Shutdown(); }

std::unique_ptr<MovieControl> ConsoleMovieHost::CreateControl(DialogWindow&, int, bool, MovieCommandSink sink) {
  return std::make_unique<ConsoleControl>(session_, std::move(sink));
}

void ConsoleMovieHost::SetCloseRequestHandler(std::function<void()> handler) {
  session_->SetCloseRequestHandler(std::move(handler));
}

bool ConsoleMovieHost::Interactive() const { return session_->Interactive(); }

bool ConsoleMovieHost::HoldsInterrupt() const { return session_->HoldsInterrupt(); }

std::optional<std::string> ConsoleMovieHost::ReadAnswer(const std::string& prompt) {
  return session_->ReadAnswer(prompt);
}

void ConsoleMovieHost::RepeatQuestion() { session_->RepeatQuestion(); }

void ConsoleMovieHost::Finish(int exitCode, const std::string& logPath) {
  const ConsoleTexts& texts = session_->Texts();
  const ConsoleSession::Outcome& outcome = session_->outcome;
  if (exitCode == 0 && outcome.accepted) {
    session_->Line(FormatText(texts.finished, outcome.appName.c_str(), outcome.folder.c_str(),
                              outcome.appName.c_str()));
  } else if (exitCode != 0 && !outcome.declined) {
    session_->Line(FormatText(texts.notFinished, exitCode));
  }
  if (exitCode != 0 && !logPath.empty()) session_->Line("Log: " + logPath);
}

}  // namespace platform
