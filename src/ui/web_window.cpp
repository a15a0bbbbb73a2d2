#include "ui/web_window.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

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
constexpr size_t kPageReadChunk = 16384;
constexpr int kMaxConnectSeconds = 60;

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

// The page as the helper thread sees it; shared with the caller, who may
// stop waiting for it at the bound.
struct PageLoad {
  std::mutex lock;
  std::condition_variable ended;
  bool finished = false;
  bool complete = false;
};

// Reads the page to its end, checking the deadline between reads (a read
// itself is bounded by the session's idle time-out).
bool ReadPage(platform::HttpDownloadSession& session, const std::string& address,
              std::chrono::steady_clock::time_point deadline) {
  std::unique_ptr<platform::HttpStream> stream = session.OpenUrl(address, nullptr);
  if (!stream) return false;
  std::vector<char> buffer(kPageReadChunk);
  while (std::chrono::steady_clock::now() < deadline) {
    size_t received = 0;
    if (!stream->Read(buffer.data(), buffer.size(), &received)) return false;
    if (received == 0) return true;
  }
  return false;
}

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

bool LoadPage(platform::HttpClient& http, const std::string& agent, const std::string& address,
              std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  const int boundSeconds = static_cast<int>(std::max<int64_t>(
      1, std::chrono::duration_cast<std::chrono::seconds>(bound + std::chrono::milliseconds(999)).count()));
  platform::HttpTimeouts timeouts;
  timeouts.connectSeconds = std::min(kMaxConnectSeconds, boundSeconds);
  timeouts.idleSeconds = boundSeconds;
  std::unique_ptr<platform::HttpDownloadSession> session = http.OpenSession(agent, timeouts);

  // The transfer runs on a helper that owns the session, so that the page
  // can be left at the bound even while a read is waiting. The helper gives
  // up the session before it says it has ended: a caller that saw the end
  // has nothing of it still in use.
  auto load = std::make_shared<PageLoad>();
  auto run = [load, address, deadline](std::unique_ptr<platform::HttpDownloadSession> owned) {
    const bool complete = ReadPage(*owned, address, deadline);
    owned.reset();
    std::lock_guard<std::mutex> lock(load->lock);
    load->finished = true;
    load->complete = complete;
    load->ended.notify_all();
  };
  try {
    std::thread(run, std::move(session)).detach();
  } catch (const std::system_error&) {
    // No helper to be had (the session went with the failed start): load
    // on this thread, bounded by the idle time-out.
    run(http.OpenSession(agent, timeouts));
  }
  std::unique_lock<std::mutex> lock(load->lock);
  load->ended.wait_until(lock, deadline, [&] { return load->finished; });
  return load->finished && load->complete;
}

bool RunWebWindow(app::CInstallerApp& app, const std::string& paramText, std::chrono::milliseconds bound) {
  const std::string address = PageAddress(paramText);
  const platform::Platform& p = app.Platform();
  WriteShowDispatch(*p.files, address);
  return LoadPage(*p.http, app.appName.str(), address, bound);
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
