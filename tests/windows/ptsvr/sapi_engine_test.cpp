// The SAPI 5 backend against a fake ISpVoice: what it asks of SAPI and when it reports the end.
#include <windows.h>
#include <sapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine.h"

namespace ptsvr {
namespace {

// Implements the few ISpVoice methods the engine uses; everything else answers E_NOTIMPL.
class FakeVoice final : public ISpVoice {
 public:
  struct SpeakCall {
    std::wstring text;  // "(null)" for a null text
    DWORD flags;
  };
  HRESULT speak_result = S_OK;
  std::vector<SpeakCall> speaks;
  std::vector<LONG> rates;
  std::vector<USHORT> volumes;
  ULONGLONG interest = 0;
  HWND notify_window = nullptr;
  UINT notify_message = 0;
  std::vector<SPEVENT> pending;  // handed out by GetEvents
  ULONG next_stream = 1;
  LONG refs = 1;

  void QueueEvent(SPEVENTENUM id, ULONG stream) {
    SPEVENT e{};
    e.eEventId = id;
    e.elParamType = SPET_LPARAM_IS_UNDEFINED;
    e.ulStreamNum = stream;
    pending.push_back(e);
  }

  IFACEMETHODIMP QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (riid != IID_IUnknown && riid != __uuidof(ISpVoice)) return E_NOINTERFACE;
    *out = this;
    AddRef();
    return S_OK;
  }
  IFACEMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  IFACEMETHODIMP_(ULONG) Release() override { return --refs; }  // lives on the test's stack

  IFACEMETHODIMP SetNotifySink(ISpNotifySink*) override { return S_OK; }
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
  IFACEMETHODIMP SetInterest(ULONGLONG events, ULONGLONG) override {
    interest = events;
    return S_OK;
  }
  IFACEMETHODIMP GetEvents(ULONG count, SPEVENT* events, ULONG* fetched) override {
    ULONG n = 0;
    while (n < count && !pending.empty()) {
      events[n++] = pending.front();
      pending.erase(pending.begin());
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
  IFACEMETHODIMP SetVoice(ISpObjectToken*) override { return E_NOTIMPL; }
  IFACEMETHODIMP GetVoice(ISpObjectToken**) override { return E_NOTIMPL; }
  IFACEMETHODIMP Speak(LPCWSTR text, DWORD flags, ULONG* stream) override {
    speaks.push_back({text ? text : L"(null)", flags});
    if (FAILED(speak_result)) return speak_result;
    if (stream) *stream = next_stream;
    ++next_stream;
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
    rates.push_back(rate);
    return S_OK;
  }
  IFACEMETHODIMP GetRate(LONG*) override { return E_NOTIMPL; }
  IFACEMETHODIMP SetVolume(USHORT volume) override {
    volumes.push_back(volume);
    return S_OK;
  }
  IFACEMETHODIMP GetVolume(USHORT*) override { return E_NOTIMPL; }
  IFACEMETHODIMP WaitUntilDone(ULONG) override { return E_NOTIMPL; }
  IFACEMETHODIMP SetSyncSpeakTimeout(ULONG) override { return E_NOTIMPL; }
  IFACEMETHODIMP GetSyncSpeakTimeout(ULONG*) override { return E_NOTIMPL; }
  IFACEMETHODIMP_(HANDLE) SpeakCompleteEvent() override { return nullptr; }
  IFACEMETHODIMP IsUISupported(LPCWSTR, void*, ULONG, WINBOOL*) override { return E_NOTIMPL; }
  IFACEMETHODIMP DisplayUI(HWND, LPCWSTR, LPCWSTR, void*, ULONG) override { return E_NOTIMPL; }
};

class SapiEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(window_);
    engine_ = CreateSapiEngine(&voice_, window_, L"Fake Voice");
  }
  void TearDown() override {
    engine_.reset();
    DestroyWindow(window_);
  }
  // Hands every message waiting for the notify window to the engine; counts the ends reported.
  int DeliverPosted() {
    int ends = 0;
    MSG msg;
    while (PeekMessageW(&msg, window_, 0, 0, PM_REMOVE))
      if (engine_->HandleMessage(msg.message, msg.wParam, msg.lParam)) ++ends;
    return ends;
  }
  int DeliverSapiNotification() {
    return engine_->HandleMessage(voice_.notify_message, 0, 0) ? 1 : 0;
  }

  FakeVoice voice_;
  HWND window_ = nullptr;
  std::unique_ptr<SpeechEngine> engine_;
};

TEST_F(SapiEngineTest, AsksForEndOfStreamNotificationsOnTheControlWindow) {
  EXPECT_EQ(voice_.notify_window, window_);
  EXPECT_EQ(voice_.notify_message, kMsgSapiEvent);
  EXPECT_EQ(voice_.interest, SPFEI(SPEI_END_INPUT_STREAM));
  EXPECT_EQ(engine_->Name(), L"Fake Voice");
}

TEST_F(SapiEngineTest, SpeaksAsynchronouslyAsXmlWithMappedVoiceValues) {
  struct Case {
    VoiceSettings voice;
    const wchar_t* text;
    LONG rate;
    USHORT volume;
    const wchar_t* sent;
  } cases[] = {
      {{180, 80, 26214}, L"こんにちは", 0, 40, L"<pitch absmiddle=\"0\"/>こんにちは"},
      {{540, 160, 65535}, L"a<b&c", 10, 100, L"<pitch absmiddle=\"10\"/>a&lt;b&amp;c"},
      {{60, 40, 0}, L"", -10, 0, L"<pitch absmiddle=\"-10\"/>"},
  };
  for (const auto& c : cases) {
    voice_.speaks.clear();
    engine_->Speak(c.text, c.voice);
    ASSERT_EQ(voice_.speaks.size(), 1u);
    EXPECT_EQ(voice_.speaks[0].text, c.sent);
    EXPECT_EQ(voice_.speaks[0].flags, DWORD(SPF_ASYNC | SPF_IS_XML));
    EXPECT_EQ(voice_.rates.back(), c.rate);
    EXPECT_EQ(voice_.volumes.back(), c.volume);
    voice_.QueueEvent(SPEI_END_INPUT_STREAM, voice_.next_stream - 1);
    EXPECT_EQ(DeliverSapiNotification(), 1);
  }
}

TEST_F(SapiEngineTest, EndsOnlyWithTheEndOfItsOwnStream) {
  engine_->Speak(L"一", {});
  const ULONG stream = voice_.next_stream - 1;
  EXPECT_EQ(DeliverSapiNotification(), 0);  // nothing queued yet
  voice_.QueueEvent(SPEI_START_INPUT_STREAM, stream);
  voice_.QueueEvent(SPEI_END_INPUT_STREAM, stream + 7);
  EXPECT_EQ(DeliverSapiNotification(), 0);
  voice_.QueueEvent(SPEI_END_INPUT_STREAM, stream);
  EXPECT_EQ(DeliverSapiNotification(), 1);
  voice_.QueueEvent(SPEI_END_INPUT_STREAM, stream);  // a repeated end reports nothing
  EXPECT_EQ(DeliverSapiNotification(), 0);
  EXPECT_EQ(DeliverPosted(), 0);
}

TEST_F(SapiEngineTest, AVoiceThatCannotSpeakStillEndsTheUtteranceLater) {
  voice_.speak_result = E_NOTIMPL;  // what Wine's SAPI answers
  engine_->Speak(L"二", {});
  EXPECT_EQ(DeliverSapiNotification(), 0);
  EXPECT_EQ(DeliverPosted(), 1);
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
  voice_.QueueEvent(SPEI_END_INPUT_STREAM, 1);
  EXPECT_EQ(DeliverSapiNotification(), 0);
}

}  // namespace
}  // namespace ptsvr
