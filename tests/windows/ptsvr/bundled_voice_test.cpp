// The bundled voice through the control, with whatever text any program on the desktop may send:
// every utterance ends once and nothing crashes; a text with nothing to say ends at once; a long
// one is split and spoken piece by piece, and closing the control while it speaks stops it at
// once, raises nothing after and leaves no thread behind. Without an audio device an utterance
// ends when its sound would have ended.
#include <windows.h>
#include <mmsystem.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "container_stand_ins.h"
#include "protocol.h"
#include "support.h"

using namespace ptsvr_test;
using koe_test::ScopedEnv;
using koe_test::WaitUntil;

namespace {

namespace id = koe::dispid;

std::size_t ThreadsOfThisProcess() {
  const HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 t{};
  t.dwSize = sizeof t;
  std::size_t n = 0;
  for (BOOL more = Thread32First(snap, &t); more; more = Thread32Next(snap, &t))
    n += t.th32OwnerProcessID == GetCurrentProcessId();
  CloseHandle(snap);
  return n;
}

// One control of the bundled voice, its events and its transcript.
struct Speaker {
  ScopedEnv engine{L"KOE_PTSVR_ENGINE", L"bundled"};
  koe_test::Transcript transcript;
  ScopedEnv to_transcript{"KOE_PTSVR_TRANSCRIPT", transcript.Path()};
  Sink sink;  // outlives the control
  ComPtr<IDispatch> control = Create();
  ComPtr<IConnectionPoint> point;
  DWORD cookie = control ? AdviseSink(control.Get(), sink, point) : 0;

  HRESULT Speak(const std::wstring& text) {
    CallResult r;
    Call(control.Get(), id::kSpeak, DISPATCH_METHOD, {Str(text.data(), static_cast<UINT>(text.size()))}, r);
    return r.hr;
  }
  // Closes and lets go of the control as Koemado does when it ends; how long that took.
  ULONGLONG Close() {
    const ULONGLONG start = GetTickCount64();
    ComPtr<IOleObject> ole;
    control.As(&ole);
    point->Unadvise(cookie);
    ole->Close(OLECLOSE_NOSAVE);
    ole.Reset();
    point.Reset();
    control.Reset();
    return GetTickCount64() - start;
  }
};

constexpr DISPID kStart = koe::eventid::kOnStartSpeak, kStop = koe::eventid::kOnStopSpeak;

TEST(BundledVoice, HostileTextsEndOnceAndCrashNothing) {
  std::wstring long_text;
  while (long_text.size() < 100000) long_text += L"あいうえお、カキクケコ。漢字とABC、123を読みます！";
  long_text.resize(100000);
  enum Kind { kNothingToSay, kSpeaks, kLong };
  struct Case {
    const char* what;
    std::wstring text;
    Kind kind;
    const wchar_t* fail_allocation = nullptr;  // KOE_PTSVR_FAIL_ALLOCATION
  } cases[] = {
      {"empty", L"", kNothingToSay},
      {"symbols only", L"━━━━━━、。・！？「」", kNothingToSay},
      {"U+0000 only", std::wstring(5, L'\0'), kNothingToSay},
      {"lone surrogates", L"\xD800\xDFFF\xDBFF", kNothingToSay},
      {"emoji", L"\U0001F600\U0001F389", kNothingToSay},
      {"control characters", L"\x01\x02\x1B\x7F\x9F", kNothingToSay},
      {"outside the dictionary", L"丂\U0002000B", kNothingToSay},
      {"all of them among words", std::wstring(L"あ\0い\U0001F600\xD800う\x01え", 9), kSpeaks},
      {"an allocation that fails", L"こんにちは", kSpeaks, L"300"},
      {"400 × ア", std::wstring(400, L'ア'), kLong},
      {"100,000 characters", long_text, kLong},
  };
  {
    Speaker warm_up;  // the audio driver's own threads stay once it has been used
    ASSERT_EQ(warm_up.Speak(L"あ"), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return warm_up.sink.events.size() == 2; }));
    warm_up.Close();
  }
  const std::size_t threads = ThreadsOfThisProcess();
  for (const Case& c : cases) {
    ScopedEnv fail(L"KOE_PTSVR_FAIL_ALLOCATION", c.fail_allocation);
    Speaker s;
    ASSERT_TRUE(s.control) << c.what;
    const ULONGLONG start = GetTickCount64();
    ASSERT_EQ(s.Speak(c.text), S_OK) << c.what;
    if (c.kind == kLong) {
      EXPECT_TRUE(s.transcript.WaitForLines("engine first sound", 1)) << c.what;
      koe_test::Pump(300);
      EXPECT_EQ(s.sink.events, std::vector<DISPID>{kStart}) << c.what;
      EXPECT_LT(s.Close(), 1000u) << c.what << ": closing waited for the speech";
      koe_test::Pump(300);
      EXPECT_EQ(s.sink.events, std::vector<DISPID>{kStart}) << c.what << ": an event after the close";
    } else {
      EXPECT_TRUE(WaitUntil([&] { return s.sink.events.size() >= 2; })) << c.what;
      const ULONGLONG took = GetTickCount64() - start;
      koe_test::Pump(300);
      EXPECT_EQ(s.sink.events, (std::vector<DISPID>{kStart, kStop})) << c.what;
      if (c.kind == kNothingToSay) {
        EXPECT_LT(took, 1000u) << c.what << ": nothing to say, yet it took a while";
        EXPECT_TRUE(s.transcript.Matching("engine first sound").empty()) << c.what;
      } else {
        EXPECT_EQ(s.transcript.Has("engine fail voice"), c.fail_allocation != nullptr) << c.what;
      }
      s.Close();
    }
    EXPECT_TRUE(WaitUntil([&] { return ThreadsOfThisProcess() <= threads; }, 3000))
        << c.what << ": a thread of the voice is left";
  }
}

// Runs alone, in a Wine without audio devices (the CTest entry windows_ptsvr_no_audio).
TEST(NoAudioDevice, TheUtteranceEndsWhenItsSoundWouldHave) {
  ASSERT_EQ(waveOutGetNumDevs(), 0u) << "this case needs a Wine without audio devices";
  const auto reference = koe_test::WavSamples(KOE_REFERENCE_DIR "/short-1.wav");  // "こんにちは。"
  ASSERT_GT(reference.size(), 24000u) << "no reference of the sentence";
  const ULONGLONG length_ms = reference.size() * 1000 / 48000;
  Speaker s;
  ASSERT_TRUE(s.control);
  koe_test::Pump(200);  // the voice loads
  const ULONGLONG start = GetTickCount64();
  ASSERT_EQ(s.Speak(L"こんにちは。"), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return s.sink.events.size() == 2; }));
  const ULONGLONG took = GetTickCount64() - start;
  EXPECT_GE(took + 50, length_ms) << "ended before its sound would have";
  EXPECT_LT(took, length_ms + 1500);
  EXPECT_TRUE(s.transcript.Has("engine no audio: no audio device"));
  s.Close();
}

}  // namespace
