#include "platform/posix/console_player.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

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

struct Language {
  const char* code;
  const char* name;
};
constexpr Language kLanguages[] = {{"en", "English"}, {"de", "Deutsch"}, {"fr", "Francais"}, {"es", "Espanol"}};
constexpr int kLanguageCount = static_cast<int>(sizeof(kLanguages) / sizeof(kLanguages[0]));

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

std::vector<std::string> SplitTilde(const std::string& text) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t tilde = text.find('~', start);
    fields.push_back(text.substr(start, tilde == std::string::npos ? std::string::npos : tilde - start));
    if (tilde == std::string::npos) return fields;
    start = tilde + 1;
  }
}

int Percent(double fraction) {
  if (!(fraction > 0)) return 0;  // also NaN
  return static_cast<int>(std::min(std::floor(fraction * 100 + 1e-6), 100.0));
}

enum class MovieKind { Empty, Installer, Reinstall };

// The movie is chosen by the file name of its address, without the query.
MovieKind KindOf(const std::string& address) {
  std::string path = address.substr(0, address.find('?'));
  const size_t slash = path.find_last_of("/\\");
  const std::string name = Lower(slash == std::string::npos ? path : path.substr(slash + 1));
  if (name == "dlgupdater.qrx") return MovieKind::Installer;
  if (name == "dlgmsg.qrx") return MovieKind::Reinstall;
  return MovieKind::Empty;
}

bool IsOneOf(const std::string& answer, std::initializer_list<const char*> words) {
  const std::string lower = Lower(answer);
  for (const char* word : words)
    if (lower == word) return true;
  return false;
}

}  // namespace

std::string FormatProgressLine(const std::string& fileName, const std::string& progress) {
  std::vector<std::string> fields = SplitTilde(progress);
  fields.resize(std::max<size_t>(fields.size(), 5));
  const auto number = [](const std::string& text) { return std::strtod(text.c_str(), nullptr); };
  const int filePercent = Percent(number(fields[3]));
  const int runPercent = Percent(number(fields[4]));
  constexpr int kBarWidth = 20;
  const int filled = runPercent * kBarWidth / 100;
  char tail[160];
  std::snprintf(tail, sizeof(tail), "  %.1f KB/s  file %3d%%  [%s%s] %3d%%", number(fields[2]), filePercent,
                std::string(filled, '#').c_str(), std::string(kBarWidth - filled, '-').c_str(), runPercent);
  const std::string done = fields[0].empty() ? "0" : fields[0];
  const std::string total = fields[1].empty() ? "0" : fields[1];
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
        interactive_(isatty(options_.inputFd) && isatty(options_.outputFd)) {}

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
    for (;;) {
      uint64_t serial = 0;
      {
        std::lock_guard<std::mutex> lock(stateLock_);
        if (stop_) return;
        if (!paused_ && !inputEnded_) serial = armedSerial_;
      }
      pollfd fds[3];
      nfds_t count = 0;
      if (wakePipe_[0] >= 0) fds[count++] = {wakePipe_[0], POLLIN, 0};
      const nfds_t interruptIndex = count;
      if (interruptPipeOwned_) fds[count++] = {interruptPipe_[0], POLLIN, 0};
      const nfds_t inputIndex = count;
      if (serial != 0 && interactive_) fds[count++] = {options_.inputFd, POLLIN, 0};
      if (count == 0) return;
      if (poll(fds, count, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (wakePipe_[0] >= 0 && (fds[0].revents & POLLIN)) Drain(wakePipe_[0]);
      if (interruptIndex < count && fds[interruptIndex].fd == interruptPipe_[0] && fds[interruptIndex].revents) {
        Drain(interruptPipe_[0]);
        RequestClose();
        continue;
      }
      if (inputIndex < count && fds[inputIndex].fd == options_.inputFd && fds[inputIndex].revents) {
        ReadInput(serial, partial);
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

  std::mutex stateLock_;
  uint64_t armedSerial_ = 0;  // the question the input thread reads for; 0 none
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
    kind_ = KindOf(address);
    waitingForDirectory_ = false;
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

  void SetVariable(const std::string& name, const std::string& value) { variables_[name] = value; }

  void CallLabel(const std::string& target, const std::string& label) {
    if (target != "_root" || label != "Data") return;
    const std::string name = Variable("funcName");
    const std::string parm = Variable("funcParm");
    if (kind_ == MovieKind::Installer) {
      RunInstallerFunction(name, parm);
    } else if (kind_ == MovieKind::Reinstall && name == "Msg") {
      OfferReinstall(parm);
    }
  }

 private:
  std::string Variable(const std::string& name) const {
    const auto found = variables_.find(name);
    return found == variables_.end() ? std::string() : found->second;
  }

  std::string AppName() const {
    const std::string name = Variable("m_aName");
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

  void RunInstallerFunction(const std::string& name, const std::string& parm) {
    if (name == "InstallDir") return StartInstallPages(parm);
    if (name == "SetDirectory") return TakeDirectory(parm);
    if (name == "SetLA") return ShowLicence();
    if (name == "ErrorMsg") return ShowError(parm);
    if (name == "Msg") return session_->Line(parm == "Connecting" ? "Connecting to the server..." : parm);
    if (name == "Performing") return ShowPerforming(parm);
    if (name == "SetFileName") return ShowFileName(parm);
    if (name == "SetProgress") return ShowProgress(parm);
  }

  // --- Language and folder ---

  void StartInstallPages(const std::string& parm) {
    // "App~/proposed/folder"; empty when the game is registered already.
    const size_t tilde = parm.find('~');
    proposedFolder_ = tilde == std::string::npos ? std::string() : parm.substr(tilde + 1);
    if (parm.empty()) session_->Line(AppName() + " is installed on this computer already.");
    if (session_->Interactive()) return AskLanguage();
    if (!session_->Unattended()) {
      session_->Line("No terminal to ask on and no unattended switch: the installation is declined.");
      return Raise("Decline", {});
    }
    if (proposedFolder_.empty()) {
      session_->Line("No install folder was proposed: the installation is declined.");
      return Raise("Decline", {});
    }
    session_->Line(std::string("Language: ") + kLanguages[0].code);
    Raise("SetLang", kLanguages[0].code);
    session_->Line("Installing into " + proposedFolder_);
    Raise("Install", proposedFolder_);
  }

  void AskLanguage() {
    session_->Line("Choose your language:");
    for (int i = 0; i < kLanguageCount; ++i)
      session_->Line("  " + std::to_string(i + 1) + ") " + kLanguages[i].name + " (" + kLanguages[i].code + ")");
    Ask("Language [1]: ", &ConsoleMovie::OnLanguage);
  }

  void OnLanguage(const std::string& answer) {
    int chosen = -1;
    if (answer.empty()) chosen = 0;
    if (answer.size() == 1 && answer[0] >= '1' && answer[0] < '1' + kLanguageCount) chosen = answer[0] - '1';
    for (int i = 0; i < kLanguageCount; ++i)
      if (Lower(answer) == kLanguages[i].code) chosen = i;
    if (chosen < 0) {
      session_->Line("Please type a number from 1 to " + std::to_string(kLanguageCount) + " or a language code.");
      return Ask("Language [1]: ", &ConsoleMovie::OnLanguage);
    }
    Raise("SetLang", kLanguages[chosen].code);
    AskFolder();
  }

  void AskFolder() {
    if (proposedFolder_.empty()) {
      session_->Line("Type the folder to install " + AppName() + " into, or b to browse.");
      return Ask("Install folder: ", &ConsoleMovie::OnFolder);
    }
    session_->Line("Install folder: " + proposedFolder_);
    Ask("Enter installs there; type another folder, or b to browse: ", &ConsoleMovie::OnFolder);
  }

  void OnFolder(const std::string& answer) {
    if (answer.empty() && proposedFolder_.empty()) return AskFolder();
    if (answer == "b" || answer == "B") return Browse();
    const std::string folder = answer.empty() ? proposedFolder_ : answer;
    session_->Line("Installing into " + folder);
    Raise("Install", folder);
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
        later->session_->Line("No folder was chosen.");
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
    session_->Line("");
    session_->Line("Licence agreement");
    session_->Line("  " + AppName() + " is licensed to you, not sold. You may install it and play it for your own");
    session_->Line("  use. It comes without warranty. Its operator's terms of use apply to everything you do in it.");
    if (session_->Interactive()) return Ask("Type a to accept or d to decline: ", &ConsoleMovie::OnLicence);
    if (session_->Unattended()) {
      session_->Line("Licence accepted (unattended).");
      return Raise("AcceptLA", {});
    }
    session_->Line("No terminal to ask on and no unattended switch: the licence is declined.");
    Raise("Decline", {});
  }

  void OnLicence(const std::string& answer) {
    if (IsOneOf(answer, {"a", "accept", "y", "yes"})) return Raise("AcceptLA", {});
    if (IsOneOf(answer, {"d", "decline", "n", "no"})) return Raise("Decline", {});
    Ask("Type a to accept or d to decline: ", &ConsoleMovie::OnLicence);
  }

  // --- Progress and errors ---

  void ShowError(const std::string& reason) {
    session_->Line("Error: the list of files could not be fetched (" + reason + ").");
    if (session_->Interactive()) return Ask("(r)etry or (q)uit [r]: ", &ConsoleMovie::OnErrorChoice);
    session_->Line("Quitting.");
    Raise("Error", {});
  }

  void OnErrorChoice(const std::string& answer) {
    if (answer.empty() || IsOneOf(answer, {"r", "retry"})) return Raise("Retry", {});
    if (IsOneOf(answer, {"q", "quit"})) return Raise("Error", {});
    Ask("(r)etry or (q)uit [r]: ", &ConsoleMovie::OnErrorChoice);
  }

  void ShowPerforming(const std::string& what) {
    if (what == "Install") return session_->Line("Installing " + AppName() + "...");
    if (what == "Update") return session_->Line("Updating " + AppName() + "...");
    session_->Line(what);
  }

  void ShowFileName(const std::string& name) {
    fileName_ = name;
    if (session_->Interactive()) return session_->Progress("Downloading " + name);
    session_->Line("Downloading " + name);
  }

  void ShowProgress(const std::string& text) {
    const std::string line = FormatProgressLine(fileName_, text);
    if (session_->Interactive()) return session_->Progress(line);
    // A log gets a line only when a shown percentage moves.
    const std::vector<std::string> fields = SplitTilde(text);
    const auto percent = [&](size_t i) {
      return i < fields.size() ? Percent(std::strtod(fields[i].c_str(), nullptr)) : 0;
    };
    const std::string key = fileName_ + "~" + std::to_string(percent(3)) + "~" + std::to_string(percent(4));
    if (key == lastLoggedProgress_) return;
    lastLoggedProgress_ = key;
    session_->Line(line);
  }

  // --- Reinstall or play ---

  void OfferReinstall(const std::string& offer) {
    // "ReInstall~<app>~Play"
    const std::vector<std::string> fields = SplitTilde(offer);
    const std::string app = fields.size() > 1 && !fields[1].empty() ? fields[1] : "The game";
    session_->Line(app + " is installed on this computer.");
    if (session_->Interactive()) return Ask("(r)einstall or (p)lay [p]: ", &ConsoleMovie::OnReinstallChoice);
    session_->Line("Starting " + app + ".");
    Raise("Play", {});
  }

  void OnReinstallChoice(const std::string& answer) {
    if (IsOneOf(answer, {"r", "reinstall"})) return Raise("ReInstall", {});
    if (answer.empty() || IsOneOf(answer, {"p", "play"})) return Raise("Play", {});
    Ask("(r)einstall or (p)lay [p]: ", &ConsoleMovie::OnReinstallChoice);
  }

  std::shared_ptr<ConsoleSession> session_;
  MovieCommandSink sink_;
  MovieKind kind_ = MovieKind::Empty;
  std::map<std::string, std::string> variables_;
  std::string proposedFolder_;
  bool waitingForDirectory_ = false;
  std::string fileName_;
  std::string lastLoggedProgress_;
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

}  // namespace platform
