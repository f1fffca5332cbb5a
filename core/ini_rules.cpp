#include "ini_rules.h"

#include <cstdint>
#include <optional>

#include "sjis.h"

namespace koe {
namespace {

// Position just after the last single-byte unit of path that is one of delimiters, scanning
// with the lead-byte rule; npos when there is none.
std::size_t LastDelimiter(std::string_view path, std::string_view delimiters) {
  std::size_t found = std::string_view::npos;
  for (std::size_t i = 0; i < path.size();) {
    if (IsLeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size()) {
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

}  // namespace

std::size_t DirectoryPartLength(std::string_view path) {
  const std::size_t last = LastDelimiter(path, "\\:");
  return last == std::string_view::npos ? 0 : last + 1;
}

std::string IniFileNameFor(std::string_view program_path) {
  const std::string_view name = program_path.substr(DirectoryPartLength(program_path));
  const std::size_t dot = LastDelimiter(name, ".");
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

}  // namespace koe
