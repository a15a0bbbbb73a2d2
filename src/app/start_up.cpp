#include "app/start_up.h"

#include "app/installer_app.h"

namespace app {

int RunInstaller(const platform::Platform& platform) {
  CInstallerApp application(platform);
  application.TakeStartupValues();
  return 0;
}

}  // namespace app
