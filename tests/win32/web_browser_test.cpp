// The hidden web window on the browser control. Wine makes the control but
// has no engine to show a page with, so these cases need no page to load:
// a navigation that fails ends at once with the error, a server that never
// answers ends the page at its bound, and closing the page lets go of the
// control's thread at once either way.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "platform/win32/web_browser_win32.h"
#include "platform/win32/wininet_http_client.h"
#include "support/refserver.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Outcome {
  std::optional<platform::PageEvent> event;
  int events = 0;
  milliseconds after{0};    // from Navigate to the event
  milliseconds closing{0};  // how long Close took
};

class Win32WebBrowserTest : public ::testing::Test {
 protected:
  Outcome Load(const std::string& address, milliseconds bound) {
    Outcome outcome;
    std::mutex lock;
    std::condition_variable reported;
    const auto start = Clock::now();
    auto page = browser_.OpenHiddenPage("Quorix", [&](platform::PageEvent event) {
      std::lock_guard<std::mutex> hold(lock);
      if (outcome.events++ == 0) {
        outcome.event = event;
        outcome.after = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
      }
      reported.notify_all();
    });
    EXPECT_TRUE(page->Navigate(address, bound));
    {
      std::unique_lock<std::mutex> hold(lock);
      reported.wait_until(hold, start + bound + std::chrono::seconds(10), [&] { return outcome.event.has_value(); });
    }
    const auto closing = Clock::now();
    page->Close();
    outcome.closing = std::chrono::duration_cast<milliseconds>(Clock::now() - closing);
    return outcome;
  }

  testing_support::RefServer server_;
  platform::WinInetHttpClient http_;
  platform::Win32WebBrowser browser_{http_};
};

TEST_F(Win32WebBrowserTest, AFailedNavigationEndsThePageBeforeItsBound) {
  const Outcome outcome = Load("http://127.0.0.1:1/pixel?ac=20", std::chrono::seconds(20));
  EXPECT_EQ(browser_.ControlLoads(), 1) << "the page was not loaded in the browser control";
  ASSERT_TRUE(outcome.event.has_value());
  EXPECT_EQ(*outcome.event, platform::PageEvent::Error);
  EXPECT_EQ(outcome.events, 1);
  EXPECT_LT(outcome.after, milliseconds(15000));
  EXPECT_LT(outcome.closing, milliseconds(5000));
}

TEST_F(Win32WebBrowserTest, APageThatNeverAnswersEndsAtItsBound) {
  ASSERT_TRUE(server_.started());
  server_.Misbehave("stall", "/servlet/PixelServlet", 1, "", 30);
  const milliseconds bound(2000);
  const Outcome outcome =
      Load("http://127.0.0.1:" + std::to_string(server_.httpPort()) + "/servlet/PixelServlet?ac=20", bound);
  EXPECT_EQ(browser_.ControlLoads(), 1) << "the page was not loaded in the browser control";
  ASSERT_TRUE(outcome.event.has_value());
  EXPECT_EQ(*outcome.event, platform::PageEvent::Error);
  EXPECT_GE(outcome.after, bound);
  EXPECT_LT(outcome.after, bound + milliseconds(5000));
  EXPECT_LT(outcome.closing, milliseconds(5000)) << "closing waited for the stalled server";
}

}  // namespace
