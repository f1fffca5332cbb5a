#include "text.h"

#include <windows.h>

#include "protocol.h"

namespace fw {

std::wstring FromShiftJis(std::string_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size = ::MultiByteToWideChar(koe::kShiftJisCodePage, 0, text.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(koe::kShiftJisCodePage, 0, text.data(), length, wide.data(), size);
  return wide;
}

std::string ToShiftJis(std::wstring_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size =
      ::WideCharToMultiByte(koe::kShiftJisCodePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(koe::kShiftJisCodePage, 0, text.data(), length, bytes.data(), size, nullptr, nullptr);
  return bytes;
}

}  // namespace fw
