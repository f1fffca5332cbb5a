// PtSvr: the speech control that Koemado hosts, one COM object with every interface a container
// needs. One class in three files: control_object.cpp (lifetime, IUnknown, the OLE embedding, the
// in-place window and its painting, persistence), control_dispatch.cpp (the member table, the
// VARIANT conversions, the argument checks, Invoke) and control_speech.cpp (the engine, the queue
// of utterances, the events, the connection point and its sinks).
//
// Dispatch interface _DPtSvr (GetIDsOfNames answers these names, in any letter case):
//   Gender 1 (VT_I2)  Age 2 (VT_I2)  ModeGuid 3 (VT_BSTR, "{...}" or empty for none)
//   Speed 4  Pitch 5  Volume 6 (VT_I4: words per minute, hertz, 0..65535)
//   UseButton 7  UseWebSpeak 8 (VT_BOOL; kept and persisted, no effect on speech)
//   EngineVersion 10 (shows the engine's name and version)  VoiceSettings 11 (modal voice dialog)
//   Speak 16 (one VT_BSTR, or a reference to one, also through VT_BYREF | VT_VARIANT; queues
//            the text and returns VARIANT_TRUE at once)
//   AboutBox -552 (DISPID_ABOUTBOX)
// Events (DISPATCH_METHOD on every advised sink, always from the control's window messages):
//   OnStartSpeak 1, OnStopSpeak 2, OnBookmark 3, OnWordPosition 4, OnPause 5, OnResume 6,
//   OnReset 7. Each utterance gets one OnStartSpeak and exactly one OnStopSpeak, in call order;
//   the others are part of the interface but this control never raises them.
//
// Environment knobs, read once when an object is created:
//   KOE_PTSVR_TRANSCRIPT=<path>   append the transcript (below) to that file, UTF-8, one write a line
//   KOE_PTSVR_ENGINE=auto|sim|sapi|bundled
//                                 auto (default): the voice chosen in the voice dialog, else SAPI 5
//                                 with a Japanese voice that accepts a speak request, else the
//                                 bundled voice (simulated when its files are missing or broken);
//                                 sim: always simulated; sapi: SAPI 5 alone, whenever an SpVoice
//                                 can be created, with the default voice when there is no Japanese
//                                 one (requests it refuses end at once); bundled: the bundled voice
//                                 alone, SAPI 5 not asked
//   KOE_PTSVR_SIM_SPEED=<factor>  the simulated engine speaks <factor> times faster (default 1;
//                                 0: every utterance ends on the next turn of the message loop);
//                                 also the bundled voice's stand-in when its files are broken
// These are the only ones the installed control reads. The test build also reads the fault
// knobs of faults.h (KOE_PTSVR_FAIL_DISPIDS, KOE_PTSVR_DIALOG, ...).
//
// Transcript lines:
//   create | activate | close | load | save
//   speak <text>              text escaped: backslash \\, U+0000 \0, CR \r, LF \n
//   put <Name>=<value> | get <Name>=<value>   numbers in decimal, booleans true/false, the GUID
//                                              in braces
//   call 10 | call 11 | call -552   a method without an argument
//   event <EventName>         e.g. event OnStartSpeak, event OnStopSpeak
//   fail <dispid> <hresult>   (test build) a call failed by a fault knob; hresult as 8 hex
//                             digits, e.g. fail 16 80020009
//   engine skip <voice>: <why>  a Japanese voice passed over while the engine is chosen (after
//                             create): SetVoice <hresult> (refused), or at start-up with auto it
//                             did not speak an empty request: Speak <hresult>, GetStatus <hresult>,
//                             result <hresult> (what GetStatus reported), not started in <ms> ms
//   engine SAPI 5: <voice>    the engine auto or sapi chose (after create)
//   engine <why>              ... or why the simulated engine speaks instead, e.g.
//                             engine 日本語の音声がありません (模擬音声)
//   engine fail <hresult>     the voice refused a speak request; the utterance ends at once
//   engine timeout <ms>       the voice reported no end within the utterance's deadline; it was
//                             purged and the utterance ended
//   engine voice <voice>      the voice chosen in the voice dialog speaks from now on
//   engine Open JTalk 1.11: nitech_jp_atr503_m001 (内蔵の日本語音声)   the bundled voice (after
//                             create), or engine 内蔵の音声を読み込めません (模擬音声) when a file
//                             of it is missing
//   engine 内蔵の音声を読み込めません (模擬音声): <file>   a file of the bundled voice turned out
//                             broken when it was loaded; the simulated engine's timing stands in
//   engine first sound <ms> ms   the bundled voice's first samples went to the audio device (or,
//                             without one, were made) that long after the speak call
//   engine no audio: <why>    no audio device, or it could not be opened, or it was lost; the
//                             utterances end after their sound's length. engine audio again: back
//   engine fail voice         the bundled voice failed (out of memory); the utterance ends
//   preview <index>           the voice dialog's 試聴 with the voice of that index
//
// Voice: the voice the user chose in the voice dialog (kept per user: the key
// HKEY_CURRENT_USER\Software\Koemado\PtSvr, value Voice; kBundledVoiceId for the bundled voice),
// else the system default voice when it speaks Japanese, else the first Japanese voice of SAPI's
// list or the OneCore list that the SpVoice accepts and (with auto) that speaks an empty request
// at start-up, else the bundled voice (Open JTalk and an HTS voice, in voice\ beside the control).
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

  // One member of the dispatch interface _DPtSvr (control_dispatch.cpp holds the table).
  struct Member;

  // The interfaces are implemented in control_object.cpp, but IDispatch in control_dispatch.cpp
  // and IConnectionPointContainer in control_speech.cpp.

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

  // control_object.cpp
  HRESULT Initialize();
  void Log(const std::wstring& line) noexcept;
  HRESULT LoadState(IStream* stream);
  HRESULT SaveState(IStream* stream, BOOL clear_dirty);
  // The in-place window.
  static const WindowClass kViewClass;
  LRESULT OnViewMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  HRESULT ActivateInPlace(IOleClientSite* active_site);
  HWND OwnerWindow() const;
  void Paint(HDC hdc, const RECT& rc) const;
  void StateChanged();

  // control_dispatch.cpp: the members of _DPtSvr, and the methods among them.
  static std::span<const Member> Members();
  HRESULT InvokeMember(DISPID id, REFIID riid, WORD flags, DISPPARAMS* params, VARIANT* result,
                       EXCEPINFO* excep, UINT* arg_err);
  HRESULT CallSpeak(std::wstring text, VARIANT& result);
  HRESULT CallEngineVersion(std::wstring, VARIANT&);
  HRESULT CallVoiceSettings(std::wstring, VARIANT&);
  HRESULT CallAboutBox(std::wstring, VARIANT&);

  // control_speech.cpp: the hidden notify window (engine messages and the speech queue).
  static const WindowClass kNotifyClass;
  LRESULT OnNotifyMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void StartEngine();
  void QueueUtterance(std::wstring text);
  void PostStartNext();
  void StartNext();
  void EndUtterance();
  void StopSpeech();
  void Fire(DISPID id, const wchar_t* name);

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
