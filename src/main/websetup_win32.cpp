// Entry point of the Windows program: the Windows platform and the
// application on it. The movie players of Windows (the movie control and
// the native player) are not part of this program yet: without them every
// control request answers "no player installed", which the application
// meets by offering the player's set-up.
#include "platform/win32/win32_platform.h"
#include "ui/application.h"

namespace {

class NoPlayerHost : public platform::MovieHost {
 public:
  std::unique_ptr<platform::MovieControl> CreateControl(platform::DialogWindow&, int, bool,
                                                        platform::MovieCommandSink) override {
    return nullptr;
  }
};

}  // namespace

int main() {
  platform::Win32Platform win32;
  win32.movies = std::make_unique<NoPlayerHost>();
  return ui::RunApplication(win32.View());
}
