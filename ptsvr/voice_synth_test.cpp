// The bundled voice's libraries, natively under the sanitizers: an allocation that fails anywhere
// in their C code fails that piece and nothing else (no exit(), nothing written through a null
// pointer, nothing freed twice), and the next piece is spoken sample for sample as by a voice that
// never failed.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "voice_guard.h"
#include "voice_synth.h"

namespace ptsvr {
namespace {

std::vector<std::int16_t> Samples(Voice& voice, const std::string& piece, Voice::Result& result) {
  std::vector<std::int16_t> out;
  result = voice.Speak(piece, BundledParamsFor(180, 80, 26214), [&](const std::int16_t* s, std::size_t n) {
    out.insert(out.end(), s, s + n);
    return true;
  });
  return out;
}

TEST(BundledVoice, AnAllocationThatFailsFailsOnlyItsPiece) {
  const std::string piece = "声、テスト。";
  Voice clean, voice;
  std::string broken;
  ASSERT_TRUE(clean.Load(KOE_VOICE_DIR "/dic", KOE_VOICE_DIR "/nitech_jp_atr503_m001.htsvoice", broken)) << broken;
  ASSERT_TRUE(voice.Load(KOE_VOICE_DIR "/dic", KOE_VOICE_DIR "/nitech_jp_atr503_m001.htsvoice", broken)) << broken;
  Voice::Result result;
  const auto reference = Samples(clean, piece, result);
  ASSERT_EQ(result, Voice::Result::kSpoken);
  ASSERT_GT(reference.size(), 24000u);  // half a second

  // Every one of the first allocations (the analysis's, then the synthesis's first), then ever
  // wider steps through the synthesis, until one is past the last.
  long failed = 0;
  for (long n = 0;; n += n < 150 ? 1 : n / 3) {
    koe_voice_fail_allocation_after(n);
    Samples(voice, piece, result);
    koe_voice_fail_allocation_after(-1);
    if (result == Voice::Result::kSpoken) break;
    ASSERT_EQ(result, Voice::Result::kFailed) << "allocation " << n;
    ++failed;
    EXPECT_EQ(Samples(voice, piece, result), reference) << "after allocation " << n << " failed";
  }
  EXPECT_GT(failed, 150);
}

}  // namespace
}  // namespace ptsvr
