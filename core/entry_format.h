// The text format of one reading entry: comma-separated fields, blanks, double quotes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace koe {

// Splits one entry into its fields. Blanks are the single bytes 0x01..0x20; a double-byte
// Shift-JIS character is one unit and is never a blank, comma or quote. A quoted field that is
// never closed keeps the whole rest of the entry after the opening quote.
std::vector<std::string> SplitEntry(std::string_view entry);

}  // namespace koe
