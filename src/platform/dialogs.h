// Message boxes and the folder picker, the parts of the user interface that
// are the platform's own rather than the movie's.
#pragma once

#include <optional>
#include <string>

namespace platform {

enum class BoxStyle {
  Plain,  // OK button, no icon
  Error,  // OK button, error icon
  YesNo,  // Yes and No buttons, question
};

enum class BoxAnswer { Ok = 1, Yes = 6, No = 7 };

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // Shows a modal box and blocks the calling thread until it is closed.
  // Any thread may call it.
  virtual BoxAnswer ShowMessageBox(const std::string& text, const std::string& caption, BoxStyle style) = 0;
  // Shows the folder picker; blocks until the user chooses. Returns the
  // chosen folder's path, or nothing when the user cancelled or no picker is
  // available. Main thread only.
  virtual std::optional<std::string> BrowseForFolder(const std::string& title) = 0;
};

}  // namespace platform
