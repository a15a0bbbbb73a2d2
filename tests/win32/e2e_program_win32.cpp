// The installer as the tests under Wine run it: the real program on the
// Windows platform, with the scripted movie player in place of the movie
// control, and the built-in secure host pointed at the test's own server.
//   websetup_e2e <script> <record> <secure port>
#include <cstdio>
#include <cstdlib>

#include "support/scripted_player.h"
#include "platform/win32/win32_platform.h"
#include "ui/application.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: websetup_e2e <script> <record> <secure port>\n");
    return 2;
  }
  platform::Win32Platform win32;
  win32.movies = platform::LoadScriptedMovieHost(argv[1], argv[2], win32.mainLoop);
  if (!win32.movies) {
    std::fprintf(stderr, "websetup_e2e: cannot read the script %s\n", argv[1]);
    return 2;
  }
  app::BuiltInEndpoints endpoints = app::BuiltInEndpoints::FromBuild();
  endpoints.secureHost = "localhost";
  endpoints.securePort = std::atoi(argv[3]);
  return ui::RunApplication(win32.View(), endpoints);
}
