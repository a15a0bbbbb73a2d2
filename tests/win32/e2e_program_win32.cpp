// The installer as the tests under Wine run it: the real program on the
// Windows platform, the built-in secure host pointed at the test's own
// server, and either the scripted movie player in place of the movie
// control, the native player that a user sees, or the movie control hosted
// as an ActiveX control (without the native player to fall back on, so
// that a control that cannot be made ends the run at once).
//   websetup_e2e <script> <record> <secure port>
//   websetup_e2e --native <secure port>
//   websetup_e2e --activex <secure port>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/win32/activex_movie.h"
#include "platform/win32/native_player.h"
#include "platform/win32/win32_platform.h"
#include "support/scripted_player.h"
#include "ui/application.h"

int main(int argc, char** argv) {
  const bool native = argc == 3 && std::strcmp(argv[1], "--native") == 0;
  const bool activex = argc == 3 && std::strcmp(argv[1], "--activex") == 0;
  if (argc != 4 && !native && !activex) {
    std::fprintf(stderr,
                 "usage: websetup_e2e <script> <record> <secure port> | --native <secure port> | --activex <secure "
                 "port>\n");
    return 2;
  }
  platform::Win32Platform win32;
  if (native) {
    win32.movies = std::make_unique<platform::NativeMovieHost>(win32.mainLoop);
  } else if (activex) {
    win32.movies = std::make_unique<platform::ActiveXMovieHost>(win32.mainLoop, nullptr, nullptr);
  } else {
    win32.movies = platform::LoadScriptedMovieHost(argv[1], argv[2], win32.mainLoop);
    if (!win32.movies) {
      std::fprintf(stderr, "websetup_e2e: cannot read the script %s\n", argv[1]);
      return 2;
    }
  }
  app::BuiltInEndpoints endpoints = app::BuiltInEndpoints::FromBuild();
  endpoints.secureHost = "localhost";
  endpoints.securePort = std::atoi(argv[argc - 1]);
  return ui::RunApplication(win32.View(), endpoints);
}
