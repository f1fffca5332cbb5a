#include "knobs.h"

#include <cwchar>

namespace ptsvr {

std::optional<std::wstring> EnvironmentValue(const wchar_t* name) {
  wchar_t small[512];
  DWORD n = GetEnvironmentVariableW(name, small, 512);
  if (n == 0) return std::nullopt;
  if (n < 512) return std::wstring(small, n);
  std::wstring big(n, L'\0');
  n = GetEnvironmentVariableW(name, big.data(), n);
  big.resize(n);
  return big;
}

Knobs Knobs::FromEnvironment() {
  Knobs k;
  if (auto v = EnvironmentValue(L"KOE_PTSVR_TRANSCRIPT")) k.transcript_path = *v;
  if (auto v = EnvironmentValue(L"KOE_PTSVR_ENGINE")) {
    if (*v == L"sim") k.engine = EngineChoice::kSim;
    if (*v == L"sapi") k.engine = EngineChoice::kSapi;
    if (*v == L"bundled") k.engine = EngineChoice::kBundled;
  }
  if (auto v = EnvironmentValue(L"KOE_PTSVR_SIM_SPEED")) {
    wchar_t* end = nullptr;
    const double f = std::wcstod(v->c_str(), &end);
    if (end != v->c_str() && f >= 0) k.sim_speed = f;
  }
  return k;
}

Transcript::Transcript(const std::wstring& path) {
  if (path.empty()) return;
  file_ = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

Transcript::~Transcript() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

void Transcript::Line(const std::wstring& text) {
  if (file_ == INVALID_HANDLE_VALUE) return;
  std::string bytes = ToUtf8(U16(text));
  bytes += '\n';
  DWORD written = 0;
  WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace ptsvr
