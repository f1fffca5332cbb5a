// The readings editor as the user meets it: the grid's cell editor shows the text of the cell it
// stands on, keys and characters go to it, the buttons are pressed; what the dialog saved is read
// from the settings file and what it changed is heard in the next client character's speech.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>

#include "harness.h"
#include "messages.h"

namespace e2e {
namespace {

// The dialog's windows, found from another process.
struct EditorWindows {
  HWND dialog = nullptr;
  HWND grid = nullptr;
  HWND editor = nullptr;  // the cell editor, a child EDIT of the grid
  HWND ok = nullptr;
  HWND help = nullptr;
  HWND cancel = nullptr;
};

HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
  return info.hwndFocus;
}

// What an edit control of another process holds (GetWindowText would read only its title), in
// Shift-JIS whatever this process's code page.
std::string Text(HWND window) {
  wchar_t buf[512] = {};
  SendMessageW(window, WM_GETTEXT, std::size(buf), reinterpret_cast<LPARAM>(buf));
  return koe_test::Narrow(buf, koe::kShiftJisCodePage);
}

// Keys sent straight to the cell editor are handled in order with the characters typed after
// them; keys that must pass the dialog's own key handling (or wake its loop) are posted.
void Key(HWND editor, WORD vk) { SendMessageA(editor, WM_KEYDOWN, vk, 0); }
void Type(HWND editor, const std::wstring& text) {
  for (wchar_t c : text) SendMessageW(editor, WM_CHAR, c, 1);
}

RECT ClientRectIn(HWND window, HWND dialog) {
  RECT r;
  GetWindowRect(window, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

int Width(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  return r.right - r.left;
}

class EditorDialog : public ProgramTest {
 protected:
  void Start() {
    koemado_ = StartWith({});
    ASSERT_TRUE(koemado_);
  }

  // Opens the dialog from the menu command and waits until the cell editor has the focus.
  EditorWindows Open() {
    EditorWindows w;
    koemado_->Command("読み方の設定");
    EXPECT_TRUE(WaitUntil([&] {
      return (w.dialog = koemado_->FindWindowOf("TdlgYomikata", "読み方の設定")) != nullptr;
    }));
    if (!w.dialog) return w;
    w.grid = FindWindowExA(w.dialog, nullptr, "TStringGrid", nullptr);
    w.editor = FindWindowExA(w.grid, nullptr, "Edit", nullptr);
    w.ok = FindChild(w.dialog, "OK");
    w.help = FindChild(w.dialog, "ヘルプ(&H)");
    w.cancel = FindChild(w.dialog, "キャンセル");
    EXPECT_TRUE(w.grid && w.editor && w.ok && w.help && w.cancel);
    EXPECT_TRUE(WaitUntil([&] { return FocusOf(w.dialog) == w.editor; }))
        << "the cell editor has the focus at every showing";
    EXPECT_FALSE(IsWindowEnabled(koemado_->Main())) << "modal";
    return w;
  }

  bool Closed(const EditorWindows& w) {
    return WaitUntil([&] { return !IsWindowVisible(w.dialog) && IsWindowEnabled(koemado_->Main()); });
  }

  // The reading the program now gives the character: the text the control is asked to speak.
  // Posted, so that it is handled after everything posted to the program before it.
  std::string Spoken(const std::string& sjis) {
    const auto before = transcript_.Speaks().size();
    koemado_->Say(sjis, /*post=*/true);
    if (!WaitUntil([&] { return transcript_.Speaks().size() > before; })) return "(nothing spoken)";
    return transcript_.Speaks().back();
  }

  std::unique_ptr<Koemado> koemado_;
};

TEST_F(EditorDialog, ShowsTheDefaultsAndOkWritesAll500Rows) {
  Start();
  const EditorWindows w = Open();
  ASSERT_TRUE(w.editor);
  // Tab walks key, reading, then the next row's key.
  EXPECT_EQ(Text(w.editor), "－");
  Key(w.editor, VK_TAB);
  EXPECT_EQ(Text(w.editor), "　");
  Key(w.editor, VK_TAB);
  EXPECT_EQ(Text(w.editor), "‥");
  Key(w.editor, VK_TAB);
  EXPECT_EQ(Text(w.editor), "　");
  Key(w.editor, VK_TAB);
  EXPECT_EQ(Text(w.editor), "");
  EXPECT_FALSE(ReadIni().has_value());

  PostMessageA(w.ok, BM_CLICK, 0, 0);
  ASSERT_TRUE(Closed(w));
  EXPECT_EQ(IniValue("読み方", "1"), "－,　");
  EXPECT_EQ(IniValue("読み方", "2"), "‥,　");
  for (const char* key : {"3", "4", "250", "499", "500"}) EXPECT_EQ(IniValue("読み方", key), ",") << key;
  EXPECT_EQ(IniValue("読み方", "501"), "");
  EXPECT_EQ(IniValue("声の設定", "速度"), "180") << "the voice values are saved with the list";
  EXPECT_EQ(koemado_->Close(), 0);
}

TEST_F(EditorDialog, TypedEntryIsSavedAndReadsTheNextCharacter) {
  Client client;
  Start();
  const EditorWindows w = Open();
  ASSERT_TRUE(w.editor);
  Key(w.editor, VK_DOWN);
  Key(w.editor, VK_DOWN);
  Type(w.editor, L"あ");
  Key(w.editor, VK_TAB);
  Type(w.editor, L"エー");
  EXPECT_EQ(Text(w.editor), "エー");

  // While the dialog is open the client is served with the list as it stood.
  EXPECT_EQ(Spoken("あ"), Utf8("あ"));
  EXPECT_FALSE(ReadIni().has_value());

  PostMessageA(w.ok, BM_CLICK, 0, 0);
  ASSERT_TRUE(Closed(w));
  EXPECT_EQ(IniValue("読み方", "3"), "あ,エー");
  EXPECT_EQ(IniValue("読み方", "1"), "－,　");
  EXPECT_EQ(Spoken("あ"), Utf8("エー"));
  EXPECT_EQ(Spoken("かあ"), Utf8("かエー"));
}

TEST_F(EditorDialog, CancelEscapeAndCloseBoxChangeNothing) {
  WriteIni("[読み方]\r\n1=あ,ア\r\n");
  const std::string file = *ReadIni();
  Start();
  struct Way {
    const char* what;
    std::function<void(const EditorWindows&)> close;
  };
  const Way ways[] = {
      {"Cancel button", [](const EditorWindows& w) { PostMessageA(w.cancel, BM_CLICK, 0, 0); }},
      {"Escape in the cell editor",
       [](const EditorWindows& w) { PostMessageA(w.editor, WM_KEYDOWN, VK_ESCAPE, 0); }},
      {"Escape on a button", [](const EditorWindows& w) { PostMessageA(w.ok, WM_KEYDOWN, VK_ESCAPE, 0); }},
      {"close box", [](const EditorWindows& w) { PostMessageA(w.dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.what);
    const EditorWindows w = Open();
    ASSERT_TRUE(w.editor);
    // The editor stands where the last showing left it: row 1 at first, row 10 afterwards.
    for (int i = 0; i < 40; ++i) Key(w.editor, VK_UP);
    Key(w.editor, VK_LEFT);
    EXPECT_EQ(Text(w.editor), "あ") << "the entry's key, not the text typed over it last time";
    Type(w.editor, L"い");
    for (int i = 0; i < 9; ++i) Key(w.editor, VK_DOWN);
    EXPECT_EQ(Text(w.editor), "") << "row 10 has no entry and shows nothing";
    Type(w.editor, L"う");

    way.close(w);
    ASSERT_TRUE(Closed(w));
    EXPECT_EQ(ReadIni(), file);
    EXPECT_EQ(Spoken("あい"), Utf8("アい"));
  }
  // The next OK saves the list as it is, without any of the text typed before.
  const EditorWindows w = Open();
  PostMessageA(w.ok, BM_CLICK, 0, 0);
  ASSERT_TRUE(Closed(w));
  EXPECT_EQ(IniValue("読み方", "1"), "あ,ア");
  EXPECT_EQ(IniValue("読み方", "10"), ",");
}

TEST_F(EditorDialog, EnterStaysInTheGridAndPressesAFocusedButton) {
  Start();
  const EditorWindows w = Open();
  ASSERT_TRUE(w.editor);
  PostMessageA(w.editor, WM_KEYDOWN, VK_RETURN, 0);
  PostMessageA(w.editor, WM_CHAR, '\r', 0);
  Spoken("か");  // handled after the keys
  EXPECT_TRUE(IsWindowVisible(w.dialog));
  EXPECT_EQ(FocusOf(w.dialog), w.editor);

  // Tab from the grid stays in the grid; from the buttons it goes OK, Help, Cancel.
  PostMessageA(w.editor, WM_KEYDOWN, VK_TAB, 0);
  Spoken("か");
  EXPECT_EQ(FocusOf(w.dialog), w.editor);
  // A press released outside the button focuses it without clicking it.
  PostMessageA(w.ok, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  PostMessageA(w.ok, WM_LBUTTONUP, 0, MAKELPARAM(static_cast<WORD>(-50), static_cast<WORD>(-50)));
  ASSERT_TRUE(WaitUntil([&] { return FocusOf(w.dialog) == w.ok; }));
  PostMessageA(w.ok, WM_KEYDOWN, VK_TAB, 0);
  ASSERT_TRUE(WaitUntil([&] { return FocusOf(w.dialog) == w.help; }));
  PostMessageA(w.help, WM_KEYDOWN, VK_TAB, 0);
  ASSERT_TRUE(WaitUntil([&] { return FocusOf(w.dialog) == w.cancel; }));
  EXPECT_TRUE(IsWindowVisible(w.dialog));

  PostMessageA(w.cancel, WM_KEYDOWN, VK_RETURN, 0);
  ASSERT_TRUE(Closed(w));
  EXPECT_FALSE(ReadIni().has_value()) << "Enter pressed Cancel, not OK";
}

// Keys as the keyboard gives them, into the foreground window: a Unicode character (as an
// on-screen keyboard or a remote session types it) or a virtual key.
void SendKeys(std::initializer_list<INPUT> inputs) {
  std::vector<INPUT> all(inputs);
  SendInput(static_cast<UINT>(all.size()), all.data(), sizeof(INPUT));
}
INPUT KeyInput(WORD vk, WORD scan, DWORD flags) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.wScan = scan;
  in.ki.dwFlags = flags;
  return in;
}
void TypeUnicode(wchar_t c) {
  SendKeys({KeyInput(0, c, KEYEVENTF_UNICODE), KeyInput(0, c, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP)});
}

// Japanese typed into the cell editor by the routes a user has, through the program's own
// message loop: the cells and the saved entries hold exactly what was typed.
TEST_F(EditorDialog, JapaneseTypedIntoTheCellEditorArrivesWhole) {
  Start();
  const EditorWindows w = Open();
  ASSERT_TRUE(w.editor);
  SetForegroundWindow(w.dialog);
  ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == w.dialog; }));
  struct Route {
    const char* what;
    std::function<void(wchar_t)> type;
  };
  const Route routes[] = {
      {"Unicode keyboard input", &TypeUnicode},
      {"an input method's commit", [&](wchar_t c) { PostMessageW(w.editor, WM_IME_CHAR, c, 1); }},
  };
  const wchar_t* typed[][2] = {{L"あ", L"ア"}, {L"漢", L"カン"}};
  int row = 1;
  for (const Route& r : routes) {
    SCOPED_TRACE(r.what);
    for (const wchar_t* cell : typed[row - 1]) {
      for (const wchar_t* c = cell; *c; ++c) r.type(*c);
      const std::string want = koe_test::Narrow(cell, koe::kShiftJisCodePage);
      EXPECT_TRUE(WaitUntil([&] { return Text(w.editor) == want; })) << Text(w.editor);
      Key(w.editor, VK_TAB);
    }
    ++row;
  }
  PostMessageA(w.ok, BM_CLICK, 0, 0);
  ASSERT_TRUE(Closed(w));
  EXPECT_EQ(IniValue("読み方", "1"), "あ,ア");
  EXPECT_EQ(IniValue("読み方", "2"), "漢,カン");
  EXPECT_EQ(koemado_->Close(), 0);
}

void PressKeys(std::initializer_list<WORD> keys) {  // held in order, released in reverse
  std::vector<INPUT> all;
  for (WORD vk : keys) all.push_back(KeyInput(vk, 0, 0));
  for (auto vk = std::rbegin(keys); vk != std::rend(keys); ++vk) all.push_back(KeyInput(*vk, 0, KEYEVENTF_KEYUP));
  SendInput(static_cast<UINT>(all.size()), all.data(), sizeof(INPUT));
}

// The keys of the dialog and of the main window, from the keyboard through the program's loop:
// Tab and Shift+Tab in the grid, the Help button's Alt+H, Escape, Alt+F4.
TEST_F(EditorDialog, KeysFromTheKeyboardKeepTheirMeaning) {
  Start();
  const EditorWindows w = Open();
  ASSERT_TRUE(w.editor);
  SetForegroundWindow(w.dialog);
  ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == w.dialog; }));
  PressKeys({VK_TAB});
  EXPECT_TRUE(WaitUntil([&] { return Text(w.editor) == "　"; })) << "Tab: the reading of row 1";
  PressKeys({VK_SHIFT, VK_TAB});
  EXPECT_TRUE(WaitUntil([&] { return Text(w.editor) == "－"; })) << "Shift+Tab: back to its key";
  PressKeys({VK_MENU, 'H'});
  const auto box = koemado_->WaitForMessageBox();
  ASSERT_TRUE(box) << "Alt+H pressed Help";
  EXPECT_NE(box->text.find("HID00000001.htm"), std::string::npos);
  koemado_->DismissMessageBox(*box);
  ASSERT_TRUE(WaitUntil([&] { return FocusOf(w.dialog) == w.help; }));
  PressKeys({VK_ESCAPE});
  ASSERT_TRUE(Closed(w)) << "Escape";
  EXPECT_FALSE(ReadIni().has_value());

  SetForegroundWindow(koemado_->Main());
  ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == koemado_->Main(); }));
  PressKeys({VK_MENU, VK_F4});
  EXPECT_EQ(koemado_->WaitExit(), 0) << "Alt+F4 closed the program";
}

// Typed while the grid itself has the focus (its current cell scrolled out of view, the editor
// with it), by the routes an input method takes into an ANSI window: every cell and saved entry
// holds exactly what was typed, and the first character replaces the cell's text. (Lead and
// trail bytes posted from another process do not arrive as posted under Wine: the grid's own
// test posts those.)
TEST_F(EditorDialog, CharactersTypedIntoTheFocusedGridArriveWhole) {
  Start();
  const EditorWindows w = Open();
  ASSERT_TRUE(w.editor);
  auto post = [](HWND grid, UINT msg, std::initializer_list<WPARAM> chars) {
    for (WPARAM c : chars) PostMessageA(grid, msg, c, 1);
  };
  struct Route {
    const char* what;
    int row;
    std::function<void(HWND grid)> type;
    const char* cell;  // Shift-JIS
    const char* entry;
  };
  const Route routes[] = {
      {"one WM_IME_CHAR", 1, [&](HWND g) { post(g, WM_IME_CHAR, {0x82A2}); }, "い", "い,　"},
      {"a commit of two characters", 3, [&](HWND g) { post(g, WM_IME_CHAR, {0x82B5, 0x82DF}); }, "しめ", "しめ,"},
      {"single-byte characters", 4, [&](HWND g) { post(g, WM_CHAR, {'X', 'y'}); }, "Xy", "Xy,"},
      {"Unicode characters", 6,
       [](HWND g) { for (wchar_t c : std::wstring(L"〆メ")) SendMessageW(g, WM_CHAR, c, 1); }, "〆メ", "〆メ,"},
  };
  int row = 1;
  for (const Route& r : routes) {
    SCOPED_TRACE(r.what);
    for (; row < r.row; ++row) Key(w.editor, VK_DOWN);
    PostMessageA(w.grid, WM_VSCROLL, SB_PAGEDOWN, 0);
    ASSERT_TRUE(WaitUntil([&] { return FocusOf(w.dialog) == w.grid; })) << "the grid has the focus";
    EXPECT_FALSE(IsWindowVisible(w.editor));
    r.type(w.grid);
    EXPECT_TRUE(WaitUntil([&] { return Text(w.editor) == r.cell; })) << Text(w.editor);
    EXPECT_TRUE(WaitUntil([&] { return FocusOf(w.dialog) == w.editor; }));
  }
  PostMessageA(w.ok, BM_CLICK, 0, 0);
  ASSERT_TRUE(Closed(w));
  for (const Route& r : routes) EXPECT_EQ(IniValue("読み方", std::to_string(r.row).c_str()), r.entry) << r.what;
  EXPECT_EQ(IniValue("読み方", "2"), "‥,　");
  EXPECT_EQ(koemado_->Close(), 0);
}

TEST_F(EditorDialog, DraggingRow5ToTheTopMakesItTheFirstEntry) {
  WriteIni("[読み方]\r\n1=あ,ア\r\n2=い,イ\r\n5=か,カ\r\n");
  Start();
  const EditorWindows w = Open();
  ASSERT_TRUE(w.editor);
  // Rows are the grid model's default height plus one line: row r starts at r × 25.
  const int row_pitch = 24 + 1;
  auto at_row = [&](int row) { return MAKELPARAM(3, row * row_pitch + row_pitch / 2); };
  PostMessageA(w.grid, WM_LBUTTONDOWN, MK_LBUTTON, at_row(5));
  PostMessageA(w.grid, WM_MOUSEMOVE, MK_LBUTTON, at_row(3));
  PostMessageA(w.grid, WM_MOUSEMOVE, MK_LBUTTON, at_row(1));
  PostMessageA(w.grid, WM_LBUTTONUP, 0, at_row(1));
  // The editor keeps its place on screen, now over the moved row.
  EXPECT_TRUE(WaitUntil([&] { return Text(w.editor) == "か"; })) << Text(w.editor);
  Key(w.editor, VK_DOWN);
  EXPECT_EQ(Text(w.editor), "あ");

  PostMessageA(w.ok, BM_CLICK, 0, 0);
  ASSERT_TRUE(Closed(w));
  EXPECT_EQ(IniValue("読み方", "1"), "か,カ");
  EXPECT_EQ(IniValue("読み方", "2"), "あ,ア");
  EXPECT_EQ(IniValue("読み方", "3"), "い,イ");
  EXPECT_EQ(IniValue("読み方", "5"), ",");
  EXPECT_EQ(IniValue("読み方", "6"), ",");
}

TEST_F(EditorDialog, ReadOnlyFileShowsTheErrorAndTheNewListIsUsedAnyway) {
  WriteIni("[読み方]\r\n1=あ,ア\r\n");
  const std::string file = *ReadIni();
  ASSERT_TRUE(SetFileAttributesA(IniPath().c_str(), FILE_ATTRIBUTE_READONLY));
  Start();
  // Wine run by root writes read-only files all the same; there the file is held open without
  // sharing instead, which is refused too (only now: the program has read it at start).
  std::unique_ptr<void, decltype(&CloseHandle)> held(nullptr, &CloseHandle);
  HANDLE probe = CreateFileA(IniPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    held.reset(CreateFileA(IniPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(held.get(), INVALID_HANDLE_VALUE);
  }
  const EditorWindows w = Open();
  ASSERT_TRUE(w.editor);
  Key(w.editor, VK_TAB);
  Type(w.editor, L"エー");
  PostMessageA(w.ok, BM_CLICK, 0, 0);

  const auto box = koemado_->WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->caption, koe::kApplicationTitle);
  EXPECT_EQ(box->text, IniPath() + " に書き込めません.") << "the full path of the settings file";
  koemado_->DismissMessageBox(*box);
  ASSERT_TRUE(Closed(w)) << "the dialog closes with OK all the same";
  held.reset();
  EXPECT_EQ(ReadIni(), file);
  EXPECT_EQ(Spoken("あ"), Utf8("エー"));

  // The next showing shows the list in use, not the file.
  const EditorWindows again = Open();
  Key(again.editor, VK_UP);
  Key(again.editor, VK_LEFT);
  EXPECT_EQ(Text(again.editor), "あ");
  Key(again.editor, VK_TAB);
  EXPECT_EQ(Text(again.editor), "エー");
  PostMessageA(again.cancel, BM_CLICK, 0, 0);
  ASSERT_TRUE(Closed(again));
}

TEST_F(EditorDialog, HelpButtonOpensTheManualAndKeepsTheDialog) {
  Start();
  const EditorWindows w = Open();
  ASSERT_TRUE(w.help);
  PostMessageA(w.help, BM_CLICK, 0, 0);
  // The test program has no manual beside it: the same error as the main window's help command.
  const auto box = koemado_->WaitForMessageBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(box->caption, koe::kApplicationTitle);
  EXPECT_NE(box->text.find("Help\\Koemado_html\\html\\HID00000001.htm"), std::string::npos) << box->text;
  koemado_->DismissMessageBox(*box);
  Spoken("か");
  EXPECT_TRUE(IsWindowVisible(w.dialog));
  // When the error box closes the dialog is active again, the focus where it was: on the button
  // that was clicked.
  EXPECT_TRUE(WaitUntil([&] {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(w.dialog, nullptr), &info);
    return info.hwndActive == w.dialog;
  }));
  EXPECT_TRUE(WaitUntil([&] { return FocusOf(w.dialog) == w.help; }));
  EXPECT_TRUE(IsWindowEnabled(w.dialog));
  PostMessageA(w.editor, WM_KEYDOWN, VK_ESCAPE, 0);
  ASSERT_TRUE(Closed(w));
  EXPECT_FALSE(ReadIni().has_value());
}

TEST_F(EditorDialog, LayoutFollowsTheDialogsSizeAndColumn2FillsAtTheNextShowing) {
  Start();
  EditorWindows w = Open();
  ASSERT_TRUE(w.editor);
  RECT client;
  GetClientRect(w.dialog, &client);
  // At the designed size the buttons stand where the layout puts them, 8 below the bar's top.
  const RECT ok = ClientRectIn(w.ok, w.dialog);
  const RECT help = ClientRectIn(w.help, w.dialog);
  const RECT cancel = ClientRectIn(w.cancel, w.dialog);
  EXPECT_EQ(std::vector<long>({ok.left, cancel.left, help.left}), std::vector<long>({296, 376, 464}));
  EXPECT_EQ(std::vector<long>({ok.right - ok.left, cancel.right - cancel.left, help.right - help.left}),
            std::vector<long>({75, 80, 75}));
  EXPECT_EQ(ok.top, client.bottom - 41 + 8);
  const RECT grid = ClientRectIn(w.grid, w.dialog);
  EXPECT_EQ(grid.right, client.right);
  EXPECT_EQ(grid.bottom, client.bottom - 41);

  // The editor on column 1 starts after the number column, which holds "500" with the margins.
  POINT editor_at{0, 0};
  MapWindowPoints(w.editor, w.grid, &editor_at, 1);
  HFONT font = CreateFontA(-13, 0, 0, 0, FW_NORMAL, 0, 0, 0, SHIFTJIS_CHARSET, 0, 0, 0, 0, "ＭＳ ゴシック");
  HDC dc = GetDC(nullptr);
  HGDIOBJ old_font = SelectObject(dc, font);
  SIZE number{};
  GetTextExtentPoint32A(dc, "500", 3, &number);
  DeleteObject(SelectObject(dc, old_font));
  ReleaseDC(nullptr, dc);
  EXPECT_GE(editor_at.x - 1, number.cx + 4);

  Key(w.editor, VK_TAB);  // onto column 2: the editor is as wide as the column
  const int column2 = Width(w.editor);

  // Wider while shown: the grid and the bar take the change, the columns stay.
  RECT outer;
  GetWindowRect(w.dialog, &outer);
  SetWindowPos(w.dialog, nullptr, 0, 0, outer.right - outer.left + 100, outer.bottom - outer.top + 30,
               SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_EQ(ClientRectIn(w.ok, w.dialog).left, 396);
  EXPECT_EQ(ClientRectIn(w.cancel, w.dialog).top, ok.top + 30);
  EXPECT_EQ(Width(w.grid), grid.right - grid.left + 100);
  EXPECT_EQ(Width(w.editor), column2);
  PostMessageA(w.cancel, BM_CLICK, 0, 0);
  ASSERT_TRUE(Closed(w));

  // The next showing widens column 2 to the new width.
  w = Open();
  EXPECT_EQ(Width(w.editor), column2 + 100);

  // Never narrower than 300 for the grid.
  SetWindowPos(w.dialog, nullptr, 0, 0, 100, outer.bottom - outer.top, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_EQ(Width(w.grid), 300);
  PostMessageA(w.cancel, BM_CLICK, 0, 0);
  ASSERT_TRUE(Closed(w));
}

BOOL CALLBACK FirstLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR out) {
  *reinterpret_cast<WORD*>(out) = language;
  return FALSE;
}

// A copy of the program (in a folder of its own, under its own name) whose manifest does not
// ask for the Japanese code page: the program as Windows before 11 runs it.
std::string ProgramWithoutItsCodePage() {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string dir = std::string(temp) + "koemado-no-code-page";
  CreateDirectoryA(dir.c_str(), nullptr);
  const std::string copy = dir + "\\Koemado.exe";
  EXPECT_TRUE(CopyFileA(PathFromEnv("KOE_TEST_EXE").c_str(), copy.c_str(), FALSE));
  HMODULE image = LoadLibraryExA(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC found = image ? FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)) : nullptr;
  std::string manifest;
  WORD language = 0;
  if (found) {
    manifest.assign(static_cast<const char*>(LockResource(LoadResource(image, found))), SizeofResource(image, found));
    EnumResourceLanguagesA(image, MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1), &FirstLanguage,
                           reinterpret_cast<LONG_PTR>(&language));
  }
  if (image) FreeLibrary(image);
  const std::size_t from = manifest.find("<activeCodePage");
  const std::size_t to = manifest.find("</activeCodePage>");
  EXPECT_TRUE(from != std::string::npos && to != std::string::npos) << manifest;
  if (from == std::string::npos || to == std::string::npos) return copy;
  manifest.erase(from, to + std::strlen("</activeCodePage>") - from);
  HANDLE update = BeginUpdateResourceA(copy.c_str(), FALSE);
  EXPECT_TRUE(update && UpdateResourceA(update, MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1), language,
                                        manifest.data(), static_cast<DWORD>(manifest.size())) &&
              EndUpdateResourceA(update, FALSE));
  return copy;
}

// Where the system's code page is UTF-8 (run by the test of that code page, under a Wine whose
// locale gives it). The program as built asks for the Japanese code page and works as anywhere.
// Where Windows does not give it that, the profile functions would write the Shift-JIS file back
// destroyed: the readings are read right and used, OK keeps the new list but leaves the file as
// it was and says why, and the voice command still saves the voice values, every other byte kept.
// Either way the cells show and take Japanese as typed.
TEST_F(EditorDialog, OnAUtf8SystemTheReadingsFileIsNeverDestroyed) {
  ASSERT_EQ(GetACP(), static_cast<UINT>(CP_UTF8))
      << "the system's code page is not UTF-8: this case needs a Wine whose Unix locale has no ANSI code page "
         "(KOE_WINE_LOCALE=hi_IN.UTF-8, made by scripts/setup.sh); it is run by the test e2e_utf8_code_page";
  const std::string file = "[読み方]\r\n1=あ,ア\r\n2=い,イ\r\n\r\n[声の設定]\r\n速度=150\r\n";
  struct Way {
    const char* what;
    std::string exe;
    bool saved;
  };
  const Way ways[] = {
      {"the program asks for the Japanese code page", PathFromEnv("KOE_TEST_EXE"), true},
      {"Windows does not give it that code page", ProgramWithoutItsCodePage(), false},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.what);
    WriteIni(file);
    const std::size_t shown = transcript_.Matching("put Volume=").size();
    koemado_ = ProgramTest::Start({"KOE_PTSVR_DIALOG=ok:200,90,100", "KOE_PTSVR_SIM_SPEED=0"}, SW_SHOWNORMAL, way.exe);
    ASSERT_TRUE(koemado_ && koemado_->Main());
    ASSERT_TRUE(transcript_.WaitForLines("put Volume=", shown + 1));
    EXPECT_EQ(Spoken("あい"), Utf8("アイ")) << "the readings are read right";

    // The dialog is found by its class alone: its caption is not this code page's text.
    koemado_->Command("読み方の設定");
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (dialog = koemado_->FindWindowOf("TdlgYomikata", nullptr)) != nullptr; }));
    const HWND ok = FindChild(dialog, "OK");
    ASSERT_TRUE(ok);
    const HWND editor = FindWindowExA(FindWindowExA(dialog, nullptr, "TStringGrid", nullptr), nullptr, "Edit", nullptr);
    ASSERT_TRUE(editor);
    EXPECT_TRUE(WaitUntil([&] { return Text(editor) == "あ"; })) << "row 1's key, as the file holds it";
    SetForegroundWindow(dialog);
    ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == dialog; }));
    TypeUnicode(L'か');  // over the selected text
    EXPECT_TRUE(WaitUntil([&] { return Text(editor) == "か"; }));
    PostMessageA(ok, BM_CLICK, 0, 0);
    if (way.saved) {
      // The save is over when the dialog goes: each key rewrites the whole file, so a read while
      // it runs may find it cut short.
      EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(dialog); })) << "OK closes the dialog";
      const std::string saved = ReadIni().value_or("");
      EXPECT_NE(saved.find("\r\n500=,"), std::string::npos) << "OK saved all 500 rows";
      EXPECT_NE(saved.find("[読み方]\r\n1=か,ア\r\n"), std::string::npos) << "as typed: " << saved.substr(0, 40);
    } else {
      const auto box = koemado_->WaitForMessageBox();
      ASSERT_TRUE(box);
      wchar_t text[1024] = {};
      GetDlgItemTextW(box->hwnd, 0xFFFF, text, 1024);
      EXPECT_EQ(std::wstring(text), koe_test::Wide(koe::ErrorBoxText(koe::ReadingsNotSavedText(CP_UTF8)),
                                                   koe::kShiftJisCodePage))
          << "the error reads right on this system";
      koemado_->DismissMessageBox(*box);
      EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(dialog); })) << "OK closes the dialog all the same";
      EXPECT_EQ(ReadIni(), file);
      EXPECT_EQ(Spoken("かい"), Utf8("アイ")) << "the new list in use";

      // While another program holds the file without sharing, the voice command cannot read it:
      // it says so and writes nothing. Once that program lets go, the next one saves.
      HANDLE held = CreateFileA(IniPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(held, INVALID_HANDLE_VALUE);
      koemado_->Command("声の設定");
      const auto refused = koemado_->WaitForMessageBox();
      CloseHandle(held);
      ASSERT_TRUE(refused) << "the voice command refused a file it could not read";
      const std::wstring named = koe_test::Wide(koe::CannotReadText(IniPath(), ""), koe::kShiftJisCodePage);
      GetDlgItemTextW(refused->hwnd, 0xFFFF, text, 1024);
      EXPECT_EQ(std::wstring(text).substr(0, named.size()), named) << "the file, then the system's reason";
      EXPECT_GT(wcslen(text), named.size() + 1);
      koemado_->DismissMessageBox(*refused);
      EXPECT_EQ(ReadIni(), file) << "byte for byte";
      koemado_->Command("声の設定");
      EXPECT_TRUE(WaitUntil([&] {
        return ReadIni() == "[読み方]\r\n1=あ,ア\r\n2=い,イ\r\n\r\n[声の設定]\r\n速度=200\r\nピッチ=90\r\n音量=100\r\n";
      })) << ReadIni().value_or("(no file)");
    }
    if (const auto box = koemado_->WaitForMessageBox(0)) ADD_FAILURE() << "a message box: " << box->text;
    EXPECT_EQ(koemado_->Close(), 0);
    DeleteIni();
  }
  DeleteFileA(ways[1].exe.c_str());
  RemoveDirectoryA(ways[1].exe.substr(0, ways[1].exe.rfind('\\')).c_str());
}

}  // namespace
}  // namespace e2e
