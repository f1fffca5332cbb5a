// The test build's fault injection (faults.h); not part of the installed control.
#include "faults.h"

#include <algorithm>
#include <cwchar>

#include "knobs.h"
#include "voice_guard.h"

#ifndef KOE_PTSVR_TESTING
#error "faults.cpp belongs to the test build of the control only"
#endif

namespace ptsvr {
namespace {

std::string Narrow(const std::wstring& s) {  // knob values that are plain ASCII
  std::string out;
  for (wchar_t c : s) out += c < 0x80 ? char(c) : '?';
  return out;
}

// A knob holding one count of zero or more; `fallback` when unset or not such a number.
long Count(const wchar_t* name, long fallback) {
  const auto v = EnvironmentValue(name);
  if (!v) return fallback;
  const auto n = ParseDispidList(Narrow(*v));
  return n.size() == 1 && n[0] >= 0 ? n[0] : fallback;
}

}  // namespace

Faults Faults::FromEnvironment() {
  Faults f;
  if (auto v = EnvironmentValue(L"KOE_PTSVR_FAIL_DISPIDS")) f.fail_dispids_ = ParseDispidList(Narrow(*v));
  // Environment strings are UTF-16 already, so a UTF-8 description arrives as its characters.
  if (auto v = EnvironmentValue(L"KOE_PTSVR_FAIL_TEXT")) f.fail_text_ = *v;
  f.fail_count_ = Count(L"KOE_PTSVR_FAIL_COUNT", f.fail_count_);
  f.fail_after_ = Count(L"KOE_PTSVR_FAIL_AFTER", f.fail_after_);
  f.extra_stops_ = Count(L"KOE_PTSVR_EXTRA_STOPS", f.extra_stops_);
  if (auto v = EnvironmentValue(L"KOE_PTSVR_DIALOG")) f.dialog_ = ParseDialogAnswer(Narrow(*v));
  if (auto v = EnvironmentValue(L"KOE_PTSVR_NO_INPLACE")) f.no_inplace_ = *v == L"1";
  if (auto v = EnvironmentValue(L"KOE_PTSVR_VOICE_DIR")) f.voice_folder_ = *v;
  f.fail_allocation_ = Count(L"KOE_PTSVR_FAIL_ALLOCATION", -1);
  if (auto v = EnvironmentValue(L"KOE_PTSVR_NOTICE")) {
    if (*v == L"no-voice") f.notice_ = kNoJapaneseVoice;
    if (*v == L"cannot-speak") f.notice_ = kVoiceCannotSpeak;
    if (*v == L"no-sapi") f.notice_ = kNoSapi;
    if (*v == L"no-audio") f.notice_ = kNoAudioDevice;
    if (*v == L"voice-broken") f.notice_ = BundledVoiceBroken(L"C:\\Program Files (x86)\\Koemado\\Koemado\\voice\\dic\\sys.dic");
  }
  return f;
}

std::function<void()> Faults::BeforeEachUtterance() const {
  if (fail_allocation_ < 0) return {};
  return [n = fail_allocation_] { koe_voice_fail_allocation_after(n); };
}

HRESULT Faults::CreateResult() {
  const auto v = EnvironmentValue(L"KOE_PTSVR_CREATE_HRESULT");
  if (!v || v->empty()) return S_OK;
  wchar_t* end = nullptr;
  const unsigned long code = std::wcstoul(v->c_str(), &end, 16);
  return end == v->c_str() ? S_OK : static_cast<HRESULT>(code);
}

HRESULT Faults::Call(DISPID id, EXCEPINFO* excep) {
  if (std::find(fail_dispids_.begin(), fail_dispids_.end(), static_cast<long>(id)) == fail_dispids_.end())
    return S_OK;
  if (++listed_calls_ <= fail_after_) return S_OK;
  if (fail_count_ >= 0 && failures_ >= fail_count_) return S_OK;
  ++failures_;
  if (excep) {
    *excep = EXCEPINFO{};
    excep->bstrSource = SysAllocString(L"PtSvr");
    excep->bstrDescription = SysAllocString(fail_text_.c_str());
    excep->scode = E_FAIL;
  }
  return DISP_E_EXCEPTION;
}

}  // namespace ptsvr
