// The control host and TPtSvr against the real speech control (PtSvr.ocx, registered in setup).
#include <gtest/gtest.h>

#include <windows.h>
#include <olectl.h>

#include <cstring>
#include <fstream>
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

using Microsoft::WRL::ComPtr;

namespace {

const RECT kBounds{0, 2, 160, 32};
HMODULE g_ocx = nullptr;

// The transcript is UTF-8 while narrow literals here are Shift-JIS.
std::string Utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// Every knob the control reads; each test sets the ones it needs before creating the object.
const char* const kKnobs[] = {"KOE_PTSVR_TRANSCRIPT", "KOE_PTSVR_FAIL_DISPIDS", "KOE_PTSVR_FAIL_TEXT",
                              "KOE_PTSVR_CREATE_HRESULT", "KOE_PTSVR_NO_INPLACE", "KOE_PTSVR_DIALOG"};

class HostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(S_OK, ::CoInitialize(nullptr));
    g_ocx = ::LoadLibraryA("PtSvr.ocx");
    ASSERT_NE(nullptr, g_ocx) << "PtSvr.ocx beside the test";
    auto reg = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(::GetProcAddress(g_ocx, "DllRegisterServer")));
    ASSERT_NE(nullptr, reg);
    ASSERT_EQ(S_OK, reg());
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
    char dir[MAX_PATH], file[MAX_PATH];
    ::GetTempPathA(MAX_PATH, dir);
    ::GetTempFileNameA(dir, "koe", 0, file);
    transcript_ = file;
    ::SetEnvironmentVariableA("KOE_PTSVR_TRANSCRIPT", file);
    parent_ = ::CreateWindowExA(0, "OleHostTestParent", "host", WS_OVERLAPPEDWINDOW, 0, 0, 300,
                                120, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, parent_);
    fw::SetOleErrorReporter([this](const std::exception& e) { reported_.push_back(e.what()); });
  }

  void TearDown() override {
    fw::SetOleErrorReporter(nullptr);
    ::DestroyWindow(parent_);
    ::DeleteFileA(transcript_.c_str());
  }

  std::unique_ptr<TPtSvr> Make() { return std::make_unique<TPtSvr>(parent_, kBounds, nullptr, 0); }

  // Runs the message loop until done() holds or the deadline passes.
  static bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms = 5000) {
    const DWORD start = ::GetTickCount();
    while (!done()) {
      if (::GetTickCount() - start > timeout_ms) return false;
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
      MSG msg;
      while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
      }
    }
    return true;
  }

  std::vector<std::string> TranscriptLines() const {
    std::ifstream in(transcript_, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  bool TranscriptHas(const std::string& text) const {
    for (const auto& line : TranscriptLines())
      if (line == text) return true;
    return false;
  }

  HWND parent_ = nullptr;
  std::string transcript_;
  std::vector<std::string> reported_;
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

TEST_F(HostTest, SiteTellsTheControlItRunsInUserMode) {
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
  } cases[] = {{DISPID_AMBIENT_USERMODE, S_OK}, {DISPID_AMBIENT_LOCALEID, DISP_E_MEMBERNOTFOUND},
               {DISPID_AMBIENT_DISPLAYNAME, DISP_E_MEMBERNOTFOUND}};
  for (const Case& c : cases) {
    fw::Variant v;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(c.hr, ambient->Invoke(c.id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, v.ptr(), nullptr, nullptr))
        << c.id;
    if (c.hr == S_OK) {
      EXPECT_EQ(VT_BOOL, V_VT(v.ptr()));
      EXPECT_EQ(VARIANT_TRUE, V_BOOL(v.ptr()));
    }
  }
}

TEST_F(HostTest, StopSpeakComesOncePerSpeak) {
  auto ptsvr = Make();
  int stops = 0;
  ptsvr->OnStopSpeak = [&] { ++stops; };
  for (int i = 1; i <= 3; ++i) {
    ptsvr->Speak(L"こんにちは");
    EXPECT_TRUE(PumpUntil([&] { return stops >= i; })) << "speech " << i;
  }
  PumpUntil([] { return false; }, 300);
  EXPECT_EQ(3, stops);
}

TEST_F(HostTest, SpeakHandsTheWholeTextIncludingNul) {
  auto ptsvr = Make();
  ptsvr->Speak(std::wstring(L"あ\0い", 3));
  EXPECT_TRUE(TranscriptHas(Utf8(u8"speak あ\\0い")));
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

TEST_F(HostTest, ControlDataIsLoadedBeforeInPlaceActivation) {
  unsigned char blob[69] = {'P', 't', 'S', 'v', 1, 0, 1, 0, 30, 0};
  const int32_t speed = 123, pitch = -7, volume = 1000;
  memcpy(blob + 26, &speed, 4);
  memcpy(blob + 30, &pitch, 4);
  memcpy(blob + 34, &volume, 4);
  TPtSvr ptsvr(parent_, kBounds, blob, sizeof blob);
  ptsvr.HandleNeeded();
  EXPECT_EQ((std::vector<std::string>{"create", "load", "activate"}), TranscriptLines());
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
    } catch (const fw::EKoemadoError& e) {
      EXPECT_STREQ("OLE コントロールのアクティベートに失敗しました", e.what());
    }
  }
}

TEST_F(HostTest, HandlerErrorGoesToTheReporterAndTheControlGetsOk) {
  auto ptsvr = Make();
  ptsvr->OnStopSpeak = [] { throw std::runtime_error("handler failed"); };
  ptsvr->Speak(L"あ");
  EXPECT_TRUE(PumpUntil([&] { return !reported_.empty(); }));
  ASSERT_EQ(1u, reported_.size());
  EXPECT_EQ("handler failed", reported_[0]);
  // The sink's own answer, as the control sees it.
  const IID events{0x1F8E7F88, 0xA47F, 0x11D2, {0xB9, 0xD7, 0x08, 0x00, 0x5A, 0x4B, 0x5E, 0x6E}};
  ComPtr<IDispatch> sink;
  ASSERT_EQ(S_OK, ptsvr->Host().ClientSite()->QueryInterface(events, reinterpret_cast<void**>(sink.GetAddressOf())));
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(S_OK, sink->Invoke(koe::eventid::kOnStopSpeak, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
  EXPECT_EQ(S_OK, sink->Invoke(99, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
  EXPECT_EQ(2u, reported_.size());
}

TEST_F(HostTest, TeardownClosesWithoutSavingAndReleases) {
  auto can_unload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void*>(::GetProcAddress(g_ocx, "DllCanUnloadNow")));
  ASSERT_NE(nullptr, can_unload);
  auto ptsvr = Make();
  ptsvr->HandleNeeded();
  ptsvr->SetSpeed(150);
  EXPECT_EQ(S_FALSE, can_unload());
  ptsvr.reset();
  EXPECT_EQ(S_OK, can_unload());
  EXPECT_TRUE(TranscriptHas("close"));
  for (const auto& line : TranscriptLines()) EXPECT_EQ(std::string::npos, line.find("save")) << line;
}

}  // namespace
