// The control's own windows: the voice settings dialog.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "engine.h"

namespace ptsvr {

// Shows the modal voice settings dialog (音声, 速度, ピッチ, 音量) owned by `owner`. 音声 lists
// `voices` with `chosen` selected; without voices it shows `no_voice` and cannot be changed. On OK
// stores the chosen values in `voice` and `chosen` and returns true; on キャンセル leaves both alone
// and returns false.
bool ShowVoiceSettingsDialog(HWND owner, VoiceSettings& voice,
                             const std::vector<VoiceOption>& voices, std::size_t& chosen,
                             const std::wstring& no_voice);

}  // namespace ptsvr
