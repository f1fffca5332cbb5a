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

#include "support.h"

namespace e2e {

using koe_test::Client;
using koe_test::DeleteIni;
using koe_test::IniPath;
using koe_test::IniValue;
using koe_test::PathFromEnv;
using koe_test::Pump;
using koe_test::ReadIni;
using koe_test::Transcript;
using koe_test::WaitUntil;
using koe_test::WriteIni;

// The speech control named by KOE_TEST_OCX: registered (or unregistered) for the tests.
void RegisterControl();
void UnregisterControl();

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

// The texts of a window's children, in Z order (labels, buttons).
std::vector<std::string> ChildTexts(HWND parent);
HWND FindChild(HWND parent, const std::string& text);

// A Shift-JIS text as the control's transcript shows it.
inline std::string Utf8(const std::string& sjis) { return koe_test::TranscriptText(sjis); }

// The code a client sends for the first character of a Shift-JIS text.
std::uint32_t Code(const std::string& sjis);

// A test that starts Koemado with the control's transcript and its simulated engine at its
// fastest, from no settings file, with our control registered.
class ProgramTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterControl(); }
  void SetUp() override { DeleteIni(); }
  void TearDown() override { DeleteIni(); }
  // Starts the program with its transcript and these environment additions, as Koemado::Start.
  std::unique_ptr<Koemado> Start(std::vector<std::string> env = {}, int show = SW_SHOWNORMAL,
                                 const std::string& exe = {}, bool wait_for_window = true);
  // The same with the simulated engine at its fastest; when shown, waits until the stored
  // voice values have reached the control.
  std::unique_ptr<Koemado> StartWith(std::vector<std::string> env, bool wait_shown = true);
  Transcript transcript_;
};

}  // namespace e2e
