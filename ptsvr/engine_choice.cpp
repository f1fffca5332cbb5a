// SAPI 5 and the bundled voice behind one engine (CombineEngines in engine.h).
#include "engine.h"

namespace ptsvr {
namespace {

class CombinedEngine final : public SpeechEngine {
 public:
  CombinedEngine(std::unique_ptr<SpeechEngine> sapi, std::unique_ptr<SpeechEngine> bundled,
                 bool bundled_first)
      : sapi_(std::move(sapi)), bundled_(std::move(bundled)) {
    active_ = (bundled_first || !sapi_) ? bundled_.get() : sapi_.get();
  }

  std::wstring Name() const override { return active_->Name(); }
  std::wstring Version() const override { return active_->Version(); }
  EngineNotice Notice() const override { return active_->Notice(); }
  std::wstring Credit() const override { return active_->Credit(); }

  void Speak(const std::wstring& text, const VoiceSettings& voice) override {
    speaking_ = active_;
    active_->Speak(text, voice);
  }

  void Stop() override {
    if (sapi_) sapi_->Stop();
    bundled_->Stop();
    speaking_ = nullptr;
  }

  // Each engine's own messages: an utterance ends on the engine that began it.
  bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp) override {
    bool ended = false;
    for (SpeechEngine* e : {sapi_.get(), bundled_.get()})
      if (e && e->HandleMessage(msg, wp, lp) && e == speaking_) ended = true;
    if (ended) speaking_ = nullptr;
    return ended;
  }

  std::vector<VoiceOption> Voices() const override {
    std::vector<VoiceOption> all = SapiVoices();
    for (auto& v : bundled_->Voices()) all.push_back(std::move(v));
    return all;
  }

  std::size_t CurrentVoice() const override {
    const std::size_t i = active_->CurrentVoice();
    if (i == kNoVoice || active_ == sapi_.get()) return i;
    return SapiVoices().size() + i;
  }

  bool SelectVoice(std::size_t index) override {
    SpeechEngine* engine = nullptr;
    std::size_t local = 0;
    if (!Locate(index, engine, local) || !engine->SelectVoice(local)) return false;
    active_ = engine;
    return true;
  }

  bool Preview(const std::wstring& text, const VoiceSettings& voice, std::size_t index) override {
    SpeechEngine* engine = nullptr;
    std::size_t local = 0;
    return Locate(index, engine, local) && engine->Preview(text, voice, local);
  }

 private:
  std::vector<VoiceOption> SapiVoices() const {
    return sapi_ ? sapi_->Voices() : std::vector<VoiceOption>{};
  }

  bool Locate(std::size_t index, SpeechEngine*& engine, std::size_t& local) const {
    const std::size_t sapi_count = SapiVoices().size();
    engine = index < sapi_count ? sapi_.get() : bundled_.get();
    local = index < sapi_count ? index : index - sapi_count;
    return engine != nullptr;
  }

  std::unique_ptr<SpeechEngine> sapi_, bundled_;
  SpeechEngine* active_;
  SpeechEngine* speaking_ = nullptr;  // the engine of the utterance under way
};

}  // namespace

std::unique_ptr<SpeechEngine> CombineEngines(std::unique_ptr<SpeechEngine> sapi,
                                             std::unique_ptr<SpeechEngine> bundled,
                                             bool bundled_first) {
  return std::make_unique<CombinedEngine>(std::move(sapi), std::move(bundled), bundled_first);
}

}  // namespace ptsvr
