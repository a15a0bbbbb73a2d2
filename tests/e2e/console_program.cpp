// The installer as a person runs it on a terminal, for the scripted
// terminal session test: the program's own wiring (console player, the
// boxes reading through it, session log, final line), with the built-in
// secure host pointed at the test's own server.
//   websetup_console_e2e <secure port>
#include <cstdio>
#include <cstdlib>

#include "platform/posix/posix_platform.h"
#include "ui/application.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: websetup_console_e2e <secure port>\n");
    return 2;
  }
  platform::PosixPlatform posix;
  platform::ConsoleOptions options;
  options.onCloseRequest = [&posix] { posix.windows.RequestClose(); };
  app::BuiltInEndpoints endpoints = app::BuiltInEndpoints::FromBuild();
  endpoints.secureHost = "localhost";
  endpoints.securePort = std::atoi(argv[1]);
  return platform::RunWithConsole(
      posix, options, [&endpoints](const platform::Platform& view) { return ui::RunApplication(view, endpoints); });
}
