#include "platform/posix/posix_platform.h"

namespace platform {

int RunWithConsole(PosixPlatform& posix, ConsoleOptions options,
                   const std::function<int(const Platform&)>& application) {
  posix.log = std::make_unique<PosixSessionLog>();
  posix.processes.SetOutputFd(posix.log->Fd());
  auto console = std::make_unique<ConsoleMovieHost>(posix.mainLoop, std::move(options));
  ConsoleMovieHost& player = *console;
  // One reader of the terminal: the boxes take their answers through the
  // player, which asks its open question again when a box leaves the
  // dialog running.
  posix.dialogs.SetAnswerSource([&player](const std::string& prompt) { return player.ReadAnswer(prompt); },
                                [&player] { player.RepeatQuestion(); });
  posix.movies = std::move(console);
  const int exitCode = application(posix.View());
  posix.log->Write("exit code " + std::to_string(exitCode));
  player.Finish(exitCode, posix.log->Path());
  return exitCode;
}

}  // namespace platform
