// The reinstall/play dialog: shown when the client is already installed.
// Its movie, which lies in the installation, offers to play or to install
// again; the dialog carries out the choice.
#pragma once

#include <memory>
#include <string>

#include "ui/movie_dialog.h"

namespace ui {

inline constexpr int kReinstallTemplate = 132;
inline constexpr int kReinstallMovieControl = 1001;

class DizavoduDlg : public MovieDialog {
 public:
  // `launchClient` starts the installed client (or brings it forward).
  DizavoduDlg(app::CInstallerApp& app, std::function<void()> launchClient);
  ~DizavoduDlg() override;

  // Runs the dialog modally on the movie file `moviePath`; returns the
  // modal result (1 after a choice). Main thread.
  int RunReinstallDialog(const std::string& moviePath);

  void OnReinstallCommand(const std::string& command, const std::string& args);
  // A close request means "Play".
  void OnCloseRequest();

 protected:
  bool OnDialogMessage(const platform::ThreadMessage& message) override;

 private:
  std::function<void()> launchClient_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace ui
