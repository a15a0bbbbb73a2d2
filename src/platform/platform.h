// The set of platform services handed to the logic. Logic code receives this
// context (or the single interface it needs) instead of reaching for the
// operating system; tests fill it with fakes.
//
// Text crosses the seam as bytes in std::string, in the system's own
// encoding: UTF-8 on Linux, the system code page on Windows (whose layer
// calls the ANSI functions throughout). The logic never converts text.
#pragma once

#include "platform/device_identity.h"
#include "platform/dialog_window.h"
#include "platform/dialogs.h"
#include "platform/file_system.h"
#include "platform/http.h"
#include "platform/main_loop.h"
#include "platform/movie.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/shortcuts.h"
#include "platform/system.h"

namespace platform {

struct Platform {
  System* system = nullptr;
  FileSystem* files = nullptr;
  HttpClient* http = nullptr;
  Dialogs* dialogs = nullptr;
  Registry* registry = nullptr;
  Shell* shell = nullptr;
  Processes* processes = nullptr;
  DeviceIdentitySources* identity = nullptr;
  MovieHost* movies = nullptr;
  WindowFactory* windows = nullptr;
  Shortcuts* shortcuts = nullptr;
  // The main thread's loop, shared by the application and the platform
  // parts that deliver events to the main thread (players). Null: the
  // application waits on a plain queue of its own.
  MainLoop* mainLoop = nullptr;
};

}  // namespace platform
