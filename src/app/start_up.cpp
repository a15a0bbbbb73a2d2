// Start-up of the installer: the choice between the reinstall/play dialog
// and a fresh installation.
#include "app/start_up.h"

#include "app/installer_app.h"
#include "app/settings_record.h"
#include "net/server_address.h"
#include "platform/path.h"

namespace app {

void CInstallerApp::InitInstance(StartupSteps& steps) {
  steps_ = &steps;
  TakeStartupValues();

  // A registration whose folder is gone is stale: take it away.
  std::string proposal;
  if (!FindInstallation(proposal) && !platform_.files->Exists(installDir.str())) {
    RemoveInstallation(*this, installDir.str(), appName.str());
  }
  const bool none = FindInstallation(proposal);
  // The server address (with its extra CA) before any exchange, the player
  // set-up download included.
  serverAddress = net::LoadServerAddress(platform_, endpoints_.secureHost, endpoints_.securePort);
  if (none) {
    removeOnFailure = false;
    if (steps.EnsureFlashPlayer() != 0) return;
    ResetSessionStats();
    steps.RunInstallerDialog();
    return;
  }
  // A complete installation has its settings file, its launcher, no
  // marker of an installation under way, and both movies of the
  // reinstall/play dialog.
  const std::string folder = installDir.str();
  const std::string message = platform::JoinPath(folder, "qrx\\DlgMsg.qrx");
  const std::string languages = platform::JoinPath(folder, "qrx\\mcLang.qrx");
  if (InstallationComplete(*platform_.files, folder, launcherFile.str()) && platform_.files->Exists(message) &&
      platform_.files->Exists(languages) && steps.EnsureFlashPlayer() == 0) {
    steps.RunReinstallDialog(message);
    return;
  }
  StartFreshInstall();
}

void CInstallerApp::StartFreshInstall() {
  RemoveInstallation(*this, installDir.str(), appName.str());
  removeOnFailure = false;
  if (!steps_ || steps_->EnsureFlashPlayer() != 0) return;
  ResetSessionStats();
  steps_->RunInstallerDialog();
}

}  // namespace app
