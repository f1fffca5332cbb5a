// Load: many characters by SendMessage and by PostMessage with the control's simulated engine at
// its fastest. Every utterance reaches the control once with its exact text, every end of
// speech gives one WM_KOE_DONE per client class, and Koemado's memory stays flat.
#include <windows.h>

#include <gtest/gtest.h>

#include <iostream>

#include "harness.h"
#include "koesend_lib.h"

namespace e2e {
namespace {

// The program's anonymous resident memory in KiB, as Linux counts it for its Wine process: what
// the heap really holds (Wine's commit charge for another process does not follow it).
class Memory {
 public:
  Memory() : pid_(koe_test::UnixPid(koe_test::PathFromEnv("KOE_TEST_EXE"))) {
    EXPECT_NE(pid_, 0u) << "the program's Linux process";
  }
  long long Kib() const { return koe_test::ReadLinuxStats(pid_).rss_anon_kb; }

 private:
  unsigned long pid_;
};

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

class Load : public ProgramTest {
 protected:
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

// Says the utterances (sent, or posted in batches of 9,000 characters, below the 10,000 messages a
// queue holds on Windows), then one more whose end proves that every earlier end has come: each
// reached the control once with its exact text and gave one WM_KOE_DONE per client class. With
// `memory`, Koemado's memory after the first batch and after the last must not have grown as a
// leak of 100 bytes an utterance would grow it (ten times what the heap moves by on its own).
void SayAllAndCheck(Koemado& k, const Client& client, const Transcript& transcript,
                    std::vector<std::string> texts, bool post, const Memory* memory) {
  constexpr int kBatch = 900;
  const int total = static_cast<int>(texts.size());
  long long after_first_batch = 0;
  const DWORD start = GetTickCount();
  for (int u = 0; u < total; ++u) {
    k.Say(texts[static_cast<std::size_t>(u)], post);
    if ((u + 1) % kBatch == 0) {  // the program catches up
      ASSERT_TRUE(WaitUntil([&] { return client.DoneAll() == u + 1; }, 60000)) << client.DoneAll();
      if (u + 1 == kBatch && memory) after_first_batch = memory->Kib();
    }
  }
  ASSERT_TRUE(WaitUntil([&] { return client.DoneAll() == total; }, 120000)) << client.DoneAll();
  const DWORD ms = GetTickCount() - start;
  const long long at_end = memory ? memory->Kib() : 0;
  texts.push_back("おわり");
  k.Say(texts.back(), post);
  ASSERT_TRUE(WaitUntil([&] { return client.DoneAll() > total; }, 10000));
  std::cout << "[ load ] " << (post ? "PostMessage: " : "SendMessage: ") << total * 10
            << " characters in " << ms << " ms";
  if (memory) {
    std::cout << "; memory after " << kBatch << " utterances " << after_first_batch << " KiB, at the end "
              << at_end << " KiB";
    EXPECT_LT(at_end, after_first_batch + (total - kBatch) * 100 / 1024) << "memory grows with the utterances";
  }
  std::cout << "\n";
  EXPECT_TRUE(client.AllDoneEqual());
  EXPECT_EQ(client.DoneAll(), total + 1);
  ExpectEverythingSpokenOnce(transcript, texts);
  EXPECT_FALSE(k.WaitForMessageBox(0));
}

TEST_F(Load, CharactersSentOneAtATimeStayExact) {
  auto k = StartWith({});
  ASSERT_TRUE(k && k->Main());
  auto texts = Utterances();
  texts.resize(2000);  // each sent character waits for the program: 20,000 of them say enough
  SayAllAndCheck(*k, client_, transcript_, texts, /*post=*/false, nullptr);
  EXPECT_EQ(k->Close(), 0);
}

TEST_F(Load, HundredThousandCharactersPostedStayExactAndMemoryFlat) {
  auto k = StartWith({});
  ASSERT_TRUE(k && k->Main());
  const Memory memory;
  SayAllAndCheck(*k, client_, transcript_, Utterances(), /*post=*/true, &memory);
  EXPECT_EQ(k->Close(), 0);
}

TEST_F(Load, UtteranceThatNeverEndsIsHeldAndReleasedAtTheNextStart) {
  // "あ" reads as 2000 bytes: 16,000 characters make a buffer of 32 MB, which the program holds
  // while the utterance goes on and gives back when the next one starts. Margins of a quarter
  // of it are hundreds of times what the heap moves by on its own.
  const std::string reading(2000, 'a');
  WriteIni("[読み方]\r\n1=あ," + reading + "\r\n");
  ASSERT_EQ(IniValue("読み方", "1"), "あ," + reading);
  auto k = StartWith({});
  ASSERT_TRUE(k && k->Main());
  k->Say("まえ");
  ASSERT_TRUE(WaitUntil([&] { return client_.DoneAll() == 1; }));
  const Memory memory;
  const long long before = memory.Kib();
  constexpr int kCharacters = 16000;
  constexpr long long kBufferKib = kCharacters * 2000LL / 1024;
  const std::uint32_t a = Code("あ");
  k->Char(1, a);
  for (int i = 1; i < kCharacters; ++i) k->Char(2, a);
  long long during = 0;
  EXPECT_TRUE(WaitUntil([&] { return (during = memory.Kib()) >= before + kBufferKib * 3 / 4; }, 10000))
      << "the buffer shows: " << before << " -> " << during << " KiB";
  k->Char(0, Code("ん"));  // a new utterance empties the buffer
  ASSERT_TRUE(WaitUntil([&] { return client_.DoneAll() == 2; }, 120000));
  long long after = 0;
  EXPECT_TRUE(WaitUntil([&] { return (after = memory.Kib()) <= before + kBufferKib / 4; }, 10000))
      << "the long utterance's buffer was released: before " << before << " KiB, during " << during
      << " KiB, after " << after << " KiB";
  std::cout << "[ load ] " << kCharacters << " characters of 2000 bytes: memory before " << before
            << " KiB, during " << during << " KiB, after " << after << " KiB\n";
  EXPECT_EQ(transcript_.Speaks(), (std::vector<std::string>{Utf8("まえ"), Utf8("ん")}));
  EXPECT_FALSE(k->WaitForMessageBox(0));
  EXPECT_EQ(k->Close(), 0);
}

}  // namespace
}  // namespace e2e
