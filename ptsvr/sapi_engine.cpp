// The SAPI 5 engine: one ISpVoice, spoken to asynchronously, its end-of-stream events delivered to
// the control's notify window.
#include <windows.h>
#include <sapi.h>
#include <wrl/client.h>

#include "engine.h"
#include "voice_units.h"

using Microsoft::WRL::ComPtr;

namespace ptsvr {
namespace {

constexpr wchar_t kVoicesCategory[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices";

// Frees what an SPEVENT's lParam owns (what sphelper.h's SpClearEvent does).
void ClearEvent(SPEVENT& e) {
  switch (e.elParamType) {
    case SPET_LPARAM_IS_POINTER:
    case SPET_LPARAM_IS_STRING:
      CoTaskMemFree(reinterpret_cast<void*>(e.lParam));
      break;
    case SPET_LPARAM_IS_TOKEN:
    case SPET_LPARAM_IS_OBJECT:
      if (e.lParam) reinterpret_cast<IUnknown*>(e.lParam)->Release();
      break;
    default:
      break;
  }
  e.lParam = 0;
}

class SapiEngine final : public SpeechEngine {
 public:
  SapiEngine(ISpVoice* voice, HWND notify, std::wstring name)
      : voice_(voice), notify_(notify), name_(std::move(name)) {
    voice_->SetInterest(SPFEI(SPEI_END_INPUT_STREAM), SPFEI(SPEI_END_INPUT_STREAM));
    voice_->SetNotifyWindowMessage(notify_, kMsgSapiEvent, 0, 0);
  }
  ~SapiEngine() override {
    Stop();
    voice_->SetNotifySink(nullptr);
  }

  std::wstring Name() const override { return name_; }
  std::wstring Version() const override { return L"SAPI 5"; }

  void Speak(const std::wstring& text, const VoiceSettings& voice) override {
    ++utterance_;
    speaking_ = true;
    stream_ = 0;
    voice_->SetRate(SapiRateForSpeed(voice.speed));
    voice_->SetVolume(static_cast<USHORT>(SapiVolumeFor(voice.volume)));
    const std::u16string xml =
        SapiXmlFor(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()),
                   SapiPitchForHz(voice.pitch));
    ULONG stream = 0;
    const HRESULT hr = voice_->Speak(reinterpret_cast<LPCWSTR>(xml.c_str()),
                                     SPF_ASYNC | SPF_IS_XML, &stream);
    if (FAILED(hr)) {
      // Nothing will be spoken: the utterance ends on the next turn of the message loop.
      PostMessageW(notify_, kMsgEngineDone, utterance_, 0);
      return;
    }
    stream_ = stream;
  }

  void Stop() override {
    if (speaking_) voice_->Speak(nullptr, SPF_ASYNC | SPF_PURGEBEFORESPEAK, nullptr);
    speaking_ = false;
    ++utterance_;
  }

  bool HandleMessage(UINT msg, WPARAM wp, LPARAM) override {
    if (msg == kMsgEngineDone) return wp == utterance_ && Finish();
    if (msg != kMsgSapiEvent) return false;
    bool ended = false;
    SPEVENT events[8];
    ULONG fetched = 0;
    while (SUCCEEDED(voice_->GetEvents(8, events, &fetched)) && fetched > 0) {
      for (ULONG i = 0; i < fetched; ++i) {
        if (static_cast<int>(events[i].eEventId) == SPEI_END_INPUT_STREAM &&
            events[i].ulStreamNum == stream_ && stream_ != 0)
          ended = true;
        ClearEvent(events[i]);
      }
      if (fetched < 8) break;
    }
    return ended && Finish();
  }

 private:
  bool Finish() {
    if (!speaking_) return false;
    speaking_ = false;
    stream_ = 0;
    return true;
  }

  ComPtr<ISpVoice> voice_;
  HWND notify_;
  std::wstring name_;
  bool speaking_ = false;
  ULONG stream_ = 0;
  WPARAM utterance_ = 0;
};

// The voice's description, as the Speech control panel shows it.
std::wstring TokenName(ISpObjectToken* token) {
  LPWSTR text = nullptr;
  std::wstring name;
  if (token && SUCCEEDED(token->GetStringValue(nullptr, &text)) && text) name = text;
  CoTaskMemFree(text);
  return name;
}

}  // namespace

std::unique_ptr<SpeechEngine> CreateSapiEngine(ISpVoice* voice, HWND notify, std::wstring name) {
  if (!voice) return nullptr;
  return std::make_unique<SapiEngine>(voice, notify, std::move(name));
}

std::unique_ptr<SpeechEngine> CreateSystemSapiEngine(HWND notify, bool probe) {
  ComPtr<ISpVoice> voice;
  if (FAILED(CoCreateInstance(__uuidof(SpVoice), nullptr, CLSCTX_ALL, IID_PPV_ARGS(&voice))))
    return nullptr;
  // Prefer a Japanese voice; keep the default voice when there is none.
  ComPtr<ISpObjectToken> token;
  ComPtr<ISpObjectTokenCategory> category;
  ComPtr<IEnumSpObjectTokens> tokens;
  if (SUCCEEDED(CoCreateInstance(__uuidof(SpObjectTokenCategory), nullptr, CLSCTX_ALL,
                                 IID_PPV_ARGS(&category))) &&
      SUCCEEDED(category->SetId(kVoicesCategory, FALSE)) &&
      SUCCEEDED(category->EnumTokens(L"Language=411", nullptr, &tokens)) &&
      tokens->Next(1, &token, nullptr) == S_OK) {
    voice->SetVoice(token.Get());
  } else {
    token.Reset();
    voice->GetVoice(&token);
  }
  if (probe) {
    // An empty request speaks nothing where SAPI works and fails where it cannot speak.
    if (FAILED(voice->Speak(L"", SPF_ASYNC | SPF_PURGEBEFORESPEAK, nullptr))) return nullptr;
  }
  std::wstring name = TokenName(token.Get());
  if (name.empty()) name = L"SAPI 5 音声";
  return CreateSapiEngine(voice.Get(), notify, std::move(name));
}

}  // namespace ptsvr
