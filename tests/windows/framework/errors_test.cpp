// What the user reads when a call into the speech control fails, and where an error was raised.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>

#include "errors.h"

namespace {

BSTR Alloc(const wchar_t* text) { return text ? ::SysAllocString(text) : nullptr; }

const wchar_t* g_deferred_description = nullptr;
HRESULT __stdcall FillIn(EXCEPINFO* excep) {
  excep->bstrDescription = ::SysAllocString(g_deferred_description);
  return S_OK;
}

struct Raised {
  bool raised = false;
  bool is_ole_exception = false;
  std::string message;
  HRESULT code = S_OK;
};

Raised Invoke(HRESULT hr, EXCEPINFO& excep) {
  Raised r;
  try {
    fw::CheckInvoke(hr, excep);
  } catch (const fw::EOleException& e) {
    r = {true, true, e.Message(), e.Code()};
  } catch (const fw::EOleSysError& e) {
    r = {true, false, e.Message(), e.Code()};
  }
  return r;
}

bool IsPlainSystemText(const std::string& text) {
  return !text.empty() && text.rfind("OLE エラー", 0) != 0 &&
         static_cast<unsigned char>(text.back()) > 0x20 && text.back() != '.';
}

TEST(ControlCallErrors, MessageFollowsTheControlsDescriptionOrTheSystemsText) {
  struct Case {
    const char* name;
    HRESULT hr;
    const wchar_t* description;
    SCODE scode;
    WORD wcode;
    bool ole_exception;
    HRESULT code;
    const char* message;  // nullptr: the system's own text for `code`
  };
  const Case cases[] = {
      {"description trimmed of blanks and full stops", DISP_E_EXCEPTION, L"エラーです。 ", E_FAIL, 0,
       true, E_FAIL, "エラーです。"},
      {"trailing ASCII full stops and line breaks go", DISP_E_EXCEPTION, L"Bad value..\r\n",
       E_INVALIDARG, 0, true, E_INVALIDARG, "Bad value"},
      {"empty description: the system's text for scode", DISP_E_EXCEPTION, L"", E_OUTOFMEMORY, 0,
       true, E_OUTOFMEMORY, nullptr},
      {"no description: the system's text for scode", DISP_E_EXCEPTION, nullptr, E_OUTOFMEMORY, 0,
       true, E_OUTOFMEMORY, nullptr},
      {"only blanks: the text for an unknown scode", DISP_E_EXCEPTION, L" . ",
       static_cast<SCODE>(0x8004ABCD), 0, true, static_cast<HRESULT>(0x8004ABCD),
       "OLE エラー 8004abcd"},
      {"wCode when scode is zero", DISP_E_EXCEPTION, L"", 0, 5, true, 5, nullptr},
      {"any other status: the system's text", E_INVALIDARG, nullptr, 0, 0, false, E_INVALIDARG,
       nullptr},
      {"status unknown to the system", static_cast<HRESULT>(0x8004ABCD), nullptr, 0, 0, false,
       static_cast<HRESULT>(0x8004ABCD), "OLE エラー 8004abcd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXCEPINFO excep = {};
    excep.bstrDescription = Alloc(c.description);
    excep.bstrSource = Alloc(L"PtSvr");
    excep.scode = c.scode;
    excep.wCode = c.wcode;
    const Raised r = Invoke(c.hr, excep);
    ASSERT_TRUE(r.raised);
    EXPECT_EQ(r.is_ole_exception, c.ole_exception);
    EXPECT_EQ(r.code, c.code);
    if (c.message) {
      EXPECT_EQ(r.message, c.message);
    } else {
      EXPECT_TRUE(IsPlainSystemText(r.message)) << r.message;
      EXPECT_EQ(r.message, fw::SystemErrorText(c.code));
    }
    // The strings were freed and the record no longer points at them.
    EXPECT_EQ(excep.bstrDescription, nullptr);
    EXPECT_EQ(excep.bstrSource, nullptr);
  }
}

TEST(ControlCallErrors, DeferredDescriptionIsFilledInFirst) {
  g_deferred_description = L"後から来た説明。";
  EXCEPINFO excep = {};
  excep.scode = E_FAIL;
  excep.pfnDeferredFillIn = &FillIn;
  const Raised r = Invoke(DISP_E_EXCEPTION, excep);
  ASSERT_TRUE(r.raised);
  EXPECT_EQ(r.message, "後から来た説明。");
}

TEST(ControlCallErrors, SucceededCallRaisesNothing) {
  EXCEPINFO excep = {};
  EXPECT_FALSE(Invoke(S_OK, excep).raised);
  EXPECT_FALSE(Invoke(S_FALSE, excep).raised);
}

TEST(SystemErrorText, KnownStatusHasNoTrailingLineBreakOrFullStop) {
  const std::string text = fw::SystemErrorText(E_OUTOFMEMORY);
  EXPECT_TRUE(IsPlainSystemText(text)) << text;
}

// The raising address is inside the function that raised, so the last-resort box can name it.
__attribute__((noinline)) void RaiseOleError() { throw fw::EOleError("x"); }
__attribute__((noinline)) void RaiseOleSysError() { fw::OleCheck(E_FAIL); }

TEST(RaiseAddress, PointsIntoTheRaisingFunction) {
  struct Case {
    const char* name;
    void (*raise)();
  };
  const Case cases[] = {{"EOleError", &RaiseOleError}, {"OleCheck", &RaiseOleSysError}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      c.raise();
      ADD_FAILURE() << "nothing raised";
    } catch (const fw::Exception& e) {
      const auto at = reinterpret_cast<uintptr_t>(e.Address());
      const auto start = reinterpret_cast<uintptr_t>(c.raise);
      EXPECT_GE(at, start);
      EXPECT_LT(at, start + 256);
    }
  }
}

}  // namespace
