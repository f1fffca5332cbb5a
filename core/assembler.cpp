#include "assembler.h"

#include <utility>

#include "protocol.h"
#include "sjis.h"

namespace koe {
namespace {

// Above this capacity an emptied buffer gives its memory back, so that one very long
// utterance does not keep its storage for the rest of the run.
constexpr std::size_t kKeptCapacity = 4096;

}  // namespace

UtteranceAssembler::UtteranceAssembler(SpeakFn speak, DoneFn done)
    : speak_(std::move(speak)), done_(std::move(done)) {}

void UtteranceAssembler::OnChar(std::uintptr_t phase, std::uintptr_t code,
                                const ReadingsList& readings) {
  if (phase == kPhaseWhole || phase == kPhaseFirst) {
    if (buffer_.capacity() > kKeptCapacity)
      std::string().swap(buffer_);
    else
      buffer_.clear();
  }

  // Always two bytes, high byte first; a zero high byte stays in the text.
  const char bytes[2] = {static_cast<char>((code >> 8) & 0xFF), static_cast<char>(code & 0xFF)};
  std::string_view text(bytes, 2);
  if (auto reading = readings.Lookup(text)) text = *reading;

  if (text != std::string_view(kFullWidthSpace)) nothing_to_speak_ = false;
  buffer_.append(text);

  if (phase != kPhaseWhole && phase != kPhaseLast) return;

  // End of the utterance. A throwing speak leaves the flag false and the buffer as it is.
  if (nothing_to_speak_)
    done_();
  else
    speak_(buffer_);
  nothing_to_speak_ = true;
}

}  // namespace koe
