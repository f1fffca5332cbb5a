#include "container_stand_ins.h"

#include <gtest/gtest.h>

#include "interface_table.h"
#include "support.h"

namespace ptsvr_test {

std::wstring BesideTest(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path);
  return dir.substr(0, dir.find_last_of(L"\\/") + 1) + name;
}

ComPtr<IDispatch> Create(HRESULT* hr_out) {
  ComPtr<IDispatch> d;
  const HRESULT hr = CoCreateInstance(koe_test::kClsidPtSvr, nullptr, CLSCTX_INPROC_SERVER,
                                      koe_test::kDiidDPtSvr, reinterpret_cast<void**>(d.GetAddressOf()));
  if (hr_out) *hr_out = hr;
  return d;
}

DWORD AdviseSink(IUnknown* control, Sink& sink, ComPtr<IConnectionPoint>& point) {
  ComPtr<IConnectionPointContainer> cpc;
  EXPECT_EQ(control->QueryInterface(IID_PPV_ARGS(&cpc)), S_OK);
  EXPECT_EQ(cpc->FindConnectionPoint(koe_test::kDiidDPtSvrEvents, &point), S_OK);
  DWORD cookie = 0;
  EXPECT_EQ(point->Advise(static_cast<IDispatch*>(&sink), &cookie), S_OK);
  return cookie;
}

void Call(IDispatch* d, DISPID id, WORD flags, std::vector<VARIANT> args, CallResult& out, bool put) {
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());  // DISPPARAMS holds them last first
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), put ? &named : nullptr,
                    static_cast<UINT>(reversed.size()), put ? 1u : 0u};
  EXCEPINFO excep{};
  out.result.Clear();
  out.arg_err = 0xFFFF;
  out.hr = d->Invoke(id, IID_NULL, 0, flags, &params, out.result.ptr(), &excep, &out.arg_err);
  out.description = excep.bstrDescription ? excep.bstrDescription : L"";
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrHelpFile);
  for (auto& v : args) VariantClear(&v);
}

VARIANT Arg(VARTYPE type) {
  VARIANT r{};
  r.vt = type;
  return r;
}

VARIANT I4(LONG v) {
  VARIANT r = Arg(VT_I4);
  r.lVal = v;
  return r;
}

VARIANT Str(const wchar_t* s, UINT length) {
  VARIANT r = Arg(VT_BSTR);
  r.bstrVal = SysAllocStringLen(s, length);
  return r;
}

VARIANT Bool(bool v) {
  VARIANT r = Arg(VT_BOOL);
  r.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
  return r;
}

VARIANT ByRef(VARIANT& target) {
  VARIANT r = Arg(VT_BYREF | VT_VARIANT);
  r.pvarVal = &target;
  return r;
}

Sink::~Sink() { EXPECT_EQ(refs_, 1) << "the sink goes while the control holds it"; }

IFACEMETHODIMP Sink::QueryInterface(REFIID riid, void** out) {
  static constexpr ptsvr::InterfaceRow<Sink> kInterfaces[] = {
      ptsvr::Row<Sink, IDispatch>(IID_IDispatch), ptsvr::Row<Sink, IDispatch>(koe_test::kDiidDPtSvrEvents),
      ptsvr::Row<Sink, IAdviseSink>(IID_IAdviseSink)};
  return ptsvr::QueryFromTable(this, kInterfaces, riid, out);
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
  static constexpr ptsvr::InterfaceRow<Site> kInterfaces[] = {
      ptsvr::Row<Site, IOleClientSite>(IID_IOleClientSite),
      ptsvr::Row<Site, IOleInPlaceSite>(IID_IOleWindow),
      ptsvr::Row<Site, IOleInPlaceSite>(IID_IOleInPlaceSite)};
  return ptsvr::QueryFromTable(this, kInterfaces, riid, out);
}

IFACEMETHODIMP Site::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc,
                                      LPRECT pos, LPRECT clip, LPOLEINPLACEFRAMEINFO) {
  Record("GetWindowContext");
  *frame = nullptr;
  *doc = nullptr;
  *pos = RECT{0, 2, 160, 32};
  *clip = *pos;
  return S_OK;
}

}  // namespace ptsvr_test
