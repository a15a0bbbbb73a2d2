// What the two movie dialogs share: a window that the movie fills, the
// answer mechanism ("funcName", "funcParm", then the label "Data"), the
// sizing of the window to the movie, and the modal loop that runs on the
// main thread's message queue.
#pragma once

#include <optional>
#include <string>

#include "app/installer_app.h"
#include "platform/dialog_window.h"
#include "ui/shockwave_flash.h"

namespace ui {

// Parses a size text, a width and a height in pixels joined by "~" (leading
// digits of each; no digits give 0). Nothing for a text without "~" or
// longer than 19 characters.
std::optional<std::pair<int, int>> ParseSizeText(const std::string& sizeText);

class MovieDialog {
 public:
  explicit MovieDialog(app::CInstallerApp& app) : app_(app) {}
  virtual ~MovieDialog() = default;

  // The one way the program calls a movie function; each part only when
  // given.
  void AnswerMovie(const std::optional<std::string>& label, const std::optional<std::string>& funcName,
                   const std::optional<std::string>& funcParm);
  // Sizes the window's client area and the movie to the size text, centres
  // the window and shows it. A size text that is not one is ignored.
  void FitToMovie(const std::string& sizeText);
  // Creates the dialog's window of `templateId`, topmost. The user's close
  // request reaches the dialog as a close message that asks first.
  void OpenWindow(int templateId);

  // Runs the dialog's modal loop on the main thread's queue until EndModal
  // or the end of the queue; returns the modal result (0 when the queue
  // ended). Application messages, tasks (movie commands) and dialog
  // messages are dispatched while it runs; loops nest.
  int RunLoop();
  void EndModalLoop(int result);
  bool Ended() const { return ended_; }

 protected:
  // A message of the queue that is neither a task nor an application
  // message; true when the dialog handled it.
  virtual bool OnDialogMessage(const platform::ThreadMessage& message) = 0;

  app::CInstallerApp& app_;
  std::unique_ptr<platform::DialogWindow> window_;
  CShockwaveFlash flash_;

 private:
  bool ended_ = false;
  int result_ = 0;
};

}  // namespace ui
