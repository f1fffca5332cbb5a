#include "fault_knobs.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace ptsvr {

namespace {
std::optional<long> ParseLong(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty() || text.size() > 15) return std::nullopt;
  std::string s(text);
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (end != s.c_str() + s.size()) return std::nullopt;
  return v;
}
}  // namespace

std::vector<long> ParseDispidList(std::string_view text) {
  std::vector<long> ids;
  while (true) {
    const auto comma = text.find(',');
    if (auto v = ParseLong(text.substr(0, comma))) ids.push_back(*v);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return ids;
}

std::optional<DialogAnswer> ParseDialogAnswer(std::string_view text) {
  if (text == "cancel") return DialogAnswer{};
  if (text.substr(0, 3) != "ok:") return std::nullopt;
  const auto ids = ParseDispidList(text.substr(3));  // three comma-separated integers
  if (ids.size() != 3 || std::count(text.begin(), text.end(), ',') != 2) return std::nullopt;
  return DialogAnswer{true, std::int32_t(ids[0]), std::int32_t(ids[1]), std::int32_t(ids[2])};
}

}  // namespace ptsvr
