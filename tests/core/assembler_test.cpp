// How the client's character messages become speak requests and done notifications.
#include "assembler.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "protocol.h"
#include "sjis.h"
#include "sjis_text.h"

namespace koe {
namespace {

// Codes as the client sends them: lead byte in bits 8..15.
constexpr std::uint32_t kA = 0x889F;      // 亜
constexpr std::uint32_t kI = 0x82A2;      // い
constexpr std::uint32_t kSpace = 0x8140;  // 　
constexpr std::uint32_t kDash = 0x817C;   // － (a default entry: reads as 　)
constexpr std::uint32_t kLeader = 0x8164; // ‥ (a default entry: reads as 　)

// What the client and the speech control see, in order: "speak:<bytes>" or "done".
class AssemblerTest : public testing::Test {
 protected:
  AssemblerTest()
      : assembler_([this](const std::string& u) {
                     if (fail_speak_) throw std::runtime_error("speak failed");
                     events_.push_back("speak:" + u);
                   },
                   [this] { events_.push_back("done"); }) {
    readings_.AppendDefaults();
  }

  void Send(std::uintptr_t phase, std::uintptr_t code) { assembler_.OnChar(phase, code, readings_); }
  std::vector<std::string> TakeEvents() { return std::exchange(events_, {}); }

  ReadingsList readings_;
  UtteranceAssembler assembler_;
  std::vector<std::string> events_;
  bool fail_speak_ = false;
};

using Events = std::vector<std::string>;

TEST_F(AssemblerTest, ThreeCharacterUtteranceIsSpokenInOneCall) {
  readings_.Append("い,イイ"_sj);
  assembler_.ResetNothingToSpeak();
  Send(kPhaseFirst, kA);
  Send(kPhaseMiddle, kI);
  EXPECT_TRUE(TakeEvents().empty());
  Send(kPhaseLast, kA);
  EXPECT_EQ(TakeEvents(), Events{"speak:亜イイ亜"_sj});
  EXPECT_TRUE(assembler_.NothingToSpeak());
  EXPECT_EQ(assembler_.Buffer(), "亜イイ亜"_sj);  // kept after the end
}

TEST_F(AssemblerTest, WholeUtteranceOfOneCharacterIsSpokenAtOnce) {
  assembler_.ResetNothingToSpeak();
  Send(kPhaseWhole, kA);
  EXPECT_EQ(TakeEvents(), Events{"speak:亜"_sj});
  EXPECT_EQ(assembler_.Buffer(), "亜"_sj);
}

TEST_F(AssemblerTest, UtteranceOfSilencedCharactersIsDoneAtOnce) {
  readings_.Append("亜"_sj);  // one field: silenced
  const struct {
    const char* what;
    std::vector<std::uint32_t> codes;
    Events events;
  } cases[] = {
      {"full-width space alone", {kSpace}, {"done"}},
      {"one-field entry alone", {kA}, {"done"}},
      {"defaults and spaces", {kDash, kSpace, kLeader, kSpace, kDash}, {"done"}},
      {"one other character speaks all", {kSpace, kDash, kI, kSpace},
       {"speak:　　い　"_sj}},
  };
  for (const auto& c : cases) {
    assembler_.ResetNothingToSpeak();
    if (c.codes.size() == 1) {
      Send(kPhaseWhole, c.codes[0]);
    } else {
      Send(kPhaseFirst, c.codes.front());
      for (std::size_t i = 1; i + 1 < c.codes.size(); ++i) Send(kPhaseMiddle, c.codes[i]);
      Send(kPhaseLast, c.codes.back());
    }
    EXPECT_EQ(TakeEvents(), c.events) << c.what;
    EXPECT_TRUE(assembler_.NothingToSpeak()) << c.what;
  }
}

TEST_F(AssemblerTest, EmptyReadingMakesTheUtteranceSpeakable) {
  readings_.Append("亜,"_sj);
  assembler_.ResetNothingToSpeak();
  Send(kPhaseFirst, kA);
  Send(kPhaseLast, kA);
  EXPECT_EQ(TakeEvents(), Events{"speak:"});
}

TEST_F(AssemblerTest, ReadingOfTwoSpacesIsSpeakable) {
  readings_.Append("亜,　　"_sj);
  assembler_.ResetNothingToSpeak();
  Send(kPhaseWhole, kA);
  EXPECT_EQ(TakeEvents(), Events{"speak:　　"_sj});
}

TEST_F(AssemblerTest, ZeroHighByteStaysInTheText) {
  readings_.Append("A,x");  // a one-byte key never matches a two-byte text
  assembler_.ResetNothingToSpeak();
  Send(kPhaseWhole, 0x0041);
  EXPECT_EQ(TakeEvents(), Events{std::string("speak:\0A", 8)});
  EXPECT_EQ(assembler_.Buffer(), std::string("\0A", 2));
}

TEST_F(AssemblerTest, HigherBitsOfTheCodeAreIgnored) {
  readings_.Append("亜,あ"_sj);
  assembler_.ResetNothingToSpeak();
  Send(kPhaseWhole, 0xABCD0000u | kA);
  EXPECT_EQ(TakeEvents(), Events{"speak:あ"_sj});
  if constexpr (sizeof(std::uintptr_t) > 4) {  // a 64-bit build's lParam is wider still
    Send(kPhaseWhole, (std::uintptr_t{0xFF} << 40) | kA);
    EXPECT_EQ(TakeEvents(), Events{"speak:あ"_sj});
  }
}

TEST_F(AssemblerTest, KeyOfTwoSingleByteCharactersMatchesTheirCode) {
  readings_.Append("AB,えーびー"_sj);
  assembler_.ResetNothingToSpeak();
  Send(kPhaseWhole, 0x4142);
  EXPECT_EQ(TakeEvents(), Events{"speak:えーびー"_sj});
}

TEST_F(AssemblerTest, PhaseThreeAfterFinishedUtteranceAddsToItsText) {
  assembler_.ResetNothingToSpeak();
  Send(kPhaseFirst, kA);
  Send(kPhaseLast, kI);
  EXPECT_EQ(TakeEvents(), Events{"speak:亜い"_sj});
  Send(kPhaseLast, kA);  // no new phase 0 or 1
  EXPECT_EQ(TakeEvents(), Events{"speak:亜い亜"_sj});
  Send(kPhaseLast, kSpace);  // only a space since the last end: nothing to speak
  EXPECT_EQ(TakeEvents(), Events{"done"});
  EXPECT_EQ(assembler_.Buffer(), "亜い亜　"_sj);
}

TEST_F(AssemblerTest, AbandonedUtteranceMakesTheNextOneSpeakable) {
  assembler_.ResetNothingToSpeak();
  Send(kPhaseFirst, kA);  // never ended
  Send(kPhaseFirst, kSpace);
  Send(kPhaseLast, kSpace);
  EXPECT_EQ(TakeEvents(), Events{"speak:　　"_sj});
}

TEST_F(AssemblerTest, OtherPhasesOnlyAddTheCharacter) {
  assembler_.ResetNothingToSpeak();
  Send(kPhaseFirst, kA);
  std::vector<std::uintptr_t> phases = {4u, 5u, 0xFFFFFFFFu};
  if constexpr (sizeof(std::uintptr_t) > 4) {
    // A 64-bit build's wParam holds more than 32 bits: these are other phases, not 0 and 3.
    phases.push_back((std::uintptr_t{1} << 32) | kPhaseWhole);
    phases.push_back((std::uintptr_t{1} << 32) | kPhaseLast);
  }
  for (std::uintptr_t phase : phases) Send(phase, kI);
  EXPECT_TRUE(TakeEvents().empty());
  std::string want = "亜"_sj;
  for (std::size_t i = 0; i < phases.size(); ++i) want += "い"_sj;
  EXPECT_EQ(assembler_.Buffer(), want);
  EXPECT_FALSE(assembler_.NothingToSpeak());
}

TEST_F(AssemblerTest, BeforeFirstShowEvenSpacesAreSpoken) {
  Send(kPhaseWhole, kSpace);
  EXPECT_EQ(TakeEvents(), Events{"speak:　"_sj});
  Send(kPhaseWhole, kSpace);
  EXPECT_EQ(TakeEvents(), Events{"done"});
}

TEST_F(AssemblerTest, FailedSpeakLeavesFlagClearAndBufferKept) {
  assembler_.ResetNothingToSpeak();
  fail_speak_ = true;
  Send(kPhaseFirst, kA);
  EXPECT_THROW(Send(kPhaseLast, kI), std::runtime_error);
  EXPECT_TRUE(TakeEvents().empty());
  EXPECT_FALSE(assembler_.NothingToSpeak());
  EXPECT_EQ(assembler_.Buffer(), "亜い"_sj);
  // The next end of an utterance speaks the old text with the new one, even if only a space.
  fail_speak_ = false;
  Send(kPhaseLast, kSpace);
  EXPECT_EQ(TakeEvents(), Events{"speak:亜い　"_sj});
}

TEST_F(AssemblerTest, ListChangesApplyFromTheNextCharacter) {
  assembler_.ResetNothingToSpeak();
  Send(kPhaseFirst, kA);
  readings_.Append("亜,あ"_sj);
  Send(kPhaseLast, kA);
  EXPECT_EQ(TakeEvents(), Events{"speak:亜あ"_sj});
}

TEST_F(AssemblerTest, LongUtteranceDoesNotPinMemory) {
  assembler_.ResetNothingToSpeak();
  Send(kPhaseFirst, kA);
  for (int i = 1; i < 1'000'000; ++i) Send(kPhaseMiddle, kI);
  Send(kPhaseLast, kA);
  auto events = TakeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].size(), 6 + 2'000'002u);
  EXPECT_GE(assembler_.Buffer().capacity(), 2'000'002u);
  Send(kPhaseFirst, kA);
  EXPECT_EQ(assembler_.Buffer(), "亜"_sj);
  EXPECT_LT(assembler_.Buffer().capacity(), 64u * 1024);
}

}  // namespace
}  // namespace koe
