// The about box.
#pragma once

#include "controls.h"
#include "forms.h"

class TAboutBox : public fw::Form {
 public:
  TAboutBox();

  fw::Panel Panel1;
  fw::Image ProgramIcon;
  fw::Label ProductName;
  fw::Label Version;
  fw::Label Copyright;
  fw::Button OKButton;

 private:
  void MakeRoomForTheLabels();
};

extern TAboutBox* AboutBox;
