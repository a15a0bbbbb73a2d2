// The installer as a whole: the application object on the given platform,
// with its finishing steps, its web pixels and its dialogs, run from
// start-up to the end of the quit handshake. Returns the process's exit
// code (0). Main thread.
#pragma once

#include "app/installer_app.h"
#include "platform/platform.h"

namespace ui {

int RunApplication(const platform::Platform& platform,
                   const app::BuiltInEndpoints& endpoints = app::BuiltInEndpoints::FromBuild());

}  // namespace ui
