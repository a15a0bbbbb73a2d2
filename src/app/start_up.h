// What start-up runs, supplied by the user interface: the movie player
// check and the two modal dialogs. The application object decides which to
// run; the dialogs and the player step live above it.
#pragma once

#include <string>

namespace app {

class StartupSteps {
 public:
  virtual ~StartupSteps() = default;
  // 0 when a usable movie player is present (installing one first if
  // needed), 1 otherwise.
  virtual int EnsureFlashPlayer() = 0;
  // Runs the installer dialog modally in run mode 7; returns when it ends.
  virtual void RunInstallerDialog() = 0;
  // Runs the reinstall/play dialog on the movie file `moviePath`.
  virtual void RunReinstallDialog(const std::string& moviePath) = 0;
};

}  // namespace app
