// What the client and the speech control see of the relay: one speak per utterance with the
// exact text, WM_KOE_DONE to each client class once per end of speech or at once when there
// was nothing to speak.
#include <gtest/gtest.h>

#include "harness.h"

namespace e2e {
namespace {

// Readings used by the relay cases; each line exercises one rule of the lookup.
const char kRelayIni[] =
    "[読み方]\r\n"
    "1=あ,ア\r\n"       // two fields: key and reading
    "2=い\r\n"          // one field: read as the full-width space
    "3=う,\r\n"         // empty reading: speakable, adds nothing
    "4=え , お\r\n"     // blanks around the comma still give two fields
    "5=か,き く\r\n"    // three fields: never used
    "6=あ,X\r\n"        // same key again: never reached
    "7=AB,エー\r\n"     // two single-byte characters as a key
    "[声の設定]\r\n"
    "速度=200\r\n"
    "ピッチ=-7\r\n"
    "音量=$FFFF\r\n";

struct Msg {
  WPARAM phase;
  std::string ch;  // one Shift-JIS character, or empty for a raw code
  std::uint32_t raw = 0;
};

struct Step {
  const char* what;
  std::vector<Msg> messages;
  std::vector<std::string> speaks;  // Shift-JIS texts the control must receive, in order
  int immediate_done;               // WM_KOE_DONE sets posted without speech
};

class Relay : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    WriteIni(kRelayIni);
    koemado_ = StartWith({});
  }
  Client client_;
  std::unique_ptr<Koemado> koemado_;
};

TEST_F(Relay, StoredVoiceValuesReachTheControlWhenShown) {
  ASSERT_TRUE(koemado_);
  EXPECT_EQ(transcript_.Matching("put "),
            (std::vector<std::string>{"put Speed=200", "put Pitch=-7", "put Volume=65535"}));
}

TEST_F(Relay, UtterancesInOrder) {
  ASSERT_TRUE(koemado_);
  std::vector<Step> steps = {
      {"phase 0, entry with a reading", {{0, "あ"}}, {"ア"}, 0},
      {"phase 0, the full-width space", {{0, "　"}}, {}, 1},
      {"only silenced characters", {{1, "い"}, {2, "　"}, {3, "い"}}, {}, 1},
      {"one other character sends spaces too", {{1, "い"}, {2, "か"}, {3, "　"}}, {"　か　"}, 0},
      {"empty reading speaks an empty text", {{0, "う"}}, {""}, 0},
      {"zero high byte stays", {{0, "", 0x41}}, {std::string("\0A", 2)}, 0},
      {"phase 3 after a finished utterance adds to it", {{3, "え"}}, {std::string("\0Aお", 4)}, 0},
      {"phase 3 with a space after a finished one", {{3, "　"}}, {}, 1},
      {"phase 5 only adds", {{5, "あ"}}, {}, 0},
      {"phase 5 text is spoken at the next end", {{3, "　"}}, {std::string("\0Aお　ア　", 10)}, 0},
      {"abandoned utterance makes spaces speakable",
       {{1, "あ"}, {1, "　"}, {3, "　"}}, {"　　"}, 0},
      {"two single-byte characters as a key", {{0, "", 0x4142}}, {"エー"}, 0},
      {"bits above 16 are ignored", {{0, "", 0x12340000u | Code("あ")}}, {"ア"}, 0},
  };
  if constexpr (sizeof(WPARAM) > 4) {
    // Only a 64-bit build's wParam has bits above 31: such a phase is another phase (only adds),
    // never 0 or 3 with the high bits cut off.
    steps.push_back({"wParam above 32 bits only adds", {{(WPARAM{1} << 32) | 0, "あ"}}, {}, 0});
    steps.push_back({"and is spoken at the next end", {{3, "　"}}, {"アア　"}, 0});
  }
  // A last utterance: whatever any step still had to come arrives before its end. The counts
  // are kept from the start, so that anything arriving late shows at the next step.
  steps.push_back({"an utterance after all of them", {{0, "か"}}, {"か"}, 0});
  std::size_t speaks_expected = transcript_.Speaks().size();
  int done_expected = client_.DoneAll();
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    const std::size_t speaks_before = speaks_expected;
    for (const Msg& m : s.messages) {
      const std::uint32_t code = m.ch.empty() ? m.raw : Code(m.ch);
      EXPECT_EQ(SendMessageA(koemado_->Main(), 0x414, m.phase, static_cast<LPARAM>(code)), 0);
    }
    speaks_expected += s.speaks.size();
    done_expected += static_cast<int>(s.speaks.size()) + s.immediate_done;
    EXPECT_TRUE(WaitUntil([&] {
      return transcript_.Speaks().size() >= speaks_expected && client_.DoneAll() >= done_expected;
    }));
    auto speaks = transcript_.Speaks();
    std::vector<std::string> got(speaks.begin() + static_cast<long>(std::min(speaks_before, speaks.size())),
                                 speaks.end());
    std::vector<std::string> want;
    for (const auto& t : s.speaks) want.push_back(Utf8(t));
    EXPECT_EQ(got, want);
    EXPECT_EQ(client_.DoneAll(), done_expected);
    EXPECT_TRUE(client_.AllDoneEqual());
  }
}

}  // namespace
}  // namespace e2e
