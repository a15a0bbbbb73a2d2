#include "ui/application.h"

#include "app/installer_app.h"
#include "ui/installer_dialog.h"
#include "ui/reinstall_dialog.h"

namespace ui {

namespace {

// The dialogs and the player step that start-up runs.
class StartupUi : public app::StartupSteps {
 public:
  explicit StartupUi(app::CInstallerApp& app) : app_(app) {}

  int EnsureFlashPlayer() override {
    CShockwaveFlash probe;
    if (!probe.Create(*app_.Platform().movies, 1001, false, [](const std::string&, const std::string&) {})) return 1;
    app_.flashVersion = probe.FlashVersion();
    return app_.flashVersion >= 0x90000 ? 0 : 1;
  }

  void RunInstallerDialog() override {
    CInstallerDlg dialog(app_);
    dialog.RunModal(update::kRunModeInstall);
  }

  void RunReinstallDialog(const std::string& moviePath) override {
    DizavoduDlg dialog(app_, [] {});
    dialog.RunReinstallDialog(moviePath);
  }

 private:
  app::CInstallerApp& app_;
};

}  // namespace

int RunApplication(const platform::Platform& platform) {
  app::CInstallerApp application(platform);
  StartupUi steps(application);
  application.InitInstance(steps);
  // No report is lost to the end of the process: the closing pixel and the
  // FINISH report are the operator's record of the session.
  application.Reports().WaitForReports();
  return 0;
}

}  // namespace ui
