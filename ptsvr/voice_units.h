// Platform-free rules of the speech control: unit conversions for SAPI 5, the persisted state
// format, the simulated engine's timing and the texts of the transcript. No <windows.h> here, so
// everything in this file is tested natively.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ptsvr {

// ---- Voice units ---------------------------------------------------------------------------
// The control's properties use physical units: Speed in words per minute, Pitch in hertz and
// Volume from 0 to 65535. SAPI 5 has relative scales instead, so these map one onto the other.
inline constexpr std::int32_t kNormalSpeedWpm = 180;  // the rate a SAPI voice speaks at rate 0
inline constexpr std::int32_t kNormalPitchHz = 80;    // the pitch a SAPI voice speaks at pitch 0

// SAPI rate −10..10 for a speed in words per minute: each rate step is a factor of 3^(1/10), rate 0
// is kNormalSpeedWpm. Rounded to the nearest step and clamped; zero or negative speeds give −10.
int SapiRateForSpeed(std::int32_t wpm);

// SAPI <pitch absmiddle="n"/> −10..10 for a pitch in hertz: each step is a factor of 2^(1/24)
// (a quarter tone), 0 is kNormalPitchHz. Rounded and clamped; zero or negative pitches give −10.
int SapiPitchForHz(std::int32_t hz);

// SAPI volume 0..100 for a property volume 0..65535 (linear, rounded, clamped).
int SapiVolumeFor(std::int32_t volume);

// ---- The bundled voice ---------------------------------------------------------------------
// The bundled voice's settings for the control's properties, each monotonic in its property and
// held to what the voice does well, so that any 32-bit value is taken without an error:
// - rate = Speed / 180, held to 0.5–2.0 (at 180 the voice's natural speed);
// - half-tones added to its pitch = 12 × log2(Pitch / 80), held to ±12 (at 80 its own pitch);
// - gain = 20 × log10(Volume / 26214) dB, held to −100…+6 dB (at 26214 its own level, which peaks
//   near −8 dBFS; +6 dB does not clip, and −100 dB is silence in 16 bits).
struct BundledVoiceParams {
  double rate = 1.0;
  double half_tones = 0.0;
  double gain_db = 0.0;
};
BundledVoiceParams BundledParamsFor(std::int32_t speed, std::int32_t pitch, std::int32_t volume);

// The three values as the voice dialog shows them beside its sliders: "1.0 倍" (the rate),
// "±0" / "+3" / "-5" (whole half-tones) and "40 %" (Volume of 0..65535, rounded).
std::u16string SpeedInUserTerms(std::int32_t speed);
std::u16string PitchInUserTerms(std::int32_t pitch);
std::u16string VolumeInUserTerms(std::int32_t volume);

// ---- Text ----------------------------------------------------------------------------------
// The text handed to SAPI with SPF_IS_XML: a pitch element followed by the utterance.
// - U+0000 is dropped: the relay passes a single-byte character with its zero high byte, so
//   "123" arrives as U+0000 '1' U+0000 '2' U+0000 '3', and a blank in its place would make the
//   voice read digit by digit and spell half-width words letter by letter.
// - '&', '<' and '>' are escaped; nothing else is (quotes are plain text outside attributes).
// - The other C0 control characters except tab, CR and LF become blanks: XML does not allow
//   them, and SAPI skips an utterance whose markup is not well formed.
std::u16string SapiXmlFor(std::u16string_view text, int pitch);

// The number of characters of `text` that reach the voice (all but U+0000).
std::size_t SpokenLength(std::u16string_view text);

// How a text is written in the transcript: backslash as \\, U+0000 as \0, CR as \r, LF as \n.
std::u16string EscapeForTranscript(std::u16string_view text);

// UTF-16 to UTF-8 (unpaired surrogates become U+FFFD).
std::string ToUtf8(std::u16string_view text);

// How long the simulated engine takes to speak a text: 100 ms plus one character per
// 60000 / (2 × Speed) ms (two characters a word), divided by the speed factor. A factor of 0 or
// less means "at once" (0 ms). Capped at ten minutes.
std::uint32_t SimulatedDurationMs(std::size_t characters, std::int32_t wpm, double factor);

// How long the SAPI engine waits for the voice to report the end of an utterance before it
// purges the voice and ends the utterance itself (the audio may have failed on the voice's own
// thread: a device unplugged, no audio endpoint in a remote session, a stalled driver):
//   floor_ms + 4 × characters × 60000 / (2 × W)   (two characters a word)
// where W is the speed the voice really speaks at: kNormalSpeedWpm × 3^(rate / 10) for the SAPI
// rate that `wpm` maps to, so speeds beyond the rate's range do not shorten the wait. Four times
// the estimate leaves room for readings longer than their characters (numbers, kanji, spelt
// half-width words); the floor covers loading the voice and opening the audio device. Capped at
// one hour.
inline constexpr std::uint32_t kSapiDeadlineFloorMs = 10000;
std::uint32_t SapiDeadlineMs(std::size_t characters, std::int32_t wpm, std::uint32_t floor_ms);

// ---- Voice choice --------------------------------------------------------------------------
// One installed SAPI voice: its token id, its "Language" attribute (hexadecimal language ids
// separated by semicolons, e.g. "411;409") and whether it is the system's default voice.
struct VoiceEntry {
  std::u16string id;
  std::u16string language;
  bool is_default = false;
};

// True when a "Language" attribute lists Japanese (411).
bool SpeaksJapanese(std::u16string_view language);

// The Japanese voices of `voices`, as indices, in the order to try them: the voice the user chose
// in the voice dialog (`chosen_id`, when it is still installed), the system default, then the
// others in list order. Voices that are not Japanese are left out. Ids compare ignoring ASCII case
// (they are registry paths).
std::vector<std::size_t> JapaneseVoiceOrder(const std::vector<VoiceEntry>& voices,
                                            std::u16string_view chosen_id);

// ---- Persisted state -----------------------------------------------------------------------
// The 69-byte ControlData blob, all numbers little-endian:
//   0  4  signature "PtSv"
//   4  2  format version (1)
//   6  2  Gender           8  2  Age
//  10 16  ModeGuid in the GUID's memory layout (Data1, Data2, Data3 little-endian, then Data4)
//  26  4  Speed           30  4  Pitch           34  4  Volume
//  38  1  UseButton (0/1) 39  1  UseWebSpeak (0/1)
//  40 29  reserved, zero
inline constexpr std::size_t kStateSize = 69;
inline constexpr std::uint16_t kStateVersion = 1;

struct ControlState {
  std::int16_t gender = 1;  // 1 female, 2 male (0 would be "any")
  std::int16_t age = 30;
  std::array<std::uint8_t, 16> mode_guid{};  // GUID_NULL: the engine's own choice
  std::int32_t speed = kNormalSpeedWpm;
  std::int32_t pitch = kNormalPitchHz;
  std::int32_t volume = 26214;
  bool use_button = false;
  bool use_web_speak = false;
  bool operator==(const ControlState&) const = default;
};

std::array<std::uint8_t, kStateSize> EncodeState(const ControlState& state);
// Empty when the bytes do not carry the signature and version above.
std::optional<ControlState> DecodeState(const std::uint8_t* bytes, std::size_t size);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper case) for a GUID in memory layout, and back.
// Parsing accepts either case and, as an empty text, GUID_NULL.
std::u16string FormatGuid(const std::array<std::uint8_t, 16>& guid);
std::optional<std::array<std::uint8_t, 16>> ParseGuid(std::u16string_view text);

}  // namespace ptsvr
