#include "forms.h"

#include <algorithm>

#include "application.h"
#include "controls.h"
#include "edge.h"
#include "errors.h"
#include "messages.h"

namespace fw {

// ---- OtherWindowsDisabled ----

OtherWindowsDisabled::OtherWindowsDisabled(HWND except) : except_(except) {
  ::EnumThreadWindows(::GetCurrentThreadId(), &Disable, reinterpret_cast<LPARAM>(this));
}

void OtherWindowsDisabled::EnableAgain() {
  for (HWND window : disabled_)
    if (::IsWindow(window)) ::EnableWindow(window, TRUE);
  disabled_.clear();
}

BOOL CALLBACK OtherWindowsDisabled::Disable(HWND window, LPARAM self_pointer) {
  auto* self = reinterpret_cast<OtherWindowsDisabled*>(self_pointer);
  if (window == self->except_ || !::IsWindowVisible(window) || !::IsWindowEnabled(window)) return TRUE;
  try {
    self->disabled_.push_back(window);
  } catch (...) {
    return FALSE;  // no room to remember it (nor any later one): left enabled
  }
  ::EnableWindow(window, FALSE);
  return TRUE;
}

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
  RegisterWindowClass(layout.class_name, CS_DBLCLKS, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
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
  if (!CreateHandle(ex_style, layout.class_name, layout.caption, style, bounds.left, bounds.top,
                    bounds.right - bounds.left, bounds.bottom - bounds.top, Application.Handle(),
                    nullptr)) {
    throw EOutOfResources(koe::text::kCannotCreateWindow);
  }
  if (layout.client_size) {
    // Menus can wrap; make sure the client area is what was asked for.
    RECT client;
    ::GetClientRect(Handle(), &client);
    RECT outer;
    ::GetWindowRect(Handle(), &outer);
    ::SetWindowPos(Handle(), nullptr, 0, 0, outer.right - outer.left + layout.width - client.right,
                   outer.bottom - outer.top + layout.height - client.bottom,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (position_ == FormPosition::ScreenCenter) CenterOnScreen();
}

Form::~Form() {
  // A menu that is a member of the derived form is gone by now and has let go of the form.
  if (menu_) {
    if (Handle()) ::SetMenu(Handle(), nullptr);
    menu_->window_ = nullptr;
    menu_->form_ = nullptr;
  }
}

void Form::Dispatch(Message& message) {
  if (message.Msg == WM_ACTIVATE && LOWORD(message.WParam) != WA_INACTIVE)
    Application.NoteActiveForm(Handle());
}

void Form::DefaultHandler(Message& message) {
  const WPARAM wparam = message.WParam;
  const LPARAM lparam = message.LParam;
  switch (message.Msg) {
    case WM_COMMAND: {
      if (NotifyControl(wparam, lparam)) return;
      const UINT id = LOWORD(wparam);
      if (menu_ && lparam == 0 && menu_->DispatchCommand(id)) return;
      if (id == IDCANCEL && cancel_button_) cancel_button_->Click();
      if (id == IDOK && default_button_) default_button_->Click();
      return;
    }
    case DM_GETDEFID:
      if (default_button_)
        message.Result = MAKELRESULT(::GetDlgCtrlID(default_button_->Handle()), DC_HASDEFID);
      return;
    case WM_SIZE:
      Realign();
      break;
    case WM_CLOSE:
      Close();
      return;
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0) == SC_MINIMIZE && this == Application.MainForm()) {
        Application.Minimize();
        return;
      }
      break;
  }
  Window::DefaultHandler(message);
}

bool Form::NotifyControl(WPARAM wparam, LPARAM lparam) {
  if (lparam == 0) return false;  // a menu or an accelerator
  for (Control* control : controls_) {
    if (control->Handle() == reinterpret_cast<HWND>(lparam)) {
      control->Command(HIWORD(wparam));
      return true;
    }
  }
  return false;
}

void Form::Show(int command) {
  if (visible_) {
    ::ShowWindow(Handle(), command);
    ::SetForegroundWindow(Handle());
    return;
  }
  CreateChildWindows();
  if (position_ == FormPosition::ScreenCenter) CenterOnScreen();
  visible_ = true;
  ShowingErrors([&] { Showing(); });
  ::ShowWindow(Handle(), command);
  if (default_button_) ::SetFocus(default_button_->Handle());
  ::UpdateWindow(Handle());
}

void Form::Hide() {
  visible_ = false;
  ::ShowWindow(Handle(), SW_HIDE);
}

int Form::ShowModal() {
  if (modal_ || visible_) throw EInvalidOperation(koe::text::kCannotShowModal);
  ::ReleaseCapture();
  const HWND previously_active = ::GetActiveWindow();
  OtherWindowsDisabled others(Handle());
  struct Restore {
    Form& form;
    OtherWindowsDisabled& others;
    HWND active;
    ~Restore() {
      others.EnableAgain();  // before the activation goes back to one of them
      if (form.visible_) form.Hide();
      if (active && ::IsWindow(active)) ::SetActiveWindow(active);
      form.modal_ = false;
    }
  } restore{*this, others, previously_active};

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
      Closing(action);
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
  if (modal_ && result != mrNone && Handle()) ::PostMessageA(Handle(), WM_NULL, 0, 0);
}

void Form::Close() {
  if (modal_) {
    SetModalResult(mrCancel);
    return;
  }
  CloseAction action = CloseAction::Hide;
  Closing(action);
  if (action == CloseAction::None) return;
  if (this == Application.MainForm()) {
    Application.Terminate();
  } else if (action == CloseAction::Minimize) {
    ::ShowWindow(Handle(), SW_MINIMIZE);
  } else {
    Hide();
  }
}

void Form::SetIcon(HICON icon) {
  ::SendMessageA(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  ::SendMessageA(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void Form::SetMenu(MainMenu& menu) {
  menu_ = &menu;
  menu.form_ = this;
  menu.window_ = Handle();
  ::SetMenu(Handle(), menu.Handle());
}

void Form::AddAligned(Control* control, bool top, int height) {
  aligned_.push_back({control, top, height});
  Realign();
}

void Form::RemoveControl(Control* control) {
  controls_.erase(std::remove(controls_.begin(), controls_.end(), control), controls_.end());
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
  if (!Handle()) return;
  RECT client;
  ::GetClientRect(Handle(), &client);
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
  ::GetWindowRect(Handle(), &r);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  ::SetWindowPos(Handle(), nullptr, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2,
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

MenuItem::MenuItem(std::string caption, Action* action, UINT command)
    : caption_(std::move(caption)), action_(action), command_(command) {}

MenuItem* MenuItem::Add(Action* action, UINT command) {
  items_.push_back(std::unique_ptr<MenuItem>(new MenuItem({}, action, command)));
  return items_.back().get();
}

MenuItem* MenuItem::Add(std::string caption) {
  items_.push_back(std::unique_ptr<MenuItem>(new MenuItem(std::move(caption), nullptr, 0)));
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
  if (command != 0 && command_ == command) return this;
  for (const auto& item : items_)
    if (MenuItem* found = item->Find(command)) return found;
  return nullptr;
}

MainMenu::MainMenu() : root_({}, nullptr, 0) {}

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
