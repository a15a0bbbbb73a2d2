// The HTML movie player of the Linux desktop: each movie is an HTML
// document shown in a WebKitGTK view that fills its dialog window's client
// area. The movie control's operations reach the page through a small
// script bridge that the player adds to every movie before its own scripts
// run:
//   movieHost.getVariable(name)      a variable the program set ("" if none)
//   movieHost.fsCommand(cmd, args)   raises a command (FSCommand(cmd, args)
//                                    is the same function)
//   movieHost.onLabel = f(target, label)   runs for TCallLabel
//   movieHost.onPlay = f()                 runs for Play
//   movieHost.onVariable = f(name, value)  runs after each SetVariable
// Commands travel through a script message handler and reach the dialog
// through the main loop. FlashVersion answers 10.0 without asking the page.
//
// The player keeps a movie to itself: its context menu is never shown, and
// navigating elsewhere or opening a window is refused (and logged). What
// goes wrong is logged: a movie that does not load, a page script error, a
// movie that has not raised its first command within the bound, a web
// process that died. The installer movie ("DlgUpdater.qrx") then raises
// "Error", which ends the session with its final code and a box; the
// reinstall movie ("DlgMsg.qrx") raises "Play", which is what closing its
// window does; any other movie raises nothing.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/main_loop.h"
#include "platform/movie.h"

namespace platform {

class WebEngine;

// What FlashVersion answers: 10.0.
inline constexpr int32_t kHtmlPlayerVersion = 0xA0000;

class HtmlMovieHost : public MovieHost {
 public:
  // `engine` and `loop` (not owned) must outlive the host and its controls.
  // `firstCommandBound`: how long a movie may take to raise its first
  // command, from the moment it is loaded.
  HtmlMovieHost(WebEngine& engine, MainLoop& loop,
                std::chrono::milliseconds firstCommandBound = std::chrono::seconds(20))
      : engine_(engine), loop_(loop), firstCommandBound_(firstCommandBound) {}

  // `parent` must be a window of the desktop's window factory; null for
  // any other window. A hidden control (visible false) has no view: it
  // only answers FlashVersion. Main thread.
  std::unique_ptr<MovieControl> CreateControl(DialogWindow& parent, int controlId, bool visible,
                                              MovieCommandSink sink) override;

 private:
  WebEngine& engine_;
  MainLoop& loop_;
  std::chrono::milliseconds firstCommandBound_;
};

// `text` as a JavaScript string literal in double quotes. Bytes that are
// not UTF-8 become U+FFFD; quotes, backslashes, control characters and the
// two line separators JavaScript treats as line ends are escaped.
std::string JsStringLiteral(const std::string& text);

// The address WebKit loads for a movie address: a URL as it is, a file
// path (absolute or relative to the current folder) as a file URL with the
// address's query kept.
std::string MovieUri(const std::string& address);

}  // namespace platform
