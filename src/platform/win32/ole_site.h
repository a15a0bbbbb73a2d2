// A small OLE container for one ActiveX control inside a window of ours:
// the control's client site, its in-place site and frame, and a dispatch
// sink for its events. The control is made by class id, activated in place
// in a rectangle of the hosting window (or left inactive, for a control
// that is only asked questions), and driven through its dispatch
// interface. The container serves the movie control of the movie dialogs
// and the web browser control of the hidden web window.
//
// Everything here runs on the thread that made the site, which must be a
// single-threaded COM apartment (OleInitialize) that dispatches window
// messages.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/win32/win32_api.h"

#include <ocidl.h>
#include <ole2.h>
#include <oleauto.h>

namespace platform {

// An event of the control: its dispatch id and arguments, in the order the
// event declares them (the reverse of DISPPARAMS).
using OleEventHandler = std::function<void(DISPID id, const std::vector<VARIANT*>& args)>;

class OleSite;

// One hosted control, owned by one C++ object. Not copyable.
class OleControl {
 public:
  OleControl() = default;
  ~OleControl() { Close(); }
  OleControl(const OleControl&) = delete;
  OleControl& operator=(const OleControl&) = delete;

  // Creates the control `classId` in `parent`. `activate` true: activated
  // in place in `rect` (its window becomes a child of `parent`); false: the
  // control is made and initialised but shows nothing. `events` receives
  // the events of the control's default event interface (or of `eventIid`
  // when given) while the control lives; it may be empty, else a control
  // whose events cannot be connected is refused. Returns the failing
  // HRESULT (REGDB_E_CLASSNOTREG when no such control is registered) and
  // holds nothing then.
  HRESULT Create(const CLSID& classId, HWND parent, const RECT& rect, bool activate, OleEventHandler events,
                 const IID* eventIid = nullptr);
  // Deactivates the control, disconnects its events and lets it go. No
  // event is delivered afterwards. Safe to call twice.
  void Close();
  bool Created() const { return dispatch_ != nullptr; }

  // Moves the in-place control to `rect` of the parent's client area.
  void Place(const RECT& rect);
  // The control's interface `iid`, or null. The caller releases it.
  void* Query(const IID& iid) const;

  // Calls on the control's dispatch interface; each returns the control's
  // HRESULT (E_POINTER when no control is held). `args` are in declared
  // order.
  HRESULT PutProperty(DISPID id, VARIANT value);
  HRESULT CallMethod(DISPID id, std::vector<VARIANT> args, VARIANT* result = nullptr);

 private:
  OleSite* site_ = nullptr;
  IOleObject* object_ = nullptr;
  IDispatch* dispatch_ = nullptr;
  IConnectionPoint* events_ = nullptr;
  DWORD cookie_ = 0;
};

// Text conversions between the program's system code page bytes and the
// control's strings. The BSTR is the caller's to free (VariantClear).
VARIANT TextVariant(const std::string& text);
VARIANT IntVariant(int32_t value);
// The text of a string argument (also by reference); empty for any other.
std::string VariantText(const VARIANT* value);

}  // namespace platform
