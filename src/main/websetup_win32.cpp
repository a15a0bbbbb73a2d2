// Entry point of the Windows program: the Windows platform and the
// application on it, with the native movie player, which draws the
// installer's movies with the system's own controls.
#include "platform/win32/native_player.h"
#include "platform/win32/win32_platform.h"
#include "ui/application.h"

int main() {
  platform::Win32Platform win32;
  win32.movies = std::make_unique<platform::NativeMovieHost>(win32.mainLoop);
  return ui::RunApplication(win32.View());
}
