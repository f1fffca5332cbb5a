#include "window.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace ptsvr {
namespace {

HINSTANCE Module() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

bool Register(const WindowClass& cls) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExW(Module(), cls.name, &wc)) return true;
  wc = WNDCLASSEXW{};
  wc.cbSize = sizeof wc;
  wc.style = cls.style;
  wc.lpfnWndProc = cls.procedure;
  wc.hInstance = Module();
  wc.hCursor = cls.arrow_cursor ? LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)) : nullptr;
  wc.lpszClassName = cls.name;
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

HWND CreateBoundWindow(const WindowClass& cls, const wchar_t* title, DWORD style, const RECT& pos,
                       HWND parent, void* object) {
  if (!Register(cls)) return nullptr;
  return CreateWindowExW(0, cls.name, title, style, pos.left, pos.top, pos.right - pos.left,
                         pos.bottom - pos.top, parent, nullptr, Module(), object);
}

void UnregisterWindowClass(const WindowClass& cls) { UnregisterClassW(cls.name, Module()); }

}  // namespace ptsvr
