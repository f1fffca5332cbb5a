// Start-up, the main window, closing, and failures at start, as a user and the client see them.
#include <gtest/gtest.h>

#include <algorithm>

#include "harness.h"

namespace e2e {
namespace {

HWND FindAppWindow(DWORD pid) { return koe_test::FindProcessWindow(pid, koe::kApplicationClass); }

class Startup : public ProgramTest {};

// The outer height the main window needs for both bars under this process's window metrics
// (the same as the program's, both started with the prefix's): its designed 103, or more where
// the frames, caption and menu bar leave the bars less than their 34 + 19 pixels.
int NeededOuterHeight(HWND main) {
  RECT frame{0, 0, 0, 34 + 19};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrA(main, GWL_STYLE)), TRUE,
                     static_cast<DWORD>(GetWindowLongPtrA(main, GWL_EXSTYLE)));
  return std::max<int>(103, frame.bottom - frame.top);
}

TEST_F(Startup, WithoutSettingsFileAppliesDefaultsAndWritesNothing) {
  auto k = Start();
  ASSERT_TRUE(k && k->Main());
  ASSERT_TRUE(transcript_.WaitForLines("put Volume=", 1));
  EXPECT_EQ(transcript_.Matching("put "),
            (std::vector<std::string>{"put Speed=180", "put Pitch=80", "put Volume=26214"}));

  char text[64] = {};
  GetWindowTextA(k->Main(), text, sizeof text);
  EXPECT_STREQ(text, "無題 - Koemado");
  RECT r{};
  GetWindowRect(k->Main(), &r);
  EXPECT_EQ(r.left, 380);
  EXPECT_EQ(r.top, 106);
  EXPECT_EQ(r.right - r.left, 242);
  EXPECT_EQ(r.bottom - r.top, NeededOuterHeight(k->Main()));
  const HWND app = FindAppWindow(k->Pid());
  ASSERT_TRUE(app);
  GetWindowTextA(app, text, sizeof text);
  EXPECT_STREQ(text, koe::kApplicationTitle);

  // The default entries silence "－" and "‥".
  Client client;
  k->Say("－‥　");
  EXPECT_TRUE(WaitUntil([&] { return client.DoneAll() == 1; }));
  EXPECT_TRUE(transcript_.Speaks().empty());

  EXPECT_EQ(k->Close(), 0);
  EXPECT_FALSE(ReadIni().has_value());
}

// The window metrics of Windows 10 and 11 (wider frames, taller caption and menu bar), set for
// the programs started while it lives, the prefix's own ones again after.
class WindowMetrics {
 public:
  WindowMetrics() {
    RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop\\WindowMetrics", 0, nullptr, 0,
                    KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_, nullptr);
    for (const auto& [name, value] : kWindows10) {
      char old[64] = {};
      DWORD size = sizeof old;
      if (RegQueryValueExA(key_, name, nullptr, nullptr, reinterpret_cast<BYTE*>(old), &size) == ERROR_SUCCESS)
        saved_.emplace_back(name, old);
      RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), static_cast<DWORD>(strlen(value) + 1));
    }
  }
  ~WindowMetrics() {
    for (const auto& [name, value] : kWindows10) RegDeleteValueA(key_, name);
    for (const auto& [name, value] : saved_)
      RegSetValueExA(key_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key_);
  }

 private:
  // In twips, negative: 22 px caption, 1 px border with 4 px padding, 19 px menu bar.
  static constexpr std::pair<const char*, const char*> kWindows10[] = {
      {"CaptionHeight", "-330"}, {"BorderWidth", "-15"}, {"PaddedBorderWidth", "-60"}, {"MenuHeight", "-285"}};
  HKEY key_ = nullptr;
  std::vector<std::pair<std::string, std::string>> saved_;
};

RECT RectIn(HWND child, HWND parent) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

TEST_F(Startup, WiderFramesGrowTheWindowUntilTheStatusBarClearsTheControl) {
  WindowMetrics windows10;
  auto k = Start();
  ASSERT_TRUE(k && k->Main());
  const HWND tool_bar = FindWindowExA(k->Main(), nullptr, "TToolBar", nullptr);
  const HWND control = GetWindow(tool_bar, GW_CHILD);
  const HWND status_bar = FindWindowExA(k->Main(), nullptr, "msctls_statusbar32", nullptr);
  ASSERT_TRUE(tool_bar && control && status_bar);
  RECT outer{}, client{};
  GetWindowRect(k->Main(), &outer);
  GetClientRect(k->Main(), &client);
  std::cout << "[ metrics ] outer " << outer.right - outer.left << " x " << outer.bottom - outer.top
            << ", client " << client.right << " x " << client.bottom << "\n";
  EXPECT_EQ(outer.right - outer.left, 242);
  EXPECT_GT(outer.bottom - outer.top, 103) << "grown";
  EXPECT_EQ(client.bottom, 34 + 19) << "just enough";
  EXPECT_GE(RectIn(status_bar, k->Main()).top, RectIn(control, k->Main()).bottom);
  EXPECT_EQ(k->Close(), 0);
}

TEST_F(Startup, ExitCommandEndsWithExitCode0AndWritesNothing) {
  WriteIni("[声の設定]\r\n速度=1\r\n");
  const auto before = ReadIni();
  auto k = Start();
  ASSERT_TRUE(k && k->Main());
  k->Command("終了");
  EXPECT_EQ(k->WaitExit(), 0);
  EXPECT_EQ(ReadIni(), before);
  EXPECT_EQ(transcript_.Matching("save").size(), 0u);
  EXPECT_EQ(transcript_.Matching("close").size(), 1u) << "the control is closed without saving";
}

TEST_F(Startup, SettingsFileValuesReachTheControl) {
  WriteIni("[声の設定]\r\n速度=0x10\r\nピッチ=  -5\r\n音量=12abc\r\n");
  auto k = Start();
  ASSERT_TRUE(k);
  ASSERT_TRUE(transcript_.WaitForLines("put Volume=", 1));
  EXPECT_EQ(transcript_.Matching("put "),
            (std::vector<std::string>{"put Speed=16", "put Pitch=-5", "put Volume=26214"}));
}

TEST_F(Startup, ControlNotRegisteredEndsWithApplicationErrorAndExitCode1) {
  WriteIni("[声の設定]\r\n速度=1\r\n");
  const auto before = ReadIni();
  UnregisterControl();
  auto k = Start({}, SW_SHOWNORMAL, {}, false);
  ASSERT_TRUE(k);
  const auto box = k->WaitForMessageBox();
  RegisterControl();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->caption, "アプリケーション エラー");
  EXPECT_EQ(box->text.rfind("EOleSysError", 0), 0u) << box->text;
  EXPECT_NE(box->text.find("Koemado.exe"), std::string::npos) << box->text;
  const HWND main = k->FindMainWindow();
  EXPECT_TRUE(!main || !IsWindowVisible(main));
  k->DismissMessageBox(*box);
  EXPECT_EQ(k->WaitExit(), 1);
  EXPECT_EQ(ReadIni(), before);
}

TEST_F(Startup, ControlWithoutInPlaceObjectEndsWithApplicationError) {
  auto k = Start({"KOE_PTSVR_NO_INPLACE=1"}, SW_SHOWNORMAL, {}, false);
  ASSERT_TRUE(k);
  const auto box = k->WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->caption, "アプリケーション エラー");
  EXPECT_NE(box->text.find("OLE コントロールのアクティベートに失敗しました."), std::string::npos)
      << box->text;
  k->DismissMessageBox(*box);
  EXPECT_EQ(k->WaitExit(), 1);
}

TEST_F(Startup, FailingSpeakShowsErrorBoxAndPostsNothing) {
  Client client;
  auto k = Start({"KOE_PTSVR_SIM_SPEED=0", "KOE_PTSVR_FAIL_DISPIDS=16",
                           "KOE_PTSVR_FAIL_COUNT=1", "KOE_PTSVR_FAIL_TEXT=engine failed. "});
  ASSERT_TRUE(k && k->Main());
  k->Char(0, Code("あ"), /*post=*/true);
  const auto box = k->WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->caption, koe::kApplicationTitle);
  EXPECT_EQ(box->text, "engine failed.");
  k->DismissMessageBox(*box);
  // The flag stayed false: a lone full-width space is now spoken. An end posted for the failed
  // call would have come before this one's.
  k->Char(0, Code("　"));
  EXPECT_TRUE(WaitUntil([&] { return client.DoneAll() >= 1; }));
  EXPECT_EQ(client.Done(0) + client.Done(1) + client.Done(2), 3);
  EXPECT_EQ(transcript_.Speaks(), std::vector<std::string>{Utf8("　")});
  EXPECT_EQ(k->Close(), 0);
}

TEST_F(Startup, FailingPutWhenShownSkipsTheRestAndRunsOn) {
  auto k = Start({"KOE_PTSVR_FAIL_DISPIDS=5"}, SW_SHOWNORMAL, {}, false);
  ASSERT_TRUE(k);
  const auto box = k->WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->caption, koe::kApplicationTitle);
  k->DismissMessageBox(*box);
  ASSERT_TRUE(WaitUntil([&] { return k->FindMainWindow() && IsWindowVisible(k->FindMainWindow()); }));
  EXPECT_EQ(transcript_.Matching("put "), std::vector<std::string>{"put Speed=180"});
  EXPECT_EQ(k->Close(), 0);
}

TEST_F(Startup, StartedMinimisedShowsNoWindowUntilRestored) {
  Client client;
  auto k = Start({"KOE_PTSVR_SIM_SPEED=0"}, SW_SHOWMINNOACTIVE);
  ASSERT_TRUE(k && k->Main());
  // The flag is still false: a lone space is spoken. By its end the program has long been
  // running its message loop, and still shows no window and has written no voice value.
  k->Char(0, Code("　"));
  ASSERT_TRUE(WaitUntil([&] { return client.DoneAll() == 1; }));
  EXPECT_EQ(transcript_.Speaks().size(), 1u);
  EXPECT_FALSE(IsWindowVisible(k->Main()));
  EXPECT_TRUE(transcript_.Matching("put ").empty());

  const HWND app = FindAppWindow(k->Pid());
  ASSERT_TRUE(app);
  SendMessageA(app, WM_SYSCOMMAND, SC_RESTORE, 0);
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(k->Main()); }));
  ASSERT_TRUE(transcript_.WaitForLines("put Volume=", 1));
  k->Char(0, Code("　"));
  ASSERT_TRUE(WaitUntil([&] { return client.DoneAll() == 2; }));
  EXPECT_EQ(transcript_.Speaks().size(), 1u);
  EXPECT_EQ(k->Close(), 0);
}

TEST_F(Startup, RenamedProgramUsesItsOwnSettingsFile) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  const std::string copy = std::string(dir) + "KoeCopy.exe";
  ASSERT_TRUE(CopyFileA(PathFromEnv("KOE_TEST_EXE").c_str(), copy.c_str(), FALSE));
  WriteIni("[声の設定]\r\n速度=123\r\n", "KoeCopy.ini");
  {
    auto k = Start({}, SW_SHOWNORMAL, copy);
    ASSERT_TRUE(k);
    ASSERT_TRUE(transcript_.WaitForLines("put Volume=", 1));
    EXPECT_EQ(transcript_.Matching("put Speed="), std::vector<std::string>{"put Speed=123"});
  }
  DeleteIni("KoeCopy.ini");
  DeleteFileA(copy.c_str());
  EXPECT_FALSE(ReadIni().has_value());
}

TEST_F(Startup, SpeechWorksWithoutAnyClientWindow) {
  auto k = Start({"KOE_PTSVR_SIM_SPEED=0"});
  ASSERT_TRUE(k);
  k->Say("こんにちは");
  ASSERT_TRUE(transcript_.WaitForLines("event OnStopSpeak", 1));
  EXPECT_EQ(transcript_.Speaks(), std::vector<std::string>{Utf8("こんにちは")});
  EXPECT_TRUE(k->Running());
  EXPECT_EQ(k->Close(), 0);
}

}  // namespace
}  // namespace e2e
