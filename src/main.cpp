#include "main.h"

#include <string>
#include <utility>
#include <vector>

#include "KMDIni.h"
#include "PTSVRLib_TLB.h"
#include "Version.h"
#include "dlgYOMI.h"
#include "help.h"
#include "protocol.h"

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

TMainForm::TMainForm()
    : fw::Form(MainFormLayout()),
      ToolBar1(*this, kToolBarHeight),
      PtSvr(CreatePtSvr(ToolBar1.Handle())),
      StatusBar1(*this, kStatusBarHeight),
      relay_(KoemadoIni->Readings, *PtSvr) {
  BuildMenu();
  SetMenu(MainMenu1);
  MakeRoomForTheBars(Handle());

  // The reader runs as the user. Should Koemado run elevated, Windows would drop the reader's
  // characters (a message above WM_USER from a lower integrity level) unless let through. Only
  // WM_KOE_CHAR is; a failure leaves things as they were on systems without the filter.
  ::ChangeWindowMessageFilterEx(Handle(), koe::kWmKoeChar, MSGFLT_ALLOW, nullptr);

  SetIcon(::LoadIconA(::GetModuleHandleA(nullptr), "MAINICON"));
  PtSvr->SetOnStopSpeak([this] { PtSvrStopSpeak(); });
}

// The actions in the action list's order, then the menu bar and its drop-downs in menu order,
// each item showing its action's caption.
void TMainForm::BuildMenu() {
  std::vector<std::pair<MenuCommand, fw::Action*>> actions;
  for (MenuCommand command : kActionOrder)
    actions.emplace_back(command, ActionList1.Add(CaptionOf(command), [this, command] { Execute(command); }));
  std::vector<std::pair<std::string, fw::MenuItem*>> drop_downs;
  for (const MenuEntry& entry : kMenuEntries) {
    fw::MenuItem* parent = nullptr;
    if (entry.parent) {
      for (const auto& [caption, item] : drop_downs)
        if (caption == entry.parent) parent = item;
      if (!parent) parent = drop_downs.emplace_back(entry.parent, MainMenu1.Add(entry.parent)).second;
    }
    if (entry.id == MenuCommand::Separator) {
      parent->Add(entry.caption);
      continue;
    }
    fw::Action* action = nullptr;
    for (const auto& [command, a] : actions)
      if (command == entry.id) action = a;
    const auto id = static_cast<UINT>(entry.id);
    if (parent) {
      parent->Add(action, id);
    } else {
      MainMenu1.Add(action, id);
    }
  }
}

void TMainForm::Execute(MenuCommand command) {
  switch (command) {
    case MenuCommand::Close: actCloseExecute(); break;
    case MenuCommand::Version: actVersionExecute(); break;
    case MenuCommand::OCXVer: actOCXVerExecute(); break;
    case MenuCommand::EnginVer: actEnginVerExecute(); break;
    case MenuCommand::Voiseproperty: actVoisepropertyExecute(); break;
    case MenuCommand::Yomikata: actYomikataExecute(); break;
    case MenuCommand::Help: actHelpExecute(); break;
    case MenuCommand::Separator: break;
  }
}

void TMainForm::Dispatch(fw::Message& message) {
  switch (message.Msg) {
    case koe::kWmKoeChar:
      WMKoeChar(message);
      message.Handled = true;
      return;
    case WM_SETTINGCHANGE:
      // Frames, caption or menu bar that change size while the program runs (the user's text
      // size, another theme) take the room again.
      message.Default();
      if (message.WParam == SPI_SETNONCLIENTMETRICS) MakeRoomForTheBars(Handle());
      return;
  }
  fw::Form::Dispatch(message);
}

void TMainForm::CreateChildWindows() {
  if (control_window_made_) return;
  PtSvr->HandleNeeded();
  control_window_made_ = true;
}

TMainForm::~TMainForm() = default;

void TMainForm::FormShow() {
  relay_.Shown();
  PtSvr->SetSpeed(KoemadoIni->Speed);
  PtSvr->SetPitch(KoemadoIni->Pitch);
  PtSvr->SetVolume(KoemadoIni->Volume);
}

void TMainForm::FormClose(fw::CloseAction& /*Action*/) {}

void TMainForm::WMKoeChar(fw::Message& Message) { relay_.Character(Message.WParam, Message.LParam); }

void TMainForm::PtSvrStopSpeak() { relay_.SpeechEnded(); }

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
