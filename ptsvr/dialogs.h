// The control's own windows: the voice settings dialog.
#pragma once

#include <windows.h>

#include "engine.h"

namespace ptsvr {

// Shows the modal voice settings dialog (速度, ピッチ, 音量) owned by `owner`. On OK stores the
// chosen values in `voice` and returns true; on キャンセル leaves `voice` alone and returns false.
bool ShowVoiceSettingsDialog(HWND owner, VoiceSettings& voice);

}  // namespace ptsvr
