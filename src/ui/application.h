// The installer as a whole: the application object on the given platform,
// with its finishing steps, its web pixels and its dialogs, run from
// start-up to the end of the quit handshake. Returns the process's exit
// code (ProcessExitCode of the session's final code). Main thread.
#pragma once

#include <cstdint>

#include "app/installer_app.h"
#include "platform/platform.h"

namespace ui {

// The process's exit code for a session's final code: 0 when the client
// was installed (100) or nothing failed (0: played, or nothing to do);
// otherwise the final code itself (1 to 99), so that scripts and
// unattended runs can tell what happened. A code outside that range, which
// no step records, is 99.
int ProcessExitCode(int32_t finalCode);

int RunApplication(const platform::Platform& platform,
                   const app::BuiltInEndpoints& endpoints = app::BuiltInEndpoints::FromBuild());

}  // namespace ui
