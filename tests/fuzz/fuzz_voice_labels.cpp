// The bundled voice's text to labels: any UTF-16 text splits into pieces of valid UTF-8 that hold
// no control character, no character outside the Basic Multilingual Plane and at most
// kMaxPieceChars characters, and Open JTalk's analysis of each runs clean under the sanitizers
// (its unbounded copies are what made 400 × "ア" overwrite the stack).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "voice_synth.h"
#include "voice_text.h"

namespace {

void Fail(const char* what) {
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

// The number of characters of a piece, checking that it is what VoicePieces promises.
std::size_t CheckedLength(const std::string& piece) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < piece.size(); ++chars) {
    const unsigned char lead = static_cast<unsigned char>(piece[i]);
    const std::size_t n = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : 0;
    if (n == 0 || i + n > piece.size()) Fail("not UTF-8 of the Basic Multilingual Plane");
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(piece[i + k]) & 0xC0) != 0x80) Fail("a broken sequence");
    if (n == 1 && (lead < 0x20 || lead == 0x7F)) Fail("a control character");
    i += n;
  }
  return chars;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ptsvr::Voice* voice = [] {
    auto* v = new ptsvr::Voice;
    std::string broken;
    if (!v->Load(KOE_VOICE_DIR "/dic", KOE_VOICE_DIR "/nitech_jp_atr503_m001.htsvoice", broken))
      Fail("the voice's files do not load");
    return v;
  }();
  std::u16string text(size / 2, u'\0');
  std::memcpy(text.data(), data, text.size() * 2);
  for (const std::string& piece : ptsvr::VoicePieces(text)) {
    const std::size_t chars = CheckedLength(piece);
    if (chars == 0 || chars > ptsvr::kMaxPieceChars) Fail("a piece empty or too long");
    if (!voice->Labels(piece)) Fail("the analysis failed");
  }
  return 0;
}
