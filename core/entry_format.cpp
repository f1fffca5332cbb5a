#include "entry_format.h"

#include "sjis.h"

namespace koe {
namespace {

constexpr bool IsBlank(unsigned char b) { return b >= 0x01 && b <= 0x20; }

// Length of the character unit at pos: two bytes for a lead byte with a byte after it,
// otherwise one (a lead byte at the very end stands alone).
std::size_t UnitLength(std::string_view s, std::size_t pos) {
  return IsLeadByte(static_cast<unsigned char>(s[pos])) && pos + 1 < s.size() ? 2 : 1;
}

// True when the unit at pos is the single byte c.
bool IsSingle(std::string_view s, std::size_t pos, char c) {
  return s[pos] == c && UnitLength(s, pos) == 1;
}

std::size_t SkipBlanks(std::string_view s, std::size_t pos) {
  // A blank is always a single-byte unit: a lead byte is never in 0x01..0x20.
  while (pos < s.size() && IsBlank(static_cast<unsigned char>(s[pos]))) ++pos;
  return pos;
}

}  // namespace

std::vector<std::string> SplitEntry(std::string_view entry) {
  std::vector<std::string> fields;
  const std::size_t n = entry.size();
  std::size_t pos = SkipBlanks(entry, 0);
  while (pos < n) {
    std::string field;
    if (IsSingle(entry, pos, '"')) {
      // Quoted: up to the next quote not followed by another; a pair stands for one quote.
      // When no closing quote comes, the field keeps the rest of the entry.
      ++pos;
      while (pos < n) {
        if (IsSingle(entry, pos, '"')) {
          if (pos + 1 < n && entry[pos + 1] == '"') {
            field += '"';
            pos += 2;
            continue;
          }
          ++pos;  // the closing quote
          break;
        }
        const std::size_t len = UnitLength(entry, pos);
        field.append(entry.substr(pos, len));
        pos += len;
      }
    } else {
      const std::size_t start = pos;
      while (pos < n) {
        const std::size_t len = UnitLength(entry, pos);
        if (len == 1 && (IsBlank(static_cast<unsigned char>(entry[pos])) || entry[pos] == ',')) break;
        pos += len;
      }
      field.assign(entry.substr(start, pos - start));
    }
    fields.push_back(std::move(field));

    pos = SkipBlanks(entry, pos);
    if (pos < n && entry[pos] == ',') {  // a comma byte here is always a unit of its own
      if (pos + 1 == n) fields.emplace_back();
      pos = SkipBlanks(entry, pos + 1);
    }
  }
  return fields;
}

}  // namespace koe
