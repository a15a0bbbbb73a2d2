// Hidden web pages on the Linux desktop: each page is a WebKitGTK view in
// an off-screen window, so a page's scripts and the requests they make run
// as in a browser. GTK lives on the main thread: a page opened by another
// thread is made, loaded and closed there, and its event is delivered on
// the main thread. The load ends with the first finished load of the page
// (DocumentComplete), a failed load (Error), or the bound (Error). A page
// cannot open windows or draw on screen.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "platform/browser.h"

namespace platform {

class WebEngine;

class WebKitBrowser : public Browser {
 public:
  // `engine` (not owned) must outlive every page. Made on the main thread.
  explicit WebKitBrowser(WebEngine& engine);
  // Any thread. Navigate and Close wait for the main thread, which must be
  // running its loop (the main loop waits for the reports that use pages).
  std::unique_ptr<WebPage> OpenHiddenPage(const std::string& agent, PageEventHandler onEvent) override;

 private:
  WebEngine& engine_;
  std::thread::id mainThread_;
};

}  // namespace platform
