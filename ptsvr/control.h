// The PtSvr speech control object: one COM object with every interface a container needs.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <wrl/client.h>

#include <deque>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine.h"
#include "faults.h"
#include "knobs.h"
#include "protocol.h"
#include "voice_units.h"

namespace ptsvr {

inline constexpr GUID kClsidPtSvr = koe::AsGuid<GUID>(koe::kClsidPtSvr);
inline constexpr GUID kDiidDPtSvr = koe::AsGuid<GUID>(koe::kDiidDPtSvr);
inline constexpr GUID kDiidEvents = koe::AsGuid<GUID>(koe::kDiidDPtSvrEvents);

inline constexpr DWORD kMiscStatus = OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST |
                                     OLEMISC_INSIDEOUT | OLEMISC_CANTLINKINSIDE |
                                     OLEMISC_RECOMPOSEONRESIZE;

// Counts of live objects and server locks; the DLL may unload when both are zero.
void ModuleAddRef();
void ModuleRelease();

struct WindowClass;

class PtSvrControl final : public IDispatch,
                           public IOleObject,
                           public IOleInPlaceObject,
                           public IOleInPlaceActiveObject,
                           public IOleControl,
                           public IViewObject2,
                           public IPersistStreamInit,
                           public IConnectionPointContainer,
                           public IProvideClassInfo2 {
 public:
  static HRESULT Create(REFIID riid, void** out);
  // Unregisters the control's window classes, whose procedures live in this module: called when
  // no object is alive and the module may be unloaded. The next object registers them again.
  static void UnregisterWindowClasses();

  // One member of the dispatch interface _DPtSvr (control.cpp holds the table).
  struct Member;

  // IUnknown
  IFACEMETHODIMP QueryInterface(REFIID riid, void** out) override;
  IFACEMETHODIMP_(ULONG) AddRef() override;
  IFACEMETHODIMP_(ULONG) Release() override;

  // IDispatch (_DPtSvr)
  IFACEMETHODIMP GetTypeInfoCount(UINT* count) override;
  IFACEMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  IFACEMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                               DISPID* ids) override;
  IFACEMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* excep, UINT* arg_err) override;

  // IOleObject
  IFACEMETHODIMP SetClientSite(IOleClientSite* site) override;
  IFACEMETHODIMP GetClientSite(IOleClientSite** site) override;
  IFACEMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  IFACEMETHODIMP Close(DWORD save_option) override;
  IFACEMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  IFACEMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  IFACEMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  IFACEMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
  IFACEMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* active_site, LONG, HWND parent,
                        LPCRECT pos) override;
  IFACEMETHODIMP EnumVerbs(IEnumOLEVERB**) override { return OLEOBJ_E_NOVERBS; }
  IFACEMETHODIMP Update() override { return S_OK; }
  IFACEMETHODIMP IsUpToDate() override { return S_OK; }
  IFACEMETHODIMP GetUserClassID(CLSID* clsid) override;
  IFACEMETHODIMP GetUserType(DWORD form, LPOLESTR* type) override;
  IFACEMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
  IFACEMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
  IFACEMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) override;
  IFACEMETHODIMP Unadvise(DWORD connection) override;
  IFACEMETHODIMP EnumAdvise(IEnumSTATDATA** e) override;
  IFACEMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
  IFACEMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

  // IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject
  IFACEMETHODIMP GetWindow(HWND* hwnd) override;
  IFACEMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  IFACEMETHODIMP InPlaceDeactivate() override;
  IFACEMETHODIMP UIDeactivate() override { return S_OK; }
  IFACEMETHODIMP SetObjectRects(LPCRECT pos, LPCRECT clip) override;
  IFACEMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }
  IFACEMETHODIMP TranslateAccelerator(LPMSG) override { return S_FALSE; }
  IFACEMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
  IFACEMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
  IFACEMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  IFACEMETHODIMP EnableModeless(BOOL) override { return S_OK; }

  // IOleControl
  IFACEMETHODIMP GetControlInfo(CONTROLINFO* info) override;
  IFACEMETHODIMP OnMnemonic(MSG*) override { return E_NOTIMPL; }
  IFACEMETHODIMP OnAmbientPropertyChange(DISPID) override { return S_OK; }
  IFACEMETHODIMP FreezeEvents(BOOL) override { return S_OK; }

  // IViewObject2
  IFACEMETHODIMP Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC hdc,
                      LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                      ULONG_PTR) override;
  IFACEMETHODIMP GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE**) override {
    return E_NOTIMPL;
  }
  IFACEMETHODIMP Freeze(DWORD, LONG, void*, DWORD*) override { return E_NOTIMPL; }
  IFACEMETHODIMP Unfreeze(DWORD) override { return E_NOTIMPL; }
  IFACEMETHODIMP SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* sink) override;
  IFACEMETHODIMP GetAdvise(DWORD* aspects, DWORD* advf, IAdviseSink** sink) override;
  IFACEMETHODIMP GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) override;

  // IPersistStreamInit
  IFACEMETHODIMP GetClassID(CLSID* clsid) override;
  IFACEMETHODIMP IsDirty() override { return dirty_ ? S_OK : S_FALSE; }
  IFACEMETHODIMP Load(LPSTREAM stream) override;
  IFACEMETHODIMP Save(LPSTREAM stream, BOOL clear_dirty) override;
  IFACEMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
  IFACEMETHODIMP InitNew() override;

  // IConnectionPointContainer
  IFACEMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  IFACEMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

  // IProvideClassInfo2
  IFACEMETHODIMP GetClassInfo(ITypeInfo** info) override;
  IFACEMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

 private:
  // The one connection point, for the event interface. Lives inside the control and shares its
  // reference count.
  class EventPoint final : public IConnectionPoint {
   public:
    explicit EventPoint(PtSvrControl* owner) : owner_(owner) {}
    IFACEMETHODIMP QueryInterface(REFIID riid, void** out) override;
    IFACEMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
    IFACEMETHODIMP_(ULONG) Release() override { return owner_->Release(); }
    IFACEMETHODIMP GetConnectionInterface(IID* iid) override;
    IFACEMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    IFACEMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    IFACEMETHODIMP Unadvise(DWORD cookie) override;
    IFACEMETHODIMP EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

   private:
    PtSvrControl* owner_;
  };

  PtSvrControl();
  ~PtSvrControl();
  HRESULT Initialize();

  // The members of _DPtSvr, and the methods among them.
  static std::span<const Member> Members();
  HRESULT InvokeMember(DISPID id, REFIID riid, WORD flags, DISPPARAMS* params, VARIANT* result,
                       EXCEPINFO* excep, UINT* arg_err);
  HRESULT CallSpeak(std::wstring text, VARIANT& result);
  HRESULT CallEngineVersion(std::wstring, VARIANT&);
  HRESULT CallVoiceSettings(std::wstring, VARIANT&);
  HRESULT CallAboutBox(std::wstring, VARIANT&);
  void Log(const std::wstring& line) noexcept;
  HRESULT LoadState(IStream* stream);
  HRESULT SaveState(IStream* stream, BOOL clear_dirty);

  void QueueUtterance(std::wstring text);
  void PostStartNext();
  void StartNext();
  void EndUtterance();
  void StopSpeech();
  void Fire(DISPID id, const wchar_t* name);

  // The hidden notify window (engine messages and the speech queue) and the in-place window.
  static const WindowClass kNotifyClass, kViewClass;
  LRESULT OnNotifyMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnViewMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

  HRESULT ActivateInPlace(IOleClientSite* active_site);
  HWND OwnerWindow() const;
  void Paint(HDC hdc, const RECT& rc) const;
  void StateChanged();

  LONG refs_ = 1;
  Knobs knobs_;
  Faults faults_;  // the test build's; nothing in the installed control
  std::unique_ptr<Transcript> transcript_;
  ControlState state_;
  bool dirty_ = false;

  HWND notify_ = nullptr;  // hidden message window: engine messages and the speech queue
  HWND view_ = nullptr;    // the in-place window
  std::unique_ptr<SpeechEngine> engine_;
  std::deque<std::wstring> queue_;
  bool speaking_ = false;
  bool start_posted_ = false;

  Microsoft::WRL::ComPtr<IOleClientSite> site_;
  Microsoft::WRL::ComPtr<IOleInPlaceSite> inplace_site_;
  Microsoft::WRL::ComPtr<IOleAdviseHolder> advise_holder_;
  Microsoft::WRL::ComPtr<IAdviseSink> view_sink_;
  DWORD view_aspects_ = 0, view_advf_ = 0;
  SIZEL extent_{4233, 794};  // 160 × 30 pixels at 96 dpi, in HIMETRIC

  EventPoint point_{this};
  std::vector<std::pair<DWORD, Microsoft::WRL::ComPtr<IDispatch>>> sinks_;
  DWORD next_cookie_ = 1;
};

}  // namespace ptsvr
