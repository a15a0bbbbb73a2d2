#include "platform/win32/win32_window.h"

#include <functional>

#include "platform/win32/win32_api.h"

namespace platform {

namespace {

constexpr const char* kWindowClass = "WebsetupDialogWindow";
constexpr int kTextLineHeight = 20;
constexpr int kTextMargin = 8;

class Win32Window;
LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void RegisterClassOnce() {
  static const bool registered = [] {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &WindowProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hIcon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(128));
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kWindowClass;
    return RegisterClassExA(&windowClass) != 0;
  }();
  (void)registered;
}

class Win32Window : public DialogWindow {
 public:
  explicit Win32Window(bool visible) {
    RegisterClassOnce();
    window_ = CreateWindowExA(0, kWindowClass, "", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                              CW_USEDEFAULT, CW_USEDEFAULT, 400, 300, nullptr, nullptr, GetModuleHandleA(nullptr),
                              nullptr);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    if (visible) Show();
  }

  // The window's own messages: the brand colour as its background, and the
  // close button or Alt+F4 handed to the owner instead of closing.
  bool Handle(UINT message, WPARAM wParam, LRESULT& result) {
    if (message == WM_ERASEBKGND && brush_ != nullptr) {
      RECT area;
      GetClientRect(window_, &area);
      FillRect(reinterpret_cast<HDC>(wParam), &area, brush_);
      result = 1;
      return true;
    }
    if (message == WM_CLOSE) {
      if (onClose_) onClose_();
      result = 0;
      return true;
    }
    return false;
  }

  void SetCloseRequestHandler(std::function<void()> handler) override { onClose_ = std::move(handler); }
  ~Win32Window() override {
    SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    if (window_ != nullptr) DestroyWindow(window_);
    if (brush_ != nullptr) DeleteObject(brush_);
  }

  void SetTitle(const std::string& title) override { SetWindowTextA(window_, title.c_str()); }

  void SetText(const std::string& text) override {
    RECT area{};
    GetClientRect(window_, &area);
    CreateWindowExA(0, "STATIC", text.c_str(), WS_CHILD | WS_VISIBLE, kTextMargin,
                    kTextMargin + lines_ * kTextLineHeight, area.right - 2 * kTextMargin, kTextLineHeight, window_,
                    nullptr, GetModuleHandleA(nullptr), nullptr);
    ++lines_;
  }

  void SetTopmost() override { SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE); }

  void SetBackground(const Colour& colour) override {
    if (brush_ != nullptr) DeleteObject(brush_);
    brush_ = CreateSolidBrush(RGB(colour.r, colour.g, colour.b));
    InvalidateRect(window_, nullptr, TRUE);
  }

  void FitClient(int width, int height) override {
    RECT frame{0, 0, width, height};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrA(window_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrA(window_, GWL_EXSTYLE)));
    const int frameWidth = frame.right - frame.left;
    const int frameHeight = frame.bottom - frame.top;
    RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoA(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor)) work = monitor.rcWork;
    const int left = work.left + ((work.right - work.left) - frameWidth) / 2;
    const int top = work.top + ((work.bottom - work.top) - frameHeight) / 2;
    SetWindowPos(window_, nullptr, left, top, frameWidth, frameHeight, SWP_NOZORDER | SWP_NOACTIVATE);
  }

  void Show() override { ShowWindow(window_, SW_SHOW); }
  void Hide() override { ShowWindow(window_, SW_HIDE); }
  bool Visible() const override { return IsWindowVisible(window_) != 0; }

 private:
  HWND window_ = nullptr;
  HBRUSH brush_ = nullptr;
  int lines_ = 0;
  std::function<void()> onClose_;
};

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  auto* owner = reinterpret_cast<Win32Window*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (owner != nullptr && owner->Handle(message, wParam, result)) return result;
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

std::unique_ptr<DialogWindow> Win32WindowFactory::CreateDialogWindow(int /*templateId*/, bool visible) {
  return std::make_unique<Win32Window>(visible);
}

}  // namespace platform
