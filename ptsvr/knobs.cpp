#include "knobs.h"

#include <cwchar>

namespace ptsvr {
namespace {

std::optional<std::wstring> Env(const wchar_t* name) {
  wchar_t small[512];
  DWORD n = GetEnvironmentVariableW(name, small, 512);
  if (n == 0) return std::nullopt;
  if (n < 512) return std::wstring(small, n);
  std::wstring big(n, L'\0');
  n = GetEnvironmentVariableW(name, big.data(), n);
  big.resize(n);
  return big;
}

std::string Narrow(const std::wstring& s) {  // knob values that are plain ASCII
  std::string out;
  for (wchar_t c : s) out += c < 0x80 ? char(c) : '?';
  return out;
}

}  // namespace

Knobs Knobs::FromEnvironment() {
  Knobs k;
  if (auto v = Env(L"KOE_PTSVR_TRANSCRIPT")) k.transcript_path = *v;
  if (auto v = Env(L"KOE_PTSVR_ENGINE")) {
    if (*v == L"sim") k.engine = EngineChoice::kSim;
    if (*v == L"sapi") k.engine = EngineChoice::kSapi;
  }
  if (auto v = Env(L"KOE_PTSVR_SIM_SPEED")) {
    wchar_t* end = nullptr;
    const double f = std::wcstod(v->c_str(), &end);
    if (end != v->c_str() && f >= 0) k.sim_speed = f;
  }
  if (auto v = Env(L"KOE_PTSVR_FAIL_DISPIDS")) k.fail_dispids = ParseDispidList(Narrow(*v));
  // Environment strings are UTF-16 already, so a UTF-8 description arrives as its characters.
  if (auto v = Env(L"KOE_PTSVR_FAIL_TEXT")) k.fail_text = *v;
  if (auto v = Env(L"KOE_PTSVR_FAIL_COUNT")) {
    const auto n = ParseDispidList(Narrow(*v));
    if (n.size() == 1 && n[0] >= 0) k.fail_count = n[0];
  }
  if (auto v = Env(L"KOE_PTSVR_FAIL_AFTER")) {
    const auto n = ParseDispidList(Narrow(*v));
    if (n.size() == 1 && n[0] >= 0) k.fail_after = n[0];
  }
  if (auto v = Env(L"KOE_PTSVR_EXTRA_STOPS")) {
    const auto n = ParseDispidList(Narrow(*v));
    if (n.size() == 1 && n[0] >= 0) k.extra_stops = n[0];
  }
  if (auto v = Env(L"KOE_PTSVR_DIALOG")) k.dialog = ParseDialogAnswer(Narrow(*v));
  if (auto v = Env(L"KOE_PTSVR_NO_INPLACE")) k.no_inplace = *v == L"1";
  return k;
}

HRESULT CreateHresultKnob() {
  auto v = Env(L"KOE_PTSVR_CREATE_HRESULT");
  if (!v || v->empty()) return S_OK;
  wchar_t* end = nullptr;
  const unsigned long code = std::wcstoul(v->c_str(), &end, 16);
  return end == v->c_str() ? S_OK : static_cast<HRESULT>(code);
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
