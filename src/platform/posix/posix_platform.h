// The Linux platform services of one process, owned together, and the
// context that hands them to the logic.
#pragma once

#include <functional>
#include <memory>

#include "platform/message_queue.h"
#include "platform/platform.h"

#include "platform/posix/console_player.h"
#include "platform/posix/console_window.h"
#include "platform/posix/curl_http_client.h"
#include "platform/posix/device_identity_posix.h"
#include "platform/http_browser.h"
#include "platform/posix/posix_dialogs.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_system.h"
#include "platform/posix/processes_posix.h"
#include "platform/posix/registry_posix.h"
#include "platform/posix/session_log_posix.h"
#include "platform/posix/shell_posix.h"
#include "platform/posix/shortcuts_posix.h"

namespace platform {

struct PosixPlatform {
  QueueMainLoop mainLoop;  // the console waits on a plain queue
  PosixSystem system;
  PosixFileSystem files;
  CurlHttpClient http;
  PosixDialogs dialogs;
  PosixRegistry registry;
  PosixShell shell;
  PosixProcesses processes;
  PosixDeviceIdentitySources identity;
  PosixShortcuts shortcuts;
  ConsoleWindowFactory windows;
  HttpBrowser browser{http};
  // The movie player: the console player unless a caller set another.
  std::unique_ptr<MovieHost> movies;
  // The session log, when the program keeps one (tests leave it out).
  std::unique_ptr<PosixSessionLog> log;

  Platform View() {
    Platform view;
    view.system = &system;
    view.files = &files;
    view.http = &http;
    view.dialogs = &dialogs;
    view.registry = &registry;
    view.shell = &shell;
    view.processes = &processes;
    view.identity = &identity;
    view.shortcuts = &shortcuts;
    view.windows = &windows;
    view.browser = &browser;
    view.movies = movies.get();
    view.log = log.get();
    view.mainLoop = &mainLoop;
    return view;
  }
};

// Runs `application` on `posix` as a person at a terminal meets it: a new
// session log (which also takes the output of started programs), the
// console player made with `options`, the boxes reading their answers
// through it, and the player's final line for the exit code that
// `application` returns, which this returns too. Main thread.
int RunWithConsole(PosixPlatform& posix, ConsoleOptions options,
                   const std::function<int(const Platform&)>& application);

}  // namespace platform
