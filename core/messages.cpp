#include "messages.h"

#include <cstdio>

// The Japanese texts are spelled as their Shift-JIS bytes so that they come out the same
// whatever execution character set the compiler uses.

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
  std::snprintf(text, sizeof text, "OLE \x83\x47\x83\x89\x81\x5B %.8x",  // "OLE エラー %.8x"
                static_cast<unsigned>(status));
  return text;
}

std::string StartupErrorText(std::string_view kind, std::string_view module, std::uint32_t offset,
                             std::string_view message) {
  char address[16];
  std::snprintf(address, sizeof address, "%.8X", static_cast<unsigned>(offset));
  std::string text(kind);
  text += "\x82\xAA\x83\x82\x83\x57\x83\x85\x81\x5B\x83\x8B ";  // "がモジュール "
  text += module;
  text += " \x82\xCC ";  // " の "
  text += address;
  text += " \x82\xC5\x94\xAD\x90\xB6\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42\r\n";  // " で発生しました。"
  text += message;
  if (!message.empty() && message.back() != '.') text += '.';
  return text;
}

std::string CannotWriteText(std::string_view file) {
  std::string text(file);
  text += " \x82\xC9\x8F\x91\x82\xAB\x8D\x9E\x82\xDF\x82\xDC\x82\xB9\x82\xF1";  // " に書き込めません"
  return text;
}

std::string CannotOpenHelpText(std::string_view path) {
  std::string text = "\x83w\x83\x8B\x83v \x83t\x83@\x83\x43\x83\x8B ";  // "ヘルプ ファイル "
  text += path;
  text += " \x82\xF0\x8AJ\x82\xAF\x82\xDC\x82\xB9\x82\xF1";  // " を開けません"
  return text;
}

}  // namespace koe
