// The installer as the end-to-end tests run it: the real program on the
// Linux platform, with the scripted movie player in place of the console
// player, and the built-in secure host pointed at the test's own server.
//   websetup_e2e <script> <record> <secure port>
#include <cstdlib>
#include <cstdio>

#include "platform/posix/posix_platform.h"
#include "support/scripted_player.h"
#include "ui/application.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: websetup_e2e <script> <record> <secure port>\n");
    return 2;
  }
  platform::PosixPlatform posix;
  posix.movies = platform::LoadScriptedMovieHost(argv[1], argv[2], posix.mainLoop);
  if (!posix.movies) {
    std::fprintf(stderr, "websetup_e2e: cannot read the script %s\n", argv[1]);
    return 2;
  }
  app::BuiltInEndpoints endpoints = app::BuiltInEndpoints::FromBuild();
  endpoints.secureHost = "localhost";
  endpoints.securePort = std::atoi(argv[3]);
  return ui::RunApplication(posix.View(), endpoints);
}
