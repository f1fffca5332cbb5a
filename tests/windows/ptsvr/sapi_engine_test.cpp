// The SAPI 5 backend against a stand-in voice: what it asks of SAPI, which end belongs to which
// utterance, the deadline, and the choice of the Japanese voice.
#include <windows.h>
#include <sapi.h>
#include <sperror.h>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "edges.h"
#include "engine.h"

namespace ptsvr {
namespace {

// A stand-in for SAPI's SpVoice, as strict as the documentation makes the real one:
// - a Speak gets stream number 1 when the voice is idle and counts up only while earlier
//   requests are still queued, so numbers come back again and again;
// - events are queued only for what SetInterest asked for, and each one posts the notify message;
// - the stream at the head of the queue starts at once (START_INPUT_STREAM); the voice's own thread
//   is played by the test: FinishStream ends the stream being spoken (END_INPUT_STREAM);
// - a purge ends every queued stream with END_INPUT_STREAM at once, or leaves them to the voice's
//   thread, which ends them in its own time (`purge`): still counted for the numbering, or already
//   not, so that the next Speak gets a number of theirs (its stream starts only after theirs end);
// - WaitUntilDone finishes the queue when `wait_result` is S_OK, else answers it (S_FALSE: timeout).
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
  std::vector<ISpObjectToken*> voices_set;
  std::vector<SpeakCall> speaks;
  std::vector<LONG> rates;
  std::vector<USHORT> volumes;
  ULONGLONG interest = 0;
  bool interest_when_waiting = false;  // SetInterest had been called when WaitUntilDone was
  HWND notify_window = nullptr;
  UINT notify_message = 0;
  std::deque<SPEVENT> pending;  // handed out by GetEvents
  LONG refs = 1;

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
  IFACEMETHODIMP_(ULONG) Release() override { return --refs; }  // lives on the test's stack

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
    *token = current_;
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
    StartHead();
    return S_OK;
  }
  IFACEMETHODIMP SpeakStream(IStream*, DWORD, ULONG*) override { return E_NOTIMPL; }
  IFACEMETHODIMP GetStatus(SPVOICESTATUS*, LPWSTR*) override { return E_NOTIMPL; }
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
    interest_when_waiting = interest != 0;
    if (streams_.empty()) return S_OK;
    if (wait_result != S_OK) return wait_result;
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
    if (streams_.empty() || streams_.front().started) return;
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
  ISpObjectToken* current_ = nullptr;
};

// A voice token: an id, string values, and an "Attributes" key with the language.
class FakeToken final : public ISpObjectToken {
 public:
  FakeToken(std::wstring id, std::wstring name, std::wstring language) : id_(std::move(id)) {
    if (!name.empty()) values_[L""] = std::move(name);
    if (!language.empty()) {
      attributes_ = std::make_unique<FakeToken>(L"", L"", L"");
      attributes_->values_[L"Language"] = std::move(language);
    }
  }
  IFACEMETHODIMP QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (riid != IID_IUnknown && riid != __uuidof(ISpDataKey) && riid != __uuidof(ISpObjectToken))
      return E_NOINTERFACE;
    *out = this;
    AddRef();
    return S_OK;
  }
  IFACEMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  IFACEMETHODIMP_(ULONG) Release() override { return --refs_; }  // owned by the test
  IFACEMETHODIMP GetStringValue(LPCWSTR name, LPWSTR* value) override {
    *value = nullptr;
    const auto it = values_.find(name ? name : L"");
    if (it == values_.end()) return SPERR_NOT_FOUND;
    *value = Copy(it->second);
    return S_OK;
  }
  IFACEMETHODIMP OpenKey(LPCWSTR name, ISpDataKey** key) override {
    *key = nullptr;
    if (!attributes_ || std::wstring(name) != L"Attributes") return SPERR_NOT_FOUND;
    *key = attributes_.get();
    attributes_->AddRef();
    return S_OK;
  }
  IFACEMETHODIMP GetId(LPWSTR* id) override {
    *id = Copy(id_);
    return S_OK;
  }
  IFACEMETHODIMP SetData(LPCWSTR, ULONG, const BYTE*) override { return E_NOTIMPL; }
  IFACEMETHODIMP GetData(LPCWSTR, ULONG*, BYTE*) override { return E_NOTIMPL; }
  IFACEMETHODIMP SetStringValue(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
  IFACEMETHODIMP SetDWORD(LPCWSTR, DWORD) override { return E_NOTIMPL; }
  IFACEMETHODIMP GetDWORD(LPCWSTR, DWORD*) override { return E_NOTIMPL; }
  IFACEMETHODIMP CreateKey(LPCWSTR, ISpDataKey**) override { return E_NOTIMPL; }
  IFACEMETHODIMP DeleteKey(LPCWSTR) override { return E_NOTIMPL; }
  IFACEMETHODIMP DeleteValue(LPCWSTR) override { return E_NOTIMPL; }
  IFACEMETHODIMP EnumKeys(ULONG, LPWSTR*) override { return E_NOTIMPL; }
  IFACEMETHODIMP EnumValues(ULONG, LPWSTR*) override { return E_NOTIMPL; }
  IFACEMETHODIMP SetId(LPCWSTR, LPCWSTR, WINBOOL) override { return E_NOTIMPL; }
  IFACEMETHODIMP GetCategory(ISpObjectTokenCategory**) override { return E_NOTIMPL; }
  IFACEMETHODIMP CreateInstance(IUnknown*, DWORD, REFIID, void**) override { return E_NOTIMPL; }
  IFACEMETHODIMP GetStorageFileName(REFCLSID, LPCWSTR, LPCWSTR, ULONG, LPWSTR*) override { return E_NOTIMPL; }
  IFACEMETHODIMP RemoveStorageFileName(REFCLSID, LPCWSTR, WINBOOL) override { return E_NOTIMPL; }
  IFACEMETHODIMP Remove(const CLSID*) override { return E_NOTIMPL; }
  IFACEMETHODIMP IsUISupported(LPCWSTR, void*, ULONG, IUnknown*, WINBOOL*) override { return E_NOTIMPL; }
  IFACEMETHODIMP DisplayUI(HWND, LPCWSTR, LPCWSTR, void*, ULONG, IUnknown*) override { return E_NOTIMPL; }
  IFACEMETHODIMP MatchesAttributes(LPCWSTR, WINBOOL*) override { return E_NOTIMPL; }

 private:
  static LPWSTR Copy(const std::wstring& s) {
    auto* out = static_cast<LPWSTR>(CoTaskMemAlloc((s.size() + 1) * sizeof(wchar_t)));
    wcscpy(out, s.c_str());
    return out;
  }
  std::wstring id_;
  std::map<std::wstring, std::wstring> values_;
  std::unique_ptr<FakeToken> attributes_;
  LONG refs_ = 1;
};

// The tokens of one voice category, in order.
class FakeTokens final : public IEnumSpObjectTokens {
 public:
  explicit FakeTokens(std::vector<FakeToken*> tokens) : tokens_(std::move(tokens)) {}
  IFACEMETHODIMP QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  IFACEMETHODIMP_(ULONG) AddRef() override { return 2; }
  IFACEMETHODIMP_(ULONG) Release() override { return 1; }
  IFACEMETHODIMP Next(ULONG count, ISpObjectToken** out, ULONG* fetched) override {
    ULONG n = 0;
    for (; n < count && next_ < tokens_.size(); ++n, ++next_) {
      out[n] = tokens_[next_];
      out[n]->AddRef();
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  IFACEMETHODIMP Skip(ULONG) override { return E_NOTIMPL; }
  IFACEMETHODIMP Reset() override { return E_NOTIMPL; }
  IFACEMETHODIMP Clone(IEnumSpObjectTokens**) override { return E_NOTIMPL; }
  IFACEMETHODIMP Item(ULONG, ISpObjectToken**) override { return E_NOTIMPL; }
  IFACEMETHODIMP GetCount(ULONG* count) override {
    *count = static_cast<ULONG>(tokens_.size());
    return S_OK;
  }

 private:
  std::vector<FakeToken*> tokens_;
  std::size_t next_ = 0;
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
    engine_ = CreateSapiEngine(&voice_, window_, std::move(setup));
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

  FakeVoice voice_;
  FakeToken haruka_{L"T\\haruka", L"Fake Voice", L"411"};
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

TEST_F(SapiEngineTest, TheProbeIsOverBeforeTheEngineListensSoItsEndIsNeverQueued) {
  engine_.reset();
  voice_ = {};  // a voice no engine has listened to yet
  SapiSetup setup;
  setup.probe = true;
  Make(std::move(setup));  // the voice finishes the probe within the wait
  ASSERT_TRUE(engine_);
  EXPECT_EQ(voice_.speaks.at(0).text, L"");
  EXPECT_FALSE(voice_.interest_when_waiting);
  engine_->Speak(L"最初", {});
  EXPECT_EQ(voice_.speaks.back().stream, voice_.speaks.at(0).stream) << "the number comes back";
  EXPECT_EQ(DeliverPosted(), 0) << "the first utterance ended with the probe's end";
  voice_.FinishStream();
  EXPECT_EQ(DeliverPosted(), 1);
}

TEST_F(SapiEngineTest, AProbeThatOutlastsTheWaitIsPurgedAndItsLateEndEndsNothing) {
  using Purge = FakeVoice::Purge;
  struct Case {
    const char* what;
    Purge purge;
    bool probe_ends_before_the_first_speak;
    ULONG first_stream;
  } cases[] = {
      {"the probe's end is queued before the first utterance, which gets the same number",
       Purge::kEndsLater, true, 1},
      {"the probe's end comes while the first utterance waits behind it", Purge::kEndsLater, false, 2},
      {"the probe's end comes after the first utterance got the same number",
       Purge::kEndsLaterVoiceIdle, false, 1},
  };
  for (const auto& c : cases) {
    engine_.reset();
    voice_ = {};
    voice_.wait_result = S_FALSE;
    voice_.purge = c.purge;
    SapiSetup setup;
    setup.probe = true;
    Make(std::move(setup));
    ASSERT_TRUE(engine_) << c.what;
    if (c.probe_ends_before_the_first_speak) voice_.FinishStream();
    engine_->Speak(L"最初", {});
    EXPECT_EQ(voice_.speaks.back().stream, c.first_stream) << c.what;
    if (!c.probe_ends_before_the_first_speak) voice_.FinishStream();
    EXPECT_EQ(DeliverPosted(), 0) << c.what;
    voice_.FinishStream();
    EXPECT_EQ(DeliverPosted(), 1) << c.what;
  }
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

TEST_F(SapiEngineTest, AVoiceThatRefusesTheProbeGivesNoEngine) {
  voice_.speak_result = E_NOTIMPL;
  SapiSetup setup;
  setup.probe = true;
  Make(std::move(setup));
  EXPECT_FALSE(engine_);
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
  for (const auto& c : cases) {
    const int purge = static_cast<int>(c.purge);
    engine_.reset();
    voice_ = {};
    voice_.purge = c.purge;
    SapiSetup setup;
    setup.deadline_floor_ms = 50;
    Make(std::move(setup));
    log_.clear();
    engine_->Speak(L"", {});  // no characters: the deadline is the floor
    EXPECT_EQ(DeliverFor(20), 0);
    EXPECT_EQ(DeliverFor(200), 1) << purge;
    EXPECT_EQ(log_, std::vector<std::wstring>{L"engine timeout 50"});
    EXPECT_EQ(voice_.speaks.back().text, L"(null)");
    EXPECT_TRUE(voice_.speaks.back().flags & SPF_PURGEBEFORESPEAK);
    // The next utterance is not ended by the late end of the one before.
    engine_->Speak(L"次", {});
    EXPECT_EQ(voice_.speaks.back().stream, c.next_stream) << purge;
    if (c.late_end) voice_.FinishStream();  // the purged stream ends at last
    EXPECT_EQ(DeliverPosted(), 0) << purge;
    voice_.FinishStream();
    EXPECT_EQ(DeliverFor(100), 1) << purge;
  }
}

TEST_F(SapiEngineTest, AnUtteranceThatEndsInTimeHasNoDeadlineLeft) {
  SapiSetup setup;
  setup.deadline_floor_ms = 30;
  Make(std::move(setup));
  engine_->Speak(L"", {});
  voice_.FinishStream();
  EXPECT_EQ(DeliverFor(150), 1);
  EXPECT_TRUE(log_.empty());
}

// ---- The voice ----------------------------------------------------------------------------------

TEST(SapiVoices, TheJapaneseVoiceIsChosenAndSetOrNoneIsSet) {
  FakeToken en(L"T\\en", L"English", L"409"), haruka(L"T\\haruka", L"Haruka", L"411"),
      ayumi(L"T\\ayumi", L"Ayumi", L"411;409"), ichiro(L"OneCore\\ichiro", L"Ichiro", L"411");
  struct Case {
    const char* what;
    std::vector<SapiVoice> voices;
    std::wstring chosen;
    std::set<ISpObjectToken*> refused;
    std::vector<ISpObjectToken*> tried;
    std::size_t set;
  } cases[] = {
      {"the user's Japanese default though another Japanese voice comes first",
       {Voice(en, L"T\\en", L"409"), Voice(haruka, L"T\\haruka", L"411"),
        Voice(ayumi, L"T\\ayumi", L"411;409", true)},
       L"", {}, {&ayumi}, 2},
      {"an English default: the first Japanese voice",
       {Voice(en, L"T\\en", L"409", true), Voice(haruka, L"T\\haruka", L"411"),
        Voice(ayumi, L"T\\ayumi", L"411")},
       L"", {}, {&haruka}, 1},
      {"a voice SetVoice refuses is passed over",
       {Voice(en, L"T\\en", L"409", true), Voice(ichiro, L"OneCore\\ichiro", L"411"),
        Voice(haruka, L"T\\haruka", L"411")},
       L"", {&ichiro}, {&ichiro, &haruka}, 2},
      {"no Japanese voice: nothing is set",
       {Voice(en, L"T\\en", L"409", true)}, L"", {}, {}, kNoVoice},
      {"every Japanese voice refused",
       {Voice(haruka, L"T\\haruka", L"411", true)}, L"", {&haruka}, {&haruka}, kNoVoice},
      {"the voice chosen in the dialog comes first",
       {Voice(haruka, L"T\\haruka", L"411", true), Voice(ichiro, L"OneCore\\ichiro", L"411")},
       L"onecore\\ICHIRO", {}, {&ichiro}, 1},
  };
  for (const auto& c : cases) {
    FakeVoice voice;
    voice.refused = c.refused;
    EXPECT_EQ(SetJapaneseVoice(&voice, c.voices, c.chosen), c.set) << c.what;
    EXPECT_EQ(voice.voices_set, c.tried) << c.what;
  }
}

TEST(SapiVoices, ListsEachTokensIdNameAndLanguageOnce) {
  FakeToken haruka(L"HKLM\\Voices\\Tokens\\Haruka", L"Microsoft Haruka", L"411"),
      english(L"HKLM\\Voices\\Tokens\\Zira", L"Microsoft Zira", L"409"),
      nameless(L"HKLM\\OneCore\\Tokens\\MSTTS_V110_jaJP_IchiroM", L"", L"411"),
      again(L"hklm\\voices\\tokens\\HARUKA", L"Haruka again", L"411");
  FakeTokens sapi({&haruka, &english}), onecore({&nameless, &again});
  std::vector<SapiVoice> voices;
  AppendVoices(&sapi, L"HKLM\\Voices\\Tokens\\Zira", voices);
  AppendVoices(&onecore, L"", voices);
  ASSERT_EQ(voices.size(), 3u);
  EXPECT_EQ(voices[0].id, L"HKLM\\Voices\\Tokens\\Haruka");
  EXPECT_EQ(voices[0].name, L"Microsoft Haruka");
  EXPECT_EQ(voices[0].language, L"411");
  EXPECT_FALSE(voices[0].is_default);
  EXPECT_TRUE(voices[1].is_default);
  EXPECT_EQ(voices[1].language, L"409");
  EXPECT_EQ(voices[2].name, L"MSTTS_V110_jaJP_IchiroM");
  EXPECT_EQ(voices[2].token.Get(), &nameless);
}

TEST_F(SapiEngineTest, TheDialogOffersTheJapaneseVoicesAndSwitchesToTheOneChosen) {
  FakeToken en(L"T\\en", L"English", L"409"), ayumi(L"T\\ayumi", L"Ayumi", L"411");
  SapiSetup setup;
  setup.voices = {Voice(en, L"T\\en", L"409", true), Voice(haruka_, L"T\\haruka", L"411"),
                  Voice(ayumi, L"T\\ayumi", L"411")};
  setup.current = 1;
  Make(std::move(setup));
  const auto options = engine_->Voices();
  ASSERT_EQ(options.size(), 2u);
  EXPECT_EQ(options[0].id, L"T\\haruka");
  EXPECT_EQ(options[1].id, L"T\\ayumi");
  EXPECT_EQ(engine_->CurrentVoice(), 0u);
  voice_.refused = {&ayumi};
  EXPECT_FALSE(engine_->SelectVoice(1));
  EXPECT_EQ(engine_->CurrentVoice(), 0u);
  voice_.refused.clear();
  EXPECT_TRUE(engine_->SelectVoice(1));
  EXPECT_EQ(engine_->CurrentVoice(), 1u);
  EXPECT_EQ(engine_->Name(), L"T\\ayumi");
  EXPECT_EQ(log_.back(), L"engine voice T\\ayumi");
  EXPECT_FALSE(engine_->SelectVoice(2));
}

TEST(SapiVoices, TheDialogsChoiceIsKeptPerUser) {
  const std::wstring before = LoadChosenVoice();
  ASSERT_EQ(SaveChosenVoice(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens\\Ｘ"), S_OK);
  EXPECT_EQ(LoadChosenVoice(), L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens\\Ｘ");
  wchar_t value[512];
  DWORD bytes = sizeof value;
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, L"Software\\Koemado\\PtSvr", L"Voice", RRF_RT_REG_SZ,
                         nullptr, value, &bytes),
            ERROR_SUCCESS);
  EXPECT_STREQ(value, L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens\\Ｘ");
  if (before.empty())
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Koemado\\PtSvr", L"Voice");
  else
    SaveChosenVoice(before);
}

// ---- Edges -----------------------------------------------------------------------------------------

TEST(Edges, NoExceptionLeavesACallFromWindowsOrCom) {
  struct Case {
    const char* what;
    std::function<HRESULT()> body;
    HRESULT com;
  } cases[] = {
      {"result", [] { return S_FALSE; }, S_FALSE},
      {"out of memory", []() -> HRESULT { throw std::bad_alloc(); }, E_OUTOFMEMORY},
      {"an error", []() -> HRESULT { throw std::runtime_error("x"); }, E_UNEXPECTED},
      {"anything", []() -> HRESULT { throw 1; }, E_UNEXPECTED},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ComEdge(c.body), c.com) << c.what;
    EXPECT_EQ(WindowEdge<LRESULT>(0, [&]() -> LRESULT { return c.body() == S_FALSE ? 7 : 8; }),
              c.com == S_FALSE ? 7 : 0)
        << c.what;
  }
}

}  // namespace
}  // namespace ptsvr
