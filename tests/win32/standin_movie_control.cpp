// A stand-in for the movie control, for the tests of the ActiveX host: an
// in-process COM server whose control offers what the program uses of the
// real one (the properties, methods and FSCommand event with the same
// dispatch ids, in-place activation in the host's site, its events through
// a connection point) and plays the scripted player's script instead of a
// movie. The tests register it under the movie control's class id in the
// Wine prefix's user classes only, for the run that needs it.
//
// The script and record files are named by the environment variables
// WEBSETUP_STANDIN_SCRIPT and WEBSETUP_STANDIN_RECORD (the scripted
// player's formats); the record also gets a line "inplace <w>x<h>" when the
// host activates the control in place. Without a script no control can be
// made.

#include <memory>
#include <string>

#include "platform/main_loop.h"
#include "platform/win32/activex_movie.h"
#include "platform/win32/ole_site.h"
#include "platform/win32/win32_api.h"
#include "support/scripted_player.h"

#include <ocidl.h>
#include <olectl.h>

namespace {

using platform::ThreadMessage;

// The event interface of the stand-in: {5C0B7C2E-3A51-4E0F-9D43-7A1E2B6C9F10}.
const IID kStandInEvents = {0x5C0B7C2E, 0x3A51, 0x4E0F, {0x9D, 0x43, 0x7A, 0x1E, 0x2B, 0x6C, 0x9F, 0x10}};

long g_objects = 0;
HMODULE g_module = nullptr;

// The scripted player's queue: a message-only window of the thread that
// made the first control, which the program's loop dispatches.
class WindowQueue : public platform::MainLoop {
 public:
  WindowQueue() {
    WNDCLASSA type{};
    type.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
      if (message == WM_APP + 1) {
        platform::RunIfTask(ThreadMessage{platform::kTaskMessage, wParam, lParam});
        return 0;
      }
      return DefWindowProcA(window, message, wParam, lParam);
    };
    type.hInstance = g_module;
    type.lpszClassName = "WebsetupStandInQueue";
    RegisterClassA(&type);
    window_ = CreateWindowA(type.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, g_module, nullptr);
  }
  bool Post(const ThreadMessage& message) override {
    return PostMessageA(window_, WM_APP + 1, message.wParam, message.lParam) != 0;
  }
  bool RunUntil(const std::function<bool()>&, const platform::MessageDispatcher&) override { return false; }
  void Quit(int) override {}
  bool QuitRequested() const override { return false; }
  int ExitCode() const override { return 0; }
  void WaitUntil(const std::function<bool()>&) override {}
  void Wake() override {}

 private:
  HWND window_ = nullptr;
};

std::string Environment(const char* name) {
  char value[1024] = {};
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

// The player of the script named now; a new script (a test of its own in
// the same process) gets a new player.
platform::ScriptedMovieHost* Player() {
  static WindowQueue* queue = nullptr;
  static std::unique_ptr<platform::ScriptedMovieHost> player;
  static std::string playing;
  const std::string script = Environment("WEBSETUP_STANDIN_SCRIPT");
  if (script.empty()) return nullptr;
  if (!player || script != playing) {
    if (queue == nullptr) queue = new WindowQueue;
    player = platform::LoadScriptedMovieHost(script, Environment("WEBSETUP_STANDIN_RECORD"), *queue);
    playing = script;
  }
  return player.get();
}

// The scripted player's controls want a window; the stand-in has its own.
class NoWindow : public platform::DialogWindow {
 public:
  void SetTitle(const std::string&) override {}
  void SetTopmost() override {}
  void SetBackground(const platform::Colour&) override {}
  void FitClient(int, int) override {}
  void Show() override {}
  void Hide() override {}
  bool Visible() const override { return false; }
  void SetCloseRequestHandler(std::function<void()>) override {}
};

// The one connection point: the host's event sink.
class EventPoint final : public IConnectionPoint {
 public:
  explicit EventPoint(IConnectionPointContainer* owner) : owner_(owner) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IConnectionPoint)) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
    *iid = kStandInEvents;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override {
    *out = owner_;
    owner_->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
    if (sink_ != nullptr) return CONNECT_E_ADVISELIMIT;
    if (FAILED(sink->QueryInterface(kStandInEvents, reinterpret_cast<void**>(&sink_)))) {
      sink_ = nullptr;
      return CONNECT_E_CANNOTCONNECT;
    }
    *cookie = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
    if (cookie != 1 || sink_ == nullptr) return CONNECT_E_NOCONNECTION;
    sink_->Release();
    sink_ = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

  // FSCommand(command, args), arguments last one first.
  void Raise(const std::string& command, const std::string& args) {
    if (sink_ == nullptr) return;
    VARIANT values[2] = {platform::TextVariant(args), platform::TextVariant(command)};
    DISPPARAMS params{values, nullptr, 2, 0};
    sink_->Invoke(platform::kDispFSCommand, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    VariantClear(&values[0]);
    VariantClear(&values[1]);
  }

 private:
  IConnectionPointContainer* owner_;
  IDispatch* sink_ = nullptr;
};

class StandInControl final : public IDispatch,
                             public IOleObject,
                             public IOleInPlaceObject,
                             public IConnectionPointContainer,
                             public IProvideClassInfo2 {
 public:
  StandInControl() : events_(this) { InterlockedIncrement(&g_objects); }
  ~StandInControl() {
    movie_.reset();
    if (window_ != nullptr) DestroyWindow(window_);
    if (site_ != nullptr) site_->Release();
    InterlockedDecrement(&g_objects);
  }

  bool Open() {
    player_ = Player();
    if (player_ == nullptr) return false;
    NoWindow window;
    movie_ = player_->CreateControl(
        window, 0, true, [this](const std::string& command, const std::string& args) { events_.Raise(command, args); });
    return movie_ != nullptr;
  }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
      *out = static_cast<IDispatch*>(this);
    } else if (IsEqualIID(riid, IID_IOleObject)) {
      *out = static_cast<IOleObject*>(this);
    } else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceObject)) {
      *out = static_cast<IOleInPlaceObject*>(this);
    } else if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
      *out = static_cast<IConnectionPointContainer*>(this);
    } else if (IsEqualIID(riid, IID_IProvideClassInfo) || IsEqualIID(riid, IID_IProvideClassInfo2)) {
      *out = static_cast<IProvideClassInfo2*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const long left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IDispatch: the movie control's operations by dispatch id. Properties
  // answer only to a property put, methods only to a call, with the
  // argument count and types of the real control.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    if (params == nullptr) return E_INVALIDARG;
    switch (id) {
      case platform::kDispMovie:
      case platform::kDispQuality:
      case platform::kDispScaleMode: {
        const bool put = (flags & DISPATCH_PROPERTYPUT) != 0 && params->cArgs == 1 && params->cNamedArgs == 1 &&
                         params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT;
        if (!put) return DISP_E_MEMBERNOTFOUND;
        VARIANT& value = params->rgvarg[0];
        if (id == platform::kDispMovie) {
          if (value.vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
          movie_->SetMovie(platform::VariantText(&value));
          return S_OK;
        }
        if (value.vt != VT_I4) return DISP_E_TYPEMISMATCH;
        if (id == platform::kDispQuality) movie_->SetQuality(value.lVal);
        if (id == platform::kDispScaleMode) movie_->SetScaleMode(value.lVal);
        return S_OK;
      }
      case platform::kDispPlay:
      case platform::kDispFlashVersion:
      case platform::kDispSetVariable:
      case platform::kDispTCallLabel:
        return Call(id, flags, *params, result);
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

  // IOleObject: in-place activation in the host's site; the rest is what a
  // control may leave undone.
  HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override {
    if (site_ != nullptr) site_->Release();
    site_ = site;
    if (site_ != nullptr) site_->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override {
    *site = site_;
    if (site_ != nullptr) site_->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Close(DWORD) override {
    InPlaceDeactivate();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND, LPCRECT) override {
    if (verb != OLEIVERB_INPLACEACTIVATE && verb != OLEIVERB_SHOW) return OLEOBJ_S_INVALIDVERB;
    return ActivateInPlace(site != nullptr ? site : site_);
  }
  HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* id) override {
    *id = platform::kMovieControlClass;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR*) override { return OLE_S_USEREG; }
  HRESULT STDMETHODCALLTYPE SetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD* status) override {
    *status = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

  // IOleInPlaceObject
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
    *window = window_;
    return window_ != nullptr ? S_OK : E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override {
    if (inPlace_ == nullptr) return S_OK;
    if (window_ != nullptr) DestroyWindow(window_);
    window_ = nullptr;
    inPlace_->OnInPlaceDeactivate();
    inPlace_->Release();
    inPlace_ = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE UIDeactivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT position, LPCRECT) override {
    if (window_ == nullptr || position == nullptr) return E_UNEXPECTED;
    MoveWindow(window_, position->left, position->top, position->right - position->left,
               position->bottom - position->top, TRUE);
    movie_->SetSize(position->right - position->left, position->bottom - position->top);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override { return E_NOTIMPL; }

  // IConnectionPointContainer
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
    *point = nullptr;
    if (!IsEqualIID(riid, kStandInEvents)) return CONNECT_E_NOCONNECTION;
    *point = &events_;
    events_.AddRef();
    return S_OK;
  }

  // IProvideClassInfo2: names the event interface.
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override {
    *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override {
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
    *guid = kStandInEvents;
    return S_OK;
  }

 private:
  HRESULT Call(DISPID id, WORD flags, const DISPPARAMS& params, VARIANT* result) {
    if ((flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
    const UINT wanted = id == platform::kDispSetVariable || id == platform::kDispTCallLabel ? 2 : 0;
    if (params.cArgs != wanted || params.cNamedArgs != 0) return DISP_E_BADPARAMCOUNT;
    for (UINT i = 0; i < wanted; ++i)
      if (params.rgvarg[i].vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
    if (id == platform::kDispPlay) movie_->Play();
    if (id == platform::kDispSetVariable)
      movie_->SetVariable(platform::VariantText(&params.rgvarg[1]), platform::VariantText(&params.rgvarg[0]));
    if (id == platform::kDispTCallLabel)
      movie_->TCallLabel(platform::VariantText(&params.rgvarg[1]), platform::VariantText(&params.rgvarg[0]));
    if (id == platform::kDispFlashVersion) {
      const int32_t version = movie_->FlashVersion();
      if (result != nullptr) {
        VariantInit(result);
        result->vt = VT_I4;
        result->lVal = version;
      }
    }
    return S_OK;
  }

  HRESULT ActivateInPlace(IOleClientSite* site) {
    if (inPlace_ != nullptr) return S_OK;
    if (site == nullptr || FAILED(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&inPlace_)))) {
      inPlace_ = nullptr;
      return E_UNEXPECTED;
    }
    HWND parent = nullptr;
    IOleInPlaceFrame* frame = nullptr;
    IOleInPlaceUIWindow* document = nullptr;
    RECT position{}, clip{};
    OLEINPLACEFRAMEINFO info{};
    info.cb = sizeof info;
    if (inPlace_->CanInPlaceActivate() != S_OK || FAILED(inPlace_->OnInPlaceActivate()) ||
        FAILED(inPlace_->GetWindow(&parent)) ||
        FAILED(inPlace_->GetWindowContext(&frame, &document, &position, &clip, &info))) {
      inPlace_->Release();
      inPlace_ = nullptr;
      return E_FAIL;
    }
    if (frame != nullptr) frame->Release();
    if (document != nullptr) document->Release();
    window_ = CreateWindowA("STATIC", "stand-in movie", WS_CHILD | WS_VISIBLE | SS_CENTER, position.left, position.top,
                            position.right - position.left, position.bottom - position.top, parent, nullptr, g_module,
                            nullptr);
    player_->AppendRecord("inplace " + std::to_string(position.right - position.left) + "x" +
                          std::to_string(position.bottom - position.top));
    return window_ != nullptr ? S_OK : E_FAIL;
  }

  long refs_ = 1;
  EventPoint events_;
  platform::ScriptedMovieHost* player_ = nullptr;  // lives until the next script
  std::unique_ptr<platform::MovieControl> movie_;
  IOleClientSite* site_ = nullptr;
  IOleInPlaceSite* inPlace_ = nullptr;
  HWND window_ = nullptr;
};

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* control = new StandInControl;
    if (!control->Open()) {
      control->Release();
      return E_FAIL;
    }
    const HRESULT result = control->QueryInterface(riid, out);
    control->Release();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_module = module;
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID id, REFIID riid, void** out) {
  if (!IsEqualCLSID(id, platform::kMovieControlClass)) {
    *out = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  return g_factory.QueryInterface(riid, out);
}

// The scripted player lives until the process ends.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }
