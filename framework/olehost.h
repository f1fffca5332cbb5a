// Hosting an ActiveX control on one of our windows: our own OLE site (client site, in-place site
// and frame, control site, ambient properties, event sink), in-place activation, and the calls
// into the control's dispatch interface.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>
#include <wrl/client.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <vector>

namespace fw {

// A handler for one event of the control, by the event's dispatch id. The arguments come as COM
// sends them: positional, last argument first.
using OleEventHandler = std::function<void(DISPPARAMS* params)>;

class OleSite;  // the COM objects the control talks to; defined in olehost.cpp

class OleControlHost {
 public:
  // Creates the control (in-process or local server) and asks for IOleObject.
  // Throws EOleSysError with the COM status when that fails.
  OleControlHost(const CLSID& clsid, const IID& dispatch_iid, const IID& events_iid);
  // Deactivates, disconnects the event sink, closes the control without saving and releases it.
  ~OleControlHost();
  OleControlHost(const OleControlHost&) = delete;
  OleControlHost& operator=(const OleControlHost&) = delete;

  // Window and place (client pixels of parent) the control is activated in. A change of place
  // while active moves the control at once.
  void SetParent(HWND parent);
  void SetBounds(const RECT& bounds);
  // The control's stored state, loaded through IPersistStreamInit on activation. With no data,
  // or when the control refuses it, the control starts fresh (InitNew).
  void SetControlData(const void* data, std::size_t size);
  // Binds (or, with an empty handler, unbinds) the handler of one event.
  void OnEvent(DISPID id, OleEventHandler handler);

  // Loads the state, activates the control in place in the parent window and connects the event
  // sink; does nothing when already active. Throws EOleError("OLE コントロールのアクティベート
  // に失敗しました") when the control has no in-place object, EOleSysError for other failures.
  void Activate();
  bool Active() const { return active_; }
  // The control's own window once active, else null.
  HWND Handle() const;

  // Calls a method: args in their natural order (first argument first). result may be null.
  // A failure raises what CheckInvoke raises.
  void Call(DISPID id, const VARIANT* args, std::size_t count, VARIANT* result);
  // Reads a property: the returned variant's number of any numeric type (VT_I2, VT_UI2, VT_I4,
  // VT_INT, VT_R8, ...) converted to a 32-bit integer (VariantChangeType: fractions rounded, one
  // out of range raises EOleSysError(DISP_E_OVERFLOW)). Anything that is not a number, a text
  // included, raises EOleSysError(DISP_E_TYPEMISMATCH).
  std::int32_t GetInt(DISPID id);
  // Writes a property as one VT_I4 argument named DISPID_PROPERTYPUT.
  void SetInt(DISPID id, std::int32_t value);
  // Activates the control when it is not active yet (every call above does this first).
  void EnsureActive() {
    if (!active_) Activate();
  }

  // The control's default dispatch interface (the dispatch IID, else IDispatch), fetched once.
  IDispatch* Dispatch();
  IOleObject* Object() const { return object_.Get(); }
  // The client site handed to the control (for inspection).
  Microsoft::WRL::ComPtr<IOleClientSite> ClientSite() const;

 private:
  void Invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result);

  IID dispatch_iid_;
  IID events_iid_;
  Microsoft::WRL::ComPtr<IOleObject> object_;
  Microsoft::WRL::ComPtr<IOleInPlaceObject> inplace_;
  Microsoft::WRL::ComPtr<IDispatch> dispatch_;
  Microsoft::WRL::ComPtr<IConnectionPoint> connection_;
  DWORD cookie_ = 0;
  OleSite* site_ = nullptr;  // one reference held
  std::vector<unsigned char> control_data_;
  bool site_given_ = false;  // SetClientSite done, undone at teardown
  bool active_ = false;
};

}  // namespace fw
