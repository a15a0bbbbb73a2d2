// Hidden web pages in WebKit: a page opened by a report thread loads in a
// real browser (its own requests are made, with the installer's agent) and
// ends with one event; a page that stalls ends at its bound.
#include "platform/gtk/webkit_browser.h"

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <cstdlib>
#include <thread>

#include "platform/gtk/gtk_main_loop.h"
#include "platform/gtk/web_engine.h"
#include "support/refserver.h"
#include "support/temp_dir.h"

namespace {

using testing_support::RefServer;
using testing_support::RefServerOptions;
using testing_support::TempDir;
using testing_support::WriteFile;

class WebKitBrowserTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0' || !gtk_init_check(nullptr, nullptr))
      GTEST_SKIP() << "no display (the suite runs these tests under xvfb-run)";
  }

  // Opens `address` from another thread, as a report thread does, while
  // the main thread runs the loop; the event, or nothing.
  std::optional<platform::PageEvent> Load(platform::Browser& browser, const std::string& address,
                                          std::chrono::milliseconds bound) {
    std::atomic<bool> finished{false};
    std::optional<platform::PageEvent> seen;
    std::thread reporter([&] {
      Open(browser, address, bound, seen);
      finished = true;
      loop_.Wake();
    });
    loop_.WaitUntil([&] { return finished.load(); });
    reporter.join();
    return seen;
  }

  static void Open(platform::Browser& browser, const std::string& address, std::chrono::milliseconds bound,
                   std::optional<platform::PageEvent>& seen) {
      std::mutex lock;
      std::condition_variable arrived;
      std::unique_ptr<platform::WebPage> page = browser.OpenHiddenPage("Quorix", [&](platform::PageEvent event) {
        std::lock_guard<std::mutex> held(lock);
        seen = event;
        arrived.notify_all();
      });
      if (page->Navigate(address, bound)) {
        std::unique_lock<std::mutex> held(lock);
        arrived.wait_for(held, bound + std::chrono::seconds(10), [&] { return seen.has_value(); });
      }
      page->Close();
  }

  platform::GtkMainLoop loop_;
};

TEST_F(WebKitBrowserTest, PixelPageLoadsWithItsOwnRequests) {
  TempDir files;
  WriteFile(files / "pixel/page.html", "<html><body><img src=\"dot.html\"></body></html>");
  WriteFile(files / "pixel/dot.html", "dot");
  RefServerOptions options;
  options.filesDir = files.path();
  RefServer server(options);
  platform::WebEngine engine({server.caFile(), {}});
  platform::WebKitBrowser browser(engine);

  const std::string base = "https://localhost:" + std::to_string(server.httpsPort()) + "/files/pixel/";
  EXPECT_EQ(Load(browser, base + "page.html?ac=1&isid=7", std::chrono::seconds(20)),
            platform::PageEvent::DocumentComplete);
  bool page = false, dot = false;
  for (const auto& request : server.Requests()) {
    page |= request.path == "/files/pixel/page.html" && request.userAgent == "Quorix";
    dot |= request.path == "/files/pixel/dot.html";
  }
  EXPECT_TRUE(page) << "the page was not asked for with the installer's agent";
  EXPECT_TRUE(dot) << "the page's own request was not made";

  server.Misbehave("stall", "/files/pixel/page.html", 1, "", 20);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Load(browser, base + "page.html", std::chrono::seconds(1)), platform::PageEvent::Error);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
