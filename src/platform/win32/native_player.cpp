#include "platform/win32/native_player.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <iterator>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "movie_texts.h"
#include "platform/builtin_movies.h"
#include "platform/win32/win32_api.h"
#include "platform/win32/win32_window.h"

#include <commctrl.h>

namespace platform {

namespace {

constexpr const char* kPlayerClass = "WebsetupNativeMovie";

// Layout in pixels.
constexpr int kMargin = 24;
constexpr int kButtonWidth = 124;
constexpr int kButtonHeight = 30;
constexpr int kButtonGap = 10;
constexpr int kLineHeight = 22;
constexpr COLORREF kBodyColour = RGB(248, 248, 246);
constexpr COLORREF kBodyText = RGB(32, 32, 32);
constexpr COLORREF kQuietText = RGB(96, 96, 96);
constexpr COLORREF kRuleColour = RGB(214, 214, 210);

struct Language {
  const char* code;
  const wchar_t* name;
};
// The movie's languages, each named in its own letters (the page's texts
// are Unicode, whatever the system code page).
constexpr Language kLanguages[] = {
    {"en", L"English"}, {"de", L"Deutsch"}, {"fr", L"Fran\u00E7ais"}, {"es", L"Espa\u00F1ol"}};

using MovieKind = BuiltInMovie;
enum class Page { None, Welcome, Language, Folder, Progress, Error, Licence, Finishing, Offer };

int Permille(const std::string& fraction) {
  const double value = std::strtod(fraction.c_str(), nullptr);
  if (!(value > 0)) return 0;
  return static_cast<int>(std::min(value, 1.0) * 1000 + 0.5);
}

// A full Windows path: a drive and a backslash, or a UNC name.
bool IsFullPath(const std::string& folder) {
  if (folder.size() >= 3 && std::isalpha(static_cast<unsigned char>(folder[0])) && folder[1] == ':' &&
      (folder[2] == '\\' || folder[2] == '/')) {
    return true;
  }
  return folder.size() > 2 && folder[0] == '\\' && folder[1] == '\\';
}

std::string Trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

std::wstring Wide(const std::string& text, UINT codePage) {
  const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  if (length > 0) MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

// The program's texts (names, folders, file names) are in the system code
// page.
std::wstring FromSystem(const std::string& text) { return Wide(text, CP_ACP); }

using Fills = std::vector<std::pair<std::wstring, std::wstring>>;

// The movie's text `key` in `language`, else in English; the installer
// movie's table serves keys the reinstall movie lacks. Placeholders such as
// "{app}" are replaced by `fills`.
std::wstring MovieSays(BuiltInMovie movie, const std::string& language, const std::string& key, const Fills& fills) {
  const auto find = [&](const auto& table, const std::string& wanted) -> const char* {
    for (const MovieText& text : table)
      if (wanted == text.language && key == text.key) return text.text;
    return nullptr;
  };
  const char* text = nullptr;
  if (movie == BuiltInMovie::Reinstall) text = find(kReinstallMovieTexts, language);
  if (text == nullptr && movie == BuiltInMovie::Reinstall) text = find(kReinstallMovieTexts, "en");
  if (text == nullptr) text = find(kInstallerMovieTexts, language);
  if (text == nullptr) text = find(kInstallerMovieTexts, "en");
  std::wstring said = Wide(text != nullptr ? text : key, CP_UTF8);
  for (const auto& [placeholder, value] : fills) {
    for (size_t at = said.find(placeholder); at != std::wstring::npos; at = said.find(placeholder, at + value.size()))
      said.replace(at, placeholder.size(), value);
  }
  return said;
}

// The language a movie address asks for with its "m_Lang" value: its first
// two letters, in lower case; empty when there is none.
std::string LanguageOfAddress(const std::string& address) {
  const size_t at = address.find("m_Lang=");
  if (at == std::string::npos) return {};
  std::string code = address.substr(at + 7, 2);
  for (char& c : code) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return code;
}

LRESULT CALLBACK PlayerProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void RegisterPlayerClass() {
  static const bool registered = [] {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &PlayerProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    windowClass.lpszClassName = kPlayerClass;
    return RegisterClassExA(&windowClass) != 0;
  }();
  (void)registered;
}

// One movie on the screen: its window, its page and what the page shows.
class NativeMovie : public std::enable_shared_from_this<NativeMovie> {
 public:
  NativeMovie(MainLoop& loop, MovieCommandSink sink) : loop_(loop), sink_(std::move(sink)) {
    bodyBrush_ = CreateSolidBrush(kBodyColour);
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    LOGFONTA base{};
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) base = metrics.lfMessageFont;
    lstrcpynA(base.lfFaceName, "Tahoma", LF_FACESIZE);
    base.lfHeight = -13;
    base.lfWeight = FW_NORMAL;
    base.lfQuality = CLEARTYPE_QUALITY;
    bodyFont_ = CreateFontIndirectA(&base);
    base.lfHeight = -22;
    base.lfWeight = FW_BOLD;
    titleFont_ = CreateFontIndirectA(&base);
    base.lfHeight = -14;
    base.lfWeight = FW_BOLD;
    headingFont_ = CreateFontIndirectA(&base);
  }

  ~NativeMovie() {
    if (window_ != nullptr) {
      SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
      DestroyWindow(window_);
    }
    for (HGDIOBJ object : {static_cast<HGDIOBJ>(bodyBrush_), static_cast<HGDIOBJ>(bodyFont_),
                           static_cast<HGDIOBJ>(titleFont_), static_cast<HGDIOBJ>(headingFont_)}) {
      if (object != nullptr) DeleteObject(object);
    }
  }

  bool Open(HWND parent, int controlId, bool visible) {
    RegisterPlayerClass();
    parent_ = parent;
    window_ = CreateWindowExA(WS_EX_CONTROLPARENT, kPlayerClass, "", WS_CHILD | WS_CLIPCHILDREN | (visible ? WS_VISIBLE : 0),
                              0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)),
                              GetModuleHandleA(nullptr), nullptr);
    if (window_ == nullptr) return false;
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return true;
  }

  // --- The movie control's operations ---

  void Load(const std::string& address) {
    variables_.Clear();
    kind_ = BuiltInMovieOf(address);
    ShowPage(Page::None);
    if (kind_ == MovieKind::Installer) {
      Raise("InitPreloader", kInstallerMovieSize);
      Raise("InitDialog", kInstallerMovieSize);
    } else if (kind_ == MovieKind::Reinstall) {
      installedFolder_ = InstallationOfMovie(address);
      languageCode_ = LanguageOfAddress(address);
      Raise("Ready", kReinstallMovieSize);
    }
  }

  void Play() {
    if (kind_ != MovieKind::Installer) return;
    ShowPage(Page::Welcome);
    Raise("Ready", {});
  }

  void SetVariable(const std::string& name, const std::string& value) { variables_.Set(name, value); }

  void CallLabel(const std::string& target, const std::string& label) {
    if (target != "_root" || label != "Data") return;
    const std::string name = variables_.Get("funcName");
    const std::string parm = variables_.Get("funcParm");
    if (kind_ == MovieKind::Reinstall && name == "Msg") return Offer(parm);
    if (kind_ != MovieKind::Installer) return;
    if (name == "InstallDir") return StartPages(parm);
    if (name == "SetDirectory") return TakeDirectory(parm);
    if (name == "SetLA") return ShowPage(Page::Licence);
    if (name == "ErrorMsg") {
      errorReason_ = parm;
      return ShowPage(Page::Error);
    }
    if (name == "Msg") return ShowStatus(parm == "Connecting" ? Say("connecting") : FromSystem(parm));
    if (name == "Performing") {
      updating_ = parm == "Update";
      return ShowStatus(Say(updating_ ? "updating" : "installing"));
    }
    if (name == "SetFileName") return ShowFileName(parm);
    if (name == "SetProgress") return ShowProgress(parm);
  }

  void SetSize(int width, int height) {
    width_ = width;
    height_ = height;
    MoveWindow(window_, 0, 0, width, height, TRUE);
    BuildPage();
  }

  // --- The window ---

  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
      case WM_PAINT:
        Paint();
        return 0;
      case WM_ERASEBKGND:
        return 1;
      case WM_CTLCOLORSTATIC: {
        const HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkColor(dc, kBodyColour);
        SetTextColor(dc, GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == kNativeFolderNote ? kQuietText : kBodyText);
        return reinterpret_cast<LRESULT>(bodyBrush_);
      }
      case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
      case WM_RBUTTONDOWN:  // no context menu of the player
        return 0;
      default:
        return DefWindowProcA(window_, message, wParam, lParam);
    }
  }

 private:
  std::string AppName() const {
    const std::string name = variables_.Get("m_aName");
    return name.empty() ? offeredApp_ : name;
  }

  // The page's words in the movie's language.
  std::wstring Say(const std::string& key, Fills fills = {}) const {
    fills.emplace_back(L"{app}", FromSystem(kind_ == MovieKind::Reinstall ? offeredApp_ : AppName()));
    return MovieSays(kind_, languageCode_, key, fills);
  }

  // Commands reach the dialog through the main loop, never from inside one
  // of the control's calls.
  void Raise(const std::string& command, const std::string& args) {
    PostTask(loop_, [weak = weak_from_this(), command, args] {
      if (const auto movie = weak.lock())
        if (movie->sink_) movie->sink_(command, args);
    });
  }

  // --- Pages ---

  void StartPages(const std::string& parm) {
    // "App~C:\proposed\folder"; empty when the game is registered already.
    const size_t tilde = parm.find('~');
    folder_ = tilde == std::string::npos ? std::string() : parm.substr(tilde + 1);
    installedAlready_ = parm.empty();
    ShowPage(Page::Language);
  }

  void TakeDirectory(const std::string& folder) {
    if (folder.empty()) return;
    folder_ = folder;
    folderNote_.clear();
    if (page_ == Page::Folder) SetDlgItemTextA(window_, kNativeFolderEdit, folder_.c_str());
  }

  void ShowStatus(const std::wstring& text) {
    status_ = text;
    if (page_ != Page::Progress) return ShowPage(Page::Progress);
    SetDlgItemTextW(window_, kNativeStatus, status_.c_str());
  }

  void ShowFileName(const std::string& name) {
    fileName_ = name;
    unpacked_ = false;
    if (page_ != Page::Progress) return ShowPage(Page::Progress);
    SetDlgItemTextW(window_, kNativeFileName, FileLine().c_str());
  }

  void ShowProgress(const std::string& text) {
    const std::vector<std::string> fields = SplitTildeFields(text);
    const auto field = [&](size_t i) { return i < fields.size() ? fields[i] : std::string(); };
    if (field(1).empty() || field(1) == "0") {
      // "0~0~0" starts a run: nothing to show until a file comes.
      figures_.clear();
      fileName_.clear();
      unpacked_ = false;
      filePermille_ = runPermille_ = 0;
    } else {
      const std::string done = field(0);
      // Sizes in plain bytes come from the copy of an unpacked file.
      if (!done.empty() && std::all_of(done.begin(), done.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        unpacked_ = true;
      }
      char rate[32];
      std::snprintf(rate, sizeof rate, "%.1f", std::strtod(field(2).c_str(), nullptr));
      figures_ = Say("figures", {{L"{done}", FromSystem(MovieSizeText(done))},
                                 {L"{total}", FromSystem(MovieSizeText(field(1)))},
                                 {L"{rate}", FromSystem(rate)}});
      filePermille_ = Permille(field(3));
      runPermille_ = Permille(field(4));
    }
    if (page_ != Page::Progress) return ShowPage(Page::Progress);
    SetDlgItemTextW(window_, kNativeFileName, FileLine().c_str());
    SetDlgItemTextW(window_, kNativeFigures, figures_.c_str());
    SendDlgItemMessageA(window_, kNativeFileBar, PBM_SETPOS, filePermille_, 0);
    SendDlgItemMessageA(window_, kNativeRunBar, PBM_SETPOS, runPermille_, 0);
  }

  std::wstring FileLine() const {
    if (unpacked_) return Say("unpacked");
    return fileName_.empty() ? std::wstring() : Say("downloading", {{L"{file}", FromSystem(fileName_)}});
  }

  void Offer(const std::string& offer) {
    // "ReInstall~<app>~Play"
    const std::vector<std::string> fields = SplitTildeFields(offer);
    if (fields.size() > 1 && !fields[1].empty()) offeredApp_ = fields[1];
    ShowPage(Page::Offer);
  }

  void ShowPage(Page page) {
    page_ = page;
    BuildPage();
  }

  std::wstring Heading() const {
    switch (page_) {
      case Page::Welcome: return Say("loading");
      case Page::Language: return Say("chooseLanguage");
      case Page::Folder: return Say("folderTitle");
      case Page::Progress: return Say(updating_ ? "updating" : "installing");
      case Page::Error: return Say("errorTitle");
      case Page::Licence: return Say("licenceTitle");
      case Page::Finishing: return Say("finishing");
      case Page::Offer: return Say("welcome");
      default: return {};
    }
  }

  void BuildPage() {
    if (window_ == nullptr || width_ <= 0 || height_ <= 0) return;
    // The page's controls are made anew for each page and size.
    while (HWND child = GetWindow(window_, GW_CHILD)) DestroyWindow(child);
    const int left = kMargin;
    const int width = width_ - 2 * kMargin;
    int top = BandHeight() + kMargin;
    switch (page_) {
      case Page::Welcome:
      case Page::Finishing:
        // The heading says it all ("Loading the installer", "Starting the game").
        Text(kNativeStatus, L"", left, top, width, kLineHeight);
        break;
      case Page::Language: {
        if (installedAlready_) {
          Text(kNativeFolderNote, Say("installedAlready"), left, top, width, 2 * kLineHeight);
          top += 2 * kLineHeight + 4;
        }
        Text(0, Say("languageHint"), left, top, width, kLineHeight);
        top += kLineHeight + 6;
        const HWND list = Control(L"LISTBOX", kNativeLanguageList, L"",
                                  WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, WS_EX_CLIENTEDGE, left,
                                  top, std::min(width, 260), 4 * 20 + 6);
        SendMessageW(list, LB_SETITEMHEIGHT, 0, 20);
        for (const Language& language : kLanguages)
          SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(language.name));
        SendMessageW(list, LB_SETCURSEL, language_, 0);
        Buttons({{kNativeNext, Say("next")}});
        SetFocus(list);
        break;
      }
      case Page::Folder: {
        Text(0, Say("folderHint"), left, top, width, 2 * kLineHeight);
        top += 2 * kLineHeight + 6;
        const int browseWidth = 120;
        const HWND edit = Control(L"EDIT", kNativeFolderEdit, L"", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, left,
                                  top, width - browseWidth - kButtonGap, 26);
        SetWindowTextA(edit, folder_.c_str());  // a path in the system code page
        Control(L"BUTTON", kNativeBrowse, Say("browse"), WS_TABSTOP | BS_PUSHBUTTON, 0, left + width - browseWidth,
                top - 1, browseWidth, 28);
        top += 26 + 10;
        Text(kNativeFolderNote, folderNote_, left, top, width, 2 * kLineHeight);
        Buttons({{kNativeInstall, Say("install")}});
        SetFocus(edit);
        break;
      }
      case Page::Progress: {
        Text(kNativeStatus, status_, left, top, width, kLineHeight);
        top += kLineHeight + 14;
        Text(kNativeFileName, FileLine(), left, top, width, kLineHeight);
        top += kLineHeight + 4;
        Bar(kNativeFileBar, filePermille_, left, top, width, 14);
        top += 14 + 8;
        Text(kNativeFigures, figures_, left, top, width, kLineHeight);
        top += kLineHeight + 18;
        Text(0, Say("overall"), left, top, width, kLineHeight);
        top += kLineHeight + 4;
        Bar(kNativeRunBar, runPermille_, left, top, width, 22);
        break;
      }
      case Page::Error: {
        // The movie's words for the three failures of the file list.
        const bool known = errorReason_ == "InternalServerError" || errorReason_ == "NoData";
        Text(kNativeErrorText, Say(known ? errorReason_ : "ReceiveData"), left, top, width, 4 * kLineHeight);
        Buttons({{kNativeQuit, Say("quit")}, {kNativeRetry, Say("retry")}});
        break;
      }
      case Page::Licence: {
        const int textHeight = height_ - top - kMargin - kButtonHeight - kMargin;
        Control(L"EDIT", kNativeLicenceText, Say("licence"), ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_TABSTOP,
                WS_EX_CLIENTEDGE, left, top, width, textHeight);
        Buttons({{kNativeDecline, Say("decline")}, {kNativeAccept, Say("accept")}});
        SetFocus(GetDlgItem(window_, kNativeAccept));
        break;
      }
      case Page::Offer:
        Text(kNativeOffer,
             Say("installed") + (installedFolder_.empty() ? std::wstring() : L"\r\n\r\n" + FromSystem(installedFolder_)),
             left, top, width, 4 * kLineHeight);
        Buttons({{kNativeReinstall, Say("reinstall")}, {kNativePlay, Say("play")}});
        SetFocus(GetDlgItem(window_, kNativePlay));
        break;
      case Page::None:
        break;
    }
    InvalidateRect(window_, nullptr, TRUE);
  }

  bool HasButtons() const {
    return page_ == Page::Language || page_ == Page::Folder || page_ == Page::Error || page_ == Page::Licence ||
           page_ == Page::Offer;
  }

  int BandHeight() const { return kind_ == MovieKind::Reinstall ? 64 : 84; }

  HWND Control(const wchar_t* className, int id, const std::wstring& text, DWORD style, DWORD exStyle, int x, int y,
               int w, int h) {
    const HWND control = CreateWindowExW(exStyle, className, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h,
                                         window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                         GetModuleHandleA(nullptr), nullptr);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(bodyFont_), FALSE);
    return control;
  }

  void Text(int id, const std::wstring& text, int x, int y, int w, int h) {
    Control(L"STATIC", id, text, SS_LEFT | SS_NOPREFIX, 0, x, y, w, h);
  }

  void Bar(int id, int permille, int x, int y, int w, int h) {
    const HWND bar = Control(PROGRESS_CLASSW, id, L"", 0, 0, x, y, w, h);
    SendMessageA(bar, PBM_SETRANGE32, 0, 1000);
    SendMessageA(bar, PBM_SETPOS, permille, 0);
  }

  // The page's buttons, right-aligned in the bottom row; the last is the
  // default one.
  void Buttons(std::initializer_list<std::pair<int, std::wstring>> buttons) {
    int x = width_ - kMargin - static_cast<int>(buttons.size()) * (kButtonWidth + kButtonGap) + kButtonGap;
    const int y = height_ - kMargin - kButtonHeight + 6;
    size_t index = 0;
    for (const auto& [id, label] : buttons) {
      const bool last = ++index == buttons.size();
      Control(L"BUTTON", id, label, WS_TABSTOP | (last ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), 0, x, y, kButtonWidth,
              kButtonHeight);
      x += kButtonWidth + kButtonGap;
    }
  }

  // The brand colour: the hosting dialog's background.
  COLORREF BrandColour() const {
    const HDC dc = GetDC(parent_);
    const auto brush = reinterpret_cast<HBRUSH>(SendMessageA(parent_, WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(dc),
                                                             reinterpret_cast<LPARAM>(parent_)));
    ReleaseDC(parent_, dc);
    LOGBRUSH described{};
    if (brush != nullptr && GetObjectA(brush, sizeof described, &described) == sizeof described) return described.lbColor;
    return RGB(204, 204, 204);
  }

  void Paint() {
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(window_, &paint);
    RECT area{0, 0, width_, height_};
    FillRect(dc, &area, bodyBrush_);
    if (page_ != Page::None) {
      const COLORREF brand = BrandColour();
      const HBRUSH bandBrush = CreateSolidBrush(brand);
      RECT band{0, 0, width_, BandHeight()};
      FillRect(dc, &band, bandBrush);
      DeleteObject(bandBrush);
      const int luminance = (299 * GetRValue(brand) + 587 * GetGValue(brand) + 114 * GetBValue(brand)) / 1000;
      const bool dark = luminance < 140;
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, dark ? RGB(255, 255, 255) : RGB(20, 20, 20));
      const HGDIOBJ old = SelectObject(dc, titleFont_);
      RECT title{kMargin, 12, width_ - kMargin, 12 + 30};
      const std::wstring name = FromSystem(kind_ == MovieKind::Reinstall ? offeredApp_ : AppName()) + L" " + Say("setup");
      DrawTextW(dc, name.c_str(), -1, &title, DT_LEFT | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
      SelectObject(dc, headingFont_);
      SetTextColor(dc, dark ? RGB(230, 226, 210) : RGB(60, 60, 60));
      RECT heading{kMargin, 12 + 32, width_ - kMargin, BandHeight() - 6};
      DrawTextW(dc, Heading().c_str(), -1, &heading, DT_LEFT | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
      SelectObject(dc, old);
      // The rule above the buttons, on the pages that have some.
      if (HasButtons()) {
        const HBRUSH rule = CreateSolidBrush(kRuleColour);
        RECT line{0, height_ - kMargin - kButtonHeight - 6, width_, height_ - kMargin - kButtonHeight - 5};
        FillRect(dc, &line, rule);
        DeleteObject(rule);
      }
    }
    EndPaint(window_, &paint);
  }

  // --- The user's choices ---

  void OnCommand(int id, int notification) {
    if (notification == LBN_DBLCLK && id == kNativeLanguageList) return ChooseLanguage();
    if (notification != BN_CLICKED) return;
    switch (id) {
      case kNativeNext:
        return ChooseLanguage();
      case kNativeBrowse:
        return Raise("Browse", {});
      case kNativeInstall:
        return Install();
      case kNativeRetry:
        status_ = Say("connecting");
        ShowPage(Page::Progress);
        return Raise("Retry", {});
      case kNativeQuit:
        return Raise("Error", {});
      case kNativeAccept:
        ShowPage(Page::Finishing);
        return Raise("AcceptLA", {});
      case kNativeDecline:
        return Raise("Decline", {});
      case kNativePlay:
        EnableWindow(GetDlgItem(window_, kNativePlay), FALSE);
        return Raise("Play", {});
      case kNativeReinstall:
        return Reinstall();
      default:
        return;
    }
  }

  void ChooseLanguage() {
    const LRESULT chosen = SendDlgItemMessageA(window_, kNativeLanguageList, LB_GETCURSEL, 0, 0);
    language_ = chosen >= 0 && chosen < static_cast<LRESULT>(std::size(kLanguages)) ? static_cast<int>(chosen) : 0;
    languageCode_ = kLanguages[language_].code;
    Raise("SetLang", languageCode_);
    ShowPage(Page::Folder);
  }

  void Install() {
    char typed[1024] = {};
    GetDlgItemTextA(window_, kNativeFolderEdit, typed, sizeof typed);
    const std::string folder = Trim(typed);
    if (!IsFullPath(folder)) {
      folder_ = folder;
      folderNote_ = folder.empty() ? Say("folderEmpty")
                                   : Say("fullPath", {{L"{example}", L"C:\\Games\\" + FromSystem(AppName())}});
      return BuildPage();
    }
    folder_ = folder;
    status_ = Say("connecting");
    ShowPage(Page::Progress);
    Raise("Install", folder);
  }

  // Reinstalling removes the installation first: only on a clear yes.
  void Reinstall() {
    const std::wstring caption = FromSystem(offeredApp_) + L" " + Say("setup");
    if (MessageBoxW(GetAncestor(window_, GA_ROOT), Say("confirm").c_str(), caption.c_str(),
                    MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) {
      return;
    }
    EnableWindow(GetDlgItem(window_, kNativeReinstall), FALSE);
    Raise("ReInstall", {});
  }

  MainLoop& loop_;
  MovieCommandSink sink_;
  HWND parent_ = nullptr;
  HWND window_ = nullptr;
  HBRUSH bodyBrush_ = nullptr;
  HFONT bodyFont_ = nullptr;
  HFONT titleFont_ = nullptr;
  HFONT headingFont_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  MovieKind kind_ = MovieKind::None;
  Page page_ = Page::None;
  MovieVariables variables_;
  int language_ = 0;
  std::string languageCode_ = "en";
  std::string folder_;
  std::wstring folderNote_;
  bool installedAlready_ = false;
  bool updating_ = false;
  std::wstring status_;
  std::string fileName_;
  bool unpacked_ = false;
  std::wstring figures_;
  int filePermille_ = 0;
  int runPermille_ = 0;
  std::string errorReason_;
  std::string offeredApp_ = "The game";
  std::string installedFolder_;
};

LRESULT CALLBACK PlayerProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* movie = reinterpret_cast<NativeMovie*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (movie == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  return movie->Handle(message, wParam, lParam);
}

class NativeControl : public MovieControl {
 public:
  explicit NativeControl(std::shared_ptr<NativeMovie> movie) : movie_(std::move(movie)) {}

  void SetMovie(const std::string& address) override { movie_->Load(address); }
  void SetQuality(int32_t) override {}
  void SetScaleMode(int32_t) override {}
  void Play() override { movie_->Play(); }
  int32_t FlashVersion() override { return kNativePlayerVersion; }
  void SetVariable(const std::string& name, const std::string& value) override { movie_->SetVariable(name, value); }
  void TCallLabel(const std::string& target, const std::string& label) override { movie_->CallLabel(target, label); }
  void SetSize(int width, int height) override { movie_->SetSize(width, height); }

 private:
  std::shared_ptr<NativeMovie> movie_;
};

}  // namespace

NativeMovieHost::NativeMovieHost(MainLoop& mainLoop) : mainLoop_(mainLoop) {}

std::unique_ptr<MovieControl> NativeMovieHost::CreateControl(DialogWindow& parent, int controlId, bool visible,
                                                             MovieCommandSink sink) {
  const HWND parentWindow = NativeWindowOf(parent);
  if (parentWindow == nullptr) return nullptr;
  auto movie = std::make_shared<NativeMovie>(mainLoop_, std::move(sink));
  if (!movie->Open(parentWindow, controlId, visible)) return nullptr;
  return std::make_unique<NativeControl>(std::move(movie));
}

}  // namespace platform
