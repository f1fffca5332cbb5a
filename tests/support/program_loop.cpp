// Linked into a test of the program's windows: Pump and WaitUntil dispatch with the framework's
// own loop, the one the program's main loop and modal loops run (a Unicode loop with the dialog
// key handling of the forms), instead of a loop of their own.
#include <windows.h>

#include "application.h"
#include "support.h"

namespace {

void ProgramLoop() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) fw::Application.HandleMessage();
}

const bool kInstalled = (koe_test::UseMessageLoop(&ProgramLoop), true);

}  // namespace
