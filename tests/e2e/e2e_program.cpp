// The installer as the end-to-end tests run it: the real program on the
// Linux platform, with the scripted movie player in place of the console
// player, and the built-in secure host pointed at the test's own server.
//   websetup_e2e <script> <record> <secure port>
#include <cstdlib>
#include <cstdio>

#include "app/messages.h"
#include "app/stamped_parameters.h"
#include "kill_points.h"
#include "platform/posix/posix_platform.h"
#include "platform/posix/session_guard.h"
#include "support/scripted_player.h"
#include "ui/application.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: websetup_e2e <script> <record> <secure port>\n");
    return 2;
  }
  platform::PosixPlatform posix;
  platform::InstanceLock instance(app::ReadStampedValue(app::StampedSlot::AName));
  if (!instance.Held()) {
    std::fprintf(stderr, "Another installer of this game is already running.\n");
    return 1;
  }
  platform::TerminationRequests termination(
      [&posix] { posix.mainLoop.Post({app::WM_APP_CLOSE_DIALOG, app::kCloseLeave, 0}); });
  posix.movies = platform::LoadScriptedMovieHost(argv[1], argv[2], posix.mainLoop);
  if (!posix.movies) {
    std::fprintf(stderr, "websetup_e2e: cannot read the script %s\n", argv[1]);
    return 2;
  }
  app::BuiltInEndpoints endpoints = app::BuiltInEndpoints::FromBuild();
  endpoints.secureHost = "localhost";
  endpoints.securePort = std::atoi(argv[3]);
  e2e::KillingServices killing;
  platform::Platform view = posix.View();
  killing.InstallInto(view);
  return ui::RunApplication(view, endpoints);
}
