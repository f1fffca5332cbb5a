// The SAPI 5 engine: one ISpVoice, spoken to asynchronously, its stream events delivered to the
// control's notify window.
//
// Which end belongs to which utterance. SAPI numbers the streams of one voice: a Speak returns 1
// when the voice is idle and counts up only while earlier requests are still queued, so the same
// number comes back again and again. An utterance therefore ends only with the end of its own
// stream seen after the start of that stream, both after its Speak call: events queued before the
// call are discarded before it (they belong to earlier streams), an end with another number is
// ignored, and an end that arrives before its stream's start (left over from an earlier stream of
// the same number) is ignored too. The start-up probe is spoken before the engine subscribes to
// any event, so no event of it is ever queued; it is waited for, and purged when it is not over.
//
// A voice that fails later. With SPF_ASYNC, Speak answers only whether the request was queued; a
// voice whose engine or audio fails on its own thread reports that in GetStatus's hrLastResult, or
// its stream never starts. The start-up probe looks at both, and such a voice is passed over.
//
// An end that never comes. When audio fails on the voice's own thread (a device unplugged, no
// audio endpoint in a remote session, a stalled driver) SAPI reports no end at all. Each utterance
// therefore has a deadline (SapiDeadlineMs); when it passes, the voice is purged, the utterance
// ends once and the transcript says so. A late end of that utterance is ignored by the rules above.
#include <windows.h>
#include <sapi.h>
#include <wrl/client.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cwchar>
#include <string_view>

#include "engine.h"
#include "voice_units.h"

using Microsoft::WRL::ComPtr;

namespace ptsvr {

// ---- The SAPI declarations this file relies on -------------------------------------------------
// GetEvents fills an array of SPEVENT laid out as SAPI documents it, with the default (8-byte)
// packing: WORD eEventId, WORD elParamType, ULONG ulStreamNum, ULONGLONG ullAudioStreamOffset,
// WPARAM wParam, LPARAM lParam. A toolchain header that differs would make the engine read the
// wrong fields, or walk the array with the wrong stride.
static_assert(offsetof(SPEVENT, ulStreamNum) == 4);
static_assert(offsetof(SPEVENT, ullAudioStreamOffset) == 8);
static_assert(offsetof(SPEVENT, wParam) == 16);
static_assert(offsetof(SPEVENT, lParam) == 16 + sizeof(WPARAM));
static_assert(sizeof(SPEVENT) == (sizeof(void*) == 8 ? 32 : 24));
static_assert(alignof(SPEVENT) == 8);
// eEventId and elParamType are 16-bit fields (bit-fields in some headers, where offsetof cannot
// reach them): their bytes in memory.
constexpr bool EventIdAndParamTypeAreTheFirstTwoWords() {
  SPEVENT e{};
  e.eEventId = SPEI_END_INPUT_STREAM;
  e.elParamType = SPET_LPARAM_IS_STRING;
  const auto bytes = std::bit_cast<std::array<unsigned char, sizeof(SPEVENT)>>(e);
  return bytes[0] == 2 && bytes[1] == 0 && bytes[2] == 4 && bytes[3] == 0;
}
static_assert(EventIdAndParamTypeAreTheFirstTwoWords());
// The documented values of the constants used here.
static_assert(SPEI_START_INPUT_STREAM == 1 && SPEI_END_INPUT_STREAM == 2);
static_assert(SPET_LPARAM_IS_UNDEFINED == 0 && SPET_LPARAM_IS_TOKEN == 1 &&
              SPET_LPARAM_IS_OBJECT == 2 && SPET_LPARAM_IS_POINTER == 3 &&
              SPET_LPARAM_IS_STRING == 4);
static_assert(SPF_ASYNC == 1 && SPF_PURGEBEFORESPEAK == 2 && SPF_IS_XML == 8);
static_assert(SPFEI(SPEI_END_INPUT_STREAM) == ((1ull << 2) | (1ull << 30) | (1ull << 33)));
// GetStatus fills SPVOICESTATUS: ULONG ulCurrentStream, ULONG ulLastStreamQueued, HRESULT
// hrLastResult, DWORD dwRunningState (SPRS_DONE 1, SPRS_IS_SPEAKING 2; 0: waiting to speak), ...
static_assert(offsetof(SPVOICESTATUS, hrLastResult) == 8 && offsetof(SPVOICESTATUS, dwRunningState) == 12);
static_assert(SPRS_DONE == 1 && SPRS_IS_SPEAKING == 2);

namespace {

// Voices of Windows 10 and later that SAPI 5 applications do not list by default; an SpVoice of
// those versions accepts some of them.
constexpr wchar_t kOneCoreVoices[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech_OneCore\\Voices";
constexpr wchar_t kChoiceKey[] = L"Software\\Koemado\\PtSvr";
constexpr wchar_t kChoiceValue[] = L"Voice";
constexpr ULONGLONG kInterest = SPFEI(SPEI_START_INPUT_STREAM) | SPFEI(SPEI_END_INPUT_STREAM);
constexpr std::size_t kMaxVoices = 1000;  // a broken enumerator cannot keep us listing forever

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

std::u16string_view U16(const std::wstring& s) {
  return {reinterpret_cast<const char16_t*>(s.data()), s.size()};
}

bool SameId(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring Hex8(HRESULT hr) {
  wchar_t buf[16];
  swprintf(buf, 16, L"%08lX", static_cast<unsigned long>(hr));
  return buf;
}

// A string value of a token or one of its keys (nullptr: the default value); empty when absent.
std::wstring StringValue(ISpDataKey* key, const wchar_t* name) {
  LPWSTR text = nullptr;
  std::wstring value;
  if (key && SUCCEEDED(key->GetStringValue(name, &text)) && text) value = text;
  CoTaskMemFree(text);
  return value;
}

class SapiEngine final : public SpeechEngine {
 public:
  SapiEngine(ISpVoice* voice, HWND notify, SapiSetup setup, std::wstring name)
      : voice_(voice), notify_(notify), setup_(std::move(setup)), name_(std::move(name)) {
    for (std::size_t i = 0; i < setup_.voices.size(); ++i)
      if (SpeaksJapanese(U16(setup_.voices[i].language))) japanese_.push_back(i);
    voice_->SetInterest(kInterest, kInterest);
    voice_->SetNotifyWindowMessage(notify_, kMsgSapiEvent, 0, 0);
  }
  ~SapiEngine() override {
    Stop();
    voice_->SetNotifySink(nullptr);
    if (preview_) preview_->Speak(nullptr, SPF_ASYNC | SPF_PURGEBEFORESPEAK, nullptr);
  }

  std::wstring Name() const override { return name_; }
  std::wstring Version() const override { return L"SAPI 5"; }

  void Speak(const std::wstring& text, const VoiceSettings& voice) override {
    ++utterance_;
    speaking_ = true;
    started_ = false;
    stream_ = 0;
    DiscardEvents();  // all of them belong to earlier streams
    voice_->SetRate(SapiRateForSpeed(voice.speed));
    voice_->SetVolume(static_cast<USHORT>(SapiVolumeFor(voice.volume)));
    const std::u16string_view utf16(reinterpret_cast<const char16_t*>(text.data()), text.size());
    const std::u16string xml = SapiXmlFor(utf16, SapiPitchForHz(voice.pitch));
    ULONG stream = 0;
    const HRESULT hr = voice_->Speak(reinterpret_cast<LPCWSTR>(xml.c_str()),
                                     SPF_ASYNC | SPF_IS_XML, &stream);
    if (FAILED(hr)) {
      // Nothing will be spoken: the utterance ends on the next turn of the message loop.
      PostMessageW(notify_, kMsgEngineDone, utterance_, 0);
      Note(L"engine fail " + Hex8(hr));
      return;
    }
    stream_ = stream;
    deadline_ms_ = SapiDeadlineMs(SpokenLength(utf16), voice.speed, setup_.deadline_floor_ms);
    SetTimer(notify_, kSapiDeadlineTimerId, deadline_ms_, nullptr);
  }

  void Stop() override {
    KillTimer(notify_, kSapiDeadlineTimerId);
    if (speaking_) Purge();
    speaking_ = false;
    ++utterance_;  // a posted end of the dropped utterance is ignored
  }

  bool HandleMessage(UINT msg, WPARAM wp, LPARAM) override {
    if (msg == kMsgEngineDone) return wp == utterance_ && Finish();
    if (msg == WM_TIMER && wp == kSapiDeadlineTimerId) {
      KillTimer(notify_, kSapiDeadlineTimerId);
      if (!speaking_) return false;
      Purge();
      Finish();
      Note(L"engine timeout " + std::to_wstring(deadline_ms_));
      return true;
    }
    if (msg != kMsgSapiEvent) return false;
    bool ended = false;
    ForEachEvent([&](const SPEVENT& e) {
      if (!speaking_ || ended || e.ulStreamNum != stream_) return;
      if (e.eEventId == SPEI_START_INPUT_STREAM) started_ = true;
      if (e.eEventId == SPEI_END_INPUT_STREAM && started_) ended = true;
    });
    return ended && Finish();
  }

  std::vector<VoiceOption> Voices() const override {
    std::vector<VoiceOption> options;
    for (std::size_t i : japanese_) options.push_back({setup_.voices[i].id, setup_.voices[i].name});
    return options;
  }

  std::size_t CurrentVoice() const override {
    for (std::size_t k = 0; k < japanese_.size(); ++k)
      if (japanese_[k] == setup_.current) return k;
    return kNoVoice;
  }

  // The sample speaks on an SpVoice of its own, so that the utterances' streams are not touched.
  bool Preview(const std::wstring& text, const VoiceSettings& voice, std::size_t index) override {
    if (index >= japanese_.size() || !setup_.voices[japanese_[index]].token) return false;
    if (!preview_ && FAILED(setup_.new_voice ? setup_.new_voice(&preview_)
                                             : CoCreateInstance(__uuidof(SpVoice), nullptr, CLSCTX_ALL,
                                                                IID_PPV_ARGS(&preview_))))
      return false;
    if (FAILED(preview_->SetVoice(setup_.voices[japanese_[index]].token.Get()))) return false;
    preview_->SetRate(SapiRateForSpeed(voice.speed));
    preview_->SetVolume(static_cast<USHORT>(SapiVolumeFor(voice.volume)));
    const std::u16string xml = SapiXmlFor(U16(text), SapiPitchForHz(voice.pitch));
    return SUCCEEDED(preview_->Speak(reinterpret_cast<LPCWSTR>(xml.c_str()),
                                     SPF_ASYNC | SPF_PURGEBEFORESPEAK | SPF_IS_XML, nullptr));
  }

  bool SelectVoice(std::size_t index) override {
    if (index >= japanese_.size()) return false;
    const SapiVoice& v = setup_.voices[japanese_[index]];
    if (!v.token || FAILED(voice_->SetVoice(v.token.Get()))) return false;
    setup_.current = japanese_[index];
    name_ = v.name;
    Note(L"engine voice " + v.name);
    return true;
  }

 private:
  bool Finish() {
    if (!speaking_) return false;
    KillTimer(notify_, kSapiDeadlineTimerId);
    speaking_ = false;
    started_ = false;
    stream_ = 0;
    return true;
  }

  void Purge() { voice_->Speak(nullptr, SPF_ASYNC | SPF_PURGEBEFORESPEAK, nullptr); }

  template <class Fn>
  void ForEachEvent(Fn&& fn) {
    SPEVENT events[8];
    ULONG fetched = 0;
    while (SUCCEEDED(voice_->GetEvents(8, events, &fetched)) && fetched > 0) {
      const ULONG n = fetched < 8 ? fetched : 8;
      for (ULONG i = 0; i < n; ++i) {
        fn(events[i]);
        ClearEvent(events[i]);
      }
      if (n < 8) break;
      fetched = 0;
    }
  }

  void DiscardEvents() {
    ForEachEvent([](const SPEVENT&) {});
  }

  void Note(const std::wstring& line) {
    if (setup_.log) setup_.log(line);
  }

  ComPtr<ISpVoice> voice_;
  ComPtr<ISpVoice> preview_;  // the voice dialog's samples
  HWND notify_;
  SapiSetup setup_;
  std::wstring name_;
  std::vector<std::size_t> japanese_;  // indices into setup_.voices, the ones the dialog offers
  bool speaking_ = false;
  bool started_ = false;  // the start of stream_ has been seen since the Speak call
  ULONG stream_ = 0;
  std::uint32_t deadline_ms_ = 0;
  WPARAM utterance_ = 0;
};

// Appends the voices that `tokens` yields to `voices`, skipping ids already listed; the one whose
// id is `default_id` is marked as the default.
void AppendVoices(IEnumSpObjectTokens* tokens, const std::wstring& default_id,
                  std::vector<SapiVoice>& voices) {
  if (!tokens) return;
  for (std::size_t listed = 0; listed < kMaxVoices; ++listed) {
    ComPtr<ISpObjectToken> token;
    ULONG fetched = 0;
    if (tokens->Next(1, &token, &fetched) != S_OK || fetched != 1 || !token) break;
    LPWSTR text = nullptr;
    std::wstring id;
    if (SUCCEEDED(token->GetId(&text)) && text) id = text;
    CoTaskMemFree(text);
    if (id.empty()) continue;
    bool listed_already = false;
    for (const auto& v : voices) listed_already = listed_already || SameId(v.id, id);
    if (listed_already) continue;
    SapiVoice voice;
    voice.name = StringValue(token.Get(), nullptr);
    if (voice.name.empty()) voice.name = id.substr(id.find_last_of(L'\\') + 1);
    ComPtr<ISpDataKey> attributes;
    if (SUCCEEDED(token->OpenKey(L"Attributes", &attributes)))
      voice.language = StringValue(attributes.Get(), L"Language");
    voice.is_default = !default_id.empty() && SameId(id, default_id);
    voice.id = std::move(id);
    voice.token = std::move(token);
    voices.push_back(std::move(voice));
  }
}

std::vector<SapiVoice> ListSystemVoices() {
  std::vector<SapiVoice> voices;
  struct Category {
    const wchar_t* id;
    bool has_system_default;  // the Speech control panel's choice is SAPI's own category's
  };
  for (const Category c : {Category{SPCAT_VOICES, true}, Category{kOneCoreVoices, false}}) {
    ComPtr<ISpObjectTokenCategory> category;
    ComPtr<IEnumSpObjectTokens> tokens;
    if (FAILED(CoCreateInstance(__uuidof(SpObjectTokenCategory), nullptr, CLSCTX_ALL,
                                IID_PPV_ARGS(&category))) ||
        FAILED(category->SetId(c.id, FALSE)) ||
        FAILED(category->EnumTokens(nullptr, nullptr, &tokens)) || !tokens)
      continue;
    std::wstring default_id;
    LPWSTR text = nullptr;
    if (c.has_system_default && SUCCEEDED(category->GetDefaultTokenId(&text)) && text)
      default_id = text;
    CoTaskMemFree(text);
    AppendVoices(tokens.Get(), default_id, voices);
  }
  return voices;
}

}  // namespace

namespace {

// Why `voice`, with its voice set, cannot speak (empty: it spoke an empty request).
std::wstring ProbeFailure(ISpVoice* voice, DWORD wait_ms) {
  HRESULT hr = voice->Speak(L"", SPF_ASYNC | SPF_PURGEBEFORESPEAK, nullptr);
  if (FAILED(hr)) return L"Speak " + Hex8(hr);
  const bool done = voice->WaitUntilDone(wait_ms) == S_OK;
  SPVOICESTATUS status{};
  hr = voice->GetStatus(&status, nullptr);
  if (!done) voice->Speak(nullptr, SPF_ASYNC | SPF_PURGEBEFORESPEAK, nullptr);
  if (FAILED(hr)) return L"GetStatus " + Hex8(hr);
  if (FAILED(status.hrLastResult)) return L"result " + Hex8(status.hrLastResult);
  // Not over within the wait: still speaking is slow but well; still waiting is a stream that
  // never started (no audio to claim).
  if (!done && !(status.dwRunningState & (SPRS_DONE | SPRS_IS_SPEAKING)))
    return L"not started in " + std::to_wstring(wait_ms) + L" ms";
  return {};
}

}  // namespace

std::size_t SetJapaneseVoice(ISpVoice* voice, const std::vector<SapiVoice>& voices,
                             const std::wstring& chosen_id, const VoiceCheck& check) {
  std::vector<VoiceEntry> entries;
  for (const auto& v : voices)
    entries.push_back({std::u16string(U16(v.id)), std::u16string(U16(v.language)), v.is_default});
  for (std::size_t i : JapaneseVoiceOrder(entries, U16(chosen_id))) {
    // Never a null token: SetVoice(nullptr) means the system default, which may not be Japanese.
    if (!voices[i].token) continue;
    std::wstring why;
    if (const HRESULT hr = voice->SetVoice(voices[i].token.Get()); FAILED(hr))
      why = L"SetVoice " + Hex8(hr);
    else if (check.probe)
      why = ProbeFailure(voice, check.probe_wait_ms);
    if (why.empty()) return i;
    if (check.log) check.log(L"engine skip " + voices[i].name + L": " + why);
  }
  return kNoVoice;
}

std::unique_ptr<SpeechEngine> CreateSapiEngine(ISpVoice* voice, HWND notify, SapiSetup setup) {
  if (!voice) return nullptr;
  std::wstring name;
  if (setup.current < setup.voices.size()) {
    name = setup.voices[setup.current].name;
  } else {
    ComPtr<ISpObjectToken> token;
    if (SUCCEEDED(voice->GetVoice(&token))) name = StringValue(token.Get(), nullptr);
  }
  if (name.empty()) name = L"SAPI 5 音声";
  return std::make_unique<SapiEngine>(voice, notify, std::move(setup), std::move(name));
}

std::unique_ptr<SpeechEngine> CreateSystemSapiEngine(HWND notify, bool automatic, EngineLog log,
                                                     EngineNotice& why) {
  ComPtr<ISpVoice> voice;
  if (FAILED(CoCreateInstance(__uuidof(SpVoice), nullptr, CLSCTX_ALL, IID_PPV_ARGS(&voice)))) {
    why = kNoSapi;
    return nullptr;
  }
  SapiSetup setup;
  setup.voices = ListSystemVoices();
  VoiceCheck check;
  check.probe = automatic;
  check.log = log;
  setup.current = SetJapaneseVoice(voice.Get(), setup.voices, LoadChosenVoice(), check);
  if (setup.current == kNoVoice && automatic) {
    // The default voice (usually English) would silently skip the Japanese text.
    const bool any_japanese = std::any_of(setup.voices.begin(), setup.voices.end(), [](const SapiVoice& v) {
      return v.token && SpeaksJapanese(U16(v.language));
    });
    why = any_japanese ? kVoiceCannotSpeak : kNoJapaneseVoice;
    return nullptr;
  }
  setup.log = std::move(log);
  return CreateSapiEngine(voice.Get(), notify, std::move(setup));
}

std::wstring LoadChosenVoice() {
  DWORD bytes = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, kChoiceKey, kChoiceValue, RRF_RT_REG_SZ, nullptr, nullptr,
                   &bytes) != ERROR_SUCCESS ||
      bytes < sizeof(wchar_t))
    return {};
  std::wstring id(bytes / sizeof(wchar_t), L'\0');
  if (RegGetValueW(HKEY_CURRENT_USER, kChoiceKey, kChoiceValue, RRF_RT_REG_SZ, nullptr, id.data(),
                   &bytes) != ERROR_SUCCESS)
    return {};
  id.resize(wcsnlen(id.c_str(), id.size()));
  return id;
}

HRESULT SaveChosenVoice(const std::wstring& id) {
  const LONG rc =
      RegSetKeyValueW(HKEY_CURRENT_USER, kChoiceKey, kChoiceValue, REG_SZ, id.c_str(),
                      static_cast<DWORD>((id.size() + 1) * sizeof(wchar_t)));
  return HRESULT_FROM_WIN32(rc);
}

}  // namespace ptsvr
