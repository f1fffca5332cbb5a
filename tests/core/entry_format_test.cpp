// How one reading entry splits into fields.
#include "entry_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sjis_text.h"

namespace koe {
namespace {

using Fields = std::vector<std::string>;

struct SplitCase {
  const char* what;
  std::string entry;
  Fields fields;
};

class SplitEntryTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitEntryTest, GivesTheFields) {
  EXPECT_EQ(SplitEntry(GetParam().entry), GetParam().fields) << GetParam().what;
}

// "亜" is 0x88 0x9F; "＼" (0x81 0x5F) and "ー" (0x81 0x5B) have ASCII-looking trail bytes.
const SplitCase kWorkedCases[] = {
    {"empty", "", {}},
    {"blanks only", " \t\x01\x20", {}},
    {"key alone", "亜"_sj, {"亜"_sj}},
    {"key, comma, reading", "亜,あ"_sj, {"亜"_sj, "あ"_sj}},
    {"blanks around the comma", "亜 \t, \x01あ"_sj, {"亜"_sj, "あ"_sj}},
    {"final comma", "亜,"_sj, {"亜"_sj, ""}},
    {"comma then blanks at the end", "亜,  "_sj, {"亜"_sj}},
    {"comma alone", ",", {"", ""}},
    {"comma then reading", ",あ"_sj, {"", "あ"_sj}},
    {"two commas", "亜,,あ"_sj, {"亜"_sj, "", "あ"_sj}},
    {"blank inside the reading", "亜,あ い"_sj, {"亜"_sj, "あ"_sj, "い"_sj}},
    {"quoted reading with comma and blank", "亜,\"あ, い\""_sj, {"亜"_sj, "あ, い"_sj}},
    {"two quotes alone", "\"\"", {""}},
    {"doubled quote inside", "\"a\"\"b\"", {"a\"b"}},
    {"quoted text followed by more", "\"ab\"cd", {"ab", "cd"}},
    {"full-width space reading", "亜,　"_sj, {"亜"_sj, "　"_sj}},
};
INSTANTIATE_TEST_SUITE_P(WorkedCases, SplitEntryTest, testing::ValuesIn(kWorkedCases));

const SplitCase kEdgeCases[] = {
    {"blanks at start and end of key and reading are lost", "  亜  ,  あ  "_sj, {"亜"_sj, "あ"_sj}},
    {"a reading of one ASCII space", "亜, "_sj, {"亜"_sj}},
    {"blanks alone separate fields", "ab cd", {"ab", "cd"}},
    {"quote inside an unquoted field is ordinary", "a\"b,c", {"a\"b", "c"}},
    {"full-width space is no blank", "　亜　"_sj, {"　亜　"_sj}},
    {"trail byte 0x5C is not a delimiter", "\x81\x5F,x", {"\x81\x5F", "x"}},
    {"trail byte ',' stays in the character", "\x81\x2C,x", {"\x81\x2C", "x"}},
    {"trail byte ' ' stays in the character", "\x81\x20 x", {"\x81\x20", "x"}},
    {"trail byte quote does not open a field", "\x81\x22x\"", {"\x81\x22x\""}},
    {"trail byte quote does not close a field", "\"\x81\x22\",x", {"\x81\x22", "x"}},
    {"lead byte as the last byte stands alone", "a,\x81", {"a", "\x81"}},
    {"lead byte before the final comma swallows it", "a\x81,", {"a\x81,"}},
    {"unclosed quote keeps the rest", "亜,\"ab"_sj, {"亜"_sj, "ab"}},
    {"unclosed quote ending in a double-byte char", "\"あ"_sj, {"あ"_sj}},
    {"unclosed quote keeps blanks and commas", "\"a, b ,", {"a, b ,"}},
    {"unclosed after doubled quote", "\"a\"\"", {"a\""}},
    {"quoted field then comma at the end", "\"a\",", {"a", ""}},
    {"quoted field then blanks then reading", "\"a\"  b", {"a", "b"}},
    {"final comma after blanks", "a ,", {"a", ""}},
    {"control bytes are blanks", "a\x1f,\x0b" "b", {"a", "b"}},
    {"DEL and 0xA0 are ordinary", "\x7f\xa0", {"\x7f\xa0"}},
};
INSTANTIATE_TEST_SUITE_P(EdgeCases, SplitEntryTest, testing::ValuesIn(kEdgeCases));

}  // namespace
}  // namespace koe
