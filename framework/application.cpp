#include "application.h"

#include <ole2.h>

#include <stdexcept>

#include "forms.h"
#include "messages.h"
#include "system.h"
#include "window.h"

namespace fw {

ApplicationObject Application;

// The hidden application window: every message goes to the application object.
class ApplicationObject::AppWindow final : public Window {
 public:
  explicit AppWindow(const std::string& title) {
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    HICON icon = ::LoadIconA(instance, "MAINICON");
    if (!icon) icon = ::LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    // A caption window of no size: it is the task bar button, nothing else of it is seen.
    CreateHandle(0, RegisterWindowClass("TApplication", 0, nullptr, icon), title,
                 WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                 ::GetSystemMetrics(SM_CXSCREEN) / 2, ::GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0,
                 nullptr, nullptr);
  }

 protected:
  void Dispatch(Message& message) override {
    message.Result = Application.HandleAppMessage(Handle(), message.Msg, message.WParam, message.LParam);
    message.Handled = true;
  }
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

void ApplicationObject::ShowException(const std::exception& error) {
  try {
    const std::string text = koe::ErrorBoxText(error.what());
    const UINT type = MB_OK | MB_ICONSTOP;
    // Owned by the application window, which is activated when the box closes and hands the
    // activation on to the form the user was working in (HandleAppMessage, WM_ACTIVATE).
    ShowMessageBox(Handle(), text, title_, type);
  } catch (...) {
    // Nothing more can be shown.
  }
}

void ApplicationObject::ShowUnknownException() {
  ShowException(std::runtime_error(koe::text::kUnknownError));
}

LRESULT ApplicationObject::HandleAppMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_CLOSE:
      if (main_form_) main_form_->Close();
      return 0;
    case WM_SIZE:
      if (wparam != SIZE_MINIMIZED && hwnd == handle_) ShowPendingMainForm();
      break;
    case WM_ACTIVATE:
      // The application window only carries the task bar button: when it is activated (the user
      // restores the program, or a box it owned closes), the window last active goes on.
      if (LOWORD(wparam) != WA_INACTIVE && hwnd == handle_) {
        const HWND last = last_active_form_;
        if (last && ::IsWindow(last) && ::IsWindowVisible(last) && ::IsWindowEnabled(last)) {
          ::SetActiveWindow(last);
          return 0;
        }
      }
      break;
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0) == SC_RESTORE) {
        const LRESULT result = ::DefWindowProcA(hwnd, msg, wparam, lparam);
        ShowPendingMainForm();
        return result;
      }
      break;
  }
  return ::DefWindowProcA(hwnd, msg, wparam, lparam);
}

}  // namespace fw
