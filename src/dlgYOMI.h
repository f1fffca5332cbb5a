// The readings editor: a modal dialog with a grid of 500 numbered rows (key, reading) over the
// readings list. Each showing refills the grid from KoemadoIni->Readings; OK writes every row
// back and saves the settings file; Cancel, Escape and the close box change nothing.
#pragma once

#include <windows.h>

#include <string>

#include "controls.h"
#include "forms.h"
#include "stringgrid.h"

class TdlgYomikata : public fw::Form {
 public:
  TdlgYomikata();

  // Data rows of the grid, below its title row.
  static constexpr int kDataRows = 500;

 private:
  // Cells, editor and row heights use this font; it outlives the grid.
  fw::Font grid_font_;
  fw::IconHandle ok_glyph_, help_glyph_, cancel_glyph_;

 public:
  // Components, in creation order: the button bar comes first in the focus order.
  fw::Panel Panel1;
  fw::StringGrid StringGrid1;
  fw::Button BtnOK;
  fw::Button BitBtn3;
  fw::Button BtnCancel;

  // Handlers.
  void FormShow();
  void StringGrid1KeyDown(WORD& Key, UINT Shift);
  void BtnOKClick();

 protected:
  void Dispatch(fw::Message& message) override;
  void Showing() override { FormShow(); }

 private:
  void LayoutChildren();
  void FocusGrid();

  int number_col_width_ = 0;  // width of column 0, measured at each showing
  int stored_cols_ = 3;       // columns that any showing may have written (fields beyond the second)
  // Distances of the buttons' left edges from the bar's right edge, kept when the dialog is resized.
  int ok_from_right_ = 0, help_from_right_ = 0, cancel_from_right_ = 0;
  HWND last_focus_ = nullptr;  // focus to give back when the dialog is activated again
};

extern TdlgYomikata* dlgYomikata;
