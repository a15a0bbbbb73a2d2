#include "platform/win32/ole_site.h"

#include <ocidl.h>
#include <olectl.h>

namespace platform {

namespace {

// The dispatch interface the control calls its events on.
class EventSink final : public IDispatch {
 public:
  EventSink(const IID& iid, OleEventHandler handler) : iid_(iid), handler_(std::move(handler)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, iid_)) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count != nullptr) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    if (!handler_) return S_OK;
    std::vector<VARIANT*> args;
    if (params != nullptr) {
      for (UINT i = params->cArgs; i > 0; --i) args.push_back(&params->rgvarg[i - 1]);
    }
    handler_(id, args);
    return S_OK;
  }
  // After this no event reaches the handler (a control may still hold the
  // sink for a while).
  void Detach() { handler_ = nullptr; }

 private:
  ULONG refs_ = 1;
  IID iid_;
  OleEventHandler handler_;
};

}  // namespace

// The container side of one control: client site, in-place site and the
// frame, all in the hosting window. The control's window is a child of
// that window; the site offers no menus, tool space or accelerators.
class OleSite final : public IOleClientSite, public IOleInPlaceSite, public IOleInPlaceFrame {
 public:
  OleSite(HWND parent, const RECT& rect) : parent_(parent), rect_(rect) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite)) {
      *out = static_cast<IOleClientSite*>(this);
    } else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceSite)) {
      *out = static_cast<IOleInPlaceSite*>(this);
    } else if (IsEqualIID(riid, IID_IOleInPlaceUIWindow) || IsEqualIID(riid, IID_IOleInPlaceFrame)) {
      *out = static_cast<IOleInPlaceFrame*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  // IOleClientSite
  HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** out) override {
    if (out != nullptr) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** out) override {
    if (out != nullptr) *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (of the in-place site and of the frame)
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
    if (window == nullptr) return E_POINTER;
    *window = parent_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                             LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    if (frame == nullptr || document == nullptr || position == nullptr || clip == nullptr || info == nullptr) {
      return E_POINTER;
    }
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *document = nullptr;
    *position = rect_;
    *clip = rect_;
    info->fMDIApp = FALSE;
    info->hwndFrame = parent_;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT rect) override {
    if (rect != nullptr) rect_ = *rect;
    return S_OK;
  }

  // IOleInPlaceUIWindow: no tool space.
  HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }

  // IOleInPlaceFrame: no menus, no status line, no accelerators.
  HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  const RECT& Rect() const { return rect_; }
  void SetRect(const RECT& rect) { rect_ = rect; }
  EventSink* sink = nullptr;

 private:
  ULONG refs_ = 1;
  HWND parent_;
  RECT rect_;
};

namespace {

// The control's event interface: the one named by `eventIid`, else its
// default source, else the first one it offers that is not the property
// notification.
IConnectionPoint* EventPointOf(IUnknown* control, const IID* eventIid, IID* chosen) {
  IConnectionPointContainer* container = nullptr;
  if (FAILED(control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)))) {
    return nullptr;
  }
  IConnectionPoint* point = nullptr;
  IID iid{};
  bool known = eventIid != nullptr;
  if (known) iid = *eventIid;
  IProvideClassInfo2* info = nullptr;
  if (!known && SUCCEEDED(control->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&info)))) {
    known = SUCCEEDED(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &iid));
    info->Release();
  }
  if (known) {
    if (FAILED(container->FindConnectionPoint(iid, &point))) point = nullptr;
  } else {
    IEnumConnectionPoints* points = nullptr;
    if (SUCCEEDED(container->EnumConnectionPoints(&points))) {
      IConnectionPoint* candidate = nullptr;
      while (point == nullptr && points->Next(1, &candidate, nullptr) == S_OK) {
        if (SUCCEEDED(candidate->GetConnectionInterface(&iid)) && !IsEqualIID(iid, IID_IPropertyNotifySink)) {
          point = candidate;
        } else {
          candidate->Release();
        }
      }
      points->Release();
    }
  }
  container->Release();
  if (point != nullptr) *chosen = iid;
  return point;
}

}  // namespace

HRESULT OleControl::Create(const CLSID& classId, HWND parent, const RECT& rect, bool activate, OleEventHandler events,
                           const IID* eventIid) {
  Close();
  HRESULT result =
      CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, reinterpret_cast<void**>(&object_));
  if (FAILED(result)) {
    object_ = nullptr;
    return result;
  }
  site_ = new OleSite(parent, rect);
  object_->SetClientSite(static_cast<IOleClientSite*>(site_));
  IPersistStreamInit* persist = nullptr;
  if (SUCCEEDED(object_->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist)))) {
    persist->InitNew();
    persist->Release();
  }
  result = object_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch_));
  if (FAILED(result)) {
    dispatch_ = nullptr;
    Close();
    return result;
  }
  if (events) {
    // A control whose events cannot be heard is of no use to its host.
    IID iid{};
    events_ = EventPointOf(object_, eventIid, &iid);
    if (events_ == nullptr) {
      Close();
      return CONNECT_E_NOCONNECTION;
    }
    site_->sink = new EventSink(iid, std::move(events));
    result = events_->Advise(site_->sink, &cookie_);
    if (FAILED(result)) {
      events_->Release();
      events_ = nullptr;
      Close();
      return result;
    }
  }
  if (activate) {
    RECT place = rect;
    result = object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(site_), 0, parent, &place);
    if (FAILED(result)) {
      Close();
      return result;
    }
  }
  return S_OK;
}

void OleControl::Close() {
  if (events_ != nullptr) {
    events_->Unadvise(cookie_);
    events_->Release();
    events_ = nullptr;
  }
  if (site_ != nullptr && site_->sink != nullptr) {
    site_->sink->Detach();
    site_->sink->Release();
    site_->sink = nullptr;
  }
  if (dispatch_ != nullptr) {
    dispatch_->Release();
    dispatch_ = nullptr;
  }
  if (object_ != nullptr) {
    IOleInPlaceObject* inPlace = nullptr;
    if (SUCCEEDED(object_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)))) {
      inPlace->InPlaceDeactivate();
      inPlace->Release();
    }
    object_->Close(OLECLOSE_NOSAVE);
    object_->SetClientSite(nullptr);
    object_->Release();
    object_ = nullptr;
  }
  if (site_ != nullptr) {
    site_->Release();
    site_ = nullptr;
  }
}

void OleControl::Place(const RECT& rect) {
  if (site_ == nullptr) return;
  site_->SetRect(rect);
  IOleInPlaceObject* inPlace = nullptr;
  if (object_ != nullptr &&
      SUCCEEDED(object_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)))) {
    inPlace->SetObjectRects(&rect, &rect);
    inPlace->Release();
  }
}

void* OleControl::Query(const IID& iid) const {
  void* out = nullptr;
  if (object_ == nullptr || FAILED(object_->QueryInterface(iid, &out))) return nullptr;
  return out;
}

HRESULT OleControl::PutProperty(DISPID id, VARIANT value) {
  if (dispatch_ == nullptr) {
    VariantClear(&value);
    return E_POINTER;
  }
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&value, &named, 1, 1};
  const HRESULT result =
      dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
  VariantClear(&value);
  return result;
}

HRESULT OleControl::CallMethod(DISPID id, std::vector<VARIANT> args, VARIANT* result) {
  HRESULT outcome = E_POINTER;
  if (dispatch_ != nullptr) {
    // DISPPARAMS holds the arguments last one first.
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (result != nullptr) VariantInit(result);
    outcome = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, nullptr, nullptr);
  }
  for (VARIANT& arg : args) VariantClear(&arg);
  return outcome;
}

VARIANT TextVariant(const std::string& text) {
  VARIANT value;
  VariantInit(&value);
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocStringLen(nullptr, static_cast<UINT>(length));
  if (value.bstrVal != nullptr && length > 0) {
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), value.bstrVal, length);
  }
  return value;
}

VARIANT IntVariant(int32_t number) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_I4;
  value.lVal = number;
  return value;
}

std::string VariantText(const VARIANT* value) {
  if (value == nullptr) return {};
  BSTR text = nullptr;
  if (value->vt == VT_BSTR) text = value->bstrVal;
  if (value->vt == (VT_BSTR | VT_BYREF) && value->pbstrVal != nullptr) text = *value->pbstrVal;
  if (value->vt == (VT_VARIANT | VT_BYREF) && value->pvarVal != nullptr) return VariantText(value->pvarVal);
  if (text == nullptr) return {};
  const int wide = static_cast<int>(SysStringLen(text));
  const int length = WideCharToMultiByte(CP_ACP, 0, text, wide, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(length), '\0');
  if (length > 0) WideCharToMultiByte(CP_ACP, 0, text, wide, out.data(), length, nullptr, nullptr);
  return out;
}

}  // namespace platform
