// The in-process server: class factory, unload rule and self-registration of PtSvr.ocx.
#include <windows.h>
#include <olectl.h>

#include <string>

#include "control.h"
#include "knobs.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace ptsvr {
namespace {

LONG g_objects = 0;  // live controls and outstanding class-factory references
LONG g_locks = 0;    // IClassFactory::LockServer

constexpr wchar_t kProgId[] = L"PTSVR.PtSvrCtrl.1";
constexpr wchar_t kIndependentProgId[] = L"PTSVR.PtSvrCtrl";
constexpr wchar_t kUserType[] = L"PtSvr Control";
constexpr wchar_t kVersion[] = L"2.1";

class ClassFactory final : public IClassFactory {
 public:
  IFACEMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  // The factory is static; its references only keep the module loaded.
  IFACEMETHODIMP_(ULONG) AddRef() override {
    ModuleAddRef();
    return 2;
  }
  IFACEMETHODIMP_(ULONG) Release() override {
    ModuleRelease();
    return 1;
  }
  IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    const HRESULT forced = CreateHresultKnob();
    if (FAILED(forced)) return forced;
    return PtSvrControl::Create(riid, out);
  }
  IFACEMETHODIMP LockServer(BOOL lock) override {
    if (lock)
      InterlockedIncrement(&g_locks);
    else
      InterlockedDecrement(&g_locks);
    return S_OK;
  }
};

ClassFactory g_factory;

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

HRESULT SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY h = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_SET_VALUE, nullptr, &h, nullptr);
  if (rc == ERROR_SUCCESS) {
    rc = RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
  }
  return rc == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

HRESULT DeleteTree(const std::wstring& key) {
  const LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
  if (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) {
    RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());  // RegDeleteTree leaves the key itself
    return S_OK;
  }
  return SELFREG_E_CLASS;
}

}  // namespace

void ModuleAddRef() { InterlockedIncrement(&g_objects); }
void ModuleRelease() { InterlockedDecrement(&g_objects); }

}  // namespace ptsvr

using namespace ptsvr;

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != kClsidPtSvr) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, out);
}

extern "C" HRESULT __stdcall DllCanUnloadNow() {
  return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT __stdcall DllRegisterServer() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path, MAX_PATH);
  if (n == 0 || n == MAX_PATH) return SELFREG_E_CLASS;
  const std::wstring clsid = GuidText(kClsidPtSvr);
  const std::wstring key = L"CLSID\\" + clsid;
  const std::pair<std::wstring, std::pair<const wchar_t*, std::wstring>> values[] = {
      {key, {nullptr, kUserType}},
      {key + L"\\InprocServer32", {nullptr, path}},
      {key + L"\\InprocServer32", {L"ThreadingModel", L"Apartment"}},
      {key + L"\\ProgID", {nullptr, kProgId}},
      {key + L"\\VersionIndependentProgID", {nullptr, kIndependentProgId}},
      {key + L"\\Control", {nullptr, L""}},
      {key + L"\\MiscStatus", {nullptr, L"0"}},
      {key + L"\\MiscStatus\\1", {nullptr, std::to_wstring(kMiscStatus)}},
      {key + L"\\Version", {nullptr, kVersion}},
      {kProgId, {nullptr, kUserType}},
      {std::wstring(kProgId) + L"\\CLSID", {nullptr, clsid}},
      {kIndependentProgId, {nullptr, kUserType}},
      {std::wstring(kIndependentProgId) + L"\\CLSID", {nullptr, clsid}},
      {std::wstring(kIndependentProgId) + L"\\CurVer", {nullptr, kProgId}},
  };
  for (const auto& v : values) {
    const HRESULT hr = SetValue(v.first, v.second.first, v.second.second);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

extern "C" HRESULT __stdcall DllUnregisterServer() {
  HRESULT hr = DeleteTree(L"CLSID\\" + GuidText(kClsidPtSvr));
  if (SUCCEEDED(hr)) hr = DeleteTree(kProgId);
  if (SUCCEEDED(hr)) hr = DeleteTree(kIndependentProgId);
  return hr;
}
