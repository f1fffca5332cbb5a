// The entry the readings editor writes for one row, and that it splits back into that row.
#include "entry_join.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "entry_format.h"
#include "sjis_text.h"

namespace koe {
namespace {

using Fields = std::vector<std::string>;

// What the profile reader does to a value: a pair of equal quotation marks around it goes.
std::string StripEnclosingQuotes(std::string value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

struct JoinCase {
  const char* what;
  std::string key;
  std::string reading;
  std::string entry;
};

void PrintTo(const JoinCase& c, std::ostream* os) { *os << c.what; }

class JoinEntryCellsTest : public testing::TestWithParam<JoinCase> {};

TEST_P(JoinEntryCellsTest, WritesTheEntryAndSplitsBackToTheCells) {
  const JoinCase& c = GetParam();
  const std::string entry = JoinEntryCells(c.key, c.reading);
  EXPECT_EQ(entry, c.entry) << c.what;
  const Fields cells{c.key, c.reading};
  EXPECT_EQ(SplitEntry(entry), cells) << c.what << ": in memory";
  EXPECT_EQ(SplitEntry(StripEnclosingQuotes(entry)), cells) << c.what << ": from the file";
}

const JoinCase kOrdinary[] = {
    {"plain pair", "あ"_sj, "ア"_sj, "あ,ア"_sj},
    {"the default entry", "－"_sj, "　"_sj, "－,　"_sj},
    {"empty row", "", "", ","},
    {"key alone", "亜"_sj, "", "亜,"_sj},
    {"reading alone", "", "よみ"_sj, ",よみ"_sj},
    {"trail bytes 0x5C and 0x7C", "ソ"_sj, "－表"_sj, "ソ,－表"_sj},
    {"quote inside a word", "a\"b", "c'd", "a\"b,c'd"},
    {"single quote at one end only", "'a", "b", "'a,b"},
};
INSTANTIATE_TEST_SUITE_P(Ordinary, JoinEntryCellsTest, testing::ValuesIn(kOrdinary));

const JoinCase kAwkward[] = {
    {"blank inside the reading", "亜"_sj, "あ い"_sj, "亜,\"あ い\""_sj},
    {"comma in the key", ",", "x", "\",\",x"},
    {"blanks around the key", " k ", "x", "\" k \",x"},
    {"reading of one space", "亜"_sj, " ", "亜,\" \""_sj},
    {"control character", "a\tb", "c", "\"a\tb\",c"},
    {"reading begins with a quote", "k", "\"q\"", "k,\"\"\"q\"\"\""},
    {"key begins with a quote", "\"", "", "\"\"\"\","},
    {"both quoted: guard before the key", "a b", "c d", "\x01\"a b\",\"c d\""},
    {"quoted key, bare reading ending in a quote", "a b", "c\"", "\x01\"a b\",c\""},
    {"single quotes at both ends: key quoted", "'a", "b'", "\"'a\",b'"},
    {"single quote alone in both", "'", "'", "\"'\",'"},
};
INSTANTIATE_TEST_SUITE_P(Awkward, JoinEntryCellsTest, testing::ValuesIn(kAwkward));

// Random cells from an alphabet of the awkward: double-byte characters (some with trail bytes
// that look like ASCII), blanks, commas, both quotation marks and letters.
std::string RandomCell(std::mt19937& rng) {
  static const std::vector<std::string> units = {
      "あ"_sj, "ア"_sj, "ソ"_sj, "表"_sj, "－"_sj, "　"_sj, " ", "\t", "\x01", "\x1f",
      ",", "\"", "'", "a", "Z",
  };
  std::uniform_int_distribution<int> length(0, 6);
  std::uniform_int_distribution<std::size_t> pick(0, units.size() - 1);
  std::string cell;
  for (int n = length(rng); n > 0; --n) cell += units[pick(rng)];
  return cell;
}

TEST(JoinEntryCellsProperty, AnyTwoCellsComeBackThroughTheFileUnchanged) {
  std::mt19937 rng(20240611);
  for (int i = 0; i < 20000; ++i) {
    const std::string key = RandomCell(rng);
    const std::string reading = RandomCell(rng);
    const std::string entry = JoinEntryCells(key, reading);
    const Fields cells{key, reading};
    ASSERT_EQ(SplitEntry(entry), cells) << "entry [" << entry << "]";
    ASSERT_EQ(SplitEntry(StripEnclosingQuotes(entry)), cells) << "entry [" << entry << "]";
  }
}

}  // namespace
}  // namespace koe
