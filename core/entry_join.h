// The written form of one row of the readings editor: key column, comma, reading column.
#pragma once

#include <string>
#include <string_view>

namespace koe {

// Joins the two cells of one editor row into a reading entry that splits (SplitEntry) back into
// exactly those two cells, also after the settings file has stored it and read it back.
//
// A cell is written as it stands unless splitting would change it: a cell holding a blank
// (single byte 0x01..0x20) or a comma, or beginning with a double quote, is written in double
// quotes with each double quote inside doubled. So every ordinary entry keeps its old form,
// key + "," + reading; the empty row is ",".
//
// The profile reader strips a pair of equal quotation marks (' or ") enclosing a whole value. An
// entry that would begin and end with the same mark is therefore mended:
//  - ' ... ': the key (which then begins with ') is written quoted, so the entry begins with ".
//  - " ... ": the entry is preceded by kEntryGuard, a blank to SplitEntry (which skips leading
//    blanks) that the profile functions neither trim nor take for a quotation mark.
//
// Cells are Shift-JIS text; a lead byte and the byte after it are one character and never a
// blank, comma or quote. The one text that has no written form is a cell whose last byte is a
// lone lead byte (it would swallow the comma or quote after it); no edit control produces it.
// A cell holding a line break survives in memory but not in the line-based settings file.
std::string JoinEntryCells(std::string_view key, std::string_view reading);

// The byte put before an entry that would otherwise begin and end with a double quote.
inline constexpr char kEntryGuard = '\x01';

}  // namespace koe
