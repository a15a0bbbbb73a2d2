// A hidden browser window without a browser engine: a plain HTTP GET of the
// page through a download session of any HTTP client, read to its end and
// thrown away. Linux has no browser control to host; the Windows program
// uses it too until it hosts its own. The end of the reply counts as the
// document being complete. There is no script engine, so a page's own
// requests are not made.
#pragma once

#include <memory>
#include <string>

#include "platform/browser.h"
#include "platform/http.h"

namespace platform {

class HttpBrowser : public Browser {
 public:
  // `http` is not owned and must outlive every page.
  explicit HttpBrowser(HttpClient& http) : http_(http) {}
  std::unique_ptr<WebPage> OpenHiddenPage(const std::string& agent, PageEventHandler onEvent) override;

 private:
  HttpClient& http_;
};

}  // namespace platform
