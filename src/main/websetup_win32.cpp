// Entry point of the Windows program: the Windows platform and the
// application on it. Movies play in the movie control when the machine has
// it; otherwise the native player draws them with the system's own
// controls.
#include "platform/win32/activex_movie.h"
#include "platform/win32/native_player.h"
#include "platform/win32/win32_platform.h"
#include "ui/application.h"

int main() {
  platform::Win32Platform win32;
  win32.movies = std::make_unique<platform::ActiveXMovieHost>(
      win32.mainLoop, std::make_unique<platform::NativeMovieHost>(win32.mainLoop), win32.View().log);
  return ui::RunApplication(win32.View());
}
