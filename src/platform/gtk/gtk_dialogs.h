// Message boxes and the folder picker on the Linux desktop: GTK's modal
// dialogs, above the installer's window (which stays on top). A box asked
// for from another thread is shown by the main thread, which keeps running
// its loop; the asking thread waits for the answer. Closing a Yes/No box
// without an answer is No.
#pragma once

#include <atomic>
#include <thread>

#include "platform/dialogs.h"

namespace platform {

class GtkWindowFactory;

class GtkDialogs : public Dialogs {
 public:
  // `windows` (not owned) gives the boxes their parent window. Made on the
  // main thread.
  explicit GtkDialogs(GtkWindowFactory& windows) : windows_(windows), mainThread_(std::this_thread::get_id()) {}

  // Blocks the calling thread until the box is closed. After Close (the
  // main thread no longer runs GTK) a box is printed to standard error and
  // answered at once: OK, or No.
  BoxAnswer ShowMessageBox(const std::string& text, const std::string& caption, BoxStyle style) override;
  // Main thread.
  std::optional<std::string> BrowseForFolder(const std::string& title) override;

  // The main thread has stopped running GTK's loop.
  void Close() { closed_ = true; }

 private:
  BoxAnswer RunBox(const std::string& text, const std::string& caption, BoxStyle style);

  GtkWindowFactory& windows_;
  std::thread::id mainThread_;
  std::atomic<bool> closed_{false};
};

}  // namespace platform
