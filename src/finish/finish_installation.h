// The finishing of an installation, once the file set is in place and the
// user has accepted the licence: the registration (AppDirectory and the
// uninstall entry), the Start-menu folder with its two shortcuts and the
// desktop shortcut, the identity fields of the settings record, the hand-
// over of "Updater.exe" to the launcher's name, the session's closing
// reports, the start of the lobby and the close of the installer dialog.
//
// Every failing step ends the session with its own final code (only the
// first final code of a session is reported), shows the error box, takes
// away the installation when this session prepared its folder, and closes
// the dialog; the steps after it are skipped.
//
// Paths: the registration and the shortcuts name installDir; the settings
// record and the updater are taken from the current directory, which the
// preparation of the install folder made installDir.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/installer_app.h"
#include "net/final_codes.h"
#include "platform/shortcuts.h"

namespace finish {

// Final codes of the finishing steps (net/final_codes.h).
using net::FinishCode;

// Step codes of the finishing steps.
inline constexpr int32_t kStepRegistry = 81;
inline constexpr int32_t kStepShortcuts = 82;
inline constexpr int32_t kStepSettingsRecord = 83;
inline constexpr int32_t kStepRenameUpdater = 84;
inline constexpr int32_t kStepLaunch = 85;

// Files of the installed client that the finishing steps point at.
inline constexpr std::string_view kUpdaterFile = "Updater.exe";
inline constexpr std::string_view kUninstallProgram = "Uninstall.exe";
inline constexpr std::string_view kUninstallShortcutName = "Uninstall";
inline constexpr std::string_view kAppSmallIcon = "AppSmall.ico";
inline constexpr std::string_view kUninstallSmallIcon = "UninstallSmall.ico";
inline constexpr std::string_view kAppBigIcon = "AppBig.ico";

// The whole finishing sequence (see the header comment). Ends, on success
// and on failure alike, with dialog.CloseDialogNow(). Main thread, inside
// the installer dialog's modal loop; does not wait for the reports.
void FinishInstallation(app::CInstallerApp& app, app::InstallerDialogPort& dialog);

// Step 81: AppDirectory = installDir under appRegKey, then DisplayName and
// UninstallString under the uninstall key (whose results are not examined).
// Returns 0, or the registry's error code when AppDirectory could not be
// written: final code 43 with the system's text, appRegKey and installDir
// as parameters, and the error box naming the key.
int WriteUninstallEntry(app::CInstallerApp& app);

// Step 82: the Start-menu folder "<programs>/<appName>" (an earlier one is
// deleted with its contents first; missing levels of the programs folder
// are created) with "<appName>" and "Uninstall" shortcuts, then the desktop
// shortcut "<desktop>/<appName>". Returns 0, or 1 after setting final code
// 41, 42 or 44 and showing its error box.
int CreateShortcuts(app::CInstallerApp& app);

// One shortcut through the platform: the icon, when given, is the file
// `iconFile` inside `workingFolder`. Returns 0 on success, 1 on failure (the
// thread's last error then tells why). Blocks on file I/O.
int CreateShortcut(platform::Shortcuts& shortcuts, const std::string& linkPath, const std::string& target,
                   const std::string& workingFolder, const std::string& description,
                   const std::optional<std::string>& iconFile);

// Step 84: renames "Updater.exe" of the current directory to
// `launcherFile`. Unlike a plain rename on POSIX it never replaces a file:
// an existing `launcherFile` fails the rename (last error "file exists"),
// as does a missing "Updater.exe". True when renamed.
bool RenameUpdater(platform::FileSystem& files, platform::System& system, const std::string& launcherFile);

// The installation actions the application runs on its main thread: the
// finishing above, with the application's current dialog, and the removal
// of an installation.
class FinishActions : public app::InstallationActions {
 public:
  // `app` is not owned and must outlive this object.
  explicit FinishActions(app::CInstallerApp& app) : app_(app) {}
  void RemoveInstallation(const std::string& folder, const std::string& appName) override;
  void FinishInstallation() override;

 private:
  app::CInstallerApp& app_;
};

}  // namespace finish
