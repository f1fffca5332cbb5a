#include "relay.h"

#include <cstdint>
#include <utility>

#include "protocol.h"
#include "text.h"

void PostKoeDone() {
  for (const char* window_class : koe::kClientWindowClasses)
    ::PostMessageA(::FindWindowA(window_class, nullptr), koe::kWmKoeDone, 0, 0);
}

SpeechRelay::SpeechRelay(const koe::ReadingsList& readings, Speaker& speaker,
                         std::function<void()> post_done)
    : readings_(readings),
      speaker_(speaker),
      post_done_(std::move(post_done)),
      // The client's characters are Shift-JIS whatever the system's code page.
      assembler_([this](const std::string& utterance) { speaker_.Speak(fw::FromShiftJis(utterance)); },
                 [this] { post_done_(); }) {}

void SpeechRelay::Character(WPARAM phase, LPARAM code) {
  assembler_.OnChar(phase, static_cast<std::uintptr_t>(code), readings_);
}

void SpeechRelay::SpeechEnded() { post_done_(); }
