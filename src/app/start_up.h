// Start-up of the installer: builds the application object on the given
// platform and runs it. Returns the process exit code.
#pragma once

#include "platform/platform.h"

namespace app {

int RunInstaller(const platform::Platform& platform);

}  // namespace app
