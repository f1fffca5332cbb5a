// Fault injection, for the tests only. The control is built twice from the same sources: the
// installed PtSvr.ocx (target ptsvr) gets the stand-ins at the bottom of this file, which inject
// nothing and read no environment; the test build (target ptsvr_testing, compiled with
// KOE_PTSVR_TESTING into build/<tree>/ptsvr/testing/PtSvr.ocx, never installed) reads these knobs
// when an object is created (KOE_PTSVR_CREATE_HRESULT: when the class factory creates one):
//   KOE_PTSVR_FAIL_DISPIDS=<id,id,...>  Invoke of those dispatch ids fails with DISP_E_EXCEPTION
//   KOE_PTSVR_FAIL_TEXT=<text>    the failure's description (default "音声エンジンが応答しません。")
//   KOE_PTSVR_FAIL_COUNT=<n>      only the first n such calls fail, later ones succeed
//   KOE_PTSVR_FAIL_AFTER=<n>      the first n listed calls succeed before the failures begin
//   KOE_PTSVR_EXTRA_STOPS=<n>     every end of speech raises n more OnStopSpeak events at once
//   KOE_PTSVR_CREATE_HRESULT=<hex>  IClassFactory::CreateInstance fails with that status
//   KOE_PTSVR_DIALOG=ok:<speed>,<pitch>,<volume>|cancel
//                                 VoiceSettings answers as if the user pressed OK with those values
//                                 (or キャンセル) without showing the dialog; EngineVersion and
//                                 AboutBox show nothing either
//   KOE_PTSVR_NO_INPLACE=1        the object offers no IOleInPlaceObject (in-place activation fails)
//   KOE_PTSVR_VOICE_DIR=<folder>  the bundled voice's files are looked for there, not beside the control
//   KOE_PTSVR_FAIL_ALLOCATION=<n>  in each utterance of the bundled voice, the allocation of its
//                                 libraries after the first n fails
//   KOE_PTSVR_NOTICE=no-voice|cannot-speak|no-sapi|no-audio|voice-broken
//                                 the simulated engine speaks with that notice, as when the engine
//                                 choice finds no Japanese voice, no voice that speaks, no SAPI 5,
//                                 no audio device for the bundled voice, or its files broken
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine.h"
#include "fault_knobs.h"

namespace ptsvr {

#ifdef KOE_PTSVR_TESTING

class Faults {
 public:
  static Faults FromEnvironment();
  // The status that IClassFactory::CreateInstance returns instead of creating (S_OK: create).
  static HRESULT CreateResult();

  // S_OK, or DISP_E_EXCEPTION with `excep` filled when this call of `id` is to fail.
  HRESULT Call(DISPID id, EXCEPINFO* excep);
  // OnStopSpeak events fired after each real one (a misbehaving engine).
  long ExtraStops() const { return extra_stops_; }
  // Set: the voice dialog answers this without being shown, and no other box is shown.
  std::optional<DialogAnswer> AnsweredDialog() const { return dialog_; }
  bool NoInPlace() const { return no_inplace_; }
  // Set: the simulated engine speaks with this notice instead of any engine being chosen.
  EngineNotice ForcedNotice() const { return notice_; }
  // Set: the bundled voice's folder instead of the one beside the control.
  std::optional<std::wstring> VoiceFolder() const { return voice_folder_; }
  // Run on the bundled voice's worker before each utterance (allocation failures).
  std::function<void()> BeforeEachUtterance() const;

 private:
  std::vector<long> fail_dispids_;
  std::wstring fail_text_ = L"音声エンジンが応答しません。";
  long fail_count_ = -1;  // -1: every listed call fails
  long fail_after_ = 0;   // the first n listed calls succeed before any fails
  long listed_calls_ = 0;
  long failures_ = 0;
  long extra_stops_ = 0;
  std::optional<DialogAnswer> dialog_;
  bool no_inplace_ = false;
  EngineNotice notice_;
  std::optional<std::wstring> voice_folder_;
  long fail_allocation_ = -1;
};

#else  // the installed control: no faults, no knobs read

class Faults {
 public:
  static Faults FromEnvironment() { return {}; }
  static HRESULT CreateResult() { return S_OK; }
  HRESULT Call(DISPID, EXCEPINFO*) { return S_OK; }
  long ExtraStops() const { return 0; }
  std::optional<DialogAnswer> AnsweredDialog() const { return std::nullopt; }
  bool NoInPlace() const { return false; }
  EngineNotice ForcedNotice() const { return {}; }
  std::optional<std::wstring> VoiceFolder() const { return std::nullopt; }
  std::function<void()> BeforeEachUtterance() const { return {}; }
};

#endif

}  // namespace ptsvr
