#include "platform/win32/activex_movie.h"

#include <cstdio>
#include <set>
#include <string>

#include "platform/win32/ole_site.h"
#include "platform/win32/win32_window.h"

namespace platform {

// {D27CDB6E-AE6D-11CF-96B8-444553540000}
const CLSID kMovieControlClass = {0xD27CDB6E, 0xAE6D, 0x11CF, {0x96, 0xB8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

namespace {

std::string Hex(HRESULT result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
  return text;
}

// The windows of the hosted movie controls. A right click on a movie opens
// the player's own menu, which is not the installer's: the main thread's
// message hook takes right-button-down messages aimed at these windows
// away before they are dispatched. Main thread only.
std::set<HWND>& MovieWindows() {
  static std::set<HWND> windows;
  return windows;
}

LRESULT CALLBACK FilterRightClicks(int code, WPARAM wParam, LPARAM lParam) {
  auto* message = reinterpret_cast<MSG*>(lParam);
  if (code == HC_ACTION && wParam == PM_REMOVE && message->message == WM_RBUTTONDOWN) {
    for (HWND window : MovieWindows()) {
      if (message->hwnd == window || IsChild(window, message->hwnd)) {
        message->message = WM_NULL;
        break;
      }
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The command sink of a control, shared with the tasks that carry its
// commands, so that a command queued before the control ended is dropped.
struct CommandTarget {
  MovieCommandSink sink;
};

class ActiveXMovie : public MovieControl {
 public:
  ActiveXMovie(MainLoop& loop, MovieCommandSink sink, SessionLog* log)
      : loop_(loop), target_(std::make_shared<CommandTarget>(CommandTarget{std::move(sink)})), log_(log) {}
  ~ActiveXMovie() override {
    if (window_ != nullptr) MovieWindows().erase(window_);
    control_.Close();
  }

  HRESULT Open(HWND parent, int controlId, bool visible) {
    std::weak_ptr<CommandTarget> target = target_;
    MainLoop& loop = loop_;
    // A control may raise its event from inside one of our calls; the
    // command reaches the dialog through the main loop all the same.
    auto onEvent = [target, &loop](DISPID id, const std::vector<VARIANT*>& args) {
      if (id != kDispFSCommand) return;
      const std::string command = args.empty() ? std::string() : VariantText(args[0]);
      const std::string text = args.size() < 2 ? std::string() : VariantText(args[1]);
      PostTask(loop, [target, command, text] {
        if (const auto t = target.lock())
          if (t->sink) t->sink(command, text);
      });
    };
    const HRESULT result = control_.Create(kMovieControlClass, parent, RECT{0, 0, 0, 0}, visible, onEvent);
    if (FAILED(result) || !visible) return result;
    if (auto* window = static_cast<IOleWindow*>(control_.Query(IID_IOleInPlaceObject))) {
      window->GetWindow(&window_);
      window->Release();
    }
    if (window_ != nullptr) {
      SetWindowLongPtrA(window_, GWLP_ID, controlId);
      MovieWindows().insert(window_);
    }
    return result;
  }

  void SetMovie(const std::string& address) override {
    Check("Movie", control_.PutProperty(kDispMovie, TextVariant(address)));
  }
  void SetQuality(int32_t quality) override {
    Check("Quality", control_.PutProperty(kDispQuality, IntVariant(quality)));
  }
  void SetScaleMode(int32_t mode) override {
    Check("ScaleMode", control_.PutProperty(kDispScaleMode, IntVariant(mode)));
  }
  void Play() override { Check("Play", control_.CallMethod(kDispPlay, {})); }
  int32_t FlashVersion() override {
    VARIANT answer;
    const HRESULT result = control_.CallMethod(kDispFlashVersion, {}, &answer);
    Check("FlashVersion", result);
    int32_t version = 0;
    if (SUCCEEDED(result) && SUCCEEDED(VariantChangeType(&answer, &answer, 0, VT_I4))) version = answer.lVal;
    VariantClear(&answer);
    return version;
  }
  void SetVariable(const std::string& name, const std::string& value) override {
    Check("SetVariable", control_.CallMethod(kDispSetVariable, {TextVariant(name), TextVariant(value)}));
  }
  void TCallLabel(const std::string& target, const std::string& label) override {
    Check("TCallLabel", control_.CallMethod(kDispTCallLabel, {TextVariant(target), TextVariant(label)}));
  }
  void SetSize(int width, int height) override { control_.Place(RECT{0, 0, width, height}); }

 private:
  // A call the control refused changes nothing on the screen; it is
  // logged so that a movie that stops answering can be traced.
  void Check(const char* operation, HRESULT result) {
    if (FAILED(result)) LogLine(log_, std::string("movie control: ") + operation + " failed: " + Hex(result));
  }

  MainLoop& loop_;
  std::shared_ptr<CommandTarget> target_;
  SessionLog* log_;
  OleControl control_;
  HWND window_ = nullptr;
};

}  // namespace

ActiveXMovieHost::ActiveXMovieHost(MainLoop& mainLoop, std::unique_ptr<MovieHost> fallback, SessionLog* log)
    : mainLoop_(mainLoop), fallback_(std::move(fallback)), log_(log) {
  oleReady_ = SUCCEEDED(OleInitialize(nullptr));
  if (oleReady_) hook_ = SetWindowsHookExA(WH_GETMESSAGE, FilterRightClicks, nullptr, GetCurrentThreadId());
}

ActiveXMovieHost::~ActiveXMovieHost() {
  if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
  if (oleReady_) OleUninitialize();
}

std::unique_ptr<MovieControl> ActiveXMovieHost::CreateControl(DialogWindow& parent, int controlId, bool visible,
                                                              MovieCommandSink sink) {
  const HWND window = NativeWindowOf(parent);
  if (oleReady_ && window != nullptr) {
    auto control = std::make_unique<ActiveXMovie>(mainLoop_, sink, log_);
    const HRESULT result = control->Open(window, controlId, visible);
    if (SUCCEEDED(result)) return control;
    LogLine(log_, result == REGDB_E_CLASSNOTREG ? std::string("movie control: not registered")
                                                : "movie control: cannot be made or activated: " + Hex(result));
  }
  if (!fallback_) return nullptr;
  LogLine(log_, "movie control: the built-in player draws the movie");
  return fallback_->CreateControl(parent, controlId, visible, std::move(sink));
}

}  // namespace platform
