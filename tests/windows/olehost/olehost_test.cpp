// The control host and TPtSvr against the real speech control (PtSvr.ocx, registered in setup).
#include <gtest/gtest.h>

#include <windows.h>
#include <olectl.h>

#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "PTSVRLib_TLB.h"
#include "com_util.h"
#include "errors.h"
#include "olehost.h"
#include "protocol.h"
#include "message_boxes.h"
#include "support.h"
#include "system.h"

using Microsoft::WRL::ComPtr;

namespace {

const RECT kBounds{0, 2, 160, 32};

// A control of another maker, as the host meets it: it records what the container calls, in
// order, may refuse the stored state (or even to start afresh), and keeps the event sink it is
// given. Registered for this process only, under a class of its own.
const CLSID kRecordingClsid{0x6b1e0a55, 0x3c1d, 0x4b8e, {0x9a, 0x21, 0x5e, 0x0c, 0x7f, 0x44, 0x12, 0x3d}};
const IID kRecordingEvents{0x6b1e0a56, 0x3c1d, 0x4b8e, {0x9a, 0x21, 0x5e, 0x0c, 0x7f, 0x44, 0x12, 0x3d}};

struct Recording {
  std::vector<std::string> calls;
  bool refuse_load = false;
  bool refuse_init_new = false;
  ComPtr<IDispatch> sink;  // as advised
  std::function<void(VARIANT&)> answer;  // what every property read answers
} g_recording;

class RecordingControl final : public IOleObject, public IOleInPlaceObject, public IPersistStreamInit,
                               public IConnectionPointContainer, public IDispatch {
 public:
  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IOleObject) *out = static_cast<IOleObject*>(this);
    else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceObject) *out = static_cast<IOleInPlaceObject*>(this);
    else if (riid == IID_IPersist || riid == IID_IPersistStreamInit) *out = static_cast<IPersistStreamInit*>(this);
    else if (riid == IID_IConnectionPointContainer) *out = static_cast<IConnectionPointContainer*>(this);
    else if (riid == IID_IDispatch) *out = static_cast<IDispatch*>(this);
    else return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    if (--refs_ > 0) return refs_;
    Note("released");
    delete this;
    return 0;
  }
  // IOleObject
  HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override {
    Note(site ? "site" : "site none");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Close(DWORD option) override {
    Note(option == OLECLOSE_NOSAVE ? "close nosave" : "close saving");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override {
    Note("verb " + std::to_string(verb));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD* status) override {
    *status = OLEMISC_SETCLIENTSITEFIRST;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }
  // IOleInPlaceObject
  HRESULT STDMETHODCALLTYPE GetWindow(HWND*) override { return E_FAIL; }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override {
    Note("inplace deactivate");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE UIDeactivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT, LPCRECT) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override { return E_NOTIMPL; }
  // IPersistStreamInit
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    *clsid = kRecordingClsid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE Load(LPSTREAM) override {
    Note(g_recording.refuse_load ? "load refused" : "load");
    return g_recording.refuse_load ? E_FAIL : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Save(LPSTREAM, BOOL) override {
    Note("save");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InitNew() override {
    Note(g_recording.refuse_init_new ? "init new refused" : "init new");
    return g_recording.refuse_init_new ? E_UNEXPECTED : S_OK;
  }
  // IConnectionPointContainer: the event interface only
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
    *point = nullptr;
    if (riid != kRecordingEvents) return CONNECT_E_NOCONNECTION;
    *point = &point_;
    AddRef();
    return S_OK;
  }
  // IDispatch: every call is a property read, answered by g_recording.answer
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
    g_recording.answer(*result);
    return S_OK;
  }

 private:
  class EventPoint final : public IConnectionPoint {
   public:
    explicit EventPoint(RecordingControl* owner) : owner_(owner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
      *out = nullptr;
      if (riid != IID_IUnknown && riid != IID_IConnectionPoint) return E_NOINTERFACE;
      *out = this;
      AddRef();
      return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
      *iid = kRecordingEvents;
      return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
      Note("advise");
      if (FAILED(sink->QueryInterface(kRecordingEvents, reinterpret_cast<void**>(g_recording.sink.ReleaseAndGetAddressOf()))))
        return CONNECT_E_CANNOTCONNECT;
      *cookie = 7;
      return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
      Note(cookie == 7 ? "unadvise" : "unadvise unknown");
      g_recording.sink.Reset();
      return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

   private:
    RecordingControl* owner_;
  };

  static void Note(const std::string& call) { g_recording.calls.push_back(call); }
  ULONG refs_ = 1;
  EventPoint point_{this};
};

class RecordingFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    *out = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** out) override {
    auto* control = new RecordingControl;
    const HRESULT hr = control->QueryInterface(riid, out);
    control->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
} g_recording_factory;

// Every knob the control reads; each test sets the ones it needs before creating the object.
const char* const kKnobs[] = {"KOE_PTSVR_TRANSCRIPT", "KOE_PTSVR_FAIL_DISPIDS", "KOE_PTSVR_FAIL_TEXT",
                              "KOE_PTSVR_CREATE_HRESULT", "KOE_PTSVR_NO_INPLACE", "KOE_PTSVR_DIALOG"};

class HostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(S_OK, ::CoInitialize(nullptr));
    ASSERT_EQ(S_OK, koe_test::CallControlEntry("PtSvr.ocx", "DllRegisterServer")) << "PtSvr.ocx beside the test";
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, ::CoRegisterClassObject(kRecordingClsid, &g_recording_factory, CLSCTX_INPROC_SERVER,
                                            REGCLS_MULTIPLEUSE, &cookie));
    WNDCLASSA wc{};
    wc.lpfnWndProc = ::DefWindowProcA;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "OleHostTestParent";
    ::RegisterClassA(&wc);
  }

  void SetUp() override {
    for (const char* knob : kKnobs) ::SetEnvironmentVariableA(knob, nullptr);
    ::SetEnvironmentVariableA("KOE_PTSVR_ENGINE", "sim");
    ::SetEnvironmentVariableA("KOE_PTSVR_SIM_SPEED", "0");
    ::SetEnvironmentVariableA("KOE_PTSVR_TRANSCRIPT", transcript_.Path().c_str());
    parent_ = ::CreateWindowExA(0, "OleHostTestParent", "host", WS_OVERLAPPEDWINDOW, 0, 0, 300,
                                120, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, parent_);
  }

  void TearDown() override {
    fw::TheTestSeam() = {};
    ::DestroyWindow(parent_);
  }

  std::unique_ptr<TPtSvr> Make() { return std::make_unique<TPtSvr>(parent_, kBounds, nullptr, 0); }

  // The recording control, with some stored state to load, fresh records each time.
  std::unique_ptr<fw::OleControlHost> MakeRecording(bool refuse_load = false, bool refuse_init_new = false) {
    g_recording = Recording{{}, refuse_load, refuse_init_new, nullptr, nullptr};
    auto host = std::make_unique<fw::OleControlHost>(kRecordingClsid, IID_IDispatch, kRecordingEvents);
    host->SetParent(parent_);
    host->SetBounds(kBounds);
    const unsigned char state[4] = {1, 2, 3, 4};
    host->SetControlData(state, sizeof state);
    return host;
  }

  HWND parent_ = nullptr;
  koe_test::Transcript transcript_;
  koe_test::MessageBoxes reported_;  // errors reach the standard error box: its texts
};

TEST_F(HostTest, ControlSitsInItsParentAtItsBounds) {
  auto ptsvr = Make();
  EXPECT_EQ(nullptr, ptsvr->Handle()) << "no window before it is made";
  ptsvr->HandleNeeded();
  HWND hwnd = ptsvr->Handle();
  ASSERT_NE(nullptr, hwnd);
  EXPECT_EQ(parent_, ::GetParent(hwnd));
  RECT rc;
  ::GetWindowRect(hwnd, &rc);
  ::MapWindowPoints(nullptr, parent_, reinterpret_cast<POINT*>(&rc), 2);
  EXPECT_EQ(kBounds.left, rc.left);
  EXPECT_EQ(kBounds.top, rc.top);
  EXPECT_EQ(kBounds.right, rc.right);
  EXPECT_EQ(kBounds.bottom, rc.bottom);
  ptsvr->SetBounds(RECT{10, 5, 60, 25});
  ::GetWindowRect(hwnd, &rc);
  ::MapWindowPoints(nullptr, parent_, reinterpret_cast<POINT*>(&rc), 2);
  EXPECT_EQ(10, rc.left);
  EXPECT_EQ(25, rc.bottom);
}

TEST_F(HostTest, FirstCallActivatesTheControl) {
  auto ptsvr = Make();
  ptsvr->SetSpeed(200);
  EXPECT_NE(nullptr, ptsvr->Handle());
  EXPECT_EQ(200, ptsvr->GetSpeed());
}

TEST_F(HostTest, SiteAnswersTheAmbientPropertiesOfARunningContainer) {
  auto ptsvr = Make();
  ptsvr->HandleNeeded();
  ComPtr<IOleClientSite> held;
  ASSERT_EQ(S_OK, ptsvr->Host().Object()->GetClientSite(&held));
  ASSERT_EQ(ptsvr->Host().ClientSite().Get(), held.Get()) << "the control holds our site";
  ComPtr<IDispatch> ambient;
  ASSERT_EQ(S_OK, held.As(&ambient));
  struct Case {
    DISPID id;
    HRESULT hr;
    VARTYPE type;
    LONG value;  // VT_BOOL as VARIANT_TRUE or VARIANT_FALSE
  } cases[] = {{DISPID_AMBIENT_USERMODE, S_OK, VT_BOOL, VARIANT_TRUE},
               {DISPID_AMBIENT_SHOWHATCHING, S_OK, VT_BOOL, VARIANT_FALSE},
               {DISPID_AMBIENT_SHOWGRABHANDLES, S_OK, VT_BOOL, VARIANT_FALSE},
               {DISPID_AMBIENT_UIDEAD, S_OK, VT_BOOL, VARIANT_FALSE},
               {DISPID_AMBIENT_MESSAGEREFLECT, S_OK, VT_BOOL, VARIANT_FALSE},
               {DISPID_AMBIENT_DISPLAYASDEFAULT, S_OK, VT_BOOL, VARIANT_FALSE},
               {DISPID_AMBIENT_LOCALEID, S_OK, VT_I4, 0x411},
               {DISPID_AMBIENT_DISPLAYNAME, DISP_E_MEMBERNOTFOUND, VT_EMPTY, 0}};
  for (const Case& c : cases) {
    fw::Variant v;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(c.hr, ambient->Invoke(c.id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, v.ptr(), nullptr, nullptr))
        << c.id;
    EXPECT_EQ(c.type, V_VT(v.ptr())) << c.id;
    if (c.type == VT_BOOL) {
      EXPECT_EQ(c.value, V_BOOL(v.ptr())) << c.id;
    } else if (c.type == VT_I4) {
      EXPECT_EQ(c.value, V_I4(v.ptr())) << c.id;
    }
  }
}

TEST_F(HostTest, ControlThatRefusesTheStoredStateStartsAfresh) {
  struct Case {
    const char* what;
    bool refuse_load, refuse_init_new;
    std::vector<std::string> calls;
    bool fails;
  } cases[] = {
      {"accepted", false, false, {"site", "load", "verb -5", "advise"}, false},
      {"refused", true, false, {"site", "load refused", "init new", "verb -5", "advise"}, false},
      {"refused, and afresh too", true, true, {"site", "load refused", "init new refused"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto host = MakeRecording(c.refuse_load, c.refuse_init_new);
    if (c.fails) {
      EXPECT_THROW(host->Activate(), fw::EOleSysError);
    } else {
      EXPECT_NO_THROW(host->Activate());
    }
    EXPECT_EQ(c.calls, g_recording.calls);
  }
  // Our own control, given a state of another kind, refuses it and starts with its defaults.
  const unsigned char foreign[69] = {'N', 'o', 't', 'O', 'u', 'r', 's'};
  TPtSvr ptsvr(parent_, kBounds, foreign, sizeof foreign);
  ptsvr.HandleNeeded();
  EXPECT_EQ((std::vector<std::string>{"create", "activate"}), transcript_.Lines());
  EXPECT_EQ(180, ptsvr.GetSpeed());
}

// In-place deactivate, unadvise, close without saving, take the site back, release.
TEST_F(HostTest, TeardownGoesInTheOrderContainersUse) {
  auto host = MakeRecording();
  host->Activate();
  g_recording.calls.clear();
  host.reset();
  EXPECT_EQ((std::vector<std::string>{"inplace deactivate", "unadvise", "close nosave", "site none", "released"}),
            g_recording.calls);
}

// The sink is an object of its own: every one of its interfaces leads to the same IUnknown, and
// none of them to the site's.
TEST_F(HostTest, EventSinkKeepsItsOwnIdentity) {
  auto host = MakeRecording();
  host->Activate();
  ASSERT_TRUE(g_recording.sink);
  auto identity = [](IUnknown* face) {  // held by the object under test, so the pointer stays valid
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(S_OK, face->QueryInterface(IID_PPV_ARGS(&unknown)));
    return static_cast<void*>(unknown.Get());
  };
  ComPtr<IDispatch> as_dispatch;
  ASSERT_EQ(S_OK, g_recording.sink.As(&as_dispatch));
  EXPECT_EQ(identity(g_recording.sink.Get()), identity(as_dispatch.Get()));
  ComPtr<IOleClientSite> site_through_sink;
  EXPECT_EQ(E_NOINTERFACE, g_recording.sink.As(&site_through_sink));

  const ComPtr<IOleClientSite> site = host->ClientSite();
  EXPECT_NE(identity(site.Get()), identity(g_recording.sink.Get()));
  ComPtr<IDispatch> sink_through_site;
  EXPECT_EQ(E_NOINTERFACE, site->QueryInterface(kRecordingEvents, reinterpret_cast<void**>(sink_through_site.GetAddressOf())));
  ComPtr<IOleInPlaceSite> inplace;
  ComPtr<IDispatch> ambient;
  ASSERT_EQ(S_OK, site.As(&inplace));
  ASSERT_EQ(S_OK, site.As(&ambient));
  EXPECT_EQ(identity(site.Get()), identity(inplace.Get()));
  EXPECT_EQ(identity(site.Get()), identity(ambient.Get()));
}

TEST_F(HostTest, StopSpeakComesOncePerSpeak) {
  auto ptsvr = Make();
  int stops = 0;
  ptsvr->SetOnStopSpeak([&] { ++stops; });
  // Counted from the start: a second end of one speech would have come before the next one's.
  for (int i = 1; i <= 4; ++i) {
    ptsvr->Speak(L"こんにちは");
    EXPECT_TRUE(koe_test::WaitUntil([&] { return stops >= i; })) << "speech " << i;
    EXPECT_EQ(i, stops);
  }
}

TEST_F(HostTest, SpeakHandsTheWholeTextIncludingNul) {
  auto ptsvr = Make();
  ptsvr->Speak(std::wstring(L"あ\0い", 3));
  EXPECT_TRUE(transcript_.Has(koe_test::Utf8(u8"speak あ\\0い")));
}

TEST_F(HostTest, PropertiesRoundTripUnchanged) {
  auto ptsvr = Make();
  struct Case {
    void (TPtSvr::*set)(int32_t);
    int32_t (TPtSvr::*get)();
    int32_t value;
  } cases[] = {
      {&TPtSvr::SetSpeed, &TPtSvr::GetSpeed, 180},       {&TPtSvr::SetSpeed, &TPtSvr::GetSpeed, -1},
      {&TPtSvr::SetSpeed, &TPtSvr::GetSpeed, INT32_MIN}, {&TPtSvr::SetPitch, &TPtSvr::GetPitch, 80},
      {&TPtSvr::SetPitch, &TPtSvr::GetPitch, INT32_MAX}, {&TPtSvr::SetPitch, &TPtSvr::GetPitch, 0},
      {&TPtSvr::SetVolume, &TPtSvr::GetVolume, 26214},   {&TPtSvr::SetVolume, &TPtSvr::GetVolume, 65536},
      {&TPtSvr::SetVolume, &TPtSvr::GetVolume, -32768},
  };
  for (const Case& c : cases) {
    ((*ptsvr).*c.set)(c.value);
    EXPECT_EQ(c.value, ((*ptsvr).*c.get)()) << c.value;
  }
}

TEST_F(HostTest, ANumberOfAnyTypeIsReadAndAnythingElseIsRefused) {
  fw::OleControlHost host(koe_test::kClsidPtSvr, koe_test::kDiidDPtSvr, koe_test::kDiidDPtSvrEvents);
  host.SetParent(parent_);
  host.SetBounds(kBounds);
  host.SetInt(koe::dispid::kGender, -2);  // a 16-bit property: VT_I2
  EXPECT_EQ(-2, host.GetInt(koe::dispid::kGender));
  try {
    host.GetInt(koe::dispid::kModeGuid);  // a string
    FAIL() << "read as a number";
  } catch (const fw::EOleSysError& e) {
    EXPECT_EQ(DISP_E_TYPEMISMATCH, e.Code());
  }

  // Another maker's control answers its numbers in other types: each is converted.
  const struct {
    VARTYPE type;
    double number;
    int32_t value;
    HRESULT refused;
  } answers[] = {{VT_UI2, 65535, 65535, S_OK}, {VT_INT, -7, -7, S_OK}, {VT_R8, 180, 180, S_OK},
                 {VT_R8, 1e10, 0, DISP_E_OVERFLOW}, {VT_BSTR, 12, 0, DISP_E_TYPEMISMATCH}};
  auto theirs = MakeRecording();
  for (const auto& a : answers) {
    g_recording.answer = [&](VARIANT& v) {
      V_VT(&v) = VT_R8;
      V_R8(&v) = a.number;
      ::VariantChangeType(&v, &v, 0, a.type);
    };
    std::pair<int32_t, HRESULT> read{0, S_OK};
    try {
      read.first = theirs->GetInt(koe::dispid::kSpeed);
    } catch (const fw::EOleSysError& e) {
      read.second = e.Code();
    }
    EXPECT_EQ(read, std::make_pair(a.value, a.refused)) << a.type << " " << a.number;
  }
}

TEST_F(HostTest, ControlDataIsLoadedBeforeInPlaceActivation) {
  unsigned char blob[69] = {'P', 't', 'S', 'v', 1, 0, 1, 0, 30, 0};
  const int32_t speed = 123, pitch = -7, volume = 1000;
  memcpy(blob + 26, &speed, 4);
  memcpy(blob + 30, &pitch, 4);
  memcpy(blob + 34, &volume, 4);
  TPtSvr ptsvr(parent_, kBounds, blob, sizeof blob);
  ptsvr.HandleNeeded();
  EXPECT_EQ((std::vector<std::string>{"create", "load", "activate"}), transcript_.Lines());
  EXPECT_EQ(123, ptsvr.GetSpeed());
  EXPECT_EQ(-7, ptsvr.GetPitch());
  EXPECT_EQ(1000, ptsvr.GetVolume());
}

TEST_F(HostTest, FailingCallRaisesTheControlsDescriptionTrimmed) {
  ::SetEnvironmentVariableA("KOE_PTSVR_FAIL_DISPIDS", "16,5");
  ::SetEnvironmentVariableW(L"KOE_PTSVR_FAIL_TEXT", L"音声エンジンが応答しません。 .. ");
  auto ptsvr = Make();
  try {
    ptsvr->Speak(L"あ");
    FAIL() << "no error";
  } catch (const fw::EOleException& e) {
    EXPECT_EQ("音声エンジンが応答しません。", e.Message());
  }
  EXPECT_THROW(ptsvr->SetPitch(1), fw::EOleException);
  EXPECT_NO_THROW(ptsvr->SetSpeed(1)) << "only the listed calls fail";
}

TEST_F(HostTest, CreationFailureRaisesTheSystemText) {
  const CLSID unregistered{0x0badc0de, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
  try {
    fw::OleControlHost host(unregistered, IID_IDispatch, IID_IDispatch);
    FAIL() << "created";
  } catch (const fw::EOleSysError& e) {
    EXPECT_EQ(REGDB_E_CLASSNOTREG, e.Code());
    EXPECT_EQ(fw::SystemErrorText(REGDB_E_CLASSNOTREG), e.Message());
  }
  ::SetEnvironmentVariableA("KOE_PTSVR_CREATE_HRESULT", "80004005");
  try {
    Make();
    FAIL() << "created";
  } catch (const fw::EOleSysError& e) {
    EXPECT_EQ(E_FAIL, e.Code());
    EXPECT_EQ(fw::SystemErrorText(E_FAIL), e.Message());
  }
}

TEST_F(HostTest, ControlWithoutInPlaceObjectCannotBeActivated) {
  ::SetEnvironmentVariableA("KOE_PTSVR_NO_INPLACE", "1");
  auto ptsvr = Make();
  for (int attempt = 0; attempt < 2; ++attempt) {  // also the first call tries and fails again
    try {
      if (attempt == 0) ptsvr->HandleNeeded();
      else ptsvr->SetSpeed(1);
      FAIL() << "activated";
    } catch (const fw::EOleError& e) {
      EXPECT_STREQ("OLE コントロールのアクティベートに失敗しました", e.what());
    }
  }
}

TEST_F(HostTest, HandlerErrorGoesToTheReporterAndTheControlGetsOk) {
  auto ptsvr = Make();
  ptsvr->SetOnStopSpeak([] { throw fw::EInvalidOperation("失敗しました"); });
  ptsvr->Speak(L"あ");
  EXPECT_TRUE(koe_test::WaitUntil([&] { return !reported_.boxes.empty(); }));
  ASSERT_EQ(1u, reported_.boxes.size());
  EXPECT_EQ("失敗しました.", reported_.boxes[0].text);
  // The sink's own answer, as the control sees it: S_OK for a failing handler and an unbound id.
  auto host = MakeRecording();
  host->OnEvent(2, [](DISPPARAMS*) { throw 42; });
  host->Activate();
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(S_OK, g_recording.sink->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
  EXPECT_EQ(S_OK, g_recording.sink->Invoke(99, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
  ASSERT_EQ(2u, reported_.boxes.size());
  EXPECT_EQ("不明なエラーが発生しました.", reported_.boxes[1].text);
}

TEST_F(HostTest, TeardownClosesWithoutSavingAndReleases) {
  auto can_unload = [] { return koe_test::CallControlEntry("PtSvr.ocx", "DllCanUnloadNow"); };
  auto ptsvr = Make();
  ptsvr->HandleNeeded();
  ptsvr->SetSpeed(150);
  EXPECT_EQ(S_FALSE, can_unload());
  ptsvr.reset();
  EXPECT_EQ(S_OK, can_unload());
  EXPECT_TRUE(transcript_.Has("close"));
  for (const auto& line : transcript_.Lines()) EXPECT_EQ(std::string::npos, line.find("save")) << line;
}

}  // namespace
