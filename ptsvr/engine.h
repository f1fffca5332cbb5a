// The speech backends behind the control: SAPI 5 where Windows has a Japanese voice that speaks,
// the bundled voice (Open JTalk with an HTS voice, in the voice/ folder beside the control)
// everywhere else, and a simulated engine (timing only, no sound) when the bundled voice's files
// cannot be loaded.
//
// An engine speaks one utterance at a time; the control keeps the queue. The engine's interface is
// used on the control's thread only: an engine reports through window messages to the control's
// hidden notify window (the bundled voice's worker thread posts them), and HandleMessage tells the
// control when the utterance has ended. An engine never ends an utterance from inside Speak, so the
// control never fires an event from inside a speak call.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "voice_units.h"

struct ISpVoice;
struct ISpObjectToken;

namespace ptsvr {

// Messages and timers on the notify window that belong to the engines.
inline constexpr UINT kMsgSapiEvent = WM_APP + 10;  // SAPI's notification (SetNotifyWindowMessage)
inline constexpr UINT kMsgEngineDone = WM_APP + 11;  // "the current utterance has ended", posted
// "the engine has something to report" (its notice changed, a figure for the transcript): the
// control passes it to HandleMessage and then redraws its window.
inline constexpr UINT kMsgEngineReport = WM_APP + 12;
inline constexpr UINT kMsgBundledDone = WM_APP + 13;  // the bundled voice's end of an utterance
inline constexpr UINT_PTR kSimTimerId = 0x5054;
inline constexpr UINT_PTR kSapiDeadlineTimerId = 0x5055;

inline constexpr std::size_t kNoVoice = static_cast<std::size_t>(-1);

struct VoiceSettings {
  LONG speed = 180, pitch = 80, volume = 26214;  // words per minute, hertz, 0..65535
};

// A voice the user can choose in the voice dialog.
struct VoiceOption {
  std::wstring id;    // SAPI token id
  std::wstring name;  // the voice's description
};

// Where an engine writes what the user should know about it (the control's transcript).
using EngineLog = std::function<void(const std::wstring& line)>;

// A notice's texts as constants.
struct NoticeText {
  const wchar_t* brief;
  const wchar_t* full;
};

// What the user must be told about the engine (why the simulated engine speaks instead of a voice,
// or why the voice makes no sound), in two forms: `brief` fits the control's in-place window whole
// in its font; `full` (its first line a title) is for the engine version box and, by its first
// line, for the transcript and the voice dialog.
struct EngineNotice {
  std::wstring brief;
  std::wstring full;
  EngineNotice() = default;
  EngineNotice(NoticeText text) : brief(text.brief), full(text.full) {}
  EngineNotice(std::wstring b, std::wstring f) : brief(std::move(b)), full(std::move(f)) {}
  explicit operator bool() const { return !full.empty(); }
  // The first line of `full`.
  std::wstring Title() const { return full.substr(0, full.find(L"\r\n")); }
};

class SpeechEngine {
 public:
  virtual ~SpeechEngine() = default;
  virtual std::wstring Name() const = 0;
  virtual std::wstring Version() const = 0;
  // What the user must be told about this engine, e.g. that it has no Japanese voice; none when
  // all is well. Its brief form stands in the in-place window instead of the name.
  virtual EngineNotice Notice() const { return {}; }
  // Whom the voice is owed to, for the engine version box; empty when nothing need be said.
  virtual std::wstring Credit() const { return {}; }
  // Starts one utterance. Always ends later with HandleMessage returning true, also on failure.
  virtual void Speak(const std::wstring& text, const VoiceSettings& voice) = 0;
  // Drops the current utterance without reporting its end (the control is closing).
  virtual void Stop() = 0;
  // A message of the notify window; true when the current utterance has ended with it.
  virtual bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp) = 0;
  // The voices the voice dialog offers, and the one in use (kNoVoice: none).
  virtual std::vector<VoiceOption> Voices() const { return {}; }
  virtual std::size_t CurrentVoice() const { return kNoVoice; }
  // Speaks the following utterances with Voices()[index]; false when the voice refuses it.
  virtual bool SelectVoice(std::size_t) { return false; }
  // Speaks `text` with Voices()[index] and `voice` as a sample (the voice dialog's 試聴), beside
  // the utterances: it ends none and raises no event, and the next sample or utterance stops it.
  // False when the voice cannot.
  virtual bool Preview(const std::wstring&, const VoiceSettings&, std::size_t) { return false; }
};

// Simulated engine: an utterance lasts SimulatedDurationMs(text, Speed, factor), measured by a
// window timer on `notify` (factor 0: posted at once, ends on the next turn of the message loop).
// `notice` says why it runs instead of a voice (none when it was asked for).
std::unique_ptr<SpeechEngine> CreateSimulatedEngine(HWND notify, double factor,
                                                    EngineNotice notice = {});

// ---- SAPI 5 ------------------------------------------------------------------------------------

// One installed SAPI voice.
struct SapiVoice {
  std::wstring id;        // token id
  std::wstring name;      // description (the token's default value)
  std::wstring language;  // the "Language" attribute, e.g. "411;409"
  bool is_default = false;
  Microsoft::WRL::ComPtr<ISpObjectToken> token;
};

// How SetJapaneseVoice tries a voice once SetVoice has taken it.
struct VoiceCheck {
  // The voice must also speak an empty request: Speak accepts it, and after WaitUntilDone (at most
  // `probe_wait_ms`) GetStatus reports a result that did not fail and a stream that started.
  // The request is purged when it has not finished. Events are not subscribed to yet, so no event
  // of it is ever queued for the engine.
  bool probe = false;
  DWORD probe_wait_ms = 2000;
  EngineLog log;  // told of each voice passed over and why: "engine skip <voice>: <why>"
};

// Sets the voice that should speak Japanese on `voice` (JapaneseVoiceOrder: the one chosen in the
// voice dialog, the system default, the first other Japanese voice), passing over each that
// SetVoice refuses or the check finds unable to speak. Returns the index in `voices` of the voice
// set, or kNoVoice when none was accepted (then the voice may be left set to one passed over).
std::size_t SetJapaneseVoice(ISpVoice* voice, const std::vector<SapiVoice>& voices,
                             const std::wstring& chosen_id, const VoiceCheck& check = {});

struct SapiSetup {
  std::vector<SapiVoice> voices;  // every voice listed; the dialog offers the Japanese ones
  std::size_t current = kNoVoice;  // the index of the voice set on the ISpVoice
  std::uint32_t deadline_floor_ms = kSapiDeadlineFloorMs;  // see SapiDeadlineMs
  EngineLog log;
  // Makes the SpVoice the voice dialog's samples speak on (null: CoCreateInstance of SpVoice).
  std::function<HRESULT(ISpVoice**)> new_voice;
};

// SAPI 5 engine over `voice` (with its voice set already), notifying `notify`.
std::unique_ptr<SpeechEngine> CreateSapiEngine(ISpVoice* voice, HWND notify, SapiSetup setup);

// Creates an SpVoice with a Japanese voice (SetJapaneseVoice over the voices of SAPI's category and
// of the OneCore category). `automatic`: only a voice that speaks an empty request is kept, and
// there is no engine when none does, with `why` saying so in the user's words; otherwise (the
// "sapi" knob) keeps the default voice when there is no Japanese one and does not probe.
std::unique_ptr<SpeechEngine> CreateSystemSapiEngine(HWND notify, bool automatic, EngineLog log,
                                                     EngineNotice& why);

// The voice the user chose in the voice dialog: HKEY_CURRENT_USER\Software\Koemado\PtSvr, value
// "Voice" (a token id). Empty when none was chosen.
std::wstring LoadChosenVoice();
HRESULT SaveChosenVoice(const std::wstring& id);

// What the voice dialog's 試聴 says.
inline constexpr wchar_t kPreviewText[] = L"こんにちは。この声で読み上げます。";

// ---- The bundled voice ---------------------------------------------------------------------------

// The id under which the voice dialog lists the bundled voice and the choice of it is kept.
inline constexpr wchar_t kBundledVoiceId[] = L"Koemado:bundled:nitech_jp_atr503_m001";

struct BundledSetup {
  std::wstring folder;       // the voice's folder: dic\ and the .htsvoice file in it
  double sim_factor = 1.0;   // the simulated timing's factor, when the files turn out broken
  EngineLog log;
  std::function<void()> before_each_utterance;  // the test build's fault injection, on the worker
};

// The bundled voice's engine. It loads the dictionary and the voice on a worker thread of its own,
// which synthesizes and plays there too, so that nothing waits for it. Nothing, with `why` naming
// the file, when a file is missing; a file that turns out broken when it is loaded makes it
// speak as the simulated engine does, with a notice that names the file.
std::unique_ptr<SpeechEngine> CreateBundledEngine(HWND notify, BundledSetup setup, EngineNotice& why);

// The folder beside the control's own file where its bundled voice lives ("...\voice").
std::wstring BundledVoiceFolder();

// SAPI 5 and the bundled voice behind one engine: the voice dialog offers the Japanese SAPI voices
// and then the bundled voice, and the voice chosen there speaks from the next utterance on (an
// utterance under way ends on the engine that began it). `sapi` may be null. The bundled voice
// speaks first when `bundled_first`.
std::unique_ptr<SpeechEngine> CombineEngines(std::unique_ptr<SpeechEngine> sapi,
                                             std::unique_ptr<SpeechEngine> bundled,
                                             bool bundled_first);

// The notice of a bundled voice whose file is missing or broken: the simulated engine speaks.
EngineNotice BundledVoiceBroken(const std::wstring& file);
// The bundled voice's notice while it has no audio device.
inline constexpr NoticeText kNoAudioDevice{
    L"音声の出力先なし",
    L"音声の出力先がありません\r\n音は出ません。発声の長さだけ待ってから終わります。スピーカーや"
    L"ヘッドホンをつなぐと、次の発声から聞こえます。"};

// Why the simulated engine speaks instead of a voice, as the user is told.
inline constexpr NoticeText kNoJapaneseVoice{
    L"日本語の音声なし (模擬)",
    L"日本語の音声がありません (模擬音声)\r\n音は出ません。Windows に日本語の音声を追加すると、"
    L"次に起動したときからその音声で話します。"};
inline constexpr NoticeText kVoiceCannotSpeak{
    L"音声が発声できず (模擬)",
    L"SAPI 5 の音声で発声できません (模擬音声)\r\n音は出ません。日本語の音声が読み上げを"
    L"受け付けませんでした。"};
inline constexpr NoticeText kNoSapi{
    L"SAPI 5 なし (模擬)",
    L"SAPI 5 がありません (模擬音声)\r\n音は出ません。この Windows では SAPI 5 の音声を使えません。"};

}  // namespace ptsvr
