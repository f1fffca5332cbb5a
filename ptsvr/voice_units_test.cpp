// The control's platform-free rules: SAPI unit mapping, texts, timing, persisted state, and the
// test build's fault knobs.
#include "voice_units.h"
#include "fault_knobs.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace ptsvr {
namespace {

TEST(VoiceUnits, SpeedMapsToSapiRateInStepsOfTheTenthRootOfThree) {
  struct Case {
    std::int32_t wpm;
    int rate;
  } cases[] = {
      {180, 0},   {540, 10},  {60, -10},  {1000, 10}, {10, -10}, {0, -10}, {-5, -10},
      {224, 2},   // 180 × 3^0.2 = 223.9
      {150, -2},  // 180 × 3^-0.166: -1.66 rounds to -2
      {199, 1},   // 180 × 3^0.0913
  };
  for (const auto& c : cases) EXPECT_EQ(SapiRateForSpeed(c.wpm), c.rate) << c.wpm;
}

TEST(VoiceUnits, PitchMapsToAbsMiddleInQuarterTones) {
  struct Case {
    std::int32_t hz;
    int pitch;
  } cases[] = {
      {80, 0}, {160, 10}, {40, -10}, {0, -10}, {-1, -10}, {1000, 10},
      {95, 6},   // 24 × log2(95/80) = 5.95
      {71, -4},  // -4.13
  };
  for (const auto& c : cases) EXPECT_EQ(SapiPitchForHz(c.hz), c.pitch) << c.hz;
}

TEST(VoiceUnits, VolumeMapsLinearlyToZeroToHundred) {
  struct Case {
    std::int32_t volume;
    int sapi;
  } cases[] = {{0, 0}, {65535, 100}, {26214, 40}, {32768, 50}, {-100, 0}, {100000, 100}, {327, 0}};
  for (const auto& c : cases) EXPECT_EQ(SapiVolumeFor(c.volume), c.sapi) << c.volume;
}

TEST(SapiText, TheVoiceGetsWellFormedMarkupWithoutTheRelaysZeroBytes) {
  struct Case {
    std::u16string_view text;
    int pitch;
    std::u16string_view sent;
  } cases[] = {
      {u"a<b>&\"'", -3, u"<pitch absmiddle=\"-3\"/>a&lt;b&gt;&amp;\"'"},
      {u"", 10, u"<pitch absmiddle=\"10\"/>"},
      // Single-byte characters reach the control with a zero high byte: "123", "abc".
      {{u"\0" u"1\0" u"2\0" u"3", 6}, 0, u"<pitch absmiddle=\"0\"/>123"},
      {{u"テスト\0" u"1\0" u"2\0" u"3\0 \0" u"a\0" u"b\0" u"c", 17}, 0,
       u"<pitch absmiddle=\"0\"/>テスト123 abc"},
      // Tab, CR and LF stay; every other C0 control would make the markup invalid.
      {u"a\tb\r\nc\x01\x08\x0B\x0C\x1B\x1F" u"d\x7F", 0,
       u"<pitch absmiddle=\"0\"/>a\tb\r\nc      d\x7F"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SapiXmlFor(c.text, c.pitch), c.sent) << ToUtf8(c.text);
  }
  EXPECT_EQ(SpokenLength({u"\0" u"1\0" u"2あ", 5}), 3u);
}

TEST(SapiDeadline, GenerousForTheLengthAtTheRateTheVoiceReallySpeaks) {
  struct Case {
    std::size_t characters;
    std::int32_t wpm;
    std::uint32_t floor_ms, deadline_ms;
  } cases[] = {
      {0, 180, 10000, 10000},
      {6, 180, 10000, 14000},     // six characters take 1 s at 180 wpm; four times that
      {6, 10, 10000, 22000},      // slower speeds still speak at rate -10 (60 wpm)
      {6, 100000, 10000, 11333},  // faster speeds still speak at rate 10 (540 wpm)
      {600, 180, 50, 400050},
      {100000000, 180, 10000, 3600000},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SapiDeadlineMs(c.characters, c.wpm, c.floor_ms), c.deadline_ms)
        << c.characters << " at " << c.wpm;
}

TEST(VoiceChoice, LanguageAttributeListsJapanese) {
  for (const char16_t* yes : {u"411", u"411;409", u"409;411", u"409; 411 ", u"0411", u"0x411"})
    EXPECT_TRUE(SpeaksJapanese(yes)) << ToUtf8(yes);
  for (const char16_t* no : {u"", u"409", u"4110", u"41", u"804;409", u"x411", u";;", u"411x"})
    EXPECT_FALSE(SpeaksJapanese(no)) << ToUtf8(no);
}

TEST(VoiceChoice, ChosenThenDefaultThenTheOtherJapaneseVoices) {
  const std::u16string en = u"T\\en", haruka = u"T\\haruka", ayumi = u"T\\ayumi",
                       ichiro = u"OneCore\\ichiro";
  struct Case {
    const char* what;
    std::vector<VoiceEntry> voices;
    std::u16string chosen;
    std::vector<std::size_t> order;
  } cases[] = {
      {"Japanese default is kept though another comes first",
       {{en, u"409"}, {haruka, u"411"}, {ayumi, u"411;409", true}}, u"", {2, 1}},
      {"English default: the Japanese voices in list order",
       {{en, u"409", true}, {haruka, u"411"}, {ichiro, u"411"}}, u"", {1, 2}},
      {"no Japanese voice", {{en, u"409", true}, {u"T\\zh", u"804"}}, u"", {}},
      {"the dialog's choice first, in any case",
       {{haruka, u"411", true}, {ayumi, u"411"}, {ichiro, u"411"}}, u"onecore\\ICHIRO", {2, 0, 1}},
      {"a chosen voice that is gone", {{haruka, u"411"}, {ayumi, u"411", true}}, u"T\\old", {1, 0}},
      {"a chosen voice that is not Japanese", {{en, u"409"}, {haruka, u"411"}}, en, {1}},
      {"no voices", {}, u"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(JapaneseVoiceOrder(c.voices, c.chosen), c.order) << c.what;
}

TEST(Transcript, EscapesBackslashNulAndLineBreaks) {
  EXPECT_EQ(EscapeForTranscript(std::u16string_view(u"a\\b\0c\r\nこ", 8)), u"a\\\\b\\0c\\r\\nこ");
  EXPECT_EQ(ToUtf8(u"発声"), "\xE7\x99\xBA\xE5\xA3\xB0");
  EXPECT_EQ(ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(SimulatedTiming, FollowsLengthAndSpeedAndFactor) {
  EXPECT_EQ(SimulatedDurationMs(0, 180, 1), 100u);
  EXPECT_EQ(SimulatedDurationMs(6, 180, 1), 1100u);  // six characters a second at 180 wpm
  EXPECT_EQ(SimulatedDurationMs(6, 360, 1), 600u);
  EXPECT_EQ(SimulatedDurationMs(6, 180, 10), 110u);
  EXPECT_EQ(SimulatedDurationMs(6, 180, 0), 0u);
  EXPECT_EQ(SimulatedDurationMs(6, 0, 1), 180100u);  // speed 0 counts as 1 wpm
  EXPECT_EQ(SimulatedDurationMs(100000, 1, 1), 600000u);
}

TEST(PersistedState, DefaultsEncodeToTheShippedControlData) {
  std::ifstream file(PTSVR_CONTROL_DATA, std::ios::binary);
  const std::vector<std::uint8_t> shipped{std::istreambuf_iterator<char>(file), {}};
  const auto bytes = EncodeState(ControlState{});
  ASSERT_EQ(shipped.size(), kStateSize);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), shipped.begin()));
}

TEST(PersistedState, EveryFieldSurvivesARoundTrip) {
  ControlState s;
  s.gender = -2;
  s.age = 32767;
  s.mode_guid = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  s.speed = -1;
  s.pitch = 0x7FFFFFFF;
  s.volume = 65535;
  s.use_button = true;
  s.use_web_speak = true;
  const auto bytes = EncodeState(s);
  EXPECT_EQ(DecodeState(bytes.data(), bytes.size()), s);
  EXPECT_EQ(bytes[38], 1);
  EXPECT_EQ(bytes[26], 0xFF);
}

TEST(PersistedState, RejectsWrongSignatureVersionOrLength) {
  const auto good = EncodeState(ControlState{});
  struct Case {
    std::size_t index;
    std::uint8_t value;
  } corruptions[] = {{0, 'p'}, {3, 0}, {4, 2}, {5, 1}};
  for (const auto& c : corruptions) {
    auto bytes = good;
    bytes[c.index] = c.value;
    EXPECT_FALSE(DecodeState(bytes.data(), bytes.size())) << c.index;
  }
  EXPECT_FALSE(DecodeState(good.data(), kStateSize - 1));
  auto reserved = good;
  reserved[68] = 0xAA;  // reserved bytes are not checked
  EXPECT_TRUE(DecodeState(reserved.data(), reserved.size()));
}

TEST(Guids, FormatAndParseInWindowsLayout) {
  const std::array<std::uint8_t, 16> clsid = {0x0C, 0x3B, 0xCF, 0x44, 0x1F, 0x9F, 0xD2, 0x11,
                                              0xB9, 0xD7, 0x08, 0x00, 0x5A, 0x4B, 0x5E, 0x6E};
  EXPECT_EQ(FormatGuid(clsid), u"{44CF3B0C-9F1F-11D2-B9D7-08005A4B5E6E}");
  EXPECT_EQ(ParseGuid(u"{44cf3b0c-9f1f-11d2-b9d7-08005a4b5e6e}"), clsid);
  EXPECT_EQ(ParseGuid(u""), (std::array<std::uint8_t, 16>{}));
  for (const char16_t* bad : {u"44CF3B0C-9F1F-11D2-B9D7-08005A4B5E6E", u"{44CF3B0C-9F1F-11D2-B9D7-08005A4B5E6G}",
                              u"{44CF3B0C+9F1F-11D2-B9D7-08005A4B5E6E}", u"{}"})
    EXPECT_FALSE(ParseGuid(bad));
}

TEST(Knobs, DispidListsAndDialogAnswers) {
  EXPECT_EQ(ParseDispidList("16,5,-552"), (std::vector<long>{16, 5, -552}));
  EXPECT_EQ(ParseDispidList(" 16 , x,4"), (std::vector<long>{16, 4}));
  EXPECT_TRUE(ParseDispidList("").empty());

  const auto ok = ParseDialogAnswer("ok:200,90,30000");
  ASSERT_TRUE(ok);
  EXPECT_TRUE(ok->ok);
  EXPECT_EQ(ok->speed, 200);
  EXPECT_EQ(ok->pitch, 90);
  EXPECT_EQ(ok->volume, 30000);
  const auto cancel = ParseDialogAnswer("cancel");
  ASSERT_TRUE(cancel);
  EXPECT_FALSE(cancel->ok);
  for (const char* bad : {"ok:1,2", "ok:1,2,3,4", "ok:a,2,3", "OK", ""})
    EXPECT_FALSE(ParseDialogAnswer(bad)) << bad;
}

}  // namespace
}  // namespace ptsvr
