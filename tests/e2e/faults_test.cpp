// Koemado keeps working and loses nothing: damaged settings files, a control that fails or
// misbehaves, clients that vanish, a second copy of the program.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

#include "harness.h"

namespace e2e {
namespace {

class Faults : public ProgramTest {
 protected:
  void TearDown() override {
    RemoveDirectoryA(IniPath().c_str());
    ProgramTest::TearDown();
  }
};

std::string ReadCorpus(const char* file) {
  std::ifstream in(PathFromEnv("KOE_TEST_CORPUS") + "\\" + file, std::ios::binary);
  std::stringstream raw;
  raw << in.rdbuf();
  return raw.str();
}

struct CorpusCase {
  const char* file;
  std::optional<int> speed, pitch, volume;  // nothing: whatever the profile functions make of it
  const char* probe;                        // a character the client sends
  std::optional<std::string> spoken;        // what the control must then receive
};

std::string Put(const char* name, int v) { return std::string("put ") + name + "=" + std::to_string(v); }

TEST_F(Faults, StartsOnEveryDamagedSettingsFileAndAppliesWhatItCanRead) {
  const std::string dir = PathFromEnv("KOE_TEST_CORPUS");
  const std::vector<CorpusCase> cases = {
      {"missing_sections.ini", 180, 80, 26214, "－", std::string("－")},  // no default entries
      {"many_keys.ini", 201, 80, 26214, "あ", std::string("いち")},
      {"many_keys.ini", 201, 80, 26214, "か", std::string("か")},  // key 600 is never read
      {"long_values.ini", 180, 80, 26214, "あ", std::string(2044, 'x')},
      {"lf_only.ini", 203, -3, 26214, "あ", std::string("エルエフ")},
      {"huge_ints.ini", 180, -1, INT32_MIN, "あ", std::string("あ")},
      {"odd_ints.ini", 12, 31, 26214, "あ", std::string("あ")},
      {"nul_bytes.ini", {}, {}, {}, "あ", {}},
      {"binary_junk.ini", {}, {}, {}, "あ", {}},
      {"utf8_bom.ini", {}, {}, {}, "あ", {}},
      {"duplicates.ini", {}, {}, {}, "あ", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string raw = ReadCorpus(c.file);
    ASSERT_FALSE(raw.empty()) << dir;
    WriteIni(raw);
    Transcript t;
    Client client;
    auto k = Koemado::Start({"KOE_PTSVR_TRANSCRIPT=" + t.Path(), "KOE_PTSVR_SIM_SPEED=0"});
    ASSERT_TRUE(k && k->Main());
    ASSERT_TRUE(t.WaitForLines("put Volume=", 1));
    const auto puts = t.Matching("put ");
    ASSERT_EQ(puts.size(), 3u);
    if (c.speed) {
      EXPECT_EQ(puts[0], Put("Speed", *c.speed));
    }
    if (c.pitch) {
      EXPECT_EQ(puts[1], Put("Pitch", *c.pitch));
    }
    if (c.volume) {
      EXPECT_EQ(puts[2], Put("Volume", *c.volume));
    }
    k->Char(0, Code(c.probe));
    EXPECT_TRUE(WaitUntil([&] { return client.DoneAll() == 1; }));
    if (c.spoken) {
      EXPECT_EQ(t.Speaks(), std::vector<std::string>{Utf8(*c.spoken)});
    }
    std::cout << "[ corpus ] " << c.file << ": " << puts[0] << ", " << puts[1] << ", " << puts[2]
              << "; " << Utf8(c.probe) << " -> " << (t.Speaks().empty() ? "(silent)" : t.Speaks()[0].substr(0, 40))
              << "\n";
    EXPECT_EQ(k->Close(), 0);
  }
}

// The editor shows such lists and OK writes the 500 rows back in their written form; keys the
// program never reads stay as they were.
TEST_F(Faults, EditorWritesDamagedListsBackAsShown) {
  struct Case {
    const char* file;
    std::vector<std::pair<const char*, std::string>> keys;  // key -> value after OK
  };
  const std::vector<Case> cases = {
      {"many_keys.ini",
       {{"1", "あ,いち"}, {"2", "字,よみ2"}, {"500", "字,よみ500"}, {"501", "字,よみ501"},
        {"600", "か,ろっぴゃく"}, {"10000", "字,よみ10000"}}},
      {"long_values.ini", {{"1", "あ," + std::string(2044, 'x')}, {"2", ","}, {"500", ","}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    WriteIni(ReadCorpus(c.file));
    auto k = StartWith({});
    ASSERT_TRUE(k);
    k->Command("読み方の設定");
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (dialog = k->FindWindowOf("TdlgYomikata", "読み方の設定")); }));
    HWND ok = FindChild(dialog, "OK");
    ASSERT_TRUE(ok);
    PostMessageA(ok, BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(dialog); }));
    for (const auto& [key, value] : c.keys) EXPECT_EQ(IniValue("読み方", key), value) << key;
    EXPECT_EQ(k->Close(), 0);
  }
}

TEST_F(Faults, SettingsFileThatIsADirectoryFailsTheSaveAndTheProgramRunsOn) {
  ASSERT_TRUE(CreateDirectoryA(IniPath().c_str(), nullptr));
  Client client;
  auto k = StartWith({"KOE_PTSVR_DIALOG=ok:210,20,2000"});
  ASSERT_TRUE(k);
  EXPECT_EQ(transcript_.Matching("put Speed="), std::vector<std::string>{"put Speed=180"});
  k->Command("声の設定");
  auto box = k->WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->caption, koe::kApplicationTitle);
  EXPECT_EQ(box->text, IniPath() + " に書き込めません.") << "the full path of the settings file";
  k->DismissMessageBox(*box);
  k->Say("まだ");
  EXPECT_TRUE(WaitUntil([&] { return client.DoneAll() == 1; }));
  EXPECT_EQ(transcript_.Speaks(), std::vector<std::string>{Utf8("まだ")});

  // Once the file can be written, the next save writes what was kept in memory.
  ASSERT_TRUE(RemoveDirectoryA(IniPath().c_str()));
  k->Command("声の設定");
  EXPECT_TRUE(WaitUntil([] { return IniValue("声の設定", "音量") == "2000"; })) << "the last key: the save is over";
  EXPECT_EQ(IniValue("声の設定", "速度"), "210");
  EXPECT_EQ(IniValue("読み方", "1"), "－,　");
  EXPECT_EQ(k->Close(), 0);
}

TEST_F(Faults, SettingsFileHeldOpenByAnotherProgramFailsTheSave) {
  WriteIni("[声の設定]\r\n速度=150\r\n");
  const auto before = ReadIni();
  auto k = StartWith({"KOE_PTSVR_DIALOG=ok:211,21,2001"});
  ASSERT_TRUE(k);
  HANDLE lock = CreateFileA(IniPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  k->Command("声の設定");
  auto box = k->WaitForMessageBox();
  CloseHandle(lock);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, IniPath() + " に書き込めません.") << "the full path of the settings file";
  k->DismissMessageBox(*box);
  EXPECT_EQ(ReadIni(), before);
  EXPECT_EQ(k->Close(), 0);
  EXPECT_EQ(ReadIni(), before) << "nothing is written at exit";
}

TEST_F(Faults, ControlFailingEverySpeakForAWhileThenRecovering) {
  Client client;
  auto k = StartWith({"KOE_PTSVR_FAIL_DISPIDS=16", "KOE_PTSVR_FAIL_COUNT=3",
                      "KOE_PTSVR_FAIL_TEXT=busy"});
  ASSERT_TRUE(k);
  const std::vector<std::string> texts = {"いち", "に", "さん", "よん", "ご"};
  for (std::size_t i = 0; i < texts.size(); ++i) {
    SCOPED_TRACE(i);
    k->Say(texts[i], /*post=*/true);
    if (i < 3) {
      auto box = k->WaitForMessageBox();
      ASSERT_TRUE(box);
      EXPECT_EQ(box->text, "busy.");
      k->DismissMessageBox(*box);
    } else {
      EXPECT_TRUE(WaitUntil([&] { return client.DoneAll() >= static_cast<int>(i) - 2; }));
    }
  }
  // An end for a failed call would have come before the end of an utterance that follows.
  k->Say("おわり", /*post=*/true);
  EXPECT_TRUE(WaitUntil([&] { return client.DoneAll() >= 3; }));
  EXPECT_EQ(transcript_.Speaks(), (std::vector<std::string>{Utf8("よん"), Utf8("ご"), Utf8("おわり")}));
  EXPECT_EQ(client.DoneAll(), 3);
  EXPECT_TRUE(client.AllDoneEqual());
}

TEST_F(Faults, EveryEndOfSpeechEventIsPassedOnEvenWithoutASpeak) {
  Client client;
  auto k = StartWith({"KOE_PTSVR_EXTRA_STOPS=2"});
  ASSERT_TRUE(k);
  // Every end event, also those of one utterance, is posted before the next utterance's.
  k->Say("ひとつ");
  k->Say("ふたつ");
  EXPECT_TRUE(WaitUntil([&] { return client.DoneAll() >= 6; }));
  EXPECT_EQ(client.DoneAll(), 6);
  EXPECT_TRUE(client.AllDoneEqual());
  EXPECT_EQ(transcript_.Speaks().size(), 2u);
}

TEST_F(Faults, ControlFailingAtCreationEndsWithExitCode1) {
  auto k = StartWith({"KOE_PTSVR_CREATE_HRESULT=80004005"}, false);
  ASSERT_TRUE(k);
  auto box = k->WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->caption, "アプリケーション エラー");
  EXPECT_EQ(box->text.rfind("EOleSysError", 0), 0u) << box->text;
  k->DismissMessageBox(*box);
  EXPECT_EQ(k->WaitExit(), 1);
  EXPECT_FALSE(ReadIni().has_value());
}

TEST_F(Faults, ClientVanishingMidUtteranceLeavesNothingBehind) {
  auto k = StartWith({});
  ASSERT_TRUE(k);
  {
    Client gone;
    k->Char(1, Code("き"));
    k->Char(2, Code("え"));
  }  // the client's windows are gone before the utterance ends
  Client next;
  k->Say("つぎ");
  EXPECT_TRUE(WaitUntil([&] { return next.DoneAll() == 1; }));
  EXPECT_EQ(transcript_.Speaks(), std::vector<std::string>{Utf8("つぎ")});
  EXPECT_EQ(k->Close(), 0);
}

TEST_F(Faults, SecondCopyStartsAndBothRun) {
  Transcript second;
  auto a = StartWith({});
  ASSERT_TRUE(a);
  auto b = Koemado::Start({"KOE_PTSVR_TRANSCRIPT=" + second.Path(), "KOE_PTSVR_SIM_SPEED=0"});
  ASSERT_TRUE(b && b->Main());
  EXPECT_NE(a->Main(), b->Main());
  char cls[64] = {}, caption[64] = {};
  GetClassNameA(b->Main(), cls, sizeof cls);
  GetWindowTextA(b->Main(), caption, sizeof caption);
  EXPECT_STREQ(cls, koe::kMainWindowClass);
  EXPECT_STREQ(caption, "無題 - Koemado");
  a->Say("いち");
  b->Say("に");
  EXPECT_TRUE(transcript_.WaitForLines("event OnStopSpeak", 1));
  EXPECT_TRUE(second.WaitForLines("event OnStopSpeak", 1));
  EXPECT_EQ(transcript_.Speaks(), std::vector<std::string>{Utf8("いち")});
  EXPECT_EQ(second.Speaks(), std::vector<std::string>{Utf8("に")});
  EXPECT_EQ(b->Close(), 0);
  EXPECT_EQ(a->Close(), 0);
}

}  // namespace
}  // namespace e2e
