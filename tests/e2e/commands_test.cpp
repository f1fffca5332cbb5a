// The menu commands: voice settings, the about box, the control's version commands and help.
#include <gtest/gtest.h>

#include <fstream>

#include "harness.h"
#include "koemado_version.h"

namespace e2e {
namespace {

class Commands : public ProgramTest {};

TEST_F(Commands, VoiceSettingsConfirmedStoresTheControlsValues) {
  auto k = StartWith({"KOE_PTSVR_DIALOG=ok:200,-90,70000"});
  ASSERT_TRUE(k);
  k->Command("声の設定");
  ASSERT_TRUE(WaitUntil([] { return IniValue("声の設定", "音量") == "70000"; }));
  const auto lines = transcript_.Lines();
  std::vector<std::string> after;
  bool seen = false;
  for (const auto& l : lines) {
    if (l == "call 11") seen = true;
    if (seen && (l.rfind("call", 0) == 0 || l.rfind("get ", 0) == 0)) after.push_back(l);
  }
  EXPECT_EQ(after, (std::vector<std::string>{"call 11", "get Speed=200", "get Pitch=-90",
                                              "get Volume=70000"}));
  EXPECT_EQ(IniValue("声の設定", "速度"), "200");
  EXPECT_EQ(IniValue("声の設定", "ピッチ"), "-90");
  // The two default entries are written with the voice values, and nothing beyond them.
  EXPECT_EQ(IniValue("読み方", "1"), "－,　");
  EXPECT_EQ(IniValue("読み方", "2"), "‥,　");
  EXPECT_EQ(IniValue("読み方", "3"), "");
  EXPECT_EQ(ReadIni()->find("\n3="), std::string::npos);
}

TEST_F(Commands, VoiceSettingsCancelledStillRewritesTheFile) {
  WriteIni("[読み方]\r\n1=あ,ア\r\n[声の設定]\r\n速度=150\r\n");
  auto k = StartWith({"KOE_PTSVR_DIALOG=cancel"});
  ASSERT_TRUE(k);
  k->Command("声の設定");
  ASSERT_TRUE(WaitUntil([] { return IniValue("声の設定", "音量") == "26214"; }));
  EXPECT_EQ(IniValue("声の設定", "速度"), "150");
  EXPECT_EQ(IniValue("読み方", "1"), "あ,ア");
  EXPECT_EQ(IniValue("読み方", "500"), "");
  EXPECT_NE(ReadIni()->find("\n500="), std::string::npos) << "all 500 keys are written";
}

TEST_F(Commands, FailingVoiceSettingsCallChangesNothing) {
  auto k = StartWith({"KOE_PTSVR_FAIL_DISPIDS=11", "KOE_PTSVR_FAIL_TEXT=no dialog"});
  ASSERT_TRUE(k);
  k->Command("声の設定");
  const auto box = k->WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->caption, koe::kApplicationTitle);
  EXPECT_EQ(box->text, "no dialog.");
  k->DismissMessageBox(*box);
  EXPECT_TRUE(transcript_.Matching("get ").empty());
  EXPECT_FALSE(ReadIni().has_value());
  EXPECT_EQ(k->Close(), 0);
  EXPECT_FALSE(ReadIni().has_value());
}

TEST_F(Commands, FailingPitchReadKeepsNewSpeedInMemoryUntilTheNextSave) {
  // The first Pitch call (the put when the window is shown) passes; the read after the dialog fails.
  auto k = StartWith({"KOE_PTSVR_DIALOG=ok:222,33,4444", "KOE_PTSVR_FAIL_DISPIDS=5",
                      "KOE_PTSVR_FAIL_AFTER=1", "KOE_PTSVR_FAIL_COUNT=1"});
  ASSERT_TRUE(k);
  k->Command("声の設定");
  const auto box = k->WaitForMessageBox();
  ASSERT_TRUE(box);
  k->DismissMessageBox(*box);
  EXPECT_FALSE(ReadIni().has_value());
  // The next save writes the speed read before the failure (the file is written a key at a
  // time: the last one tells that the save is over).
  k->Command("声の設定");
  ASSERT_TRUE(WaitUntil([] { return IniValue("声の設定", "音量") == "4444"; }));
  EXPECT_EQ(IniValue("声の設定", "速度"), "222");
  EXPECT_EQ(IniValue("声の設定", "ピッチ"), "33");
}

TEST_F(Commands, AboutBoxIsOneModalWindowAndSpeechGoesOn) {
  Client client;
  auto k = StartWith({});
  ASSERT_TRUE(k);
  HWND first = nullptr;
  for (int how = 0; how < 3; ++how) {
    SCOPED_TRACE(how);
    k->Command("バージョン情報");
    HWND box = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (box = k->FindWindowOf("TAboutBox", "バージョン情報")); }));
    if (!first) first = box;
    EXPECT_EQ(box, first) << "the same instance every time";
    const auto texts = ChildTexts(box);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Version " KOE_VERSION_TEXT), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Koemado－みるふぉ用音声ソフト"), texts.end());
    EXPECT_FALSE(IsWindowEnabled(k->Main())) << "modal";

    // Escape does not close it, and client characters (posted after it, so handled after it)
    // are still spoken while it is open.
    HWND ok = FindChild(box, "OK");
    ASSERT_TRUE(ok);
    PostMessageA(ok, WM_KEYDOWN, VK_ESCAPE, 0);
    const auto spoken = transcript_.Speaks().size();
    k->Say("はい", /*post=*/true);
    EXPECT_TRUE(WaitUntil([&] { return transcript_.Speaks().size() == spoken + 1; }));
    EXPECT_TRUE(IsWindowVisible(box));

    if (how == 0) SendMessageA(ok, BM_CLICK, 0, 0);
    if (how == 1) PostMessageA(ok, WM_KEYDOWN, VK_RETURN, 0);
    if (how == 2) PostMessageA(box, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(box); }));
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(k->Main()); }));
  }
  EXPECT_EQ(k->Close(), 0);
}

TEST_F(Commands, ControlVersionCommandsReachTheControl) {
  auto k = StartWith({"KOE_PTSVR_DIALOG=cancel"});
  ASSERT_TRUE(k);
  k->Command("コントロールバージョン");
  ASSERT_TRUE(transcript_.WaitForLines("call -552", 1));
  k->Command("合成エンジンバージョン");
  ASSERT_TRUE(transcript_.WaitForLines("call 10", 1));
  EXPECT_EQ(k->Close(), 0);
}

TEST_F(Commands, FailingVersionCommandShowsTheErrorBox) {
  auto k = StartWith({"KOE_PTSVR_FAIL_DISPIDS=10", "KOE_PTSVR_FAIL_TEXT=version unknown"});
  ASSERT_TRUE(k);
  k->Command("合成エンジンバージョン");
  const auto box = k->WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, "version unknown.");
  k->DismissMessageBox(*box);
  EXPECT_EQ(k->Close(), 0);
}

// Help opens the manual beside the program's folder with the shell; a stand-in handler for
// .htm files records the path the shell was given.
class Help : public Commands {
 protected:
  void SetUp() override {
    Commands::SetUp();
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    record_ = std::string(dir) + "koe_help_open.txt";
    DeleteFileA(record_.c_str());
    HKEY key;
    RegCreateKeyA(HKEY_CLASSES_ROOT, ".htm", &key);
    char old[256] = {};
    LONG size = sizeof old;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, ".htm", old, &size) == ERROR_SUCCESS) old_htm_ = old;
    RegSetValueA(key, nullptr, REG_SZ, "KoeTest.htm", 11);
    RegCloseKey(key);
    const std::string command = "cmd.exe /c echo %1> \"" + record_ + "\"";
    RegSetValueA(HKEY_CLASSES_ROOT, "KoeTest.htm\\shell\\open\\command", REG_SZ, command.c_str(),
                 static_cast<DWORD>(command.size()));
  }
  void TearDown() override {
    RegSetValueA(HKEY_CLASSES_ROOT, ".htm", REG_SZ, old_htm_.c_str(),
                 static_cast<DWORD>(old_htm_.size()));
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "KoeTest.htm");
    DeleteFileA(record_.c_str());
    Commands::TearDown();
  }
  std::string Opened() const {
    std::ifstream in(record_);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.size() >= 2 && line.front() == '"' && line.back() == '"')
      line = line.substr(1, line.size() - 2);
    return line;
  }
  std::string record_, old_htm_;
};

TEST_F(Help, OpensTheManualBesideTheProgramFolderWhateverTheCurrentDirectory) {
  char tmp[MAX_PATH];
  GetTempPathA(MAX_PATH, tmp);
  const std::string top = std::string(tmp) + "koe_help_tree";
  const std::string page_dir = top + "\\Help\\Koemado_html\\html";
  for (const std::string& d : {top, top + "\\Koemado", top + "\\Help", top + "\\Help\\Koemado_html",
                               page_dir})
    CreateDirectoryA(d.c_str(), nullptr);
  const std::string page = page_dir + "\\HID00000001.htm";
  std::ofstream(page) << "<html><body>manual</body></html>";
  const std::string exe = top + "\\Koemado\\Koemado.exe";
  ASSERT_TRUE(CopyFileA(PathFromEnv("KOE_TEST_EXE").c_str(), exe.c_str(), FALSE));
  {
    auto k = Koemado::Start({"KOE_PTSVR_TRANSCRIPT=" + transcript_.Path()}, SW_SHOWNORMAL, exe,
                            true, "C:\\");
    ASSERT_TRUE(k);
    k->Command("目次");
    ASSERT_TRUE(WaitUntil([&] { return !Opened().empty(); }));
    EXPECT_EQ(CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, Opened().c_str(), -1,
                             page.c_str(), -1),
              CSTR_EQUAL)
        << Opened() << " vs " << page;
    EXPECT_FALSE(k->WaitForMessageBox(300));
  }
  DeleteFileA(exe.c_str());
  DeleteFileA(page.c_str());
}

TEST_F(Help, MissingPageShowsTheErrorBoxNamingIt) {
  auto k = StartWith({});
  ASSERT_TRUE(k);
  k->Command("目次");
  const auto box = k->WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->caption, koe::kApplicationTitle);
  EXPECT_NE(box->text.find("HID00000001.htm"), std::string::npos) << box->text;
  k->DismissMessageBox(*box);
  EXPECT_TRUE(Opened().empty());
  EXPECT_EQ(k->Close(), 0);
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

// The unpacked ZIP package: the program run from its folder opens the manual that came with it.
// Run by tests/package/check_package.sh, which unpacks the package and names its folder.
class Package : public Help {};

TEST_F(Package, HelpOpensTheManualUnpackedBesideTheProgram) {
  const std::string dir = PathFromEnv("KOE_TEST_PACKAGE_DIR");
  ASSERT_FALSE(dir.empty()) << "KOE_TEST_PACKAGE_DIR is not set: this case needs the package unpacked, and is run "
                               "by tests/package/check_package.sh (the test named package), which names its folder";
  const std::string page = dir + "\\Help\\Koemado_html\\html\\HID00000001.htm";
  ASSERT_NE(GetFileAttributesA(page.c_str()), INVALID_FILE_ATTRIBUTES) << page;
  auto k = Koemado::Start({"KOE_PTSVR_TRANSCRIPT=" + transcript_.Path()}, SW_SHOWNORMAL, {}, true,
                          "C:\\");
  ASSERT_TRUE(k && k->Main());
  k->Say("ほうそう");
  ASSERT_TRUE(transcript_.WaitForLines("speak ", 1));
  k->Command("目次");
  ASSERT_TRUE(WaitUntil([&] { return !Opened().empty(); }));
  EXPECT_EQ(CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, Opened().c_str(), -1, page.c_str(), -1),
            CSTR_EQUAL)
      << Opened() << " vs " << page;
  EXPECT_EQ(k->Close(), 0);
}

}  // namespace
}  // namespace e2e
