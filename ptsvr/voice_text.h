// What the bundled voice is given to read: an utterance split into pieces of UTF-8 that its text
// analysis takes safely and speaks well. Platform-free; no third-party code.
//
// Open JTalk copies words into fixed buffers of 1024 bytes and its analysis grows faster than
// linearly with the length of what it is given, so nothing reaches it unbounded:
// - a piece ends after a sentence end (。．！？!? and the closing brackets and quotes that follow
//   it) and at a line end;
// - a piece longer than kMaxPieceChars characters is split at its last comma or blank in its
//   second half, else at the limit;
// - a run of one character class (hiragana, katakana, kanji, Latin letters, digits, blanks,
//   anything else) longer than kMaxRunChars is split, so that no word of the analysis is longer.
// At most kMaxPieceChars × 3 bytes of UTF-8 reach the analysis at a time (its ASCII becomes
// full-width: three bytes).
//
// What is left out: U+0000 (the relay sends single-byte characters with a zero high byte),
// unpaired surrogates, characters outside the Basic Multilingual Plane (emoji; the dictionary has
// none of them), noncharacters and the other control characters (a tab is a blank). Pieces that
// hold nothing but blanks are dropped.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ptsvr {

inline constexpr std::size_t kMaxPieceChars = 80;
inline constexpr std::size_t kMaxRunChars = 40;

std::vector<std::string> VoicePieces(std::u16string_view text);

}  // namespace ptsvr
