// Turns the client's stream of WM_KOE_CHAR messages into utterances.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "readings.h"

namespace koe {

class UtteranceAssembler {
 public:
  // speak: hand one finished utterance (Shift-JIS bytes) to the speech control; may throw,
  //        and the throw leaves the assembler as it was before the end of the utterance.
  // done:  tell the client at once that the utterance held nothing to speak.
  using SpeakFn = std::function<void(const std::string& utterance)>;
  using DoneFn = std::function<void()>;

  UtteranceAssembler(SpeakFn speak, DoneFn done);

  // One WM_KOE_CHAR: phase in wParam, character code in lParam (bits 8..15 first byte,
  // bits 0..7 second byte, higher bits ignored). Both at the full width of the message's
  // parameters: in a 64-bit build a wParam above 32 bits is another phase, never 0 or 3.
  void OnChar(std::uintptr_t phase, std::uintptr_t code, const ReadingsList& readings);

  // The main window's show handler marks that nothing has been said yet.
  void ResetNothingToSpeak() { nothing_to_speak_ = true; }

  const std::string& Buffer() const { return buffer_; }
  bool NothingToSpeak() const { return nothing_to_speak_; }

 private:
  SpeakFn speak_;
  DoneFn done_;
  std::string buffer_;
  bool nothing_to_speak_ = false;
};

}  // namespace koe
