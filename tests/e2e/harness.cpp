#include "harness.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "MenuCommands.h"
#include "koesend_lib.h"
#include "protocol.h"

namespace e2e {

std::string PathFromEnv(const char* name) {
  char buf[MAX_PATH * 2] = {};
  if (!GetEnvironmentVariableA(name, buf, sizeof buf)) return {};
  std::string p = buf;
  if (!p.empty() && p[0] == '/') {
    for (char& c : p)
      if (c == '/') c = '\\';
    p = "Z:" + p;
  }
  return p;
}

void Pump(int ms) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
  do {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  } while (static_cast<LONG>(end - GetTickCount()) > 0);
}

bool WaitUntil(const std::function<bool()>& pred, int timeout_ms) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(timeout_ms);
  for (;;) {
    Pump(0);
    if (pred()) return true;
    if (static_cast<LONG>(end - GetTickCount()) <= 0) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

namespace {

HRESULT CallOcx(const char* entry) {
  const std::string ocx = PathFromEnv("KOE_TEST_OCX");
  HMODULE dll = LoadLibraryA(ocx.c_str());
  if (!dll) return HRESULT_FROM_WIN32(GetLastError());
  auto fn = reinterpret_cast<HRESULT(WINAPI*)()>(
      reinterpret_cast<void*>(GetProcAddress(dll, entry)));
  const HRESULT hr = fn ? fn() : E_NOINTERFACE;
  FreeLibrary(dll);
  return hr;
}

std::string ReadFileBytes(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::string out;
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
  CloseHandle(h);
  return out;
}

int g_transcripts = 0;
int g_done[3] = {};

}  // namespace

void RegisterControl() { ASSERT_EQ(CallOcx("DllRegisterServer"), S_OK); }
void UnregisterControl() { ASSERT_EQ(CallOcx("DllUnregisterServer"), S_OK); }

Transcript::Transcript() {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  path_ = std::string(dir) + "koe_e2e_" + std::to_string(GetCurrentProcessId()) + "_" +
          std::to_string(++g_transcripts) + ".txt";
  DeleteFileA(path_.c_str());
}

Transcript::~Transcript() { DeleteFileA(path_.c_str()); }

std::vector<std::string> Transcript::Lines() const {
  std::vector<std::string> lines;
  std::istringstream in(ReadFileBytes(path_));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> Transcript::Matching(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const auto& l : Lines())
    if (l.rfind(prefix, 0) == 0) out.push_back(l);
  return out;
}

std::vector<std::string> Transcript::Speaks() const {
  std::vector<std::string> out;
  for (const auto& l : Matching("speak ")) out.push_back(l.substr(6));
  for (const auto& l : Lines())
    if (l == "speak") out.push_back("");
  return out;
}

bool Transcript::WaitForLines(const std::string& prefix, std::size_t count, int timeout_ms) const {
  return WaitUntil([&] { return Matching(prefix).size() >= count; }, timeout_ms);
}

Client::Client() {
  for (int i = 0; i < 3; ++i) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = koe::kClientWindowClasses[i];
    RegisterClassA(&wc);
    windows_[i] = CreateWindowExA(0, wc.lpszClassName, "e2e client", WS_OVERLAPPED, 0, 0, 0, 0,
                                  nullptr, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrA(windows_[i], GWLP_USERDATA, i);
    g_done[i] = 0;
  }
}

Client::~Client() { Destroy(); }

void Client::Destroy() {
  for (HWND& w : windows_) {
    if (w) DestroyWindow(w);
    w = nullptr;
  }
}

LRESULT CALLBACK Client::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == koe::kWmKoeDone) {
    ++g_done[GetWindowLongPtrA(hwnd, GWLP_USERDATA)];
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

int Client::Done(int class_index) const { return g_done[class_index]; }
int Client::DoneAll() const { return std::min({g_done[0], g_done[1], g_done[2]}); }
bool Client::AllDoneEqual() const { return g_done[0] == g_done[1] && g_done[1] == g_done[2]; }

std::unique_ptr<Koemado> Koemado::Start(const std::vector<std::string>& env, int show,
                                        const std::string& exe, bool wait_for_window,
                                        const std::string& cwd) {
  std::vector<std::string> names;
  for (const auto& e : env) {
    const auto eq = e.find('=');
    names.push_back(e.substr(0, eq));
    SetEnvironmentVariableA(names.back().c_str(), e.substr(eq + 1).c_str());
  }
  const std::string path = exe.empty() ? PathFromEnv("KOE_TEST_EXE") : exe;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = static_cast<WORD>(show);
  std::string cmd = "\"" + path + "\"";
  auto k = std::unique_ptr<Koemado>(new Koemado);
  const BOOL ok = CreateProcessA(path.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 cwd.empty() ? nullptr : cwd.c_str(), &si, &k->pi_);
  for (const auto& n : names) SetEnvironmentVariableA(n.c_str(), nullptr);
  EXPECT_TRUE(ok) << "cannot start " << path << ": " << GetLastError();
  if (!ok) return nullptr;
  if (wait_for_window) {
    const bool found = WaitUntil([&] {
      k->main_ = k->FindMainWindow();
      return k->main_ && (show == SW_SHOWMINNOACTIVE || IsWindowVisible(k->main_));
    });
    EXPECT_TRUE(found) << "Koemado's main window did not appear";
  }
  return k;
}

Koemado::~Koemado() {
  if (!pi_.hProcess) return;
  if (Running()) {
    if (Close() == -1) TerminateProcess(pi_.hProcess, 99);
  }
  CloseHandle(pi_.hThread);
  CloseHandle(pi_.hProcess);
}

HWND Koemado::FindMainWindow() const {
  HWND found = nullptr;
  HWND w = nullptr;
  while ((w = FindWindowExA(nullptr, w, koe::kMainWindowClass, nullptr)) != nullptr) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == pi_.dwProcessId) found = w;
  }
  return found;
}

// Wine keeps menus inside their process, so another process cannot read Koemado's menu bar:
// items are chosen by the command ids the main window gives them, and the in-process main
// window test checks the real menu against the same ids.
const std::vector<std::pair<std::string, UINT>>& MenuCommands() {
  static const std::vector<std::pair<std::string, UINT>> table = {
      {"終了", menu_command::kClose},
      {"声の設定", menu_command::kVoiseproperty},
      {"読み方の設定", menu_command::kYomikata},
      {"目次", menu_command::kHelp},
      {"バージョン情報", menu_command::kVersion},
      {"コントロールバージョン", menu_command::kOCXVer},
      {"合成エンジンバージョン", menu_command::kEnginVer}};
  return table;
}

void Koemado::Command(const std::string& caption) {
  for (const auto& [text, id] : MenuCommands()) {
    if (text == caption) {
      PostMessageA(main_, WM_COMMAND, id, 0);
      return;
    }
  }
  ADD_FAILURE() << "no menu item " << caption;
}

HWND Koemado::FindWindowOf(const char* cls, const char* caption) const {
  HWND w = nullptr;
  while ((w = FindWindowExA(nullptr, w, cls, caption)) != nullptr) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == pi_.dwProcessId && IsWindowVisible(w)) return w;
  }
  return nullptr;
}

namespace {
BOOL CALLBACK CollectText(HWND w, LPARAM lp) {
  char buf[512] = {};
  GetWindowTextA(w, buf, sizeof buf);
  reinterpret_cast<std::vector<std::pair<HWND, std::string>>*>(lp)->emplace_back(w, buf);
  return TRUE;
}
std::vector<std::pair<HWND, std::string>> Children(HWND parent) {
  std::vector<std::pair<HWND, std::string>> children;
  EnumChildWindows(parent, CollectText, reinterpret_cast<LPARAM>(&children));
  return children;
}
}  // namespace

std::vector<std::string> ChildTexts(HWND parent) {
  std::vector<std::string> texts;
  for (const auto& c : Children(parent)) texts.push_back(c.second);
  return texts;
}

HWND FindChild(HWND parent, const std::string& text) {
  for (const auto& c : Children(parent))
    if (c.second == text) return c.first;
  return nullptr;
}

void Koemado::Char(unsigned phase, std::uint32_t code, bool post) {
  if (post)
    PostMessageA(main_, koe::kWmKoeChar, phase, static_cast<LPARAM>(code));
  else
    SendMessageA(main_, koe::kWmKoeChar, phase, static_cast<LPARAM>(code));
}

void Koemado::Say(const std::string& sjis, bool post) {
  for (const auto& m : koesend::ToMessages(sjis)) Char(m.phase, m.code, post);
}

bool Koemado::Running() const { return WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }

int Koemado::WaitExit(int timeout_ms) {
  if (!WaitUntil([&] { return !Running(); }, timeout_ms)) return -1;
  DWORD code = 0;
  GetExitCodeProcess(pi_.hProcess, &code);
  return static_cast<int>(code);
}

int Koemado::Close() {
  if (!main_) main_ = FindMainWindow();
  if (main_ && IsWindow(main_)) PostMessageA(main_, WM_CLOSE, 0, 0);
  return WaitExit();
}

namespace {
struct BoxSearch {
  DWORD pid;
  HWND found;
};
// A message box: a visible dialog of the process with the message text's static (id 0xFFFF).
BOOL CALLBACK FindBox(HWND w, LPARAM lp) {
  auto* c = reinterpret_cast<BoxSearch*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  char cls[64] = {};
  GetClassNameA(w, cls, sizeof cls);
  if (pid == c->pid && std::string(cls) == "#32770" && IsWindowVisible(w) && GetDlgItem(w, 0xFFFF)) {
    c->found = w;
    return FALSE;
  }
  return TRUE;
}
}  // namespace

std::optional<MessageBoxSeen> Koemado::WaitForMessageBox(int timeout_ms) {
  std::optional<MessageBoxSeen> seen;
  WaitUntil(
      [&] {
        BoxSearch ctx{pi_.dwProcessId, nullptr};
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&ctx));
        if (!ctx.found) return false;
        MessageBoxSeen box;
        box.hwnd = ctx.found;
        char buf[4096] = {};
        GetWindowTextA(ctx.found, buf, sizeof buf);
        box.caption = buf;
        buf[0] = 0;
        GetDlgItemTextA(ctx.found, 0xFFFF, buf, sizeof buf);
        box.text = buf;
        seen = box;
        return true;
      },
      timeout_ms);
  return seen;
}

void Koemado::DismissMessageBox(const MessageBoxSeen& box) {
  PostMessageA(box.hwnd, WM_COMMAND, IDOK, 0);
  WaitUntil([&] { return !IsWindow(box.hwnd); }, 5000);
}

std::string IniPath(const std::string& name) {
  char dir[MAX_PATH];
  GetWindowsDirectoryA(dir, MAX_PATH);
  return std::string(dir) + "\\" + name;
}

void WriteIni(const std::string& raw, const std::string& name) {
  const std::string path = IniPath(name);
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << raw;
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, name.c_str());
}

std::optional<std::string> ReadIni(const std::string& name) {
  const std::string path = IniPath(name);
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return ReadFileBytes(path);
}

void DeleteIni(const std::string& name) {
  const std::string path = IniPath(name);
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path.c_str());
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, name.c_str());
}

std::string IniValue(const char* section, const char* key, const std::string& name) {
  char buf[2048] = {};
  GetPrivateProfileStringA(section, key, "", buf, sizeof buf, name.c_str());
  return buf;
}

std::string Utf8(const std::string& sjis) {
  std::wstring wide(sjis.size() + 1, L'\0');
  const int n = MultiByteToWideChar(932, 0, sjis.data(), static_cast<int>(sjis.size()), wide.data(),
                                    static_cast<int>(wide.size()));
  std::string out;
  for (int i = 0; i < n; ++i) {
    const wchar_t c = wide[i];
    if (c == 0) { out += "\\0"; continue; }
    if (c == L'\\') { out += "\\\\"; continue; }
    if (c == L'\r') { out += "\\r"; continue; }
    if (c == L'\n') { out += "\\n"; continue; }
    char buf[8];
    const int m = WideCharToMultiByte(CP_UTF8, 0, &c, 1, buf, sizeof buf, nullptr, nullptr);
    out.append(buf, m);
  }
  return out;
}

std::uint32_t Code(const std::string& sjis) {
  return koesend::ToMessages(sjis).at(0).code;
}

std::unique_ptr<Koemado> ProgramTest::StartWith(std::vector<std::string> env, bool wait_shown) {
  env.push_back("KOE_PTSVR_TRANSCRIPT=" + transcript_.Path());
  env.push_back("KOE_PTSVR_SIM_SPEED=0");
  auto k = Koemado::Start(env, SW_SHOWNORMAL, {}, wait_shown);
  if (k && wait_shown) {
    EXPECT_TRUE(transcript_.WaitForLines("put Volume=", 1));
  }
  return k;
}

}  // namespace e2e
