// The program's texts are Shift-JIS byte strings whatever the system's code page; these turn
// them into UTF-16 where they leave for a Unicode interface, and back.
#pragma once

#include <string>
#include <string_view>

namespace fw {

// Shift-JIS to UTF-16. Zero bytes stay (U+0000); bytes that form no character convert as the
// system converts them without flags.
std::wstring FromShiftJis(std::string_view text);
// UTF-16 to Shift-JIS; what Shift-JIS has no character for becomes the system's default one.
std::string ToShiftJis(std::wstring_view text);

}  // namespace fw
