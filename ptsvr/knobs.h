// The control's user-facing environment knobs (read once per object, when it is created) and its
// transcript. The knobs and the transcript's line format are documented at the top of control.h;
// the test build's fault knobs are in faults.h.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "voice_units.h"

namespace ptsvr {

enum class EngineChoice { kAuto, kSim, kSapi, kBundled };

struct Knobs {
  std::wstring transcript_path;
  EngineChoice engine = EngineChoice::kAuto;
  double sim_speed = 1.0;

  static Knobs FromEnvironment();
};

// The value of an environment variable; nothing when it is not set.
std::optional<std::wstring> EnvironmentValue(const wchar_t* name);

// Appends UTF-8 lines to the transcript file, one write per line, shared for reading and writing.
class Transcript {
 public:
  explicit Transcript(const std::wstring& path);
  ~Transcript();
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;
  void Line(const std::wstring& text);

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

// std::wstring <-> std::u16string views of the same UTF-16 text.
inline std::u16string_view U16(const std::wstring& s) {
  return {reinterpret_cast<const char16_t*>(s.data()), s.size()};
}
inline std::wstring W(std::u16string_view s) {
  return {reinterpret_cast<const wchar_t*>(s.data()), s.size()};
}

}  // namespace ptsvr
