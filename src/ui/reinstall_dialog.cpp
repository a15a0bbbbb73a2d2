#include "ui/reinstall_dialog.h"

#include "app/language_file.h"
#include "app/read_write_data.h"

namespace ui {

DizavoduDlg::DizavoduDlg(app::CInstallerApp& app, std::function<void()> launchClient)
    : MovieDialog(app), launchClient_(std::move(launchClient)) {}

DizavoduDlg::~DizavoduDlg() { *alive_ = false; }

int DizavoduDlg::RunReinstallDialog(const std::string& moviePath) {
  const platform::Platform& p = app_.Platform();
  OpenWindow(kReinstallTemplate);
  std::weak_ptr<bool> alive = alive_;
  flash_.Create(*p.movies, *window_, kReinstallMovieControl, true, [this, alive](const std::string& command, const std::string& args) {
    if (auto live = alive.lock(); live && *live) OnReinstallCommand(command, args);
  });
  flash_.ScaleMode(0);
  flash_.Quality(1);
  const std::string language = app::ReadLanguageFile(app::ReadWriteData(*p.files), app_.installDir.str());
  flash_.LoadMovieWithLanguage(moviePath, language);
  window_->SetTitle(app_.appName.str() + " Setup");
  const app::Rgb colour = app_.BrandBackgroundColor();
  window_->SetBackground({colour.r, colour.g, colour.b});
  if (!flash_.Exists()) {
    // Nothing could be shown: do what closing the window does.
    OnCloseRequest();
    return 1;
  }
  return RunLoop();
}

void DizavoduDlg::OnReinstallCommand(const std::string& command, const std::string& args) {
  if (command == "Ready") {
    AnswerMovie("Data", "Msg", "ReInstall~" + app_.appName.str() + "~Play");
    FitToMovie(args);
  } else if (command == "ReInstall") {
    EndModalLoop(1);
    window_->Hide();
    app_.keepUserName = true;
    app_.StartFreshInstall();
  } else if (command == "Play") {
    OnCloseRequest();
  }
}

// The dialog ends before the client starts: a launcher that cannot start
// offers the installation again in a dialog of its own.
void DizavoduDlg::OnCloseRequest() {
  EndModalLoop(1);
  window_->Hide();
  if (launchClient_) launchClient_();
}

bool DizavoduDlg::OnDialogMessage(const platform::ThreadMessage& message) {
  if (message.id == app::WM_APP_CLOSE_DIALOG) {
    // A shutdown or hang-up ends the dialog without starting the client.
    if (message.wParam == app::kCloseLeave) {
      EndModalLoop(1);
    } else {
      OnCloseRequest();
    }
    return true;
  }
  return false;
}

}  // namespace ui
