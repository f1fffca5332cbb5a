// The control's own windows: the voice settings dialog.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "engine.h"

namespace ptsvr {

// Speaks a sample with these settings and Voices()[index] (the dialog's 試聴).
using VoicePreview = std::function<void(const VoiceSettings&, std::size_t)>;

// Shows the modal voice settings dialog (音声, 速度, 高さ, 音量, each value beside its track bar in
// the user's terms, and 試聴) owned by `owner`. 音声 lists `voices` with `chosen` selected;
// without voices it shows `no_voice` and cannot be changed, and 試聴 is off. 試聴 calls `preview`
// with the values and the voice as the dialog stands. On OK stores the chosen values in `voice`
// and `chosen` and returns true; on キャンセル leaves both alone and returns false.
bool ShowVoiceSettingsDialog(HWND owner, VoiceSettings& voice,
                             const std::vector<VoiceOption>& voices, std::size_t& chosen,
                             const std::wstring& no_voice, const VoicePreview& preview);

}  // namespace ptsvr
