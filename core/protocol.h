// Identifiers shared with the client and with the speech control.
#pragma once

#include <cstdint>

namespace koe {

// Client messages (above WM_USER = 0x400).
inline constexpr unsigned kWmKoeChar = 0x414;  // WM_USER + 20: client -> Koemado, one character
inline constexpr unsigned kWmKoeDone = 0x415;  // WM_USER + 21: Koemado -> client, speech has ended

// The code page of the client's characters (and of the program's own texts), whatever the
// system's: Shift-JIS.
inline constexpr unsigned kShiftJisCodePage = 932;

// Phases of WM_KOE_CHAR (wParam). Any other value is handled as kPhaseMiddle.
inline constexpr unsigned kPhaseWhole = 0;   // the utterance is this one character
inline constexpr unsigned kPhaseFirst = 1;
inline constexpr unsigned kPhaseMiddle = 2;
inline constexpr unsigned kPhaseLast = 3;

// The client's frame-window classes that receive WM_KOE_DONE, in posting order.
inline constexpr const char* kClientWindowClasses[3] = {
    "AfxFrameOrView", "AfxFrameOrView42s", "AfxFrameOrView42sd"};

// Koemado's own window identity.
inline constexpr char kMainWindowClass[] = "TMainForm";
inline constexpr char kMainWindowCaption[] = "\x96\xB3\x91\xE8 - Koemado";  // "無題 - Koemado"
inline constexpr char kApplicationClass[] = "TApplication";
inline constexpr char kApplicationTitle[] = "Koemado V2.0";

// A GUID spelled out without <windows.h>; AsGuid<GUID> makes the Windows structure of it.
struct GuidParts {
  std::uint32_t data1;
  std::uint16_t data2, data3;
  std::uint8_t data4[8];
};

template <class Guid>
constexpr Guid AsGuid(const GuidParts& p) {
  return Guid{p.data1, p.data2, p.data3,
              {p.data4[0], p.data4[1], p.data4[2], p.data4[3], p.data4[4], p.data4[5], p.data4[6],
               p.data4[7]}};
}

// The speech control.
inline constexpr GuidParts kClsidPtSvr = {
    0x44CF3B0C, 0x9F1F, 0x11D2, {0xB9, 0xD7, 0x08, 0x00, 0x5A, 0x4B, 0x5E, 0x6E}};
inline constexpr GuidParts kDiidDPtSvr = {
    0x1F8E7F87, 0xA47F, 0x11D2, {0xB9, 0xD7, 0x08, 0x00, 0x5A, 0x4B, 0x5E, 0x6E}};
inline constexpr GuidParts kDiidDPtSvrEvents = {
    0x1F8E7F88, 0xA47F, 0x11D2, {0xB9, 0xD7, 0x08, 0x00, 0x5A, 0x4B, 0x5E, 0x6E}};

// Dispatch identifiers of the control's default interface.
namespace dispid {
inline constexpr long kGender = 1;
inline constexpr long kAge = 2;
inline constexpr long kModeGuid = 3;
inline constexpr long kSpeed = 4;
inline constexpr long kPitch = 5;
inline constexpr long kVolume = 6;
inline constexpr long kUseButton = 7;
inline constexpr long kUseWebSpeak = 8;
inline constexpr long kEngineVersion = 10;
inline constexpr long kVoiceSettings = 11;
inline constexpr long kSpeak = 16;
inline constexpr long kAboutBox = -552;  // DISPID_ABOUTBOX
}  // namespace dispid

// Dispatch identifiers of the control's event interface (1 to 7: OnStartSpeak, OnStopSpeak,
// OnBookmark, OnWordPosition, OnPause, OnResume, OnReset; the control raises the first two and
// the program handles OnStopSpeak alone).
namespace eventid {
inline constexpr long kOnStartSpeak = 1;
inline constexpr long kOnStopSpeak = 2;
}  // namespace eventid

}  // namespace koe
