#include "controls.h"

#include <commctrl.h>

#include "errors.h"
#include "gdi.h"
#include "messages.h"
#include "text.h"

namespace fw {

// ---- Control ----

Control::Control(Form& form, HWND parent, const char* window_class, const std::string& text,
                 DWORD style, int left, int top, int width, int height, int id)
    : form_(form) {
  Adopt(::CreateWindowExA(0, window_class, text.c_str(), WS_CHILD | WS_VISIBLE | style, left, top,
                          width, height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                          ::GetModuleHandleA(nullptr), nullptr));
  Attached();
}

Control::Control(Form& form, HWND parent, OwnClass window_class, DWORD style, int left, int top,
                 int width, int height)
    : form_(form) {
  CreateHandle(0, window_class.name, "", WS_CHILD | WS_VISIBLE | style, left, top, width, height,
               parent, nullptr);
  Attached();
}

void Control::Attached() {
  if (!Handle()) throw EOutOfResources(koe::text::kCannotCreateControl);
  form_.AddControl(this);
  ::SendMessageA(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(form_.FontHandle()), FALSE);
}

Control::~Control() { form_.RemoveControl(this); }

void Control::SetFont(const FontSpec& spec) {
  own_font_ = Font(spec);
  ::SendMessageA(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(own_font_.Handle()), TRUE);
  FontChanged();
}

void Control::SetBounds(int left, int top, int width, int height) {
  ::SetWindowPos(Handle(), nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- PaintedControl ----

PaintedControl::PaintedControl(Form& form, HWND parent, const char* window_class, int left, int top,
                               int width, int height)
    : Control(form, parent,
              OwnClass{RegisterWindowClass(window_class, 0, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1))},
              WS_CLIPCHILDREN | WS_CLIPSIBLINGS, left, top, width, height) {}

void PaintedControl::Dispatch(Message& message) {
  if (message.Msg == WM_PAINT) {
    const PaintDc dc(Handle());
    RECT client;
    ::GetClientRect(Handle(), &client);
    Paint(dc.Get(), client);
    message.Handled = true;
  } else if (message.Msg == WM_COMMAND) {
    message.Handled = OwnerForm().NotifyControl(message.WParam, message.LParam);
  }
}

// ---- ToolBar ----

ToolBar::ToolBar(Form& form, int height)
    : PaintedControl(form, form.Handle(), "TToolBar", 0, 0, 0, height) {
  form.AddAligned(this, true, height);
}

void ToolBar::Paint(HDC dc, const RECT& client) {
  RECT r = client;
  ::DrawEdge(dc, &r, EDGE_ETCHED, BF_TOP);
}

// ---- StatusBar ----

namespace {
const char* StatusBarClass() {
  static const bool initialized = [] {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES};
    return ::InitCommonControlsEx(&icc) != FALSE;
  }();
  (void)initialized;
  return STATUSCLASSNAMEA;
}
}  // namespace

StatusBar::StatusBar(Form& form, int height)
    : Control(form, form.Handle(), StatusBarClass(), "",
              CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER | SBARS_SIZEGRIP, 0, 0, 0, height) {
  form.AddAligned(this, false, height);
}

// ---- Panel ----

Panel::Panel(Form& form, HWND parent, int left, int top, int width, int height, Bevel inner,
             Bevel outer)
    : PaintedControl(form, parent, "TPanel", left, top, width, height), inner_(inner), outer_(outer) {}

void Panel::Paint(HDC dc, const RECT& client) {
  UINT edge = 0;
  if (outer_ == Bevel::Raised) edge |= BDR_RAISEDOUTER;
  if (outer_ == Bevel::Lowered) edge |= BDR_SUNKENOUTER;
  if (inner_ == Bevel::Raised) edge |= BDR_RAISEDINNER;
  if (inner_ == Bevel::Lowered) edge |= BDR_SUNKENINNER;
  RECT r = client;
  if (edge) ::DrawEdge(dc, &r, edge, BF_RECT);
}

// ---- Button ----

Button::Button(Form& form, HWND parent, const std::string& caption, int left, int top, int width,
               int height, Options options)
    : Control(form, parent, "BUTTON", caption,
              WS_TABSTOP | (options.is_default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), left, top, width,
              height, form.NextControlId()),
      modal_result_(options.modal_result) {
  form.RegisterButton(this, options.is_default, options.is_cancel);
}

void Button::Click() {
  if (modal_result_ != mrNone) OwnerForm().SetModalResult(modal_result_);
  if (OnClick) OnClick();
}

void Button::Command(WORD notification) {
  if (notification == BN_CLICKED) Click();
}

// ---- Label ----

Label::Label(Form& form, HWND parent, const std::string& caption, int left, int top)
    : Control(form, parent, "STATIC", caption, SS_LEFT | SS_NOPREFIX, left, top, 0, 0),
      caption_(caption),
      left_(left),
      top_(top) {
  AutoSize();
}

void Label::AutoSize() {
  SIZE size = {};
  {
    const WindowDc dc(Handle(), CurrentFont());
    const std::wstring wide = FromShiftJis(caption_);  // GDI reads ANSI in the system's code page
    ::GetTextExtentPoint32W(dc.Get(), wide.data(), static_cast<int>(wide.size()), &size);
  }
  SetBounds(left_, top_, size.cx, size.cy);
}

// ---- Image ----

Image::Image(Form& form, HWND parent, int left, int top, int width, int height, HICON icon)
    : PaintedControl(form, parent, "TImage", left, top, width, height), icon_(icon) {}

void Image::Paint(HDC dc, const RECT& client) {
  if (icon_) ::DrawIconEx(dc, 0, 0, icon_, client.right, client.bottom, 0, nullptr, DI_NORMAL);
}

}  // namespace fw
