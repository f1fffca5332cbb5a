#include "main.h"

#include <shellapi.h>

#include "KMDIni.h"
#include "KoemadoError.h"
#include "MenuCommands.h"
#include "PTSVRLib_TLB.h"
#include "Version.h"
#include "application.h"
#include "dlgYOMI.h"
#include "errors.h"
#include "ini_rules.h"
#include "messages.h"
#include "protocol.h"
#include "system.h"
#include "text.h"

TMainForm* MainForm = nullptr;

namespace {

fw::FormLayout MainFormLayout() {
  fw::FormLayout layout;
  layout.class_name = koe::kMainWindowClass;
  layout.caption = koe::kMainWindowCaption;
  layout.left = 380;
  layout.top = 106;
  layout.width = 242;
  layout.height = 103;
  layout.border = fw::BorderStyle::Sizeable;
  layout.font = {"ＭＳ Ｐゴシック", -12, SHIFTJIS_CHARSET};
  return layout;
}

// The speech control's stored state from the program's resources (empty when there is none).
std::pair<const void*, size_t> ControlData() {
  HMODULE module = ::GetModuleHandleA(nullptr);
  HRSRC info = ::FindResourceA(module, "CONTROLDATA", reinterpret_cast<LPCSTR>(RT_RCDATA));
  if (!info) return {nullptr, 0};
  HGLOBAL data = ::LoadResource(module, info);
  return {data ? ::LockResource(data) : nullptr, data ? ::SizeofResource(module, info) : 0};
}

std::unique_ptr<TPtSvr> CreatePtSvr(HWND parent) {
  const RECT bounds = {0, 2, 160, 32};
  const auto [data, size] = ControlData();
  return std::make_unique<TPtSvr>(parent, bounds, data, size);
}

constexpr int kToolBarHeight = 34;
constexpr int kStatusBarHeight = 19;

// 242 × 103 leaves the client area room for both bars with classic frames (and Wine's); the
// wider frames and taller caption of Windows 10 and 11 leave less, and the status bar would
// cover the speech control. The window then grows just enough.
void MakeRoomForTheBars(HWND hwnd) {
  RECT client{};
  ::GetClientRect(hwnd, &client);
  const int missing = kToolBarHeight + kStatusBarHeight - client.bottom;
  if (missing <= 0) return;
  RECT outer{};
  ::GetWindowRect(hwnd, &outer);
  ::SetWindowPos(hwnd, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top + missing,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

void PostKoeDone() {
  for (const char* window_class : koe::kClientWindowClasses)
    ::PostMessageA(::FindWindowA(window_class, nullptr), koe::kWmKoeDone, 0, 0);
}

std::string HelpPagePathFor(const std::string& program_path) {
  return program_path.substr(0, koe::DirectoryPartLength(program_path)) +
         "..\\Help\\Koemado_html\\html\\" + "HID00000001.htm";
}

TMainForm::TMainForm()
    : fw::Form(MainFormLayout()),
      ToolBar1(*this, kToolBarHeight),
      PtSvr(CreatePtSvr(ToolBar1.Handle())),
      StatusBar1(*this, kStatusBarHeight),
      assembler_([this](const std::string& utterance) { PtSvr->Speak(fw::FromShiftJis(utterance)); },
                 &PostKoeDone) {
  actClose = ActionList1.Add("終了", [this] { actCloseExecute(); });
  actVersion = ActionList1.Add("バージョン情報", [this] { actVersionExecute(); });
  actOCXVer = ActionList1.Add("コントロールバージョン", [this] { actOCXVerExecute(); });
  actEnginVer = ActionList1.Add("合成エンジンバージョン", [this] { actEnginVerExecute(); });
  actVoiseproperty = ActionList1.Add("声の設定", [this] { actVoisepropertyExecute(); });
  actYomikata = ActionList1.Add("読み方の設定", [this] { actYomikataExecute(); });
  actHelp = ActionList1.Add("目次", [this] { actHelpExecute(); });

  Exit1 = MainMenu1.Add(actClose, menu_command::kClose);
  N1 = MainMenu1.Add("設定");
  N7 = N1->Add(actVoiseproperty, menu_command::kVoiseproperty);
  N8 = N1->Add(actYomikata, menu_command::kYomikata);
  N2 = MainMenu1.Add("ヘルプ");
  Contents1 = N2->Add(actHelp, menu_command::kHelp);
  N3 = N2->Add(actVersion, menu_command::kVersion);
  N4 = N2->Add("-");
  N5 = N2->Add(actOCXVer, menu_command::kOCXVer);
  N6 = N2->Add(actEnginVer, menu_command::kEnginVer);
  SetMenu(MainMenu1);
  MakeRoomForTheBars(Handle());

  // The reader runs as the user. Should Koemado run elevated, Windows would drop the reader's
  // characters (a message above WM_USER from a lower integrity level) unless let through. Only
  // WM_KOE_CHAR is; a failure leaves things as they were on systems without the filter.
  ::ChangeWindowMessageFilterEx(Handle(), koe::kWmKoeChar, MSGFLT_ALLOW, nullptr);

  SetIcon(::LoadIconA(::GetModuleHandleA(nullptr), "MAINICON"));
  PtSvr->OnStopSpeak = [this] { PtSvrStopSpeak(); };
  SetMessageHandler(koe::kWmKoeChar, [this](fw::Message& message) { WMKoeChar(message); });
  // Frames, caption or menu bar that change size while the program runs (the user's text size,
  // another theme) take the room again.
  SetMessageHandler(WM_SETTINGCHANGE, [this](fw::Message& message) {
    message.Default();
    if (message.WParam == SPI_SETNONCLIENTMETRICS) MakeRoomForTheBars(Handle());
  });
  OnCreateChildWindows = [this] {
    if (control_window_made_) return;
    PtSvr->HandleNeeded();
    control_window_made_ = true;
  };
  OnShow = [this] { FormShow(); };
  OnClose = [this](fw::CloseAction& action) { FormClose(action); };
}

TMainForm::~TMainForm() = default;

void TMainForm::FormShow() {
  assembler_.ResetNothingToSpeak();
  PtSvr->SetSpeed(KoemadoIni->Speed);
  PtSvr->SetPitch(KoemadoIni->Pitch);
  PtSvr->SetVolume(KoemadoIni->Volume);
}

void TMainForm::FormClose(fw::CloseAction& /*Action*/) {}

void TMainForm::WMKoeChar(fw::Message& Message) {
  assembler_.OnChar(Message.WParam, static_cast<std::uintptr_t>(Message.LParam),
                    KoemadoIni->Readings);
}

void TMainForm::PtSvrStopSpeak() { PostKoeDone(); }

void TMainForm::actCloseExecute() { Close(); }

void TMainForm::actVersionExecute() { AboutBox->ShowModal(); }

void TMainForm::actOCXVerExecute() { PtSvr->AboutBox(); }

void TMainForm::actEnginVerExecute() { PtSvr->EngineVersion(); }

void TMainForm::actVoisepropertyExecute() {
  PtSvr->VoiceSettings();
  KoemadoIni->Speed = PtSvr->GetSpeed();
  KoemadoIni->Pitch = PtSvr->GetPitch();
  KoemadoIni->Volume = PtSvr->GetVolume();
  KoemadoIni->Save();
}

void TMainForm::actYomikataExecute() { dlgYomikata->ShowModal(); }

void TMainForm::actHelpExecute() { OpenHelpContents(Handle()); }

void OpenHelpContents(HWND owner) {
  const std::string page = HelpPagePathFor(fw::ProgramPath());
  char full[260] = {};
  const DWORD full_length = ::GetFullPathNameA(page.c_str(), sizeof full, full, nullptr);
  const bool fits = full_length != 0 && full_length < sizeof full;
  const std::string shown = fits ? std::string(full, full_length) : page;
  if (!fits ||
      reinterpret_cast<INT_PTR>(::ShellExecuteA(owner, "open", full, "", "", SW_SHOWNORMAL)) <= 32) {
    throw EKoemadoError(koe::CannotOpenHelpText(shown));
  }
}
