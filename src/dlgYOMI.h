// The readings editor dialog. For now the bare form: caption, size and place. Its grid and its
// OK and cancel buttons, and the code that fills the grid from KoemadoIni->Readings and writes it
// back, are added to this class (members and constructor) when the editor is built.
#pragma once

#include "forms.h"

class TdlgYomikata : public fw::Form {
 public:
  TdlgYomikata();
};

extern TdlgYomikata* dlgYomikata;
