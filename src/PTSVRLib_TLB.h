// PTSVRLib: the wrapper of the speech-engine control TPtSvr (class {44CF3B0C-9F1F-11D2-B9D7-08005A4B5E6E}).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "olehost.h"
#include "relay.h"

class TPtSvr final : public Speaker {
 public:
  // Creates the control's object. Throws fw::EOleSysError when the class cannot be created.
  TPtSvr(HWND parent, const RECT& bounds, const void* control_data, size_t control_data_size);
  // Closes the control without saving and releases it.
  ~TPtSvr() override;
  TPtSvr(const TPtSvr&) = delete;
  TPtSvr& operator=(const TPtSvr&) = delete;

  // Makes the control's window: loads ControlData, activates it in place and connects the events.
  // Throws fw::EOleError("OLE コントロールのアクティベートに失敗しました") when the control
  // has no in-place object. Calls made before this activate the control first.
  void HandleNeeded();
  HWND Handle() const;

  // Binds the handler of the control's OnStopSpeak event (the only event the program handles):
  // the control calls it, through the host's event sink, each time speech ends.
  void SetOnStopSpeak(std::function<void()> handler);

  // Starts speaking the text and returns without waiting; the control's answer is returned.
  bool Speak(const std::wstring& text) override;

  int32_t GetSpeed();
  void SetSpeed(int32_t v);
  int32_t GetPitch();
  void SetPitch(int32_t v);
  int32_t GetVolume();
  void SetVolume(int32_t v);

  void EngineVersion();  // shows the engine's version
  void VoiceSettings();  // shows the voice dialog; returns when it closes
  void AboutBox();       // shows the control's about box

  // Moves the control inside its parent.
  void SetBounds(const RECT& bounds) { host_.SetBounds(bounds); }
  fw::OleControlHost& Host() { return host_; }

 private:
  fw::OleControlHost host_;
};
