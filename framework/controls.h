// The child controls the program's forms use.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "forms.h"
#include "window.h"

namespace fw {

// A child window of a form (directly or inside another control). Takes the form's font unless
// given its own. Destroys its window.
class Control : public Window {
 public:
  // A control of a system class ("BUTTON", "STATIC", the status bar).
  Control(Form& form, HWND parent, const char* window_class, const std::string& text, DWORD style,
          int left, int top, int width, int height, int id = 0);
  ~Control() override;

  Form& OwnerForm() const { return form_; }

  void SetFont(const FontSpec& spec);
  void SetBounds(int left, int top, int width, int height);

  // A notification (WM_COMMAND) the control sent to its parent.
  virtual void Command(WORD /*notification*/) {}

 protected:
  // A control of one of our own classes (registered with RegisterWindowClass), bound to this object.
  struct OwnClass {
    const char* name;
  };
  Control(Form& form, HWND parent, OwnClass window_class, DWORD style, int left, int top, int width,
          int height);

  virtual void FontChanged() {}
  HFONT CurrentFont() const { return own_font_.Handle() ? own_font_.Handle() : form_.FontHandle(); }

 private:
  void Attached();

  Form& form_;
  Font own_font_;
};

// A control drawn by us: window classes "TPanel", "TToolBar", "TImage". Notifications of the
// controls inside it go on to those controls.
class PaintedControl : public Control {
 public:
  PaintedControl(Form& form, HWND parent, const char* window_class, int left, int top, int width,
                 int height);

 protected:
  virtual void Paint(HDC dc, const RECT& client) = 0;
  void Dispatch(Message& message) override;
};

// Aligned to the top of the form, full width; holds other windows.
class ToolBar : public PaintedControl {
 public:
  ToolBar(Form& form, int height);

 protected:
  void Paint(HDC dc, const RECT& client) override;
};

// Aligned to the bottom of the form: an empty status bar (no panels, no text).
class StatusBar : public Control {
 public:
  StatusBar(Form& form, int height);
};

// A panel with an outer and an inner bevel.
class Panel : public PaintedControl {
 public:
  enum class Bevel { None, Raised, Lowered };
  Panel(Form& form, HWND parent, int left, int top, int width, int height, Bevel inner, Bevel outer);

 protected:
  void Paint(HDC dc, const RECT& client) override;

 private:
  Bevel inner_, outer_;
};

// A push button. Clicking sets the form's modal result (when the button has one), then runs OnClick.
class Button : public Control {
 public:
  struct Options {
    int modal_result = mrNone;
    bool is_default = false;  // Enter presses it
    bool is_cancel = false;   // Esc presses it
  };
  Button(Form& form, HWND parent, const std::string& caption, int left, int top, int width,
         int height, Options options);
  void Click();
  int ModalResult() const { return modal_result_; }

  std::function<void()> OnClick;

  void Command(WORD notification) override;

 private:
  int modal_result_;
};

// A label that sizes itself to its text.
class Label : public Control {
 public:
  Label(Form& form, HWND parent, const std::string& caption, int left, int top);

 protected:
  void FontChanged() override { AutoSize(); }

 private:
  void AutoSize();
  std::string caption_;
  int left_, top_;
};

// Owns one icon handle.
class IconHandle {
 public:
  explicit IconHandle(HICON icon = nullptr) : icon_(icon) {}
  ~IconHandle() {
    if (icon_) ::DestroyIcon(icon_);
  }
  IconHandle(const IconHandle&) = delete;
  IconHandle& operator=(const IconHandle&) = delete;
  HICON Get() const { return icon_; }

 private:
  HICON icon_;
};

// An icon drawn stretched over the control's size. The icon is not owned.
class Image : public PaintedControl {
 public:
  Image(Form& form, HWND parent, int left, int top, int width, int height, HICON icon);

 protected:
  void Paint(HDC dc, const RECT& client) override;

 private:
  HICON icon_;
};

}  // namespace fw
