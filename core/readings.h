// The readings list: ordered entries "key,reading" that say how client characters are read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace koe {

// The built-in entries used when there is no settings file, ending with the marker "END"
// (not itself an entry): "－,　" and "‥,　", spelled as Shift-JIS bytes so that they do not
// depend on the compiler's execution character set.
inline constexpr const char* kDefaultEntries[] = {"\x81\x7C,\x81\x40", "\x81\x64,\x81\x40", "END"};
inline constexpr char kDefaultEntriesEnd[] = "END";

class ReadingsList {
 public:
  std::size_t Count() const { return entries_.size(); }
  const std::string& At(std::size_t index) const { return entries_.at(index); }
  void Append(std::string entry);
  void Clear();

  // Appends kDefaultEntries up to, not including, the end marker.
  void AppendDefaults();

  // The reading of a two-byte character text, or nothing when no entry matches. Entries are
  // taken in list order; the first whose key equals the text byte for byte wins. An entry of
  // one field reads as the full-width space; entries of no field or of three or more fields
  // never match. Backed by an index that every change of the list invalidates and the next
  // lookup rebuilds; a returned view stays valid until the list is changed.
  std::optional<std::string_view> Lookup(std::string_view character) const;

 private:
  void RebuildIndex() const;

  std::vector<std::string> entries_;
  // key (lead byte << 8 | trail byte) -> reading of the first matching entry
  mutable std::unordered_map<std::uint16_t, std::string> index_;
  // keys of any other length (only ever matched by a text of that length)
  mutable std::unordered_map<std::string, std::string> other_index_;
  mutable bool index_valid_ = false;
};

// The plain in-order scan that the index must always agree with.
std::optional<std::string> LookupByScan(const ReadingsList& list, std::string_view character);

}  // namespace koe
