#include "voice_units.h"

#include <algorithm>
#include <cmath>

namespace ptsvr {

namespace {

int RoundClamp(double value, int low, int high) {
  if (!(value == value)) return low;  // NaN
  return static_cast<int>(std::lround(std::clamp(value, double(low), double(high))));
}

void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}
std::uint16_t Get16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
std::uint32_t Get32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
         (std::uint32_t(p[3]) << 24);
}

constexpr std::uint8_t kSignature[4] = {'P', 't', 'S', 'v'};

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

}  // namespace

int SapiRateForSpeed(std::int32_t wpm) {
  if (wpm <= 0) return -10;
  return RoundClamp(10.0 * std::log(double(wpm) / kNormalSpeedWpm) / std::log(3.0), -10, 10);
}

int SapiPitchForHz(std::int32_t hz) {
  if (hz <= 0) return -10;
  return RoundClamp(24.0 * std::log2(double(hz) / kNormalPitchHz), -10, 10);
}

int SapiVolumeFor(std::int32_t volume) {
  return RoundClamp(double(volume) * 100.0 / 65535.0, 0, 100);
}

std::u16string SapiXmlFor(std::u16string_view text, int pitch) {
  std::u16string out = u"<pitch absmiddle=\"";
  for (char c : std::to_string(pitch)) out += char16_t(c);
  out += u"\"/>";
  for (char16_t c : text) {
    switch (c) {
      case u'\0': break;
      case u'&': out += u"&amp;"; break;
      case u'<': out += u"&lt;"; break;
      case u'>': out += u"&gt;"; break;
      case u'\t':
      case u'\r':
      case u'\n': out += c; break;
      default: out += c < 0x20 ? u' ' : c;
    }
  }
  return out;
}

std::size_t SpokenLength(std::u16string_view text) {
  return text.size() - static_cast<std::size_t>(std::count(text.begin(), text.end(), u'\0'));
}

std::u16string EscapeForTranscript(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    switch (c) {
      case u'\\': out += u"\\\\"; break;
      case u'\0': out += u"\\0"; break;
      case u'\r': out += u"\\r"; break;
      case u'\n': out += u"\\n"; break;
      default: out += c;
    }
  }
  return out;
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out += char(cp);
    } else if (cp < 0x800) {
      out += char(0xC0 | (cp >> 6));
      out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += char(0xE0 | (cp >> 12));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    } else {
      out += char(0xF0 | (cp >> 18));
      out += char(0x80 | ((cp >> 12) & 0x3F));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

BundledVoiceParams BundledParamsFor(std::int32_t speed, std::int32_t pitch, std::int32_t volume) {
  BundledVoiceParams p;
  p.rate = speed > 0 ? std::clamp(speed / double(kNormalSpeedWpm), 0.5, 2.0) : 0.5;
  p.half_tones = pitch > 0 ? std::clamp(12.0 * std::log2(pitch / double(kNormalPitchHz)), -12.0, 12.0)
                           : -12.0;
  p.gain_db = volume > 0 ? std::clamp(20.0 * std::log10(volume / 26214.0), -100.0, 6.0) : -100.0;
  return p;
}

namespace {
std::u16string Ascii(const std::string& s) { return {s.begin(), s.end()}; }
}  // namespace

std::u16string SpeedInUserTerms(std::int32_t speed) {
  const long tenths = std::lround(BundledParamsFor(speed, kNormalPitchHz, 26214).rate * 10);
  return Ascii(std::to_string(tenths / 10) + "." + std::to_string(tenths % 10)) + u" 倍";
}

std::u16string PitchInUserTerms(std::int32_t pitch) {
  const long tones = std::lround(BundledParamsFor(kNormalSpeedWpm, pitch, 26214).half_tones);
  return tones == 0 ? u"±0" : Ascii((tones > 0 ? "+" : "") + std::to_string(tones));
}

std::u16string VolumeInUserTerms(std::int32_t volume) {
  return Ascii(std::to_string(std::lround(std::clamp(volume, 0, 65535) * 100.0 / 65535))) + u" %";
}

std::uint32_t SimulatedDurationMs(std::size_t characters, std::int32_t wpm, double factor) {
  if (!(factor > 0)) return 0;
  const double chars_per_minute = 2.0 * std::max<std::int32_t>(wpm, 1);
  const double ms = (100.0 + double(characters) * 60000.0 / chars_per_minute) / factor;
  return std::uint32_t(std::min(ms, 600000.0));
}

std::uint32_t SapiDeadlineMs(std::size_t characters, std::int32_t wpm, std::uint32_t floor_ms) {
  const double spoken_wpm = kNormalSpeedWpm * std::pow(3.0, SapiRateForSpeed(wpm) / 10.0);
  const double estimate_ms = double(characters) * 60000.0 / (2.0 * spoken_wpm);
  return std::uint32_t(std::min(double(floor_ms) + 4.0 * estimate_ms, 3600000.0));
}

namespace {

std::u16string_view Trim(std::u16string_view s) {
  while (!s.empty() && (s.front() == u' ' || s.front() == u'\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == u' ' || s.back() == u'\t')) s.remove_suffix(1);
  return s;
}

bool SameId(std::u16string_view a, std::u16string_view b) {
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

}  // namespace

bool SpeaksJapanese(std::u16string_view language) {
  while (true) {
    const auto semicolon = language.find(u';');
    std::u16string_view item = Trim(language.substr(0, semicolon));
    if (item.size() > 2 && item[0] == u'0' && (item[1] == u'x' || item[1] == u'X')) item.remove_prefix(2);
    unsigned long value = 0;
    bool ok = !item.empty() && item.size() <= 8;
    for (char16_t c : item) {
      const int digit = HexDigit(c);
      if (digit < 0) ok = false;
      value = value * 16 + unsigned(digit < 0 ? 0 : digit);
    }
    if (ok && value == 0x411) return true;
    if (semicolon == std::u16string_view::npos) return false;
    language.remove_prefix(semicolon + 1);
  }
}

std::vector<std::size_t> JapaneseVoiceOrder(const std::vector<VoiceEntry>& voices,
                                            std::u16string_view chosen_id) {
  std::vector<std::size_t> order;
  auto add_if = [&](auto wanted) {
    for (std::size_t i = 0; i < voices.size(); ++i)
      if (wanted(voices[i]) && SpeaksJapanese(voices[i].language) &&
          std::find(order.begin(), order.end(), i) == order.end())
        order.push_back(i);
  };
  if (!chosen_id.empty()) add_if([&](const VoiceEntry& v) { return SameId(v.id, chosen_id); });
  add_if([](const VoiceEntry& v) { return v.is_default; });
  add_if([](const VoiceEntry&) { return true; });
  return order;
}

std::array<std::uint8_t, kStateSize> EncodeState(const ControlState& s) {
  std::array<std::uint8_t, kStateSize> b{};
  std::copy(std::begin(kSignature), std::end(kSignature), b.begin());
  Put16(&b[4], kStateVersion);
  Put16(&b[6], std::uint16_t(s.gender));
  Put16(&b[8], std::uint16_t(s.age));
  std::copy(s.mode_guid.begin(), s.mode_guid.end(), b.begin() + 10);
  Put32(&b[26], std::uint32_t(s.speed));
  Put32(&b[30], std::uint32_t(s.pitch));
  Put32(&b[34], std::uint32_t(s.volume));
  b[38] = s.use_button ? 1 : 0;
  b[39] = s.use_web_speak ? 1 : 0;
  return b;
}

std::optional<ControlState> DecodeState(const std::uint8_t* b, std::size_t size) {
  if (size < kStateSize || !std::equal(std::begin(kSignature), std::end(kSignature), b) ||
      Get16(&b[4]) != kStateVersion)
    return std::nullopt;
  ControlState s;
  s.gender = std::int16_t(Get16(&b[6]));
  s.age = std::int16_t(Get16(&b[8]));
  std::copy(b + 10, b + 26, s.mode_guid.begin());
  s.speed = std::int32_t(Get32(&b[26]));
  s.pitch = std::int32_t(Get32(&b[30]));
  s.volume = std::int32_t(Get32(&b[34]));
  s.use_button = b[38] != 0;
  s.use_web_speak = b[39] != 0;
  return s;
}

// Text order of the GUID's bytes: Data1, Data2, Data3 are little-endian in memory.
static constexpr int kGuidTextOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};

std::u16string FormatGuid(const std::array<std::uint8_t, 16>& g) {
  static const char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string out = u"{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += u'-';
    const std::uint8_t byte = g[kGuidTextOrder[i]];
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
  }
  out += u'}';
  return out;
}

std::optional<std::array<std::uint8_t, 16>> ParseGuid(std::u16string_view text) {
  std::array<std::uint8_t, 16> g{};
  if (text.empty()) return g;
  if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return std::nullopt;
  std::size_t pos = 1;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) {
      if (text[pos++] != u'-') return std::nullopt;
    }
    const int hi = HexDigit(text[pos]), lo = HexDigit(text[pos + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    g[kGuidTextOrder[i]] = std::uint8_t(hi * 16 + lo);
    pos += 2;
  }
  return g;
}

}  // namespace ptsvr
