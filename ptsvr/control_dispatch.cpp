// The control's dispatch interface _DPtSvr (the members are listed at the top of control.h): the
// member table, the conversions between the state's fields and VARIANTs, the checks of a call's
// arguments, Invoke and GetIDsOfNames, and the methods.
#include "control.h"

#include <algorithm>
#include <cstddef>
#include <cwchar>
#include <type_traits>

#include "dialogs.h"
#include "edges.h"
#include "koemado_version.h"
#include "variant.h"

using Microsoft::WRL::ComPtr;

namespace ptsvr {

// ---- The member table ------------------------------------------------------------------------

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

// The caller's structures this file reads, as the platform lays them out.
static_assert(sizeof(VARIANT) == (sizeof(void*) == 8 ? 24 : 16));
static_assert(offsetof(DISPPARAMS, cArgs) == 2 * sizeof(void*) && sizeof(DISPPARAMS) == 2 * sizeof(void*) + 8);

std::wstring Hex8(HRESULT hr) {
  wchar_t buf[16];
  swprintf(buf, 16, L"%08lX", static_cast<unsigned long>(hr));
  return buf;
}

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

// An argument as a value of our own, every reference followed (VariantCopyInd): a script passes
// its variables as VT_BYREF | VT_VARIANT, a compiled caller as VT_BYREF | VT_BSTR and the like.
// A null reference holds no value.
HRESULT ByValue(VARIANT& arg, Variant& value) {
  auto null_reference = [](const VARIANT& v) { return (v.vt & VT_BYREF) && !v.byref; };
  if (null_reference(arg) || (arg.vt == (VT_BYREF | VT_VARIANT) && null_reference(*arg.pvarVal)))
    return DISP_E_TYPEMISMATCH;
  const HRESULT hr = VariantCopyInd(&value, &arg);
  return FAILED(hr) && hr != E_OUTOFMEMORY ? DISP_E_TYPEMISMATCH : hr;
}

// A write's argument converted to the property's type and stored into `written`.
HRESULT CheckPut(const PtSvrControl::Member& m, WORD flags, const DISPPARAMS& params,
                 ControlState& written) {
  if (!(flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))) return DISP_E_MEMBERNOTFOUND;
  if (params.cArgs != 1) return DISP_E_BADPARAMCOUNT;
  if (params.cNamedArgs != 1 || !params.rgdispidNamedArgs ||
      params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
    return DISP_E_PARAMNOTFOUND;
  // VariantChangeType follows a reference itself.
  Variant value;
  HRESULT hr = VariantChangeType(&value, &params.rgvarg[0], 0, m.type);
  if (SUCCEEDED(hr)) hr = m.put(written, value);
  return FAILED(hr) && hr != DISP_E_OVERFLOW ? DISP_E_TYPEMISMATCH : hr;
}

// A method call's argument: a string, by value or by reference, never converted.
HRESULT CheckCall(const PtSvrControl::Member& m, WORD flags, const DISPPARAMS& params,
                  std::wstring& argument) {
  if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
  if (params.cNamedArgs != 0) return DISP_E_NONAMEDARGS;
  if (params.cArgs != (m.argument == VT_EMPTY ? 0u : 1u)) return DISP_E_BADPARAMCOUNT;
  if (m.argument == VT_EMPTY) return S_OK;
  Variant value;
  const HRESULT hr = ByValue(params.rgvarg[0], value);
  if (FAILED(hr)) return hr;
  if (value.vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
  argument.assign(value.bstrVal ? value.bstrVal : L"", SysStringLen(value.bstrVal));
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

// ---- The methods -----------------------------------------------------------------------------

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
  if (const EngineNotice notice = engine_->Notice()) text += L"\r\n\r\n" + notice.full;
  if (const std::wstring credit = engine_->Credit(); !credit.empty()) text += L"\r\n\r\n" + credit;
  MessageBoxW(OwnerWindow(), text.c_str(), L"合成エンジンバージョン", MB_OK | MB_ICONINFORMATION);
  return S_OK;
}

HRESULT PtSvrControl::CallAboutBox(std::wstring, VARIANT&) {
  if (faults_.AnsweredDialog()) return S_OK;
  MessageBoxW(OwnerWindow(),
              L"PtSvr 音声合成コントロール\r\nバージョン " KOE_VERSION_WTEXT L"\r\n\r\n"
              L"Windows の SAPI 5 の日本語音声で発声します。ないときは内蔵の日本語音声 (Open JTalk) "
              L"で発声します。",
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
                                 notice ? notice.Title() : engine_->Name(),
                                 [this](const VoiceSettings& v, std::size_t index) {
                                   Log(L"preview " + std::to_wstring(index));
                                   engine_->Preview(kPreviewText, v, index);
                                 });
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

}  // namespace ptsvr
