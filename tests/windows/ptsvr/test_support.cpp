#include "test_support.h"

#include "protocol.h"

namespace ptsvr_test {

EnvVar::EnvVar(const wchar_t* name, const wchar_t* value) : name_(name) {
  wchar_t buf[1024];
  const DWORD n = GetEnvironmentVariableW(name, buf, 1024);
  if (n > 0 && n < 1024) old_ = std::wstring(buf, n);
  SetEnvironmentVariableW(name, value);
}

EnvVar::~EnvVar() { SetEnvironmentVariableW(name_.c_str(), old_ ? old_->c_str() : nullptr); }

bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  while (!done()) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeout_ms) return done();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, timeout_ms - elapsed, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return true;
}

void PumpFor(DWORD ms) {
  PumpUntil([] { return false; }, ms);
}

void Call(IDispatch* d, DISPID id, WORD flags, std::vector<VARIANT> args, CallResult& out, bool put) {
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());  // DISPPARAMS holds them last first
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), put ? &named : nullptr,
                    static_cast<UINT>(reversed.size()), put ? 1u : 0u};
  EXCEPINFO excep{};
  VariantClear(&out.result);
  out.arg_err = 0xFFFF;
  out.hr = d->Invoke(id, IID_NULL, 0, flags, &params, &out.result, &excep, &out.arg_err);
  out.description = excep.bstrDescription ? excep.bstrDescription : L"";
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrHelpFile);
  for (auto& v : args) VariantClear(&v);
}

VARIANT I4(LONG v) {
  VARIANT r;
  VariantInit(&r);
  r.vt = VT_I4;
  r.lVal = v;
  return r;
}

VARIANT Str(const wchar_t* s, UINT length) {
  VARIANT r;
  VariantInit(&r);
  r.vt = VT_BSTR;
  r.bstrVal = SysAllocStringLen(s, length);
  return r;
}

VARIANT Bool(bool v) {
  VARIANT r;
  VariantInit(&r);
  r.vt = VT_BOOL;
  r.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
  return r;
}

IFACEMETHODIMP Sink::QueryInterface(REFIID riid, void** out) {
  static const GUID kEvents = {0x1F8E7F88, 0xA47F, 0x11D2, {0xB9, 0xD7, 0x08, 0x00, 0x5A, 0x4B, 0x5E, 0x6E}};
  *out = nullptr;
  if (riid != IID_IUnknown && riid != IID_IDispatch && riid != kEvents) return E_NOINTERFACE;
  *out = static_cast<IDispatch*>(this);
  AddRef();
  return S_OK;
}

IFACEMETHODIMP Sink::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                            UINT*) {
  if (flags != DISPATCH_METHOD) return DISP_E_MEMBERNOTFOUND;
  events.push_back(id);
  if (on_event) on_event(id);
  return S_OK;
}

Site::Site() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"PtSvrTestContainer";
  RegisterClassW(&wc);  // fails harmlessly when already registered
  window_ = CreateWindowExW(0, L"PtSvrTestContainer", L"container", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0,
                            0, 300, 120, nullptr, nullptr, nullptr, nullptr);
}

Site::~Site() { DestroyWindow(window_); }

IFACEMETHODIMP Site::QueryInterface(REFIID riid, void** out) {
  *out = nullptr;
  if (riid == IID_IUnknown || riid == IID_IOleClientSite)
    *out = static_cast<IOleClientSite*>(this);
  else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
    *out = static_cast<IOleInPlaceSite*>(this);
  else
    return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

IFACEMETHODIMP Site::GetWindow(HWND* hwnd) {
  *hwnd = window_;
  return S_OK;
}

IFACEMETHODIMP Site::CanInPlaceActivate() {
  calls.push_back("CanInPlaceActivate");
  return S_OK;
}

IFACEMETHODIMP Site::OnInPlaceActivate() {
  calls.push_back("OnInPlaceActivate");
  return S_OK;
}

IFACEMETHODIMP Site::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc,
                                      LPRECT pos, LPRECT clip, LPOLEINPLACEFRAMEINFO) {
  calls.push_back("GetWindowContext");
  *frame = nullptr;
  *doc = nullptr;
  *pos = RECT{0, 2, 160, 32};
  *clip = *pos;
  return S_OK;
}

IFACEMETHODIMP Site::OnInPlaceDeactivate() {
  calls.push_back("OnInPlaceDeactivate");
  return S_OK;
}

std::vector<std::wstring> ReadLines(const std::wstring& path) {
  std::vector<std::wstring> lines;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return lines;
  std::string bytes;
  char buf[4096];
  DWORD n = 0;
  while (ReadFile(f, buf, sizeof buf, &n, nullptr) && n > 0) bytes.append(buf, n);
  CloseHandle(f);
  size_t start = 0;
  for (size_t nl; (nl = bytes.find('\n', start)) != std::string::npos; start = nl + 1) {
    const std::string line = bytes.substr(start, nl - start);
    std::wstring wide(line.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()),
                                    wide.data(), static_cast<int>(wide.size())));
    lines.push_back(wide);
  }
  return lines;
}

std::wstring TempFilePath(const wchar_t* prefix) {
  wchar_t dir[MAX_PATH], file[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  GetTempFileNameW(dir, prefix, 0, file);
  DeleteFileW(file);
  return file;
}

}  // namespace ptsvr_test
