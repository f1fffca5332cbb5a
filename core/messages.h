// Error texts that are pure formatting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace koe {

// The standard error box shows the message with "." appended when it is not empty and its
// last byte sorts above ".".
std::string ErrorBoxText(std::string_view message);

// A control's exception description with trailing bytes up to 0x20 and full stops removed.
std::string TrimExceptionDescription(std::string_view description);

// "OLE エラー %.8x": the text for a COM status the system has no message for.
std::string UnknownOleErrorText(std::uint32_t status);

// The last-resort box of a failed start-up:
// "<kind>がモジュール <module> の <offset> で発生しました。\r\n<message><.>"
std::string StartupErrorText(std::string_view kind, std::string_view module, std::uint32_t offset,
                             std::string_view message);

}  // namespace koe
