// Load: many characters by SendMessage and by PostMessage with the control's simulated engine at
// its fastest. Every utterance reaches the control once with its exact text, every end of
// speech gives one WM_KOE_DONE per client class, and Koemado's memory stays flat.
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <iostream>

#include "harness.h"
#include "koesend_lib.h"

namespace e2e {
namespace {

// Private bytes (commit charge) of another process.
SIZE_T PrivateBytes(DWORD pid) {
  HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  PROCESS_MEMORY_COUNTERS_EX mem{};
  mem.cb = sizeof mem;
  GetProcessMemoryInfo(p, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&mem), sizeof mem);
  CloseHandle(p);
  // Wine leaves PrivateUsage at 0 for other processes; PagefileUsage is the same commit charge.
  return mem.PrivateUsage ? mem.PrivateUsage : mem.PagefileUsage;
}

// 10,000 utterances of 10 characters each, none of them silenced by the default entries.
std::vector<std::string> Utterances() {
  const std::string pool = "あいうえおかきくけこさしすせそたちつてとなにぬねの漢字読上音声窓";
  std::vector<std::string> chars;
  for (std::size_t i = 0; i < pool.size(); i += 2) chars.push_back(pool.substr(i, 2));
  std::vector<std::string> out;
  unsigned seed = 12345;
  for (int u = 0; u < 10000; ++u) {
    std::string text;
    for (int c = 0; c < 10; ++c) {
      seed = seed * 1103515245u + 12345u;
      text += chars[(seed >> 16) % chars.size()];
    }
    out.push_back(text);
  }
  return out;
}

class Load : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterControl(); }
  void SetUp() override { DeleteIni(); }
  Transcript transcript_;
  Client client_;
};

void ExpectEverythingSpokenOnce(const Transcript& t, const std::vector<std::string>& texts) {
  const auto speaks = t.Speaks();
  ASSERT_EQ(speaks.size(), texts.size());
  int wrong = 0;
  for (std::size_t i = 0; i < texts.size(); ++i)
    if (speaks[i] != Utf8(texts[i]) && ++wrong <= 3) ADD_FAILURE() << "utterance " << i;
  EXPECT_EQ(wrong, 0);
}

TEST_F(Load, HundredThousandCharactersSentStayExactAndMemoryFlat) {
  auto k = Koemado::Start({"KOE_PTSVR_TRANSCRIPT=" + transcript_.Path(), "KOE_PTSVR_SIM_SPEED=0"});
  ASSERT_TRUE(k && k->Main());
  const auto texts = Utterances();
  SIZE_T after_first_thousand = 0;
  const DWORD start = GetTickCount();
  for (std::size_t u = 0; u < texts.size(); ++u) {
    k->Say(texts[u]);
    if (u + 1 == 1000) {
      ASSERT_TRUE(WaitUntil([&] { return client_.DoneAll() == 1000; }, 60000));
      after_first_thousand = PrivateBytes(k->Pid());
    }
    if (u % 500 == 0) Pump(0);
  }
  ASSERT_TRUE(WaitUntil([&] { return client_.DoneAll() == 10000; }, 180000)) << client_.DoneAll();
  const DWORD ms = GetTickCount() - start;
  Pump(300);
  const SIZE_T at_end = PrivateBytes(k->Pid());
  std::cout << "[ load ] SendMessage: 100000 characters in " << ms << " ms; private bytes after 1000 "
            << "utterances " << after_first_thousand << ", after 10000 " << at_end << "\n";
  EXPECT_TRUE(client_.AllDoneEqual());
  EXPECT_EQ(client_.DoneAll(), 10000);
  ExpectEverythingSpokenOnce(transcript_, texts);
  EXPECT_FALSE(k->WaitForMessageBox(0));
  EXPECT_LT(at_end, after_first_thousand + 512 * 1024);
  EXPECT_EQ(k->Close(), 0);
}

TEST_F(Load, HundredThousandCharactersPostedStayExact) {
  auto k = Koemado::Start({"KOE_PTSVR_TRANSCRIPT=" + transcript_.Path(), "KOE_PTSVR_SIM_SPEED=0"});
  ASSERT_TRUE(k && k->Main());
  const auto texts = Utterances();
  const DWORD start = GetTickCount();
  for (const auto& t : texts) k->Say(t, /*post=*/true);
  ASSERT_TRUE(WaitUntil([&] { return client_.DoneAll() == 10000; }, 180000)) << client_.DoneAll();
  const DWORD ms = GetTickCount() - start;
  Pump(300);
  std::cout << "[ load ] PostMessage: 100000 characters in " << ms << " ms; private bytes "
            << PrivateBytes(k->Pid()) << "\n";
  EXPECT_TRUE(client_.AllDoneEqual());
  EXPECT_EQ(client_.DoneAll(), 10000);
  ExpectEverythingSpokenOnce(transcript_, texts);
  EXPECT_FALSE(k->WaitForMessageBox(0));
  EXPECT_EQ(k->Close(), 0);
}

TEST_F(Load, UtteranceThatNeverEndsIsHeldAndReleasedAtTheNextStart) {
  auto k = Koemado::Start({"KOE_PTSVR_TRANSCRIPT=" + transcript_.Path(), "KOE_PTSVR_SIM_SPEED=0"});
  ASSERT_TRUE(k && k->Main());
  k->Say("まえ");
  ASSERT_TRUE(WaitUntil([&] { return client_.DoneAll() == 1; }));
  const SIZE_T before = PrivateBytes(k->Pid());
  // 400,002 characters: a buffer of 800 KB in a store of 1 MB, which a released buffer gives back.
  const std::uint32_t a = Code("あ");
  k->Char(1, a, true);
  for (int i = 0; i < 400000; ++i) {
    k->Char(2, a, true);
    if (i % 20000 == 0) Pump(0);
  }
  k->Char(0, Code("ん"), true);  // a new utterance empties the buffer
  ASSERT_TRUE(WaitUntil([&] { return client_.DoneAll() == 2; }, 300000));
  Pump(300);
  const SIZE_T after = PrivateBytes(k->Pid());
  std::cout << "[ load ] 400002-character utterance: private bytes before " << before << ", after "
            << after << "\n";
  EXPECT_EQ(transcript_.Speaks(), (std::vector<std::string>{Utf8("まえ"), Utf8("ん")}));
  EXPECT_LT(after, before + 512 * 1024) << "the long utterance's buffer was released";
  EXPECT_FALSE(k->WaitForMessageBox(0));
  EXPECT_EQ(k->Close(), 0);
}

}  // namespace
}  // namespace e2e
