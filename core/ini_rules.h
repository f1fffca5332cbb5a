// Rules of the settings file that need no Windows: its name and how integers are read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace koe {

// The directory part of a path ends at the last '\' or ':' that is not the trail byte of a
// double-byte character. Returns the length of that part (0 when there is none).
std::size_t DirectoryPartLength(std::string_view path);

// The settings file name for a program file path: the name without its directory, with its
// extension replaced by ".ini" (appended when the name has no ".").
std::string IniFileNameFor(std::string_view program_path);

// Reads an integer value of the settings file: leading spaces, then an optional sign and
// decimal digits within the signed 32-bit range, or a hexadecimal prefix ("$", "x", "X",
// "0x", "0X") and up to 8 significant hex digits taken as the 32-bit pattern, and nothing
// after. Anything else gives fallback.
std::int32_t ReadIniInteger(std::string_view text, std::int32_t fallback);

}  // namespace koe
