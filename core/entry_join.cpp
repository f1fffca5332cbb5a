#include "entry_join.h"

#include "sjis.h"

namespace koe {
namespace {

constexpr bool IsBlank(unsigned char b) { return b >= 0x01 && b <= 0x20; }

// True when the cell, written bare, would not come back as one field of its own.
bool NeedsQuotes(std::string_view cell) {
  if (!cell.empty() && cell.front() == '"') return true;
  for (std::size_t pos = 0; pos < cell.size(); ++pos) {
    const auto b = static_cast<unsigned char>(cell[pos]);
    if (IsLeadByte(b) && pos + 1 < cell.size()) {
      ++pos;  // the trail byte belongs to the character
      continue;
    }
    if (IsBlank(b) || b == ',') return true;
  }
  return false;
}

void AppendQuoted(std::string& out, std::string_view cell) {
  out += '"';
  for (std::size_t pos = 0; pos < cell.size(); ++pos) {
    const auto b = static_cast<unsigned char>(cell[pos]);
    if (IsLeadByte(b) && pos + 1 < cell.size()) {
      out += cell[pos];
      out += cell[++pos];
      continue;
    }
    out += cell[pos];
    if (b == '"') out += '"';
  }
  out += '"';
}

void AppendCell(std::string& out, std::string_view cell, bool quoted) {
  if (quoted) {
    AppendQuoted(out, cell);
  } else {
    out.append(cell);
  }
}

std::string Join(std::string_view key, bool quote_key, std::string_view reading,
                 bool quote_reading) {
  std::string entry;
  entry.reserve(key.size() + reading.size() + 8);
  AppendCell(entry, key, quote_key);
  entry += ',';
  AppendCell(entry, reading, quote_reading);
  return entry;
}

// True when the profile reader would take the first and last characters for enclosing quotes.
// A trail byte is never ' or ", so comparing bytes compares characters.
bool LooksEnclosed(std::string_view entry) {
  return entry.size() >= 2 && (entry.front() == '"' || entry.front() == '\'') &&
         entry.back() == entry.front();
}

}  // namespace

std::string JoinEntryCells(std::string_view key, std::string_view reading) {
  const bool quote_key = NeedsQuotes(key);
  const bool quote_reading = NeedsQuotes(reading);
  std::string entry = Join(key, quote_key, reading, quote_reading);
  if (!LooksEnclosed(entry)) return entry;
  if (entry.front() == '\'') {
    // Only a bare key begins with '; quoting it makes the entry begin with ".
    return Join(key, true, reading, quote_reading);
  }
  return kEntryGuard + entry;
}

}  // namespace koe
