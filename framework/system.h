// The few answers of the system that a test must be able to give instead: the message box (it
// waits for a user), the show command the process was started with, the program file's path and
// the system's code page. Everything asks through these functions; the program never touches the seam, so there
// they are the system's own.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace fw {

// A message box of Shift-JIS texts (shown right whatever the system's code page), through the
// seam.
int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type);
// The show command the process was started with (SW_SHOWNORMAL when none was given).
int StartupShowCommand();
// The full path of the running program's file.
std::string ProgramPath();
// The system's ANSI code page (GetACP).
unsigned SystemCodePage();
// Whether a byte starts a double-byte character of the system's code page, the one the ANSI
// functions give paths in: Shift-JIS's rule under 932, that code page's own elsewhere (none in
// UTF-8 or a single-byte code page).
bool IsSystemLeadByte(unsigned char b);

// The one test seam: a test sets what it stands in for and clears it again (an empty function
// is the system's answer).
struct TestSeam {
  std::function<int(HWND owner, const std::string& text, const std::string& caption, UINT type)>
      message_box;
  std::function<int()> startup_show_command;
  std::function<std::string()> program_path;
  std::function<unsigned()> code_page;
};
TestSeam& TheTestSeam();

}  // namespace fw
