// The hidden web window on Windows: the system's web browser control,
// hosted in a hidden window of a thread of the page's own (a COM apartment
// with its message loop), navigated to the page. The first document-
// complete notification ends the load; a navigation error or the page's
// bound ends it as an error. A machine where the control cannot be made
// loads its pages with a plain HTTP GET instead.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "platform/browser.h"
#include "platform/http.h"

namespace platform {

class Win32WebBrowser : public Browser {
 public:
  // `http` (not owned, must outlive every page) serves the plain GET.
  explicit Win32WebBrowser(HttpClient& http) : http_(http) {}
  std::unique_ptr<WebPage> OpenHiddenPage(const std::string& agent, PageEventHandler onEvent) override;

  // How many pages were loaded in the browser control so far (the others
  // by the plain GET). Any thread.
  int ControlLoads() const { return controlLoads_; }

 private:
  HttpClient& http_;
  std::atomic<int> controlLoads_{0};
};

}  // namespace platform
