// Entry point of the Linux build of the installer: the Linux platform with
// the console player, and the application on it.
#include "app/messages.h"
#include "platform/path.h"
#include "platform/posix/posix_platform.h"
#include "ui/application.h"

int main() {
  platform::PosixPlatform posix;
  // The session log for support; what started programs print goes there too.
  posix.log = std::make_unique<platform::PosixSessionLog>();
  posix.processes.SetOutputFd(posix.log->Fd());
  // "cfg\Unattended.cfg" next to the program lets the player take every
  // default when there is no terminal to ask.
  const std::string folder = platform::DirectoryOf(posix.system.ExecutablePath());
  platform::ConsoleOptions options;
  options.unattended = posix.files.Exists(platform::JoinPath(folder, "cfg\\Unattended.cfg"));
  // Ctrl-C is the window's close request: the running dialog decides.
  options.onCloseRequest = [&posix] { posix.mainQueue.Post({app::WM_APP_CLOSE_DIALOG, 1, 0}); };
  auto console = std::make_unique<platform::ConsoleMovieHost>(posix.mainQueue, options);
  platform::ConsoleMovieHost& player = *console;
  // The boxes read their answers through the player: one reader of the terminal.
  posix.dialogs.SetAnswerSource([&player](const std::string& prompt) { return player.ReadAnswer(prompt); },
                                [&player] { player.RepeatQuestion(); });
  posix.movies = std::move(console);
  const int exitCode = ui::RunApplication(posix.View());
  posix.log->Write("exit code " + std::to_string(exitCode));
  player.Finish(exitCode, posix.log->Path());
  return exitCode;
}
