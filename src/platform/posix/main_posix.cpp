// Entry point of the Linux build of the installer.
#include "platform/posix/posix_platform.h"
#include "ui/application.h"

int main() {
  platform::PosixPlatform posix;
  return ui::RunApplication(posix.View());
}
