#include "forms.h"

#include <algorithm>
#include <exception>

#include "application.h"
#include "controls.h"
#include "errors.h"

namespace fw {
namespace {


HINSTANCE Instance() { return ::GetModuleHandleA(nullptr); }

void RegisterFormClass(const char* class_name, WNDPROC proc) {
  WNDCLASSEXA existing = {};
  existing.cbSize = sizeof existing;
  if (::GetClassInfoExA(Instance(), class_name, &existing)) return;
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = proc;
  wc.hInstance = Instance();
  wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = class_name;
  ::RegisterClassExA(&wc);
}

struct EnumState {
  HWND except;
  std::vector<HWND>* disabled;
  std::exception_ptr error;  // raised inside the callback, raised again once Windows has returned
};

BOOL CALLBACK DisableWindow(HWND hwnd, LPARAM lparam) {
  auto* state = reinterpret_cast<EnumState*>(lparam);
  try {
    if (hwnd != state->except && ::IsWindowVisible(hwnd) && ::IsWindowEnabled(hwnd)) {
      state->disabled->push_back(hwnd);
      ::EnableWindow(hwnd, FALSE);
    }
    return TRUE;
  } catch (...) {
    state->error = std::current_exception();
    return FALSE;
  }
}

}  // namespace

// ---- Font ----

Font::Font(const FontSpec& spec) {
  LOGFONTA lf = {};
  lf.lfHeight = spec.height;
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = spec.charset;
  lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
  lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  lf.lfQuality = DEFAULT_QUALITY;
  lf.lfPitchAndFamily = DEFAULT_PITCH;
  spec.name.copy(lf.lfFaceName, LF_FACESIZE - 1);
  font_ = ::CreateFontIndirectA(&lf);
}

Font::~Font() {
  if (font_) ::DeleteObject(font_);
}

Font& Font::operator=(Font&& other) noexcept {
  if (this != &other) {
    if (font_) ::DeleteObject(font_);
    font_ = other.font_;
    other.font_ = nullptr;
  }
  return *this;
}

// ---- Form ----

Form::Form(const FormLayout& layout) : font_(layout.font), position_(layout.position) {
  RegisterFormClass(layout.class_name, &Form::WindowProc);
  DWORD style = WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
  DWORD ex_style = 0;
  if (layout.border == BorderStyle::Sizeable) {
    style |= WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  } else {
    style |= WS_POPUP;
    ex_style |= WS_EX_DLGMODALFRAME;
  }
  RECT bounds = {layout.left, layout.top, layout.left + layout.width, layout.top + layout.height};
  if (layout.client_size) ::AdjustWindowRectEx(&bounds, style, FALSE, ex_style);
  const HWND owner = Application.Handle();
  ::CreateWindowExA(ex_style, layout.class_name, layout.caption.c_str(), style, bounds.left,
                    bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, owner,
                    nullptr, Instance(), this);
  // handle_ is set by WM_NCCREATE.
  if (!handle_) throw EKoemadoError("ウィンドウを作成できません");
  if (layout.client_size) {
    // Menus can wrap; make sure the client area is what was asked for.
    RECT client;
    ::GetClientRect(handle_, &client);
    RECT outer;
    ::GetWindowRect(handle_, &outer);
    ::SetWindowPos(handle_, nullptr, 0, 0, outer.right - outer.left + layout.width - client.right,
                   outer.bottom - outer.top + layout.height - client.bottom,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (position_ == FormPosition::ScreenCenter) CenterOnScreen();
}

Form::~Form() {
  // A menu that is a member of the derived form is gone by now and has let go of the form.
  if (menu_) {
    if (handle_) ::SetMenu(handle_, nullptr);
    menu_->window_ = nullptr;
    menu_->form_ = nullptr;
  }
  if (handle_) ::DestroyWindow(handle_);
}

// A form's window keeps its Form in GWLP_USERDATA. Read on every message, so no window property:
// under Wine a property lookup is a round trip to the server, a window long is not. Windows of
// other classes (the control's, message boxes) are told apart by their window procedure.
Form* Form::FromHandle(HWND hwnd) {
  if (!hwnd) return nullptr;
  if (::GetWindowLongPtrA(hwnd, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(&Form::WindowProc))
    return nullptr;
  return reinterpret_cast<Form*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

LRESULT CALLBACK Form::WindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  Form* form = FromHandle(hwnd);
  if (msg == WM_NCCREATE) {
    form = static_cast<Form*>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams);
    form->handle_ = hwnd;
    ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  if (!form) return ::DefWindowProcA(hwnd, msg, wparam, lparam);
  if (msg == WM_NCDESTROY) {
    ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    form->handle_ = nullptr;
    return ::DefWindowProcA(hwnd, msg, wparam, lparam);
  }
  if (msg == WM_ACTIVATE && LOWORD(wparam) != WA_INACTIVE) Application.NoteActiveForm(hwnd);
  return ShowingErrors([&] { return form->HandleFormMessage(msg, wparam, lparam); });
}

LRESULT Form::HandleFormMessage(UINT msg, WPARAM wparam, LPARAM lparam) {
  auto entry = message_table_.find(msg);
  if (entry != message_table_.end()) {
    Message message{msg, wparam, lparam, 0};
    entry->second(message);
    return message.Result;
  }
  switch (msg) {
    case WM_COMMAND: {
      if (lparam != 0) {
        if (Control* control = Control::FromHandle(reinterpret_cast<HWND>(lparam))) {
          control->Command(HIWORD(wparam));
          return 0;
        }
      }
      const UINT id = LOWORD(wparam);
      if (menu_ && lparam == 0 && menu_->DispatchCommand(id)) return 0;
      if (id == IDCANCEL && cancel_button_) cancel_button_->Click();
      if (id == IDOK && default_button_) default_button_->Click();
      return 0;
    }
    case DM_GETDEFID:
      if (default_button_)
        return MAKELRESULT(::GetDlgCtrlID(default_button_->Handle()), DC_HASDEFID);
      return 0;
    case WM_SIZE:
      Realign();
      break;
    case WM_CLOSE:
      Close();
      return 0;
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0) == SC_MINIMIZE && this == Application.MainForm()) {
        Application.Minimize();
        return 0;
      }
      break;
  }
  return ::DefWindowProcA(handle_, msg, wparam, lparam);
}

void Form::SetMessageHandler(UINT msg, std::function<void(Message&)> handler) {
  message_table_[msg] = std::move(handler);
}

void Form::Show(int command) {
  if (visible_) {
    ::ShowWindow(handle_, command);
    ::SetForegroundWindow(handle_);
    return;
  }
  if (OnCreateChildWindows) OnCreateChildWindows();
  if (position_ == FormPosition::ScreenCenter) CenterOnScreen();
  visible_ = true;
  ShowingErrors([&]() -> LRESULT {
    if (OnShow) OnShow();
    return 0;
  });
  ::ShowWindow(handle_, command);
  if (default_button_) ::SetFocus(default_button_->Handle());
  ::UpdateWindow(handle_);
}

void Form::Hide() {
  visible_ = false;
  ::ShowWindow(handle_, SW_HIDE);
}

int Form::ShowModal() {
  if (modal_ || visible_) throw EKoemadoError("表示中のウィンドウはモーダルにできません");
  ::ReleaseCapture();
  const HWND previously_active = ::GetActiveWindow();
  std::vector<HWND> disabled;
  EnumState state{handle_, &disabled, nullptr};
  ::EnumThreadWindows(::GetCurrentThreadId(), &DisableWindow, reinterpret_cast<LPARAM>(&state));
  if (state.error) {
    for (HWND hwnd : disabled) ::EnableWindow(hwnd, TRUE);
    std::rethrow_exception(state.error);
  }
  struct Restore {
    Form& form;
    std::vector<HWND>& disabled;
    HWND active;
    ~Restore() {
      for (HWND hwnd : disabled)
        if (::IsWindow(hwnd)) ::EnableWindow(hwnd, TRUE);
      if (form.visible_) form.Hide();
      if (active && ::IsWindow(active)) ::SetActiveWindow(active);
      form.modal_ = false;
    }
  } restore{*this, disabled, previously_active};

  modal_ = true;
  modal_result_ = mrNone;
  Show();
  for (;;) {
    Application.HandleMessage();
    if (Application.Terminated()) {
      modal_result_ = mrCancel;
      break;
    }
    if (modal_result_ != mrNone) {
      CloseAction action = CloseAction::Hide;
      if (OnClose) OnClose(action);
      if (action != CloseAction::None) break;
      modal_result_ = mrNone;
    }
  }
  return modal_result_;
}

void Form::SetModalResult(int result) {
  modal_result_ = result;
  // The modal loop looks at the result after each message it takes from the queue, and a sent
  // message is handled inside that wait without ending it: wake the loop.
  if (modal_ && result != mrNone && handle_) ::PostMessageA(handle_, WM_NULL, 0, 0);
}

void Form::Close() {
  if (modal_) {
    SetModalResult(mrCancel);
    return;
  }
  CloseAction action = CloseAction::Hide;
  if (OnClose) OnClose(action);
  if (action == CloseAction::None) return;
  if (this == Application.MainForm()) {
    Application.Terminate();
  } else if (action == CloseAction::Minimize) {
    ::ShowWindow(handle_, SW_MINIMIZE);
  } else {
    Hide();
  }
}

void Form::SetIcon(HICON icon) {
  ::SendMessageA(handle_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  ::SendMessageA(handle_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void Form::SetMenu(MainMenu& menu) {
  menu_ = &menu;
  menu.form_ = this;
  menu.window_ = handle_;
  ::SetMenu(handle_, menu.Handle());
}

void Form::AddAligned(Control* control, bool top, int height) {
  aligned_.push_back({control, top, height});
  Realign();
}

void Form::RemoveControl(Control* control) {
  aligned_.erase(std::remove_if(aligned_.begin(), aligned_.end(),
                                [control](const Aligned& a) { return a.control == control; }),
                 aligned_.end());
  buttons_.erase(std::remove(buttons_.begin(), buttons_.end(), control), buttons_.end());
  if (default_button_ == control) default_button_ = nullptr;
  if (cancel_button_ == control) cancel_button_ = nullptr;
}

void Form::RegisterButton(Button* button, bool is_default, bool is_cancel) {
  buttons_.push_back(button);
  if (is_default) default_button_ = button;
  if (is_cancel) cancel_button_ = button;
}

void Form::Realign() {
  if (!handle_) return;
  RECT client;
  ::GetClientRect(handle_, &client);
  int top = client.top;
  int bottom = client.bottom;
  for (const Aligned& a : aligned_) {
    if (a.top) {
      a.control->SetBounds(0, top, client.right, a.height);
      top += a.height;
    } else {
      bottom -= a.height;
      a.control->SetBounds(0, bottom, client.right, a.height);
    }
  }
}

void Form::CenterOnScreen() {
  RECT r;
  ::GetWindowRect(handle_, &r);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  ::SetWindowPos(handle_, nullptr, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (::GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- actions and menus ----

bool Action::Execute() {
  if (!OnExecute) return false;
  OnExecute();
  return true;
}

Action* ActionList::Add(std::string caption, std::function<void()> on_execute) {
  actions_.push_back(std::make_unique<Action>(std::move(caption), std::move(on_execute)));
  return actions_.back().get();
}

MenuItem::MenuItem(MainMenu& menu, std::string caption, Action* action)
    : menu_(menu), caption_(std::move(caption)), action_(action), command_(menu.NextCommand()) {}

MenuItem* MenuItem::Add(Action* action) {
  items_.push_back(std::unique_ptr<MenuItem>(new MenuItem(menu_, {}, action)));
  return items_.back().get();
}

MenuItem* MenuItem::Add(std::string caption) {
  items_.push_back(std::unique_ptr<MenuItem>(new MenuItem(menu_, std::move(caption), nullptr)));
  return items_.back().get();
}

void MenuItem::AppendTo(HMENU parent) const {
  const std::string caption = Caption();
  if (caption == "-") {
    ::AppendMenuA(parent, MF_SEPARATOR, 0, nullptr);
  } else if (items_.empty()) {
    ::AppendMenuA(parent, MF_STRING, command_, caption.c_str());
  } else {
    HMENU popup = ::CreatePopupMenu();
    for (const auto& item : items_) item->AppendTo(popup);
    ::AppendMenuA(parent, MF_STRING | MF_POPUP, reinterpret_cast<UINT_PTR>(popup), caption.c_str());
  }
}

MenuItem* MenuItem::Find(UINT command) {
  if (command_ == command) return this;
  for (const auto& item : items_)
    if (MenuItem* found = item->Find(command)) return found;
  return nullptr;
}

MainMenu::MainMenu() : root_(*this, {}, nullptr) {}

MainMenu::~MainMenu() {
  if (form_) form_->menu_ = nullptr;
  if (window_ && ::IsWindow(window_)) ::SetMenu(window_, nullptr);
  if (handle_) ::DestroyMenu(handle_);
}

HMENU MainMenu::Handle() {
  if (!handle_) {
    handle_ = ::CreateMenu();
    for (const auto& item : root_.items_) item->AppendTo(handle_);
  }
  return handle_;
}

bool MainMenu::DispatchCommand(UINT command) {
  MenuItem* item = root_.Find(command);
  if (!item || item == &root_) return false;
  if (item->action_) item->action_->Execute();
  return true;
}

}  // namespace fw
