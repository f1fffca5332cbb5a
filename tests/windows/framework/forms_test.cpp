// Forms, menus and actions, the message loops and the standard error box, as a user sees them.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "application.h"
#include "controls.h"
#include "errors.h"
#include "forms.h"
#include "messages.h"
#include "message_boxes.h"
#include "protocol.h"
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

// A form whose events and messages each test sets, run where a form of the program overrides:
// a message hook that sets Handled takes the message, one that does not leaves it to the
// form's default handling.
struct HookedForm : fw::Form {
  explicit HookedForm(const fw::FormLayout& layout) : fw::Form(layout) {}
  std::function<void()> on_children, on_showing;
  std::map<UINT, std::function<void(fw::Message&)>> on_message;

 protected:
  void Dispatch(fw::Message& message) override {
    const auto hook = on_message.find(message.Msg);
    if (hook != on_message.end()) hook->second(message);
    if (!message.Handled) fw::Form::Dispatch(message);
  }
  void CreateChildWindows() override {
    if (on_children) on_children();
  }
  void Showing() override {
    if (on_showing) on_showing();
  }
};

// Records the standard error boxes instead of showing them.
class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override { Application.SetTitle(koe::kApplicationTitle); }
  void TearDown() override {
    fw::TheTestSeam() = {};
    Application.DestroyForms();
  }
  koe_test::MessageBoxes recorded_;
  std::vector<koe_test::MessageBoxes::Box>& boxes = recorded_.boxes;
};

// ---- the standard error box ----

// Only the program's own (Japanese) messages reach the user: any other error shows the standard
// text for an unknown error.
TEST_F(FrameworkTest, HandlerErrorsStopAtTheWindowProcedureAndShowTheStandardBox) {
  HookedForm form(Layout("TTestThrowing"));
  const std::string unknown = std::string(koe::text::kUnknownError) + ".";
  struct Case {
    const char* name;
    std::function<void()> raise;
    const char* shown;
  };
  const Case cases[] = {
      {"own error", [] { throw fw::EInvalidOperation("失敗しました"); }, "失敗しました."},
      {"message already ending in a full stop", [] { throw fw::EInvalidOperation("done."); }, "done."},
      {"COM error", [] { fw::OleCheck(static_cast<HRESULT>(0x8004ABCD)); }, "OLE エラー 8004abcd."},
      {"standard exception", [] { throw std::runtime_error("bad"); }, unknown.c_str()},
      {"out of range", [] { throw std::out_of_range("grid cell out of range"); }, unknown.c_str()},
      {"no memory", [] { throw std::bad_alloc(); }, unknown.c_str()},
      {"anything else", [] { throw 42; }, unknown.c_str()},
  };
  form.Show();
  bool form_enabled_meanwhile = true;
  recorded_.while_shown = [&] { form_enabled_meanwhile = ::IsWindowEnabled(form.Handle()) != FALSE; };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    boxes.clear();
    form.on_message[WM_APP] = [&](fw::Message&) { c.raise(); };
    ::SendMessageA(form.Handle(), WM_APP, 0, 0);  // returns: nothing crossed the procedure
    EXPECT_FALSE(form_enabled_meanwhile) << "nothing behind the box takes input";
    EXPECT_TRUE(::IsWindowEnabled(form.Handle()));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, Application.Handle());
    EXPECT_EQ(boxes[0].caption, koe::kApplicationTitle);
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONSTOP));
    EXPECT_EQ(boxes[0].text, c.shown);
  }
}

TEST_F(FrameworkTest, ApplicationWindowCarriesTheTitle) {
  char text[64] = {};
  ::GetWindowTextA(Application.Handle(), text, sizeof text);
  EXPECT_STREQ(text, koe::kApplicationTitle);
  char class_name[64] = {};
  ::GetClassNameA(Application.Handle(), class_name, sizeof class_name);
  EXPECT_STREQ(class_name, koe::kApplicationClass);
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

TEST_F(FrameworkTest, ShowingRunsBeforeTheWindowIsVisibleOncePerShowing) {
  HookedForm form(Layout("TTestShow"));
  std::vector<std::string> events;
  form.on_children = [&] { events.push_back("children"); };
  form.on_showing = [&] {
    events.push_back(::IsWindowVisible(form.Handle()) ? "show-visible" : "show-hidden");
  };
  form.Show();
  EXPECT_TRUE(::IsWindowVisible(form.Handle()));
  form.Show();  // already shown: no second Showing
  form.Hide();
  form.Show();
  EXPECT_EQ(events, (std::vector<std::string>{"children", "show-hidden", "children", "show-hidden"}));
}

TEST_F(FrameworkTest, ShowingErrorGoesToTheBoxAndTheWindowIsShownAllTheSame) {
  HookedForm form(Layout("TTestShowError"));
  form.on_showing = [] { throw fw::EOleSysError("書き込めません", E_FAIL); };
  form.Show();
  EXPECT_TRUE(::IsWindowVisible(form.Handle()));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "書き込めません.");
}

TEST_F(FrameworkTest, ChildWindowErrorLeavesShowAndTheWindowStaysHidden) {
  HookedForm form(Layout("TTestChildError"));
  bool shown = false;
  form.on_children = [] { throw fw::EOleError("OLE コントロールのアクティベートに失敗しました"); };
  form.on_showing = [&] { shown = true; };
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

// A message a form handles takes the place of the default handling; one it leaves alone, or
// handles after the default, gets the default handling too; either way the form is found by its
// window, also after something subclassed it.
TEST_F(FrameworkTest, AMessageLeftAloneOrPassedOnGetsTheDefaultAlsoOnASubclassedForm) {
  enum class Way { kHandled, kLeftAlone, kDefaultFirst };
  struct Case {
    const char* what;
    bool subclassed;
    Way way;
  };
  const Case cases[] = {{"handled", false, Way::kHandled},
                        {"left alone", false, Way::kLeftAlone},
                        {"the default first", false, Way::kDefaultFirst},
                        {"left alone, form subclassed", true, Way::kLeftAlone}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HookedForm form(Layout("TTestPassOn"));
    fw::StatusBar status_bar(form, 19);
    int handled = 0;
    form.on_message[WM_SIZE] = [&](fw::Message& message) {
      ++handled;
      if (c.way == Way::kDefaultFirst) message.Default();
      if (c.way == Way::kHandled) message.Handled = true;
    };
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
    EXPECT_EQ(bar.bottom == client.bottom, c.way != Way::kHandled) << "the bars follow the default handling";
    if (c.subclassed) ::RemoveWindowSubclass(form.Handle(), &PassThrough, 1);
  }
  EXPECT_EQ(fw::Window::FromHandle(Application.Handle()) != nullptr, true) << "ours too";
  EXPECT_EQ(fw::Window::FromHandle(::GetDesktopWindow()), nullptr);
}

// ---- modal showing ----

// A dialog with an OK button (default, modal result OK) and optionally a cancel button.
struct DialogForm : HookedForm {
  explicit DialogForm(bool with_cancel)
      : HookedForm(Layout("TTestDialog", true)),
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
  HookedForm other(Layout("TTestOther"));
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
    other.on_message[WM_APP] = [&](fw::Message&) {
      ++other_got;
      other_enabled_meanwhile = ::IsWindowEnabled(other.Handle()) != FALSE;
    };
    // Still open after the key or click when nothing closed it: end with a result of our own.
    dialog.on_message[WM_APP + 1] = [&](fw::Message&) {
      if (dialog.ModalResult() == fw::mrNone) dialog.SetModalResult(42);
    };
    const HANDLE returned = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread clicker;
    std::atomic<bool> woken_late{false};
    dialog.on_showing = [&] {
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

struct MainTestForm : HookedForm {
  MainTestForm() : HookedForm(Layout("TTestMain")) {
    on_showing = [this] {
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
  main_form->on_message[WM_APP] = [&](fw::Message&) {
    shows_before_restore = main_form->shows;
    visible_before_restore = ::IsWindowVisible(main_form->Handle()) != FALSE;
    ::PostMessageA(Application.Handle(), WM_SYSCOMMAND, SC_RESTORE, 0);
  };
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
