#include "help.h"

#include <shellapi.h>

#include "KoemadoError.h"
#include "ini_rules.h"
#include "messages.h"
#include "system.h"

std::string HelpPagePathFor(const std::string& program_path) {
  return program_path.substr(0, koe::DirectoryPartLength(program_path, fw::IsSystemLeadByte)) +
         "..\\Help\\Koemado_html\\html\\" + "HID00000001.htm";
}

void OpenHelpContents(HWND owner) {
  const std::string page = HelpPagePathFor(fw::ProgramPath());
  char full[260] = {};
  const DWORD full_length = ::GetFullPathNameA(page.c_str(), sizeof full, full, nullptr);
  const bool fits = full_length != 0 && full_length < sizeof full;
  const std::string shown = fits ? std::string(full, full_length) : page;
  if (!fits ||
      reinterpret_cast<INT_PTR>(::ShellExecuteA(owner, "open", full, "", "", SW_SHOWNORMAL)) <= 32) {
    throw EKoemadoError(koe::CannotOpenHelpText(shown));
  }
}
