// Shift-JIS (code page 932) byte rules shared by every part of Koemado.
#pragma once

namespace koe {

// A lead byte starts a double-byte character; the byte after it belongs to the same character.
constexpr bool IsLeadByte(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// The full-width space "　", the reading of a character that must not be spoken.
inline constexpr char kFullWidthSpace[] = "\x81\x40";

}  // namespace koe
