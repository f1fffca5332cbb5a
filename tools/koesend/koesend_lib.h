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
// are Shift-JIS).
std::string ToShiftJis(const std::wstring& text);
// Shift-JIS to UTF-16.
std::wstring FromShiftJis(const std::string& text);
// A line read from a pipe or a file: UTF-8, or Shift-JIS when it is not valid UTF-8.
std::wstring FromPipe(const std::string& line);

// Koemado's main window, or null when it does not run.
HWND FindKoemado();

}  // namespace koesend
