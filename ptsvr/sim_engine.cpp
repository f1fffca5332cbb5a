// The simulated engine: no sound, only the time that speaking would take.
#include "engine.h"
#include "voice_units.h"

namespace ptsvr {
namespace {

class SimulatedEngine final : public SpeechEngine {
 public:
  SimulatedEngine(HWND notify, double factor, EngineNotice notice)
      : notify_(notify), factor_(factor), notice_(notice) {}
  ~SimulatedEngine() override { Stop(); }

  std::wstring Name() const override { return L"PtSvr 模擬音声エンジン"; }
  std::wstring Version() const override { return L"1.0"; }
  EngineNotice Notice() const override { return notice_; }

  void Speak(const std::wstring& text, const VoiceSettings& voice) override {
    ++utterance_;
    const auto ms = SimulatedDurationMs(text.size(), voice.speed, factor_);
    if (ms == 0 || !SetTimer(notify_, kSimTimerId, ms, nullptr))
      PostMessageW(notify_, kMsgEngineDone, utterance_, 0);
    speaking_ = true;
  }

  void Stop() override {
    KillTimer(notify_, kSimTimerId);
    speaking_ = false;
    ++utterance_;  // a posted end of the dropped utterance is ignored
  }

  bool HandleMessage(UINT msg, WPARAM wp, LPARAM) override {
    if (msg == WM_TIMER && wp == kSimTimerId) {
      KillTimer(notify_, kSimTimerId);
      return Finish();
    }
    if (msg == kMsgEngineDone && wp == utterance_) return Finish();
    return false;
  }

 private:
  bool Finish() {
    if (!speaking_) return false;
    speaking_ = false;
    return true;
  }

  HWND notify_;
  double factor_;
  EngineNotice notice_;
  bool speaking_ = false;
  WPARAM utterance_ = 0;
};

}  // namespace

std::unique_ptr<SpeechEngine> CreateSimulatedEngine(HWND notify, double factor,
                                                    EngineNotice notice) {
  return std::make_unique<SimulatedEngine>(notify, factor, notice);
}

}  // namespace ptsvr
