// The one way a C++ object and its window are bound: a window of one of our classes carries its
// object from WM_NCCREATE on, and the class procedure hands the object every message as a
// record. Windows of other classes (buttons, the status bar, a control's window) are not ours.
#pragma once

#include <windows.h>

#include <string>

namespace fw {

class Window;

// A window message as a handler sees it. A handler that leaves it alone lets the default
// handling have it; one that handles it sets Handled (and Result). Default() runs the default
// handling at once, for a handler that wants to act after it.
struct Message {
  UINT Msg;
  WPARAM WParam;
  LPARAM LParam;
  LRESULT Result = 0;
  bool Handled = false;

  void Default();
  Window* target = nullptr;
};

class Window {
 public:
  // Destroys the window; its last messages no longer reach the object.
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  HWND Handle() const { return handle_; }
  // The object of a window of one of our classes, recognised by its class procedure (so a
  // window that something else has subclassed is still recognised); null for any other window.
  static Window* FromHandle(HWND hwnd);

  // Whether the message loop gives this top-level window the dialog keys (Tab, Enter, Esc).
  virtual bool HandlesDialogKeys() const { return false; }

 protected:
  Window() = default;

  // Registers, once per process, a window class whose procedure binds windows to their objects.
  // Returns the class name.
  static const char* RegisterWindowClass(const char* name, UINT style, HBRUSH background,
                                         HICON icon = nullptr);
  // Creates this object's window of such a class; the object gets every message of it, the
  // first ones included. False when the window could not be made.
  bool CreateHandle(DWORD ex_style, const char* class_name, const std::string& text, DWORD style,
                    int left, int top, int width, int height, HWND parent, HMENU menu_or_id);
  // A window of another class that this object stands for (not bound: its messages do not
  // come here). The object destroys it.
  void Adopt(HWND hwnd) { handle_ = hwnd; }

  // Each message of the window. What it leaves unhandled goes to DefaultHandler.
  virtual void Dispatch(Message& /*message*/) {}
  // The default handling: DefWindowProcA.
  virtual void DefaultHandler(Message& message);
  // The window is gone (WM_NCDESTROY); the object stays.
  virtual void Destroyed() {}

 private:
  friend struct Message;
  static LRESULT CALLBACK ClassProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

  HWND handle_ = nullptr;
};

}  // namespace fw
