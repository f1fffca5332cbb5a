// The settings file's integer rule against a deliberately plain second reading of it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ini_rules.h"

namespace {

bool AllOf(const std::string& s, const char* allowed) {
  return s.find_first_not_of(allowed) == std::string::npos;
}

std::string WithoutLeadingZeros(const std::string& digits) {
  const std::size_t first = digits.find_first_not_of('0');
  return first == std::string::npos ? "0" : digits.substr(first);
}

// Written straight from the rule, by string matching and the standard conversions.
std::int32_t Reference(std::string s, std::int32_t fallback) {
  while (!s.empty() && s[0] == ' ') s.erase(0, 1);
  if (s.empty()) return fallback;
  for (const char* prefix : {"0x", "0X", "$", "x", "X"}) {
    const std::string p = prefix;
    if (s.compare(0, p.size(), p) != 0) continue;
    const std::string digits = s.substr(p.size());
    if (digits.empty() || !AllOf(digits, "0123456789abcdefABCDEF")) return fallback;
    const std::string significant = WithoutLeadingZeros(digits);
    if (significant.size() > 8) return fallback;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(std::stoul(significant, nullptr, 16)));
  }
  std::string sign;
  if (s[0] == '+' || s[0] == '-') {
    sign = s.substr(0, 1);
    s.erase(0, 1);
  }
  if (s.empty() || !AllOf(s, "0123456789")) return fallback;
  const std::string significant = WithoutLeadingZeros(s);
  if (significant.size() > 10) return fallback;
  long long value = std::stoll(significant);
  if (sign == "-") value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return fallback;
  return static_cast<std::int32_t>(value);
}

void Check(const std::string& text, std::int32_t fallback) {
  const std::int32_t got = koe::ReadIniInteger(text, fallback);
  const std::int32_t want = Reference(text, fallback);
  if (got != want) {
    std::fprintf(stderr, "text \"%s\": got %d, want %d\n", text.c_str(), got, want);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider fdp(data, size);
  const auto fallback = fdp.ConsumeIntegral<std::int32_t>();
  const auto value = fdp.ConsumeIntegral<std::int32_t>();
  const std::string text = fdp.ConsumeRemainingBytesAsString();
  Check(text, fallback);
  // Values written by the program always read back as themselves.
  if (koe::ReadIniInteger(std::to_string(value), fallback ^ 1) != value) std::abort();
  char hex[16];
  std::snprintf(hex, sizeof hex, "$%X", static_cast<unsigned>(value));
  if (koe::ReadIniInteger(hex, fallback ^ 1) != value) std::abort();
  return 0;
}
