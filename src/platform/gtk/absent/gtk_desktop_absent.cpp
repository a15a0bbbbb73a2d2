// The desktop of a build without WebKitGTK: there is none, and the program
// runs on the console.
#include "platform/gtk/gtk_desktop.h"

namespace platform {

std::unique_ptr<Desktop> OpenDesktop(const DesktopOptions&) { return nullptr; }

}  // namespace platform
