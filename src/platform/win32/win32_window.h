// The windows of the movie dialogs on Windows: modeless dialogs of the
// program's templates (dialog_templates.rc), run by the main loop, painted
// in the brand colour, which they also answer to their controls'
// WM_CTLCOLOR* questions; a notice's texts fill the template's empty
// static controls. The movie control fills the client area. The close
// button and Alt+F4 (WM_CLOSE) go to the close request handler, dispatched
// by the main loop; Enter and Escape close nothing; the window stays until
// its owner ends it. A template the program lacks gives a plain window.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/dialog_window.h"
#include "platform/win32/win32_api.h"

namespace platform {

class Win32WindowFactory : public WindowFactory {
 public:
  // Registers the window class on first use. Main thread only.
  std::unique_ptr<DialogWindow> CreateDialogWindow(int templateId, bool visible) override;
};

// The window handle of a window this factory made; null for any other
// DialogWindow. The handle lives as long as the window object.
HWND NativeWindowOf(DialogWindow& window);

}  // namespace platform
