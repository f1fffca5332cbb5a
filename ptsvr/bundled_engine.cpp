// The bundled voice's engine: Open JTalk and the nitech HTS voice from the voice/ folder beside the
// control, synthesizing and playing on a worker thread of its own.
//
// The control's thread only hands utterances over and reads what the worker posts back: the end
// of an utterance (kMsgBundledDone with its number) and reports (kMsgEngineReport) that the voice
// could not be loaded, that there is no audio device or there is one again, and how long the
// first sound of an utterance took. The speak call returns at once and nothing of the control's
// waits for the worker but the destructor, which ends the worker's work at once and joins it.
//
// The worker loads the dictionary and the voice first, a second after the control was created or
// at its first utterance, whichever comes first (off the start-up of whoever creates the
// control). For each utterance it splits the text (VoicePieces), synthesizes the pieces one after
// another and hands each block of samples to waveOut as it is made, so that the first sound comes
// after the first 100 ms of the first piece are made and a piece is made while the one before it
// plays; it keeps at most kAheadMs of sound queued. The utterance ends when the device has played
// the last buffer. Without a device it ends when its sound would have ended; a device that refuses
// a buffer or plays nothing for a while (kStallMs) is given up and the utterance ends.
#include <windows.h>

#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "engine.h"
#include "knobs.h"  // U16
#include "voice_synth.h"
#include "voice_text.h"
#include "wave_player.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace ptsvr {
namespace {

constexpr DWORD kAheadMs = 10000;   // sound made ahead of what the device has played
// A device that plays nothing for this long is given up: a lost device keeps taking buffers and
// never gives one back. One that has played nothing yet since it was opened may be waking (a
// Bluetooth headset, say) and gets longer.
constexpr DWORD kStallMs = 3000, kWakeMs = 10000;
constexpr DWORD kIdleCloseMs = 30000;  // an idle device is closed after this long
constexpr DWORD kLoadAfterMs = 1000;   // the dictionary and the voice load this long after creation

// Reports the worker posts (kMsgEngineReport's wParam).
enum Report : WPARAM { kLoadFailed = 1, kNoDevice, kDeviceBack, kFirstSound, kFailed };

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

LONGLONG Now() {
  LARGE_INTEGER t{};
  QueryPerformanceCounter(&t);
  return t.QuadPart;
}

LONGLONG Frequency() {
  LARGE_INTEGER f{};
  QueryPerformanceFrequency(&f);
  return f.QuadPart > 0 ? f.QuadPart : 1;
}

std::wstring Join(const std::wstring& folder, const char* name) {
  return folder + L"\\" + Wide(name);
}


class BundledEngine final : public SpeechEngine {
 public:
  BundledEngine(HWND notify, BundledSetup setup)
      : notify_(notify), setup_(std::move(setup)), wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    worker_ = std::thread([this] { Work(); });
  }

  ~BundledEngine() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    SetEvent(wake_);
    worker_.join();
    CloseHandle(wake_);
  }

  std::wstring Name() const override { return L"nitech_jp_atr503_m001 (内蔵の日本語音声)"; }
  std::wstring Version() const override { return L"Open JTalk 1.11"; }
  EngineNotice Notice() const override { return notice_; }
  std::wstring Credit() const override {
    return L"音声: HTS voice nitech_jp_atr503_m001 1.05\r\n"
           L"  Copyright (c) 2003-2012 Nagoya Institute of Technology,\r\n"
           L"  2003-2008 Tokyo Institute of Technology\r\n"
           L"  クリエイティブ・コモンズ 表示 3.0 (CC BY 3.0)\r\n"
           L"  http://creativecommons.org/licenses/by/3.0/\r\n"
           L"合成: Open JTalk 1.11 (MeCab を含む), hts_engine API 1.10\r\n"
           L"辞書: naist-jdic (NAIST, UniDic Consortium)\r\n"
           L"ライセンスの全文は PtSvr.ocx と同じフォルダーの THIRD-PARTY.txt にあります。";
  }

  void Speak(const std::wstring& text, const VoiceSettings& voice) override {
    ++utterance_;
    speaking_ = true;
    Queue(Job{utterance_, text, voice, false});
  }

  void Stop() override {
    speaking_ = false;
    ++utterance_;  // an end posted for the dropped utterance is ignored
    {
      std::lock_guard<std::mutex> lock(mutex_);
      jobs_.clear();
      ++generation_;
      ++sample_generation_;
    }
    SetEvent(wake_);
  }

  bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override {
    if (msg == kMsgBundledDone) {
      if (wp != utterance_ || !speaking_) return false;
      speaking_ = false;
      return true;
    }
    if (msg != kMsgEngineReport) return false;
    switch (wp) {
      case kLoadFailed: {
        std::wstring file;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          file = broken_;
        }
        notice_ = BundledVoiceBroken(file);
        Note(L"engine " + notice_.Title() + L": " + file);
        break;
      }
      case kNoDevice: {
        std::wstring why;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          why = device_why_;
        }
        if (!notice_) notice_ = kNoAudioDevice;
        Note(L"engine no audio: " + why);
        break;
      }
      case kDeviceBack:
        if (notice_.brief == kNoAudioDevice.brief) notice_ = {};
        Note(L"engine audio again");
        break;
      case kFirstSound:
        Note(L"engine first sound " + std::to_wstring(lp) + L" ms");
        break;
      case kFailed:
        Note(L"engine fail voice");
        break;
    }
    return false;
  }

  std::vector<VoiceOption> Voices() const override {
    if (notice_ && notice_.brief != kNoAudioDevice.brief) return {};  // its files are broken
    return {VoiceOption{kBundledVoiceId, Name()}};
  }
  std::size_t CurrentVoice() const override { return Voices().empty() ? kNoVoice : 0; }
  bool SelectVoice(std::size_t index) override { return index == 0 && !Voices().empty(); }

  bool Preview(const std::wstring& text, const VoiceSettings& voice, std::size_t index) override {
    if (index != 0 || Voices().empty()) return false;
    Queue(Job{0, text, voice, true});
    return true;
  }

 private:
  struct Job {
    WPARAM number;  // the utterance's number (0: a sample, which ends nothing)
    std::wstring text;
    VoiceSettings voice;
    bool sample;
    unsigned long generation = 0;  // of its kind, when it was queued
    LONGLONG queued = 0;           // when Speak handed it over (QueryPerformanceCounter)
  };

  // Hands a job to the worker. A sample or an utterance stops the sample playing or waiting.
  void Queue(Job job) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      std::erase_if(jobs_, [](const Job& j) { return j.sample; });
      ++sample_generation_;
      job.generation = job.sample ? sample_generation_ : generation_;
      job.queued = Now();
      jobs_.push_back(std::move(job));
    }
    SetEvent(wake_);
  }

  void Note(const std::wstring& line) {
    if (setup_.log) setup_.log(line);
  }

  void Post(UINT msg, WPARAM wp, LPARAM lp = 0) { PostMessageW(notify_, msg, wp, lp); }

  // ---- The worker ------------------------------------------------------------------------------

  bool Cancelled(const Job& job) {
    std::lock_guard<std::mutex> lock(mutex_);
    return quit_ || job.generation != (job.sample ? sample_generation_ : generation_);
  }

  // Waits for the device or a wake-up, at most `ms`; false when the job was cancelled.
  bool WaitFor(const Job& job, DWORD ms) {
    HANDLE handles[2] = {wake_, player_.Event()};
    const DWORD count = player_.IsOpen() && handles[1] ? 2 : 1;
    WaitForMultipleObjects(count, handles, FALSE, ms);
    if (Cancelled(job)) {
      SetEvent(wake_);  // the wake-up may have been for the next job too
      return false;
    }
    return true;
  }

  void Work() {
    // The load waits a moment for whoever created the control to finish starting (its window to
    // show), unless something is to be said before.
    WaitForSingleObject(wake_, kLoadAfterMs);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (quit_) return;
    }
    const std::string dictionary = ToUtf8(U16(setup_.folder + L"\\dic"));
    const std::string voice_file = ToUtf8(U16(Join(setup_.folder, kVoiceFileName)));
    std::string broken;
    Voice voice;
    const bool loaded = voice.Load(dictionary, voice_file, broken);
    if (!loaded) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        broken_ = Wide(broken);
        for (auto& c : broken_)
          if (c == L'/') c = L'\\';
      }
      Post(kMsgEngineReport, kLoadFailed);
    }
    bool device_missing = false;
    for (;;) {
      std::optional<Job> job;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (quit_) break;
        if (!jobs_.empty()) {
          job = std::move(jobs_.front());
          jobs_.pop_front();
        }
      }
      if (!job) {
        // Idle: a device left open is closed after a while.
        if (WaitForSingleObject(wake_, player_.IsOpen() ? kIdleCloseMs : INFINITE) == WAIT_TIMEOUT)
          player_.Close();
        continue;
      }
      if (setup_.before_each_utterance) setup_.before_each_utterance();
      if (loaded)
        Play(voice, *job, device_missing);
      else
        Simulate(*job);
      if (!job->sample && !Cancelled(*job)) Post(kMsgBundledDone, job->number);
    }
    player_.Close();
  }

  // The broken voice's stand-in: the simulated engine's time, no sound.
  void Simulate(const Job& job) {
    const DWORD ms = SimulatedDurationMs(job.text.size(), job.voice.speed, setup_.sim_factor);
    const ULONGLONG end = GetTickCount64() + ms;
    while (!Cancelled(job) && GetTickCount64() < end)
      WaitFor(job, static_cast<DWORD>(end - GetTickCount64()));
  }

  void Play(Voice& voice, const Job& job, bool& device_missing) {
    const std::vector<std::string> pieces =
        VoicePieces({reinterpret_cast<const char16_t*>(job.text.data()), job.text.size()});
    if (pieces.empty()) return;  // nothing to say: ends at once
    const std::uint32_t rate = voice.SampleRate();
    std::wstring why;
    if (!player_.IsOpen() && !player_.Open(rate, why)) {
      std::lock_guard<std::mutex> lock(mutex_);
      device_why_ = why;
    }
    if (player_.IsOpen() == device_missing) {
      device_missing = !player_.IsOpen();
      Post(kMsgEngineReport, device_missing ? kNoDevice : kDeviceBack);
    }

    const BundledVoiceParams params = BundledParamsFor(job.voice.speed, job.voice.pitch, job.voice.volume);
    const ULONGLONG start = GetTickCount64();
    std::uint64_t made = 0;  // samples made for this utterance
    bool lost = false;
    const Voice::Sink sink = [&](const std::int16_t* samples, std::size_t count) {
      if (Cancelled(job)) return false;
      if (made == 0 && !job.sample)
        Post(kMsgEngineReport, kFirstSound, static_cast<LPARAM>((Now() - job.queued) * 1000 / Frequency()));
      made += count;
      if (player_.IsOpen() && !player_.Write(samples, count, why)) {
        lost = true;
        return false;
      }
      return true;
    };
    // Without a device the sound "plays" from the first sample on, in real time.
    auto unplayed_ms = [&]() -> std::uint64_t {
      if (player_.IsOpen()) return std::uint64_t(player_.Reap()) * 1000 / rate;
      const std::uint64_t elapsed = GetTickCount64() - start;
      const std::uint64_t length = made * 1000 / rate;
      return length > elapsed ? length - elapsed : 0;
    };
    // Waits while at least `until_ms` of sound is still to play; false when the job was
    // cancelled. A device that plays nothing for a while is given up (`lost`).
    std::uint64_t last_played = player_.Played();
    ULONGLONG last_progress = GetTickCount64();
    auto wait_while_more_than = [&](std::uint64_t until_ms) {
      for (std::uint64_t left; !lost && (left = unplayed_ms()) > until_ms;) {
        if (!WaitFor(job, player_.IsOpen() ? 200 : static_cast<DWORD>(left - until_ms))) return false;
        if (!player_.IsOpen()) continue;
        if (player_.Played() != last_played) {
          last_played = player_.Played();
          last_progress = GetTickCount64();
        } else if (const DWORD limit = last_played > 0 ? kStallMs : kWakeMs;
                   GetTickCount64() - last_progress > limit) {
          lost = true;
          why = L"nothing played for " + std::to_wstring(limit) + L" ms";
        }
      }
      return true;
    };
    bool cancelled = false;
    for (const std::string& piece : pieces) {
      if (!wait_while_more_than(kAheadMs)) cancelled = true;
      if (cancelled || lost || Cancelled(job)) break;
      if (voice.Speak(piece, params, sink) == Voice::Result::kFailed) {
        Post(kMsgEngineReport, kFailed);  // out of memory: the rest of the utterance is dropped
        break;
      }
    }
    // Until the last buffer has been played.
    if (cancelled || Cancelled(job) || !wait_while_more_than(0)) {
      player_.Reset();
      return;
    }
    if (lost) {
      player_.Close();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        device_why_ = why;
      }
      device_missing = true;
      Post(kMsgEngineReport, kNoDevice);
    }
  }

  // The control's thread.
  HWND notify_;
  BundledSetup setup_;
  EngineNotice notice_;
  WPARAM utterance_ = 0;
  bool speaking_ = false;

  // Shared with the worker, under mutex_.
  std::mutex mutex_;
  std::deque<Job> jobs_;
  // A job of an older generation than its kind's is cancelled.
  unsigned long generation_ = 0, sample_generation_ = 0;
  bool quit_ = false;
  std::wstring broken_, device_why_;

  // The worker's.
  HANDLE wake_;
  WavePlayer player_;
  std::thread worker_;
};

}  // namespace

EngineNotice BundledVoiceBroken(const std::wstring& file) {
  return EngineNotice(L"内蔵音声が読めず (模擬)",
                      L"内蔵の音声を読み込めません (模擬音声)\r\n音は出ません。次のファイルがないか、"
                      L"壊れています。\r\n" + file +
                          L"\r\nPtSvr.ocx と同じフォルダーの voice フォルダーを、配布されたものと"
                          L"入れ替えてください。");
}

std::wstring BundledVoiceFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path.data(),
                                       static_cast<DWORD>(path.size()));
    if (n == 0) return L"voice";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L"\\/") + 1) + L"voice";
}

std::unique_ptr<SpeechEngine> CreateBundledEngine(HWND notify, BundledSetup setup, EngineNotice& why) {
  std::vector<std::wstring> files;
  for (const char* name : kDictionaryFiles) files.push_back(Join(setup.folder + L"\\dic", name));
  files.push_back(Join(setup.folder, kVoiceFileName));
  for (const auto& f : files)
    if (GetFileAttributesW(f.c_str()) == INVALID_FILE_ATTRIBUTES) {
      why = BundledVoiceBroken(f);
      return nullptr;
    }
  return std::make_unique<BundledEngine>(notify, std::move(setup));
}

}  // namespace ptsvr
