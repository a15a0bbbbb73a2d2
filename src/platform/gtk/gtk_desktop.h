// The Linux desktop as the installer's platform: GTK windows, GTK's message
// boxes and folder picker, the main loop on GLib's main context, the HTML
// movie player and hidden web pages in WebKitGTK. The program takes it when
// a display is present and the engine loads; otherwise it runs on the
// console. A build without WebKitGTK has no desktop: OpenDesktop then
// always answers null.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace platform {

struct PosixPlatform;

struct DesktopOptions {
  // PEM file of an extra CA that movies and pages may be signed by (the
  // server override's "~ca="); empty for the system store only.
  std::string extraCaFile;
  // How long a movie may take to raise its first command.
  std::chrono::milliseconds firstCommandBound = std::chrono::seconds(20);
};

class Desktop {
 public:
  virtual ~Desktop() = default;
  // The main thread's loop of the desktop: post the termination requests
  // here.
  virtual MainLoop& Loop() = 0;
  // Runs `application` on `posix` with the desktop's loop, windows, boxes,
  // player and browser in place of the console's: a new session log (which
  // also takes the output of started programs and what went wrong in the
  // movies), and the exit code written to it. Returns what `application`
  // returns. Main thread; once.
  virtual int Run(PosixPlatform& posix, const std::function<int(const Platform&)>& application) = 0;
};

// Initialises GTK on the display the environment names and the web engine.
// Null, having changed nothing, when there is no display (neither DISPLAY
// nor WAYLAND_DISPLAY is set), GTK cannot open it, or the build has no
// engine. Main thread; at most once per process.
std::unique_ptr<Desktop> OpenDesktop(const DesktopOptions& options);

}  // namespace platform
