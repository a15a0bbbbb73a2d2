#include "platform/win32/win32_window.h"

#include <functional>
#include <vector>

#include "platform/win32/win32_api.h"

namespace platform {

namespace {

constexpr const char* kWindowClass = "WebsetupDialogWindow";
constexpr int kTextLineHeight = 20;
constexpr int kTextMargin = 8;

class Win32Window;
LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

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
  Win32Window(int templateId, bool visible) {
    const HINSTANCE module = GetModuleHandleA(nullptr);
    // A modeless dialog of the template: the main loop runs it, so that the
    // application's thread messages keep arriving while it is open.
    window_ = CreateDialogParamA(module, MAKEINTRESOURCEA(templateId), nullptr, &DialogProcedure,
                                 reinterpret_cast<LPARAM>(this));
    if (window_ == nullptr) {
      // No such template in the program: a plain window of the same kind.
      RegisterClassOnce();
      window_ = CreateWindowExA(0, kWindowClass, "", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                CW_USEDEFAULT, CW_USEDEFAULT, 400, 300, nullptr, nullptr, module, nullptr);
      SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    const HICON icon = LoadIconA(module, MAKEINTRESOURCEA(128));
    if (icon != nullptr) SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    if (visible) Show();
  }

  // The window's own messages: the brand colour as its background and its
  // controls' background, the close button or Alt+F4 handed to the owner
  // instead of closing, and Enter and Escape (the dialog's OK and Cancel)
  // closing nothing.
  bool Handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
      case WM_ERASEBKGND:
        if (brush_ == nullptr) return false;
        {
          RECT area;
          GetClientRect(window_, &area);
          FillRect(reinterpret_cast<HDC>(wParam), &area, brush_);
        }
        result = 1;
        return true;
      case WM_CTLCOLORDLG:
      case WM_CTLCOLORSTATIC:
      case WM_CTLCOLORBTN:
      case WM_CTLCOLOREDIT:
      case WM_CTLCOLORLISTBOX:
      case WM_CTLCOLORSCROLLBAR:
        if (brush_ == nullptr) return false;
        if (message == WM_CTLCOLORSTATIC) {
          SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
          SetTextColor(reinterpret_cast<HDC>(wParam), textColour_);
        }
        result = reinterpret_cast<LRESULT>(brush_);
        return true;
      case WM_CLOSE:
        if (onClose_) onClose_();
        result = 0;
        return true;
      case WM_COMMAND:
        if (lParam == 0 && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
          result = 0;
          return true;
        }
        return false;
      default:
        return false;
    }
  }

  void SetCloseRequestHandler(std::function<void()> handler) override { onClose_ = std::move(handler); }
  ~Win32Window() override {
    SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    SetWindowLongPtrA(window_, DWLP_USER, 0);
    if (window_ != nullptr) DestroyWindow(window_);
    if (brush_ != nullptr) DeleteObject(brush_);
  }

  HWND Native() const { return window_; }

  void SetTitle(const std::string& title) override { SetWindowTextA(window_, title.c_str()); }

  // The template's empty static texts are filled first, in order; after
  // them a line is added below the last.
  void SetText(const std::string& text) override {
    if (HWND slot = NextEmptyText()) {
      SetWindowTextA(slot, text.c_str());
      return;
    }
    RECT area{};
    GetClientRect(window_, &area);
    const HWND line = CreateWindowExA(0, "STATIC", text.c_str(), WS_CHILD | WS_VISIBLE, kTextMargin,
                                      kTextMargin + lines_ * kTextLineHeight, area.right - 2 * kTextMargin,
                                      kTextLineHeight, window_, nullptr, GetModuleHandleA(nullptr), nullptr);
    SendMessageA(line, WM_SETFONT, SendMessageA(window_, WM_GETFONT, 0, 0), TRUE);
    ++lines_;
  }

  void SetTopmost() override { SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE); }

  void SetBackground(const Colour& colour) override {
    if (brush_ != nullptr) DeleteObject(brush_);
    brush_ = CreateSolidBrush(RGB(colour.r, colour.g, colour.b));
    // Texts on the brand colour stay readable: white on a dark colour.
    const int luminance = (299 * colour.r + 587 * colour.g + 114 * colour.b) / 1000;
    textColour_ = luminance < 128 ? RGB(255, 255, 255) : RGB(0, 0, 0);
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

  void Show() override {
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);
  }
  void Hide() override { ShowWindow(window_, SW_HIDE); }
  bool Visible() const override { return IsWindowVisible(window_) != 0; }

  // Called by the dialog procedure before CreateDialogParamA returns.
  void Attach(HWND window) { window_ = window; }

 private:
  HWND NextEmptyText() const {
    for (HWND child = GetWindow(window_, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
      char className[16] = {};
      GetClassNameA(child, className, sizeof className);
      if (lstrcmpiA(className, "Static") == 0 && GetWindowTextLengthA(child) == 0) return child;
    }
    return nullptr;
  }

  HWND window_ = nullptr;
  HBRUSH brush_ = nullptr;
  COLORREF textColour_ = RGB(0, 0, 0);
  int lines_ = 0;
  std::function<void()> onClose_;
};

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  auto* owner = reinterpret_cast<Win32Window*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (owner != nullptr && owner->Handle(message, wParam, lParam, result)) return result;
  return DefWindowProcA(window, message, wParam, lParam);
}

INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* owner = reinterpret_cast<Win32Window*>(lParam);
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    owner->Attach(window);
    return TRUE;
  }
  auto* owner = reinterpret_cast<Win32Window*>(GetWindowLongPtrA(window, DWLP_USER));
  LRESULT result = 0;
  if (owner == nullptr || !owner->Handle(message, wParam, lParam, result)) return FALSE;
  // The colour messages answer with the brush itself; the others through
  // the dialog's result slot.
  if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) return static_cast<INT_PTR>(result);
  SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
  return TRUE;
}

}  // namespace

std::unique_ptr<DialogWindow> Win32WindowFactory::CreateDialogWindow(int templateId, bool visible) {
  return std::make_unique<Win32Window>(templateId, visible);
}

HWND NativeWindowOf(DialogWindow& window) {
  auto* win32 = dynamic_cast<Win32Window*>(&window);
  return win32 ? win32->Native() : nullptr;
}

}  // namespace platform
