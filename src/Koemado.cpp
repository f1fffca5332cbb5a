// The program's main block: start-up and shut-down in their fixed order.
#include <windows.h>

#include <cstdint>
#include <string>

#include "KMDIni.h"
#include "Version.h"
#include "application.h"
#include "dlgYOMI.h"
#include "edge.h"
#include "errors.h"
#include "ini_rules.h"
#include "main.h"
#include "messages.h"
#include "protocol.h"
#include "system.h"

using fw::Application;

namespace {

std::string ProgramFileName() {
  const std::string full = fw::ProgramPath();
  return full.substr(koe::DirectoryPartLength(full, fw::IsSystemLeadByte));
}

// The last-resort box for an error that escaped start-up.
void ShowStartupError(const char* kind, const void* address, const std::string& message) {
  const auto base = reinterpret_cast<std::uintptr_t>(::GetModuleHandleA(nullptr));
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  const std::string text = koe::StartupErrorText(
      kind, ProgramFileName(), static_cast<std::uint32_t>(at >= base ? at - base : at), message);
  fw::ShowMessageBox(nullptr, text, koe::text::kStartupErrorCaption, MB_OK | MB_ICONSTOP | MB_TASKMODAL);
}

void ShutDown() {
  Application.DestroyForms();
  KMDIni_Finalize();
  Application.Uninitialize();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  try {
    KMDIni_Initialize();
    Application.Initialize();
    Application.SetTitle(koe::kApplicationTitle);
    Application.SetHelpFile("");
    Application.CreateForm(MainForm);
    Application.CreateForm(AboutBox);
    Application.CreateForm(dlgYomikata);
    Application.Run();
  } catch (const fw::Exception& error) {
    ShowStartupError(error.KindName(), error.Address(), error.Message());
    ShutDown();
    return 1;
  } catch (...) {
    // An error that is none of the framework's: its kind, and the standard unknown-error text.
    ShowStartupError("Exception", nullptr, fw::MessageOfCurrentError());
    ShutDown();
    return 1;
  }
  ShutDown();
  return 0;
}
