// PtSvr: the speech control that Koemado hosts.
//
// Dispatch interface _DPtSvr (GetIDsOfNames answers these names, in any letter case):
//   Gender 1 (VT_I2)  Age 2 (VT_I2)  ModeGuid 3 (VT_BSTR, "{...}" or empty for none)
//   Speed 4  Pitch 5  Volume 6 (VT_I4: words per minute, hertz, 0..65535)
//   UseButton 7  UseWebSpeak 8 (VT_BOOL; kept and persisted, no effect on speech)
//   EngineVersion 10 (shows the engine's name and version)  VoiceSettings 11 (modal voice dialog)
//   Speak 16 (one VT_BSTR; queues the text and returns VARIANT_TRUE at once)
//   AboutBox -552 (DISPID_ABOUTBOX)
// Events (DISPATCH_METHOD on every advised sink, always from the control's window messages):
//   OnStartSpeak 1, OnStopSpeak 2, OnBookmark 3, OnWordPosition 4, OnPause 5, OnResume 6,
//   OnReset 7. Each utterance gets one OnStartSpeak and exactly one OnStopSpeak, in call order;
//   the others are part of the interface but this control never raises them.
//
// Environment knobs, read once when an object is created:
//   KOE_PTSVR_TRANSCRIPT=<path>   append the transcript (below) to that file, UTF-8, one write a line
//   KOE_PTSVR_ENGINE=auto|sim|sapi
//                                 auto (default): SAPI 5 with a Japanese voice that accepts a speak
//                                 request, else simulated; sim: always simulated; sapi: SAPI 5
//                                 whenever an SpVoice can be created, with the default voice when
//                                 there is no Japanese one (requests it refuses end at once)
//   KOE_PTSVR_SIM_SPEED=<factor>  the simulated engine speaks <factor> times faster (default 1;
//                                 0: every utterance ends on the next turn of the message loop)
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
//
// Voice: the voice the user chose in the voice dialog (kept per user: the key
// HKEY_CURRENT_USER\Software\Koemado\PtSvr, value Voice), else the system default voice when it
// speaks Japanese, else the first Japanese voice of SAPI's list or the OneCore list that the
// SpVoice accepts and (with auto) that speaks an empty request at start-up.
#include "control.h"

#include <algorithm>
#include <cwchar>
#include <type_traits>

#include "dialogs.h"
#include "edges.h"
#include "interface_table.h"
#include "koemado_version.h"
#include "window.h"

using Microsoft::WRL::ComPtr;

namespace ptsvr {
namespace {

constexpr UINT kMsgStartNext = WM_APP + 1;
constexpr int kDefaultWidth = 160, kDefaultHeight = 30;
constexpr int kTextMargin = 4;  // between the edge and the text, left and right

// A VARIANT that clears itself. It starts all zeros: a value narrower than the VARIANT (VT_I2,
// VT_BOOL) leaves nothing but zeros beyond its own width for a caller that reads more.
struct Variant : VARIANT {
  Variant() {
    ZeroMemory(static_cast<VARIANT*>(this), sizeof(VARIANT));
    VariantInit(this);
  }
  ~Variant() { VariantClear(this); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
};

// The caller's structures this file reads, as the platform lays them out.
static_assert(sizeof(VARIANT) == (sizeof(void*) == 8 ? 24 : 16));
static_assert(offsetof(DISPPARAMS, cArgs) == 2 * sizeof(void*) && sizeof(DISPPARAMS) == 2 * sizeof(void*) + 8);

// The first line of a text (an engine's notice: its brief form).
std::wstring FirstLine(const std::wstring& text) { return text.substr(0, text.find(L"\r\n")); }

std::wstring Hex8(HRESULT hr) {
  wchar_t buf[16];
  swprintf(buf, 16, L"%08lX", static_cast<unsigned long>(hr));
  return buf;
}

}  // namespace

// ---- Creation and lifetime ---------------------------------------------------------------------

const WindowClass PtSvrControl::kNotifyClass{
    L"PtSvrNotify", &BoundWindowProc<PtSvrControl, &PtSvrControl::OnNotifyMessage>, 0, false};
const WindowClass PtSvrControl::kViewClass{
    L"PtSvrView", &BoundWindowProc<PtSvrControl, &PtSvrControl::OnViewMessage>,
    CS_HREDRAW | CS_VREDRAW, true};

void PtSvrControl::UnregisterWindowClasses() {
  UnregisterWindowClass(kNotifyClass);
  UnregisterWindowClass(kViewClass);
}

HRESULT PtSvrControl::Create(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  // Constructed inside the edge too: a member's constructor may run out of memory.
  return ComEdge([&] {
    struct Created {
      PtSvrControl* control = new PtSvrControl();
      ~Created() { control->Release(); }
    } created;
    HRESULT hr = created.control->Initialize();
    if (SUCCEEDED(hr)) hr = created.control->QueryInterface(riid, out);
    return hr;
  });
}

PtSvrControl::PtSvrControl() { ModuleAddRef(); }

PtSvrControl::~PtSvrControl() {
  StopSpeech();
  if (view_) DestroyWindow(view_);
  engine_.reset();
  if (notify_) DestroyWindow(notify_);
  ModuleRelease();
}

HRESULT PtSvrControl::Initialize() {
  knobs_ = Knobs::FromEnvironment();
  faults_ = Faults::FromEnvironment();
  transcript_ = std::make_unique<Transcript>(knobs_.transcript_path);
  notify_ = CreateBoundWindow(kNotifyClass, L"", 0, RECT{}, HWND_MESSAGE, this);
  if (!notify_) return HRESULT_FROM_WIN32(GetLastError());
  Log(L"create");
  EngineNotice why = faults_.ForcedNotice();
  if (knobs_.engine == EngineChoice::kSim && !why) {
    engine_ = CreateSimulatedEngine(notify_, knobs_.sim_speed);
    return S_OK;
  }
  if (!why)
    engine_ = CreateSystemSapiEngine(notify_, knobs_.engine == EngineChoice::kAuto,
                                     [this](const std::wstring& line) { Log(line); }, why);
  if (!engine_) engine_ = CreateSimulatedEngine(notify_, knobs_.sim_speed, why);
  const EngineNotice notice = engine_->Notice();
  Log(L"engine " + (notice ? FirstLine(notice.full) : engine_->Version() + L": " + engine_->Name()));
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::QueryInterface(REFIID riid, void** out) {
  using Self = PtSvrControl;
  static constexpr InterfaceRow<Self> kInterfaces[] = {
      Row<Self, IDispatch>(IID_IDispatch),
      Row<Self, IDispatch>(kDiidDPtSvr),
      Row<Self, IOleObject>(IID_IOleObject),
      Row<Self, IOleControl>(IID_IOleControl),
      Row<Self, IViewObject2>(IID_IViewObject),
      Row<Self, IViewObject2>(IID_IViewObject2),
      Row<Self, IPersistStreamInit>(IID_IPersist),
      Row<Self, IPersistStreamInit>(IID_IPersistStreamInit),
      Row<Self, IConnectionPointContainer>(IID_IConnectionPointContainer),
      Row<Self, IProvideClassInfo2>(IID_IProvideClassInfo),
      Row<Self, IProvideClassInfo2>(IID_IProvideClassInfo2),
      // In-place activation last: without it (a fault of the test build) the table ends before.
      Row<Self, IOleInPlaceObject>(IID_IOleWindow),
      Row<Self, IOleInPlaceObject>(IID_IOleInPlaceObject),
      Row<Self, IOleInPlaceActiveObject>(IID_IOleInPlaceActiveObject),
  };
  constexpr std::size_t kInPlaceRows = 3;
  std::span<const InterfaceRow<Self>> rows = kInterfaces;
  if (faults_.NoInPlace()) rows = rows.first(rows.size() - kInPlaceRows);
  return QueryFromTable(this, rows, riid, out);
}

IFACEMETHODIMP_(ULONG) PtSvrControl::AddRef() { return InterlockedIncrement(&refs_); }

IFACEMETHODIMP_(ULONG) PtSvrControl::Release() {
  const LONG refs = InterlockedDecrement(&refs_);
  if (refs == 0) delete this;
  return refs;
}

void PtSvrControl::Log(const std::wstring& line) noexcept {
  try {
    if (transcript_) transcript_->Line(line);
  } catch (...) {
    // The transcript is for diagnosis; a line lost to a lack of memory must not stop speech.
  }
}

// ---- IDispatch -------------------------------------------------------------------------------

IFACEMETHODIMP PtSvrControl::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

// One member of _DPtSvr: a property of a VARIANT type, read from and written to the state, or a
// method with no argument or one string.
struct PtSvrControl::Member {
  DISPID id;
  const wchar_t* name;
  VARTYPE type;  // a property's type; VT_EMPTY: a method
  HRESULT (*get)(const ControlState& state, VARIANT& value);
  HRESULT (*put)(ControlState& state, const VARIANT& value);  // `value` is of `type` already
  VARTYPE argument;  // a method's one argument (VT_BSTR), or VT_EMPTY for none
  HRESULT (PtSvrControl::*call)(std::wstring argument, VARIANT& result);

  bool IsProperty() const { return type != VT_EMPTY; }
};

namespace {

using GuidBytes = std::array<std::uint8_t, 16>;

// The fields of the state as the VARIANTs of their properties, and back.
template <class Field>
constexpr VARTYPE kVariantType = VT_EMPTY;
template <>
constexpr VARTYPE kVariantType<std::int16_t> = VT_I2;
template <>
constexpr VARTYPE kVariantType<std::int32_t> = VT_I4;
template <>
constexpr VARTYPE kVariantType<bool> = VT_BOOL;
template <>
constexpr VARTYPE kVariantType<GuidBytes> = VT_BSTR;  // "{...}", or empty for none

HRESULT ToVariant(std::int16_t field, VARIANT& v) {
  v.vt = VT_I2;
  v.iVal = field;
  return S_OK;
}
HRESULT ToVariant(std::int32_t field, VARIANT& v) {
  v.vt = VT_I4;
  v.lVal = field;
  return S_OK;
}
HRESULT ToVariant(bool field, VARIANT& v) {
  v.vt = VT_BOOL;
  v.boolVal = field ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}
HRESULT ToVariant(const GuidBytes& field, VARIANT& v) {
  const std::wstring text = W(FormatGuid(field));
  v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!v.bstrVal) return E_OUTOFMEMORY;
  v.vt = VT_BSTR;
  return S_OK;
}

HRESULT FromVariant(const VARIANT& v, std::int16_t& field) {
  field = v.iVal;
  return S_OK;
}
HRESULT FromVariant(const VARIANT& v, std::int32_t& field) {
  field = v.lVal;
  return S_OK;
}
HRESULT FromVariant(const VARIANT& v, bool& field) {
  field = v.boolVal != VARIANT_FALSE;
  return S_OK;
}
HRESULT FromVariant(const VARIANT& v, GuidBytes& field) {
  const auto guid = ParseGuid(std::u16string_view(reinterpret_cast<const char16_t*>(v.bstrVal),
                                                  SysStringLen(v.bstrVal)));
  if (!guid) return DISP_E_TYPEMISMATCH;
  field = *guid;
  return S_OK;
}

// A property's value as the transcript writes it: numbers in decimal, booleans true/false.
std::wstring TranscriptText(const VARIANT& v) {
  if (v.vt == VT_I2) return std::to_wstring(v.iVal);
  if (v.vt == VT_I4) return std::to_wstring(v.lVal);
  if (v.vt == VT_BOOL) return v.boolVal != VARIANT_FALSE ? L"true" : L"false";
  return std::wstring(v.bstrVal, SysStringLen(v.bstrVal));
}

// The property `Field` of the state, of the VARIANT type `Type`.
template <VARTYPE Type, auto Field>
constexpr PtSvrControl::Member Property(DISPID id, const wchar_t* name) {
  static_assert(kVariantType<std::remove_cvref_t<decltype(ControlState{}.*Field)>> == Type,
                "the property's type carries its field");
  return {id,
          name,
          Type,
          [](const ControlState& state, VARIANT& value) { return ToVariant(state.*Field, value); },
          [](ControlState& state, const VARIANT& value) { return FromVariant(value, state.*Field); },
          VT_EMPTY,
          nullptr};
}

constexpr PtSvrControl::Member Method(DISPID id, const wchar_t* name, VARTYPE argument,
                                      HRESULT (PtSvrControl::*call)(std::wstring, VARIANT&)) {
  return {id, name, VT_EMPTY, nullptr, nullptr, argument, call};
}

// A write's argument converted to the property's type and stored into `written`.
HRESULT CheckPut(const PtSvrControl::Member& m, WORD flags, const DISPPARAMS& params,
                 ControlState& written) {
  if (!(flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))) return DISP_E_MEMBERNOTFOUND;
  if (params.cArgs != 1) return DISP_E_BADPARAMCOUNT;
  if (params.cNamedArgs != 1 || !params.rgdispidNamedArgs ||
      params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
    return DISP_E_PARAMNOTFOUND;
  Variant value;
  HRESULT hr = VariantChangeType(&value, &params.rgvarg[0], 0, m.type);
  if (SUCCEEDED(hr)) hr = m.put(written, value);
  return FAILED(hr) && hr != DISP_E_OVERFLOW ? DISP_E_TYPEMISMATCH : hr;
}

// A method call's argument: a string is taken as it is or by reference, never converted.
HRESULT CheckCall(const PtSvrControl::Member& m, WORD flags, const DISPPARAMS& params,
                  std::wstring& argument) {
  if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
  if (params.cNamedArgs != 0) return DISP_E_NONAMEDARGS;
  if (params.cArgs != (m.argument == VT_EMPTY ? 0u : 1u)) return DISP_E_BADPARAMCOUNT;
  if (m.argument == VT_EMPTY) return S_OK;
  const VARIANT& arg = params.rgvarg[0];
  BSTR text = nullptr;
  if (arg.vt == VT_BSTR)
    text = arg.bstrVal;
  else if (arg.vt == (VT_BSTR | VT_BYREF) && arg.pbstrVal)
    text = *arg.pbstrVal;
  else
    return DISP_E_TYPEMISMATCH;
  argument.assign(text ? text : L"", SysStringLen(text));
  return S_OK;
}

}  // namespace

std::span<const PtSvrControl::Member> PtSvrControl::Members() {
  namespace id = koe::dispid;
  static constexpr Member kMembers[] = {
      Property<VT_I2, &ControlState::gender>(id::kGender, L"Gender"),
      Property<VT_I2, &ControlState::age>(id::kAge, L"Age"),
      Property<VT_BSTR, &ControlState::mode_guid>(id::kModeGuid, L"ModeGuid"),
      Property<VT_I4, &ControlState::speed>(id::kSpeed, L"Speed"),
      Property<VT_I4, &ControlState::pitch>(id::kPitch, L"Pitch"),
      Property<VT_I4, &ControlState::volume>(id::kVolume, L"Volume"),
      Property<VT_BOOL, &ControlState::use_button>(id::kUseButton, L"UseButton"),
      Property<VT_BOOL, &ControlState::use_web_speak>(id::kUseWebSpeak, L"UseWebSpeak"),
      Method(id::kEngineVersion, L"EngineVersion", VT_EMPTY, &PtSvrControl::CallEngineVersion),
      Method(id::kVoiceSettings, L"VoiceSettings", VT_EMPTY, &PtSvrControl::CallVoiceSettings),
      Method(id::kSpeak, L"Speak", VT_BSTR, &PtSvrControl::CallSpeak),
      Method(id::kAboutBox, L"AboutBox", VT_EMPTY, &PtSvrControl::CallAboutBox),
  };
  return kMembers;
}

IFACEMETHODIMP PtSvrControl::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                           DISPID* ids) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (!names || !ids || count == 0) return E_INVALIDARG;
  HRESULT hr = S_OK;
  ids[0] = DISPID_UNKNOWN;
  for (const Member& m : Members())
    if (names[0] && _wcsicmp(names[0], m.name) == 0) ids[0] = m.id;
  if (ids[0] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  // No member has named parameters.
  for (UINT i = 1; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

IFACEMETHODIMP PtSvrControl::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                    VARIANT* result, EXCEPINFO* excep, UINT* arg_err) {
  return ComEdge([&] { return InvokeMember(id, riid, flags, params, result, excep, arg_err); });
}

HRESULT PtSvrControl::InvokeMember(DISPID id, REFIID riid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excep, UINT* arg_err) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  const auto members = Members();
  const auto m =
      std::find_if(members.begin(), members.end(), [&](const Member& member) { return member.id == id; });
  if (m == members.end()) return DISP_E_MEMBERNOTFOUND;
  DISPPARAMS none{};
  if (!params) params = &none;
  if (params->cArgs > 0 && !params->rgvarg) return E_INVALIDARG;
  // The control may be released by a sink while it works; keep it alive to the end of the call.
  ComPtr<IDispatch> keep(this);

  // What the caller asks for, checked before anything happens: a read, a write (into a copy of
  // the state) or a call with its argument.
  enum class Access { kGet, kPut, kCall } access = Access::kCall;
  ControlState written = state_;
  std::wstring argument;
  HRESULT hr = S_OK;
  if (m->IsProperty() && (flags & DISPATCH_PROPERTYGET)) {
    access = Access::kGet;
    if (params->cArgs != 0) hr = DISP_E_BADPARAMCOUNT;
  } else if (m->IsProperty()) {
    access = Access::kPut;
    hr = CheckPut(*m, flags, *params, written);
  } else {
    hr = CheckCall(*m, flags, *params, argument);
  }
  if (FAILED(hr)) {
    // The one argument has the wrong type.
    if (arg_err && (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW)) *arg_err = 0;
    return hr;
  }
  if (FAILED(hr = faults_.Call(id, excep))) {
    Log(L"fail " + std::to_wstring(id) + L" " + Hex8(hr));
    return hr;
  }

  Variant value;
  switch (access) {
    case Access::kGet:
      if (FAILED(hr = m->get(state_, value))) return hr;
      Log(L"get " + std::wstring(m->name) + L"=" + TranscriptText(value));
      break;
    case Access::kPut:
      state_ = written;
      dirty_ = true;
      if (FAILED(hr = m->get(state_, value))) return hr;
      Log(L"put " + std::wstring(m->name) + L"=" + TranscriptText(value));
      return S_OK;  // a write has no result
    case Access::kCall:
      if (m->argument == VT_EMPTY) Log(L"call " + std::to_wstring(id));
      if (FAILED(hr = (this->*m->call)(std::move(argument), value))) return hr;
      break;
  }
  if (result) {
    VariantClear(result);
    *result = value;
    value.vt = VT_EMPTY;  // ownership moved to the caller
  }
  return S_OK;
}

HRESULT PtSvrControl::CallSpeak(std::wstring text, VARIANT& result) {
  Log(L"speak " + W(EscapeForTranscript(U16(text))));
  QueueUtterance(std::move(text));
  result.vt = VT_BOOL;
  result.boolVal = VARIANT_TRUE;
  return S_OK;
}

HRESULT PtSvrControl::CallEngineVersion(std::wstring, VARIANT&) {
  if (faults_.AnsweredDialog()) return S_OK;
  std::wstring text =
      L"音声合成エンジン: " + engine_->Name() + L"\r\nバージョン: " + engine_->Version();
  if (const EngineNotice notice = engine_->Notice()) text += std::wstring(L"\r\n\r\n") + notice.full;
  MessageBoxW(OwnerWindow(), text.c_str(), L"合成エンジンバージョン", MB_OK | MB_ICONINFORMATION);
  return S_OK;
}

HRESULT PtSvrControl::CallAboutBox(std::wstring, VARIANT&) {
  if (faults_.AnsweredDialog()) return S_OK;
  MessageBoxW(OwnerWindow(),
              L"PtSvr 音声合成コントロール\r\nバージョン " KOE_VERSION_WTEXT L"\r\n\r\n"
              L"Windows の SAPI 5 音声で発声します。音声がないときは模擬エンジンで動作します。",
              L"PtSvr について", MB_OK | MB_ICONINFORMATION);
  return S_OK;
}

HRESULT PtSvrControl::CallVoiceSettings(std::wstring, VARIANT&) {
  VoiceSettings voice{state_.speed, state_.pitch, state_.volume};
  const std::vector<VoiceOption> voices = engine_->Voices();
  const std::size_t current = engine_->CurrentVoice();
  std::size_t chosen = current;
  bool ok = false;
  if (const auto answer = faults_.AnsweredDialog()) {
    ok = answer->ok;
    voice = {answer->speed, answer->pitch, answer->volume};
  } else {
    const EngineNotice notice = engine_->Notice();
    ok = ShowVoiceSettingsDialog(OwnerWindow(), voice, voices, chosen,
                                 notice ? FirstLine(notice.full) : engine_->Name());
  }
  if (!ok) return S_OK;
  state_.speed = voice.speed;
  state_.pitch = voice.pitch;
  state_.volume = voice.volume;
  dirty_ = true;
  if (chosen == current || chosen >= voices.size()) return S_OK;
  const wchar_t* problem = nullptr;
  if (!engine_->SelectVoice(chosen))
    problem = L"選んだ音声に切り替えられませんでした。これまでの音声で話します。";
  else if (FAILED(SaveChosenVoice(voices[chosen].id)))
    problem = L"選んだ音声を記録できませんでした。次に起動したときは、これまでの音声で話します。";
  StateChanged();
  if (problem) MessageBoxW(OwnerWindow(), problem, L"声の設定", MB_OK | MB_ICONWARNING);
  return S_OK;
}

// ---- Speech queue and events -----------------------------------------------------------------

LRESULT PtSvrControl::OnNotifyMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kMsgStartNext) {
    ComPtr<IDispatch> keep(this);  // a sink may release the control while an event runs
    StartNext();
    return 0;
  }
  if (engine_ && engine_->HandleMessage(msg, wp, lp)) {
    ComPtr<IDispatch> keep(this);
    EndUtterance();
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

void PtSvrControl::QueueUtterance(std::wstring text) {
  queue_.push_back(std::move(text));
  if (!speaking_) PostStartNext();
}

void PtSvrControl::PostStartNext() {
  if (start_posted_) return;
  start_posted_ = PostMessageW(notify_, kMsgStartNext, 0, 0) != FALSE;
}

void PtSvrControl::StartNext() {
  start_posted_ = false;
  if (speaking_ || queue_.empty()) return;
  std::wstring text = std::move(queue_.front());
  queue_.pop_front();
  speaking_ = true;
  StateChanged();
  Fire(koe::eventid::kOnStartSpeak, L"OnStartSpeak");
  if (!speaking_) return;  // a sink closed the control
  engine_->Speak(text, VoiceSettings{state_.speed, state_.pitch, state_.volume});
}

void PtSvrControl::EndUtterance() {
  speaking_ = false;
  StateChanged();
  Fire(koe::eventid::kOnStopSpeak, L"OnStopSpeak");
  for (long i = 0; i < faults_.ExtraStops(); ++i) Fire(koe::eventid::kOnStopSpeak, L"OnStopSpeak");
  if (!queue_.empty()) PostStartNext();
}

void PtSvrControl::StopSpeech() {
  queue_.clear();
  if (engine_) engine_->Stop();
  if (speaking_) {
    speaking_ = false;
    StateChanged();
  }
}

void PtSvrControl::Fire(DISPID id, const wchar_t* name) {
  Log(std::wstring(L"event ") + name);
  // A sink may unadvise, advise or call back into the control: fire on a copy of the list.
  std::vector<ComPtr<IDispatch>> sinks;
  for (const auto& s : sinks_) sinks.push_back(s.second);
  DISPPARAMS none{};
  for (const auto& sink : sinks) {
    Variant ignored;
    sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, &ignored, nullptr, nullptr);
  }
}

IFACEMETHODIMP PtSvrControl::EventPoint::QueryInterface(REFIID riid, void** out) {
  static constexpr InterfaceRow<EventPoint> kInterfaces[] = {
      Row<EventPoint, IConnectionPoint>(IID_IConnectionPoint)};
  return QueryFromTable(this, kInterfaces, riid, out);
}

IFACEMETHODIMP PtSvrControl::EventPoint::GetConnectionInterface(IID* iid) {
  if (!iid) return E_POINTER;
  *iid = kDiidEvents;
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::EventPoint::GetConnectionPointContainer(
    IConnectionPointContainer** container) {
  if (!container) return E_POINTER;
  *container = owner_;
  owner_->AddRef();
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::EventPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  return ComEdge([&] {
    ComPtr<IDispatch> dispatch;
    if (FAILED(sink->QueryInterface(kDiidEvents, reinterpret_cast<void**>(dispatch.GetAddressOf()))) &&
        FAILED(sink->QueryInterface(IID_PPV_ARGS(&dispatch))))
      return CONNECT_E_CANNOTCONNECT;
    owner_->sinks_.emplace_back(owner_->next_cookie_, std::move(dispatch));
    *cookie = owner_->next_cookie_++;
    return S_OK;
  });
}

IFACEMETHODIMP PtSvrControl::EventPoint::Unadvise(DWORD cookie) {
  return ComEdge([&] {
    auto& sinks = owner_->sinks_;
    auto it = std::find_if(sinks.begin(), sinks.end(), [&](auto& s) { return s.first == cookie; });
    if (it == sinks.end()) return CONNECT_E_NOCONNECTION;
    ComPtr<IDispatch> released = std::move(it->second);  // released after the list is consistent
    sinks.erase(it);
    return S_OK;
  });
}

IFACEMETHODIMP PtSvrControl::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
  if (!point) return E_POINTER;
  *point = nullptr;
  if (riid != kDiidEvents) return CONNECT_E_NOCONNECTION;
  *point = &point_;
  point_.AddRef();
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::GetClassInfo(ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;  // no type library
}

IFACEMETHODIMP PtSvrControl::GetGUID(DWORD kind, GUID* guid) {
  if (!guid) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
    *guid = GUID_NULL;
    return E_INVALIDARG;
  }
  *guid = kDiidEvents;
  return S_OK;
}

// ---- IOleObject ------------------------------------------------------------------------------

IFACEMETHODIMP PtSvrControl::SetClientSite(IOleClientSite* site) {
  site_ = site;
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::GetClientSite(IOleClientSite** site) {
  if (!site) return E_POINTER;
  *site = site_.Get();
  if (*site) (*site)->AddRef();
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::Close(DWORD) {
  return ComEdge([&] {
    InPlaceDeactivate();
    StopSpeech();
    if (advise_holder_) advise_holder_->SendOnClose();
    Log(L"close");
    return S_OK;
  });
}

IFACEMETHODIMP PtSvrControl::DoVerb(LONG verb, LPMSG, IOleClientSite* active_site, LONG, HWND,
                                    LPCRECT) {
  return ComEdge([&] {
    switch (verb) {
      case OLEIVERB_PRIMARY:
      case OLEIVERB_SHOW:
      case OLEIVERB_INPLACEACTIVATE:
      case OLEIVERB_UIACTIVATE:
        return ActivateInPlace(active_site);
      case OLEIVERB_HIDE:
        if (view_) ShowWindow(view_, SW_HIDE);
        return S_OK;
      case OLEIVERB_DISCARDUNDOSTATE:
        return S_OK;
      default:
        return OLEOBJ_S_INVALIDVERB;
    }
  });
}

HRESULT PtSvrControl::ActivateInPlace(IOleClientSite* active_site) {
  if (faults_.NoInPlace()) return E_NOINTERFACE;
  if (view_) {
    ShowWindow(view_, SW_SHOW);
    return S_OK;
  }
  IOleClientSite* site = active_site ? active_site : site_.Get();
  if (!site) return E_UNEXPECTED;
  ComPtr<IOleInPlaceSite> inplace;
  HRESULT hr = site->QueryInterface(IID_PPV_ARGS(&inplace));
  if (FAILED(hr)) return hr;
  if (inplace->CanInPlaceActivate() != S_OK) return E_FAIL;
  hr = inplace->OnInPlaceActivate();
  if (FAILED(hr)) return hr;
  HWND parent = nullptr;
  ComPtr<IOleInPlaceFrame> frame;
  ComPtr<IOleInPlaceUIWindow> doc;
  RECT pos{0, 0, kDefaultWidth, kDefaultHeight}, clip{};
  OLEINPLACEFRAMEINFO info{};
  info.cb = sizeof info;
  if (FAILED(hr = inplace->GetWindow(&parent)) ||
      FAILED(hr = inplace->GetWindowContext(&frame, &doc, &pos, &clip, &info))) {
    inplace->OnInPlaceDeactivate();
    return hr;
  }
  if (pos.right <= pos.left || pos.bottom <= pos.top) {
    pos.right = pos.left + kDefaultWidth;
    pos.bottom = pos.top + kDefaultHeight;
  }
  view_ = CreateBoundWindow(kViewClass, L"PtSvr", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, pos,
                            parent, this);
  if (!view_) {
    hr = HRESULT_FROM_WIN32(GetLastError());
    inplace->OnInPlaceDeactivate();
    return hr;
  }
  inplace_site_ = inplace;
  Log(L"activate");
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::GetUserClassID(CLSID* clsid) { return GetClassID(clsid); }

IFACEMETHODIMP PtSvrControl::GetUserType(DWORD form, LPOLESTR* type) {
  return OleRegGetUserType(kClsidPtSvr, form, type);
}

IFACEMETHODIMP PtSvrControl::SetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!size) return E_POINTER;
  extent_ = *size;
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::GetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!size) return E_POINTER;
  *size = extent_;
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::Advise(IAdviseSink* sink, DWORD* connection) {
  if (!advise_holder_) {
    HRESULT hr = CreateOleAdviseHolder(&advise_holder_);
    if (FAILED(hr)) return hr;
  }
  return advise_holder_->Advise(sink, connection);
}

IFACEMETHODIMP PtSvrControl::Unadvise(DWORD connection) {
  return advise_holder_ ? advise_holder_->Unadvise(connection) : OLE_E_NOCONNECTION;
}

IFACEMETHODIMP PtSvrControl::EnumAdvise(IEnumSTATDATA** e) {
  if (!e) return E_POINTER;
  *e = nullptr;
  return advise_holder_ ? advise_holder_->EnumAdvise(e) : S_OK;
}

IFACEMETHODIMP PtSvrControl::GetMiscStatus(DWORD, DWORD* status) {
  if (!status) return E_POINTER;
  *status = kMiscStatus;
  return S_OK;
}

// ---- In-place window -------------------------------------------------------------------------

IFACEMETHODIMP PtSvrControl::GetWindow(HWND* hwnd) {
  if (!hwnd) return E_POINTER;
  *hwnd = view_;
  return view_ ? S_OK : E_FAIL;
}

IFACEMETHODIMP PtSvrControl::InPlaceDeactivate() {
  if (!view_) return S_OK;
  DestroyWindow(view_);
  view_ = nullptr;
  if (auto site = std::move(inplace_site_)) site->OnInPlaceDeactivate();
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::SetObjectRects(LPCRECT pos, LPCRECT) {
  if (!pos) return E_POINTER;
  if (view_)
    MoveWindow(view_, pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top, TRUE);
  return S_OK;
}

HWND PtSvrControl::OwnerWindow() const {
  HWND owner = nullptr;
  if (inplace_site_) {
    inplace_site_->GetWindow(&owner);
  } else if (site_) {
    ComPtr<IOleInPlaceSite> inplace;
    if (SUCCEEDED(site_.As(&inplace))) inplace->GetWindow(&owner);
  }
  if (!owner && view_) owner = GetParent(view_);
  return owner;
}

LRESULT PtSvrControl::OnViewMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_PAINT) {
    // EndPaint also when painting fails, or the window would be asked to paint forever.
    class Painting {
     public:
      explicit Painting(HWND hwnd) : hwnd_(hwnd), hdc_(BeginPaint(hwnd, &ps_)) {}
      ~Painting() { EndPaint(hwnd_, &ps_); }
      HDC dc() const { return hdc_; }

     private:
      HWND hwnd_;
      PAINTSTRUCT ps_{};
      HDC hdc_;
    } painting(hwnd);
    RECT rc;
    GetClientRect(hwnd, &rc);
    Paint(painting.dc(), rc);
    return 0;
  }
  if (msg == WM_ERASEBKGND) return 1;
  return DefWindowProcW(hwnd, msg, wp, lp);
}

void PtSvrControl::Paint(HDC hdc, const RECT& rc) const {
  FillRect(hdc, &rc, GetSysColorBrush(COLOR_BTNFACE));
  RECT inner = rc;
  DrawEdge(hdc, &inner, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
  InflateRect(&inner, -kTextMargin, 0);
  HGDIOBJ old_font = SelectObject(hdc, GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, GetSysColor(COLOR_BTNTEXT));
  TEXTMETRICW metrics{};
  GetTextMetricsW(hdc, &metrics);
  const LONG line = metrics.tmHeight;
  // What the control is doing above the voice's name, or above what the user must know instead,
  // whose brief form is drawn whole. Where two lines do not fit, the notice alone, or the state
  // and the name on one line; only a name is cut, with an ellipsis.
  const wchar_t* state = speaking_ ? L"発声中" : L"待機中";
  const EngineNotice notice = engine_ ? engine_->Notice() : EngineNotice{};
  const std::wstring detail = notice ? notice.brief : engine_ ? engine_->Name() : L"";
  std::vector<std::wstring> lines;
  if (2 * line <= inner.bottom - inner.top)
    lines = {state, detail};
  else if (notice)
    lines = {detail};
  else
    lines = {state + (L"  " + detail)};
  LONG top = inner.top + (inner.bottom - inner.top - line * static_cast<LONG>(lines.size())) / 2;
  for (std::size_t i = 0; i < lines.size(); ++i, top += line) {
    const bool whole = notice && i + 1 == lines.size();
    RECT where{inner.left, top, inner.right, top + line};
    DrawTextW(hdc, lines[i].c_str(), static_cast<int>(lines[i].size()), &where,
              DT_LEFT | DT_SINGLELINE | DT_NOPREFIX | (whole ? 0 : DT_END_ELLIPSIS));
  }
  SelectObject(hdc, old_font);
}

void PtSvrControl::StateChanged() {
  if (view_) InvalidateRect(view_, nullptr, TRUE);
  if (view_sink_) view_sink_->OnViewChange(DVASPECT_CONTENT, -1);
}

// ---- IOleControl, IViewObject2 ---------------------------------------------------------------

IFACEMETHODIMP PtSvrControl::GetControlInfo(CONTROLINFO* info) {
  if (!info) return E_POINTER;
  info->hAccel = nullptr;
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC hdc,
                                  LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                                  ULONG_PTR) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!hdc || !bounds) return E_INVALIDARG;
  return ComEdge([&] {
    Paint(hdc, RECT{bounds->left, bounds->top, bounds->right, bounds->bottom});
    return S_OK;
  });
}

IFACEMETHODIMP PtSvrControl::SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* sink) {
  view_aspects_ = aspects;
  view_advf_ = advf;
  view_sink_ = sink;
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::GetAdvise(DWORD* aspects, DWORD* advf, IAdviseSink** sink) {
  if (aspects) *aspects = view_aspects_;
  if (advf) *advf = view_advf_;
  if (sink) {
    *sink = view_sink_.Get();
    if (*sink) (*sink)->AddRef();
  }
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
  return GetExtent(aspect, size);
}

// ---- IPersistStreamInit ----------------------------------------------------------------------

IFACEMETHODIMP PtSvrControl::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = kClsidPtSvr;
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::Load(LPSTREAM stream) {
  if (!stream) return E_POINTER;
  return ComEdge([&] { return LoadState(stream); });
}

HRESULT PtSvrControl::LoadState(IStream* stream) {
  std::uint8_t bytes[kStateSize];
  ULONG read = 0;
  HRESULT hr = stream->Read(bytes, sizeof bytes, &read);
  if (FAILED(hr)) return hr;
  const auto state = DecodeState(bytes, read);
  if (!state) return E_FAIL;
  state_ = *state;
  dirty_ = false;
  StateChanged();
  Log(L"load");
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::Save(LPSTREAM stream, BOOL clear_dirty) {
  if (!stream) return E_POINTER;
  return ComEdge([&] { return SaveState(stream, clear_dirty); });
}

HRESULT PtSvrControl::SaveState(IStream* stream, BOOL clear_dirty) {
  const auto bytes = EncodeState(state_);
  ULONG written = 0;
  HRESULT hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
  if (FAILED(hr)) return hr;
  if (written != bytes.size()) return STG_E_WRITEFAULT;
  if (clear_dirty) dirty_ = false;
  Log(L"save");
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::GetSizeMax(ULARGE_INTEGER* size) {
  if (!size) return E_POINTER;
  size->QuadPart = kStateSize;
  return S_OK;
}

IFACEMETHODIMP PtSvrControl::InitNew() {
  state_ = ControlState{};
  dirty_ = false;
  return S_OK;
}

}  // namespace ptsvr
