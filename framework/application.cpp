#include "application.h"

#include <ole2.h>

#include "forms.h"
#include "messages.h"
#include "protocol.h"
#include "system.h"
#include "window.h"

namespace fw {

ApplicationObject Application;

// The hidden application window: its messages go to the application object.
class ApplicationObject::AppWindow final : public Window {
 public:
  explicit AppWindow(const std::string& title) {
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    HICON icon = ::LoadIconA(instance, "MAINICON");
    if (!icon) icon = ::LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    // A caption window of no size: it is the task bar button, nothing else of it is seen.
    CreateHandle(0, RegisterWindowClass(koe::kApplicationClass, 0, nullptr, icon), title,
                 WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                 ::GetSystemMetrics(SM_CXSCREEN) / 2, ::GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0,
                 nullptr, nullptr);
  }

 protected:
  void Dispatch(Message& message) override { Application.HandleAppMessage(message); }
};

ApplicationObject::~ApplicationObject() {
  // Forms still here (the main block did not reach DestroyForms) would release COM objects after
  // COM is gone; the process is ending, so they are left to the system.
  for (auto& form : forms_) form.release();
  (void)window_.release();  // the application window goes with the process
}

// OLE, not COM alone: in-place activation, the clipboard and drag and drop need it. It makes the
// same single-threaded apartment.
void ApplicationObject::Initialize() {
  ole_initialized_ = SUCCEEDED(::OleInitialize(nullptr));
}

void ApplicationObject::Uninitialize() {
  if (ole_initialized_) ::OleUninitialize();
  ole_initialized_ = false;
}

HWND ApplicationObject::Handle() {
  if (!window_) {
    window_ = std::make_unique<AppWindow>(title_);
    handle_ = window_->Handle();
  }
  return handle_;
}

void ApplicationObject::SetTitle(const std::string& title) {
  title_ = title;
  ::SetWindowTextA(Handle(), title_.c_str());
}

void ApplicationObject::DestroyForms() {
  for (auto& form : forms_) form.reset();
  forms_.clear();
  main_form_ = nullptr;
}

void ApplicationObject::Run() {
  terminated_ = false;
  if (main_form_) {
    const int command = fw::StartupShowCommand();
    if (command == SW_SHOWMINNOACTIVE) {
      main_form_pending_ = true;
      ::ShowWindow(Handle(), SW_SHOWMINNOACTIVE);
    } else {
      ::ShowWindow(Handle(), SW_SHOWNA);
      main_form_->Show(command == SW_SHOWMAXIMIZED ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
    }
  }
  while (!terminated_) HandleMessage();
}

void ApplicationObject::Terminate() { ::PostQuitMessage(0); }

// The loop is Unicode whatever the windows are: the system hands an ANSI window its characters
// converted (a double-byte one as lead and trail byte), and the Unicode cell editor gets each
// character whole. An ANSI loop would split the editor's characters into bytes, and the dialog
// key handling would convert each byte on its own.
void ApplicationObject::HandleMessage() {
  MSG msg;
  const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
  if (got == 0 || got == -1) {
    terminated_ = true;
    return;
  }
  if (msg.hwnd) {
    const HWND root = ::GetAncestor(msg.hwnd, GA_ROOT);
    const Window* window = Window::FromHandle(root);
    if (window && window->HandlesDialogKeys() && ::IsDialogMessageW(root, &msg)) return;
  }
  ::TranslateMessage(&msg);
  ::DispatchMessageW(&msg);
}

void ApplicationObject::Minimize() { ::ShowWindow(Handle(), SW_MINIMIZE); }

void ApplicationObject::ShowPendingMainForm() {
  if (!main_form_pending_ || !main_form_ || ::IsIconic(handle_)) return;
  main_form_pending_ = false;
  main_form_->Show(SW_SHOWNORMAL);
}

void ApplicationObject::ShowErrorBox(const std::string& message) noexcept {
  try {
    // Owned by the application window, which such a box alone disables: the program's other
    // windows are disabled too, so that nothing behind it is clicked. The application window is
    // activated when the box closes, while the form the user was working in is still disabled:
    // that form gets the activation once enabled again.
    {
      const OtherWindowsDisabled others(Handle());
      ShowMessageBox(Handle(), koe::ErrorBoxText(message), title_, MB_OK | MB_ICONSTOP);
    }
    if (::GetActiveWindow() == handle_) ActivateLastForm();
  } catch (...) {
    // Nothing more can be shown.
  }
}

bool ApplicationObject::ActivateLastForm() {
  const HWND last = last_active_form_;
  if (!last || !::IsWindow(last) || !::IsWindowVisible(last) || !::IsWindowEnabled(last)) return false;
  ::SetActiveWindow(last);
  return true;
}

// Messages of the application window. handle_ is set once the window is made: messages sent
// while it is being made get the default handling only.
void ApplicationObject::HandleAppMessage(Message& message) {
  switch (message.Msg) {
    case WM_CLOSE:
      if (main_form_) main_form_->Close();
      message.Handled = true;
      break;
    case WM_SIZE:
      if (message.WParam != SIZE_MINIMIZED && handle_) ShowPendingMainForm();
      break;
    case WM_ACTIVATE:
      // The application window only carries the task bar button: when it is activated (the user
      // restores the program, or a box it owned closes), the window last active goes on.
      if (LOWORD(message.WParam) != WA_INACTIVE && handle_ && ActivateLastForm()) message.Handled = true;
      break;
    case WM_SYSCOMMAND:
      if ((message.WParam & 0xFFF0) == SC_RESTORE && handle_) {
        message.Default();
        ShowPendingMainForm();
      }
      break;
  }
}

}  // namespace fw
