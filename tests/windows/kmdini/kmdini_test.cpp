// The settings object against the real profile functions: every test gives the program file its
// own name, so each works on its own settings file in the Windows directory.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "KMDIni.h"
#include "KoemadoError.h"
#include "errors.h"
#include "messages.h"
#include "support.h"
#include "system.h"

namespace {

// One settings file "kmdtest_<tag>.ini" in the Windows directory, named by the program path the
// settings object is told to start from; removed again at the end.
class SettingsFile {
 public:
  explicit SettingsFile(const std::string& tag)
      : name_("kmdtest_" + tag + ".ini"), path_(koe_test::IniPath(name_)) {
    Remove();
    fw::TheTestSeam().program_path = [tag] { return "C:\\Program Files\\Koemado\\kmdtest_" + tag + ".exe"; };
  }
  ~SettingsFile() {
    Remove();
    fw::TheTestSeam().program_path = nullptr;
  }
  const std::string& Name() const { return name_; }
  const std::string& Path() const { return path_; }

  void Write(const std::string& bytes) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good()) << path_;
  }
  std::string Read() const {
    return koe_test::ReadWholeFile(path_);
  }
  bool Exists() const { return GetFileAttributesA(path_.c_str()) != INVALID_FILE_ATTRIBUTES; }

 private:
  void Remove() const {
    SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path_.c_str());
    RemoveDirectoryA(path_.c_str());
  }
  std::string name_;
  std::string path_;
};

std::string TestName() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }

std::vector<std::string> Lines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::istringstream in(bytes);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Section headers and key names of a file, in file order ("[section]" or "key").
std::vector<std::string> Layout(const std::string& bytes) {
  std::vector<std::string> layout;
  for (const std::string& line : Lines(bytes)) {
    if (line.empty()) continue;
    layout.push_back(line[0] == '[' ? line : line.substr(0, line.find('=')));
  }
  return layout;
}

std::vector<std::string> Entries(const TKoemadoIni& ini) {
  std::vector<std::string> entries;
  for (std::size_t i = 0; i < ini.Readings.Count(); ++i) entries.push_back(ini.Readings.At(i));
  return entries;
}

void SetEntries(TKoemadoIni& ini, const std::vector<std::string>& entries) {
  ini.Readings.Clear();
  for (const std::string& entry : entries) ini.Readings.Append(entry);
}

TEST(KoemadoIni, WithoutFileUsesDefaultEntriesAndVoiceAndCreatesNoFile) {
  SettingsFile file(TestName());
  TKoemadoIni ini;
  EXPECT_EQ(Entries(ini), (std::vector<std::string>{"－,　", "‥,　"}));
  EXPECT_EQ(ini.Speed, 180);
  EXPECT_EQ(ini.Pitch, 80);
  EXPECT_EQ(ini.Volume, 26214);
  EXPECT_FALSE(file.Exists());
}

TEST(KoemadoIni, StartUpStepCreatesTheLoadedObjectAndShutDownWritesNothing) {
  SettingsFile file(TestName());
  file.Write("[声の設定]\r\n速度=99\r\n");
  const std::string before = file.Read();
  KMDIni_Initialize();
  ASSERT_NE(KoemadoIni, nullptr);
  EXPECT_EQ(KoemadoIni->Speed, 99);
  EXPECT_EQ(KoemadoIni->Readings.Count(), 500u);
  KoemadoIni->Speed = 1;
  KoemadoIni->Readings.Clear();
  KMDIni_Finalize();
  EXPECT_EQ(KoemadoIni, nullptr);
  EXPECT_EQ(file.Read(), before);
}

// A directory cannot be read as a settings file, so it counts as none: the user keeps the
// built-in readings, and the first save reports that the file cannot be written.
TEST(KoemadoIni, DirectoryOfTheFilesNameCountsAsNoFileAndCannotBeSaved) {
  SettingsFile file(TestName());
  ASSERT_TRUE(CreateDirectoryA(file.Path().c_str(), nullptr));
  TKoemadoIni ini;
  EXPECT_EQ(ini.Readings.Count(), 2u);
  EXPECT_EQ(ini.Speed, 180);
  try {
    ini.Save();
    FAIL() << "Save wrote into a directory";
  } catch (const EKoemadoError& e) {
    EXPECT_EQ(e.Message(), file.Path() + " に書き込めません");
  }
}

TEST(KoemadoIni, ExistingFileAlwaysGivesFiveHundredEntries) {
  struct Case {
    const char* what;
    const char* content;
    std::vector<std::pair<int, std::string>> filled;  // 1-based key, value; all others empty
  };
  const Case cases[] = {
      {"no readings section", "[声の設定]\r\n速度=200\r\n", {}},
      {"empty file", "", {}},
      {"keys 1 and 7 only", "[読み方]\r\n7=‥,てん\r\n1=－,　\r\n", {{1, "－,　"}, {7, "‥,てん"}}},
      {"key 500 and beyond", "[読み方]\r\n500=last\r\n501=never\r\n0=never\r\n", {{500, "last"}}},
      {"padded and zero-led keys do not count", "[読み方]\r\n02=x\r\n 3=y\r\n", {{3, "y"}}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SettingsFile file(TestName() + std::to_string(n++));
    file.Write(c.content);
    TKoemadoIni ini;
    std::vector<std::string> expected(500);
    for (const auto& [key, value] : c.filled) expected[key - 1] = value;
    EXPECT_EQ(Entries(ini), expected);
  }
}

TEST(KoemadoIni, VoiceValuesFollowTheIntegerRuleWithTheirOwnDefaults) {
  struct Case {
    const char* text;
    std::optional<std::int32_t> value;  // nothing: each key's default
  };
  const Case cases[] = {
      {"0x10", 16},         {"$10", 16},      {"  -5", -5},         {"12abc", std::nullopt},
      {"", std::nullopt},   {"2147483648", std::nullopt},           {"$FFFFFFFF", -1},
      {"-$10", std::nullopt}, {"-2147483648", INT32_MIN},           {"+7", 7},
      {"X1f", 31},          {"12 3", std::nullopt},                  {"$", std::nullopt},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\"");
    SettingsFile file(TestName() + std::to_string(n++));
    const std::string text = c.text;
    file.Write("[声の設定]\r\n速度=" + text + "\r\nピッチ=" + text + "\r\n音量=" + text + "\r\n");
    TKoemadoIni ini;
    EXPECT_EQ(ini.Speed, c.value.value_or(180));
    EXPECT_EQ(ini.Pitch, c.value.value_or(80));
    EXPECT_EQ(ini.Volume, c.value.value_or(26214));
  }
}

TEST(KoemadoIni, LongValueIsReadAsItsFirst2047Bytes) {
  SettingsFile file(TestName());
  std::string value;
  for (int i = 0; i < 3000; ++i) value += static_cast<char>('a' + i % 26);
  file.Write("[読み方]\r\n1=" + value + "\r\n2=" + value.substr(0, 2047) + "\r\n");
  TKoemadoIni ini;
  EXPECT_EQ(ini.Readings.At(0), value.substr(0, 2047));
  EXPECT_EQ(ini.Readings.At(1), value.substr(0, 2047));
}

TEST(KoemadoIni, QuotesEnclosingAWholeValueAreDropped) {
  struct Case {
    const char* stored;
    const char* read;
  };
  const Case cases[] = {
      {"\"abc\"", "abc"},     {"'abc'", "abc"},         {"\"a,b c\"", "a,b c"},
      {"\"abc'", "\"abc'"},   {"\"ab\"c", "\"ab\"c"},   {"x,\"y\"", "x,\"y\""},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    SettingsFile file(TestName() + std::to_string(n++));
    file.Write(std::string("[読み方]\r\n1=") + c.stored + "\r\n");
    TKoemadoIni ini;
    EXPECT_EQ(ini.Readings.At(0), c.read);
  }
}

TEST(KoemadoIni, SaveMakesANewFileReadingsFirstThenVoiceInOrder) {
  SettingsFile file(TestName());
  TKoemadoIni ini;
  SetEntries(ini, {"－,　", "", "表,ひょう"});
  ini.Speed = -5;
  ini.Pitch = INT32_MIN;
  ini.Volume = 2147483647;
  ini.Save();
  const std::string bytes = file.Read();
  EXPECT_EQ(Layout(bytes), (std::vector<std::string>{"[読み方]", "1", "2", "3", "[声の設定]", "速度",
                                                     "ピッチ", "音量"}));
  const std::vector<std::string> lines = Lines(bytes);
  for (const char* line : {"1=－,　", "2=", "3=表,ひょう", "速度=-5", "ピッチ=-2147483648",
                           "音量=2147483647"}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
  }
}

TEST(KoemadoIni, SavedStateIsLoadedBackUnchanged) {
  SettingsFile file(TestName());
  std::vector<std::string> entries(500);
  entries[0] = "－,　";
  entries[1] = "";
  entries[2] = ",";
  entries[3] = "a b,\"c,d\"";
  entries[499] = "最後,さいご";
  {
    TKoemadoIni ini;
    SetEntries(ini, entries);
    ini.Speed = 0;
    ini.Pitch = -1;
    ini.Volume = 65535;
    ini.Save();
  }
  TKoemadoIni again;
  EXPECT_EQ(Entries(again), entries);
  EXPECT_EQ(again.Speed, 0);
  EXPECT_EQ(again.Pitch, -1);
  EXPECT_EQ(again.Volume, 65535);
}

TEST(KoemadoIni, SavingFewerEntriesLeavesTheFilesLaterKeysAsTheyWere) {
  SettingsFile file(TestName());
  std::string content = "[読み方]\r\n";
  for (int key = 1; key <= 500; ++key) content += std::to_string(key) + "=旧" + std::to_string(key) + "\r\n";
  file.Write(content);
  TKoemadoIni ini;
  SetEntries(ini, {"新,しん", ""});
  ini.Save();

  const std::vector<std::string> before = Lines(content);
  const std::vector<std::string> after = Lines(file.Read());
  ASSERT_GE(after.size(), before.size());
  EXPECT_EQ(after[0], "[読み方]");
  EXPECT_EQ(after[1], "1=新,しん");
  EXPECT_EQ(after[2], "2=");
  for (std::size_t i = 3; i < before.size(); ++i) EXPECT_EQ(after[i], before[i]);
  EXPECT_EQ(Layout(file.Read()).back(), "音量");
}

// Saves a changed object into a file that refuses writes: the user is told the file's full path
// and the object keeps its values.
void ExpectRefusedSave(const SettingsFile& file) {
  TKoemadoIni ini;
  SetEntries(ini, {"b", "c"});
  ini.Speed = 1;
  ini.Pitch = 2;
  ini.Volume = 3;
  try {
    ini.Save();
    ADD_FAILURE() << "Save reported no error";
  } catch (const EKoemadoError& e) {
    EXPECT_EQ(e.Message(), file.Path() + " に書き込めません");
  }
  EXPECT_EQ(Entries(ini), (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(ini.Speed, 1);
  EXPECT_EQ(ini.Pitch, 2);
  EXPECT_EQ(ini.Volume, 3);
}

TEST(KoemadoIni, FileHeldOpenByAnotherProgramMakesSaveFail) {
  SettingsFile file(TestName());
  const std::string content = "[読み方]\r\n1=a\r\n";
  file.Write(content);
  HANDLE held = CreateFileA(file.Path().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ExpectRefusedSave(file);
  CloseHandle(held);
  EXPECT_EQ(file.Read(), content);  // the very first write was refused
}

// Another program holds the file without sharing while the program starts: the profile functions
// would read 500 empty entries, and a save would write them over the user's. The built-in entries
// are used instead, the list is never written, and a save writes only the voice values.
TEST(KoemadoIni, FileHeldAtStartUpKeepsItsReadings) {
  SettingsFile file(TestName());
  file.Write("[読み方]\r\n1=あ,ア\r\n");
  HANDLE held = CreateFileA(file.Path().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  TKoemadoIni ini;
  CloseHandle(held);
  EXPECT_EQ(Entries(ini), (std::vector<std::string>{"－,　", "‥,　"}));
  EXPECT_FALSE(ini.ReadingsSaved());
  EXPECT_EQ(ini.WhyReadingsAreNotSaved(), koe::ReadingsNotReadText(file.Path(), fw::SystemErrorText(ERROR_SHARING_VIOLATION)));
  ini.Speed = 5;
  ini.Save();
  EXPECT_EQ(Lines(file.Read()), (std::vector<std::string>{"[読み方]", "1=あ,ア", "[声の設定]", "速度=5", "ピッチ=80", "音量=26214"}));
}

TEST(KoemadoIni, ReadOnlyFileMakesSaveFail) {
  SettingsFile file(TestName());
  const std::string content = "[読み方]\r\n1=a\r\n";
  file.Write(content);
  ASSERT_TRUE(SetFileAttributesA(file.Path().c_str(), FILE_ATTRIBUTE_READONLY));
  HANDLE probe = CreateFileA(file.Path().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    // Wine run by root: the host ignores the missing write permission, so nothing refuses.
    GTEST_SKIP() << "this system lets read-only files be written";
  }
  ExpectRefusedSave(file);
  EXPECT_EQ(file.Read(), content);  // the very first write was refused
}

TEST(KoemadoIni, FileNameIsWorkedOutAtEverySave) {
  SettingsFile first(TestName() + "Old");
  first.Write("[声の設定]\r\n速度=100\r\n");
  TKoemadoIni ini;
  EXPECT_EQ(ini.Speed, 100);
  SettingsFile second(TestName() + "New");  // the program file now has another name
  ini.Save();
  EXPECT_EQ(first.Read(), "[声の設定]\r\n速度=100\r\n");
  EXPECT_NE(second.Read().find("速度=100"), std::string::npos);
}

// The program's path comes in the system's code page, and is split by that code page's bytes.
TEST(KoemadoIni, FileNameComesFromTheProgramFileName) {
  struct Case {
    const char* program;
    const char* ini;
    unsigned code_page = 932;
  };
  const Case cases[] = {
      {"C:\\Program Files\\Koemado\\Koemado.exe", "Koemado.ini"},
      {"C:\\表\\Koemado.exe", "Koemado.ini"},  // 表 ends in the byte of '\'
      {"C:\\tools\\表", "表.ini"},
      {"C:\\tools\\Koemado", "Koemado.ini"},
      {"C:\\v1.2\\Koemado", "Koemado.ini"},
      {"C:\\tools\\Koe.mado.exe", "Koe.mado.ini"},
      {"C:Koemado.EXE", "Koemado.ini"},
      {"Koemado.exe", "Koemado.ini"},
      {"C:\\\xE3\x81\x82\\Koemado.exe", "Koemado.ini", 65001},  // C:\あ\ in UTF-8
      {"C:\\x\\\xB1\x5C.exe", "\xB1\x5C.ini", 936},  // a GBK character whose trail byte is '\'
      {"C:\\\xE9t\xE9\\Koemado.exe", "Koemado.ini", 1252},  // C:\été\ in code page 1252
  };
  for (const Case& c : cases) {
    fw::TheTestSeam().program_path = [&c] { return std::string(c.program); };
    fw::TheTestSeam().code_page = [&c] { return c.code_page; };
    EXPECT_EQ(TKoemadoIni::IniFileName(), c.ini) << c.program << " in " << c.code_page;
  }
  fw::TheTestSeam().program_path = nullptr;
  fw::TheTestSeam().code_page = nullptr;
  EXPECT_EQ(TKoemadoIni::IniFileName(), "kmdini_test.ini");
}

// On a system whose code page is not Shift-JIS the profile functions would read the file in that
// code page and write it back destroyed: the file is read as its bytes, exactly as the profile
// functions read it on a Japanese system, and only the voice values are written into it.
class OtherCodePage {
 public:
  explicit OtherCodePage(unsigned code_page) { fw::TheTestSeam().code_page = [code_page] { return code_page; }; }
  ~OtherCodePage() { fw::TheTestSeam().code_page = nullptr; }
};

TEST(KoemadoIni, OnAnotherCodePageTheFileReadsAsOnAJapaneseSystem) {
  const char* files[] = {
      "[読み方]\r\n1=あ,ア\r\n7=‥,てん\r\n 3 = \"い, イ\" \r\n4='う'\r\n500=最後\r\n"
      "[声の設定]\r\n速度=$10\r\nピッチ=  -5\r\n音量=12abc\r\n",
      "; comment\n[ 読み方 ]\n1=表\n1=second\n[声の設定]\n速度=1\n[声の設定]\n速度=2\n",
      "[声の設定]\r\n速度=200\r\n",
      "",
  };
  int n = 0;
  for (const char* content : files) {
    SCOPED_TRACE(content);
    SettingsFile file(TestName() + std::to_string(n++));
    file.Write(content);
    TKoemadoIni japanese;
    OtherCodePage utf8(65001);
    TKoemadoIni other;
    EXPECT_EQ(Entries(other), Entries(japanese));
    EXPECT_EQ(std::vector<std::int32_t>({other.Speed, other.Pitch, other.Volume}),
              std::vector<std::int32_t>({japanese.Speed, japanese.Pitch, japanese.Volume}));
    EXPECT_TRUE(japanese.ReadingsSaved());
    EXPECT_FALSE(other.ReadingsSaved());
  }
}

TEST(KoemadoIni, OnAnotherCodePageSaveWritesOnlyTheVoiceValues) {
  struct Case {
    const char* what;
    std::string before, after;
  };
  const Case cases[] = {
      {"values in place", "[読み方]\r\n1=あ,ア\r\n\r\n[声の設定]\r\n速度=1\r\nピッチ=2\r\n音量=3\r\n[他]\r\nx=表\r\n",
       "[読み方]\r\n1=あ,ア\r\n\r\n[声の設定]\r\n速度=200\r\nピッチ=-1\r\n音量=7\r\n[他]\r\nx=表\r\n"},
      {"no voice section", "[読み方]\r\n1=あ,ア",
       "[読み方]\r\n1=あ,ア\r\n[声の設定]\r\n速度=200\r\nピッチ=-1\r\n音量=7\r\n"},
      // The built-in entries, or the next start would read none from the file made here.
      {"no file", "", "[読み方]\r\n1=－,　\r\n2=‥,　\r\n[声の設定]\r\n速度=200\r\nピッチ=-1\r\n音量=7\r\n"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SettingsFile file(TestName() + std::to_string(n++));
    if (!c.before.empty()) file.Write(c.before);
    OtherCodePage utf8(65001);
    TKoemadoIni ini;
    SetEntries(ini, {"新,しん"});
    ini.Speed = 200;
    ini.Pitch = -1;
    ini.Volume = 7;
    ini.Save();
    EXPECT_EQ(file.Read(), c.after);
    EXPECT_EQ(Entries(ini), std::vector<std::string>{"新,しん"}) << "kept in memory";
  }
  SettingsFile directory(TestName() + "Directory");
  ASSERT_TRUE(CreateDirectoryA(directory.Path().c_str(), nullptr));
  OtherCodePage utf8(65001);
  ExpectRefusedSave(directory);
}

}  // namespace
