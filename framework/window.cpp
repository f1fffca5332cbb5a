#include "window.h"

#include "edge.h"

namespace fw {

void Message::Default() {
  if (Handled || !target) return;
  target->DefaultHandler(*this);
  Handled = true;
}

Window::~Window() {
  if (!handle_ || !::IsWindow(handle_)) return;
  if (FromHandle(handle_) == this) ::SetWindowLongPtrA(handle_, GWLP_USERDATA, 0);
  ::DestroyWindow(handle_);
}

Window* Window::FromHandle(HWND hwnd) {
  if (!hwnd) return nullptr;
  if (reinterpret_cast<WNDPROC>(::GetClassLongPtrA(hwnd, GCLP_WNDPROC)) != &Window::ClassProc)
    return nullptr;
  return reinterpret_cast<Window*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

const char* Window::RegisterWindowClass(const char* name, UINT style, HBRUSH background, HICON icon) {
  const HINSTANCE instance = ::GetModuleHandleA(nullptr);
  WNDCLASSEXA existing = {};
  existing.cbSize = sizeof existing;
  if (::GetClassInfoExA(instance, name, &existing)) return name;
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.style = style;
  wc.lpfnWndProc = &Window::ClassProc;
  wc.hInstance = instance;
  wc.hIcon = icon;
  wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = background;
  wc.lpszClassName = name;
  ::RegisterClassExA(&wc);  // a failure shows when the window cannot be made
  return name;
}

bool Window::CreateHandle(DWORD ex_style, const char* class_name, const std::string& text,
                          DWORD style, int left, int top, int width, int height, HWND parent,
                          HMENU menu_or_id) {
  // handle_ is set by WM_NCCREATE.
  ::CreateWindowExA(ex_style, class_name, text.c_str(), style, left, top, width, height, parent,
                    menu_or_id, ::GetModuleHandleA(nullptr), this);
  return handle_ != nullptr;
}

void Window::DefaultHandler(Message& message) {
  message.Result = ::DefWindowProcA(handle_, message.Msg, message.WParam, message.LParam);
}

LRESULT CALLBACK Window::ClassProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  Window* self = nullptr;
  if (msg == WM_NCCREATE) {
    self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams);
    if (self) {
      self->handle_ = hwnd;
      ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
  } else {
    self = reinterpret_cast<Window*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  }
  // Messages before WM_NCCREATE (WM_GETMINMAXINFO) and after WM_NCDESTROY have no object.
  if (!self) return ::DefWindowProcA(hwnd, msg, wparam, lparam);
  if (msg == WM_NCDESTROY) {
    ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    self->handle_ = nullptr;
    ShowingErrors([&] { self->Destroyed(); });
    return ::DefWindowProcA(hwnd, msg, wparam, lparam);
  }
  return ShowingErrors([&]() -> LRESULT {
    Message message{msg, wparam, lparam};
    message.target = self;
    self->Dispatch(message);
    message.Default();
    return message.Result;
  });
}

}  // namespace fw
