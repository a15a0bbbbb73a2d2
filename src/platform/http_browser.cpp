#include "platform/http_browser.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kPageReadChunk = 16384;
constexpr int kMaxConnectSeconds = 60;

// One page: the load runs on a thread of the page's own, which Close joins.
// Every read is bounded by the session's idle time-out (the page's bound),
// and the loop gives up between reads once the bound has passed or the
// page was closed, so Close waits at most one bound.
class HttpPage : public WebPage {
 public:
  HttpPage(HttpClient& http, std::string agent, PageEventHandler onEvent)
      : http_(http), agent_(std::move(agent)), onEvent_(std::move(onEvent)) {}
  ~HttpPage() override { Close(); }

  bool Navigate(const std::string& address, std::chrono::milliseconds bound) override {
    Close();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = false;
    }
    stop_ = false;
    const int boundSeconds = static_cast<int>(std::max<int64_t>(
        1, std::chrono::duration_cast<std::chrono::seconds>(bound + std::chrono::milliseconds(999)).count()));
    HttpTimeouts timeouts;
    timeouts.connectSeconds = std::min(kMaxConnectSeconds, boundSeconds);
    timeouts.idleSeconds = boundSeconds;
    const Clock::time_point deadline = Clock::now() + bound;
    try {
      loader_ = std::thread([this, address, timeouts, deadline] { Load(address, timeouts, deadline); });
    } catch (const std::system_error&) {
      return false;
    }
    return true;
  }

  void Close() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
    }
    stop_ = true;
    if (loader_.joinable()) loader_.join();
  }

 private:
  void Load(const std::string& address, const HttpTimeouts& timeouts, Clock::time_point deadline) {
    bool complete = false;
    {
      std::unique_ptr<HttpDownloadSession> session = http_.OpenSession(agent_, timeouts);
      std::unique_ptr<HttpStream> stream = session->OpenUrl(address, nullptr);
      std::vector<char> buffer(kPageReadChunk);
      while (stream && !stop_ && Clock::now() < deadline) {
        size_t received = 0;
        if (!stream->Read(buffer.data(), buffer.size(), &received)) break;
        if (received == 0) {
          complete = true;
          break;
        }
      }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!closed_) onEvent_(complete ? PageEvent::DocumentComplete : PageEvent::Error);
  }

  HttpClient& http_;
  const std::string agent_;
  const PageEventHandler onEvent_;
  std::mutex mutex_;  // held while an event is delivered, so Close waits for it
  bool closed_ = false;
  std::atomic<bool> stop_{false};
  std::thread loader_;
};

}  // namespace

std::unique_ptr<WebPage> HttpBrowser::OpenHiddenPage(const std::string& agent, PageEventHandler onEvent) {
  return std::make_unique<HttpPage>(http_, agent, std::move(onEvent));
}

}  // namespace platform
