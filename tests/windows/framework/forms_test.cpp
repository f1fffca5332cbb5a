// Forms, menus and actions, the message loops and the standard error box, as a user sees them.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "application.h"
#include "controls.h"
#include "errors.h"
#include "forms.h"
#include "support.h"
#include "system.h"

namespace {

using fw::Application;
using koe_test::Pump;

fw::FormLayout Layout(const char* class_name, bool dialog = false) {
  fw::FormLayout layout;
  layout.class_name = class_name;
  layout.caption = "テスト";
  layout.left = 100;
  layout.top = 100;
  layout.width = 300;
  layout.height = 200;
  layout.border = dialog ? fw::BorderStyle::Dialog : fw::BorderStyle::Sizeable;
  layout.font = {"ＭＳ Ｐゴシック", -12, SHIFTJIS_CHARSET};
  return layout;
}

struct Box {
  HWND owner;
  std::string text, caption;
  UINT type;
};

// Records the standard error boxes instead of showing them.
class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application.SetTitle("Koemado V2.0");
    fw::TheTestSeam().message_box = [this](HWND owner, const std::string& text,
                                           const std::string& caption, UINT type) {
      boxes.push_back({owner, text, caption, type});
      return IDOK;
    };
  }
  void TearDown() override {
    fw::TheTestSeam() = {};
    Application.DestroyForms();
  }
  std::vector<Box> boxes;
};

// ---- the standard error box ----

TEST_F(FrameworkTest, HandlerErrorsStopAtTheWindowProcedureAndShowTheStandardBox) {
  fw::Form form(Layout("TTestThrowing"));
  struct Case {
    const char* name;
    std::function<void()> raise;
    const char* shown;
  };
  const Case cases[] = {
      {"own error", [] { throw fw::EInvalidOperation("失敗しました"); }, "失敗しました."},
      {"message already ending in a full stop", [] { throw fw::EInvalidOperation("done."); }, "done."},
      {"COM error", [] { fw::OleCheck(static_cast<HRESULT>(0x8004ABCD)); }, "OLE エラー 8004abcd."},
      {"standard exception", [] { throw std::runtime_error("bad"); }, "bad."},
      {"anything else", [] { throw 42; }, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    boxes.clear();
    form.SetMessageHandler(WM_APP, [&](fw::Message&) { c.raise(); });
    ::SendMessageA(form.Handle(), WM_APP, 0, 0);  // returns: nothing crossed the procedure
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, Application.Handle());
    EXPECT_EQ(boxes[0].caption, "Koemado V2.0");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONSTOP));
    if (c.shown) {
      EXPECT_EQ(boxes[0].text, c.shown);
    }
    EXPECT_FALSE(boxes[0].text.empty());
  }
}

TEST_F(FrameworkTest, ApplicationWindowCarriesTheTitle) {
  char text[64] = {};
  ::GetWindowTextA(Application.Handle(), text, sizeof text);
  EXPECT_STREQ(text, "Koemado V2.0");
  char class_name[64] = {};
  ::GetClassNameA(Application.Handle(), class_name, sizeof class_name);
  EXPECT_STREQ(class_name, "TApplication");
}

// ---- menus and actions ----

struct MenuForm : fw::Form {
  MenuForm() : fw::Form(Layout("TTestMenu")) {
    close = actions.Add("終了", [this] { ran.push_back("close"); });
    voice = actions.Add("声の設定", [this] { ran.push_back("voice"); });
    help = actions.Add("目次", [this] { ran.push_back("help"); });
    failing = actions.Add("失敗", [] { throw fw::EInvalidOperation("できません"); });
    menu.Add(close, 201);
    fw::MenuItem* settings = menu.Add("設定");
    settings->Add(voice, 202);
    settings->Add("-");
    settings->Add(help, 203);
    settings->Add(failing, 204);
    SetMenu(menu);
  }
  fw::ActionList actions;
  fw::Action *close, *voice, *help, *failing;
  fw::MainMenu menu;
  std::vector<std::string> ran;
};

// A form's menu is usually a member of the derived form, so it ends before the form does: from
// then on the form must leave its storage alone.
TEST_F(FrameworkTest, FormOutlivingItsMenuLeavesTheMenusStorageAlone) {
  alignas(fw::MainMenu) unsigned char storage[sizeof(fw::MainMenu)];
  auto form = std::make_unique<fw::Form>(Layout("TTestMenuOwner"));
  auto* menu = new (storage) fw::MainMenu;
  menu->Add("終了");
  form->SetMenu(*menu);
  menu->~MainMenu();
  EXPECT_EQ(::GetMenu(form->Handle()), nullptr);
  std::memset(storage, 0xA5, sizeof storage);
  form.reset();
  EXPECT_EQ(std::count(std::begin(storage), std::end(storage), 0xA5), static_cast<std::ptrdiff_t>(sizeof storage));
}

std::string MenuText(HMENU menu, int position) {
  char text[64] = {};
  ::GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
  return text;
}

TEST_F(FrameworkTest, MenuShowsActionCaptionsAndTopLevelActionHasNoDropDown) {
  MenuForm form;
  HMENU bar = ::GetMenu(form.Handle());
  ASSERT_EQ(::GetMenuItemCount(bar), 2);
  EXPECT_EQ(MenuText(bar, 0), "終了");
  EXPECT_EQ(::GetSubMenu(bar, 0), nullptr);
  EXPECT_EQ(MenuText(bar, 1), "設定");
  HMENU settings = ::GetSubMenu(bar, 1);
  ASSERT_NE(settings, nullptr);
  ASSERT_EQ(::GetMenuItemCount(settings), 4);
  EXPECT_EQ(MenuText(settings, 0), "声の設定");
  EXPECT_TRUE(::GetMenuState(settings, 1, MF_BYPOSITION) & MF_SEPARATOR);
  EXPECT_EQ(MenuText(settings, 2), "目次");
}

TEST_F(FrameworkTest, ChoosingAMenuItemRunsItsActionOnly) {
  MenuForm form;
  HMENU bar = ::GetMenu(form.Handle());
  HMENU settings = ::GetSubMenu(bar, 1);
  struct Case {
    UINT command;
    std::vector<std::string> ran;
    size_t boxes;
  };
  EXPECT_EQ(::GetMenuItemID(bar, 0), 201u);
  EXPECT_EQ(::GetMenuItemID(settings, 0), 202u);
  EXPECT_EQ(::GetMenuItemID(settings, 2), 203u);
  const Case cases[] = {
      {201, {"close"}, 0},
      {202, {"voice"}, 0},
      {203, {"help"}, 0},
      {204, {}, 1},   // its error reaches the standard box
      {9999, {}, 0},  // no such item
      {0, {}, 0},     // a separator's or drop-down's id
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    form.ran.clear();
    boxes.clear();
    ::SendMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(c.command, 0), 0);
    EXPECT_EQ(form.ran, c.ran);
    EXPECT_EQ(boxes.size(), c.boxes);
  }
}

// ---- showing ----

TEST_F(FrameworkTest, OnShowRunsBeforeTheWindowIsVisibleOncePerShowing) {
  fw::Form form(Layout("TTestShow"));
  std::vector<std::string> events;
  form.OnCreateChildWindows = [&] { events.push_back("children"); };
  form.OnShow = [&] {
    events.push_back(::IsWindowVisible(form.Handle()) ? "show-visible" : "show-hidden");
  };
  form.Show();
  EXPECT_TRUE(::IsWindowVisible(form.Handle()));
  form.Show();  // already shown: no second OnShow
  form.Hide();
  form.Show();
  EXPECT_EQ(events, (std::vector<std::string>{"children", "show-hidden", "children", "show-hidden"}));
}

TEST_F(FrameworkTest, OnShowErrorGoesToTheBoxAndTheWindowIsShownAllTheSame) {
  fw::Form form(Layout("TTestShowError"));
  form.OnShow = [] { throw fw::EOleSysError("書き込めません", E_FAIL); };
  form.Show();
  EXPECT_TRUE(::IsWindowVisible(form.Handle()));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "書き込めません.");
}

TEST_F(FrameworkTest, ChildWindowErrorLeavesShowAndTheWindowStaysHidden) {
  fw::Form form(Layout("TTestChildError"));
  bool shown = false;
  form.OnCreateChildWindows = [] { throw fw::EOleError("OLE コントロールのアクティベートに失敗しました"); };
  form.OnShow = [&] { shown = true; };
  EXPECT_THROW(form.Show(), fw::EOleError);
  EXPECT_FALSE(shown);
  EXPECT_FALSE(::IsWindowVisible(form.Handle()));
  EXPECT_TRUE(boxes.empty());
}

TEST_F(FrameworkTest, AlignedBarsTakeTheTopAndBottomOfTheClientArea) {
  fw::Form form(Layout("TTestAlign"));
  fw::ToolBar tool_bar(form, 34);
  fw::StatusBar status_bar(form, 19);
  RECT client;
  ::GetClientRect(form.Handle(), &client);
  auto placed = [&](HWND child) {
    RECT r;
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(nullptr, form.Handle(), reinterpret_cast<POINT*>(&r), 2);
    return r;
  };
  const RECT top = placed(tool_bar.Handle());
  EXPECT_EQ(top.top, 0);
  EXPECT_EQ(top.bottom, 34);
  EXPECT_EQ(top.right - top.left, client.right);
  const RECT bottom = placed(status_bar.Handle());
  EXPECT_EQ(bottom.bottom, client.bottom);
  EXPECT_EQ(bottom.bottom - bottom.top, 19);
}

LRESULT CALLBACK PassThrough(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, UINT_PTR, DWORD_PTR) {
  return ::DefSubclassProc(hwnd, msg, wparam, lparam);
}

// A handler of the message table takes the place of the default handling, unless it passes the
// message on; either way the form is found by its window, also after something subclassed it.
TEST_F(FrameworkTest, HandlersReplaceOrPassOnTheDefaultAlsoOnASubclassedForm) {
  struct Case {
    const char* what;
    bool subclassed;
    bool pass_on;
  };
  const Case cases[] = {{"handled", false, false}, {"passed on", false, true},
                        {"passed on, form subclassed", true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fw::Form form(Layout("TTestPassOn"));
    fw::StatusBar status_bar(form, 19);
    int handled = 0;
    form.SetMessageHandler(WM_SIZE, [&](fw::Message& message) {
      ++handled;
      if (c.pass_on) message.Default();
    });
    if (c.subclassed) {
      ASSERT_TRUE(::SetWindowSubclass(form.Handle(), &PassThrough, 1, 0));
    }
    EXPECT_EQ(fw::Window::FromHandle(form.Handle()), &form);
    ::SetWindowPos(form.Handle(), nullptr, 0, 0, 400, 300, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(handled, 1);
    RECT client, bar;
    ::GetClientRect(form.Handle(), &client);
    ::GetWindowRect(status_bar.Handle(), &bar);
    ::MapWindowPoints(nullptr, form.Handle(), reinterpret_cast<POINT*>(&bar), 2);
    EXPECT_EQ(bar.bottom == client.bottom, c.pass_on) << "the bars follow only when passed on";
    if (c.subclassed) ::RemoveWindowSubclass(form.Handle(), &PassThrough, 1);
  }
  EXPECT_EQ(fw::Window::FromHandle(Application.Handle()) != nullptr, true) << "ours too";
  EXPECT_EQ(fw::Window::FromHandle(::GetDesktopWindow()), nullptr);
}

// ---- modal showing ----

// A dialog with an OK button (default, modal result OK) and optionally a cancel button.
struct DialogForm : fw::Form {
  explicit DialogForm(bool with_cancel)
      : fw::Form(Layout("TTestDialog", true)),
        ok(*this, Handle(), "OK", 10, 10, 75, 25, {.modal_result = fw::mrOk, .is_default = true}) {
    if (with_cancel)
      cancel = std::make_unique<fw::Button>(*this, Handle(), "キャンセル", 100, 10, 75, 25,
                                            fw::Button::Options{.modal_result = fw::mrCancel,
                                                                .is_cancel = true});
  }
  fw::Button ok;
  std::unique_ptr<fw::Button> cancel;
};

TEST_F(FrameworkTest, ModalLoopKeepsDispatchingToOtherWindowsAndReturnsTheResult) {
  fw::Form other(Layout("TTestOther"));
  other.Show();
  struct Case {
    const char* name;
    bool with_cancel;
    UINT msg;  // posted to the dialog's focused button (keys) or the dialog
    WPARAM wparam;
    int result;
  };
  const Case cases[] = {
      {"OK button clicked", false, BM_CLICK, 0, fw::mrOk},
      {"Enter presses the default button", false, WM_KEYDOWN, VK_RETURN, fw::mrOk},
      {"Esc presses the cancel button", true, WM_KEYDOWN, VK_ESCAPE, fw::mrCancel},
      {"Esc without a cancel button does nothing", false, WM_KEYDOWN, VK_ESCAPE, 42},
      {"title-bar close", false, WM_CLOSE, 0, fw::mrCancel},
      // Sent, not posted, from another thread, as another program or an accessibility tool
      // clicks: nothing else is queued, yet the loop must end.
      {"OK button clicked from another thread", false, BM_CLICK, 1, fw::mrOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DialogForm dialog(c.with_cancel);
    int other_got = 0;
    bool other_enabled_meanwhile = true;
    other.SetMessageHandler(WM_APP, [&](fw::Message&) {
      ++other_got;
      other_enabled_meanwhile = ::IsWindowEnabled(other.Handle()) != FALSE;
    });
    // Still open after the key or click when nothing closed it: end with a result of our own.
    dialog.SetMessageHandler(WM_APP + 1, [&](fw::Message&) {
      if (dialog.ModalResult() == fw::mrNone) dialog.SetModalResult(42);
    });
    const HANDLE returned = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread clicker;
    std::atomic<bool> woken_late{false};
    dialog.OnShow = [&] {
      ::PostMessageA(other.Handle(), WM_APP, 0, 0);
      const HWND target = c.msg == WM_CLOSE ? dialog.Handle() : dialog.ok.Handle();
      if (c.wparam == 1) {
        clicker = std::thread([&, target] {
          ::Sleep(300);  // the loop is waiting by now, with nothing in the queue
          ::SendMessageA(target, c.msg, 0, 0);
          if (::WaitForSingleObject(returned, 5000) == WAIT_TIMEOUT) {
            woken_late = true;
            ::PostMessageA(dialog.Handle(), WM_APP + 1, 0, 0);
          }
        });
        return;
      }
      ::PostMessageA(target, c.msg, c.wparam, 0);
      ::PostMessageA(dialog.Handle(), WM_APP + 1, 0, 0);
    };
    EXPECT_EQ(dialog.ShowModal(), c.result);
    ::SetEvent(returned);
    if (clicker.joinable()) clicker.join();
    ::CloseHandle(returned);
    EXPECT_FALSE(woken_late) << "the loop waited for an unrelated message";
    EXPECT_EQ(other_got, 1);
    EXPECT_FALSE(other_enabled_meanwhile);
    EXPECT_TRUE(::IsWindowEnabled(other.Handle()));
    EXPECT_FALSE(::IsWindowVisible(dialog.Handle()));
    EXPECT_TRUE(boxes.empty());
    Pump();
  }
}

// ---- running ----

struct MainTestForm : fw::Form {
  MainTestForm() : fw::Form(Layout("TTestMain")) {
    OnShow = [this] {
      ++shows;
      ::PostMessageA(Handle(), WM_CLOSE, 0, 0);  // closing the main form ends the run
    };
  }
  int shows = 0;
};

TEST_F(FrameworkTest, RunShowsTheMainFormByTheStartUpShowCommandUntilItCloses) {
  struct Case {
    const char* name;
    int command;
    bool maximized;
  };
  const Case cases[] = {
      {"normal", SW_SHOWNORMAL, false},
      {"default", SW_SHOWDEFAULT, false},
      {"maximised", SW_SHOWMAXIMIZED, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MainTestForm* main_form = nullptr;
    Application.CreateForm(main_form);
    ASSERT_EQ(Application.MainForm(), main_form);
    fw::TheTestSeam().startup_show_command = [&c] { return c.command; };
    Application.Run();
    EXPECT_EQ(main_form->shows, 1);
    EXPECT_TRUE(::IsWindowVisible(main_form->Handle()));
    EXPECT_EQ(::IsZoomed(main_form->Handle()) != FALSE, c.maximized);
    Application.DestroyForms();
  }
}

TEST_F(FrameworkTest, StartedMinimisedTheMainFormWaitsForTheRestore) {
  MainTestForm* main_form = nullptr;
  Application.CreateForm(main_form);
  fw::TheTestSeam().startup_show_command = [] { return SW_SHOWMINNOACTIVE; };
  int shows_before_restore = -1;
  bool visible_before_restore = true;
  main_form->SetMessageHandler(WM_APP, [&](fw::Message&) {
    shows_before_restore = main_form->shows;
    visible_before_restore = ::IsWindowVisible(main_form->Handle()) != FALSE;
    ::PostMessageA(Application.Handle(), WM_SYSCOMMAND, SC_RESTORE, 0);
  });
  ::PostMessageA(main_form->Handle(), WM_APP, 0, 0);
  Application.Run();
  EXPECT_EQ(shows_before_restore, 0);
  EXPECT_FALSE(visible_before_restore);
  EXPECT_EQ(main_form->shows, 1);
  EXPECT_FALSE(::IsIconic(Application.Handle()));
}

struct PlainForm : fw::Form {
  PlainForm() : fw::Form(Layout("TTestPlain")) {}
};

TEST_F(FrameworkTest, RestoringTheApplicationActivatesTheWindowLastActive) {
  PlainForm* form = nullptr;
  Application.CreateForm(form);
  form->Show();
  Pump();
  ASSERT_EQ(::GetActiveWindow(), form->Handle()) << "app " << Application.Handle();
  Application.Minimize();
  Pump();
  ::SendMessageA(Application.Handle(), WM_SYSCOMMAND, SC_RESTORE, 0);
  Pump();
  EXPECT_FALSE(::IsIconic(Application.Handle()));
  EXPECT_EQ(::GetActiveWindow(), form->Handle());
}

}  // namespace
