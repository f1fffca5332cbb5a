#include "PTSVRLib_TLB.h"

#include "com_util.h"
#include "protocol.h"

namespace {

// The first argument of an event as a 32-bit integer (COM sends the last argument first).
int32_t IntArgument(const DISPPARAMS* params) {
  if (!params || params->cArgs < 1) return 0;
  fw::Variant value;
  if (FAILED(::VariantChangeType(value.ptr(), &params->rgvarg[params->cArgs - 1], 0, VT_I4))) return 0;
  return V_I4(value.ptr());
}

}  // namespace

TPtSvr::TPtSvr(HWND parent, const RECT& bounds, const void* control_data, size_t control_data_size)
    : host_(koe::AsGuid<GUID>(koe::kClsidPtSvr), koe::AsGuid<GUID>(koe::kDiidDPtSvr),
            koe::AsGuid<GUID>(koe::kDiidDPtSvrEvents)) {
  host_.SetParent(parent);
  host_.SetBounds(bounds);
  host_.SetControlData(control_data, control_data_size);
  BindEvents();
}

TPtSvr::~TPtSvr() = default;

void TPtSvr::BindEvents() {
  auto bind = [this](DISPID id, std::function<void()> TPtSvr::*event) {
    host_.OnEvent(id, [this, event](DISPPARAMS*) {
      if (this->*event) (this->*event)();
    });
  };
  bind(koe::eventid::kOnStartSpeak, &TPtSvr::OnStartSpeak);
  bind(koe::eventid::kOnStopSpeak, &TPtSvr::OnStopSpeak);
  bind(koe::eventid::kOnPause, &TPtSvr::OnPause);
  bind(koe::eventid::kOnResume, &TPtSvr::OnResume);
  bind(koe::eventid::kOnReset, &TPtSvr::OnReset);
  host_.OnEvent(koe::eventid::kOnBookmark, [this](DISPPARAMS* params) {
    if (OnBookmark) OnBookmark(IntArgument(params));
  });
  host_.OnEvent(koe::eventid::kOnWordPosition, [this](DISPPARAMS* params) {
    if (OnWordPosition) OnWordPosition(IntArgument(params));
  });
}

void TPtSvr::HandleNeeded() { host_.EnsureActive(); }

HWND TPtSvr::Handle() const { return host_.Handle(); }

bool TPtSvr::Speak(const std::wstring& text) {
  fw::Bstr bstr(text);  // SysAllocStringLen: a U+0000 inside the text is kept
  VARIANT arg;
  ::VariantInit(&arg);
  V_VT(&arg) = VT_BSTR;
  V_BSTR(&arg) = bstr.get();
  fw::Variant result;
  host_.Call(koe::dispid::kSpeak, &arg, 1, result.ptr());
  return V_VT(result.ptr()) == VT_BOOL && V_BOOL(result.ptr()) != VARIANT_FALSE;
}

int32_t TPtSvr::GetSpeed() { return host_.GetInt(koe::dispid::kSpeed); }
void TPtSvr::SetSpeed(int32_t v) { host_.SetInt(koe::dispid::kSpeed, v); }
int32_t TPtSvr::GetPitch() { return host_.GetInt(koe::dispid::kPitch); }
void TPtSvr::SetPitch(int32_t v) { host_.SetInt(koe::dispid::kPitch, v); }
int32_t TPtSvr::GetVolume() { return host_.GetInt(koe::dispid::kVolume); }
void TPtSvr::SetVolume(int32_t v) { host_.SetInt(koe::dispid::kVolume, v); }

void TPtSvr::EngineVersion() { host_.Call(koe::dispid::kEngineVersion, nullptr, 0, nullptr); }
void TPtSvr::VoiceSettings() { host_.Call(koe::dispid::kVoiceSettings, nullptr, 0, nullptr); }
void TPtSvr::AboutBox() { host_.Call(koe::dispid::kAboutBox, nullptr, 0, nullptr); }
