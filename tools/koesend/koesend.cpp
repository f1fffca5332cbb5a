// koesend: speaks a text through Koemado exactly as the reader application does, and waits
// until Koemado reports the end of speech.
//
//   koesend [--post] [--timeout SECONDS] [TEXT...]
//
// Without TEXT, each line of standard input is one utterance: typed into a console, as the console
// gives it (in UTF-16, whatever its code page); from a pipe or a file, UTF-8 (a byte order mark is
// skipped), or Shift-JIS for a line that is not UTF-8 (what cmd.exe's echo gives on a Japanese
// system). Messages go out in UTF-16 to a console, in UTF-8 elsewhere. What reaches Koemado is
// Shift-JIS whatever the system's code page, as the reader sends it.
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
    "  テキストを省くと、標準入力の一行ごとに一つの発話として送ります\n"
    "  (パイプやファイルは UTF-8、UTF-8 でない行はシフト JIS として読みます)。\n"
    "  --post      SendMessage でなく PostMessage で送ります\n"
    "  --timeout   読み終わりを待つ秒数 (既定 60、0 は待ちません)\n"
    "  終了コード: 0 読み終わり、1 使い方の誤り、2 Koemado が動いていない、3 時間切れ\n";

// Writes one of this program's texts: through the console's wide API when the handle is a console
// (so it shows right whatever the console's code page), else in UTF-8.
void Print(DWORD std_handle, const char* text) {
  HANDLE h = GetStdHandle(std_handle);
  DWORD mode = 0, written = 0;
  std::wstring wide(std::strlen(text) + 1, L'\0');
  const int n = MultiByteToWideChar(koe::kShiftJisCodePage, 0, text, -1, wide.data(), static_cast<int>(wide.size()));
  wide.resize(n > 0 ? static_cast<std::size_t>(n - 1) : 0);
  if (GetConsoleMode(h, &mode)) {
    WriteConsoleW(h, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  } else {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                         0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size,
                        nullptr, nullptr);
    WriteFile(h, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  }
}

// The lines of standard input: from a console as UTF-16, read with the console's wide API; from
// a pipe or a file as UTF-8.
class LineReader {
 public:
  LineReader() : in_(GetStdHandle(STD_INPUT_HANDLE)) {
    DWORD mode = 0;
    console_ = GetConsoleMode(in_, &mode) != FALSE;
  }

  // False at the end of the input.
  bool Next(std::wstring& line) {
    line.clear();
    if (console_) {
      for (;;) {
        if (next_ == buffer_.size() && !Fill()) return !line.empty();
        const wchar_t c = buffer_[next_++];
        if (c == L'\n') break;
        if (c == 0x1A && line.empty()) return false;  // Ctrl+Z: the end of console input
        line += c;
      }
    } else {
      std::string bytes;
      if (!std::getline(std::cin, bytes)) return false;
      if (first_ && bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
      first_ = false;
      line = koesend::FromPipe(bytes);
    }
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    return true;
  }

 private:
  bool Fill() {
    buffer_.resize(1024);
    next_ = 0;
    DWORD got = 0;
    if (!ReadConsoleW(in_, buffer_.data(), static_cast<DWORD>(buffer_.size()), &got, nullptr)) got = 0;
    buffer_.resize(got);
    return got > 0;
  }

  HANDLE in_;
  bool console_ = false;
  bool first_ = true;
  std::wstring buffer_;
  std::size_t next_ = 0;
};

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
  const auto messages = koesend::ToMessages(koesend::ToShiftJis(text));
  if (messages.empty()) return 0;
  HWND koemado = koesend::FindKoemado();
  if (!koemado) return 2;
  g_done = false;
  for (const auto& m : messages) {
    if (post) {
      // A queue holds 10,000 posted messages: a longer text waits while Koemado takes them.
      while (!PostMessageA(koemado, koe::kWmKoeChar, m.phase, static_cast<LPARAM>(m.code))) {
        if (GetLastError() != ERROR_NOT_ENOUGH_QUOTA || !IsWindow(koemado)) return 2;
        Sleep(10);
      }
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
      // Up to what a DWORD of milliseconds holds; "nan" and "inf" are no number of seconds.
      if (*end != L'\0' || !(seconds >= 0 && seconds <= 4294967.0)) {
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
    Print(STD_ERROR_HANDLE, "koesend: Koemado が動いていません\n");
    return 2;
  }
  CreateClientWindow();

  int rc = 0;
  if (have_text) {
    rc = SpeakOne(text, post, timeout_ms);
  } else {
    LineReader input;
    std::wstring line;
    while (rc == 0 && input.Next(line)) rc = SpeakOne(line, post, timeout_ms);
  }
  if (rc == 2) Print(STD_ERROR_HANDLE, "koesend: Koemado が終了しました\n");
  if (rc == 3) Print(STD_ERROR_HANDLE, "koesend: 読み終わりを待つうちに時間切れになりました\n");
  return rc;
}
