// The application object: the hidden "TApplication" window that owns the task bar button and the
// forms, the title, the message loop and the standard error box.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fw {

class Form;
class Window;
struct Message;

class ApplicationObject {
 public:
  // Does nothing: the main block starts things explicitly (Initialize, then the forms).
  ApplicationObject() = default;
  ~ApplicationObject();
  ApplicationObject(const ApplicationObject&) = delete;
  ApplicationObject& operator=(const ApplicationObject&) = delete;

  // Initialises OLE (and with it COM) on this thread as a single-threaded apartment.
  void Initialize();
  // Uninitialises OLE when Initialize initialised it.
  void Uninitialize();

  // The hidden application window (class "TApplication", captioned with the title); made on first use.
  HWND Handle();

  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title);
  const std::string& HelpFile() const { return help_file_; }
  void SetHelpFile(const std::string& name) { help_file_ = name; }

  // Creates a form of class T, stores it in `ref` before anything else can see it, and keeps it
  // until DestroyForms. The first form created this way becomes the main form.
  template <class T>
  void CreateForm(T*& ref) {
    auto form = std::make_unique<T>();
    ref = form.get();
    if (main_form_ == nullptr) main_form_ = form.get();
    forms_.push_back(std::move(form));
  }
  Form* MainForm() const { return main_form_; }
  // Destroys the forms made by CreateForm, in the order they were made.
  void DestroyForms();

  // Shows the main form by the process's start-up show command, then runs the message loop until
  // Terminate. An error raised while the main form is first made visible leaves Run.
  void Run();
  // Asks the message loop to end (a quit request with code 0).
  void Terminate();
  bool Terminated() const { return terminated_; }
  // Takes one message from the queue (waiting for one) and dispatches it. The main loop and every
  // modal loop use this.
  void HandleMessage();

  // Minimises the application to its task bar button; the forms it owns are hidden with it.
  void Minimize();

  // A form became active; it gets the activation back when the application window is activated.
  void NoteActiveForm(HWND form) { last_active_form_ = form; }

  // The standard error box: owned by the application window, caption the title, stop icon, OK;
  // the message with "." appended when its last byte sorts above ".". Errors that escape a
  // handler reach it through the error edge (edge.h). The program's other windows are disabled
  // while it is up.
  void ShowErrorBox(const std::string& message) noexcept;

 private:
  class AppWindow;
  friend class AppWindow;
  void HandleAppMessage(Message& message);
  // Activates the form the user worked in last, when it can take the activation.
  bool ActivateLastForm();
  void ShowPendingMainForm();

  std::unique_ptr<AppWindow> window_;
  HWND handle_ = nullptr;
  std::string title_;
  std::string help_file_;
  bool ole_initialized_ = false;
  bool terminated_ = false;
  HWND last_active_form_ = nullptr;  // the form the user worked in last
  bool main_form_pending_ = false;  // started minimised: the main form is shown at the first restore
  Form* main_form_ = nullptr;
  std::vector<std::unique_ptr<Form>> forms_;
};

// The one application object of the process.
extern ApplicationObject Application;

}  // namespace fw
