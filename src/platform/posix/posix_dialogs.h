// Message boxes and the folder picker on a Linux terminal. Without a
// terminal nothing waits: a box's text goes to standard error and the call
// returns at once (Yes/No boxes answer No), and the picker answers
// "cancelled".
#pragma once

#include "platform/dialogs.h"

namespace platform {

class PosixDialogs : public Dialogs {
 public:
  BoxAnswer ShowMessageBox(const std::string& text, const std::string& caption, BoxStyle style) override;
  std::optional<std::string> BrowseForFolder(const std::string& title) override;
};

}  // namespace platform
