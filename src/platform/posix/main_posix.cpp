// Entry point of the Linux build of the installer.
#include "app/start_up.h"
#include "platform/posix/posix_platform.h"

int main() {
  platform::PosixPlatform posix;
  return app::RunInstaller(posix.View());
}
