// The movie player of the Linux build: a built-in rendition of the
// installer movie ("DlgUpdater.qrx") and of the reinstall/play movie
// ("DlgMsg.qrx") on a terminal. It raises the same commands as the movies
// and understands the same functions, so the dialogs cannot tell it from
// a real player. Any other movie address gives an empty movie that raises
// nothing.
//
// On a terminal (input and output both ttys) it asks the user, in the
// language of the locale until one is chosen: language, install folder
// (Enter keeps the proposal, "b" opens the folder picker, "~" is the home
// folder; a folder that cannot take the installation is asked again),
// retry or quit after a failed file list, the licence, reinstall (after a
// yes to removing the installed folder) or play. Garbage gets a hint and
// the question again.
// The questions are read on a thread of the player's and their answers are
// delivered through the main thread's queue, so the main thread never waits
// for a key. Without a terminal it never waits: with the unattended switch
// it takes every default (first language, proposed folder, accept the
// licence, Play; "Error" after a failed file list); without it the
// installer movie declines at its first question ("Decline"), a failed
// file list ends with "Error", and the reinstall movie plays ("Play"),
// since playing installs nothing.
//
// Ctrl-C becomes a close request: the SIGINT handler only writes to a pipe,
// and the player's thread posts the host's close handler to the main
// thread. While that handler runs (it asks "Are you sure you want to
// exit?" on the same terminal) the player reads no input.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/builtin_movies.h"
#include "platform/main_loop.h"
#include "platform/movie.h"

namespace platform {

struct ConsoleOptions {
  // The "cfg/Unattended.cfg" switch next to the executable is present: take
  // every default when there is no terminal.
  bool unattended = false;
  // Where questions are read and the movie is drawn. Not owned; they must
  // stay open while the host lives.
  int inputFd = 0;
  int outputFd = 1;
  // Turn SIGINT into close requests. Only one host at a time holds the
  // signal; a second host created meanwhile leaves it alone.
  bool catchInterrupt = true;
  // Called on the main thread for Ctrl-C and for the end of the terminal's
  // input. May be left empty and set later with SetCloseRequestHandler;
  // while none is set, Ctrl-C does what it did before the host was made
  // (by default it ends the process).
  std::function<void()> onCloseRequest;
};

class ConsoleSession;

class ConsoleMovieHost : public MovieHost {
 public:
  // `mainLoop` is the main thread's loop; every command and close request
  // is posted to it as a task. Not owned; it must outlive the host. Starts
  // the player's input thread. The terminal's settings and the SIGINT
  // disposition found here are restored when the host is destroyed.
  ConsoleMovieHost(MainLoop& mainLoop, ConsoleOptions options);
  // Stops the input thread and restores the terminal and SIGINT. Main
  // thread; the controls must be gone before it.
  ~ConsoleMovieHost() override;
  ConsoleMovieHost(const ConsoleMovieHost&) = delete;
  ConsoleMovieHost& operator=(const ConsoleMovieHost&) = delete;

  // Never null. Main thread.
  std::unique_ptr<MovieControl> CreateControl(DialogWindow& parent, int controlId, bool visible,
                                              MovieCommandSink sink) override;

  // Main thread.
  void SetCloseRequestHandler(std::function<void()> handler);
  // True when questions are asked on the terminal.
  bool Interactive() const;
  // True when this host holds SIGINT.
  bool HoldsInterrupt() const;

  // Shows `prompt` and blocks until the user has typed a line: the message
  // boxes read their answers here, so that the player never takes a line
  // meant for them. Nothing when there is no terminal, its input has ended
  // (Ctrl-D, a terminal that went away) or Ctrl-C was pressed. Any thread
  // but the player's; one question at a time.
  std::optional<std::string> ReadAnswer(const std::string& prompt);
  // Shows the movie's open question again (after a box that left the
  // dialog running), once the main loop gets to it. Any thread.
  void RepeatQuestion();

  // The final line of the run for the process's exit code: where the game
  // was installed and that it starts now, or that the installation did not
  // finish; `logPath` (when not empty) names the session log. Main thread,
  // after the application has ended.
  void Finish(int exitCode, const std::string& logPath);

 private:
  std::shared_ptr<ConsoleSession> session_;
};

// What FlashVersion answers: 10.0.
inline constexpr int32_t kConsolePlayerVersion = 0xA0000;

// Where a folder the user typed would take the installation, and why it
// cannot, checked before anything is downloaded.
enum class FolderProblem { None, NotFull, IsFile, ForeignFiles, NotWritable };
struct FolderCheck {
  std::string target;       // the folder the installation goes into
  bool subFolder = false;   // target is a folder of the application's own inside the one typed
  FolderProblem problem = FolderProblem::None;
  int systemError = 0;      // errno of NotWritable
};
// `folder` must be absolute. An existing folder that is neither empty nor
// an installation of this application ("cfg/ovl.cfg") keeps its files: the
// target is then `folder`/`appName`, which must itself be usable. The
// nearest existing folder of the target must be writable. Non-blocking
// (a few stat calls).
FolderCheck CheckInstallFolder(const std::string& folder, const std::string& appName);
// "~" and "~/..." with `home` in place of "~"; anything else unchanged.
std::string ExpandHome(const std::string& folder, const std::string& home);

// One progress line from the current file name and a "SetProgress" text
// (bytes done, bytes listed, rate in KB/s, fraction of the file, fraction
// of the run, joined by "~"; missing fields count as 0), e.g.
// "Quorix.exe  030k/039k  30.0 KB/s  file  76%  [######------]  51%".
// Percentages are rounded down and kept within 0 to 100; sizes sent as
// plain byte counts are shown like the others ("49152" as "048k").
std::string FormatProgressLine(const std::string& fileName, const std::string& progress);

}  // namespace platform
