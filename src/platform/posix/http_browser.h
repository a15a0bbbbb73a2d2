// The hidden browser window on Linux: a plain HTTP GET of the page through
// a download session, read to its end and thrown away. The end of the
// reply counts as the document being complete. There is no script engine,
// so a page's own requests are not made.
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
