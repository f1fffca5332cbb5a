// What a container does towards the speech control, for the control's tests: calls into its
// dispatch interface, and stand-ins for the event sink and the site a container gives it.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <wrl/client.h>

#include <functional>
#include <string>
#include <vector>

#include "com_util.h"

namespace ptsvr_test {

using Microsoft::WRL::ComPtr;

// A file beside the test program (the control's copy, its voice folder).
std::wstring BesideTest(const wchar_t* name);

class Sink;
// A new control by its class identifier, as a container creates it.
ComPtr<IDispatch> Create(HRESULT* hr_out = nullptr);
// Advises `sink` on the control's connection point, kept in `point`; the cookie.
DWORD AdviseSink(IUnknown* control, Sink& sink, ComPtr<IConnectionPoint>& point);

struct CallResult {
  HRESULT hr = E_FAIL;
  fw::Variant result;
  UINT arg_err = 0xFFFF;
  std::wstring description;  // from EXCEPINFO
};
// Invoke with positional `args` (given in call order) or, with `put`, one DISPID_PROPERTYPUT arg.
void Call(IDispatch* d, DISPID id, WORD flags, std::vector<VARIANT> args, CallResult& out,
          bool put = false);
// Call's arguments, which it clears: of a type with all zeros, or with a value.
VARIANT Arg(VARTYPE type);
VARIANT I4(LONG v);
VARIANT Str(const wchar_t* s, UINT length);
VARIANT Bool(bool v);
// A reference to `target` (VT_BYREF | VT_VARIANT), as a script passes a variable; clearing the
// reference leaves `target` as it was.
VARIANT ByRef(VARIANT& target);

// The stand-ins below belong to the test and count their references; each must have every one
// back when it goes (declare it before whatever holds it), else the test fails there, in either
// width, rather than crash later in one of them.

// An event sink that records event ids, and a view sink (IViewObject::SetAdvise); `on_event`
// runs inside each event, `on_view_change` inside each view change.
class Sink final : public IDispatch, public IAdviseSink {
 public:
  std::vector<DISPID> events;
  std::function<void(DISPID)> on_event;
  std::function<void()> on_view_change;

  Sink() = default;
  Sink(const Sink&) = delete;
  ~Sink();

  IFACEMETHODIMP QueryInterface(REFIID riid, void** out) override;
  IFACEMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  IFACEMETHODIMP_(ULONG) Release() override { return --refs_; }  // owned by the test
  IFACEMETHODIMP GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
  IFACEMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  IFACEMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  IFACEMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) override;
  IFACEMETHODIMP_(void) OnDataChange(FORMATETC*, STGMEDIUM*) override {}
  IFACEMETHODIMP_(void) OnViewChange(DWORD, LONG) override {
    if (on_view_change) on_view_change();
  }
  IFACEMETHODIMP_(void) OnRename(IMoniker*) override {}
  IFACEMETHODIMP_(void) OnSave() override {}
  IFACEMETHODIMP_(void) OnClose() override {}
  LONG refs() const { return refs_; }

 private:
  LONG refs_ = 1;
};

// A client site with an in-place site on a top-level window of its own; records the calls.
class Site final : public IOleClientSite, public IOleInPlaceSite {
 public:
  Site();
  Site(const Site&) = delete;
  ~Site();
  HWND window() const { return window_; }
  LONG refs() const { return refs_; }
  std::vector<std::string> calls;
  HWND inner = nullptr;  // when set, the window the object is placed in instead of window()

  IFACEMETHODIMP QueryInterface(REFIID riid, void** out) override;
  IFACEMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  IFACEMETHODIMP_(ULONG) Release() override { return --refs_; }
  // IOleClientSite
  IFACEMETHODIMP SaveObject() override { return E_NOTIMPL; }
  IFACEMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  IFACEMETHODIMP GetContainer(IOleContainer**) override { return E_NOINTERFACE; }
  IFACEMETHODIMP ShowObject() override { return S_OK; }
  IFACEMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  IFACEMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
  // IOleInPlaceSite
  IFACEMETHODIMP GetWindow(HWND* hwnd) override {
    *hwnd = inner ? inner : window_;
    return S_OK;
  }
  IFACEMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  IFACEMETHODIMP CanInPlaceActivate() override { return Record("CanInPlaceActivate"); }
  IFACEMETHODIMP OnInPlaceActivate() override { return Record("OnInPlaceActivate"); }
  IFACEMETHODIMP OnUIActivate() override { return S_OK; }
  IFACEMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc,
                                  LPRECT pos, LPRECT clip, LPOLEINPLACEFRAMEINFO info) override;
  IFACEMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  IFACEMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  IFACEMETHODIMP OnInPlaceDeactivate() override { return Record("OnInPlaceDeactivate"); }
  IFACEMETHODIMP DiscardUndoState() override { return S_OK; }
  IFACEMETHODIMP DeactivateAndUndo() override { return S_OK; }
  IFACEMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

 private:
  HRESULT Record(const char* call) {
    calls.push_back(call);
    return S_OK;
  }
  LONG refs_ = 1;
  HWND window_ = nullptr;
};

}  // namespace ptsvr_test
