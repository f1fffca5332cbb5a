#include "harness.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "MenuCommands.h"
#include "koesend_lib.h"
#include "protocol.h"

namespace e2e {

void RegisterControl() {
  ASSERT_EQ(koe_test::CallControlEntry(PathFromEnv("KOE_TEST_OCX"), "DllRegisterServer"), S_OK);
}
void UnregisterControl() {
  ASSERT_EQ(koe_test::CallControlEntry(PathFromEnv("KOE_TEST_OCX"), "DllUnregisterServer"), S_OK);
}

std::unique_ptr<Koemado> Koemado::Start(const std::vector<std::string>& env, int show,
                                        const std::string& exe, bool wait_for_window,
                                        const std::string& cwd) {
  // The relay's tests need no voice: the simulated engine, unless a test asks for another.
  std::vector<std::string> all = env;
  if (std::none_of(all.begin(), all.end(), [](const std::string& e) { return e.starts_with("KOE_PTSVR_ENGINE="); }))
    all.push_back("KOE_PTSVR_ENGINE=sim");
  std::vector<std::string> names;
  for (const auto& e : all) {
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

HWND Koemado::FindMainWindow() const { return koe_test::FindProcessWindow(pi_.dwProcessId, koe::kMainWindowClass); }

// Wine keeps menus inside their process, so another process cannot read Koemado's menu bar:
// items are chosen by the command ids of the program's menu table, and the in-process main
// window test checks the real menu against the same ids.
void Koemado::Command(const std::string& caption) {
  const MenuCommand command = CommandOf(caption);
  if (command == MenuCommand::Separator) {
    ADD_FAILURE() << "no menu item " << caption;
    return;
  }
  PostMessageA(main_, WM_COMMAND, static_cast<UINT>(command), 0);
}

HWND Koemado::FindWindowOf(const char* cls, const char* caption) const {
  return koe_test::FindProcessWindow(pi_.dwProcessId, cls, caption, /*visible_only=*/true);
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

std::uint32_t Code(const std::string& sjis) {
  return koesend::ToMessages(sjis).at(0).code;
}

std::unique_ptr<Koemado> ProgramTest::Start(std::vector<std::string> env, int show,
                                            const std::string& exe, bool wait_for_window) {
  env.push_back("KOE_PTSVR_TRANSCRIPT=" + transcript_.Path());
  return Koemado::Start(env, show, exe, wait_for_window);
}

std::unique_ptr<Koemado> ProgramTest::StartWith(std::vector<std::string> env, bool wait_shown) {
  env.push_back("KOE_PTSVR_SIM_SPEED=0");
  auto k = Start(env, SW_SHOWNORMAL, {}, wait_shown);
  if (k && wait_shown) {
    EXPECT_TRUE(transcript_.WaitForLines("put Volume=", 1));
  }
  return k;
}

}  // namespace e2e
