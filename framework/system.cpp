#include "system.h"

#include "protocol.h"
#include "sjis.h"
#include "text.h"

namespace fw {

TestSeam& TheTestSeam() {
  static TestSeam seam;
  return seam;
}

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  if (TheTestSeam().message_box) return TheTestSeam().message_box(owner, text, caption, type);
  return ::MessageBoxW(owner, FromShiftJis(text).c_str(), FromShiftJis(caption).c_str(), type);
}

int StartupShowCommand() {
  if (TheTestSeam().startup_show_command) return TheTestSeam().startup_show_command();
  STARTUPINFOA info = {};
  info.cb = sizeof info;
  ::GetStartupInfoA(&info);
  return (info.dwFlags & STARTF_USESHOWWINDOW) ? info.wShowWindow : SW_SHOWNORMAL;
}

unsigned SystemCodePage() {
  if (TheTestSeam().code_page) return TheTestSeam().code_page();
  return ::GetACP();
}

bool IsSystemLeadByte(unsigned char b) {
  const unsigned code_page = SystemCodePage();
  if (code_page == koe::kShiftJisCodePage) return koe::IsLeadByte(b);
  return ::IsDBCSLeadByteEx(code_page, b) != FALSE;
}

// The buffer grows until the whole path fits.
std::string ProgramPath() {
  if (TheTestSeam().program_path) return TheTestSeam().program_path();
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace fw
