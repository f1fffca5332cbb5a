// The settings file's name and how its integer values are read.
#include "ini_rules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "sjis.h"
#include "sjis_text.h"

namespace koe {
namespace {

constexpr std::int32_t kDefault = 180;

struct IntegerCase {
  std::string text;
  std::int32_t expected;
};

class ReadIniIntegerTest : public testing::TestWithParam<IntegerCase> {};

TEST_P(ReadIniIntegerTest, ReadsValueOrDefault) {
  EXPECT_EQ(ReadIniInteger(GetParam().text, kDefault), GetParam().expected)
      << "text \"" << GetParam().text << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Values, ReadIniIntegerTest,
    testing::Values(
        IntegerCase{"0x10", 16}, IntegerCase{"$10", 16}, IntegerCase{"x10", 16},
        IntegerCase{"X1f", 31}, IntegerCase{"0XaB", 171}, IntegerCase{"  -5", -5},
        IntegerCase{"+7", 7}, IntegerCase{"0", 0}, IntegerCase{"-0", 0},
        IntegerCase{"-2147483648", INT32_MIN}, IntegerCase{"2147483647", INT32_MAX},
        IntegerCase{"$FFFFFFFF", -1}, IntegerCase{"$80000000", INT32_MIN},
        IntegerCase{"0000000000012", 12}, IntegerCase{"$000000000FF", 255},
        IntegerCase{"0x00000000FFFFFFFF", -1}, IntegerCase{"26214", 26214}));

INSTANTIATE_TEST_SUITE_P(
    Rejected, ReadIniIntegerTest,
    testing::Values(IntegerCase{"12abc", kDefault}, IntegerCase{"", kDefault},
                    IntegerCase{"   ", kDefault}, IntegerCase{"2147483648", kDefault},
                    IntegerCase{"-2147483649", kDefault},
                    IntegerCase{"99999999999999999999", kDefault},
                    IntegerCase{"-$10", kDefault}, IntegerCase{"+0x10", kDefault},
                    IntegerCase{"$100000000", kDefault}, IntegerCase{"$", kDefault},
                    IntegerCase{"0x", kDefault}, IntegerCase{"$1G", kDefault},
                    IntegerCase{"5 ", kDefault}, IntegerCase{"\t5", kDefault},
                    IntegerCase{"+", kDefault}, IntegerCase{"- 5", kDefault},
                    IntegerCase{"１２"_sj, kDefault}, IntegerCase{"0x-1", kDefault},
                    IntegerCase{"$ 1", kDefault}));

constexpr bool NoLeadBytes(unsigned char) { return false; }  // UTF-8, single-byte code pages

struct NameCase {
  std::string path;
  std::size_t directory_length;
  std::string ini_name;
  LeadByteRule is_lead = IsLeadByte;
};

class IniFileNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(IniFileNameTest, NamesTheFileAfterTheProgram) {
  EXPECT_EQ(DirectoryPartLength(GetParam().path, GetParam().is_lead), GetParam().directory_length);
  EXPECT_EQ(IniFileNameFor(GetParam().path, GetParam().is_lead), GetParam().ini_name);
}

// "表" is 0x95 0x5C and "ソ" is 0x83 0x5C: their trail byte is '\'. In UTF-8 "あ" is 0xE3 0x81
// 0x82, which Shift-JIS's rule would read as a lead byte and the '\' after it as its trail.
INSTANTIATE_TEST_SUITE_P(
    Paths, IniFileNameTest,
    testing::Values(NameCase{"C:\\Program Files\\Koemado\\Koemado.exe", 25, "Koemado.ini"},
                    NameCase{"Koemado.exe", 0, "Koemado.ini"},
                    NameCase{"C:Koemado.exe", 2, "Koemado.ini"},
                    NameCase{"C:\\tools\\koe", 9, "koe.ini"},
                    NameCase{"C:\\a.b\\koe", 7, "koe.ini"},
                    NameCase{"C:\\x\\koe.v2.exe", 5, "koe.v2.ini"},
                    NameCase{"C:\\x\\.exe", 5, ".ini"},
                    NameCase{"C:\\x\\koe.", 5, "koe.ini"},
                    NameCase{"C:\\x\\", 5, ".ini"},
                    NameCase{"C:\\表示\\声.exe"_sj, 8, "声.ini"_sj},
                    NameCase{"C:\\x\\表.exe"_sj, 5, "表.ini"_sj},
                    NameCase{"C:\\x\\ソ"_sj, 5, "ソ.ini"_sj},
                    NameCase{"\\\\server\\share\\Koemado.EXE", 15, "Koemado.ini"},
                    NameCase{"C:\\\xE3\x81\x82\\Koemado.exe", 7, "Koemado.ini", NoLeadBytes},
                    NameCase{"C:\\x\\\xE8\xA1\xA8.exe", 5, "\xE8\xA1\xA8.ini", NoLeadBytes}));

// The settings file's bytes read and changed as the profile functions do, where the system's code
// page is not Shift-JIS. "ソ" (0x83 0x5C) and "‐" (0x81 0x5D) end in '\\' and ']'.
const std::string kFile =
    "; a note\r\n[読み方]\r\n1=あ,ア\r\n 2 = \"い, イ\" \r\n3='う'\r\n\r\n"
    "[声の設定‐ソ]\r\n速度=1\r\n\r\n[声の設定]\r\nSPEED=2\r\n速度=200\r\n速度=300\r\n\r\n"_sj;

struct ReadCase {
  std::string section, key;
  std::optional<std::string> value;
};

TEST(ProfileValue, FindsTheFirstKeyOfTheFirstSectionOfItsName) {
  const ReadCase cases[] = {
      {"読み方"_sj, "1", "あ,ア"_sj},
      {"読み方"_sj, "2", "い, イ"_sj},  // blanks trimmed, then the enclosing quotes
      {"読み方"_sj, "3", "う"_sj},
      {" 読み方 "_sj, "1", "あ,ア"_sj},
      {"読み方"_sj, "4", std::nullopt},
      {"声の設定"_sj, "速度"_sj, "200"},
      {"声の設定‐ソ"_sj, "速度"_sj, "1"},
      {"声の設定"_sj, "speed", "2"},  // single-byte letters in either case
      {"声"_sj, "速度"_sj, std::nullopt},
      {"ない"_sj, "1", std::nullopt},
  };
  for (const ReadCase& c : cases) EXPECT_EQ(ProfileValue(kFile, c.section, c.key, 2047), c.value) << c.key;
  EXPECT_EQ(ProfileValue(kFile, "読み方"_sj, "1", 2), "あ"_sj) << "cut to the buffer";
  EXPECT_EQ(ProfileValue("[a]\nk=v", "A", "K", 2047), "v") << "LF line ends, no last line end";
  EXPECT_EQ(ProfileValue("[ a ]\nk=v", "a", "k", 2047), "v") << "blanks in the brackets trimmed";
  EXPECT_EQ(ProfileValue("[a]\nk\nk=v", "a", "k", 2047), "") << "a key without a value";
}

struct WriteCase {
  const char* what;
  std::string file, section, key, value, expected;
};

TEST(WithProfileValue, ChangesOnlyTheBytesOfTheValue) {
  const WriteCase cases[] = {
      {"an existing key", kFile, "声の設定"_sj, "速度"_sj, "-5",
       "; a note\r\n[読み方]\r\n1=あ,ア\r\n 2 = \"い, イ\" \r\n3='う'\r\n\r\n"
       "[声の設定‐ソ]\r\n速度=1\r\n\r\n[声の設定]\r\nSPEED=2\r\n速度=-5\r\n速度=300\r\n\r\n"_sj},
      {"a new key after the section's last line", kFile, "読み方"_sj, "4", "え"_sj,
       "; a note\r\n[読み方]\r\n1=あ,ア\r\n 2 = \"い, イ\" \r\n3='う'\r\n4=え\r\n\r\n"
       "[声の設定‐ソ]\r\n速度=1\r\n\r\n[声の設定]\r\nSPEED=2\r\n速度=200\r\n速度=300\r\n\r\n"_sj},
      {"a new section", "[a]\r\nk=v", "声の設定"_sj, "音量"_sj, "7", "[a]\r\nk=v\r\n[声の設定]\r\n音量=7\r\n"_sj},
      {"no file", "", "b", "k", "1", "[b]\r\nk=1\r\n"},
      {"a last line without its end", "[b]\r\nj=0", "b", "k", "1", "[b]\r\nj=0\r\nk=1\r\n"},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string written = WithProfileValue(c.file, c.section, c.key, c.value);
    EXPECT_EQ(written, c.expected);
    EXPECT_EQ(ProfileValue(written, c.section, c.key, 2047), c.value);
  }
}

// The reads a file gives, in order: bytes, or a failure with the system's code (23: a CRC error).
TEST(ReadWholeFile, AReadThatFailsPartWayIsAFailureNotAShorterFile) {
  const struct {
    std::vector<std::variant<std::string, std::uint32_t>> reads;
    std::string bytes;
    std::uint32_t error;
  } cases[] = {{{"[a]\r\n", "k=v", ""}, "[a]\r\nk=v", 0}, {{"[a]\r\n", 23u}, "", 23}, {{5u}, "", 5}};
  for (const auto& c : cases) {
    std::size_t next = 0;
    const WholeFile file = ReadWholeFile([&](char* buffer, std::size_t, std::size_t& got) {
      const auto& read = c.reads.at(next++);  // never read again after the end or a failure
      if (read.index() == 1) return std::get<1>(read);
      got = std::get<0>(read).copy(buffer, std::string::npos);
      return 0u;
    });
    EXPECT_EQ(file.bytes, c.bytes) << c.error;
    EXPECT_EQ(file.error, c.error);
    EXPECT_EQ(next, c.reads.size());
  }
}

}  // namespace
}  // namespace koe
