#include "readings.h"

#include "entry_format.h"
#include "sjis.h"

namespace koe {
namespace {

// Key and reading of one entry, or false when the entry takes no part in the lookup.
bool KeyAndReading(const std::string& entry, std::string& key, std::string& reading) {
  std::vector<std::string> fields = SplitEntry(entry);
  switch (fields.size()) {
    case 1:
      key = std::move(fields[0]);
      reading = kFullWidthSpace;
      return true;
    case 2:
      key = std::move(fields[0]);
      reading = std::move(fields[1]);
      return true;
    default:
      return false;
  }
}

std::uint16_t TwoByteKey(std::string_view text) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(text[0]) << 8 |
                                    static_cast<unsigned char>(text[1]));
}

}  // namespace

void ReadingsList::Append(std::string entry) {
  entries_.push_back(std::move(entry));
  index_valid_ = false;
}

void ReadingsList::Clear() {
  entries_.clear();
  index_valid_ = false;
}

void ReadingsList::AppendDefaults() {
  for (const char* item : kDefaultEntries) {
    if (std::string_view(item) == kDefaultEntriesEnd) break;
    Append(item);
  }
}

void ReadingsList::RebuildIndex() const {
  index_.clear();
  other_index_.clear();
  std::string key, reading;
  for (const std::string& entry : entries_) {
    if (!KeyAndReading(entry, key, reading)) continue;
    // try_emplace keeps the first entry of a key: later ones are never reached.
    if (key.size() == 2)
      index_.try_emplace(TwoByteKey(key), reading);
    else
      other_index_.try_emplace(key, reading);
  }
  index_valid_ = true;
}

std::optional<std::string_view> ReadingsList::Lookup(std::string_view character) const {
  if (!index_valid_) RebuildIndex();
  if (character.size() == 2) {
    auto it = index_.find(TwoByteKey(character));
    if (it != index_.end()) return std::string_view(it->second);
  } else {
    auto it = other_index_.find(std::string(character));
    if (it != other_index_.end()) return std::string_view(it->second);
  }
  return std::nullopt;
}

std::optional<std::string> LookupByScan(const ReadingsList& list, std::string_view character) {
  std::string key, reading;
  for (std::size_t i = 0; i < list.Count(); ++i) {
    if (KeyAndReading(list.At(i), key, reading) && key == character) return reading;
  }
  return std::nullopt;
}

}  // namespace koe
