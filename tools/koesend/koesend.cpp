// koesend: speaks a text through Koemado exactly as the reader application does, and waits
// until Koemado reports the end of speech.
//
//   koesend [--post] [--timeout SECONDS] [TEXT...]
//
// Without TEXT, each line of standard input (UTF-8) is one utterance.
// Exit codes: 0 spoken, 1 usage, 2 no Koemado window, 3 timed out waiting for the end of speech.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iostream>
#include <string>

#include "koesend_lib.h"
#include "protocol.h"

namespace {

const char kUsage[] =
    "使い方: koesend [--post] [--timeout 秒] [テキスト...]\n"
    "  テキストを Koemado に一文字ずつ送り、読み終わるまで待ちます。\n"
    "  テキストを省くと、標準入力 (UTF-8) の一行ごとに一つの発話として送ります。\n"
    "  --post      SendMessage でなく PostMessage で送る\n"
    "  --timeout   読み終わりを待つ秒数 (既定 60、0 は待たない)\n"
    "  終了コード: 0 読み終わり, 1 使い方の誤り, 2 Koemado が動いていない, 3 時間切れ\n"
    "\n"
    "Usage: koesend [--post] [--timeout SECONDS] [TEXT...]\n"
    "  Sends the text to Koemado one character per message and waits until it has been spoken.\n"
    "  Without TEXT, every line of standard input (UTF-8) is sent as one utterance.\n"
    "  --post      post the messages instead of sending them\n"
    "  --timeout   seconds to wait for the end of speech (default 60, 0: do not wait)\n"
    "  Exit codes: 0 spoken, 1 usage error, 2 Koemado is not running, 3 timed out\n";

// Writes a Shift-JIS text: through the console's wide API when the handle is a console (so
// the text shows right whatever the console's code page), else as the bytes themselves.
void Print(DWORD std_handle, const char* text) {
  HANDLE h = GetStdHandle(std_handle);
  DWORD mode = 0, written = 0;
  if (GetConsoleMode(h, &mode)) {
    std::wstring wide(std::strlen(text) + 1, L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), static_cast<int>(wide.size()));
    WriteConsoleW(h, wide.data(), static_cast<DWORD>(n > 0 ? n - 1 : 0), &written, nullptr);
  } else {
    WriteFile(h, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
  }
}

// The client window that receives WM_KOE_DONE.
bool g_done = false;

LRESULT CALLBACK ClientProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == koe::kWmKoeDone) {
    g_done = true;
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

HWND CreateClientWindow() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = ClientProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = koe::kClientWindowClasses[1];
  RegisterClassA(&wc);
  return CreateWindowExA(0, wc.lpszClassName, "koesend", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                         nullptr, wc.hInstance, nullptr);
}

// 0 spoken, 2 Koemado gone, 3 timed out.
int SpeakOne(const std::wstring& text, bool post, DWORD timeout_ms) {
  const auto messages = koesend::ToMessages(koesend::ToAnsi(text));
  if (messages.empty()) return 0;
  HWND koemado = koesend::FindKoemado();
  if (!koemado) return 2;
  g_done = false;
  for (const auto& m : messages) {
    if (post) {
      if (!PostMessageA(koemado, koe::kWmKoeChar, m.phase, static_cast<LPARAM>(m.code))) return 2;
    } else {
      DWORD_PTR result = 0;
      if (!SendMessageTimeoutA(koemado, koe::kWmKoeChar, m.phase, static_cast<LPARAM>(m.code),
                               SMTO_NORMAL, 30000, &result))
        return IsWindow(koemado) ? 3 : 2;
    }
  }
  if (timeout_ms == 0) return 0;
  const DWORD start = GetTickCount();
  while (!g_done) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeout_ms) return 3;
    if (!IsWindow(koemado)) return 2;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(timeout_ms - elapsed, 500),
                              QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  return 0;
}

}  // namespace

int main() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  bool post = false;
  DWORD timeout_ms = 60000;
  std::wstring text;
  bool have_text = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--post") {
      post = true;
    } else if (arg == L"--timeout" && i + 1 < argc) {
      wchar_t* end = nullptr;
      const double seconds = std::wcstod(argv[++i], &end);
      if (*end != L'\0' || seconds < 0) {
        Print(STD_ERROR_HANDLE, kUsage);
        return 1;
      }
      timeout_ms = static_cast<DWORD>(seconds * 1000);
    } else if (arg == L"--help" || arg == L"-h" || arg == L"/?") {
      Print(STD_OUTPUT_HANDLE, kUsage);
      return 0;
    } else if (arg.rfind(L"--", 0) == 0) {
      Print(STD_ERROR_HANDLE, kUsage);
      return 1;
    } else {
      if (have_text) text += L' ';
      text += arg;
      have_text = true;
    }
  }
  LocalFree(argv);

  if (!koesend::FindKoemado()) {
    Print(STD_ERROR_HANDLE, "koesend: Koemado が動いていません (Koemado is not running)\n");
    return 2;
  }
  CreateClientWindow();

  int rc = 0;
  if (have_text) {
    rc = SpeakOne(text, post, timeout_ms);
  } else {
    std::string line;
    while (rc == 0 && std::getline(std::cin, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      rc = SpeakOne(koesend::FromUtf8(line), post, timeout_ms);
    }
  }
  if (rc == 2) Print(STD_ERROR_HANDLE, "koesend: Koemado が終了しました (Koemado has gone)\n");
  if (rc == 3) Print(STD_ERROR_HANDLE, "koesend: 時間切れ (timed out waiting for the end of speech)\n");
  return rc;
}
