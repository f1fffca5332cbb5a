// Forms (top-level windows of the program's own classes), their child controls, the main menu
// and actions.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "window.h"

namespace fw {

enum class BorderStyle { Sizeable, Dialog };
enum class FormPosition { Designed, ScreenCenter };
enum class CloseAction { None, Hide, Minimize };

// Modal results (the same numbers as IDOK and IDCANCEL).
inline constexpr int mrNone = 0;
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;

// A font as the layouts give it: face name, LOGFONT height in pixels (negative: character
// height), character set.
struct FontSpec {
  std::string name;
  int height = 0;
  BYTE charset = DEFAULT_CHARSET;
};

// Owns one HFONT.
class Font {
 public:
  Font() = default;
  explicit Font(const FontSpec& spec);
  ~Font();
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;
  Font& operator=(Font&& other) noexcept;
  HFONT Handle() const { return font_; }

 private:
  HFONT font_ = nullptr;
};

struct FormLayout {
  const char* class_name;  // the window class, named after the form class ("TMainForm")
  std::string caption;
  int left = 0, top = 0;
  int width = 0, height = 0;  // outer size, or the client size when client_size
  bool client_size = false;
  BorderStyle border = BorderStyle::Sizeable;
  FormPosition position = FormPosition::Designed;
  FontSpec font;
};

class Control;
class Button;
class MainMenu;

// While it lives, the thread's visible and enabled top-level windows but one are disabled, as a
// modal form or box needs; EnableAgain (or the end of its life) enables them again. A window it
// has no room to remember is left enabled.
class OtherWindowsDisabled {
 public:
  explicit OtherWindowsDisabled(HWND except);
  ~OtherWindowsDisabled() { EnableAgain(); }
  OtherWindowsDisabled(const OtherWindowsDisabled&) = delete;
  OtherWindowsDisabled& operator=(const OtherWindowsDisabled&) = delete;
  void EnableAgain();

 private:
  static BOOL CALLBACK Disable(HWND window, LPARAM self);
  HWND except_;
  std::vector<HWND> disabled_;
};

// A top-level window owned by the application window. Its handle is made, hidden, in the
// constructor.
//
// A form of the program hooks what it needs by overriding: Dispatch for the messages it handles
// (it sets Handled for those and passes every other message to Form::Dispatch; a handler that
// wants the default handling around its own work calls the message's Default()),
// CreateChildWindows, Showing and Closing for the form's own events.
class Form : public Window {
 public:
  explicit Form(const FormLayout& layout);
  ~Form() override;

  // Makes the form visible. When it goes from hidden to shown: CreateChildWindows runs (an
  // error there leaves Show), then Showing (an error there goes to the standard error box), then
  // the window appears with the given show command.
  void Show(int command = SW_SHOWNORMAL);
  void Hide();
  bool Visible() const { return visible_; }

  // Shows the form modally: the thread's other top-level windows are disabled, messages keep
  // being dispatched to every window until the modal result is set; returns it and hides the form.
  int ShowModal();
  int ModalResult() const { return modal_result_; }
  // Setting a result other than mrNone while the form is modal ends its loop, also when it is set
  // by a message sent from another thread or program (a click by an accessibility tool).
  void SetModalResult(int result);
  bool Modal() const { return modal_; }

  // Asks the form to close: a modal form ends with mrCancel; otherwise Closing decides; closing
  // the application's main form terminates the application.
  void Close();

  void SetIcon(HICON icon);
  void SetMenu(MainMenu& menu);
  HFONT FontHandle() const { return font_.Handle(); }


  // For the controls of this form.
  void AddControl(Control* control) { controls_.push_back(control); }
  void RemoveControl(Control* control);
  // Hands a notification (WM_COMMAND from a child window) to the form's control that sent it;
  // false when no control of this form did.
  bool NotifyControl(WPARAM wparam, LPARAM lparam);
  void AddAligned(Control* control, bool top, int height);
  void RegisterButton(Button* button, bool is_default, bool is_cancel);
  int NextControlId() { return next_control_id_++; }
  // Forms with buttons get dialog keys: Tab, Enter for the default button, Esc for the cancel one.
  bool HandlesDialogKeys() const override { return !buttons_.empty(); }

 protected:
  // Messages of the form: the form's own bookkeeping; every message stays unhandled.
  void Dispatch(Message& message) override;

  // The form's events. CreateChildWindows: before the first showing's Showing, the windows that
  // are made only then. Showing: each time the form goes from hidden to shown, before it is
  // seen. Closing: when it is asked to close; set the action to None to keep it open.
  virtual void CreateChildWindows() {}
  virtual void Showing() {}
  virtual void Closing(CloseAction& /*action*/) {}

  void DefaultHandler(Message& message) override;

 private:
  friend class MainMenu;
  void Realign();
  void CenterOnScreen();

  struct Aligned {
    Control* control;
    bool top;
    int height;
  };

  Font font_;
  FormPosition position_;
  bool visible_ = false;
  bool modal_ = false;
  int modal_result_ = mrNone;
  int next_control_id_ = 1000;
  MainMenu* menu_ = nullptr;
  std::vector<Control*> controls_;
  std::vector<Aligned> aligned_;
  std::vector<Button*> buttons_;
  Button* default_button_ = nullptr;
  Button* cancel_button_ = nullptr;
};

// ---- actions and the main menu ----

class Action {
 public:
  Action(std::string caption, std::function<void()> on_execute)
      : Caption(std::move(caption)), OnExecute(std::move(on_execute)) {}
  // Runs the execute handler; false when there is none.
  bool Execute();

  std::string Caption;
  std::function<void()> OnExecute;
};

class ActionList {
 public:
  Action* Add(std::string caption, std::function<void()> on_execute);
  size_t Count() const { return actions_.size(); }
  Action* At(size_t index) const { return actions_.at(index).get(); }

 private:
  std::vector<std::unique_ptr<Action>> actions_;
};

class MenuItem {
 public:
  // A child item showing the action's caption and sending the command id, or one with its own
  // caption ("-": a separator). An item with children is a drop-down; one without acts at once.
  MenuItem* Add(Action* action, UINT command);
  MenuItem* Add(std::string caption);

  std::string Caption() const { return action_ ? action_->Caption : caption_; }
  Action* GetAction() const { return action_; }
  UINT Command() const { return command_; }
  size_t Count() const { return items_.size(); }
  MenuItem* At(size_t index) const { return items_.at(index).get(); }

 private:
  friend class MainMenu;
  MenuItem(std::string caption, Action* action, UINT command);
  void AppendTo(HMENU parent) const;
  MenuItem* Find(UINT command);

  std::string caption_;
  Action* action_;
  UINT command_;
  std::vector<std::unique_ptr<MenuItem>> items_;
};

class MainMenu {
 public:
  MainMenu();
  ~MainMenu();
  MainMenu(const MainMenu&) = delete;
  MainMenu& operator=(const MainMenu&) = delete;

  // Items of the menu bar.
  MenuItem* Add(Action* action, UINT command) { return root_.Add(action, command); }
  MenuItem* Add(std::string caption) { return root_.Add(std::move(caption)); }

  // The menu bar, built from the items on first use.
  HMENU Handle();
  // Runs the action of the item with this command; false when no item has it.
  bool DispatchCommand(UINT command);

 private:
  friend class Form;

  MenuItem root_;
  HMENU handle_ = nullptr;
  HWND window_ = nullptr;
  Form* form_ = nullptr;  // the form showing the menu; each tells the other when it goes
};

}  // namespace fw
