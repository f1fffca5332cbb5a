// The speech relay: the client's characters, through the readings list, become utterances that
// the speaker says; the client is told when speech has ended.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "assembler.h"
#include "readings.h"

// What says a finished utterance (TPtSvr, the speech control).
class Speaker {
 public:
  virtual ~Speaker() = default;
  // Starts speaking the text and returns without waiting.
  virtual bool Speak(const std::wstring& text) = 0;
};

// Posts WM_KOE_DONE to the first window of each client frame-window class, in order; every post
// is made, also when no window of the class exists.
void PostKoeDone();

class SpeechRelay {
 public:
  // The readings list is read afresh for every character: a change applies from the next one.
  SpeechRelay(const koe::ReadingsList& readings, Speaker& speaker,
              std::function<void()> post_done = &PostKoeDone);

  // One WM_KOE_CHAR: the phase and the character code as the message carries them.
  void Character(WPARAM phase, LPARAM code);
  // The speaker has ended an utterance: the client is told.
  void SpeechEnded();
  // The main window was shown: nothing has been said since.
  void Shown() { assembler_.ResetNothingToSpeak(); }

 private:
  const koe::ReadingsList& readings_;
  Speaker& speaker_;
  std::function<void()> post_done_;
  koe::UtteranceAssembler assembler_;
};
