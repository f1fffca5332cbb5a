// The client side of Koemado's message protocol, shared by koesend and the tests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace koesend {

struct KoeChar {
  unsigned phase;
  std::uint32_t code;
};

// Splits a Shift-JIS text into the messages a client sends: one per character, the code with
// the lead byte in bits 8..15 (single-byte characters below 0x100); phase 0 for a text of one
// character, else 1, 2, ..., 3.
std::vector<KoeChar> ToMessages(const std::string& sjis);

// UTF-16 to Shift-JIS (code page 932, whatever the system's code page: the reader's characters
// are Shift-JIS), and UTF-8 to UTF-16.
std::string ToShiftJis(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// Koemado's main window, or null when it does not run.
HWND FindKoemado();

}  // namespace koesend
