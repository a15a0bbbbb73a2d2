#include "platform/win32/web_browser_win32.h"

#include <chrono>
#include <future>
#include <mutex>
#include <thread>

#include "platform/http_browser.h"
#include "platform/win32/ole_site.h"

#include <exdisp.h>
#include <exdispid.h>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// {8856F961-340A-11D0-A96B-00C04FD705A2}
const CLSID kWebBrowserClass = {0x8856F961, 0x340A, 0x11D0, {0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7, 0x05, 0xA2}};
// {34A715A0-6587-11D0-924A-0020AFC7AC4D}: the browser's events.
const IID kBrowserEvents = {0x34A715A0, 0x6587, 0x11D0, {0x92, 0x4A, 0x00, 0x20, 0xAF, 0xC7, 0xAC, 0x4D}};
constexpr DISPID kDispNavigate = 104;

// One page in the browser control. Its thread makes the control, starts
// the navigation, runs the messages of both until the page is closed and
// lets everything go on its way out; Close joins it.
class ControlPage : public WebPage {
 public:
  ControlPage(HttpClient& http, std::string agent, PageEventHandler onEvent, std::atomic<int>& loads)
      : http_(http), agent_(std::move(agent)), onEvent_(std::move(onEvent)), loads_(loads) {}
  ~ControlPage() override { Close(); }

  bool Navigate(const std::string& address, std::chrono::milliseconds bound) override {
    Close();
    reported_ = false;
    closing_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (closing_ == nullptr) return false;
    std::promise<bool> started;
    std::future<bool> made = started.get_future();
    try {
      thread_ = std::thread([this, address, bound, started = std::move(started)]() mutable {
        Run(address, Clock::now() + bound, started);
      });
    } catch (const std::system_error&) {
      return false;
    }
    if (made.get()) {
      ++loads_;
      return true;
    }
    // No browser control on this machine: a plain GET of the page.
    thread_.join();
    fallback_ = HttpBrowser(http_).OpenHiddenPage(agent_, onEvent_);
    return fallback_->Navigate(address, bound);
  }

  void Close() override {
    if (fallback_) fallback_->Close();
    if (thread_.joinable()) {
      SetEvent(closing_);
      thread_.join();
    }
    if (closing_ != nullptr) CloseHandle(closing_);
    closing_ = nullptr;
  }

 private:
  // The first event of a navigation is the only one delivered.
  void Report(PageEvent event) {
    if (reported_.exchange(true)) return;
    onEvent_(event);
  }

  void Run(const std::string& address, Clock::time_point deadline, std::promise<bool>& started) {
    const bool ole = SUCCEEDED(OleInitialize(nullptr));
    const HWND window =
        ole ? CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr) : nullptr;
    OleControl browser;
    HRESULT made = E_FAIL;
    if (window != nullptr) {
      made = browser.Create(
          kWebBrowserClass, window, RECT{0, 0, 1, 1}, true,
          [this](DISPID id, const std::vector<VARIANT*>&) {
            if (id == DISPID_DOCUMENTCOMPLETE) Report(PageEvent::DocumentComplete);
            if (id == DISPID_NAVIGATEERROR) Report(PageEvent::Error);
          },
          &kBrowserEvents);
    }
    if (SUCCEEDED(made)) {
      // A page's script errors and prompts must not open windows.
      if (auto* web = static_cast<IWebBrowser2*>(browser.Query(IID_IWebBrowser2))) {
        web->put_Silent(VARIANT_TRUE);
        web->Release();
      }
      VARIANT empty;
      VariantInit(&empty);
      made = browser.CallMethod(kDispNavigate, {TextVariant(address), empty, empty, empty, empty});
    }
    started.set_value(SUCCEEDED(made));
    if (SUCCEEDED(made)) Pump(deadline);
    browser.Close();
    if (window != nullptr) DestroyWindow(window);
    if (ole) OleUninitialize();
  }

  // Runs the thread's messages until the page is closed; the bound, once
  // passed without an event, counts as an error.
  void Pump(Clock::time_point deadline) {
    for (;;) {
      MSG message;
      while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
      DWORD wait = INFINITE;
      if (!reported_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
          Report(PageEvent::Error);
          continue;
        }
        wait = static_cast<DWORD>(left);
      }
      if (MsgWaitForMultipleObjects(1, &closing_, FALSE, wait, QS_ALLINPUT) == WAIT_OBJECT_0) return;
    }
  }

  HttpClient& http_;
  std::string agent_;
  PageEventHandler onEvent_;
  std::atomic<int>& loads_;
  std::atomic<bool> reported_{false};
  HANDLE closing_ = nullptr;
  std::thread thread_;
  std::unique_ptr<WebPage> fallback_;
};

}  // namespace

std::unique_ptr<WebPage> Win32WebBrowser::OpenHiddenPage(const std::string& agent, PageEventHandler onEvent) {
  return std::make_unique<ControlPage>(http_, agent, std::move(onEvent), controlLoads_);
}

}  // namespace platform
