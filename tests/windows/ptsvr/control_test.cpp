// The speech control as a container and Koemado see it: registration, creation, the dispatch
// interface, events, hosting, persistence, the environment knobs and the transcript.
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

#include "koemado_version.h"
#include "protocol.h"
#include "container_stand_ins.h"
#include "support.h"

using namespace ptsvr_test;
using koe_test::ScopedEnv;
using koe_test::WaitUntil;

namespace {

constexpr GUID kClsid = koe_test::kClsidPtSvr;
constexpr GUID kDiid = koe_test::kDiidDPtSvr;
constexpr GUID kEvents = koe_test::kDiidDPtSvrEvents;
constexpr wchar_t kClsidKey[] = L"CLSID\\{44CF3B0C-9F1F-11D2-B9D7-08005A4B5E6E}";
namespace id = koe::dispid;

using RegFn = HRESULT(__stdcall*)();
using InstallFn = HRESULT(__stdcall*)(BOOL, LPCWSTR);

// A copy of the control, loaded: by default the test build beside the test, registered for the run.
struct Server {
  HMODULE module;
  explicit Server(const std::wstring& path = BesideTest(L"PtSvr.ocx")) : module(LoadLibraryW(path.c_str())) {}
  template <class F = RegFn>
  F Fn(const char* name) const {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  }
  HRESULT Register() const { return Fn("DllRegisterServer")(); }
  HRESULT Unregister() const { return Fn("DllUnregisterServer")(); }
  HRESULT CanUnloadNow() const { return Fn("DllCanUnloadNow")(); }
  // regsvr32 /n /i:<text> (install) or /u /n /i:<text>
  HRESULT Install(bool install, const wchar_t* text) const {
    return Fn<InstallFn>("DllInstall")(install, text);
  }
  // For all users, or with regsvr32 /n /i:user for this user.
  HRESULT Register(bool for_user) const { return for_user ? Install(true, L"user") : Register(); }
  HRESULT Unregister(bool for_user) const { return for_user ? Install(false, L"user") : Unregister(); }
};

const Server& TheServer() {
  static Server server;
  return server;
}

std::optional<std::wstring> RegValue(const std::wstring& key, const wchar_t* name = nullptr,
                                     HKEY root = HKEY_CLASSES_ROOT) {
  wchar_t data[512];
  DWORD size = sizeof data;
  if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                   nullptr, data, &size))
    return std::nullopt;
  return std::wstring(data);
}

// The classes of all users and of the current user, as the registry keeps them.
struct Classes {
  const char* name;
  HKEY root;
  std::wstring path;
};
const Classes kMachine{"all users", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\"};
const Classes kUser{"this user", HKEY_CURRENT_USER, L"Software\\Classes\\"};

DWORD SubkeyCount(HKEY root, const wchar_t* key) {
  HKEY h;
  DWORD n = 0;
  if (RegOpenKeyExW(root, key, 0, KEY_READ, &h) == ERROR_SUCCESS) {
    RegQueryInfoKeyW(h, nullptr, nullptr, nullptr, &n, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(h);
  }
  return n;
}

// Removes every class under our identifier, and our ProgIDs, whoever wrote them.
void DeleteClass(const Classes& where) {
  for (const wchar_t* key : {kClsidKey, L"PTSVR.PtSvrCtrl.1", L"PTSVR.PtSvrCtrl"}) {
    const std::wstring path = where.path + key;
    RegDeleteTreeW(where.root, path.c_str());
    RegDeleteKeyW(where.root, path.c_str());
  }
}

// Registers the control for the whole run and unregisters it at the end. The run starts from no
// class of ours at all: other tests in this prefix leave their copies of the control registered.
class Registration : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(TheServer().module);
    DeleteClass(kMachine);
    DeleteClass(kUser);
    ASSERT_EQ(TheServer().Register(), S_OK);
  }
  void TearDown() override { TheServer().Unregister(); }
};

// A control in the simulated engine that ends every utterance on the next turn of the loop.
class ControlTest : public ::testing::Test {
 protected:
  ControlTest() : engine_(L"KOE_PTSVR_ENGINE", L"sim"), speed_(L"KOE_PTSVR_SIM_SPEED", L"0") {}
  void SetUp() override {
    control_ = Create();
    ASSERT_TRUE(control_);
  }
  DWORD Advise(IUnknown* control, Sink& sink) { return AdviseSink(control, sink, point_); }
  HRESULT Speak(const std::wstring& text) {
    CallResult r;
    Call(control_.Get(), id::kSpeak, DISPATCH_METHOD,
         {Str(text.data(), static_cast<UINT>(text.size()))}, r);
    return r.hr;
  }
  LONG GetI4(DISPID which) {
    CallResult r;
    Call(control_.Get(), which, DISPATCH_PROPERTYGET, {}, r);
    EXPECT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.result.v.vt, VT_I4);
    return r.result.v.lVal;
  }

  ScopedEnv engine_, speed_;
  // Declared first: they outlive every control of the test, also when an ASSERT ends it early.
  Sink sink_, other_;
  Site site_;
  ComPtr<IDispatch> control_;
  ComPtr<IConnectionPoint> point_;
};

constexpr DISPID kStart = koe::eventid::kOnStartSpeak, kStop = koe::eventid::kOnStopSpeak;

// ---- Registration and creation ---------------------------------------------------------------

TEST(Registration, RegistersTheControlAndUnregistersWithoutATrace) {
  const Server& server = TheServer();
  ASSERT_EQ(server.Unregister(), S_OK);
  const DWORD clsids = SubkeyCount(HKEY_CLASSES_ROOT, L"CLSID");
  EXPECT_FALSE(RegValue(kClsidKey));
  HRESULT hr;
  EXPECT_FALSE(Create(&hr));
  EXPECT_EQ(hr, REGDB_E_CLASSNOTREG);

  ASSERT_EQ(server.Register(), S_OK);
  const std::wstring key = kClsidKey;
  EXPECT_EQ(RegValue(key + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
  const auto path = RegValue(key + L"\\InprocServer32");
  ASSERT_TRUE(path);
  EXPECT_EQ(GetModuleHandleW(path->c_str()), server.module);
  EXPECT_TRUE(RegValue(key + L"\\Control"));
  EXPECT_EQ(RegValue(key + L"\\MiscStatus\\1"),
            std::to_wstring(OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST |
                            OLEMISC_INSIDEOUT | OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE));
  const auto progid = RegValue(key + L"\\ProgID");
  ASSERT_TRUE(progid);
  EXPECT_EQ(RegValue(*progid + L"\\CLSID"), L"{44CF3B0C-9F1F-11D2-B9D7-08005A4B5E6E}");
  CLSID from_progid{};
  EXPECT_EQ(CLSIDFromProgID(progid->c_str(), &from_progid), S_OK);
  EXPECT_EQ(from_progid, kClsid);
  EXPECT_TRUE(RegValue(key + L"\\Version"));
  EXPECT_EQ(SubkeyCount(HKEY_CLASSES_ROOT, L"CLSID"), clsids + 1);

  ASSERT_EQ(server.Unregister(), S_OK);
  EXPECT_FALSE(RegValue(kClsidKey));
  EXPECT_FALSE(RegValue(*progid));
  EXPECT_EQ(SubkeyCount(HKEY_CLASSES_ROOT, L"CLSID"), clsids);
  EXPECT_EQ(server.Unregister(), S_OK);  // unregistering twice is harmless
  ASSERT_EQ(server.Register(), S_OK);    // as the rest of the run expects
}

TEST(Registration, ANormalUserRegistersForThemselfAlone) {
  const Server& server = TheServer();
  ASSERT_EQ(server.Unregister(), S_OK);
  const std::wstring key = kClsidKey;
  ASSERT_EQ(server.Install(true, L"User"), S_OK);  // regsvr32 /n /i:user PtSvr.ocx
  const auto path = RegValue(kUser.path + key + L"\\InprocServer32", nullptr, kUser.root);
  ASSERT_TRUE(path);
  EXPECT_EQ(GetModuleHandleW(path->c_str()), server.module);
  EXPECT_EQ(RegValue(kUser.path + L"PTSVR.PtSvrCtrl\\CurVer", nullptr, kUser.root),
            L"PTSVR.PtSvrCtrl.1");
  EXPECT_FALSE(RegValue(kMachine.path + key, nullptr, kMachine.root)) << "nothing for all users";
  // (Windows finds a class of the user's before the machine's; Wine 8 does not look there, so
  // creating the object from this registration is for Windows to show.)
  ASSERT_EQ(server.Install(false, L" user "), S_OK);  // regsvr32 /u /n /i:user PtSvr.ocx
  EXPECT_FALSE(RegValue(kUser.path + key, nullptr, kUser.root));
  EXPECT_FALSE(RegValue(kUser.path + L"PTSVR.PtSvrCtrl.1", nullptr, kUser.root));
  EXPECT_EQ(server.Install(false, L"user"), S_OK);  // twice is harmless
  EXPECT_EQ(server.Install(true, L"everyone"), E_INVALIDARG);
  EXPECT_FALSE(RegValue(kUser.path + key, nullptr, kUser.root));
  ASSERT_EQ(server.Install(true, nullptr), S_OK);  // regsvr32 /n /i: the same as DllRegisterServer
  EXPECT_TRUE(RegValue(kMachine.path + key + L"\\InprocServer32", nullptr, kMachine.root));
}

constexpr wchar_t kTheirType[] = L"Maker's speech control";

// Writes another maker's class under our identifier whose server is `server` (none when empty),
// with our ProgIDs naming it.
void WriteClass(const Classes& where, const std::wstring& server, DWORD type = REG_SZ,
                const wchar_t* threading = nullptr) {
  const std::wstring clsid = L"{44CF3B0C-9F1F-11D2-B9D7-08005A4B5E6E}";
  auto set = [&](const std::wstring& key, const std::wstring& value, DWORD value_type = REG_SZ,
                 const wchar_t* name = nullptr) {
    ASSERT_EQ(RegSetKeyValueW(where.root, (where.path + key).c_str(), name, value_type,
                              value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  };
  set(L"CLSID\\" + clsid, kTheirType);
  if (!server.empty()) set(L"CLSID\\" + clsid + L"\\InprocServer32", server, type);
  if (threading) set(L"CLSID\\" + clsid + L"\\InprocServer32", threading, REG_SZ, L"ThreadingModel");
  set(L"PTSVR.PtSvrCtrl.1\\CLSID", clsid);
  set(L"PTSVR.PtSvrCtrl\\CLSID", clsid);
}

TEST(Registration, UnregisteringLeavesAClassOfAnotherFileAlone) {
  const Server& server = TheServer();
  const std::wstring ours = BesideTest(L"PtSvr.ocx");
  const std::wstring dir = ours.substr(0, ours.find_last_of(L'\\'));
  // Another copy of this very control, elsewhere.
  const std::wstring copy = koe_test::Wide(koe_test::TempFilePath("pto"), CP_ACP) + L".ocx";
  ASSERT_TRUE(CopyFileW(ours.c_str(), copy.c_str(), FALSE));
  ScopedEnv where_we_are(L"KOE_TEST_PTSVR_DIR", dir.c_str());
  std::wstring upper = ours;
  for (auto& c : upper) c = static_cast<wchar_t>(towupper(c));
  struct Case {
    const char* what;
    std::wstring server;
    DWORD type;
    bool removed;
  } cases[] = {
      {"another maker's control", L"C:\\Program Files\\Maker\\PtSvr.ocx", REG_SZ, false},
      {"another copy of ours", copy, REG_SZ, false},
      {"a bare file name", L"PtSvr.ocx", REG_SZ, false},
      {"no in-process server", L"", REG_SZ, false},
      {"this file", ours, REG_SZ, true},
      {"this file in other letters", upper, REG_SZ, true},
      {"this file in quotes", L"\"" + ours + L"\"", REG_SZ, true},
      {"this file through a variable", L"%KOE_TEST_PTSVR_DIR%\\PtSvr.ocx", REG_EXPAND_SZ, true},
      {"this file by a roundabout path", dir + L"\\x\\..\\.\\PtSvr.ocx", REG_SZ, true},
  };
  ASSERT_EQ(server.Unregister(), S_OK);
  for (const Classes* where : {&kMachine, &kUser}) {
    for (const auto& c : cases) {
      WriteClass(*where, c.server, c.type);
      const HRESULT hr = where == &kMachine ? server.Unregister() : server.Install(false, L"user");
      EXPECT_EQ(hr, S_OK) << c.what << ", " << where->name;
      const std::wstring key = where->path + kClsidKey;
      EXPECT_EQ(!RegValue(key, nullptr, where->root), c.removed) << c.what << ", " << where->name;
      EXPECT_EQ(!RegValue(where->path + L"PTSVR.PtSvrCtrl.1\\CLSID", nullptr, where->root), c.removed)
          << c.what << ", " << where->name;
      if (!c.removed && !c.server.empty()) {
        EXPECT_EQ(RegValue(key + L"\\InprocServer32", nullptr, where->root), c.server)
            << c.what << ", " << where->name;
      }
      DeleteClass(*where);
    }
  }
  DeleteFileW(copy.c_str());
  ASSERT_EQ(server.Register(), S_OK);  // as the rest of the run expects
}

// The type of a registry value (REG_SZ, REG_EXPAND_SZ, ...); 0 when it is absent.
DWORD RegType(HKEY root, const std::wstring& key, const wchar_t* name = nullptr) {
  DWORD type = 0;
  if (RegGetValueW(root, key.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, nullptr))
    return 0;
  return type;
}

TEST(Registration, RegisteringOverAnotherFilesClassGivesItBackWhenRemoved) {
  const Server& server = TheServer();
  const std::wstring ours = BesideTest(L"PtSvr.ocx");
  // Another maker's control (any file that is there but ours), and another copy of ours.
  const std::wstring folder = koe_test::Wide(koe_test::TempFilePath("ptm"), CP_ACP);
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring maker = folder + L"\\PtSvr.ocx", copy = folder + L"\\copy.ocx", moved = folder + L"\\v2.ocx";
  ASSERT_TRUE(CopyFileW(BesideTest(L"ControlData.bin").c_str(), maker.c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(BesideTest(L"ControlData.bin").c_str(), moved.c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(ours.c_str(), copy.c_str(), FALSE));
  ScopedEnv where_they_are(L"KOE_TEST_MAKER_DIR", folder.c_str());
  const std::wstring gone = folder + L"\\moved away\\PtSvr.ocx";
  const Server other_copy(copy);
  ASSERT_TRUE(other_copy.module);
  struct Case {
    const char* what;
    std::wstring server;  // theirs; empty: a class without an in-process server
    DWORD type;
    const wchar_t* threading;  // theirs; null: none
    bool copy_after;   // another copy of ours is registered after this one, and it is removed
    bool given_back;   // else the class was replaced whole, and removal leaves no trace
    std::wstring again = {};  // they register theirs again here (no threading model), then we do
    HRESULT refused = S_OK;   // registering fails with this, and their class stays as it is
  } cases[] = {
      {"another maker's control", maker, REG_SZ, L"Both", false, true},
      {"written with a variable, no threading model", L"%KOE_TEST_MAKER_DIR%\\PtSvr.ocx", REG_EXPAND_SZ,
       nullptr, false, true},
      {"then another copy of ours over ours", maker, REG_SZ, L"Apartment", true, true},
      {"a class without an in-process server", L"", REG_SZ, nullptr, false, true},
      {"a file that is no longer there", gone, REG_SZ, L"Apartment", false, false},
      {"another copy of ours", copy, REG_SZ, L"Apartment", false, false},
      {"they registered again at a new path", maker, REG_SZ, L"Both", false, true, moved},
      {"a server value that cannot be read as text", maker, REG_BINARY, L"Both", false, true, {},
       HRESULT_FROM_WIN32(ERROR_UNSUPPORTED_TYPE)},
  };
  ASSERT_EQ(server.Unregister(), S_OK);
  for (const Classes* where : {&kMachine, &kUser}) {
    const bool for_user = where == &kUser;
    const std::wstring key = where->path + kClsidKey, server_key = key + L"\\InprocServer32";
    for (const auto& c : cases) {
      const std::string what = std::string(c.what) + ", " + where->name;
      WriteClass(*where, c.server, c.type, c.threading);
      ASSERT_EQ(server.Register(for_user), c.refused) << what;
      if (FAILED(c.refused)) {
        EXPECT_EQ(RegType(where->root, server_key), c.type) << what;
        EXPECT_EQ(RegType(where->root, key, L"ReplacedServer"), 0u) << what;
        DeleteClass(*where);
        continue;
      }
      if (!c.again.empty()) {
        ASSERT_EQ(RegSetKeyValueW(where->root, server_key.c_str(), nullptr, REG_SZ, c.again.c_str(),
                                  static_cast<DWORD>((c.again.size() + 1) * sizeof(wchar_t))), ERROR_SUCCESS);
        RegDeleteKeyValueW(where->root, server_key.c_str(), L"ThreadingModel");
        ASSERT_EQ(server.Register(for_user), S_OK) << what;
      }
      if (c.copy_after) {
        ASSERT_EQ(other_copy.Register(for_user), S_OK) << what;
      }
      const Server& last = c.copy_after ? other_copy : server;
      EXPECT_EQ(RegValue(server_key, nullptr, where->root), c.copy_after ? copy : ours) << what;
      EXPECT_EQ(RegValue(server_key, L"ThreadingModel", where->root), L"Apartment") << what;
      EXPECT_EQ(RegValue(key, nullptr, where->root), c.given_back ? kTheirType : L"PtSvr Control")
          << what << ": only the server of their class is replaced";
      ASSERT_EQ(last.Unregister(for_user), S_OK) << what;
      if (c.given_back) {
        const std::wstring& theirs = c.again.empty() ? c.server : c.again;
        EXPECT_EQ(RegValue(server_key, nullptr, where->root),
                  theirs.empty() ? std::nullopt : std::optional(theirs)) << what;
        EXPECT_EQ(RegType(where->root, server_key), theirs.empty() ? 0 : c.again.empty() ? c.type : REG_SZ) << what;
        EXPECT_EQ(RegValue(server_key, L"ThreadingModel", where->root),
                  c.threading && c.again.empty() ? std::optional<std::wstring>(c.threading) : std::nullopt) << what;
        EXPECT_EQ(SubkeyCount(where->root, key.c_str()), c.server.empty() ? 0u : 1u) << what;
        EXPECT_EQ(RegType(where->root, key, L"ReplacedServer"), 0u) << what << ": nothing of ours is left";
        EXPECT_EQ(RegValue(where->path + L"PTSVR.PtSvrCtrl.1\\CLSID", nullptr, where->root),
                  L"{44CF3B0C-9F1F-11D2-B9D7-08005A4B5E6E}") << what;
      } else {
        EXPECT_FALSE(RegValue(key, nullptr, where->root)) << what;
        EXPECT_FALSE(RegValue(where->path + L"PTSVR.PtSvrCtrl.1", nullptr, where->root)) << what;
      }
      DeleteClass(*where);
    }
  }
  FreeLibrary(other_copy.module);
  DeleteFileW(copy.c_str());
  DeleteFileW(maker.c_str());
  DeleteFileW(moved.c_str());
  RemoveDirectoryW(folder.c_str());
  ASSERT_EQ(server.Register(), S_OK);  // as the rest of the run expects
}

// The 32-bit and the 64-bit control have a class each, one in each registry view, and share the
// ProgIDs: removing one width's class leaves them to the other's.
TEST(Registration, RemovingOneWidthLeavesTheProgIdsToTheOther) {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  if (sizeof(void*) == 4 && !wow64) GTEST_SKIP() << "a 32-bit Windows has one registry view only";
  const Server& server = TheServer();
  const REGSAM other_view = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  ASSERT_EQ(server.Unregister(), S_OK);
  for (const Classes* where : {&kMachine, &kUser}) {
    const bool for_user = where == &kUser;
    const std::wstring other = where->path + kClsidKey + L"\\ProgID";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(where->root, other.c_str(), 0, nullptr, 0, KEY_SET_VALUE | other_view,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const wchar_t progid[] = L"PTSVR.PtSvrCtrl.1";
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(progid), sizeof progid);
    RegCloseKey(key);
    if (RegValue(other, nullptr, where->root)) {
      // One key in both views: Windows 7 and later keep two views of the classes of all users and
      // of this user; Wine 8 only of all users'.
      DeleteClass(*where);
      continue;
    }
    ASSERT_EQ(server.Register(for_user), S_OK) << where->name;
    ASSERT_EQ(server.Unregister(for_user), S_OK) << where->name;
    EXPECT_FALSE(RegValue(where->path + kClsidKey, nullptr, where->root)) << where->name;
    EXPECT_TRUE(RegValue(where->path + L"PTSVR.PtSvrCtrl.1\\CLSID", nullptr, where->root)) << where->name;
    RegDeleteKeyExW(where->root, other.c_str(), other_view, 0);
    RegDeleteKeyExW(where->root, (where->path + kClsidKey).c_str(), other_view, 0);
    DeleteClass(*where);
  }
  ASSERT_EQ(server.Register(), S_OK);  // as the rest of the run expects
}

TEST(Registration, TheControlCarriesItsVersion) {
  const std::wstring path = BesideTest(L"PtSvr.ocx");
  DWORD ignored = 0;
  std::vector<BYTE> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  wchar_t* text = nullptr;
  UINT size = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(KOE_VERSION_MINOR, KOE_VERSION_MAJOR));
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\041103A4\\FileDescription",
                             reinterpret_cast<void**>(&text), &size));
  EXPECT_STREQ(text, L"PtSvr 音声合成コントロール");
}

TEST(Creation, ObjectsAndLocksKeepTheServerLoaded) {
  ScopedEnv engine(L"KOE_PTSVR_ENGINE", L"sim");
  EXPECT_EQ(TheServer().CanUnloadNow(), S_OK);
  auto control = Create();
  ASSERT_TRUE(control);
  EXPECT_EQ(TheServer().CanUnloadNow(), S_FALSE);
  control.Reset();
  EXPECT_EQ(TheServer().CanUnloadNow(), S_OK);

  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(kClsid, CLSCTX_INPROC_SERVER, nullptr, IID_PPV_ARGS(&factory)), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory.Reset();
  EXPECT_EQ(TheServer().CanUnloadNow(), S_FALSE);
  ASSERT_EQ(CoGetClassObject(kClsid, CLSCTX_INPROC_SERVER, nullptr, IID_PPV_ARGS(&factory)), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  ComPtr<IUnknown> aggregated;
  EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(1), IID_IUnknown, &aggregated),
            CLASS_E_NOAGGREGATION);
  factory.Reset();
  EXPECT_EQ(TheServer().CanUnloadNow(), S_OK);
}

TEST(Creation, AForcedCreationStatusIsReturned) {
  ScopedEnv create(L"KOE_PTSVR_CREATE_HRESULT", L"80004005");
  HRESULT hr;
  EXPECT_FALSE(Create(&hr));
  EXPECT_EQ(hr, E_FAIL);
}

// The real windows: a timer on this thread answers them from inside their modal loops.
struct ModalAnswer {
  const wchar_t* caption;
  std::function<void(HWND)> answer;
  std::wstring seen_text{};
  bool answered = false;
};
ModalAnswer* g_answer = nullptr;

void CALLBACK AnswerModal(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND box = FindWindowW(nullptr, g_answer->caption);
  if (!box || g_answer->answered) return;
  KillTimer(nullptr, timer);
  g_answer->answered = true;
  wchar_t text[2048] = {};
  GetDlgItemTextW(box, 0xFFFF, text, 2048);  // a message box's text
  g_answer->seen_text = text;
  g_answer->answer(box);
}

void RunModal(IDispatch* control, DISPID method, ModalAnswer& answer) {
  g_answer = &answer;
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, AnswerModal);
  CallResult r;
  Call(control, method, DISPATCH_METHOD, {}, r);
  KillTimer(nullptr, timer);
  g_answer = nullptr;
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_TRUE(answer.answered) << "returned before its window was answered";
}

// A folder of the bundled voice's files (hard links to the ones beside the test), or without
// `left_out`, or with `truncated` cut short.
std::wstring VoiceFolder(const std::wstring& name, const wchar_t* left_out = nullptr,
                         const wchar_t* truncated = nullptr) {
  const std::wstring from = BesideTest(L"voice"), to = koe_test::Wide(koe_test::TempFilePath("v"), CP_ACP) + name;
  CreateDirectoryW(to.c_str(), nullptr);
  CreateDirectoryW((to + L"\\dic").c_str(), nullptr);
  for (const wchar_t* f : {L"dic\\sys.dic", L"dic\\unk.dic", L"dic\\char.bin", L"dic\\matrix.bin",
                           L"nitech_jp_atr503_m001.htsvoice"}) {
    const std::wstring src = from + L"\\" + f, dst = to + L"\\" + f;
    if (left_out && wcscmp(f, left_out) == 0) continue;
    if (truncated && wcscmp(f, truncated) == 0) {
      std::string head = koe_test::ReadWholeFile(koe_test::Narrow(src, CP_ACP)).substr(0, 4096);
      std::ofstream(dst.c_str(), std::ios::binary).write(head.data(), static_cast<std::streamsize>(head.size()));
    } else if (!CreateHardLinkW(dst.c_str(), src.c_str(), nullptr)) {
      CopyFileW(src.c_str(), dst.c_str(), FALSE);
    }
  }
  return to;
}

// Under Wine no SAPI voice speaks Japanese, so the bundled voice speaks: from the folder beside the
// control, or from the folder the test build is pointed to, also one named outside the system's
// code page. Without its files, or with one broken, the simulated engine speaks instead and says
// which file; every utterance ends either way.
TEST(Creation, TheBundledVoiceSpeaksAndABrokenOneIsNamed) {
  ScopedEnv engine(L"KOE_PTSVR_ENGINE", L"auto");
  ScopedEnv speed(L"KOE_PTSVR_SIM_SPEED", L"0");
  using koe_test::Utf8;
  const std::string bundled = Utf8(u8"engine Open JTalk 1.11: nitech_jp_atr503_m001 (内蔵の日本語音声)");
  const std::string broken = Utf8(u8"engine 内蔵の音声を読み込めません (模擬音声)");
  const std::wstring missing = VoiceFolder(L"missing", L"dic\\char.bin");
  const std::wstring cut = VoiceFolder(L"cut", nullptr, L"dic\\sys.dic");
  struct Case {
    const char* what;
    std::wstring folder;     // empty: beside the control
    std::string engine;      // the transcript's line after create
    std::string later;       // a line that follows once the voice has loaded or spoken
    std::wstring named;      // a file the engine version box names
  } cases[] = {
      {"beside the control", L"", bundled, "engine first sound", L"nitech_jp_atr503_m001"},
      {"outside the code page", VoiceFolder(L"\u00e9\uc74c\uc131"), bundled, "engine first sound", L"CC BY 3.0"},
      {"without a file", missing, broken, "event OnStopSpeak", missing + L"\\dic\\char.bin"},
      {"with a file cut short", cut, bundled, broken + ": " + koe_test::Narrow(cut, CP_UTF8) + "\\dic\\sys.dic",
       cut + L"\\dic\\sys.dic"},
  };
  for (const Case& c : cases) {
    ScopedEnv folder(L"KOE_PTSVR_VOICE_DIR", c.folder.empty() ? nullptr : c.folder.c_str());
    const koe_test::Transcript transcript;  // outlives the control, which holds its file open
    ScopedEnv to_transcript("KOE_PTSVR_TRANSCRIPT", transcript.Path());
    Sink sink;  // outlives the control
    auto control = Create();
    ASSERT_TRUE(control) << c.what;
    const auto lines = transcript.Lines();
    ASSERT_EQ(lines.size(), 2u) << c.what;
    EXPECT_EQ(lines[0], "create");
    EXPECT_EQ(lines[1], c.engine) << c.what;
    ComPtr<IConnectionPoint> point;
    const DWORD cookie = AdviseSink(control.Get(), sink, point);
    CallResult r;
    Call(control.Get(), id::kSpeak, DISPATCH_METHOD, {Str(L"テスト", 3)}, r);
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_TRUE(WaitUntil([&] { return sink.events.size() == 2; })) << c.what;
    EXPECT_TRUE(transcript.WaitForLines(c.later, 1)) << c.what;
    ModalAnswer version{L"合成エンジンバージョン",
                        [](HWND box) { PostMessageW(box, WM_COMMAND, IDOK, 0); }};
    RunModal(control.Get(), id::kEngineVersion, version);
    EXPECT_NE(version.seen_text.find(c.named), std::wstring::npos) << c.what << ": " << koe_test::Narrow(version.seen_text, CP_UTF8);
    point->Unadvise(cookie);
  }
}

// ---- Identity --------------------------------------------------------------------------------

struct Interface {
  const char* name;
  IID iid;
};
#define INTERFACE_OF(I) Interface{#I, IID_##I}

// One COM object whichever interface it is reached by: each of `answered` gives the same IUnknown
// and answers every other one; each of `refused` is refused, with null.
void ExpectOneObject(const char* what, IUnknown* object, const std::vector<Interface>& answered,
                     const std::vector<Interface>& refused) {
  ComPtr<IUnknown> identity;
  ASSERT_EQ(object->QueryInterface(IID_PPV_ARGS(&identity)), S_OK) << what;
  EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER) << what;
  for (const Interface& from : answered) {
    ComPtr<IUnknown> reached, back, other;
    ASSERT_EQ(identity->QueryInterface(from.iid, &reached), S_OK) << what << ": " << from.name;
    EXPECT_EQ(reached->QueryInterface(IID_PPV_ARGS(&back)), S_OK) << what << ": " << from.name;
    EXPECT_EQ(back.Get(), identity.Get()) << what << ": IUnknown from " << from.name;
    for (const Interface& to : answered)
      EXPECT_EQ(reached->QueryInterface(to.iid, &other), S_OK) << what << ": " << from.name << " to " << to.name;
    for (const Interface& to : refused) {
      void* none = back.Get();  // not null: the refusal must clear it
      EXPECT_EQ(reached->QueryInterface(to.iid, &none), E_NOINTERFACE) << what << ": " << to.name;
      EXPECT_EQ(none, nullptr) << what << ": " << to.name;
    }
  }
}

TEST(Identity, TheControlItsConnectionPointAndItsFactoryAreEachOneObject) {
  ScopedEnv engine(L"KOE_PTSVR_ENGINE", L"sim");
  const std::vector<Interface> in_place = {INTERFACE_OF(IOleWindow), INTERFACE_OF(IOleInPlaceObject),
                                           INTERFACE_OF(IOleInPlaceActiveObject)};
  const std::vector<Interface> always = {
      INTERFACE_OF(IUnknown), INTERFACE_OF(IDispatch), {"_DPtSvr", kDiid}, INTERFACE_OF(IOleObject),
      INTERFACE_OF(IOleControl), INTERFACE_OF(IViewObject), INTERFACE_OF(IViewObject2),
      INTERFACE_OF(IPersist), INTERFACE_OF(IPersistStreamInit),
      INTERFACE_OF(IConnectionPointContainer), INTERFACE_OF(IProvideClassInfo),
      INTERFACE_OF(IProvideClassInfo2)};
  const std::vector<Interface> none = {INTERFACE_OF(IPersistStorage), INTERFACE_OF(IConnectionPoint),
                                       INTERFACE_OF(IClassFactory), {"_DPtSvrEvents", kEvents}};
  std::vector<Interface> all = always, refused_without = none;
  all.insert(all.end(), in_place.begin(), in_place.end());
  refused_without.insert(refused_without.end(), in_place.begin(), in_place.end());
  ComPtr<IDispatch> full = Create(), without_in_place;
  {
    ScopedEnv no(L"KOE_PTSVR_NO_INPLACE", L"1");  // the test build's fault
    without_in_place = Create();
  }
  ASSERT_TRUE(full);
  ASSERT_TRUE(without_in_place);
  ExpectOneObject("the control", full.Get(), all, none);
  ExpectOneObject("without in-place activation", without_in_place.Get(), always, refused_without);

  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(full.As(&container), S_OK);
  ASSERT_EQ(container->FindConnectionPoint(kEvents, &point), S_OK);
  ExpectOneObject("its connection point", point.Get(), {INTERFACE_OF(IUnknown), INTERFACE_OF(IConnectionPoint)},
                  {INTERFACE_OF(IConnectionPointContainer), INTERFACE_OF(IDispatch)});
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(kClsid, CLSCTX_INPROC_SERVER, nullptr, IID_PPV_ARGS(&factory)), S_OK);
  ExpectOneObject("its class factory", factory.Get(), {INTERFACE_OF(IUnknown), INTERFACE_OF(IClassFactory)},
                  {INTERFACE_OF(IClassFactory2), INTERFACE_OF(IDispatch)});
}

// ---- Dispatch interface ----------------------------------------------------------------------

TEST_F(ControlTest, GetIDsOfNamesAnswersEveryMember) {
  struct Case {
    const wchar_t* name;
    DISPID id;
  } cases[] = {{L"Gender", 1}, {L"age", 2}, {L"ModeGuid", 3}, {L"Speed", 4}, {L"PITCH", 5},
               {L"Volume", 6}, {L"UseButton", 7}, {L"UseWebSpeak", 8}, {L"EngineVersion", 10},
               {L"VoiceSettings", 11}, {L"Speak", 16}, {L"AboutBox", DISPID_ABOUTBOX}};
  for (const auto& c : cases) {
    LPOLESTR name = const_cast<LPOLESTR>(c.name);
    DISPID got = 0;
    EXPECT_EQ(control_->GetIDsOfNames(IID_NULL, &name, 1, 0, &got), S_OK) << c.name;
    EXPECT_EQ(got, c.id) << c.name;
  }
  LPOLESTR unknown = const_cast<LPOLESTR>(L"Shout");
  DISPID got = 0;
  EXPECT_EQ(control_->GetIDsOfNames(IID_NULL, &unknown, 1, 0, &got), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(got, DISPID_UNKNOWN);
}

TEST_F(ControlTest, PropertiesReadAndWriteWithConversion) {
  struct Case {
    DISPID which;
    VARTYPE type;
    LONG initial;  // as a number (booleans: 0 / -1)
    VARIANT put;   // written with DISPATCH_PROPERTYPUT
    LONG after;
  } cases[] = {
      {id::kGender, VT_I2, 1, I4(2), 2},
      {id::kAge, VT_I2, 30, Str(L"45", 2), 45},
      {id::kSpeed, VT_I4, 180, Str(L"200", 3), 200},
      {id::kPitch, VT_I4, 80, I4(-5), -5},
      {id::kVolume, VT_I4, 26214, I4(65535), 65535},
      {id::kUseButton, VT_BOOL, 0, Bool(true), -1},
      {id::kUseWebSpeak, VT_BOOL, 0, I4(1), -1},
  };
  for (auto& c : cases) {
    CallResult r;
    Call(control_.Get(), c.which, DISPATCH_PROPERTYGET, {}, r);
    ASSERT_EQ(r.hr, S_OK) << c.which;
    fw::Variant as_i4;
    ASSERT_EQ(r.result.v.vt, c.type) << c.which;
    // Nothing but zeros beyond a 16-bit value's own width, for a host that reads more.
    if (c.type != VT_I4) {
      EXPECT_EQ(r.result.v.llVal & ~0xFFFFll, 0) << c.which;
    }
    ASSERT_EQ(VariantChangeType(as_i4.ptr(), r.result.ptr(), 0, VT_I4), S_OK);
    EXPECT_EQ(as_i4.v.lVal, c.initial) << c.which;
    Call(control_.Get(), c.which, DISPATCH_PROPERTYPUT, {c.put}, r, true);
    ASSERT_EQ(r.hr, S_OK) << c.which;
    Call(control_.Get(), c.which, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}, r);
    ASSERT_EQ(r.hr, S_OK) << c.which;
    ASSERT_EQ(VariantChangeType(as_i4.ptr(), r.result.ptr(), 0, VT_I4), S_OK);
    EXPECT_EQ(as_i4.v.lVal, c.after) << c.which;
  }
}

TEST_F(ControlTest, ModeGuidIsAGuidInBraces) {
  CallResult r;
  Call(control_.Get(), id::kModeGuid, DISPATCH_PROPERTYGET, {}, r);
  ASSERT_EQ(r.result.v.vt, VT_BSTR);
  EXPECT_STREQ(r.result.v.bstrVal, L"{00000000-0000-0000-0000-000000000000}");
  const wchar_t* text = L"{1f8e7f87-a47f-11d2-b9d7-08005a4b5e6e}";
  Call(control_.Get(), id::kModeGuid, DISPATCH_PROPERTYPUT, {Str(text, 38)}, r, true);
  EXPECT_EQ(r.hr, S_OK);
  Call(control_.Get(), id::kModeGuid, DISPATCH_PROPERTYGET, {}, r);
  EXPECT_STREQ(r.result.v.bstrVal, L"{1F8E7F87-A47F-11D2-B9D7-08005A4B5E6E}");
  Call(control_.Get(), id::kModeGuid, DISPATCH_PROPERTYPUT, {Str(L"voice", 5)}, r, true);
  EXPECT_EQ(r.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(r.arg_err, 0u);
}

TEST_F(ControlTest, WrongCallsAreRefusedWithTheDispatchErrors) {
  const VARIANT unknown = Arg(VT_UNKNOWN);  // a null object
  VARIANT five = I4(5);  // a script's variable
  struct Case {
    const char* what;
    DISPID which;
    WORD flags;
    std::vector<VARIANT> args;
    bool put;
    HRESULT hr;
    UINT arg_err;  // 0xFFFF: untouched
  } cases[] = {
      {"unknown id", 9, DISPATCH_METHOD, {}, false, DISP_E_MEMBERNOTFOUND, 0xFFFF},
      {"unknown id 17", 17, DISPATCH_PROPERTYGET, {}, false, DISP_E_MEMBERNOTFOUND, 0xFFFF},
      {"speak without text", id::kSpeak, DISPATCH_METHOD, {}, false, DISP_E_BADPARAMCOUNT, 0xFFFF},
      {"speak two texts", id::kSpeak, DISPATCH_METHOD, {Str(L"a", 1), Str(L"b", 1)}, false,
       DISP_E_BADPARAMCOUNT, 0xFFFF},
      {"speak a number", id::kSpeak, DISPATCH_METHOD, {I4(5)}, false, DISP_E_TYPEMISMATCH, 0},
      {"speak a number by reference", id::kSpeak, DISPATCH_METHOD, {ByRef(five)}, false,
       DISP_E_TYPEMISMATCH, 0},
      {"speak as property", id::kSpeak, DISPATCH_PROPERTYGET, {}, false, DISP_E_MEMBERNOTFOUND,
       0xFFFF},
      {"engine version with arg", id::kEngineVersion, DISPATCH_METHOD, {I4(1)}, false,
       DISP_E_BADPARAMCOUNT, 0xFFFF},
      {"voice settings with arg", id::kVoiceSettings, DISPATCH_METHOD, {I4(1)}, false,
       DISP_E_BADPARAMCOUNT, 0xFFFF},
      {"about with arg", DISPID_ABOUTBOX, DISPATCH_METHOD, {I4(1)}, false, DISP_E_BADPARAMCOUNT,
       0xFFFF},
      {"get with arg", id::kSpeed, DISPATCH_PROPERTYGET, {I4(1)}, false, DISP_E_BADPARAMCOUNT,
       0xFFFF},
      {"put without name", id::kSpeed, DISPATCH_PROPERTYPUT, {I4(1)}, false, DISP_E_PARAMNOTFOUND,
       0xFFFF},
      {"put a word", id::kSpeed, DISPATCH_PROPERTYPUT, {Str(L"fast", 4)}, true,
       DISP_E_TYPEMISMATCH, 0},
      {"put an object", id::kPitch, DISPATCH_PROPERTYPUT, {unknown}, true, DISP_E_TYPEMISMATCH, 0},
      {"put too big", id::kGender, DISPATCH_PROPERTYPUT, {I4(70000)}, true, DISP_E_OVERFLOW, 0},
  };
  for (auto& c : cases) {
    CallResult r;
    Call(control_.Get(), c.which, c.flags, c.args, r, c.put);
    EXPECT_EQ(r.hr, c.hr) << c.what;
    EXPECT_EQ(r.arg_err, c.arg_err) << c.what;
  }
  EXPECT_EQ(GetI4(id::kSpeed), 180);  // nothing was changed by a refused call
  DISPPARAMS none{};
  EXPECT_EQ(control_->Invoke(id::kSpeed, IID_IDispatch, 0, DISPATCH_PROPERTYGET, &none, nullptr,
                             nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
}

TEST_F(ControlTest, SpeakReturnsTrueAtOnce) {
  // The text as it is, and as a script's variable that holds it, or holds a reference to it.
  fw::Variant text, reference;
  text.v = Str(L"はい", 2);
  reference.v = Arg(VT_BYREF | VT_BSTR);
  reference.v.pbstrVal = &text.v.bstrVal;
  const std::vector<VARIANT> ways[] = {{Str(L"はい", 2)}, {ByRef(text.v)}, {ByRef(reference.v)}};
  Sink& sink = sink_;
  Advise(control_.Get(), sink);
  for (const auto& way : ways) {
    CallResult r;
    Call(control_.Get(), id::kSpeak, DISPATCH_METHOD, way, r);
    EXPECT_EQ(r.hr, S_OK) << way[0].vt;
    EXPECT_EQ(r.result.v.vt, VT_BOOL) << way[0].vt;
    EXPECT_EQ(r.result.v.boolVal, VARIANT_TRUE) << way[0].vt;
  }
  EXPECT_TRUE(WaitUntil([&] { return sink.events.size() == 6; })) << "every text was spoken";
  EXPECT_STREQ(text.v.bstrVal, L"はい") << "the caller's variable is left as it was";
}

// ---- Events ----------------------------------------------------------------------------------

TEST_F(ControlTest, EachSpeakGetsItsOwnStartAndStopInOrderAndNeverDuringTheCall) {
  Sink& sink = sink_;
  Advise(control_.Get(), sink);
  const std::wstring texts[] = {L"一つ目", L"", std::wstring(L"a\0b", 3), std::wstring(1, L'\0'),
                                L"最後"};
  for (const auto& t : texts) ASSERT_EQ(Speak(t), S_OK);
  EXPECT_TRUE(sink.events.empty());  // nothing fires inside the speak calls
  ASSERT_TRUE(WaitUntil([&] { return sink.events.size() >= 10; }));
  koe_test::Pump(50);
  const std::vector<DISPID> expected = {kStart, kStop, kStart, kStop, kStart,
                                        kStop,  kStart, kStop, kStart, kStop};
  EXPECT_EQ(sink.events, expected);
}

TEST_F(ControlTest, ASpeakWhileSpeakingIsQueuedBehindTheCurrentOne) {
  ScopedEnv slow(L"KOE_PTSVR_SIM_SPEED", L"20");  // each utterance takes a while on the engine's timer
  ComPtr<IDispatch> control = Create();
  ASSERT_TRUE(control);
  Sink& sink = sink_;
  Advise(control.Get(), sink);
  // The second speak comes while the first is being spoken however fast or slow the machine is:
  // from inside the first one's start.
  CallResult r;
  sink.on_event = [&](DISPID e) {
    if (e == kStart && sink.events.size() == 1)
      Call(control.Get(), id::kSpeak, DISPATCH_METHOD, {Str(L"次", 1)}, r);
  };
  Call(control.Get(), id::kSpeak, DISPATCH_METHOD, {Str(L"ながい文章です", 7)}, r);
  ASSERT_TRUE(WaitUntil([&] { return sink.events.size() >= 4; }));
  koe_test::Pump(300);
  EXPECT_EQ(sink.events, (std::vector<DISPID>{kStart, kStop, kStart, kStop}));
}

TEST_F(ControlTest, EverySinkHearsEveryEventAndUnadviseStopsOne) {
  Sink &a = sink_, &b = other_;
  const DWORD ca = Advise(control_.Get(), a);
  const DWORD cb = Advise(control_.Get(), b);
  EXPECT_NE(ca, cb);
  ASSERT_EQ(Speak(L"両方"), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return a.events.size() == 2 && b.events.size() == 2; }));
  EXPECT_EQ(point_->Unadvise(ca), S_OK);
  EXPECT_EQ(point_->Unadvise(ca), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(a.refs(), 1);  // the control let go of the sink
  ASSERT_EQ(Speak(L"片方"), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return b.events.size() == 4; }));
  EXPECT_EQ(a.events.size(), 2u);
  // Both advised again, a first: a unadvises b inside the next event, and b hears nothing more,
  // not even that event.
  EXPECT_EQ(point_->Unadvise(cb), S_OK);
  DWORD cb_again = 0;
  a.on_event = [&](DISPID) { point_->Unadvise(cb_again); };
  const DWORD ca_again = Advise(control_.Get(), a);
  cb_again = Advise(control_.Get(), b);
  ASSERT_EQ(Speak(L"また両方"), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return a.events.size() == 4; }));
  koe_test::Pump(50);
  EXPECT_EQ(b.events.size(), 4u);
  a.on_event = nullptr;
  EXPECT_EQ(point_->Unadvise(ca_again), S_OK);
}

TEST_F(ControlTest, ASinkMayUnadviseOrSpeakAgainFromInsideAnEvent) {
  Sink &leaver = sink_, &talker = other_;
  DWORD leaver_cookie = 0;
  leaver.on_event = [&](DISPID) { point_->Unadvise(leaver_cookie); };
  int again = 1;
  talker.on_event = [&](DISPID e) {
    if (e == kStop && again-- > 0) Speak(L"もう一度");
  };
  leaver_cookie = Advise(control_.Get(), leaver);
  Advise(control_.Get(), talker);
  ASSERT_EQ(Speak(L"最初"), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return talker.events.size() == 4; }));
  koe_test::Pump(50);
  EXPECT_EQ(leaver.events, (std::vector<DISPID>{kStart}));
  EXPECT_EQ(talker.events, (std::vector<DISPID>{kStart, kStop, kStart, kStop}));
}

TEST_F(ControlTest, ASinkThatReleasesTheLastReferenceDuringAnEventIsSafe) {
  // At the utterance's stop, and at its start: the control then goes while it speaks, and the
  // container's view sink, which reaches the control again at each view change, hears nothing
  // from a control that is going.
  Sink &sink = sink_, &view_sink = other_;
  for (DISPID when : {kStop, kStart}) {
    control_ = Create();
    ASSERT_TRUE(control_);
    Advise(control_.Get(), sink);
    point_.Reset();
    ComPtr<IViewObject> view;
    ASSERT_EQ(control_.As(&view), S_OK);
    ASSERT_EQ(view->SetAdvise(DVASPECT_CONTENT, 0, &view_sink), S_OK);
    IUnknown* const shown = view.Get();  // as the container remembers the object it shows
    view.Reset();
    bool released = false;
    int changes_while_going = 0;
    view_sink.on_view_change = [&] {
      if (!released) return;
      ++changes_while_going;
      ComPtr<IUnknown> again;
      shown->QueryInterface(IID_PPV_ARGS(&again));
    };
    sink.on_event = [&](DISPID e) {
      if (e != when || released) return;
      released = true;  // before the control goes: what it calls while going is counted
      control_.Reset();
    };
    ASSERT_EQ(Speak(L"さようなら"), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return released; })) << when;
    koe_test::Pump(50);
    view_sink.on_view_change = nullptr;
    EXPECT_EQ(changes_while_going, 0) << when;
    EXPECT_EQ(sink.refs(), 1) << when;
    EXPECT_EQ(view_sink.refs(), 1) << when;
    EXPECT_EQ(TheServer().CanUnloadNow(), S_OK) << when;
  }
}

TEST_F(ControlTest, ConnectionPointAndClassInfoNameTheEventInterface) {
  ComPtr<IConnectionPointContainer> cpc;
  ASSERT_EQ(control_.As(&cpc), S_OK);
  ComPtr<IConnectionPoint> point;
  EXPECT_EQ(cpc->FindConnectionPoint(IID_IPropertyNotifySink, &point), CONNECT_E_NOCONNECTION);
  ASSERT_EQ(cpc->FindConnectionPoint(kEvents, &point), S_OK);
  IID iid{};
  EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
  EXPECT_EQ(iid, kEvents);
  ComPtr<IConnectionPointContainer> back;
  EXPECT_EQ(point->GetConnectionPointContainer(&back), S_OK);
  EXPECT_EQ(back.Get(), cpc.Get());
  ComPtr<IProvideClassInfo2> info;
  ASSERT_EQ(control_.As(&info), S_OK);
  GUID guid{};
  EXPECT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &guid), S_OK);
  EXPECT_EQ(guid, kEvents);
  ComPtr<IUnknown> not_a_sink;
  DWORD cookie = 0;
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
  EXPECT_EQ(point->Advise(stream.Get(), &cookie), CONNECT_E_CANNOTCONNECT);
}

// ---- Hosting -----------------------------------------------------------------------------------

TEST_F(ControlTest, ActivatesInPlaceInAWindowOfItsOwnAndDeactivates) {
  ComPtr<IOleObject> ole;
  ASSERT_EQ(control_.As(&ole), S_OK);
  DWORD misc = 0;
  EXPECT_EQ(ole->GetMiscStatus(DVASPECT_CONTENT, &misc), S_OK);
  EXPECT_TRUE(misc & OLEMISC_SETCLIENTSITEFIRST);
  EXPECT_TRUE(misc & OLEMISC_ACTIVATEWHENVISIBLE);
  Site& site = site_;
  ASSERT_EQ(ole->SetClientSite(&site), S_OK);
  RECT pos{0, 2, 160, 32};
  ASSERT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, site.window(), &pos), S_OK);
  EXPECT_EQ(site.calls, (std::vector<std::string>{"CanInPlaceActivate", "OnInPlaceActivate",
                                                   "GetWindowContext"}));
  ComPtr<IOleInPlaceObject> inplace;
  ASSERT_EQ(control_.As(&inplace), S_OK);
  HWND view = nullptr;
  ASSERT_EQ(inplace->GetWindow(&view), S_OK);
  EXPECT_EQ(GetParent(view), site.window());
  RECT rc;
  GetWindowRect(view, &rc);
  EXPECT_EQ(rc.right - rc.left, 160);
  EXPECT_EQ(rc.bottom - rc.top, 30);
  RECT moved{10, 5, 210, 45};
  EXPECT_EQ(inplace->SetObjectRects(&moved, &moved), S_OK);
  GetWindowRect(view, &rc);
  EXPECT_EQ(rc.right - rc.left, 200);
  EXPECT_TRUE(WaitUntil([&] { return !GetUpdateRect(view, nullptr, FALSE); })) << "it paints";

  EXPECT_EQ(inplace->InPlaceDeactivate(), S_OK);
  EXPECT_FALSE(IsWindow(view));
  EXPECT_EQ(site.calls.back(), "OnInPlaceDeactivate");
  ASSERT_EQ(ole->DoVerb(OLEIVERB_SHOW, nullptr, &site, 0, site.window(), &pos), S_OK);
  ASSERT_EQ(inplace->GetWindow(&view), S_OK);

  // Placed in a window of the container's that it destroys, ours with it, before deactivating
  // the control: the control has no window, and the next activation shows a new one.
  EXPECT_EQ(inplace->InPlaceDeactivate(), S_OK);
  site.inner = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 200, 50,
                               site.window(), nullptr, nullptr, nullptr);
  ASSERT_TRUE(site.inner);
  ASSERT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, site.inner, &pos), S_OK);
  ASSERT_EQ(inplace->GetWindow(&view), S_OK);
  EXPECT_EQ(GetParent(view), site.inner);
  DestroyWindow(site.inner);
  site.inner = nullptr;
  ASSERT_FALSE(IsWindow(view));
  EXPECT_EQ(inplace->GetWindow(&view), E_FAIL);
  EXPECT_EQ(view, nullptr);
  site.calls.clear();
  for (LONG verb : {OLEIVERB_SHOW, OLEIVERB_INPLACEACTIVATE}) {
    ASSERT_EQ(ole->DoVerb(verb, nullptr, &site, 0, site.window(), &pos), S_OK) << verb;
    ASSERT_EQ(inplace->GetWindow(&view), S_OK) << verb;
    EXPECT_TRUE(IsWindow(view)) << verb;
    EXPECT_TRUE(GetWindowLongPtrW(view, GWL_STYLE) & WS_VISIBLE) << verb;
    EXPECT_EQ(GetParent(view), site.window()) << verb;
  }
  EXPECT_EQ(site.calls, (std::vector<std::string>{"OnInPlaceDeactivate", "CanInPlaceActivate",
                                                   "OnInPlaceActivate", "GetWindowContext"}));

  // Verbs it does not know: a negative one is not carried out; a positive one is taken for the
  // primary verb, which shows the hidden window.
  auto shown = [&] { return (GetWindowLongPtrW(view, GWL_STYLE) & WS_VISIBLE) != 0; };
  EXPECT_EQ(ole->DoVerb(OLEIVERB_HIDE, nullptr, &site, 0, site.window(), &pos), S_OK);
  EXPECT_FALSE(shown());
  for (LONG verb : {OLEIVERB_OPEN, OLEIVERB_PROPERTIES, -42L}) {
    EXPECT_EQ(ole->DoVerb(verb, nullptr, &site, 0, site.window(), &pos), E_NOTIMPL) << verb;
    EXPECT_FALSE(shown()) << verb;
  }
  EXPECT_EQ(ole->DoVerb(7, nullptr, &site, 0, site.window(), &pos), OLEOBJ_S_INVALIDVERB);
  EXPECT_TRUE(shown());
  EXPECT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK);
  EXPECT_FALSE(IsWindow(view));
  EXPECT_EQ(ole->SetClientSite(nullptr), S_OK);
  inplace.Reset();
  ole.Reset();
  control_.Reset();
  EXPECT_EQ(site.refs(), 1);  // no reference to the site is left behind
}

TEST_F(ControlTest, DrawPaintsIntoAnyDeviceContext) {
  ComPtr<IViewObject2> view;
  ASSERT_EQ(control_.As(&view), S_OK);
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 160, 30);
  HGDIOBJ old = SelectObject(dc, bitmap);
  RECTL bounds{0, 0, 160, 30};
  EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr,
                       nullptr, 0),
            S_OK);
  // The state text is drawn on the button-face background.
  int text_pixels = 0;
  for (int x = 4; x < 156; ++x)
    for (int y = 4; y < 26; ++y)
      if (GetPixel(dc, x, y) != GetSysColor(COLOR_BTNFACE)) ++text_pixels;
  EXPECT_GT(text_pixels, 20);
  EXPECT_EQ(view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0),
            DV_E_DVASPECT);
  SIZEL size{};
  EXPECT_EQ(view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &size), S_OK);
  EXPECT_GT(size.cx, size.cy);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
}

// What Draw paints, recorded in an enhanced metafile: each line of text with the box it covers,
// measured again here in the font it was drawn with.
struct PaintedLine {
  std::wstring text;
  RECT box;
};

struct Recording {
  HDC measure;
  std::map<DWORD, HFONT> fonts;  // the metafile's font objects
  std::vector<PaintedLine> lines;
};

int CALLBACK RecordText(HDC, HANDLETABLE*, const ENHMETARECORD* record, int, LPARAM data) {
  auto& rec = *reinterpret_cast<Recording*>(data);
  const auto* bytes = reinterpret_cast<const BYTE*>(record);
  if (record->iType == EMR_EXTCREATEFONTINDIRECTW) {
    const auto* font = reinterpret_cast<const EMREXTCREATEFONTINDIRECTW*>(record);
    rec.fonts[font->ihFont] = CreateFontIndirectW(&font->elfw.elfLogFont);
  } else if (record->iType == EMR_SELECTOBJECT) {
    const DWORD object = reinterpret_cast<const EMRSELECTOBJECT*>(record)->ihObject;
    HGDIOBJ chosen = object & ENHMETA_STOCK_OBJECT ? GetStockObject(object & ~ENHMETA_STOCK_OBJECT)
                     : rec.fonts.count(object)   ? rec.fonts[object]
                                                 : nullptr;
    if (chosen && GetObjectType(chosen) == OBJ_FONT) SelectObject(rec.measure, chosen);
  } else if (record->iType == EMR_EXTTEXTOUTW) {
    const EMRTEXT& t = reinterpret_cast<const EMREXTTEXTOUTW*>(record)->emrtext;
    PaintedLine line{{reinterpret_cast<const wchar_t*>(bytes + t.offString), t.nChars}, {}};
    SIZE size{};
    GetTextExtentPoint32W(rec.measure, line.text.c_str(), static_cast<int>(t.nChars), &size);
    line.box = {t.ptlReference.x, t.ptlReference.y, t.ptlReference.x + size.cx, t.ptlReference.y + size.cy};
    rec.lines.push_back(line);
  }
  return 1;
}

std::vector<PaintedLine> PaintedText(IUnknown* control, const RECT& bounds) {
  ComPtr<IViewObject2> view;
  EXPECT_EQ(control->QueryInterface(IID_PPV_ARGS(&view)), S_OK);
  HDC screen = GetDC(nullptr);
  HDC dc = CreateEnhMetaFileW(screen, nullptr, nullptr, nullptr);
  const RECTL where{bounds.left, bounds.top, bounds.right, bounds.bottom};
  EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &where, nullptr, nullptr, 0), S_OK);
  HENHMETAFILE painted = CloseEnhMetaFile(dc);
  Recording rec{CreateCompatibleDC(screen), {}, {}};
  const HGDIOBJ original_font = GetCurrentObject(rec.measure, OBJ_FONT);
  EnumEnhMetaFile(nullptr, painted, RecordText, &rec, nullptr);
  SelectObject(rec.measure, original_font);
  for (auto& font : rec.fonts) DeleteObject(font.second);
  DeleteDC(rec.measure);
  DeleteEnhMetaFile(painted);
  ReleaseDC(nullptr, screen);
  return rec.lines;
}

TEST_F(ControlTest, WhatTheWindowSaysFitsItWholeInItsFontWaitingAndSpeaking) {
  struct Case {
    const wchar_t* notice;  // KOE_PTSVR_NOTICE; none: the voice's name, which may be cut
  } cases[] = {{nullptr}, {L"no-voice"}, {L"cannot-speak"}, {L"no-sapi"}, {L"no-audio"}, {L"voice-broken"}};
  const RECT window{0, 0, 160, 30};  // as Koemado places the control
  for (const auto& c : cases) {
    const std::string what = c.notice ? koe_test::Narrow(c.notice, CP_ACP) : "a voice";
    ScopedEnv notice(L"KOE_PTSVR_NOTICE", c.notice);
    control_ = Create();
    // Waiting, then speaking: painted from inside the utterance's start.
    std::vector<std::vector<PaintedLine>> states{PaintedText(control_.Get(), window)};
    sink_.events.clear();
    sink_.on_event = [&](DISPID e) {
      if (e == kStart) states.push_back(PaintedText(control_.Get(), window));
    };
    const DWORD cookie = Advise(control_.Get(), sink_);
    ASSERT_EQ(Speak(L"あ"), S_OK);
    EXPECT_TRUE(WaitUntil([&] { return sink_.events.size() == 2; })) << what;
    sink_.on_event = nullptr;
    ASSERT_EQ(states.size(), 2u) << what;
    for (const auto& lines : states) {
      EXPECT_FALSE(lines.empty()) << what;
      for (const auto& line : lines) {
        // Inside the window's one-pixel edge, and not cut short.
        const RECT& b = line.box;
        const std::string text = what + ": " + koe_test::Narrow(line.text, CP_UTF8);
        EXPECT_TRUE(b.left > window.left && b.right < window.right && b.top > window.top &&
                    b.bottom < window.bottom) << text << " at " << b.left << "," << b.top << "-" << b.right << "," << b.bottom;
        if (c.notice) {
          EXPECT_EQ(line.text.find(L"..."), std::wstring::npos) << text;
        }
      }
    }
    point_->Unadvise(cookie);
  }
}

// The dialog's track bars, moved from the keyboard as a user moves them (posted through the
// dialog's own loop): Home and End.
void PressOn(HWND dlg, int track, UINT key) {
  HWND bar = GetDlgItem(dlg, track);
  SetFocus(bar);
  PostMessageW(bar, WM_KEYDOWN, key, 0);
  PostMessageW(bar, WM_KEYUP, key, 0xC0000000);
}

std::wstring ItemText(HWND dlg, int id) {
  wchar_t text[64] = {};
  GetDlgItemTextW(dlg, id, text, 64);
  return text;
}

TEST_F(ControlTest, TheVoiceDialogStoresWhatTheUserChoosesOnOkOnly) {
  Site& site = site_;  // the dialog's owner comes from the site
  ComPtr<IOleObject> ole;
  ASSERT_EQ(control_.As(&ole), S_OK);
  ole->SetClientSite(&site);
  HWND owner = nullptr;
  std::wstring voice;
  BOOL voice_enabled = TRUE, sample_enabled = TRUE;
  std::vector<std::wstring> shown, moved;
  ModalAnswer ok{L"声の設定", [&](HWND dlg) {
                   owner = GetWindow(dlg, GW_OWNER);
                   // No voice to choose in the simulated engine: its name, and no choice.
                   wchar_t text[256] = {};
                   if (SendDlgItemMessageW(dlg, 120, CB_GETCOUNT, 0, 0) == 1)
                     SendDlgItemMessageW(dlg, 120, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(text));
                   voice = text;
                   voice_enabled = IsWindowEnabled(GetDlgItem(dlg, 120));
                   sample_enabled = IsWindowEnabled(GetDlgItem(dlg, 130));
                   for (int row = 0; row < 3; ++row) shown.push_back(ItemText(dlg, 110 + row));
                   PressOn(dlg, 100, VK_END);   // speed: twice the voice's
                   PressOn(dlg, 101, VK_HOME);  // pitch: an octave down
                   PostMessageW(dlg, WM_COMMAND, IDOK, 0);  // after the keys, in the queue
                 }};
  RunModal(control_.Get(), id::kVoiceSettings, ok);
  EXPECT_EQ(owner, site.window());
  EXPECT_EQ(voice, L"PtSvr 模擬音声エンジン");
  EXPECT_FALSE(voice_enabled);
  EXPECT_FALSE(sample_enabled);
  EXPECT_EQ(shown, (std::vector<std::wstring>{L"1.0 倍", L"±0", L"40 %"}));
  EXPECT_EQ(GetI4(id::kSpeed), 360);
  EXPECT_EQ(GetI4(id::kPitch), 40);
  EXPECT_EQ(GetI4(id::kVolume), 26214);  // not moved: kept as it was
  // A value beyond the track bar's span stays as it is until it is moved, and キャンセル keeps all.
  CallResult r;
  Call(control_.Get(), id::kSpeed, DISPATCH_PROPERTYPUT, {I4(1000)}, r, true);
  ModalAnswer cancel{L"声の設定", [&](HWND dlg) {
                       moved.push_back(ItemText(dlg, 110));
                       PressOn(dlg, 102, VK_HOME);
                       PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
                     }};
  RunModal(control_.Get(), id::kVoiceSettings, cancel);
  EXPECT_EQ(moved, std::vector<std::wstring>{L"2.0 倍"});
  EXPECT_EQ(GetI4(id::kSpeed), 1000);
  EXPECT_EQ(GetI4(id::kVolume), 26214);
  ole->SetClientSite(nullptr);
}

TEST_F(ControlTest, EngineVersionAndAboutShowTheirBoxesUntilClosed) {
  ModalAnswer version{L"合成エンジンバージョン",
                      [](HWND box) { PostMessageW(box, WM_COMMAND, IDOK, 0); }};
  RunModal(control_.Get(), id::kEngineVersion, version);
  EXPECT_NE(version.seen_text.find(L"模擬音声エンジン"), std::wstring::npos) << version.seen_text;
  ModalAnswer about{L"PtSvr について", [](HWND box) { PostMessageW(box, WM_COMMAND, IDOK, 0); }};
  RunModal(control_.Get(), id::kAboutBox, about);
  EXPECT_NE(about.seen_text.find(L"バージョン"), std::wstring::npos) << about.seen_text;
}

// ---- Persistence -------------------------------------------------------------------------------

std::vector<BYTE> Saved(IUnknown* control) {
  ComPtr<IPersistStreamInit> persist;
  EXPECT_EQ(control->QueryInterface(IID_PPV_ARGS(&persist)), S_OK);
  ComPtr<IStream> stream;
  EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
  EXPECT_EQ(persist->Save(stream.Get(), TRUE), S_OK);
  STATSTG stat{};
  stream->Stat(&stat, STATFLAG_NONAME);
  std::vector<BYTE> bytes(stat.cbSize.LowPart);
  LARGE_INTEGER zero{};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  ULONG read = 0;
  stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
  return bytes;
}

HRESULT LoadBytes(IUnknown* control, const std::vector<BYTE>& bytes) {
  ComPtr<IPersistStreamInit> persist;
  EXPECT_EQ(control->QueryInterface(IID_PPV_ARGS(&persist)), S_OK);
  ComPtr<IStream> stream;
  EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
  stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
  LARGE_INTEGER zero{};
  stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  return persist->Load(stream.Get());
}

TEST_F(ControlTest, ANewControlSavesExactlyTheShippedControlData) {
  std::ifstream file(BesideTest(L"ControlData.bin").c_str(), std::ios::binary);
  const std::vector<BYTE> shipped{std::istreambuf_iterator<char>(file), {}};
  ASSERT_EQ(shipped.size(), 69u);
  ComPtr<IPersistStreamInit> persist;
  ASSERT_EQ(control_.As(&persist), S_OK);
  EXPECT_EQ(persist->InitNew(), S_OK);
  EXPECT_EQ(Saved(control_.Get()), shipped);
  ULARGE_INTEGER max{};
  EXPECT_EQ(persist->GetSizeMax(&max), S_OK);
  EXPECT_EQ(max.QuadPart, 69u);
  CLSID clsid{};
  EXPECT_EQ(persist->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, kClsid);
}

TEST_F(ControlTest, SavedStateLoadsIntoAnotherControl) {
  CallResult r;
  Call(control_.Get(), id::kSpeed, DISPATCH_PROPERTYPUT, {I4(222)}, r, true);
  Call(control_.Get(), id::kPitch, DISPATCH_PROPERTYPUT, {I4(95)}, r, true);
  Call(control_.Get(), id::kVolume, DISPATCH_PROPERTYPUT, {I4(1234)}, r, true);
  Call(control_.Get(), id::kUseWebSpeak, DISPATCH_PROPERTYPUT, {Bool(true)}, r, true);
  const auto bytes = Saved(control_.Get());
  ASSERT_EQ(bytes.size(), 69u);
  control_ = Create();
  ASSERT_EQ(LoadBytes(control_.Get(), bytes), S_OK);
  EXPECT_EQ(GetI4(id::kSpeed), 222);
  EXPECT_EQ(GetI4(id::kPitch), 95);
  EXPECT_EQ(GetI4(id::kVolume), 1234);
  Call(control_.Get(), id::kUseWebSpeak, DISPATCH_PROPERTYGET, {}, r);
  EXPECT_EQ(r.result.v.boolVal, VARIANT_TRUE);
}

TEST_F(ControlTest, LoadRejectsForeignOrShortData) {
  const auto good = Saved(control_.Get());
  auto wrong_signature = good;
  wrong_signature[0] ^= 0xFF;
  auto wrong_version = good;
  wrong_version[4] = 9;
  const std::vector<BYTE> short_data(good.begin(), good.begin() + 40);
  const std::vector<BYTE> empty;
  for (const std::vector<BYTE>* bytes : std::initializer_list<const std::vector<BYTE>*>{
           &wrong_signature, &wrong_version, &short_data, &empty})
    EXPECT_EQ(LoadBytes(control_.Get(), *bytes), E_FAIL);
  EXPECT_EQ(GetI4(id::kSpeed), 180);
}

// ---- Knobs and transcript ------------------------------------------------------------------------

TEST(Knobs, ListedCallsFailWithTheDescriptionThenRecover) {
  ScopedEnv engine(L"KOE_PTSVR_ENGINE", L"sim");
  ScopedEnv speed(L"KOE_PTSVR_SIM_SPEED", L"0");
  ScopedEnv ids(L"KOE_PTSVR_FAIL_DISPIDS", L"16,5");
  ScopedEnv count(L"KOE_PTSVR_FAIL_COUNT", L"3");
  auto control = Create();
  ASSERT_TRUE(control);
  struct Step {
    DISPID which;
    WORD flags;
    HRESULT hr;
  } steps[] = {
      {id::kSpeed, DISPATCH_PROPERTYGET, S_OK},                // not listed
      {id::kSpeak, DISPATCH_METHOD, DISP_E_EXCEPTION},         // 1
      {id::kPitch, DISPATCH_PROPERTYGET, DISP_E_EXCEPTION},    // 2
      {id::kSpeak, DISPATCH_METHOD, DISP_E_EXCEPTION},         // 3
      {id::kSpeak, DISPATCH_METHOD, S_OK},                     // recovered
      {id::kPitch, DISPATCH_PROPERTYGET, S_OK},
  };
  for (const auto& s : steps) {
    CallResult r;
    std::vector<VARIANT> args;
    if (s.which == id::kSpeak) args.push_back(Str(L"あ", 1));
    Call(control.Get(), s.which, s.flags, args, r);
    EXPECT_EQ(r.hr, s.hr) << s.which;
    if (s.hr == DISP_E_EXCEPTION) {
      EXPECT_EQ(r.description, L"音声エンジンが応答しません。");
    }
  }
}

TEST(Knobs, FailTextReplacesTheDescription) {
  ScopedEnv engine(L"KOE_PTSVR_ENGINE", L"sim");
  ScopedEnv ids(L"KOE_PTSVR_FAIL_DISPIDS", L"11");
  ScopedEnv text(L"KOE_PTSVR_FAIL_TEXT", L"エンジン故障");
  auto control = Create();
  CallResult r;
  Call(control.Get(), id::kVoiceSettings, DISPATCH_METHOD, {}, r);
  EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(r.description, L"エンジン故障");
}

TEST(Knobs, TheDialogAnswerIsStoredInSpeedPitchAndVolume) {
  ScopedEnv engine(L"KOE_PTSVR_ENGINE", L"sim");
  struct Case {
    const wchar_t* answer;
    LONG speed, pitch, volume;
  } cases[] = {{L"ok:200,90,30000", 200, 90, 30000}, {L"cancel", 180, 80, 26214},
               {L"ok:-1,0,99999", -1, 0, 99999}};
  for (const auto& c : cases) {
    ScopedEnv dialog(L"KOE_PTSVR_DIALOG", c.answer);
    auto control = Create();
    CallResult r;
    for (DISPID method : {id::kVoiceSettings, id::kEngineVersion, id::kAboutBox}) {
      Call(control.Get(), method, DISPATCH_METHOD, {}, r);
      EXPECT_EQ(r.hr, S_OK) << method;
    }
    const LONG expected[] = {c.speed, c.pitch, c.volume};
    for (DISPID which : {id::kSpeed, id::kPitch, id::kVolume}) {
      Call(control.Get(), which, DISPATCH_PROPERTYGET, {}, r);
      EXPECT_EQ(r.result.v.lVal, expected[which - id::kSpeed]) << c.answer;
    }
  }
}

TEST(Transcript, RecordsCallsEventsAndLifecycleInOrder) {
  const koe_test::Transcript transcript;  // outlives the control, which holds its file open
  {
    ScopedEnv engine(L"KOE_PTSVR_ENGINE", L"sim");
    ScopedEnv speed(L"KOE_PTSVR_SIM_SPEED", L"0");
    ScopedEnv to_transcript("KOE_PTSVR_TRANSCRIPT", transcript.Path());
    ScopedEnv dialog(L"KOE_PTSVR_DIALOG", L"ok:200,90,30000");
    ScopedEnv fail(L"KOE_PTSVR_FAIL_DISPIDS", L"6");
    Site site;  // outlives the control
    auto control = Create();
    ASSERT_TRUE(control);
    CallResult r;
    Call(control.Get(), id::kSpeed, DISPATCH_PROPERTYPUT, {I4(210)}, r, true);
    Call(control.Get(), id::kPitch, DISPATCH_PROPERTYGET, {}, r);
    Call(control.Get(), id::kUseButton, DISPATCH_PROPERTYPUT, {Bool(true)}, r, true);
    Call(control.Get(), id::kVolume, DISPATCH_PROPERTYGET, {}, r);
    const wchar_t text[] = L"a\\b\0c\r\n声";
    Call(control.Get(), id::kSpeak, DISPATCH_METHOD, {Str(text, 8)}, r);
    for (DISPID method : {id::kEngineVersion, id::kVoiceSettings, id::kAboutBox})
      Call(control.Get(), method, DISPATCH_METHOD, {}, r);
    // Readable while the control still has it open.
    EXPECT_TRUE(WaitUntil([&] { return transcript.Lines().size() == 11; }));
    Saved(control.Get());
    ComPtr<IOleObject> ole;
    ASSERT_EQ(control.As(&ole), S_OK);
    ole->SetClientSite(&site);
    ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, site.window(), nullptr);
    ole->Close(OLECLOSE_NOSAVE);
    ole->SetClientSite(nullptr);
  }
  const std::vector<std::string> expected = {
      "create",
      "put Speed=210",
      "get Pitch=80",
      "put UseButton=true",
      "fail 6 80020009",
      koe_test::Utf8(u8"speak a\\\\b\\0c\\r\\n声"),
      "call 10",
      "call 11",
      "call -552",
      "event OnStartSpeak",
      "event OnStopSpeak",
      "save",
      "activate",
      "close",
  };
  const auto lines = transcript.Lines();
  // The two events come from the message loop, so they may sit anywhere after the speak line.
  EXPECT_EQ(lines.size(), expected.size());
  auto without_events = [](std::vector<std::string> v) {
    v.erase(std::remove_if(v.begin(), v.end(), [](auto& l) { return l.rfind("event ", 0) == 0; }),
            v.end());
    return v;
  };
  EXPECT_EQ(without_events(lines), without_events(expected));
  const auto speak = std::find(lines.begin(), lines.end(), expected[5]);
  const auto start = std::find(lines.begin(), lines.end(), "event OnStartSpeak");
  const auto stop = std::find(lines.begin(), lines.end(), "event OnStopSpeak");
  EXPECT_TRUE(speak < start && start < stop && stop != lines.end());
}

// ---- The installed control and the test build ------------------------------------------------

// The installed PtSvr.ocx (target ptsvr), loaded beside the registered test build; its objects
// come straight from its own class factory.
struct Installed {
  HMODULE module = LoadLibraryW(BesideTest(L"installed\\PtSvr.ocx").c_str());
  ComPtr<IDispatch> Create(HRESULT& hr) const {
    using GetClassObject = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
    const auto get = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    ComPtr<IClassFactory> factory;
    ComPtr<IDispatch> d;
    hr = get ? get(kClsid, IID_PPV_ARGS(&factory)) : E_NOINTERFACE;
    if (SUCCEEDED(hr)) hr = factory->CreateInstance(nullptr, kDiid, reinterpret_cast<void**>(d.GetAddressOf()));
    return d;
  }
};

TEST(InstalledControl, IgnoresEveryFaultKnobThatTheTestBuildObeys) {
  ScopedEnv engine(L"KOE_PTSVR_ENGINE", L"sim");
  ScopedEnv speed(L"KOE_PTSVR_SIM_SPEED", L"0");
  ScopedEnv faults[] = {{L"KOE_PTSVR_CREATE_HRESULT", L"80004005"},
                     {L"KOE_PTSVR_FAIL_DISPIDS", L"4,5,6,10,11,16,-552"},
                     {L"KOE_PTSVR_EXTRA_STOPS", L"2"},
                     {L"KOE_PTSVR_DIALOG", L"ok:200,90,30000"},
                     {L"KOE_PTSVR_NO_INPLACE", L"1"}};
  HRESULT hr = S_OK;
  EXPECT_FALSE(Create(&hr)) << "the registered test build fails as told";
  EXPECT_EQ(hr, E_FAIL);

  const Installed installed;
  ASSERT_TRUE(installed.module);
  ASSERT_NE(installed.module, TheServer().module);
  Sink sink;  // outlives the control
  auto control = installed.Create(hr);
  ASSERT_EQ(hr, S_OK);
  ASSERT_TRUE(control);
  ComPtr<IOleInPlaceObject> inplace;
  EXPECT_EQ(control.As(&inplace), S_OK);
  CallResult r;
  Call(control.Get(), id::kPitch, DISPATCH_PROPERTYPUT, {I4(95)}, r, true);
  EXPECT_EQ(r.hr, S_OK);
  ComPtr<IConnectionPoint> point;
  const DWORD cookie = AdviseSink(control.Get(), sink, point);
  Call(control.Get(), id::kSpeak, DISPATCH_METHOD, {Str(L"話す", 2)}, r);
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_TRUE(WaitUntil([&] { return sink.events.size() >= 2; }));
  koe_test::Pump(50);
  EXPECT_EQ(sink.events, (std::vector<DISPID>{kStart, kStop}));
  // The real voice dialog is shown, and cancelling it keeps the speed.
  ModalAnswer cancel{L"声の設定", [](HWND dlg) { PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0); }};
  RunModal(control.Get(), id::kVoiceSettings, cancel);
  Call(control.Get(), id::kSpeed, DISPATCH_PROPERTYGET, {}, r);
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.result.v.lVal, 180);
  point->Unadvise(cookie);
}

TEST_F(ControlTest, ItsWindowsKeepTheirClassProcedureAndTheClassesGoWhenTheServerMayUnload) {
  Site& site = site_;
  ComPtr<IOleObject> ole;
  ASSERT_EQ(control_.As(&ole), S_OK);
  ASSERT_EQ(ole->SetClientSite(&site), S_OK);
  ASSERT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, site.window(), nullptr), S_OK);
  ComPtr<IOleInPlaceObject> inplace;
  ASSERT_EQ(control_.As(&inplace), S_OK);
  HWND view = nullptr;
  ASSERT_EQ(inplace->GetWindow(&view), S_OK);
  EXPECT_EQ(GetWindowLongPtrW(view, GWLP_WNDPROC), GetClassLongPtrW(view, GCLP_WNDPROC));
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  EXPECT_TRUE(GetClassInfoExW(TheServer().module, L"PtSvrView", &wc));
  ole->Close(OLECLOSE_NOSAVE);
  ole->SetClientSite(nullptr);
  inplace.Reset();
  ole.Reset();
  control_.Reset();
  ASSERT_EQ(TheServer().CanUnloadNow(), S_OK);
  for (const wchar_t* name : {L"PtSvrNotify", L"PtSvrView"})
    EXPECT_FALSE(GetClassInfoExW(TheServer().module, name, &wc)) << name;
  control_ = Create();  // registers them again
  ASSERT_TRUE(control_);
  Sink& sink = sink_;
  Advise(control_.Get(), sink);
  ASSERT_EQ(Speak(L"もう一度"), S_OK);
  EXPECT_TRUE(WaitUntil([&] { return sink.events.size() == 2; }));
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (FAILED(OleInitialize(nullptr))) return 2;
  ::testing::AddGlobalTestEnvironment(new Registration);
  const int result = RUN_ALL_TESTS();
  OleUninitialize();
  return result;
}
