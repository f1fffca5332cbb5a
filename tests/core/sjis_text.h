// Japanese test texts as Shift-JIS bytes: "亜,あ"_sj. g++ already turns literals into Shift-JIS
// (-fexec-charset=CP932); clang keeps them in UTF-8, and then they are converted here.
#pragma once

#include <iconv.h>

#include <cstddef>
#include <stdexcept>
#include <string>

namespace koe::testing_text {

inline constexpr bool kLiteralsAreShiftJis = sizeof("亜") == 3;

inline std::string ToShiftJis(const char* text, std::size_t size) {
  if constexpr (kLiteralsAreShiftJis) {
    return std::string(text, size);
  } else {
    iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no CP932 converter");
    std::string out(size * 2 + 4, '\0');
    char* in = const_cast<char*>(text);
    std::size_t in_left = size;
    char* dst = out.data();
    std::size_t out_left = out.size();
    const std::size_t r = iconv(cd, &in, &in_left, &dst, &out_left);
    iconv_close(cd);
    if (r == static_cast<std::size_t>(-1)) throw std::runtime_error("text not convertible");
    out.resize(out.size() - out_left);
    return out;
  }
}

}  // namespace koe::testing_text

inline std::string operator""_sj(const char* text, std::size_t size) {
  return koe::testing_text::ToShiftJis(text, size);
}
