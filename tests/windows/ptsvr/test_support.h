// Test doubles and helpers for driving the speech control through COM the way a container does.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <wrl/client.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support.h"

namespace ptsvr_test {

using Microsoft::WRL::ComPtr;

using EnvVar = koe_test::ScopedEnv;
using koe_test::Variant;
inline bool PumpUntil(const std::function<bool()>& done, int timeout_ms = 5000) {
  return koe_test::WaitUntil(done, timeout_ms);
}
inline void PumpFor(int ms) { koe_test::Pump(ms); }

struct CallResult {
  HRESULT hr = E_FAIL;
  Variant result;
  UINT arg_err = 0xFFFF;
  std::wstring description;  // from EXCEPINFO
};
// Invoke with positional `args` (given in call order) or, with `put`, one DISPID_PROPERTYPUT arg.
void Call(IDispatch* d, DISPID id, WORD flags, std::vector<VARIANT> args, CallResult& out,
          bool put = false);
VARIANT I4(LONG v);
VARIANT Str(const wchar_t* s, UINT length);  // Call frees the BSTR
VARIANT Bool(bool v);

// The stand-ins below belong to the test and count their references; each must have every one
// back when it goes (declare it before whatever holds it), else the test fails there, in either
// width, rather than crash later in one of them.

// An event sink that records event ids; `on_event` runs inside each event.
class Sink final : public IDispatch {
 public:
  std::vector<DISPID> events;
  std::function<void(DISPID)> on_event;

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
  IFACEMETHODIMP GetWindow(HWND* hwnd) override;
  IFACEMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  IFACEMETHODIMP CanInPlaceActivate() override;
  IFACEMETHODIMP OnInPlaceActivate() override;
  IFACEMETHODIMP OnUIActivate() override { return S_OK; }
  IFACEMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc,
                                  LPRECT pos, LPRECT clip, LPOLEINPLACEFRAMEINFO info) override;
  IFACEMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  IFACEMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  IFACEMETHODIMP OnInPlaceDeactivate() override;
  IFACEMETHODIMP DiscardUndoState() override { return S_OK; }
  IFACEMETHODIMP DeactivateAndUndo() override { return S_OK; }
  IFACEMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

 private:
  LONG refs_ = 1;
  HWND window_ = nullptr;
};

// Lines of a UTF-8 transcript file, converted to UTF-16.
std::vector<std::wstring> ReadLines(const std::wstring& path);
// A new, unique path in the temporary folder (no file made).
std::wstring TempFilePath(const wchar_t* prefix);

}  // namespace ptsvr_test
