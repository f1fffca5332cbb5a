#include "errors.h"

#include <oleauto.h>

#include "com_util.h"
#include "messages.h"
#include "text.h"

namespace fw {
namespace {

std::string FromBstr(BSTR text) { return ToShiftJis(std::wstring_view(text, ::SysStringLen(text))); }

// Takes over the strings of an EXCEPINFO so they are freed however we leave.
struct ExcepStrings {
  explicit ExcepStrings(EXCEPINFO& e) {
    *source.put() = e.bstrSource;
    *description.put() = e.bstrDescription;
    *help_file.put() = e.bstrHelpFile;
    e.bstrSource = e.bstrDescription = e.bstrHelpFile = nullptr;
  }
  Bstr source, description, help_file;
};

}  // namespace

std::string SystemErrorText(HRESULT code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  std::string text;
  if (length != 0 && buffer != nullptr) text = ToShiftJis(std::wstring_view(buffer, length));
  if (buffer != nullptr) ::LocalFree(buffer);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 0x20 || text.back() == '.'))
    text.pop_back();
  if (text.empty()) return koe::UnknownOleErrorText(static_cast<std::uint32_t>(code));
  return text;
}

void CheckInvoke(HRESULT hr, EXCEPINFO& excep) {
  if (hr == DISP_E_EXCEPTION && excep.pfnDeferredFillIn != nullptr) {
    auto fill_in = excep.pfnDeferredFillIn;
    excep.pfnDeferredFillIn = nullptr;
    fill_in(&excep);
  }
  ExcepStrings strings(excep);
  if (SUCCEEDED(hr)) return;
  if (hr != DISP_E_EXCEPTION) throw EOleSysError(SystemErrorText(hr), hr);

  const HRESULT code = excep.scode != 0 ? excep.scode : static_cast<HRESULT>(excep.wCode);
  std::string message = koe::TrimExceptionDescription(FromBstr(strings.description.get()));
  if (message.empty()) message = SystemErrorText(code);
  throw EOleException(std::move(message), code, FromBstr(strings.source.get()));
}

}  // namespace fw
