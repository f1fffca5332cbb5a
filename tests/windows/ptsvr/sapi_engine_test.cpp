// The SAPI 5 backend against a stand-in voice: what it asks of SAPI, which end belongs to which
// utterance, the deadline, and the choice of the Japanese voice.
#include <windows.h>
#include <sapi.h>
#include <sperror.h>

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "edges.h"
#include "engine.h"

namespace ptsvr {
namespace {

using Microsoft::WRL::ComPtr;

// A stand-in for SAPI's SpVoice, as strict as the documentation makes the real one:
// - a Speak gets stream number 1 when the voice is idle and counts up only while earlier
//   requests are still queued, so numbers come back again and again;
// - events are queued only for what SetInterest asked for, and each one posts the notify message;
// - the stream at the head of the queue starts at once (START_INPUT_STREAM); the voice's own thread
//   is played by the test: FinishStream ends the stream being spoken (END_INPUT_STREAM);
// - a purge ends every queued stream with END_INPUT_STREAM at once, or leaves them to the voice's
//   thread, which ends them in its own time (`purge`): still counted for the numbering, or already
//   not, so that the next Speak gets a number of theirs (its stream starts only after theirs end);
// - WaitUntilDone finishes the queue when `wait_result` is S_OK, else answers it (S_FALSE: timeout);
// - a voice's engine may fail on the voice's own thread after Speak has returned S_OK (`fails`): its
//   stream ends without an event, and GetStatus's hrLastResult says why; or its stream may never
//   start (`never_start`: no audio to claim), so that WaitUntilDone can only time out;
// - SetVoice and GetVoice hold the token as COM does, and every reference is given back before the
//   voice goes (a stand-in dies only after whatever holds it).
class FakeVoice final : public ISpVoice {
 public:
  struct SpeakCall {
    std::wstring text;  // "(null)" for a null text
    DWORD flags;
    ULONG stream;  // 0: none
  };
  enum class Purge { kEndsAtOnce, kEndsLater, kEndsLaterVoiceIdle };
  HRESULT speak_result = S_OK;
  HRESULT wait_result = S_OK;
  Purge purge = Purge::kEndsAtOnce;
  std::set<ISpObjectToken*> refused;  // SetVoice answers E_INVALIDARG for these
  std::map<ISpObjectToken*, HRESULT> fails;  // streams in these voices fail, with this result
  std::set<ISpObjectToken*> never_start;     // streams in these voices never start
  std::vector<ISpObjectToken*> voices_set;
  std::vector<SpeakCall> speaks;
  std::vector<LONG> rates;
  std::vector<USHORT> volumes;
  ULONGLONG interest = 0;
  HWND notify_window = nullptr;
  UINT notify_message = 0;
  std::deque<SPEVENT> pending;  // handed out by GetEvents
  LONG refs = 1;

  FakeVoice() = default;
  FakeVoice& operator=(FakeVoice&&) = default;  // a fresh voice for the next case
  ~FakeVoice() { EXPECT_EQ(refs, 1) << "the voice goes while something holds it"; }

  // The voice's thread finishes the stream it is speaking.
  void FinishStream() {
    ASSERT_FALSE(streams_.empty());
    Emit(SPEI_END_INPUT_STREAM, streams_.front().number);
    streams_.pop_front();
    StartHead();
  }
  bool Idle() const { return streams_.empty(); }
  // An event SAPI would never send for this voice's streams (another number).
  void Inject(SPEVENTENUM id, ULONG stream) { Emit(id, stream); }

  IFACEMETHODIMP QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (riid != IID_IUnknown && riid != __uuidof(ISpVoice)) return E_NOINTERFACE;
    *out = this;
    AddRef();
    return S_OK;
  }
  IFACEMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  IFACEMETHODIMP_(ULONG) Release() override { return --refs; }  // lives in the test

  IFACEMETHODIMP SetNotifySink(ISpNotifySink* sink) override {
    if (!sink) notify_window = nullptr;
    return S_OK;
  }
  IFACEMETHODIMP SetNotifyWindowMessage(HWND hwnd, UINT msg, WPARAM, LPARAM) override {
    notify_window = hwnd;
    notify_message = msg;
    return S_OK;
  }
  IFACEMETHODIMP SetNotifyCallbackFunction(SPNOTIFYCALLBACK*, WPARAM, LPARAM) override { return E_NOTIMPL; }
  IFACEMETHODIMP SetNotifyCallbackInterface(ISpNotifyCallback*, WPARAM, LPARAM) override { return E_NOTIMPL; }
  IFACEMETHODIMP SetNotifyWin32Event() override { return E_NOTIMPL; }
  IFACEMETHODIMP WaitForNotifyEvent(DWORD) override { return E_NOTIMPL; }
  IFACEMETHODIMP_(HANDLE) GetNotifyEventHandle() override { return nullptr; }
  IFACEMETHODIMP SetInterest(ULONGLONG events, ULONGLONG queued) override {
    if ((events & SPFEI_FLAGCHECK) != SPFEI_FLAGCHECK || queued != events) return E_INVALIDARG;
    interest = events;
    return S_OK;
  }
  IFACEMETHODIMP GetEvents(ULONG count, SPEVENT* events, ULONG* fetched) override {
    ULONG n = 0;
    while (n < count && !pending.empty()) {
      events[n++] = pending.front();
      pending.pop_front();
    }
    *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  IFACEMETHODIMP GetInfo(SPEVENTSOURCEINFO*) override { return E_NOTIMPL; }
  IFACEMETHODIMP SetOutput(IUnknown*, WINBOOL) override { return E_NOTIMPL; }
  IFACEMETHODIMP GetOutputObjectToken(ISpObjectToken**) override { return E_NOTIMPL; }
  IFACEMETHODIMP GetOutputStream(ISpStreamFormat**) override { return E_NOTIMPL; }
  IFACEMETHODIMP Pause() override { return E_NOTIMPL; }
  IFACEMETHODIMP Resume() override { return E_NOTIMPL; }
  IFACEMETHODIMP SetVoice(ISpObjectToken* token) override {
    voices_set.push_back(token);
    if (refused.count(token)) return E_INVALIDARG;
    current_ = token;
    return S_OK;
  }
  IFACEMETHODIMP GetVoice(ISpObjectToken** token) override {
    *token = current_.Get();
    if (!current_) return SPERR_NOT_FOUND;
    current_->AddRef();
    return S_OK;
  }
  IFACEMETHODIMP Speak(LPCWSTR text, DWORD flags, ULONG* stream) override {
    speaks.push_back({text ? text : L"(null)", flags, 0});
    if (stream) *stream = 0;
    if (FAILED(speak_result)) return speak_result;
    if (flags & SPF_PURGEBEFORESPEAK) PurgeQueue();
    if (!text) return S_OK;
    ULONG number = 1;
    for (const auto& queued : streams_)
      if (queued.counted) number = queued.number + 1;
    streams_.push_back({number});
    speaks.back().stream = number;
    if (stream) *stream = number;
    last_queued_ = number;
    last_result_ = S_OK;
    if (const auto failure = fails.find(current_.Get()); failure != fails.end()) {
      // The voice's thread fails it: no event, only the result.
      streams_.pop_back();
      last_result_ = failure->second;
    }
    StartHead();
    return S_OK;
  }
  IFACEMETHODIMP SpeakStream(IStream*, DWORD, ULONG*) override { return E_NOTIMPL; }
  IFACEMETHODIMP GetStatus(SPVOICESTATUS* status, LPWSTR* bookmark) override {
    if (bookmark) *bookmark = nullptr;  // no bookmark reached
    if (!status) return S_OK;
    *status = SPVOICESTATUS{};
    const bool speaking = !streams_.empty() && streams_.front().started;
    status->ulCurrentStream = speaking ? streams_.front().number : 0;
    status->ulLastStreamQueued = last_queued_;
    status->hrLastResult = last_result_;
    status->dwRunningState = streams_.empty() ? SPRS_DONE : speaking ? SPRS_IS_SPEAKING : 0;
    return S_OK;
  }
  IFACEMETHODIMP Skip(LPCWSTR, LONG, ULONG*) override { return E_NOTIMPL; }
  IFACEMETHODIMP SetPriority(SPVPRIORITY) override { return E_NOTIMPL; }
  IFACEMETHODIMP GetPriority(SPVPRIORITY*) override { return E_NOTIMPL; }
  IFACEMETHODIMP SetAlertBoundary(SPEVENTENUM) override { return E_NOTIMPL; }
  IFACEMETHODIMP GetAlertBoundary(SPEVENTENUM*) override { return E_NOTIMPL; }
  IFACEMETHODIMP SetRate(LONG rate) override {
    if (rate < -10 || rate > 10) return E_INVALIDARG;
    rates.push_back(rate);
    return S_OK;
  }
  IFACEMETHODIMP GetRate(LONG*) override { return E_NOTIMPL; }
  IFACEMETHODIMP SetVolume(USHORT volume) override {
    if (volume > 100) return E_INVALIDARG;
    volumes.push_back(volume);
    return S_OK;
  }
  IFACEMETHODIMP GetVolume(USHORT*) override { return E_NOTIMPL; }
  IFACEMETHODIMP WaitUntilDone(ULONG) override {
    if (streams_.empty()) return S_OK;
    if (wait_result != S_OK || !streams_.front().started) return S_FALSE;
    while (!streams_.empty()) FinishStream();
    return S_OK;
  }
  IFACEMETHODIMP SetSyncSpeakTimeout(ULONG) override { return E_NOTIMPL; }
  IFACEMETHODIMP GetSyncSpeakTimeout(ULONG*) override { return E_NOTIMPL; }
  IFACEMETHODIMP_(HANDLE) SpeakCompleteEvent() override { return nullptr; }
  IFACEMETHODIMP IsUISupported(LPCWSTR, void*, ULONG, WINBOOL*) override { return E_NOTIMPL; }
  IFACEMETHODIMP DisplayUI(HWND, LPCWSTR, LPCWSTR, void*, ULONG) override { return E_NOTIMPL; }

 private:
  struct Stream {
    ULONG number;
    bool started = false;
    bool counted = true;  // for the numbering of the next Speak
  };
  void Emit(SPEVENTENUM id, ULONG stream) {
    if (!(interest & (1ull << id))) return;
    SPEVENT e{};
    e.eEventId = id;
    e.elParamType = SPET_LPARAM_IS_UNDEFINED;
    e.ulStreamNum = stream;
    pending.push_back(e);
    if (notify_window) PostMessageW(notify_window, notify_message, 0, 0);
  }
  void StartHead() {
    if (streams_.empty() || streams_.front().started || never_start.count(current_.Get())) return;
    streams_.front().started = true;
    Emit(SPEI_START_INPUT_STREAM, streams_.front().number);
  }
  void PurgeQueue() {
    if (purge == Purge::kEndsLater) return;
    if (purge == Purge::kEndsLaterVoiceIdle) {
      for (auto& queued : streams_) queued.counted = false;
      return;
    }
    while (!streams_.empty()) {
      Emit(SPEI_END_INPUT_STREAM, streams_.front().number);
      streams_.pop_front();
    }
  }
  std::deque<Stream> streams_;
  ULONG last_queued_ = 0;
  HRESULT last_result_ = S_OK;
  ComPtr<ISpObjectToken> current_;
};

// A voice token; the fake voice tells tokens apart only by their address. Owned by the test, it
// counts its references and must have every one back before it goes.
class FakeToken final : public ISpObjectToken {
 public:
  FakeToken() = default;
  FakeToken(const FakeToken&) = delete;
  ~FakeToken() { EXPECT_EQ(refs_, 1) << "a token goes while something holds it"; }
  IFACEMETHODIMP QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  IFACEMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  IFACEMETHODIMP_(ULONG) Release() override { return --refs_; }
#define PTSVR_UNUSED(method, ...) \
  IFACEMETHODIMP method(__VA_ARGS__) override { return E_NOTIMPL; }
  PTSVR_UNUSED(SetData, LPCWSTR, ULONG, const BYTE*)
  PTSVR_UNUSED(GetData, LPCWSTR, ULONG*, BYTE*)
  PTSVR_UNUSED(SetStringValue, LPCWSTR, LPCWSTR)
  PTSVR_UNUSED(GetStringValue, LPCWSTR, LPWSTR*)
  PTSVR_UNUSED(SetDWORD, LPCWSTR, DWORD)
  PTSVR_UNUSED(GetDWORD, LPCWSTR, DWORD*)
  PTSVR_UNUSED(OpenKey, LPCWSTR, ISpDataKey**)
  PTSVR_UNUSED(CreateKey, LPCWSTR, ISpDataKey**)
  PTSVR_UNUSED(DeleteKey, LPCWSTR)
  PTSVR_UNUSED(DeleteValue, LPCWSTR)
  PTSVR_UNUSED(EnumKeys, ULONG, LPWSTR*)
  PTSVR_UNUSED(EnumValues, ULONG, LPWSTR*)
  PTSVR_UNUSED(SetId, LPCWSTR, LPCWSTR, WINBOOL)
  PTSVR_UNUSED(GetId, LPWSTR*)
  PTSVR_UNUSED(GetCategory, ISpObjectTokenCategory**)
  PTSVR_UNUSED(CreateInstance, IUnknown*, DWORD, REFIID, void**)
  PTSVR_UNUSED(GetStorageFileName, REFCLSID, LPCWSTR, LPCWSTR, ULONG, LPWSTR*)
  PTSVR_UNUSED(RemoveStorageFileName, REFCLSID, LPCWSTR, WINBOOL)
  PTSVR_UNUSED(Remove, const CLSID*)
  PTSVR_UNUSED(IsUISupported, LPCWSTR, void*, ULONG, IUnknown*, WINBOOL*)
  PTSVR_UNUSED(DisplayUI, HWND, LPCWSTR, LPCWSTR, void*, ULONG, IUnknown*)
  PTSVR_UNUSED(MatchesAttributes, LPCWSTR, WINBOOL*)
#undef PTSVR_UNUSED

 private:
  LONG refs_ = 1;
};

SapiVoice Voice(FakeToken& token, const wchar_t* id, const wchar_t* language, bool is_default = false) {
  return {id, id, language, is_default, &token};
}

class SapiEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(window_);
    SapiSetup setup;
    setup.voices = {Voice(haruka_, L"Fake Voice", L"411")};
    setup.current = 0;
    Make(std::move(setup));
  }
  void TearDown() override {
    engine_.reset();
    DestroyWindow(window_);
  }
  void Make(SapiSetup setup) {
    engine_.reset();
    setup.log = [this](const std::wstring& line) { log_.push_back(line); };
    setup.new_voice = [this](ISpVoice** v) {
      *v = &sample_;
      sample_.AddRef();
      return S_OK;
    };
    engine_ = CreateSapiEngine(&voice_, window_, std::move(setup));
  }
  // The start-up choice over `voices` (each Japanese voice must speak an empty request), then the
  // engine over the voice it set; the index of that voice.
  std::size_t ChooseAndMake(std::vector<SapiVoice> voices) {
    VoiceCheck check;
    check.probe = true;
    check.log = [this](const std::wstring& line) { log_.push_back(line); };
    SapiSetup setup;
    setup.voices = std::move(voices);
    setup.current = SetJapaneseVoice(&voice_, setup.voices, L"", check);
    const std::size_t chosen = setup.current;
    Make(std::move(setup));
    return chosen;
  }
  // Hands every message waiting for the notify window to the engine, as the control's window does;
  // counts the ends reported.
  int DeliverPosted() {
    int ends = 0;
    MSG msg;
    while (PeekMessageW(&msg, window_, 0, 0, PM_REMOVE))
      if (engine_->HandleMessage(msg.message, msg.wParam, msg.lParam)) ++ends;
    return ends;
  }
  // The same for `ms` milliseconds, waiting for timers.
  int DeliverFor(DWORD ms) {
    int ends = 0;
    const DWORD start = GetTickCount();
    for (DWORD elapsed = 0; elapsed < ms; elapsed = GetTickCount() - start) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
      ends += DeliverPosted();
    }
    return ends;
  }
  static LONGLONG Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
  }
  // Delivers until the engine reports an end, at most `limit_ms`; the milliseconds from `since` (a
  // Now()) to that end, or -1 when none came.
  double MsUntilEnd(LONGLONG since, DWORD limit_ms) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (const DWORD start = GetTickCount(); GetTickCount() - start < limit_ms;) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
      if (DeliverPosted() > 0) return double(Now() - since) * 1000 / double(frequency.QuadPart);
    }
    return -1;
  }

  // The tokens first, then the voice that holds them, then the engine that holds both: each goes
  // only after whatever holds it.
  FakeToken haruka_, en_, ayumi_;
  FakeVoice voice_, sample_;  // the utterances' voice, and the voice dialog's samples
  HWND window_ = nullptr;
  std::unique_ptr<SpeechEngine> engine_;
  std::vector<std::wstring> log_;
};

TEST_F(SapiEngineTest, AsksForStreamNotificationsOnTheControlWindow) {
  EXPECT_EQ(voice_.notify_window, window_);
  EXPECT_EQ(voice_.notify_message, kMsgSapiEvent);
  EXPECT_EQ(voice_.interest, SPFEI(SPEI_START_INPUT_STREAM) | SPFEI(SPEI_END_INPUT_STREAM));
  EXPECT_EQ(engine_->Name(), L"Fake Voice");
  engine_.reset();
  EXPECT_EQ(voice_.notify_window, nullptr) << "notifications end with the engine";
}

TEST_F(SapiEngineTest, SpeaksAsynchronouslyAsXmlWithMappedVoiceValues) {
  struct Case {
    VoiceSettings voice;
    std::wstring text;
    LONG rate;
    USHORT volume;
    const wchar_t* sent;
  } cases[] = {
      {{180, 80, 26214}, L"こんにちは", 0, 40, L"<pitch absmiddle=\"0\"/>こんにちは"},
      {{540, 160, 65535}, L"a<b&c", 10, 100, L"<pitch absmiddle=\"10\"/>a&lt;b&amp;c"},
      {{60, 40, 0}, L"", -10, 0, L"<pitch absmiddle=\"-10\"/>"},
      // What the relay sends for 「テスト123 abc」: single-byte characters with a zero high byte.
      {{180, 80, 26214}, std::wstring(L"テスト\0" L"1\0" L"2\0" L"3\0 \0" L"a\0" L"b\0" L"c", 17), 0, 40,
       L"<pitch absmiddle=\"0\"/>テスト123 abc"},
  };
  for (const auto& c : cases) {
    voice_.speaks.clear();
    engine_->Speak(c.text, c.voice);
    ASSERT_EQ(voice_.speaks.size(), 1u);
    EXPECT_EQ(voice_.speaks[0].text, c.sent);
    EXPECT_EQ(voice_.speaks[0].flags, DWORD(SPF_ASYNC | SPF_IS_XML));
    EXPECT_EQ(voice_.rates.back(), c.rate);
    EXPECT_EQ(voice_.volumes.back(), c.volume);
    voice_.FinishStream();
    EXPECT_EQ(DeliverPosted(), 1);
  }
}

TEST_F(SapiEngineTest, EndsOnlyWithTheEndOfItsOwnStreamAfterItsStart) {
  engine_->Speak(L"一", {});
  const ULONG stream = voice_.speaks.back().stream;
  EXPECT_EQ(DeliverPosted(), 0);  // its start only
  voice_.Inject(SPEI_END_INPUT_STREAM, stream + 7);
  EXPECT_EQ(DeliverPosted(), 0);
  voice_.FinishStream();
  EXPECT_EQ(DeliverPosted(), 1);
  voice_.Inject(SPEI_END_INPUT_STREAM, stream);  // a repeated end reports nothing
  EXPECT_EQ(DeliverPosted(), 0);
}

TEST_F(SapiEngineTest, AVoiceThatCannotSpeakStillEndsTheUtteranceLater) {
  voice_.speak_result = E_NOTIMPL;  // what Wine's SAPI answers
  engine_->Speak(L"二", {});
  EXPECT_EQ(DeliverPosted(), 1);
  EXPECT_EQ(log_, std::vector<std::wstring>{L"engine fail 80004001"});
  engine_->Speak(L"三", {});
  engine_->Stop();  // a stopped utterance reports no end
  EXPECT_EQ(DeliverPosted(), 0);
}

TEST_F(SapiEngineTest, StopPurgesWhatIsBeingSpoken) {
  engine_->Speak(L"四", {});
  engine_->Stop();
  ASSERT_EQ(voice_.speaks.size(), 2u);
  EXPECT_EQ(voice_.speaks[1].text, L"(null)");
  EXPECT_TRUE(voice_.speaks[1].flags & SPF_PURGEBEFORESPEAK);
  EXPECT_TRUE(voice_.Idle());
  EXPECT_EQ(DeliverPosted(), 0);
}

// ---- Stream numbers come back --------------------------------------------------------------------

TEST_F(SapiEngineTest, TheStartUpProbesEndNeverEndsTheFirstUtterance) {
  using Purge = FakeVoice::Purge;
  struct Case {
    const char* what;
    HRESULT wait;   // the voice finishes the probe within the wait (S_OK), or not
    Purge purge;    // how the voice ends the probe purged after the wait
    bool late_end;  // the probe's end comes after the first Speak
    ULONG first_stream;
  } cases[] = {
      {"the probe is over before the engine listens", S_OK, Purge::kEndsAtOnce, false, 1},
      {"its end is queued before the first utterance gets its number", S_FALSE, Purge::kEndsLater, false, 1},
      {"its end comes while the first utterance waits behind it", S_FALSE, Purge::kEndsLater, true, 2},
      {"its end comes after the first utterance got its number", S_FALSE, Purge::kEndsLaterVoiceIdle, true, 1},
  };
  for (const auto& c : cases) {
    engine_.reset();
    voice_ = {};
    voice_.wait_result = c.wait;
    voice_.purge = c.purge;
    ASSERT_EQ(ChooseAndMake({Voice(haruka_, L"Fake Voice", L"411")}), 0u) << c.what;
    EXPECT_EQ(voice_.speaks.at(0).text, L"") << c.what;
    if (c.wait != S_OK && !c.late_end) voice_.FinishStream();
    engine_->Speak(L"最初", {});
    EXPECT_EQ(voice_.speaks.back().stream, c.first_stream) << c.what;
    if (c.late_end) voice_.FinishStream();
    EXPECT_EQ(DeliverPosted(), 0) << c.what;
    voice_.FinishStream();
    EXPECT_EQ(DeliverPosted(), 1) << c.what;
  }
}

TEST_F(SapiEngineTest, AtStartUpAVoiceThatCannotSpeakIsPassedOverForTheNext) {
  struct Case {
    const char* what;
    HRESULT fails;     // the first voice's thread fails its streams with this
    bool never_start;  // the first voice's streams never start
    bool refused;      // SetVoice refuses the first voice
    const wchar_t* why;  // the transcript's reason for passing over the first voice
  } cases[] = {
      {"it fails after Speak returned", HRESULT_FROM_WIN32(ERROR_NOT_READY), false, false, L"result 80070015"},
      {"its stream never starts", S_OK, true, false, L"not started in 2000 ms"},
      {"SetVoice refuses it", S_OK, false, true, L"SetVoice 80070057"},
  };
  for (const auto& c : cases) {
    engine_.reset();
    voice_ = {};
    log_.clear();
    if (FAILED(c.fails)) voice_.fails[&haruka_] = c.fails;
    if (c.never_start) voice_.never_start.insert(&haruka_);
    if (c.refused) voice_.refused.insert(&haruka_);
    EXPECT_EQ(ChooseAndMake({Voice(haruka_, L"T\\haruka", L"411", true), Voice(ayumi_, L"T\\ayumi", L"411")}), 1u)
        << c.what;
    EXPECT_EQ(voice_.voices_set, (std::vector<ISpObjectToken*>{&haruka_, &ayumi_})) << c.what;
    EXPECT_EQ(log_, std::vector<std::wstring>{std::wstring(L"engine skip T\\haruka: ") + c.why}) << c.what;
    ASSERT_TRUE(engine_) << c.what;
    // What the first voice left behind ends nothing; the chosen voice's utterance ends.
    engine_->Speak(L"次の音声", {});
    EXPECT_EQ(DeliverPosted(), 0) << c.what;
    voice_.FinishStream();
    EXPECT_EQ(DeliverPosted(), 1) << c.what;
  }
  // No voice that speaks: nothing is chosen, and each voice passed over is named.
  engine_.reset();
  voice_ = {};
  log_.clear();
  voice_.speak_result = E_NOTIMPL;  // what Wine's SAPI answers
  EXPECT_EQ(ChooseAndMake({Voice(haruka_, L"T\\haruka", L"411"), Voice(en_, L"T\\en", L"409", true)}), kNoVoice);
  EXPECT_EQ(log_, std::vector<std::wstring>{L"engine skip T\\haruka: Speak 80004001"});
}

TEST_F(SapiEngineTest, EventsQueuedBeforeASpeakNeverEndIt) {
  engine_->Speak(L"閉じる前", {});  // its start is queued, not yet read
  engine_->Stop();                  // the purge queues its end
  engine_->Speak(L"次", {});
  EXPECT_EQ(voice_.speaks.back().stream, voice_.speaks.front().stream) << "the number comes back";
  EXPECT_EQ(DeliverPosted(), 0);
  voice_.FinishStream();
  EXPECT_EQ(DeliverPosted(), 1);
}

// ---- The deadline ----------------------------------------------------------------------------------

TEST_F(SapiEngineTest, AnEndThatNeverComesEndsTheUtteranceAtItsDeadlineOnce) {
  using Purge = FakeVoice::Purge;
  struct Case {
    Purge purge;
    ULONG next_stream;
    bool late_end;  // the purged stream's end comes after the next Speak
  } cases[] = {
      {Purge::kEndsAtOnce, 1, false},
      {Purge::kEndsLater, 2, true},
      {Purge::kEndsLaterVoiceIdle, 1, true},
  };
  // A timer comes no earlier than its time, less one tick of the system clock (15.6 ms on Windows).
  // The checks below hold on a slow or stalled machine too: a stall only makes the time longer.
  constexpr DWORD kFloor = 100, kTick = 16;
  for (const auto& c : cases) {
    const int purge = static_cast<int>(c.purge);
    engine_.reset();
    voice_ = {};
    voice_.purge = c.purge;
    SapiSetup setup;
    setup.deadline_floor_ms = kFloor;
    Make(std::move(setup));
    log_.clear();
    const LONGLONG spoken = Now();
    engine_->Speak(L"", {});  // no characters: the deadline is the floor
    EXPECT_GE(MsUntilEnd(spoken, 20 * kFloor), kFloor - kTick) << purge;
    EXPECT_EQ(DeliverFor(3 * kFloor), 0) << "it ends once; " << purge;
    EXPECT_EQ(log_, std::vector<std::wstring>{L"engine timeout " + std::to_wstring(kFloor)});
    EXPECT_EQ(voice_.speaks.back().text, L"(null)");
    EXPECT_TRUE(voice_.speaks.back().flags & SPF_PURGEBEFORESPEAK);
    // The next utterance is not ended by the late end of the one before, and ends in time.
    engine_->Speak(L"", {});
    EXPECT_EQ(voice_.speaks.back().stream, c.next_stream) << purge;
    if (c.late_end) voice_.FinishStream();  // the purged stream ends at last
    EXPECT_EQ(DeliverPosted(), 0) << purge;
    voice_.FinishStream();
    EXPECT_EQ(DeliverFor(3 * kFloor), 1) << purge;  // long enough for a deadline left behind to come
    EXPECT_EQ(log_.size(), 1u) << "no deadline is left";
  }
}

// ---- The voice ----------------------------------------------------------------------------------

TEST(SapiVoices, TheJapaneseVoiceIsChosenAndSetOrNoneIsSet) {
  FakeToken en, haruka, ayumi, ichiro;
  struct Case {
    const char* what;
    std::vector<SapiVoice> voices;
    std::wstring chosen;
    std::set<ISpObjectToken*> refused;
    std::vector<ISpObjectToken*> tried;
    std::size_t set;
  } cases[] = {
      // Which Japanese voice comes first is JapaneseVoiceOrder's (tested natively); here, that
      // the default and the dialog's choice reach it and SetVoice's answer is heeded.
      {"the user's Japanese default though another Japanese voice comes first",
       {Voice(haruka, L"T\\haruka", L"411"), Voice(ayumi, L"T\\ayumi", L"411;409", true)},
       L"", {}, {&ayumi}, 1},
      {"the voice chosen in the dialog, then one SetVoice refuses is passed over",
       {Voice(en, L"T\\en", L"409", true), Voice(haruka, L"T\\haruka", L"411"),
        Voice(ichiro, L"OneCore\\ichiro", L"411")},
       L"onecore\\ICHIRO", {&ichiro}, {&ichiro, &haruka}, 1},
      {"no Japanese voice: nothing is set", {Voice(en, L"T\\en", L"409", true)}, L"", {}, {}, kNoVoice},
      {"every Japanese voice refused", {Voice(haruka, L"T\\haruka", L"411", true)}, L"", {&haruka},
       {&haruka}, kNoVoice},
  };
  for (const auto& c : cases) {
    FakeVoice voice;
    voice.refused = c.refused;
    EXPECT_EQ(SetJapaneseVoice(&voice, c.voices, c.chosen), c.set) << c.what;
    EXPECT_EQ(voice.voices_set, c.tried) << c.what;
  }
}

TEST_F(SapiEngineTest, TheDialogOffersTheJapaneseVoicesAndSwitchesToTheOneChosen) {
  SapiSetup setup;
  setup.voices = {Voice(en_, L"T\\en", L"409", true), Voice(haruka_, L"T\\haruka", L"411"),
                  Voice(ayumi_, L"T\\ayumi", L"411")};
  setup.current = 1;
  Make(std::move(setup));
  const auto options = engine_->Voices();
  ASSERT_EQ(options.size(), 2u);
  EXPECT_EQ(options[0].id + options[1].id, L"T\\harukaT\\ayumi");
  EXPECT_EQ(engine_->CurrentVoice(), 0u);
  voice_.refused = {&ayumi_};
  EXPECT_FALSE(engine_->SelectVoice(1));
  EXPECT_EQ(engine_->CurrentVoice(), 0u);
  voice_.refused.clear();
  EXPECT_TRUE(engine_->SelectVoice(1));
  EXPECT_EQ(engine_->CurrentVoice(), 1u);
  EXPECT_EQ(log_.back(), L"engine voice T\\ayumi");
  // 試聴 speaks on a voice of its own, with the values as the dialog stands, and leaves the
  // utterances' voice alone.
  voice_.speaks.clear();
  EXPECT_TRUE(engine_->Preview(L"試す", {540, 160, 65535}, 0));
  ASSERT_EQ(sample_.speaks.size(), 1u);
  EXPECT_EQ(sample_.speaks[0].text, L"<pitch absmiddle=\"10\"/>試す");
  EXPECT_EQ(sample_.speaks[0].flags, DWORD(SPF_ASYNC | SPF_PURGEBEFORESPEAK | SPF_IS_XML));
  EXPECT_EQ(sample_.voices_set, std::vector<ISpObjectToken*>{&haruka_});
  EXPECT_EQ(sample_.rates.back(), 10);
  EXPECT_EQ(sample_.volumes.back(), 100);
  EXPECT_TRUE(voice_.speaks.empty());
  // Kept per user under our own key.
  const std::wstring before = LoadChosenVoice();
  ASSERT_EQ(SaveChosenVoice(L"T\\ＡＹＵＭＩ"), S_OK);
  wchar_t stored[64] = {};
  DWORD bytes = sizeof stored;
  RegGetValueW(HKEY_CURRENT_USER, L"Software\\Koemado\\PtSvr", L"Voice", RRF_RT_REG_SZ, nullptr, stored, &bytes);
  EXPECT_STREQ(stored, L"T\\ＡＹＵＭＩ");
  EXPECT_EQ(LoadChosenVoice(), L"T\\ＡＹＵＭＩ");
  if (before.empty()) RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Koemado\\PtSvr", L"Voice");
  else SaveChosenVoice(before);
}

// ---- Edges -----------------------------------------------------------------------------------------

TEST(Edges, NoExceptionLeavesACallFromWindowsOrCom) {
  EXPECT_EQ(ComEdge([] { return S_FALSE; }), S_FALSE);
  EXPECT_EQ(ComEdge([]() -> HRESULT { throw std::bad_alloc(); }), E_OUTOFMEMORY);
  EXPECT_EQ(ComEdge([]() -> HRESULT { throw std::runtime_error("x"); }), E_UNEXPECTED);
  EXPECT_EQ(WindowEdge<LRESULT>(0, []() -> LRESULT { return 7; }), 7);
  EXPECT_EQ(WindowEdge<LRESULT>(0, []() -> LRESULT { throw 1; }), 0);
}

}  // namespace
}  // namespace ptsvr
