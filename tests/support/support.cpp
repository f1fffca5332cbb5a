#include "support.h"

#include <cstring>

#include <algorithm>
#include <cstdlib>

namespace koe_test {

// ---- messages ----------------------------------------------------------------------------

namespace {

void OwnLoop() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

DispatchWaiting g_dispatch = &OwnLoop;

}  // namespace

void UseMessageLoop(DispatchWaiting dispatch) { g_dispatch = dispatch; }

void Pump(int ms) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
  do {
    g_dispatch();
    if (ms > 0) MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  } while (static_cast<LONG>(end - GetTickCount()) > 0);
}

bool WaitUntil(const std::function<bool()>& pred, int timeout_ms) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(timeout_ms);
  for (;;) {
    Pump(0);
    if (pred()) return true;
    if (static_cast<LONG>(end - GetTickCount()) <= 0) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

// ---- environment -------------------------------------------------------------------------

namespace {

std::optional<std::wstring> GetEnvW(const std::wstring& name) {
  const DWORD size = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
  if (size == 0) return std::nullopt;
  std::wstring value(size, L'\0');
  value.resize(GetEnvironmentVariableW(name.c_str(), value.data(), size));
  return value;
}

std::optional<std::string> GetEnv(const std::string& name) {
  const auto value = GetEnvW(Wide(name, CP_ACP));
  return value ? std::optional(Narrow(*value, CP_ACP)) : std::nullopt;
}

}  // namespace

ScopedEnv::ScopedEnv(const std::string& name, const std::optional<std::string>& value)
    : name_(Wide(name, CP_ACP)), old_(GetEnvW(name_)) {
  SetEnvironmentVariableW(name_.c_str(), value ? Wide(*value, CP_ACP).c_str() : nullptr);
}

ScopedEnv::ScopedEnv(const wchar_t* name, const wchar_t* value) : name_(name), old_(GetEnvW(name_)) {
  SetEnvironmentVariableW(name_.c_str(), value);
}

ScopedEnv::~ScopedEnv() { SetEnvironmentVariableW(name_.c_str(), old_ ? old_->c_str() : nullptr); }

std::string PathFromEnv(const char* name) {
  std::string path = GetEnv(name).value_or("");
  if (!path.empty() && path[0] == '/') {
    std::replace(path.begin(), path.end(), '/', '\\');
    path = "Z:" + path;
  }
  return path;
}

// ---- text --------------------------------------------------------------------------------

std::wstring Wide(std::string_view bytes, UINT code_page) {
  if (bytes.empty()) return {};
  const int n = MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
  return out;
}

std::string Narrow(std::wstring_view text, UINT code_page) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}


// ---- files -------------------------------------------------------------------------------

std::string ReadWholeFile(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::string out;
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
  CloseHandle(h);
  return out;
}

std::vector<std::int16_t> WavSamples(const std::string& path) {
  const std::string bytes = ReadWholeFile(path);
  std::vector<std::int16_t> samples;
  // RIFF header, then chunks of a four-byte tag and a little-endian length.
  for (std::size_t at = 12; at + 8 <= bytes.size();) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    const std::size_t length = p[4] | p[5] << 8 | p[6] << 16 | std::size_t(p[7]) << 24;
    if (bytes.compare(at, 4, "data") == 0) {
      samples.resize(std::min(length, bytes.size() - at - 8) / 2);
      std::memcpy(samples.data(), bytes.data() + at + 8, samples.size() * 2);
      break;
    }
    at += 8 + length + (length & 1);
  }
  return samples;
}

std::vector<std::string> ReadLines(const std::string& path) {
  const std::string text = ReadWholeFile(path);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

std::string TempFilePath(const char* prefix) {
  static int made = 0;
  char dir[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, dir);
  const std::string path = std::string(dir) + prefix + "_" + std::to_string(GetCurrentProcessId()) +
                           "_" + std::to_string(++made) + ".txt";
  DeleteFileA(path.c_str());
  return path;
}

std::string IniPath(const std::string& name) {
  char dir[MAX_PATH + 1] = {};
  std::string path(dir, GetWindowsDirectoryA(dir, sizeof dir));
  if (path.empty() || path.back() != '\\') path += '\\';
  return path + name;
}

void WriteIni(const std::string& raw, const std::string& name) {
  const std::string path = IniPath(name);
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(h, raw.data(), static_cast<DWORD>(raw.size()), &written, nullptr);
    CloseHandle(h);
  }
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, name.c_str());  // forget a cached copy
}

std::optional<std::string> ReadIni(const std::string& name) {
  const std::string path = IniPath(name);
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return std::nullopt;
  return ReadWholeFile(path);
}

void DeleteIni(const std::string& name) {
  const std::string path = IniPath(name);
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path.c_str());
  RemoveDirectoryA(path.c_str());
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, name.c_str());
}

std::string IniValue(const char* section, const char* key, const std::string& name) {
  char buf[2048] = {};
  GetPrivateProfileStringA(section, key, "", buf, sizeof buf, name.c_str());
  return buf;
}

// ---- the speech control ------------------------------------------------------------------

HRESULT CallControlEntry(const std::string& control_path, const char* entry) {
  HMODULE dll = LoadLibraryA(control_path.c_str());
  if (!dll) return HRESULT_FROM_WIN32(GetLastError());
  auto fn = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(dll, entry)));
  return fn ? fn() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
}

std::string TranscriptText(std::string_view sjis) {
  std::string out;
  for (const wchar_t c : Wide(sjis, koe::kShiftJisCodePage)) {
    switch (c) {
      case L'\0': out += "\\0"; break;
      case L'\\': out += "\\\\"; break;
      case L'\r': out += "\\r"; break;
      case L'\n': out += "\\n"; break;
      default: out += Narrow(std::wstring_view(&c, 1), CP_UTF8);
    }
  }
  return out;
}

Transcript::Transcript() : path_(TempFilePath("koe_transcript")) {}

Transcript::~Transcript() { DeleteFileA(path_.c_str()); }

std::vector<std::string> Transcript::Lines() const { return ReadLines(path_); }

std::vector<std::string> Transcript::Matching(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const auto& line : Lines())
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  return out;
}

std::vector<std::string> Transcript::Speaks() const {
  std::vector<std::string> out;
  for (const auto& line : Lines()) {
    if (line == "speak") out.push_back("");
    else if (line.rfind("speak ", 0) == 0) out.push_back(line.substr(6));
  }
  return out;
}

bool Transcript::Has(const std::string& line) const {
  const auto lines = Lines();
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool Transcript::WaitForLines(const std::string& prefix, std::size_t count, int timeout_ms) const {
  return WaitUntil([&] { return Matching(prefix).size() >= count; }, timeout_ms);
}

// ---- windows of other processes ----------------------------------------------------------

HWND FindProcessWindow(DWORD pid, const char* window_class, const char* caption, bool visible_only) {
  HWND found = nullptr;
  HWND w = nullptr;
  while ((w = FindWindowExA(nullptr, w, window_class, caption)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == pid && (!visible_only || IsWindowVisible(w))) found = w;
  }
  return found;
}

// ---- the reader ------------------------------------------------------------------------------

namespace {
int g_done[3] = {};
}  // namespace

Client::Client() {
  for (int i = 0; i < 3; ++i) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = koe::kClientWindowClasses[i];
    RegisterClassA(&wc);
    windows_[i] = CreateWindowExA(0, wc.lpszClassName, "client", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                  nullptr, wc.hInstance, nullptr);
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

LRESULT CALLBACK Client::Proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == koe::kWmKoeDone) {
    ++g_done[GetWindowLongPtrA(hwnd, GWLP_USERDATA)];
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

int Client::Done(int class_index) const { return g_done[class_index]; }
int Client::DoneAll() const { return std::min({g_done[0], g_done[1], g_done[2]}); }
bool Client::AllDoneEqual() const { return g_done[0] == g_done[1] && g_done[1] == g_done[2]; }

// ---- the Linux view of a Wine process -----------------------------------------------------

namespace {

// The fields of /proc/<pid>/stat after "pid (comm)", from the state (field 3) on.
std::vector<std::string> StatFields(const std::string& stat) {
  std::vector<std::string> fields;
  const std::size_t paren = stat.rfind(')');
  if (paren == std::string::npos) return fields;
  std::size_t i = paren + 2;
  while (i < stat.size()) {
    std::size_t j = stat.find(' ', i);
    if (j == std::string::npos) j = stat.size();
    fields.push_back(stat.substr(i, j - i));
    i = j + 1;
  }
  return fields;
}

long long StatusField(const std::string& status, const char* name) {
  const std::string key = std::string("\n") + name + ":";
  const std::size_t at = ("\n" + status).find(key);
  if (at == std::string::npos) return -1;
  return std::strtoll(status.c_str() + at + key.size() - 1, nullptr, 10);
}

}  // namespace

unsigned long UnixPid(const std::string& exe) {
  std::string name = exe.substr(exe.find_last_of("\\/") + 1);
  CharLowerA(name.data());
  const std::optional<std::string> prefix = GetEnv("WINEPREFIX");
  if (!prefix) return 0;
  const std::string nul(1, '\0');
  const std::string needle = nul + "WINEPREFIX=" + *prefix + nul;
  WIN32_FIND_DATAA fd;
  HANDLE f = FindFirstFileA("Z:\\proc\\*", &fd);
  if (f == INVALID_HANDLE_VALUE) return 0;
  unsigned long found = 0;
  unsigned long long found_start = 0;
  do {
    char* end = nullptr;
    const unsigned long pid = std::strtoul(fd.cFileName, &end, 10);
    if (!pid || *end) continue;
    const std::string base = "Z:\\proc\\" + std::to_string(pid);
    std::string cmd = ReadWholeFile(base + "\\cmdline");
    CharLowerA(cmd.data());
    if (cmd.find(name) == std::string::npos) continue;
    if ((nul + ReadWholeFile(base + "\\environ")).find(needle) == std::string::npos) continue;
    const auto fields = StatFields(ReadWholeFile(base + "\\stat"));
    const unsigned long long start = fields.size() > 19 ? std::strtoull(fields[19].c_str(), nullptr, 10) : 0;
    if (!found || start >= found_start) found = pid, found_start = start;  // field 22, starttime
  } while (FindNextFileA(f, &fd));
  FindClose(f);
  return found;
}

LinuxStats ReadLinuxStats(unsigned long pid) {
  LinuxStats s;
  if (!pid) return s;
  const std::string base = "Z:\\proc\\" + std::to_string(pid);
  const auto fields = StatFields(ReadWholeFile(base + "\\stat"));
  if (fields.size() < 13) return s;
  const double tick_ms = 10.0;  // USER_HZ is 100 on Linux
  s.cpu_ms = (std::atof(fields[11].c_str()) + std::atof(fields[12].c_str())) * tick_ms;  // utime, stime
  const std::string status = ReadWholeFile(base + "\\status");
  s.rss_anon_kb = StatusField(status, "RssAnon");
  s.vm_rss_kb = StatusField(status, "VmRSS");
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((base + "\\task\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (fd.cFileName[0] == '.') continue;
      const std::string task = base + "\\task\\" + fd.cFileName;
      const std::string ts = ReadWholeFile(task + "\\status");
      const long long n = std::max(0LL, StatusField(ts, "voluntary_ctxt_switches")) +
                          std::max(0LL, StatusField(ts, "nonvoluntary_ctxt_switches"));
      std::string comm = ReadWholeFile(task + "\\comm");
      while (!comm.empty() && (comm.back() == '\n' || comm.back() == '\0')) comm.pop_back();
      s.switches += n;
      s.switches_by_thread.emplace_back(std::string(fd.cFileName) + " " + comm, n);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
  }
  s.ok = true;
  return s;
}

}  // namespace koe_test
