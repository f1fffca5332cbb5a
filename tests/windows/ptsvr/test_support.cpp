#include "test_support.h"

#include <gtest/gtest.h>

#include "protocol.h"

namespace ptsvr_test {

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

Sink::~Sink() { EXPECT_EQ(refs_, 1) << "the sink goes while the control holds it"; }

IFACEMETHODIMP Sink::QueryInterface(REFIID riid, void** out) {
  *out = nullptr;
  if (riid != IID_IUnknown && riid != IID_IDispatch && riid != koe_test::kDiidDPtSvrEvents)
    return E_NOINTERFACE;
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

Site::~Site() {
  EXPECT_EQ(refs_, 1) << "the site goes while the control holds it";
  DestroyWindow(window_);
}

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
  for (const auto& line : koe_test::ReadLines(koe_test::Narrow(path, CP_ACP)))
    lines.push_back(koe_test::Wide(line, CP_UTF8));
  return lines;
}

std::wstring TempFilePath(const wchar_t* prefix) {
  return koe_test::Wide(koe_test::TempFilePath(koe_test::Narrow(prefix, CP_ACP).c_str()), CP_ACP);
}

}  // namespace ptsvr_test
