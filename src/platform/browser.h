// A hidden browser window: the web pages the installer opens without
// showing them (the tracking pixels on a foreign web domain). Each platform
// brings its own browser: a browser control on Windows, a plain HTTP GET of
// the page on Linux.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace platform {

enum class PageEvent {
  DocumentComplete,  // the page and what it pulls in have loaded
  Error,             // the page could not be loaded, or not within its bound
};

// Called once per navigation, on a thread of the browser's own; it must not
// call back into the page.
using PageEventHandler = std::function<void(PageEvent event)>;

// One hidden window. Used by the thread that opened it.
class WebPage {
 public:
  // Closes the page (as Close does).
  virtual ~WebPage() = default;
  // Starts loading `address`; returns at once. The load ends with one event
  // at the latest when `bound` has passed (then Error). False, and no
  // event, when the load cannot be started.
  virtual bool Navigate(const std::string& address, std::chrono::milliseconds bound) = 0;
  // Stops the load and closes the window; blocks until the browser has let
  // go of everything the page used, so that nothing of it outlives the
  // caller. No event is delivered after Close returns.
  virtual void Close() = 0;
};

class Browser {
 public:
  virtual ~Browser() = default;
  // A new hidden window whose requests carry `agent` as the user agent.
  // Never null. Thread-safe.
  virtual std::unique_ptr<WebPage> OpenHiddenPage(const std::string& agent, PageEventHandler onEvent) = 0;
};

}  // namespace platform
