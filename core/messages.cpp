#include "messages.h"

#include <cstdio>

namespace koe {

std::string ErrorBoxText(std::string_view message) {
  std::string text(message);
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  return text;
}

std::string TrimExceptionDescription(std::string_view description) {
  // A trail byte is never at or below 0x20 nor '.', so trimming bytes cannot split a character.
  while (!description.empty()) {
    const unsigned char last = static_cast<unsigned char>(description.back());
    if (last > 0x20 && last != '.') break;
    description.remove_suffix(1);
  }
  return std::string(description);
}

std::string UnknownOleErrorText(std::uint32_t status) {
  char text[64];
  std::snprintf(text, sizeof text, "OLE エラー %.8x", static_cast<unsigned>(status));
  return text;
}

std::string StartupErrorText(std::string_view kind, std::string_view module, std::uint32_t offset,
                             std::string_view message) {
  char address[16];
  std::snprintf(address, sizeof address, "%.8X", static_cast<unsigned>(offset));
  std::string text(kind);
  text += "がモジュール ";
  text += module;
  text += " の ";
  text += address;
  text += " で発生しました。\r\n";
  text += message;
  if (!message.empty() && message.back() != '.') text += '.';
  return text;
}

}  // namespace koe
