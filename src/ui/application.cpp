#include "ui/application.h"

#include "app/installer_app.h"
#include "finish/finish_installation.h"
#include "finish/launch_client.h"
#include "net/reports.h"
#include "flash/flash_player.h"
#include "ui/installer_dialog.h"
#include "ui/reinstall_dialog.h"
#include "ui/web_window.h"

namespace ui {

namespace {

// The dialogs and the player step that start-up runs.
class StartupUi : public app::StartupSteps {
 public:
  explicit StartupUi(app::CInstallerApp& app) : app_(app) {}

  int EnsureFlashPlayer() override { return flash::EnsureFlashPlayer(app_); }

  void RunInstallerDialog() override {
    CInstallerDlg dialog(app_);
    dialog.RunModal(update::kRunModeInstall);
  }

  void RunReinstallDialog(const std::string& moviePath) override {
    DizavoduDlg dialog(app_, [this] { finish::PlayOrOfferInstallation(app_); });
    dialog.RunReinstallDialog(moviePath);
  }

 private:
  app::CInstallerApp& app_;
};

}  // namespace

int ProcessExitCode(int32_t finalCode) {
  if (finalCode == 0 || finalCode == net::kFinalSuccess) return 0;
  return finalCode >= 1 && finalCode <= 99 ? finalCode : 99;
}

int RunApplication(const platform::Platform& platform, const app::BuiltInEndpoints& endpoints) {
  app::CInstallerApp application(platform, endpoints);
  finish::FinishActions actions(application);
  application.SetActions(&actions);
  InstallWebPixels(application);
  StartupUi steps(application);
  application.InitInstance(steps);
  // No report is lost to the end of the process: the closing pixel and the
  // FINISH report are the operator's record of the session.
  application.Reports().AwaitReportsInLoop();
  return ProcessExitCode(application.stats.finalCode.load());
}

}  // namespace ui
