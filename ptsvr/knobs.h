// Environment knobs of the control (read once per object, when it is created) and its transcript.
// The list of knobs and the transcript's line format are documented at the top of control.cpp.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "voice_units.h"

namespace ptsvr {

enum class EngineChoice { kAuto, kSim, kSapi };

struct Knobs {
  std::wstring transcript_path;
  EngineChoice engine = EngineChoice::kAuto;
  double sim_speed = 1.0;
  std::vector<long> fail_dispids;
  std::wstring fail_text = L"音声エンジンが応答しません。";
  long fail_count = -1;  // -1: every listed call fails
  long fail_after = 0;   // the first n listed calls succeed before any fails
  long extra_stops = 0;  // OnStopSpeak events fired after each real one (a misbehaving engine)
  std::optional<DialogAnswer> dialog;  // set: no dialog or box is shown
  bool no_inplace = false;

  static Knobs FromEnvironment();
};

// The HRESULT that IClassFactory::CreateInstance returns, from KOE_PTSVR_CREATE_HRESULT (S_OK if unset).
HRESULT CreateHresultKnob();

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
