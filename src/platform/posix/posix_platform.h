// The Linux platform services of one process, owned together, and the
// context that hands them to the logic.
#pragma once

#include <memory>

#include "platform/message_queue.h"
#include "platform/platform.h"

#include "platform/posix/console_player.h"
#include "platform/posix/console_window.h"
#include "platform/posix/curl_http_client.h"
#include "platform/posix/device_identity_posix.h"
#include "platform/posix/posix_dialogs.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_system.h"
#include "platform/posix/processes_posix.h"
#include "platform/posix/registry_posix.h"
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
  // The movie player: the console player unless a caller set another.
  std::unique_ptr<MovieHost> movies;

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
    view.movies = movies.get();
    view.mainLoop = &mainLoop;
    return view;
  }
};

}  // namespace platform
