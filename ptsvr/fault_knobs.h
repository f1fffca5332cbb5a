// The values of the test build's fault knobs (faults.h), parsed. Linked only into the test build
// of the control and the native rules test: the installed control reads no fault knob. No
// <windows.h> here, so this is tested natively.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace ptsvr {

// "16,5,-552" -> {16, 5, -552}; entries that are not integers are skipped.
std::vector<long> ParseDispidList(std::string_view text);

// KOE_PTSVR_DIALOG: "ok:<speed>,<pitch>,<volume>" or "cancel".
struct DialogAnswer {
  bool ok = false;
  std::int32_t speed = 0, pitch = 0, volume = 0;
};
std::optional<DialogAnswer> ParseDialogAnswer(std::string_view text);

}  // namespace ptsvr
