// Rules of the settings file that need no Windows: its name and how integers are read.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace koe {

// Whether a byte starts a double-byte character in the code page a text is in. A path comes in
// the system's code page: Shift-JIS's rule on a Japanese system, none in UTF-8.
using LeadByteRule = bool (*)(unsigned char);

// The directory part of a path ends at the last '\' or ':' that is not the trail byte of a
// double-byte character. Returns the length of that part (0 when there is none).
std::size_t DirectoryPartLength(std::string_view path, LeadByteRule is_lead);

// The settings file name for a program file path: the name without its directory, with its
// extension replaced by ".ini" (appended when the name has no ".").
std::string IniFileNameFor(std::string_view program_path, LeadByteRule is_lead);

// Reads an integer value of the settings file: leading spaces, then an optional sign and
// decimal digits within the signed 32-bit range, or a hexadecimal prefix ("$", "x", "X",
// "0x", "0X") and up to 8 significant hex digits taken as the 32-bit pattern, and nothing
// after. Anything else gives fallback.
std::int32_t ReadIniInteger(std::string_view text, std::int32_t fallback);

// The settings file as Shift-JIS bytes, read and changed the way the profile functions do, for a
// system whose code page is not Shift-JIS (there the profile functions would read the file in
// another code page and write every Japanese byte back destroyed). Names match byte for byte
// after trimming blanks, single-byte letters in either case; the first section and the first key
// of a name count; a line without "=" is a key with an empty value.
//
// The value of a key, its blanks trimmed and one pair of enclosing quotes (' or ") removed, cut
// to max_length bytes; nullopt when the section or the key is missing.
std::optional<std::string> ProfileValue(std::string_view file, std::string_view section,
                                        std::string_view key, std::size_t max_length);
// The file with the key set to value: the key's line rewritten in place, or a new line after
// the section's last line that is not blank, or a new section at the end. Every other byte
// stays as it was.
std::string WithProfileValue(std::string_view file, std::string_view section, std::string_view key,
                             std::string_view value);

// One read of a file: fills up to `size` bytes of `buffer`, says how many in `got` (0 at its end)
// and returns 0, or returns the system's error code when the read failed.
using ReadStep = std::function<std::uint32_t(char* buffer, std::size_t size, std::size_t& got)>;

// A whole file read by `read` until it gives nothing more: its bytes, or (error not 0) the error
// of the read that failed. A read that fails after some bytes is a failure, never a shorter file.
struct WholeFile {
  std::string bytes;
  std::uint32_t error = 0;
};
WholeFile ReadWholeFile(const ReadStep& read);

}  // namespace koe
