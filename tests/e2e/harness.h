// Drives the real Koemado.exe the way its peers do: a client that owns windows of the three
// frame-window classes, the speech control's transcript, the settings file in the Windows
// directory, and the message boxes the program shows.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

// Windows path of a file named by an environment variable (a Unix path becomes a Z: path).
std::string PathFromEnv(const char* name);

// Runs until pred() holds or the timeout passes, dispatching this thread's messages meanwhile.
bool WaitUntil(const std::function<bool()>& pred, int timeout_ms = 15000);
void Pump(int ms);

// The speech control: registration of the built control and the transcript it writes.
void RegisterControl();
void UnregisterControl();

class Transcript {
 public:
  Transcript();
  ~Transcript();
  const std::string& Path() const { return path_; }
  std::vector<std::string> Lines() const;   // UTF-8 lines
  std::vector<std::string> Speaks() const;  // the texts of the "speak " lines
  std::vector<std::string> Matching(const std::string& prefix) const;
  bool WaitForLines(const std::string& prefix, std::size_t count, int timeout_ms = 15000) const;

 private:
  std::string path_;
};

// The client: one hidden top-level window of each frame-window class, counting WM_KOE_DONE.
class Client {
 public:
  Client();
  ~Client();
  int Done(int class_index) const;
  int DoneAll() const;  // the smallest count of the three classes
  bool AllDoneEqual() const;
  void Destroy();

 private:
  static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
  HWND windows_[3] = {};
};

struct MessageBoxSeen {
  std::string caption;  // Shift-JIS
  std::string text;
  HWND hwnd = nullptr;
};

// A running Koemado.exe.
class Koemado {
 public:
  // Starts the program with the given show command and environment additions
  // ("NAME=value" pairs, set for the child only) and waits for its main window.
  static std::unique_ptr<Koemado> Start(const std::vector<std::string>& env = {},
                                        int show = SW_SHOWNORMAL, const std::string& exe = {},
                                        bool wait_for_window = true, const std::string& cwd = {});
  ~Koemado();

  HWND Main() const { return main_; }
  DWORD Pid() const { return pi_.dwProcessId; }
  void Char(unsigned phase, std::uint32_t code, bool post = false);
  void Say(const std::string& sjis, bool post = false);  // one utterance, as a reader sends it
  std::optional<MessageBoxSeen> WaitForMessageBox(int timeout_ms = 15000);
  void DismissMessageBox(const MessageBoxSeen& box);
  bool Running() const;
  // Closes the main window and returns the exit code (or -1 when it does not end).
  int Close();
  int WaitExit(int timeout_ms = 15000);
  HWND FindMainWindow() const;
  // Chooses the menu item with this caption (posted, as a click would be).
  void Command(const std::string& caption);
  // A visible top-level window of this process with the given class and caption.
  HWND FindWindowOf(const char* cls, const char* caption) const;

 private:
  PROCESS_INFORMATION pi_{};
  HWND main_ = nullptr;
};

// The settings file, in the Windows directory, named after the program.
std::string IniPath(const std::string& name = "Koemado.ini");
void WriteIni(const std::string& raw, const std::string& name = "Koemado.ini");
std::optional<std::string> ReadIni(const std::string& name = "Koemado.ini");
void DeleteIni(const std::string& name = "Koemado.ini");
std::string IniValue(const char* section, const char* key, const std::string& name = "Koemado.ini");

// Caption -> command of each menu item that runs an action.
const std::vector<std::pair<std::string, UINT>>& MenuCommands();

// The texts of a window's children, in Z order (labels, buttons).
std::vector<std::string> ChildTexts(HWND parent);
HWND FindChild(HWND parent, const std::string& text);

// Shift-JIS <-> UTF-8 for comparing with the transcript.
std::string Utf8(const std::string& sjis);

// The code a client sends for the first character of a Shift-JIS text.
std::uint32_t Code(const std::string& sjis);

// A test that starts Koemado with the control's transcript and its simulated engine at its
// fastest, from no settings file, with our control registered.
class ProgramTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterControl(); }
  void SetUp() override { DeleteIni(); }
  void TearDown() override { DeleteIni(); }
  // Starts the program with these environment additions; when shown, waits until the stored
  // voice values have reached the control.
  std::unique_ptr<Koemado> StartWith(std::vector<std::string> env, bool wait_shown = true);
  Transcript transcript_;
};

}  // namespace e2e
