#include "PTSVRLib_TLB.h"

#include "com_util.h"
#include "protocol.h"

TPtSvr::TPtSvr(HWND parent, const RECT& bounds, const void* control_data, size_t control_data_size)
    : host_(koe::AsGuid<GUID>(koe::kClsidPtSvr), koe::AsGuid<GUID>(koe::kDiidDPtSvr),
            koe::AsGuid<GUID>(koe::kDiidDPtSvrEvents)) {
  host_.SetParent(parent);
  host_.SetBounds(bounds);
  host_.SetControlData(control_data, control_data_size);
}

TPtSvr::~TPtSvr() = default;

void TPtSvr::SetOnStopSpeak(std::function<void()> handler) {
  if (!handler) {
    host_.OnEvent(koe::eventid::kOnStopSpeak, nullptr);
    return;
  }
  host_.OnEvent(koe::eventid::kOnStopSpeak, [handler = std::move(handler)](DISPPARAMS*) { handler(); });
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
