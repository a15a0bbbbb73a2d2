// Entry point of the Linux build of the installer: the Linux platform, with
// the HTML player on the desktop when a display is present and the web
// engine loads, else the console player, and the application on it.
#include "app/messages.h"
#include "app/stamped_parameters.h"
#include "net/server_address.h"
#include "platform/gtk/gtk_desktop.h"
#include "platform/path.h"
#include "platform/posix/posix_platform.h"
#include "platform/posix/session_guard.h"
#include "ui/application.h"

int main() {
  platform::KeepFreedMemoryForReuse();
  platform::PosixPlatform posix;
  // The movies and pages may come from the server that the override names,
  // signed by its extra CA.
  platform::DesktopOptions desktopOptions;
  desktopOptions.extraCaFile = net::LoadServerAddress(posix.View()).caFile;
  std::unique_ptr<platform::Desktop> desktop = platform::OpenDesktop(desktopOptions);
  platform::MainLoop& loop = desktop ? desktop->Loop() : static_cast<platform::MainLoop&>(posix.mainLoop);

  platform::InstanceLock instance(app::ReadStampedValue(app::StampedSlot::AName));
  if (!instance.Held()) {
    posix.dialogs.ShowMessageBox("Another installer of this game is already running.", "Setup",
                                 platform::BoxStyle::Plain);
    return 1;
  }
  // A shutdown or a closed terminal ends the session as leaving does.
  platform::TerminationRequests termination(
      [&loop] { loop.Post({app::WM_APP_CLOSE_DIALOG, app::kCloseLeave, 0}); });
  const auto application = [](const platform::Platform& view) { return ui::RunApplication(view); };
  if (desktop) return desktop->Run(posix, application);

  // "cfg\Unattended.cfg" next to the program lets the player take every
  // default when there is no terminal to ask.
  const std::string folder = platform::DirectoryOf(posix.system.ExecutablePath());
  platform::ConsoleOptions options;
  options.unattended = posix.files.Exists(platform::JoinPath(folder, "cfg\\Unattended.cfg"));
  // Ctrl-C is the close request of the console's window: its dialog decides.
  options.onCloseRequest = [&posix] { posix.windows.RequestClose(); };
  return platform::RunWithConsole(posix, options, application);
}
