// The windows of the movie dialogs on Windows: plain top-level windows of
// one class, painted in the brand colour, whose notice texts are static
// controls stacked from the top. The movie control fills the client area.
// The close button and Alt+F4 (WM_CLOSE) go to the close request handler,
// dispatched by the main loop; the window stays until its owner ends it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/dialog_window.h"

namespace platform {

class Win32WindowFactory : public WindowFactory {
 public:
  // Registers the window class on first use. Main thread only.
  std::unique_ptr<DialogWindow> CreateDialogWindow(int templateId, bool visible) override;
};

}  // namespace platform
