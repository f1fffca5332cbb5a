#include "ini_rules.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "sjis.h"

namespace koe {
namespace {

// Position of the last single-byte unit of path that is one of delimiters, scanning with the
// lead-byte rule (Shift-JIS's unless told); npos when there is none.
std::size_t LastDelimiter(std::string_view path, std::string_view delimiters,
                          LeadByteRule is_lead = IsLeadByte) {
  std::size_t found = std::string_view::npos;
  for (std::size_t i = 0; i < path.size();) {
    if (is_lead(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
      i += 2;
      continue;
    }
    if (delimiters.find(path[i]) != std::string_view::npos) found = i;
    ++i;
  }
  return found;
}

constexpr int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::int32_t> ParseHex(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  std::uint32_t value = 0;
  int significant = 0;
  for (char c : digits) {
    const int v = HexValue(c);
    if (v < 0) return std::nullopt;
    if (significant > 0 || v != 0) {
      if (++significant > 8) return std::nullopt;
    }
    value = value << 4 | static_cast<std::uint32_t>(v);
  }
  return static_cast<std::int32_t>(value);  // the 32-bit pattern
}

std::optional<std::int32_t> ParseDecimal(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  constexpr std::int64_t kLimit = std::int64_t{1} << 31;  // magnitude of INT32_MIN
  std::int64_t magnitude = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > kLimit) return std::nullopt;
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

// ---- the file's lines, as the profile functions see them ----

constexpr bool IsProfileSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r') || c == '\x1A';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsProfileSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsProfileSpace(text.back())) text.remove_suffix(1);
  return text;
}

constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Names compare byte for byte, a single-byte letter in either case (never a trail byte).
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(a[i])) && i + 1 < a.size()) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      ++i;
    } else if (AsciiLower(a[i]) != AsciiLower(b[i])) {
      return false;
    }
  }
  return true;
}

// One line of the file: where it starts, where its text ends (before CR LF), where the next begins.
struct Line {
  std::size_t begin, end, next;
};

std::vector<Line> SplitLines(std::string_view file) {
  std::vector<Line> lines;
  std::size_t begin = 0;
  while (begin < file.size()) {
    std::size_t end = file.find('\n', begin);
    const std::size_t next = end == std::string_view::npos ? file.size() : end + 1;
    if (end == std::string_view::npos) end = file.size();
    if (end > begin && file[end - 1] == '\r') --end;
    lines.push_back({begin, end, next});
    begin = next;
  }
  return lines;
}

// The name of a section line ("[name]" up to its last single-byte "]", trimmed), else nullopt.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  const std::size_t close = LastDelimiter(line, "]");
  if (close == std::string_view::npos || close == 0) return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

// Key and value of any other line: "name=value", or a name alone with an empty value. The key
// is empty for a blank line.
std::pair<std::string_view, std::string_view> KeyAndValue(std::string_view line) {
  const std::size_t equals = line.find('=');  // never a trail byte: those start at 0x40
  if (equals == std::string_view::npos) return {Trim(line), {}};
  return {Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))};
}

// The lines of the first section of this name: [first, last) indices, after its header.
std::optional<std::pair<std::size_t, std::size_t>> FindSection(std::string_view file,
                                                               const std::vector<Line>& lines,
                                                               std::string_view section) {
  section = Trim(section);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto name = SectionName(file.substr(lines[i].begin, lines[i].end - lines[i].begin));
    if (!name || !SameName(*name, section)) continue;
    std::size_t j = i + 1;
    while (j < lines.size() && !SectionName(file.substr(lines[j].begin, lines[j].end - lines[j].begin))) ++j;
    return std::pair{i + 1, j};
  }
  return std::nullopt;
}

std::optional<std::size_t> FindKey(std::string_view file, const std::vector<Line>& lines,
                                   std::pair<std::size_t, std::size_t> range, std::string_view key) {
  key = Trim(key);
  for (std::size_t i = range.first; i < range.second; ++i) {
    const auto [name, value] = KeyAndValue(file.substr(lines[i].begin, lines[i].end - lines[i].begin));
    if (!name.empty() && SameName(name, key)) return i;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ProfileValue(std::string_view file, std::string_view section,
                                        std::string_view key, std::size_t max_length) {
  const std::vector<Line> lines = SplitLines(file);
  const auto range = FindSection(file, lines, section);
  if (!range) return std::nullopt;
  const auto at = FindKey(file, lines, *range, key);
  if (!at) return std::nullopt;
  std::string_view value =
      KeyAndValue(file.substr(lines[*at].begin, lines[*at].end - lines[*at].begin)).second;
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return std::string(value.substr(0, max_length));
}

std::string WithProfileValue(std::string_view file, std::string_view section, std::string_view key,
                             std::string_view value) {
  const std::vector<Line> lines = SplitLines(file);
  const std::string line = std::string(Trim(key)) + "=" + std::string(value);
  std::string out;
  const auto range = FindSection(file, lines, section);
  if (!range) {
    out = file;
    if (!out.empty() && out.back() != '\n') out += "\r\n";
    out += "[" + std::string(Trim(section)) + "]\r\n" + line + "\r\n";
    return out;
  }
  if (const auto at = FindKey(file, lines, *range, key)) {
    const Line& l = lines[*at];
    return std::string(file.substr(0, l.begin)) + line + std::string(file.substr(l.end));
  }
  // After the section's last line that is not blank (its header when it has none).
  std::size_t after = range->first - 1;
  for (std::size_t i = range->first; i < range->second; ++i)
    if (!Trim(file.substr(lines[i].begin, lines[i].end - lines[i].begin)).empty()) after = i;
  const Line& l = lines[after];
  const bool ended = l.next > l.end;  // the line has its line end
  return std::string(file.substr(0, l.next)) + (ended ? "" : "\r\n") + line + "\r\n" +
         std::string(file.substr(l.next));
}

std::size_t DirectoryPartLength(std::string_view path, LeadByteRule is_lead) {
  const std::size_t last = LastDelimiter(path, "\\:", is_lead);
  return last == std::string_view::npos ? 0 : last + 1;
}

std::string IniFileNameFor(std::string_view program_path, LeadByteRule is_lead) {
  const std::string_view name = program_path.substr(DirectoryPartLength(program_path, is_lead));
  const std::size_t dot = LastDelimiter(name, ".", is_lead);
  std::string result(name.substr(0, dot));  // npos keeps the whole name
  result += ".ini";
  return result;
}

std::int32_t ReadIniInteger(std::string_view text, std::int32_t fallback) {
  const std::size_t start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) return fallback;
  text.remove_prefix(start);

  std::optional<std::int32_t> value;
  if (text[0] == '$' || text[0] == 'x' || text[0] == 'X')
    value = ParseHex(text.substr(1));
  else if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    value = ParseHex(text.substr(2));
  else
    value = ParseDecimal(text);
  return value.value_or(fallback);
}

WholeFile ReadWholeFile(const ReadStep& read) {
  WholeFile file;
  char buffer[4096];
  for (;;) {
    std::size_t got = 0;
    if ((file.error = read(buffer, sizeof buffer, got)) != 0) {
      file.bytes.clear();
      return file;
    }
    if (got == 0) return file;
    file.bytes.append(buffer, got);
  }
}

}  // namespace koe
