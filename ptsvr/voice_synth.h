// The bundled voice: Open JTalk's text analysis (its MeCab with the naist-jdic dictionary) and
// hts_engine's synthesis with one HTS voice, the way Debian's open_jtalk runs them, so that the
// same text and options give the same samples. Platform-free (the paths are UTF-8; on Windows they
// are opened as wide paths).
//
// Safety: a piece reaches the analysis only through Speak or Labels, which take what VoicePieces
// makes; the libraries' C code runs inside koe_voice_guarded, so that a lack of memory or a fatal
// error of theirs fails the call (kFailed) instead of ending the process; MeCab's C++ exceptions
// are caught. One Voice belongs to one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "voice_units.h"

namespace ptsvr {

// The files of the bundled voice, in a folder of their own: dic/ (sys.dic, unk.dic, char.bin,
// matrix.bin of naist-jdic) and the voice.
inline constexpr char kVoiceFileName[] = "nitech_jp_atr503_m001.htsvoice";
inline constexpr const char* kDictionaryFiles[] = {"sys.dic", "unk.dic", "char.bin", "matrix.bin"};

class Voice {
 public:
  Voice();
  ~Voice();
  Voice(const Voice&) = delete;
  Voice& operator=(const Voice&) = delete;

  // Loads the dictionary folder and the voice file. On failure names in `broken` the file that is
  // missing or broken (or the folder, when MeCab refuses the dictionary as a whole).
  bool Load(const std::string& dictionary_dir, const std::string& voice_file, std::string& broken);
  std::uint32_t SampleRate() const;

  // The full-context labels of one piece; empty when it has nothing to say (no phoneme); nothing
  // when the analysis failed.
  std::optional<std::vector<std::string>> Labels(const std::string& piece);

  enum class Result { kSpoken, kNothingToSay, kStopped, kFailed };
  // Speaks one piece: its samples go to `sink` in blocks as they are made (16-bit, mono, at
  // SampleRate()); the sink returns false to stop the synthesis.
  using Sink = std::function<bool(const std::int16_t* samples, std::size_t count)>;
  Result Speak(const std::string& piece, const BundledVoiceParams& params, const Sink& sink);

 private:
  struct Parts;
  bool LoadVoice();
  std::unique_ptr<Parts> parts_;
  std::string voice_file_;
};

}  // namespace ptsvr
