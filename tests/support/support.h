// What the Windows tests, the end-to-end suite and the benchmark clients share: pumping and
// waiting, environment variables, files and the settings file, code-page conversion, the speech
// control's identifiers, its registration and its transcript, and the Linux view of a process.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol.h"

namespace koe_test {

// ---- messages ----------------------------------------------------------------------------

// Dispatches this thread's messages: what is waiting now, and for ms milliseconds more.
void Pump(int ms = 0);
// How Pump dispatches the messages waiting: by default with a loop of its own, as a client
// process does; a test of the program's windows links koe_test_program_loop, which makes it the
// framework's loop (the one the program runs), so that what a test types or scrolls passes where
// the user's input passes.
using DispatchWaiting = void (*)();
void UseMessageLoop(DispatchWaiting dispatch);
// Dispatches messages until pred() holds or timeout_ms has passed; returns whether it held.
bool WaitUntil(const std::function<bool()>& pred, int timeout_ms = 15000);

// ---- environment -------------------------------------------------------------------------

// Sets (with nullopt: removes) an environment variable of this process, and puts back what it
// was when the object goes.
class ScopedEnv {
 public:
  ScopedEnv(const std::string& name, const std::optional<std::string>& value);
  ScopedEnv(const wchar_t* name, const wchar_t* value);  // value null: removed
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::wstring name_;
  std::optional<std::wstring> old_;
};

// A path named by an environment variable, as Windows sees it (a Unix path becomes a Z: path);
// empty when the variable is not set.
std::string PathFromEnv(const char* name);

// ---- text --------------------------------------------------------------------------------

std::wstring Wide(std::string_view bytes, UINT code_page);
std::string Narrow(std::wstring_view text, UINT code_page);
// A UTF-8 literal as bytes (narrow literals here are Shift-JIS), e.g. for a transcript's lines.
inline std::string Utf8(std::u8string_view text) { return {text.begin(), text.end()}; }

// ---- files -------------------------------------------------------------------------------

// A file's bytes, read while others may write it; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// Its lines, without line ends.
std::vector<std::string> ReadLines(const std::string& path);
// The samples of a 16-bit PCM WAV file (its "data" chunk); empty when it cannot be read.
std::vector<std::int16_t> WavSamples(const std::string& path);
// A new, unique path in the temporary folder (no file made).
std::string TempFilePath(const char* prefix);

// The settings file named `name` in the Windows directory, where the profile functions keep it.
std::string IniPath(const std::string& name = "Koemado.ini");
void WriteIni(const std::string& raw, const std::string& name = "Koemado.ini");
std::optional<std::string> ReadIni(const std::string& name = "Koemado.ini");
void DeleteIni(const std::string& name = "Koemado.ini");
std::string IniValue(const char* section, const char* key, const std::string& name = "Koemado.ini");

// ---- the speech control ------------------------------------------------------------------

inline constexpr GUID kClsidPtSvr = koe::AsGuid<GUID>(koe::kClsidPtSvr);
inline constexpr GUID kDiidDPtSvr = koe::AsGuid<GUID>(koe::kDiidDPtSvr);
inline constexpr GUID kDiidDPtSvrEvents = koe::AsGuid<GUID>(koe::kDiidDPtSvrEvents);

// Calls one of the control file's entry points without arguments (DllRegisterServer,
// DllUnregisterServer, DllCanUnloadNow); the module stays loaded.
HRESULT CallControlEntry(const std::string& control_path, const char* entry);

// The text of a Shift-JIS utterance as the control's transcript writes it: UTF-8, with
// backslash, U+0000, CR and LF escaped.
std::string TranscriptText(std::string_view sjis);

// The control's transcript: a file of its own for each object, UTF-8 lines.
class Transcript {
 public:
  Transcript();
  ~Transcript();
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;
  const std::string& Path() const { return path_; }
  std::vector<std::string> Lines() const;
  std::vector<std::string> Matching(const std::string& prefix) const;
  std::vector<std::string> Speaks() const;  // the texts of the "speak" lines
  bool Has(const std::string& line) const;
  bool WaitForLines(const std::string& prefix, std::size_t count, int timeout_ms = 15000) const;

 private:
  std::string path_;
};

// ---- the reader ------------------------------------------------------------------------------

// The reader as Koemado sees it: one hidden top-level window of each client frame-window class
// (in posting order), counting the WM_KOE_DONE each gets. One at a time in a process.
class Client {
 public:
  Client();
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;
  int Done(int class_index) const;
  int DoneAll() const;  // the smallest count of the three classes
  bool AllDoneEqual() const;
  void Destroy();

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  HWND windows_[3] = {};
};

// ---- windows of other processes ----------------------------------------------------------

// The top-level window of process `pid` with this class (and caption, when not null); with
// visible_only, only a visible one. Of several, the last in Z order. Null when there is none.
HWND FindProcessWindow(DWORD pid, const char* window_class, const char* caption = nullptr,
                       bool visible_only = false);

// ---- the Linux view of a Wine process -----------------------------------------------------

// The Linux process of the program file `exe` started from this prefix (its command line names
// the file, its environment this WINEPREFIX); of several, the latest started. 0 when there is
// none (on Windows, say).
unsigned long UnixPid(const std::string& exe);

struct LinuxStats {
  bool ok = false;
  double cpu_ms = 0;        // user and system time of all threads
  long long switches = 0;   // voluntary and involuntary context switches, all threads
  std::vector<std::pair<std::string, long long>> switches_by_thread;  // "tid comm", count
  long long rss_anon_kb = -1;
  long long vm_rss_kb = -1;
};
LinuxStats ReadLinuxStats(unsigned long pid);

}  // namespace koe_test
