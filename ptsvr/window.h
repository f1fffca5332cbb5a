// The control's own windows. Each class is registered with its real window procedure, and a
// window belongs to the object given when it is created: BoundWindowProc binds the object at
// WM_NCCREATE (from lpCreateParams) and lets go of it at WM_NCDESTROY.
#pragma once

#include <windows.h>

#include "edges.h"

namespace ptsvr {

struct WindowClass {
  const wchar_t* name;
  WNDPROC procedure;
  UINT style;
  bool arrow_cursor;  // the system's arrow, or no cursor of the class's own
};

// Creates a window of `cls` that belongs to `object`, registering the class first when this
// module does not have it registered (at the first window, and again after UnregisterWindowClass).
// nullptr on failure, with the reason in GetLastError.
HWND CreateBoundWindow(const WindowClass& cls, const wchar_t* title, DWORD style, const RECT& pos,
                       HWND parent, void* object);

// Unregisters `cls`; fails harmlessly while a window of it exists. A class must not outlive the
// module whose procedure it names, so the server calls this before it lets the module go.
void UnregisterWindowClass(const WindowClass& cls);

// The procedure of a class whose windows belong to objects of T: T's `Handle` receives every
// message from WM_NCCREATE to WM_NCDESTROY, inside the window edge; messages that come before the
// binding (WM_GETMINMAXINFO of a top-level window) go to the default procedure.
template <class T, LRESULT (T::*Handle)(HWND, UINT, WPARAM, LPARAM)>
LRESULT CALLBACK BoundWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  T* const self = reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (msg == WM_NCDESTROY) SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  return WindowEdge<LRESULT>(0, [&] { return (self->*Handle)(hwnd, msg, wp, lp); });
}

}  // namespace ptsvr
