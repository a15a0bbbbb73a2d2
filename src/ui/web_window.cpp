#include "ui/web_window.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

#include "app/installer_app.h"
#include "net/http_post.h"
#include "net/key_value_text.h"
#include "net/request_forms.h"
#include "platform/path.h"

namespace ui {

namespace {

// Widths of the values the page address takes from a parameter text.
constexpr size_t kSnWidth = 43;
constexpr size_t kLcWidth = 23;
constexpr size_t kLangIdWidth = 3;
constexpr size_t kAnchorWidth = 31;
constexpr size_t kPairCount = 6;
constexpr size_t kAddressReplyCapacity = 1000;

// A value of a parameter text, decoded and cut to `width` characters.
std::string ParamValue(std::string_view text, std::string_view key, size_t width = std::string::npos) {
  std::string value = net::FormDecode(net::GetValue(text, key));
  if (value.size() > width) value.resize(width);
  return value;
}

void AppendParam(std::string& text, std::string_view key, std::string_view value) {
  text += key;
  text += net::FormEncode(value);
}

// What the page reported, shared with its browser's thread.
struct PageOutcome {
  std::mutex lock;
  std::condition_variable reported;
  std::optional<platform::PageEvent> event;
};

// The ShowDispatch diagnostic: a copy of the address, for whoever looks.
void WriteShowDispatch(platform::FileSystem& files, const std::string& address) {
  if (!files.Exists(platform::NativePath(kShowDispatchSwitch))) return;
  std::unique_ptr<platform::File> file = files.CreateForWrite(platform::NativePath(kShowDispatchFile), nullptr);
  if (!file) return;
  (void)file->Write(address.data(), address.size());
  (void)file->Close();
}

// Action 12: webPixel1 and webPixel2 from the server's reply, or both
// cleared when the exchange fails.
void FetchPixelAddresses(app::CInstallerApp& app) {
  std::string serverSerial;
  {
    std::lock_guard<std::mutex> lock(app.textLock);
    serverSerial = app.serverSerial.str();
  }
  std::string reply;
  const net::PostResult result =
      net::CommunicatePost(app.Platform(), app.appName.str(), app.serverAddress,
                           net::BuildWebPixelAddressRequest(serverSerial), reply, kAddressReplyCapacity);
  std::lock_guard<std::mutex> lock(app.textLock);
  if (result != net::PostResult::Ok) {
    app.webPixel1.Clear();
    app.webPixel2.Clear();
    return;
  }
  app.webPixel1 = net::GetValue(reply, "~pix1=");
  app.webPixel2 = net::GetValue(reply, "~pix2=");
}

}  // namespace

std::string PixelParamText(const PixelPage& page) {
  std::string text;
  AppendParam(text, "~sn=", page.serverSerial);
  AppendParam(text, "~msn=", page.serial);
  AppendParam(text, "~pn1=", "affsd");
  AppendParam(text, "~pv1=", page.affiliateSub);
  AppendParam(text, "~pn2=", "ac");
  AppendParam(text, "~pv2=", std::to_string(page.eventCode));
  AppendParam(text, "~pn3=", "aname");
  AppendParam(text, "~pv3=", page.affiliate);
  AppendParam(text, "~pn4=", "isid");
  AppendParam(text, "~pv4=", page.sessionId);
  AppendParam(text, "~url=", page.address);
  if (page.eventCode == net::kPixelFailure) {
    AppendParam(text, "~pn5=", "ier");
    AppendParam(text, "~pv5=", std::to_string(page.finalCode));
    AppendParam(text, "~pn6=", "ies");
    AppendParam(text, "~pv6=", std::to_string(page.stepAtFinal));
  }
  return text;
}

std::string PageAddress(std::string_view paramText) {
  std::string address = ParamValue(paramText, "~url=");
  address += address.find('?') != std::string::npos ? "&" : "?";
  for (size_t i = 1; i <= kPairCount; ++i) {
    const std::string index = std::to_string(i);
    const std::string name = ParamValue(paramText, "~pn" + index + "=", net::kPairNameWidth);
    const std::string value = ParamValue(paramText, "~pv" + index + "=", net::kPairValueWidth);
    if (name.empty() || value.empty()) continue;
    address += net::FormEncode(name) + "=" + net::FormEncode(value) + "&";
  }
  address += "lc=" + net::FormEncode(ParamValue(paramText, "~lc=", kLcWidth));
  address += "&langID=" + net::FormEncode(ParamValue(paramText, "~langID=", kLangIdWidth));
  address += "&sn=" + net::FormEncode(ParamValue(paramText, "~sn=", kSnWidth));
  address += "&anchor=" + net::FormEncode(ParamValue(paramText, "~anchor=", kAnchorWidth));
  address += "&pid=1";
  return address;
}

bool LoadPage(platform::Browser& browser, const std::string& agent, const std::string& address,
              std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  auto outcome = std::make_shared<PageOutcome>();
  std::unique_ptr<platform::WebPage> page = browser.OpenHiddenPage(agent, [outcome](platform::PageEvent event) {
    std::lock_guard<std::mutex> lock(outcome->lock);
    outcome->event = event;
    outcome->reported.notify_all();
  });
  if (!page->Navigate(address, bound)) return false;
  bool complete;
  {
    std::unique_lock<std::mutex> lock(outcome->lock);
    outcome->reported.wait_until(lock, deadline, [&] { return outcome->event.has_value(); });
    complete = outcome->event == platform::PageEvent::DocumentComplete;
  }
  page->Close();
  return complete;
}

bool RunWebWindow(app::CInstallerApp& app, const std::string& paramText, std::chrono::milliseconds bound) {
  const std::string address = PageAddress(paramText);
  const platform::Platform& p = app.Platform();
  WriteShowDispatch(*p.files, address);
  if (p.browser == nullptr) return false;
  return LoadPage(*p.browser, app.appName.str(), address, bound);
}

bool OpenPixelPage(app::CInstallerApp& app, unsigned eventCode, const std::string& address,
                   std::chrono::milliseconds bound) {
  PixelPage page;
  page.address = address;
  {
    std::lock_guard<std::mutex> lock(app.textLock);
    page.serverSerial = app.serverSerial.str();
  }
  page.serial = app.serial.str();
  page.affiliateSub = app.affiliateSub.str();
  page.eventCode = eventCode;
  page.affiliate = app.affiliate.str();
  page.sessionId = app.sessionId.str();
  page.finalCode = app.stats.finalCode.load();
  page.stepAtFinal = app.stats.stepAtFinal.load();
  return RunWebWindow(app, PixelParamText(page), bound);
}

void ShowWebPixels(app::CInstallerApp& app, unsigned eventCode, std::chrono::milliseconds pageBound) {
  {
    std::lock_guard<std::mutex> reportLock(app.reportLock);
    bool fetch;
    {
      std::lock_guard<std::mutex> lock(app.textLock);
      fetch = app.webPixel1.empty();
    }
    if (fetch) FetchPixelAddresses(app);
    std::string first, second;
    {
      std::lock_guard<std::mutex> lock(app.textLock);
      first = app.webPixel1.str();
      second = app.webPixel2.str();
    }
    if (!first.empty()) {
      (void)OpenPixelPage(app, eventCode, first, pageBound);
      if (!second.empty()) (void)OpenPixelPage(app, eventCode, second, pageBound);
    }
  }
  if (eventCode == net::kPixelSuccess || eventCode == net::kPixelFailure) app.PostReportDone();
}

void InstallWebPixels(app::CInstallerApp& app, std::chrono::milliseconds pageBound) {
  app.Reports().SetWebPixelSender([&app, pageBound](unsigned code) { ShowWebPixels(app, code, pageBound); });
}

}  // namespace ui
