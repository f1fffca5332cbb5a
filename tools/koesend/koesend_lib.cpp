#include "koesend_lib.h"

#include "protocol.h"
#include "sjis.h"

namespace koesend {

std::vector<KoeChar> ToMessages(const std::string& sjis) {
  std::vector<std::uint32_t> codes;
  for (std::size_t i = 0; i < sjis.size(); ++i) {
    const auto b = static_cast<unsigned char>(sjis[i]);
    if (koe::IsLeadByte(b) && i + 1 < sjis.size()) {
      codes.push_back((std::uint32_t{b} << 8) | static_cast<unsigned char>(sjis[++i]));
    } else {
      codes.push_back(b);
    }
  }
  std::vector<KoeChar> messages;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    unsigned phase = koe::kPhaseMiddle;
    if (codes.size() == 1) phase = koe::kPhaseWhole;
    else if (i == 0) phase = koe::kPhaseFirst;
    else if (i + 1 == codes.size()) phase = koe::kPhaseLast;
    messages.push_back({phase, codes[i]});
  }
  return messages;
}

std::string ToShiftJis(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(koe::kShiftJisCodePage, 0, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(koe::kShiftJisCodePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::wstring FromShiftJis(const std::string& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(koe::kShiftJisCodePage, 0, text.data(), size, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(koe::kShiftJisCodePage, 0, text.data(), size, out.data(), n);
  return out;
}

std::wstring FromPipe(const std::string& line) {
  if (line.empty()) return {};
  const int size = static_cast<int>(line.size());
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, line.data(), size, nullptr, 0);
  if (n == 0) return FromShiftJis(line);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, line.data(), size, out.data(), n);
  return out;
}

// By its caption in Unicode, as a Koemado whose code page is Shift-JIS names its window (on a
// Japanese system, or one that gives it the Japanese code page its manifest asks for); else by
// the same bytes, which a Koemado that runs in this system's code page has converted as we do.
HWND FindKoemado() {
  const std::wstring caption = FromShiftJis(koe::kMainWindowCaption);
  if (HWND found = FindWindowW(L"TMainForm", caption.c_str())) return found;
  return FindWindowA(koe::kMainWindowClass, koe::kMainWindowCaption);
}

}  // namespace koesend
