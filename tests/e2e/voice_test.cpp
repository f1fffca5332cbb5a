// Koemado speaks through the system's audio: what the reader sends is heard in the recording of
// the tests' audio server (scripts/audio.sh) as Debian's open_jtalk says it, and the reader is
// told of the end only once the last sample has been played. The voice dialog's 試聴, pressed
// from the keyboard, is heard too, and ends nothing the reader waits for.
#include <gtest/gtest.h>

#include "harness.h"
#include "sound.h"

namespace e2e {
namespace {

class Voice : public ProgramTest {
 protected:
  // The reference's samples (pieces of a row of tests/windows/voice/reference.tsv, joined).
  static std::vector<std::int16_t> Reference(const std::string& row, int pieces) {
    std::vector<std::int16_t> all;
    for (int k = 1; k <= pieces; ++k) {
      const auto part = koe_test::WavSamples(KOE_REFERENCE_DIR "/" + row + "-" + std::to_string(k) + ".wav");
      all.insert(all.end(), part.begin(), part.end());
    }
    return all;
  }
  // The sound recorded from `from` on: found, as long as `reference` within 5 %, and of its shape.
  static void ExpectHeard(const koe_test::Capture& capture, std::size_t from, std::size_t until,
                          const std::vector<std::int16_t>& reference, std::size_t* sound_end = nullptr) {
    const auto recorded = capture.Read(from, until - from);
    const auto span = koe_test::FindSound(recorded);
    ASSERT_TRUE(span) << "nothing was heard";
    if (sound_end) *sound_end = from + span->end;
    // A late driver leaves runs of zeros in the recording (none of the samples lost); the voice
    // makes short ones of its own, so they go from both.
    const auto heard = koe_test::WithoutDropouts(
        std::vector<std::int16_t>(recorded.begin() + span->begin, recorded.begin() + span->end));
    const auto wanted_span = koe_test::FindSound(reference);
    ASSERT_TRUE(wanted_span);
    const auto wanted = koe_test::WithoutDropouts(std::vector<std::int16_t>(
        reference.begin() + wanted_span->begin, reference.begin() + wanted_span->end));
    EXPECT_NEAR(double(heard.size()), double(wanted.size()), 0.05 * wanted.size());
    const auto match = koe_test::BestMatch(heard, wanted, 0, 4800);
    EXPECT_GE(match.correlation, 0.95) << "at " << match.at;
  }
};

TEST_F(Voice, TheReaderHearsWhatItSentAndIsToldAfterTheLastSample) {
  koe_test::Capture capture;
  ASSERT_EQ(capture.Missing(), "");
  const auto reference = Reference("digits_latin", 1);
  ASSERT_GT(reference.size(), 48000u) << "no reference";
  Client client;
  auto k = Start({"KOE_PTSVR_ENGINE=bundled"});
  ASSERT_TRUE(k);
  ASSERT_TRUE(transcript_.WaitForLines("put Volume=", 1));
  Pump(500);  // the voice loads
  const std::size_t from = capture.Samples();
  k->Say("2024年12月9日、ABCのバージョン3.5を公開しました。");
  ASSERT_TRUE(WaitUntil([&] { return client.DoneAll() == 1; }, 30000));
  const std::size_t told = capture.Samples();  // recorded when the reader was told
  ASSERT_TRUE(capture.WaitFor(told + 24000));
  std::size_t sound_end = 0;
  ExpectHeard(capture, from, told + 24000, reference, &sound_end);
  // The recording runs up to 15 ms behind what was played.
  EXPECT_LE(sound_end, told + 720) << "the reader was told " << koe_test::CaptureMs(sound_end - told)
                                   << " ms before the last sample was played";
  EXPECT_EQ(k->Close(), 0);
}

TEST_F(Voice, TheDialogsSampleIsHeardAndEndsNothing) {
  koe_test::Capture capture;
  ASSERT_EQ(capture.Missing(), "");
  Client client;
  auto k = Start({"KOE_PTSVR_ENGINE=bundled"});
  ASSERT_TRUE(k);
  ASSERT_TRUE(transcript_.WaitForLines("put Volume=", 1));
  k->Command("声の設定");
  HWND dialog = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (dialog = k->FindWindowOf("#32770", "声の設定")) != nullptr; }));
  SetForegroundWindow(dialog);
  ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == dialog; }));
  const std::size_t from = capture.Samples();
  INPUT keys[4] = {};
  for (INPUT& in : keys) in.type = INPUT_KEYBOARD;
  keys[0].ki.wVk = keys[3].ki.wVk = VK_MENU;
  keys[1].ki.wVk = keys[2].ki.wVk = 'P';
  keys[2].ki.dwFlags = keys[3].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(4, keys, sizeof(INPUT));  // Alt+P: 試聴
  const auto reference = Reference("preview", 2);
  ASSERT_TRUE(capture.WaitFor(from + reference.size() + 48000));
  ExpectHeard(capture, from, from + reference.size() + 48000, reference);
  EXPECT_TRUE(IsWindow(dialog)) << "the sample closed the dialog";
  EXPECT_EQ(client.DoneAll(), 0) << "the sample ended an utterance of the reader's";
  EXPECT_EQ(transcript_.Matching("preview ").size(), 1u);
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(k->Close(), 0);
}

}  // namespace
}  // namespace e2e
