// The main window: hosts the speech control, receives the client's characters, offers the menu.
#pragma once

#include <windows.h>

#include <memory>

#include "assembler.h"
#include "controls.h"
#include "forms.h"

class TPtSvr;

class TMainForm : public fw::Form {
 public:
  TMainForm();
  ~TMainForm() override;

  // Components, in creation order.
  fw::ToolBar ToolBar1;
  std::unique_ptr<TPtSvr> PtSvr;
  fw::StatusBar StatusBar1;

  fw::ActionList ActionList1;
  fw::Action* actClose;
  fw::Action* actVersion;
  fw::Action* actOCXVer;
  fw::Action* actEnginVer;
  fw::Action* actVoiseproperty;
  fw::Action* actYomikata;
  fw::Action* actHelp;

  fw::MainMenu MainMenu1;
  fw::MenuItem* Exit1;
  fw::MenuItem* N1;
  fw::MenuItem* N7;
  fw::MenuItem* N8;
  fw::MenuItem* N2;
  fw::MenuItem* Contents1;
  fw::MenuItem* N3;
  fw::MenuItem* N4;
  fw::MenuItem* N5;
  fw::MenuItem* N6;

  // Handlers.
  void FormShow();
  void FormClose(fw::CloseAction& Action);
  void WMKoeChar(fw::Message& Message);
  void PtSvrStopSpeak();
  void actCloseExecute();
  void actVersionExecute();
  void actOCXVerExecute();
  void actEnginVerExecute();
  void actVoisepropertyExecute();
  void actYomikataExecute();
  void actHelpExecute();

 private:
  // The utterance buffer and the nothing-to-speak flag live in the assembler.
  koe::UtteranceAssembler assembler_;
  bool control_window_made_ = false;
};

extern TMainForm* MainForm;

// Posts WM_KOE_DONE to the first window of each client frame-window class, in order; every post
// is made, also when no window of the class exists.
void PostKoeDone();

// Opens the manual's contents page with the shell, the owner window as the parent of anything the
// shell shows. Raises EKoemadoError ("ヘルプ ファイル <path> を開けません") when it cannot.
void OpenHelpContents(HWND owner);

// The page of the HTML manual for a program file path: its directory + "..\Help\...\HID00000001.htm".
std::string HelpPagePathFor(const std::string& program_path);
