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

std::string ReadingsNotSavedText(std::uint32_t code_page) {
  std::string text =
      "\x93\xC7\x82\xDD\x95\xFB\x82\xCD\x95\xDB\x91\xB6\x82\xB3\x82\xEA\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD: "
      "\x82\xB1\x82\xCC Windows \x82\xCC\x95\xB6\x8E\x9A\x83R\x81[\x83h (\x83R\x81[\x83h \x83y\x81[\x83W ";
  text += std::to_string(code_page);
  text +=
      ") \x82\xAA\x83V\x83t\x83g JIS (932) \x82\xC5\x82\xCD\x82\xC8\x82\xA2\x82\xBD\x82\xDF\x81""A"
      "\x90\xDD\x92\xE8\x83t\x83@\x83""C\x83\x8B\x82\xC9\x8F\x91\x82\xAB\x8D\x9E\x82\xDE\x82\xC6"
      "\x93\xFA\x96{\x8C\xEA\x82\xAA\x89\xF3\x82\xEA\x82\xDC\x82\xB7\x81""B"
      "\x95\xD2\x8FW\x82\xB5\x82\xBD\x93\xC7\x82\xDD\x95\xFB\x82\xCD Koemado \x82\xF0\x8FI\x97\xB9\x82\xB7"
      "\x82\xE9\x82\xDC\x82\xC5\x8Eg\x82\xED\x82\xEA\x82\xDC\x82\xB7\x81""B"
      "\x95\xDB\x91\xB6\x82\xB7\x82\xE9\x82\xC9\x82\xCD\x81""A\x83R\x83\x93\x83g\x83\x8D\x81[\x83\x8B "
      "\x83p\x83l\x83\x8B\x82\xCC [\x92n\x88\xE6] \x82\xCC [\x8A\xC7\x97\x9D] \x82\xC9\x82\xA0\x82\xE9 "
      "[\x83V\x83X\x83""e\x83\x80 \x83\x8D\x83P\x81[\x83\x8B\x82\xCC\x95\xCF\x8DX] \x82\xC5"
      "\x81u\x93\xFA\x96{\x8C\xEA (\x93\xFA\x96{)\x81v\x82\xF0\x91I\x82\xD1\x81""A"
      "\x81u\x83x\x81[\x83^: \x83\x8F\x81[\x83\x8B\x83h\x83\x8F\x83""C\x83h\x8C\xBE\x8C\xEA\x83T\x83|"
      "\x81[\x83g\x82\xC5 Unicode UTF-8 \x82\xF0\x8Eg\x97p\x81v\x82\xCC\x83`\x83""F\x83""b\x83N\x82\xF0"
      "\x8AO\x82\xB5\x82\xC4\x81""AWindows \x82\xF0\x8D\xC4\x8BN\x93\xAE\x82\xB5\x82\xC4\x82\xAD\x82\xBE"
      "\x82\xB3\x82\xA2";
  return text;
}

std::string CannotOpenHelpText(std::string_view path) {
  std::string text = "\x83w\x83\x8B\x83v \x83t\x83@\x83\x43\x83\x8B ";  // "ヘルプ ファイル "
  text += path;
  text += " \x82\xF0\x8AJ\x82\xAF\x82\xDC\x82\xB9\x82\xF1";  // " を開けません"
  return text;
}

}  // namespace koe
