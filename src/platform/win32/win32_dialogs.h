// Message boxes and the folder picker of the Windows program.
#pragma once

#include "platform/dialogs.h"

namespace platform {

class Win32Dialogs : public Dialogs {
 public:
  // MessageBoxA, owned by the thread's active window: MB_OK, MB_OK with
  // MB_ICONERROR, or MB_YESNO with MB_ICONQUESTION.
  BoxAnswer ShowMessageBox(const std::string& text, const std::string& caption, BoxStyle style) override;
  // SHBrowseForFolderA, file-system folders only.
  std::optional<std::string> BrowseForFolder(const std::string& title) override;
};

}  // namespace platform
