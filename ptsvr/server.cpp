// The in-process server: class factory, unload rule and self-registration of PtSvr.ocx.
//
// Registration, for all users or for the current user only:
//   regsvr32 PtSvr.ocx                 DllRegisterServer: HKEY_LOCAL_MACHINE\SOFTWARE\Classes
//                                      (needs an administrator)
//   regsvr32 /u PtSvr.ocx              DllUnregisterServer
//   regsvr32 /n /i:user PtSvr.ocx      DllInstall(TRUE, "user"): HKEY_CURRENT_USER\Software\Classes
//   regsvr32 /u /n /i:user PtSvr.ocx   DllInstall(FALSE, "user")
// A registry call that fails is reported as HRESULT_FROM_WIN32 of its code, so that regsvr32 shows
// the system's text (0x80070005: access denied).
//
// Another maker's class is never lost. Registering over a class whose InprocServer32 names another
// file that exists and is not a build of this control (the original maker's control) replaces only
// its in-process server (path and ThreadingModel) and remembers what they were in values of our
// own under the class (ReplacedServer, ReplacedThreadingModel); everything else of that class stays
// as it is. Unregistering this file puts them back. The first server replaced is the one
// remembered: registering copy after copy of ours over it and then removing the last gives the
// original back; but when the other maker has registered their control again since (at a new
// path), registering ours again remembers their new server. A class of another copy of ours, or
// whose server file no longer exists, is replaced whole, and unregistering removes it. A registry
// value that is there but cannot be read (access denied, another type) is never taken for absent:
// the call fails with its reason and changes nothing.
//
// Unregistering removes the class only when its InprocServer32 names this very file; a class of
// another file is left alone, and that is not an error: the call answers S_OK without changing
// anything. The ProgIDs go with the class unless they name another class now, or a class under our
// identifier in the other registry view (the other width's control: both share the ProgIDs) still
// names them.
#include <windows.h>
#include <olectl.h>

#include <optional>
#include <string>
#include <vector>

#include "control.h"
#include "edges.h"
#include "faults.h"
#include "interface_table.h"
#include "koemado_version.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace ptsvr {
namespace {

LONG g_objects = 0;  // live controls and outstanding class-factory references
LONG g_locks = 0;    // IClassFactory::LockServer

constexpr wchar_t kProgId[] = L"PTSVR.PtSvrCtrl.1";
constexpr wchar_t kIndependentProgId[] = L"PTSVR.PtSvrCtrl";
constexpr wchar_t kUserType[] = L"PtSvr Control";
constexpr wchar_t kVersion[] = KOE_VERSION_WTEXT;

class ClassFactory final : public IClassFactory {
 public:
  IFACEMETHODIMP QueryInterface(REFIID riid, void** out) override {
    static constexpr InterfaceRow<ClassFactory> kInterfaces[] = {
        Row<ClassFactory, IClassFactory>(IID_IClassFactory)};
    return QueryFromTable(this, kInterfaces, riid, out);
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
    const HRESULT forced = ComEdge([] { return Faults::CreateResult(); });
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

// Where classes are registered: for all users or for the current user.
enum class Scope { kMachine, kUser };

HKEY Root(Scope scope) { return scope == Scope::kUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

std::wstring ClassesPath(Scope scope, const std::wstring& key) {
  return (scope == Scope::kUser ? L"Software\\Classes\\" : L"SOFTWARE\\Classes\\") + key;
}

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

// This module's full path.
std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  while (true) {
    const DWORD n = GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path.data(),
                                       static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// An open registry key, closed when it goes.
struct Key {
  HKEY handle = nullptr;
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (handle) RegCloseKey(handle);
  }
};

// A string value (REG_SZ or REG_EXPAND_SZ, not expanded) with its type; nothing when absent (the
// key or the value is not there). Any other failure to read it (access denied, a value of another
// type) is kept in `error`, the first one only: a value that cannot be read is never taken for
// one that is not there, or what another maker registered could be replaced and lost.
// `view`: KEY_WOW64_32KEY or KEY_WOW64_64KEY for that registry view, 0 for this module's own.
struct Text {
  std::wstring value;
  DWORD type = REG_SZ;
};
void Keep(LONG& error, LONG rc) {
  if (error == ERROR_SUCCESS && rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) error = rc;
}
std::optional<Text> ReadText(Scope where, const std::wstring& key, const wchar_t* name, LONG& error,
                             REGSAM view = 0) {
  Key k;
  LONG rc = RegOpenKeyExW(Root(where), ClassesPath(where, key).c_str(), 0, KEY_QUERY_VALUE | view, &k.handle);
  const DWORD flags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
  Text text;
  for (DWORD bytes = 0; rc == ERROR_SUCCESS;) {
    // The value may grow between the two calls: asked again with the size it has now.
    rc = RegGetValueW(k.handle, nullptr, name, flags, &text.type, nullptr, &bytes);
    if (rc != ERROR_SUCCESS) break;
    text.value.assign(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(text.value.size() * sizeof(wchar_t));
    rc = RegGetValueW(k.handle, nullptr, name, flags, &text.type, text.value.data(), &bytes);
    if (rc == ERROR_MORE_DATA) rc = ERROR_SUCCESS;
    else if (rc == ERROR_SUCCESS) {
      text.value.resize(wcsnlen(text.value.c_str(), text.value.size()));
      return text;
    }
  }
  Keep(error, rc);
  return std::nullopt;
}

bool KeyExists(Scope where, const std::wstring& key, LONG& error) {
  Key k;
  const LONG rc = RegOpenKeyExW(Root(where), ClassesPath(where, key).c_str(), 0, KEY_QUERY_VALUE, &k.handle);
  Keep(error, rc);
  return rc == ERROR_SUCCESS;
}

// True when the key has neither values nor subkeys.
bool KeyIsEmpty(Scope where, const std::wstring& key) {
  Key k;
  DWORD subkeys = 0, values = 0;
  return RegOpenKeyExW(Root(where), ClassesPath(where, key).c_str(), 0, KEY_QUERY_VALUE,
                       &k.handle) == ERROR_SUCCESS &&
         RegQueryInfoKeyW(k.handle, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                          nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
         subkeys == 0 && values == 0;
}

// A path as Windows resolves it: environment strings expanded, quotes dropped, "." and ".."
// resolved, short names made long. Empty for a path that is not absolute (it would name a file
// found by a search, which cannot be told to be this one).
std::wstring NormalisedPath(std::wstring path) {
  if (path.find(L'%') != std::wstring::npos) {
    const DWORD n = ExpandEnvironmentStringsW(path.c_str(), nullptr, 0);
    std::wstring expanded(n, L'\0');
    if (n == 0 || ExpandEnvironmentStringsW(path.c_str(), expanded.data(), n) != n) return {};
    expanded.resize(n - 1);
    path = std::move(expanded);
  }
  if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') path = path.substr(1, path.size() - 2);
  const bool absolute = (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) ||
                        (path.size() >= 2 && (path[0] == L'\\' || path[0] == L'/') && path[0] == path[1]);
  if (!absolute) return {};
  DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  std::wstring full(n, L'\0');
  if (n == 0 || (n = GetFullPathNameW(path.c_str(), n, full.data(), nullptr)) == 0 || n >= full.size())
    return {};
  full.resize(n);
  n = GetLongPathNameW(full.c_str(), nullptr, 0);
  if (n == 0) return full;  // the file is gone: keep the full path
  std::wstring long_path(n, L'\0');
  n = GetLongPathNameW(full.c_str(), long_path.data(), n);
  if (n == 0 || n >= long_path.size()) return full;
  long_path.resize(n);
  return long_path;
}

// True when `registered` names the same file as this module: the same normalised path ignoring
// case, or the same file on the same volume (another spelling of the path: a mapped drive, a link).
bool NamesThisModule(const std::wstring& registered) {
  const std::wstring theirs = NormalisedPath(registered), ours = NormalisedPath(ModulePath());
  if (theirs.empty() || ours.empty()) return false;
  if (CompareStringOrdinal(theirs.c_str(), static_cast<int>(theirs.size()), ours.c_str(),
                           static_cast<int>(ours.size()), TRUE) == CSTR_EQUAL)
    return true;
  auto identify = [](const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
    HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileInformationByHandle(file, &info) != FALSE;
    CloseHandle(file);
    return ok;
  };
  BY_HANDLE_FILE_INFORMATION a{}, b{};
  return identify(theirs, a) && identify(ours, b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

HRESULT SetValue(Scope where, const std::wstring& key, const wchar_t* name,
                 const std::wstring& value, DWORD type = REG_SZ) {
  const std::wstring path = ClassesPath(where, key);
  return HRESULT_FROM_WIN32(RegSetKeyValueW(Root(where), path.c_str(), name, type, value.c_str(),
                                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
}

HRESULT DeleteValue(Scope where, const std::wstring& key, const wchar_t* name) {
  const std::wstring path = ClassesPath(where, key);
  const LONG rc = RegDeleteKeyValueW(Root(where), path.c_str(), name);
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(rc);
}

HRESULT DeleteTree(Scope where, const std::wstring& key) {
  const std::wstring path = ClassesPath(where, key);
  LONG rc = RegDeleteTreeW(Root(where), path.c_str());  // leaves the key itself
  if (rc == ERROR_SUCCESS) rc = RegDeleteKeyW(Root(where), path.c_str());
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(rc);
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// True when `registered` names a build of this control, here or elsewhere: its version resource
// says so (PtSvr.rc).
bool NamesOurControl(const std::wstring& registered) {
  const std::wstring path = NormalisedPath(registered);
  DWORD ignored = 0;
  std::vector<BYTE> info(path.empty() ? 0 : GetFileVersionInfoSizeW(path.c_str(), &ignored));
  if (info.empty() || !GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()))
    return false;
  auto text = [&](const wchar_t* name) {
    const std::wstring query = std::wstring(L"\\StringFileInfo\\041103A4\\") + name;
    wchar_t* value = nullptr;
    UINT size = 0;
    return VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &size) && value
               ? std::wstring(value)
               : std::wstring();
  };
  return text(L"ProductName") == L"Koemado" && text(L"InternalName") == L"PtSvr";
}

// True when `registered` is an absolute path of a file that is not there (a folder moved away).
bool NamesNoFile(const std::wstring& registered) {
  const std::wstring path = NormalisedPath(registered);
  if (path.empty() || GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Our values under the class: the in-process server of another file that registering replaced.
constexpr wchar_t kReplacedServer[] = L"ReplacedServer";  // its path, as it was written
constexpr wchar_t kReplacedThreadingModel[] = L"ReplacedThreadingModel";  // absent: it had none

std::wstring ClassKey() { return L"CLSID\\" + GuidText(kClsidPtSvr); }

HRESULT Register(Scope where) {
  const std::wstring path = ModulePath();
  if (path.empty()) return GetLastError() ? HRESULT_FROM_WIN32(GetLastError()) : E_FAIL;
  const std::wstring clsid = GuidText(kClsidPtSvr);
  const std::wstring key = ClassKey(), server_key = key + L"\\InprocServer32";
  LONG error = ERROR_SUCCESS;
  const auto server = ReadText(where, server_key, nullptr, error);
  const auto threading = ReadText(where, server_key, L"ThreadingModel", error);
  const bool remembered = ReadText(where, key, kReplacedServer, error).has_value();
  const bool exists = KeyExists(where, key, error);
  if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
  // Another maker's server: a file that is there and no build of this control.
  const bool theirs_now = server && !NamesThisModule(server->value) && !NamesOurControl(server->value) &&
                          !NamesNoFile(server->value);
  // What was remembered stays while the class names a copy of ours; when their maker has
  // registered their control again since (at another path, say), that registration is the one to
  // remember, or removing ours would put back a path that is no longer theirs.
  const bool theirs = remembered ? theirs_now : exists && (!server || theirs_now);
  HRESULT hr = S_OK;
  if (theirs) {
    // The threading model first: the server's value is what says that something was remembered.
    hr = threading ? SetValue(where, key, kReplacedThreadingModel, threading->value)
                   : DeleteValue(where, key, kReplacedThreadingModel);
    if (SUCCEEDED(hr))
      hr = SetValue(where, key, kReplacedServer, server ? server->value : L"", server ? server->type : REG_SZ);
  }
  if (theirs || remembered) {
    // Another file's class: only its in-process server becomes this file.
    if (SUCCEEDED(hr)) hr = SetValue(where, server_key, nullptr, path);
    if (SUCCEEDED(hr)) hr = SetValue(where, server_key, L"ThreadingModel", L"Apartment");
    return hr;
  }
  // The server first: a registration cut short still names this file, and is ours to redo or undo.
  const std::pair<std::wstring, std::pair<const wchar_t*, std::wstring>> values[] = {
      {server_key, {nullptr, path}},
      {server_key, {L"ThreadingModel", L"Apartment"}},
      {key, {nullptr, kUserType}},
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
    if (FAILED(hr = SetValue(where, v.first, v.second.first, v.second.second))) return hr;
  }
  return S_OK;
}

// Gives the class back the in-process server that registering replaced, and forgets it.
HRESULT PutBack(Scope where, const Text& replaced) {
  const std::wstring key = ClassKey(), server_key = key + L"\\InprocServer32";
  LONG error = ERROR_SUCCESS;
  const auto threading = ReadText(where, key, kReplacedThreadingModel, error);
  if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
  HRESULT hr = replaced.value.empty() ? DeleteValue(where, server_key, nullptr)
                                      : SetValue(where, server_key, nullptr, replaced.value, replaced.type);
  if (SUCCEEDED(hr))
    hr = threading ? SetValue(where, server_key, L"ThreadingModel", threading->value)
                   : DeleteValue(where, server_key, L"ThreadingModel");
  if (SUCCEEDED(hr) && replaced.value.empty() && KeyIsEmpty(where, server_key))
    hr = DeleteTree(where, server_key);  // the class had no in-process server at all
  if (SUCCEEDED(hr)) hr = DeleteValue(where, key, kReplacedThreadingModel);
  if (SUCCEEDED(hr)) hr = DeleteValue(where, key, kReplacedServer);
  return hr;
}

// True when a class under our identifier, in either registry view, names `progid`, or when that
// cannot be read (then the ProgID is kept).
bool ClassNames(Scope where, const wchar_t* progid) {
  for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
    for (const wchar_t* sub : {L"\\ProgID", L"\\VersionIndependentProgID"}) {
      LONG error = ERROR_SUCCESS;
      const auto named = ReadText(where, ClassKey() + sub, nullptr, error, view);
      if (error != ERROR_SUCCESS || (named && SameText(named->value, progid))) return true;
    }
  }
  return false;
}

HRESULT Unregister(Scope where) {
  const std::wstring clsid = GuidText(kClsidPtSvr);
  const std::wstring key = ClassKey();
  // Only a class whose server is this file is ours; anything else (no class, another file's class,
  // a class without an in-process server) stays as it is. What cannot be read changes nothing.
  LONG error = ERROR_SUCCESS;
  const auto server = ReadText(where, key + L"\\InprocServer32", nullptr, error);
  if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
  if (!server || !NamesThisModule(server->value)) return S_OK;
  const auto replaced = ReadText(where, key, kReplacedServer, error);
  if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(error);
  if (replaced) return PutBack(where, *replaced);
  HRESULT hr = DeleteTree(where, key);
  for (const wchar_t* progid : {kProgId, kIndependentProgId}) {
    const auto named = ReadText(where, std::wstring(progid) + L"\\CLSID", nullptr, error);
    if (SUCCEEDED(hr) && error == ERROR_SUCCESS && (!named || SameText(named->value, clsid)) &&
        !ClassNames(where, progid))
      hr = DeleteTree(where, progid);
  }
  return hr;
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
  if (g_objects != 0 || g_locks != 0) return S_FALSE;
  // No control is alive, so no window of ours: the classes naming our procedures go before the
  // module may, or a later load would find them naming code that is no longer there.
  PtSvrControl::UnregisterWindowClasses();
  return S_OK;
}

extern "C" HRESULT __stdcall DllRegisterServer() {
  return ComEdge([] { return Register(Scope::kMachine); });
}

extern "C" HRESULT __stdcall DllUnregisterServer() {
  return ComEdge([] { return Unregister(Scope::kMachine); });
}

// regsvr32 /i:<text>: "user" registers (or with /u removes) the control for the current user
// only; no text, the same as DllRegisterServer / DllUnregisterServer.
extern "C" HRESULT __stdcall DllInstall(BOOL install, LPCWSTR command_line) {
  return ComEdge([&] {
    std::wstring text = command_line ? command_line : L"";
    while (!text.empty() && text.back() == L' ') text.pop_back();
    while (!text.empty() && text.front() == L' ') text.erase(0, 1);
    Scope where = Scope::kMachine;
    if (CompareStringOrdinal(text.c_str(), -1, L"user", -1, TRUE) == CSTR_EQUAL)
      where = Scope::kUser;
    else if (!text.empty())
      return E_INVALIDARG;
    return install ? Register(where) : Unregister(where);
  });
}
