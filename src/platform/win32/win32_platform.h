// The Windows platform services of one process, owned together, and the
// context that hands them to the logic.
#pragma once

#include <memory>

#include "platform/platform.h"
#include "platform/win32/device_identity_win32.h"
#include "platform/win32/main_loop_win32.h"
#include "platform/win32/processes_win32.h"
#include "platform/win32/registry_win32.h"
#include "platform/win32/shell_win32.h"
#include "platform/win32/shortcuts_win32.h"
#include "platform/win32/web_browser_win32.h"
#include "platform/win32/win32_dialogs.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_system.h"
#include "platform/win32/win32_window.h"
#include "platform/win32/wininet_http_client.h"

namespace platform {

struct Win32Platform {
  Win32MainLoop mainLoop;  // made on the main thread, which runs it
  Win32System system;
  Win32FileSystem files;
  WinInetHttpClient http;
  Win32Dialogs dialogs;
  Win32Registry registry;
  Win32Shell shell;
  Win32Processes processes;
  Win32DeviceIdentitySources identity;
  Win32Shortcuts shortcuts;
  Win32WindowFactory windows;
  Win32WebBrowser browser{http};
  // The movie player; set by the program.
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
    view.browser = &browser;
    view.movies = movies.get();
    view.mainLoop = &mainLoop;
    return view;
  }
};

}  // namespace platform
