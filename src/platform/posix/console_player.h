// The movie player of the Linux build: a built-in rendition of the
// installer movie ("DlgUpdater.qrx") and of the reinstall/play movie
// ("DlgMsg.qrx") on a terminal. It raises the same commands as the movies
// and understands the same functions, so the dialogs cannot tell it from
// a real player. Any other movie address gives an empty movie that raises
// nothing.
//
// On a terminal (input and output both ttys) it asks the user: language,
// install folder (Enter keeps the proposal, "b" opens the folder picker),
// retry or quit after a failed file list, the licence, reinstall or play.
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
#include <string>

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

 private:
  std::shared_ptr<ConsoleSession> session_;
};

// What FlashVersion answers: 10.0.
inline constexpr int32_t kConsolePlayerVersion = 0xA0000;
// The size texts the two movies ask their windows for.
inline constexpr const char* kInstallerMovieSize = "640~480";
inline constexpr const char* kReinstallMovieSize = "400~240";

// One progress line from the current file name and a "SetProgress" text
// (bytes done, bytes listed, rate in KB/s, fraction of the file, fraction
// of the run, joined by "~"; missing fields count as 0), e.g.
// "Quorix.exe  030k/039k  30.0 KB/s  file  76%  [######------]  51%".
// Percentages are rounded down and kept within 0 to 100.
std::string FormatProgressLine(const std::string& fileName, const std::string& progress);

}  // namespace platform
