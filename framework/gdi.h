// Owners of the device contexts a window paints and measures with, so that each is given back
// also when the work in between fails.
#pragma once

#include <windows.h>

namespace fw {

// BeginPaint ... EndPaint.
class PaintDc {
 public:
  explicit PaintDc(HWND hwnd) : hwnd_(hwnd), dc_(::BeginPaint(hwnd, &paint_)) {}
  ~PaintDc() { ::EndPaint(hwnd_, &paint_); }
  PaintDc(const PaintDc&) = delete;
  PaintDc& operator=(const PaintDc&) = delete;
  HDC Get() const { return dc_; }

 private:
  HWND hwnd_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

// GetDC ... ReleaseDC, with a font selected into it (and the old one back) when one is given.
class WindowDc {
 public:
  explicit WindowDc(HWND hwnd, HGDIOBJ font = nullptr)
      : hwnd_(hwnd), dc_(::GetDC(hwnd)), old_(font && dc_ ? ::SelectObject(dc_, font) : nullptr) {}
  ~WindowDc() {
    if (old_) ::SelectObject(dc_, old_);
    if (dc_) ::ReleaseDC(hwnd_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC Get() const { return dc_; }

 private:
  HWND hwnd_;
  HDC dc_;
  HGDIOBJ old_;
};

}  // namespace fw
