// The speech backends behind the control: SAPI 5 where Windows has a voice that speaks, a
// simulated engine (timing only, no sound) everywhere else.
//
// An engine speaks one utterance at a time; the control keeps the queue. Everything happens on the
// control's thread: the engine reports through window messages to the control's hidden notify
// window, and HandleMessage tells the control when the utterance has ended. An engine never ends
// an utterance from inside Speak, so the control never fires an event from inside a speak call.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

struct ISpVoice;

namespace ptsvr {

// Messages on the notify window that belong to the engines.
inline constexpr UINT kMsgSapiEvent = WM_APP + 10;  // SAPI's notification (SetNotifyWindowMessage)
inline constexpr UINT kMsgEngineDone = WM_APP + 11;  // "the current utterance has ended", posted
inline constexpr UINT_PTR kSimTimerId = 0x5054;

struct VoiceSettings {
  LONG speed = 180, pitch = 80, volume = 26214;  // words per minute, hertz, 0..65535
};

class SpeechEngine {
 public:
  virtual ~SpeechEngine() = default;
  virtual std::wstring Name() const = 0;
  virtual std::wstring Version() const = 0;
  // Starts one utterance. Always ends later with HandleMessage returning true, also on failure.
  virtual void Speak(const std::wstring& text, const VoiceSettings& voice) = 0;
  // Drops the current utterance without reporting its end (the control is closing).
  virtual void Stop() = 0;
  // A message of the notify window; true when the current utterance has ended with it.
  virtual bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp) = 0;
};

// Simulated engine: an utterance lasts SimulatedDurationMs(text, Speed, factor), measured by a
// window timer on `notify` (factor 0: posted at once, ends on the next turn of the message loop).
std::unique_ptr<SpeechEngine> CreateSimulatedEngine(HWND notify, double factor);

// SAPI 5 engine over `voice` (already chosen), notifying `notify`. `name` is shown to the user.
std::unique_ptr<SpeechEngine> CreateSapiEngine(ISpVoice* voice, HWND notify, std::wstring name);

// Creates an SpVoice, preferring a Japanese voice (language 411). With `probe`, only returns an
// engine when the voice accepts a speak request (under Wine, Speak answers E_NOTIMPL).
std::unique_ptr<SpeechEngine> CreateSystemSapiEngine(HWND notify, bool probe);

}  // namespace ptsvr
