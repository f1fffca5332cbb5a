// Looking a client character up in the readings list.
#include "readings.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <random>
#include <string>

#include "sjis.h"
#include "sjis_text.h"

namespace koe {
namespace {

ReadingsList ListOf(const std::vector<std::string>& entries) {
  ReadingsList list;
  for (const std::string& e : entries) list.Append(e);
  return list;
}

std::optional<std::string> Found(const ReadingsList& list, std::string_view text) {
  auto r = list.Lookup(text);
  return r ? std::optional<std::string>(std::string(*r)) : std::nullopt;
}

TEST(ReadingsList, DefaultsAreTheTwoSilencedCharacters) {
  ReadingsList list;
  list.Append("first");
  list.AppendDefaults();
  ASSERT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.At(1), "\x81\x7C,\x81\x40");
  EXPECT_EQ(list.At(2), "\x81\x64,\x81\x40");
  EXPECT_EQ(Found(list, "－"_sj), kFullWidthSpace);
  EXPECT_EQ(Found(list, "‥"_sj), kFullWidthSpace);
  EXPECT_EQ(Found(list, "　"_sj), std::nullopt);
}

struct LookupCase {
  const char* what;
  std::vector<std::string> entries;
  std::string character;
  std::optional<std::string> reading;
};

class LookupTest : public testing::TestWithParam<LookupCase> {};

TEST_P(LookupTest, FindsTheFirstMatchingEntry) {
  const LookupCase& c = GetParam();
  ReadingsList list = ListOf(c.entries);
  EXPECT_EQ(Found(list, c.character), c.reading) << c.what;
  EXPECT_EQ(LookupByScan(list, c.character), c.reading) << c.what << " (scan)";
}

const LookupCase kLookupCases[] = {
    {"double-byte key", {"亜,あ"_sj}, "亜"_sj, "あ"_sj},
    {"other character", {"亜,あ"_sj}, "唖"_sj, std::nullopt},
    {"two single-byte chars as a key", {"AB,えーびー"_sj}, "AB", "えーびー"_sj},
    {"single-byte key never matches a two-byte text", {"A,えー"_sj}, std::string("A\0", 2), std::nullopt},
    {"key of three bytes never matches two", {"ABC,x"}, "AB", std::nullopt},
    {"same key twice: the first wins", {"亜,一"_sj, "亜,二"_sj}, "亜"_sj, "一"_sj},
    {"first wins even when it has one field", {"亜"_sj, "亜,二"_sj}, "亜"_sj, kFullWidthSpace},
    {"blanks around the comma", {"亜 , あ"_sj}, "亜"_sj, "あ"_sj},
    {"reading with a blank is never used", {"亜,あ い"_sj, "亜,う"_sj}, "亜"_sj, "う"_sj},
    {"reading with a comma is never used", {"亜,あ,い"_sj}, "亜"_sj, std::nullopt},
    {"quoted reading keeps its blank", {"亜,\"あ い\""_sj}, "亜"_sj, "あ い"_sj},
    {"one-field entry reads as the full-width space", {"亜"_sj}, "亜"_sj, kFullWidthSpace},
    {"empty reading", {"亜,"_sj}, "亜"_sj, ""},
    {"empty entries are passed over", {"", "  ", "亜,あ"_sj}, "亜"_sj, "あ"_sj},
    {"comparison is exact", {"ａ,x"_sj}, "Ａ"_sj, std::nullopt},
    {"a leading control byte is a blank, not part of the key", {"\x01\x41,x"}, "\x01\x41", std::nullopt},
    {"empty key matches only an empty text", {",x"}, "", "x"},
    {"key of three bytes matches a three-byte text", {"ABC,x"}, "ABC", "x"},
};
INSTANTIATE_TEST_SUITE_P(Cases, LookupTest, testing::ValuesIn(kLookupCases));

TEST(ReadingsList, LookupSeesEveryChange) {
  ReadingsList list;
  EXPECT_EQ(Found(list, "亜"_sj), std::nullopt);
  list.Append("亜,一"_sj);
  EXPECT_EQ(Found(list, "亜"_sj), "一"_sj);
  list.Clear();
  EXPECT_EQ(Found(list, "亜"_sj), std::nullopt);
  list.Append("亜,二"_sj);
  EXPECT_EQ(Found(list, "亜"_sj), "二"_sj);
  list.Clear();
  list.AppendDefaults();
  EXPECT_EQ(Found(list, "亜"_sj), std::nullopt);
  EXPECT_EQ(Found(list, "－"_sj), kFullWidthSpace);
}

// Random lists of entries built from a small alphabet, so that keys collide, entries have 0 to
// 3 fields, quotes, blanks and commas appear, and lookups of texts of every length are tried.
class RandomEntries {
 public:
  explicit RandomEntries(unsigned seed) : rng_(seed) {}

  std::string Entry() {
    static const std::string kPieces[] = {"亜"_sj, "A", "B", ",", " ", "\"", "　"_sj, "\x81", "\t",
                                          "あ"_sj, "\x81\x2C", "\x81\x22", "\x88"};
    std::string e;
    const int n = Pick(7);
    for (int i = 0; i < n; ++i) e += kPieces[Pick(std::size(kPieces))];
    return e;
  }
  std::string Text() {
    static const std::string kTexts[] = {"亜"_sj, "AB", "A", "", "あ"_sj, "BA", "　"_sj, "ABA",
                                         "\x81\x2C", "\x81\x22", "\x81\x81", "AA"};
    return kTexts[Pick(std::size(kTexts))];
  }
  int Pick(std::size_t n) { return std::uniform_int_distribution<int>(0, int(n) - 1)(rng_); }

 private:
  std::mt19937 rng_;
};

TEST(ReadingsList, IndexAgreesWithPlainScanAcrossEdits) {
  RandomEntries random(20240611);
  ReadingsList list;
  int checked = 0, found = 0;
  for (int step = 0; step < 4000; ++step) {
    const int action = random.Pick(20);
    if (action == 0)
      list.Clear();
    else if (action < 8)
      list.Append(random.Entry());
    else if (action == 8)
      list.AppendDefaults();
    for (int q = 0; q < 3; ++q) {
      const std::string text = random.Text();
      const auto expected = LookupByScan(list, text);
      ASSERT_EQ(Found(list, text), expected) << "step " << step << " text " << text;
      ++checked;
      found += expected.has_value();
    }
  }
  // The generator must exercise both outcomes, or the comparison proves little.
  EXPECT_GT(found, checked / 10);
  EXPECT_LT(found, checked - checked / 10);
}

}  // namespace
}  // namespace koe
