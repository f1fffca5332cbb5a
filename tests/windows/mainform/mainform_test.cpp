// The main window as the program builds it, in-process with the real speech control: its menu
// bar (which Wine does not let another process read), its action list and its layout.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KMDIni.h"
#include "MenuCommands.h"
#include "PTSVRLib_TLB.h"
#include "Version.h"
#include "application.h"
#include "dlgYOMI.h"
#include "main.h"
#include "support.h"

using fw::Application;

namespace {

class MainWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(koe_test::CallControlEntry("PtSvr.ocx", "DllRegisterServer"), S_OK);
    koe_test::DeleteIni(kIni);
    KMDIni_Initialize();
    Application.Initialize();
    Application.SetTitle(koe::kApplicationTitle);
    Application.CreateForm(MainForm);
    Application.CreateForm(AboutBox);
    Application.CreateForm(dlgYomikata);
    MainForm->Show();
  }
  static void TearDownTestSuite() {
    Application.DestroyForms();
    KMDIni_Finalize();
    Application.Uninitialize();
    koe_test::DeleteIni(kIni);
  }
  static constexpr char kIni[] = "mainform_test.ini";
};

std::string MenuText(HMENU menu, int pos) {
  char buf[256] = {};
  GetMenuStringA(menu, static_cast<UINT>(pos), buf, sizeof buf, MF_BYPOSITION);
  return buf;
}

struct Item {
  std::string caption;  // "" for a separator
  MenuCommand command;  // Separator: a drop-down (or a separator)
  std::vector<Item> children;
};
constexpr MenuCommand kDropDown = MenuCommand::Separator;

void ExpectMenu(HMENU menu, const std::vector<Item>& want, const std::string& path) {
  ASSERT_EQ(GetMenuItemCount(menu), static_cast<int>(want.size())) << path;
  for (int i = 0; i < static_cast<int>(want.size()); ++i) {
    const Item& w = want[i];
    SCOPED_TRACE(path + "/" + w.caption);
    EXPECT_EQ(MenuText(menu, i), w.caption);
    if (w.caption.empty()) {
      EXPECT_TRUE(GetMenuState(menu, i, MF_BYPOSITION) & MF_SEPARATOR);
    } else if (w.command == kDropDown) {
      ASSERT_TRUE(GetSubMenu(menu, i));
      ExpectMenu(GetSubMenu(menu, i), w.children, path + "/" + w.caption);
    } else {
      EXPECT_EQ(GetSubMenu(menu, i), nullptr) << "acts at once";
      EXPECT_EQ(GetMenuItemID(menu, i), static_cast<UINT>(w.command));
    }
  }
}

// The commands are those the end-to-end client sends for each caption.
TEST_F(MainWindow, MenuBarHasTheCommandsByCaption) {
  ExpectMenu(GetMenu(MainForm->Handle()),
             {{"終了", MenuCommand::Close, {}},
              {"設定", kDropDown, {{"声の設定", MenuCommand::Voiseproperty, {}}, {"読み方の設定", MenuCommand::Yomikata, {}}}},
              {"ヘルプ",
               kDropDown,
               {{"目次", MenuCommand::Help, {}},
                {"バージョン情報", MenuCommand::Version, {}},
                {"", kDropDown, {}},
                {"コントロールバージョン", MenuCommand::OCXVer, {}},
                {"合成エンジンバージョン", MenuCommand::EnginVer, {}}}}},
             "");
}

TEST_F(MainWindow, ActionListHoldsTheSevenActionsInOrder) {
  const std::vector<std::string> want = {"終了", "バージョン情報", "コントロールバージョン",
                                         "合成エンジンバージョン", "声の設定", "読み方の設定", "目次"};
  ASSERT_EQ(MainForm->ActionList1.Count(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(MainForm->ActionList1.At(i)->Caption, want[i]);
}

TEST_F(MainWindow, ToolBarHoldsTheControlAndTheStatusBarSitsBelow) {
  char cls[64] = {};
  GetClassNameA(MainForm->Handle(), cls, sizeof cls);
  EXPECT_STREQ(cls, koe::kMainWindowClass);
  RECT client{};
  GetClientRect(MainForm->Handle(), &client);
  // 242 wide outside: 234 inside with the frames of Windows 7 (and Wine), less with wider ones.
  RECT frame{0, 0, 0, 0};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrA(MainForm->Handle(), GWL_STYLE)), TRUE,
                     static_cast<DWORD>(GetWindowLongPtrA(MainForm->Handle(), GWL_EXSTYLE)));
  EXPECT_EQ(client.right, 242 - (frame.right - frame.left));

  auto child_rect = [](HWND child, HWND parent) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
  };
  const RECT bar = child_rect(MainForm->ToolBar1.Handle(), MainForm->Handle());
  EXPECT_EQ(bar.top, 0);
  EXPECT_EQ(bar.bottom - bar.top, 34);
  EXPECT_EQ(bar.right - bar.left, client.right);

  ASSERT_TRUE(MainForm->PtSvr->Handle());
  EXPECT_EQ(GetParent(MainForm->PtSvr->Handle()), MainForm->ToolBar1.Handle());
  const RECT ctl = child_rect(MainForm->PtSvr->Handle(), MainForm->ToolBar1.Handle());
  EXPECT_EQ(ctl.left, 0);
  EXPECT_EQ(ctl.top, 2);
  EXPECT_EQ(ctl.right - ctl.left, 160);
  EXPECT_EQ(ctl.bottom - ctl.top, 30);

  const RECT status = child_rect(MainForm->StatusBar1.Handle(), MainForm->Handle());
  EXPECT_EQ(status.bottom, client.bottom);
  EXPECT_EQ(status.bottom - status.top, 19);
  char text[16] = "x";
  GetWindowTextA(MainForm->StatusBar1.Handle(), text, sizeof text);
  EXPECT_STREQ(text, "");
}

// OLE, not COM alone, is initialised at start-up: what needs it (here the clipboard) works.
TEST_F(MainWindow, StartUpInitialisesOle) {
  IDataObject* data = nullptr;
  EXPECT_EQ(OleGetClipboard(&data), S_OK);
  if (data) data->Release();
}

// Frames or a caption grown while the program runs (the user chose larger text) take room from
// the bars: the window grows by what they need when the system says its metrics changed.
TEST_F(MainWindow, ChangedWindowMetricsMakeRoomForTheBarsAgain) {
  const HWND main = MainForm->Handle();
  RECT outer{};
  GetWindowRect(main, &outer);
  SetWindowPos(main, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top - 10,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  // As the system tells every top-level window (it is sent: it carries a text).
  SendMessageA(main, WM_SETTINGCHANGE, SPI_SETNONCLIENTMETRICS, reinterpret_cast<LPARAM>("WindowMetrics"));
  RECT client{};
  GetClientRect(main, &client);
  EXPECT_EQ(client.bottom, 34 + 19);
}

// The about box's labels show their whole text in their font, inside the panel's bevel, and the
// panel keeps its margin inside the dialog, however wide the system draws the System font.
TEST_F(MainWindow, AboutBoxLabelsShowTheirWholeTextInsideThePanel) {
  auto rect = [](HWND w) {
    RECT r{};
    GetWindowRect(w, &r);
    return r;
  };
  const RECT panel = rect(AboutBox->Panel1.Handle());
  for (const fw::Label* label : {&AboutBox->ProductName, &AboutBox->Version, &AboutBox->Copyright}) {
    wchar_t text[256] = {};
    const int length = GetWindowTextW(label->Handle(), text, 256);
    HDC dc = GetDC(label->Handle());
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(label->Handle(), WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32W(dc, text, length, &extent);
    SelectObject(dc, old);
    ReleaseDC(label->Handle(), dc);
    const RECT r = rect(label->Handle());
    SCOPED_TRACE(koe_test::Narrow(text, CP_UTF8));
    EXPECT_GE(r.right - r.left, extent.cx) << "the label is as wide as its text";
    EXPECT_LE(r.right, panel.right - 2) << "inside the panel's bevel";
  }
  RECT client{};
  GetClientRect(AboutBox->Handle(), &client);
  MapWindowPoints(AboutBox->Handle(), nullptr, reinterpret_cast<POINT*>(&client), 2);
  EXPECT_EQ(client.right - panel.right, 8) << "the panel's margin in the dialog";
}

// Both bytes of a character, posted to the focused cell editor as an input method hands them to
// a program that is not Unicode, reach the cell whole through the program's own modal loop.
TEST_F(MainWindow, BytesPostedToTheReadingsEditorArriveWholeThroughTheModalLoop) {
  const std::string typed = "あ";
  for (char c : typed)
    PostMessageA(dlgYomikata->StringGrid1.EditorHandle(), WM_CHAR, static_cast<BYTE>(c), 1);
  PostMessageA(dlgYomikata->BtnOK.Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(dlgYomikata->ShowModal(), fw::mrOk);
  EXPECT_EQ(dlgYomikata->StringGrid1.Model().Cell(1, 1), typed);
  EXPECT_EQ(koe_test::IniValue("読み方", "1", kIni), typed + ",　");
}

}  // namespace
