// The string grid as a user drives it: keys into the editor, clicks and drags on cells, numbers
// and titles; and the editor's rows written through the real profile functions and read back.
#include "stringgrid.h"

#include <windows.h>
#include <imm.h>

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "entry_format.h"
#include "errors.h"
#include "message_boxes.h"
#include "support.h"
#include "system.h"
#include "entry_join.h"

namespace {

using koe::GridCoord;
using koe::GridRect;
using koe_test::Pump;

// Holds Shift (or not) in the thread's keyboard state, as GetKeyState reports it.
void SetShift(bool down) {
  BYTE state[256];
  GetKeyboardState(state);
  state[VK_SHIFT] = down ? 0x80 : 0;
  state[VK_LSHIFT] = down ? 0x80 : 0;
  SetKeyboardState(state);
}

class StringGridTest : public testing::Test {
 protected:
  // One top-level window for all tests (showing a new one costs seconds under Wine).
  static void SetUpTestSuite() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "StringGridTestHost";
    RegisterClassA(&wc);
    host_ = CreateWindowExA(0, "StringGridTestHost", "grid", WS_OVERLAPPEDWINDOW, 10, 10, 600, 400,
                            nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ShowWindow(host_, SW_SHOW);
    Pump();
  }
  static void TearDownTestSuite() {
    DestroyWindow(host_);
    Pump();
  }

  void SetUp() override {
    ASSERT_NE(host_, nullptr);
    grid_.Create(host_, 100, RECT{0, 0, 560, 330});
    // The readings editor's shape.
    auto& m = grid_.Model();
    m.SetFixedCols(1);
    m.SetFixedRows(1);
    m.SetColCount(3);
    m.SetRowCount(501);
    EXPECT_TRUE(m.SetColWidth(0, grid_.TextWidth("WWW")));
    EXPECT_TRUE(m.SetColWidth(1, 50));
    EXPECT_TRUE(m.SetColWidth(2, m.LastColWidthToFill(grid_.ClientWidth())));
    for (int r = 1; r <= 500; ++r) EXPECT_TRUE(m.SetCell(0, r, std::to_string(r)));
    m.SetCurrent(1, 1);
    grid_.Refresh();
    SetFocus(grid_.Handle());
    Pump();
  }
  void TearDown() override {
    SetShift(false);
    DestroyWindow(grid_.Handle());
    Pump();
    fw::TheTestSeam() = {};
  }

  POINT CellCenter(int col, int row) {
    koe::PixelRect r;
    EXPECT_TRUE(grid_.Model().CellPixels(col, row, r)) << col << "," << row;
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  }
  void Mouse(UINT msg, POINT p, WPARAM keys = 0) {
    SendMessageA(grid_.Handle(), msg, keys, MAKELPARAM(p.x, p.y));
  }
  void Drag(POINT from, POINT to) {
    Mouse(WM_LBUTTONDOWN, from, MK_LBUTTON);
    Mouse(WM_MOUSEMOVE, POINT{(from.x + to.x) / 2, (from.y + to.y) / 2}, MK_LBUTTON);
    Mouse(WM_MOUSEMOVE, to, MK_LBUTTON);
    Mouse(WM_LBUTTONUP, to);
  }
  void Key(WORD vk) { SendMessageA(grid_.EditorHandle(), WM_KEYDOWN, vk, 1); }
  void Type(const std::string& text) {
    for (char c : text) SendMessageA(grid_.EditorHandle(), WM_CHAR, static_cast<BYTE>(c), 1);
  }
  std::string EditorText() {
    char buffer[256] = {};
    GetWindowTextA(grid_.EditorHandle(), buffer, sizeof buffer);
    return buffer;
  }

  static inline HWND host_ = nullptr;
  fw::StringGrid grid_;
  koe_test::MessageBoxes errors_;  // the standard error box's texts
};

TEST_F(StringGridTest, TheEditorIsOpenOnTheCurrentCellAndHasTheFocus) {
  EXPECT_TRUE(IsWindowVisible(grid_.EditorHandle()));
  EXPECT_EQ(GetFocus(), grid_.EditorHandle());
  RECT r;
  GetWindowRect(grid_.EditorHandle(), &r);
  MapWindowPoints(nullptr, grid_.Handle(), reinterpret_cast<POINT*>(&r), 2);
  koe::PixelRect cell;
  ASSERT_TRUE(grid_.Model().CellPixels(1, 1, cell));
  EXPECT_EQ(r.left, cell.left);
  EXPECT_EQ(r.top, cell.top);
  EXPECT_EQ(r.right, cell.right);
}

TEST_F(StringGridTest, TypingGoesIntoTheCellAtOnce) {
  Mouse(WM_LBUTTONDOWN, CellCenter(1, 3));
  Mouse(WM_LBUTTONUP, CellCenter(1, 3));
  Type("ab");
  EXPECT_EQ(grid_.Model().Cell(1, 3), "ab");
  // Characters as the keyboard and the input method hand them over, through the program's loop:
  // "あ" typed as a Unicode character, "ア" as an IME character (which comes back posted).
  SetForegroundWindow(host_);
  INPUT keys[2] = {};
  keys[0].type = keys[1].type = INPUT_KEYBOARD;
  keys[0].ki = {0, 0x3042, KEYEVENTF_UNICODE, 0, 0};
  keys[1].ki = {0, 0x3042, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP, 0, 0};
  ASSERT_EQ(SendInput(2, keys, sizeof(INPUT)), 2u);
  EXPECT_TRUE(koe_test::WaitUntil([&] { return grid_.Model().Cell(1, 3) == "abあ"; }, 2000));
  SendMessageW(grid_.EditorHandle(), WM_IME_CHAR, 0x30A2, 1);
  EXPECT_TRUE(koe_test::WaitUntil([&] { return grid_.Model().Cell(1, 3) == "abあア"; }, 2000))
      << grid_.Model().Cell(1, 3);
  EXPECT_TRUE(errors_.boxes.empty());
}

// With the grid itself focused (its current cell scrolled away), characters posted to it as an
// ANSI window gets them: double-byte ones as lead and trail byte.
TEST_F(StringGridTest, BytesTypedIntoTheFocusedGridJoinIntoCharacters) {
  EXPECT_TRUE(grid_.Model().SetCell(1, 1, "old"));
  grid_.Model().SetCurrent(1, 1);
  grid_.Refresh();
  SendMessageA(grid_.Handle(), WM_VSCROLL, SB_PAGEDOWN, 0);
  ASSERT_EQ(GetFocus(), grid_.Handle());
  const std::string typed = "しめX〆";
  for (char c : typed) PostMessageA(grid_.Handle(), WM_CHAR, static_cast<BYTE>(c), 1);
  Pump();
  EXPECT_EQ(grid_.Model().Cell(1, 1), typed) << "the first replaces the text, the rest follow it";
  EXPECT_EQ(GetFocus(), grid_.EditorHandle());
  EXPECT_TRUE(errors_.boxes.empty());
}

// An input method composing while the grid itself has the focus shows its composition window over
// the current cell, in the grid's font, or over the first cell in view when that one is not.
TEST_F(StringGridTest, CompositionWindowStandsOverTheCurrentCell) {
  grid_.Model().SetCurrent(2, 3);
  grid_.Refresh();
  SetFocus(grid_.Handle());
  SendMessageA(grid_.Handle(), WM_IME_STARTCOMPOSITION, 0, 0);
  HIMC context = ImmGetContext(grid_.Handle());
  ASSERT_TRUE(context);
  COMPOSITIONFORM form{};
  ASSERT_TRUE(ImmGetCompositionWindow(context, &form));
  koe::PixelRect cell;
  ASSERT_TRUE(grid_.Model().CellPixels(2, 3, cell));
  EXPECT_EQ(form.dwStyle, static_cast<DWORD>(CFS_POINT));
  EXPECT_EQ(form.ptCurrentPos.x, cell.left + 2);
  EXPECT_EQ(form.ptCurrentPos.y, cell.top + 2);
  LOGFONTA font{}, grid_font{};
  ASSERT_TRUE(ImmGetCompositionFontA(context, &font));
  GetObjectA(grid_.Font(), sizeof grid_font, &grid_font);
  EXPECT_STREQ(font.lfFaceName, grid_font.lfFaceName);
  EXPECT_EQ(font.lfHeight, grid_font.lfHeight);

  SendMessageA(grid_.Handle(), WM_VSCROLL, SB_PAGEDOWN, 0);
  SendMessageA(grid_.Handle(), WM_IME_STARTCOMPOSITION, 0, 0);
  ASSERT_TRUE(ImmGetCompositionWindow(context, &form));
  ASSERT_TRUE(grid_.Model().CellPixels(grid_.Model().LeftCol(), grid_.Model().TopRow(), cell));
  EXPECT_EQ(form.ptCurrentPos.x, cell.left + 2);
  EXPECT_EQ(form.ptCurrentPos.y, cell.top + 2);
  ImmReleaseContext(grid_.Handle(), context);
}

TEST_F(StringGridTest, MovingToACellSelectsItsTextSoTypingReplacesIt) {
  EXPECT_TRUE(grid_.Model().SetCell(2, 4, "old"));
  grid_.Model().SetCurrent(1, 4);
  grid_.Refresh();
  Key(VK_TAB);
  EXPECT_EQ(grid_.Model().Current(), (GridCoord{2, 4}));
  EXPECT_EQ(EditorText(), "old");
  DWORD start = 9, end = 9;
  SendMessageA(grid_.EditorHandle(), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
               reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(start, 0u);
  EXPECT_EQ(end, 3u);
  Key(VK_RETURN);  // Enter: whole text → none selected
  SendMessageA(grid_.EditorHandle(), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
               reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(start, end);
  Key(VK_RETURN);  // and back
  SendMessageA(grid_.EditorHandle(), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
               reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(end - start, 3u);
  Type("x");
  EXPECT_EQ(grid_.Model().Cell(2, 4), "x");
}

TEST_F(StringGridTest, TabWrapsBothWaysAndNeverLeavesTheGrid) {
  grid_.Model().SetCurrent(2, 500);
  grid_.Refresh();
  Key(VK_TAB);
  EXPECT_EQ(grid_.Model().Current(), (GridCoord{1, 1}));
  EXPECT_EQ(grid_.Model().TopRow(), 1);
  SetShift(true);
  Key(VK_TAB);
  SetShift(false);
  EXPECT_EQ(grid_.Model().Current(), (GridCoord{2, 500}));
  EXPECT_GT(grid_.Model().TopRow(), 400) << "scrolled to the current cell";

  // Through a dialog's key handling: the editor keeps Tab and Escape for itself.
  std::vector<WORD> seen;
  grid_.OnKeyDown = [&](WORD& key, UINT) { seen.push_back(key); };
  for (WORD vk : {WORD{VK_TAB}, WORD{VK_ESCAPE}}) {
    MSG msg{grid_.EditorHandle(), WM_KEYDOWN, vk, 1, 0, {}};
    ASSERT_TRUE(IsDialogMessageA(host_, &msg));
  }
  EXPECT_EQ(seen, (std::vector<WORD>{VK_TAB, VK_ESCAPE}));
  EXPECT_EQ(grid_.Model().Current(), (GridCoord{1, 1}));
  EXPECT_EQ(GetFocus(), grid_.EditorHandle());
}

TEST_F(StringGridTest, KeysReachOnKeyDownFromTheEditorAndAZeroedKeyIsSwallowed) {
  struct Seen {
    WORD key;
    UINT shift;
  };
  std::vector<Seen> seen;
  grid_.OnKeyDown = [&](WORD& key, UINT shift) {
    seen.push_back({key, shift});
    if (key == VK_DOWN) key = 0;
  };
  Key(VK_ESCAPE);
  SetShift(true);
  Key(VK_DOWN);
  SetShift(false);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].key, VK_ESCAPE);
  EXPECT_EQ(seen[1].key, VK_DOWN);
  EXPECT_EQ(seen[1].shift, static_cast<UINT>(fw::kShiftKey));
  EXPECT_EQ(grid_.Model().Current(), (GridCoord{1, 1})) << "the swallowed Down did not move";
}

TEST_F(StringGridTest, AnErrorInAHandlerReachesTheErrorBoxNotTheSystem) {
  grid_.OnKeyDown = [](WORD&, UINT) { throw fw::EInvalidOperation("失敗しました"); };
  Key('A');
  ASSERT_EQ(errors_.boxes.size(), 1u);
  EXPECT_EQ(errors_.boxes[0].text, "失敗しました.");
}

TEST_F(StringGridTest, ArrowsMoveAndShiftArrowsSelectABlock) {
  Key(VK_DOWN);
  Key(VK_RIGHT);  // whole text selected (empty cell): moves right
  EXPECT_EQ(grid_.Model().Current(), (GridCoord{2, 2}));
  SetShift(true);
  Key(VK_DOWN);
  Key(VK_DOWN);
  Key(VK_LEFT);
  SetShift(false);
  EXPECT_EQ(grid_.Model().Selection(), (GridRect{1, 2, 2, 4}));

  // Inside a text Left and Right move the caret, not the cell.
  EXPECT_TRUE(grid_.Model().SetCell(1, 6, "abc"));
  grid_.Model().SetCurrent(1, 6);
  grid_.Refresh();
  SendMessageA(grid_.EditorHandle(), EM_SETSEL, 1, 1);
  Key(VK_LEFT);
  Key(VK_RIGHT);
  EXPECT_EQ(grid_.Model().Current(), (GridCoord{1, 6}));
}

TEST_F(StringGridTest, DraggingOverCellsSelectsABlock) {
  Drag(CellCenter(1, 2), CellCenter(2, 5));
  EXPECT_EQ(grid_.Model().Selection(), (GridRect{1, 2, 2, 5}));
  Mouse(WM_LBUTTONDOWN, CellCenter(2, 3), MK_SHIFT);
  Mouse(WM_LBUTTONUP, CellCenter(2, 3));
  EXPECT_EQ(grid_.Model().Selection(), (GridRect{1, 2, 2, 3})) << "shift+click extends";
}

TEST_F(StringGridTest, DraggingNumberCellFiveToRowOneMovesTheRow) {
  for (int r = 1; r <= 6; ++r) EXPECT_TRUE(grid_.Model().SetCell(1, r, std::string("k").append(std::to_string(r))));
  Drag(CellCenter(0, 5), CellCenter(0, 1));
  const char* expected[] = {"5", "1", "2", "3", "4", "6"};
  for (int r = 1; r <= 6; ++r) {
    EXPECT_EQ(grid_.Model().Cell(0, r), expected[r - 1]) << "row " << r;
    EXPECT_EQ(grid_.Model().Cell(1, r), std::string("k").append(expected[r - 1])) << "row " << r;
  }
  EXPECT_EQ(EditorText(), "k5") << "the editor shows the cell that now stands at (1, 1)";
}

TEST_F(StringGridTest, DraggingATitleBorderResizesTheColumn) {
  int left = 0, right = 0;
  ASSERT_TRUE(grid_.Model().ColSpan(1, left, right));
  Drag(POINT{right, 5}, POINT{right + 30, 5});
  EXPECT_EQ(grid_.Model().ColWidth(1), 80);
  // A drag between data cells changes no width.
  ASSERT_TRUE(grid_.Model().ColSpan(1, left, right));
  Drag(POINT{right, CellCenter(1, 3).y}, POINT{right + 30, CellCenter(1, 3).y});
  EXPECT_EQ(grid_.Model().ColWidth(1), 80);
}

TEST_F(StringGridTest, ScrollBarsScrollAndTheEditorFollowsItsCell) {
  SCROLLINFO info{sizeof info, SIF_ALL, 0, 0, 0, 0, 0};
  ASSERT_TRUE(GetScrollInfo(grid_.Handle(), SB_VERT, &info));
  EXPECT_EQ(info.nMax, 499);
  EXPECT_GT(info.nPage, 0u);
  SendMessageA(grid_.Handle(), WM_VSCROLL, SB_PAGEDOWN, 0);
  EXPECT_EQ(grid_.Model().TopRow(), 1 + static_cast<int>(info.nPage));
  EXPECT_FALSE(IsWindowVisible(grid_.EditorHandle())) << "row 1 is scrolled away";
  SendMessageA(grid_.Handle(), WM_VSCROLL, SB_TOP, 0);
  EXPECT_TRUE(IsWindowVisible(grid_.EditorHandle()));
  SendMessageA(grid_.Handle(), WM_VSCROLL, SB_BOTTOM, 0);
  EXPECT_EQ(grid_.Model().TopRow(), grid_.Model().MaxTopRow(grid_.ClientHeight()));
  SendMessageA(grid_.Handle(), WM_VSCROLL, SB_TOP, 0);

  // The wheel, from the mouse over the grid: a notch scrolls the rows of the mouse settings, and a
  // touchpad turns it in parts of a notch, which add up.
  UINT lines = 3;
  SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
  const int notch = lines == WHEEL_PAGESCROLL ? grid_.Model().FullyVisibleRows(grid_.ClientHeight())
                                              : static_cast<int>(lines);
  SetForegroundWindow(host_);
  POINT over = CellCenter(1, 2);
  ClientToScreen(grid_.Handle(), &over);
  SetCursorPos(over.x, over.y);
  auto wheel = [](int delta) {
    INPUT in{};
    in.type = INPUT_MOUSE;
    in.mi.mouseData = static_cast<DWORD>(delta);
    in.mi.dwFlags = MOUSEEVENTF_WHEEL;
    SendInput(1, &in, sizeof in);
    Pump();
  };
  const int half_a_row = WHEEL_DELTA / (2 * notch);
  wheel(-half_a_row);
  EXPECT_EQ(grid_.Model().TopRow(), 1) << "half a row";
  wheel(-half_a_row);
  EXPECT_EQ(grid_.Model().TopRow(), 2);
  wheel(-2 * WHEEL_DELTA);
  EXPECT_EQ(grid_.Model().TopRow(), 2 + 2 * notch);
  wheel(WHEEL_DELTA);
  EXPECT_EQ(grid_.Model().TopRow(), 2 + notch);
}

TEST_F(StringGridTest, PaintsFixedCellsLinesAndTheSelectedBlock) {
  Drag(CellCenter(1, 2), CellCenter(2, 4));
  UpdateWindow(grid_.Handle());
  HDC dc = GetDC(grid_.Handle());
  auto pixel = [&](POINT p) { return GetPixel(dc, p.x, p.y); };
  const POINT title = CellCenter(2, 0);
  const POINT number = CellCenter(0, 7);
  koe::PixelRect plain;
  ASSERT_TRUE(grid_.Model().CellPixels(1, 8, plain));
  EXPECT_EQ(pixel(title), GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(pixel(number), GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(pixel(CellCenter(1, 3)), GetSysColor(COLOR_HIGHLIGHT)) << "inside the block";
  EXPECT_EQ(pixel(POINT{plain.left + 3, plain.top + 3}), GetSysColor(COLOR_WINDOW));
  EXPECT_NE(pixel(POINT{plain.right, plain.top + 3}), GetSysColor(COLOR_WINDOW)) << "line after a cell";
  ReleaseDC(grid_.Handle(), dc);
}

// --- the editor's rows through the settings file ----------------------------------------

std::string WindowsDirectoryFile(const char* name) {
  char buffer[MAX_PATH];
  const UINT length = GetWindowsDirectoryA(buffer, sizeof buffer);
  return std::string(buffer, length) + "\\" + name;
}

std::vector<std::string> ThroughProfile(const std::string& file, const std::string& entry) {
  EXPECT_TRUE(WritePrivateProfileStringA("読み方", "1", entry.c_str(), file.c_str()));
  char buffer[2048] = {};
  GetPrivateProfileStringA("読み方", "1", "", buffer, sizeof buffer, file.c_str());
  return koe::SplitEntry(buffer);
}

TEST(EditorRowThroughProfile, AwkwardCellsComeBackAsTheyWere) {
  const std::string file = WindowsDirectoryFile("StringGridJoinTest.ini");
  DeleteFileA(file.c_str());
  const std::vector<std::string> cells[] = {
      {"a b", "c d"}, {"'a", "b'"}, {"a b", "c\""}, {"\"", "\""}, {" x ", ""}, {"亜", "あ, い"},
      {"－", "　"},
  };
  for (const auto& pair : cells) EXPECT_EQ(ThroughProfile(file, koe::JoinEntryCells(pair[0], pair[1])), pair);

  std::mt19937 rng(4711);
  const std::vector<std::string> units = {"あ", "ア", "ソ", "表", "－", "　", " ", "\t", "\x01",
                                          "\x1f", ",", "\"", "'", "a", "Z"};
  std::uniform_int_distribution<int> length(0, 5);
  std::uniform_int_distribution<std::size_t> pick(0, units.size() - 1);
  auto random_cell = [&] {
    std::string cell;
    for (int n = length(rng); n > 0; --n) cell += units[pick(rng)];
    return cell;
  };
  for (int i = 0; i < 400; ++i) {
    const std::vector<std::string> pair{random_cell(), random_cell()};
    const std::string entry = koe::JoinEntryCells(pair[0], pair[1]);
    ASSERT_EQ(ThroughProfile(file, entry), pair) << "entry [" << entry << "]";
  }
  DeleteFileA(file.c_str());
}

}  // namespace
