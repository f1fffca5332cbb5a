// The main window: hosts the speech control, receives the client's characters, offers the menu.
#pragma once

#include <windows.h>

#include <memory>

#include "MenuCommands.h"
#include "controls.h"
#include "forms.h"
#include "relay.h"

class TPtSvr;

class TMainForm : public fw::Form {
 public:
  TMainForm();
  ~TMainForm() override;

  // Components, in creation order.
  fw::ToolBar ToolBar1;
  std::unique_ptr<TPtSvr> PtSvr;
  fw::StatusBar StatusBar1;
  fw::ActionList ActionList1;  // built from the menu's table, in the action list's order
  fw::MainMenu MainMenu1;

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

 protected:
  void Dispatch(fw::Message& message) override;
  void CreateChildWindows() override;
  void Showing() override { FormShow(); }
  void Closing(fw::CloseAction& action) override { FormClose(action); }

 private:
  void Execute(MenuCommand command);
  void BuildMenu();

  // The utterance buffer and the nothing-to-speak flag live in the relay.
  SpeechRelay relay_;
  bool control_window_made_ = false;
};

extern TMainForm* MainForm;
