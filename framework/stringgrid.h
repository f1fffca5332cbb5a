// The string grid: a window of text cells with a fixed title row and number column, an in-place
// editor always open on the current cell, Tab and arrow navigation, block selection, row moving
// by the number cell, column sizing by the title borders and live scrolling. Window class
// "TStringGrid". Its logic lives in koe::GridModel; this class draws it and feeds it input.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "grid_model.h"
#include "window.h"

namespace fw {

// Modifier keys held with a key or a click, as the key-down event reports them.
enum ShiftState : UINT { kShiftKey = 1, kAltKey = 2, kCtrlKey = 4 };

// The state of Shift, Alt and Ctrl as the thread's keyboard state has it now.
UINT CurrentShiftState();

class StringGrid : public Window {
 public:
  StringGrid() = default;
  ~StringGrid() override;

  // Creates the grid window (with a sunken border and both scroll bars as needed) and its
  // editor as a child of parent. Throws EOutOfResources when a window cannot be made.
  void Create(HWND parent, int id, const RECT& bounds);
  // The in-place editor (an EDIT control); hidden while the current cell is scrolled away.
  HWND EditorHandle() const { return editor_; }

  // The cells, shape, current cell and widths. After changing the model from outside, call
  // Refresh so that the window, its scroll bars and the editor follow.
  koe::GridModel& Model() { return model_; }
  const koe::GridModel& Model() const { return model_; }
  void Refresh();
  // A cell's text and a column's width, written into the model; a cell or a column the grid does
  // not have raises EInvalidOperation.
  void SetCell(int col, int row, std::string text);
  void SetColWidth(int col, int width);

  // The font of cells and editor; the caller keeps it alive as long as the grid uses it.
  void SetFont(HFONT font);
  HFONT Font() const { return font_; }
  // Width of a text in pixels as the grid's font draws it.
  int TextWidth(std::string_view text) const;
  // Inner width and height: without the border and without the scroll bars that the model's
  // present shape needs (the bars are brought up to date first).
  int ClientWidth();
  int ClientHeight();

  // Key pressed in the grid or in its editor: the virtual-key code (set it to 0 to swallow the
  // key) and the ShiftState bits. Runs before the grid acts on the key; Escape is passed on too.
  std::function<void(WORD& key, UINT shift)> OnKeyDown;

 protected:
  void Dispatch(Message& message) override;
  void Destroyed() override;

 private:
  enum class Drag { kNone, kSelect, kMoveRow, kSizeCol };

  static LRESULT CALLBACK EditorProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                                     UINT_PTR id, DWORD_PTR self);
  // What the grid does with a message of its own window; nothing for those it leaves to the
  // default handling.
  std::optional<LRESULT> HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam);
  LRESULT HandleEditorMessage(UINT msg, WPARAM wparam, LPARAM lparam);

  // Runs OnKeyDown, then the grid's own keys. True when the key was used up.
  bool KeyDown(WORD key, UINT shift, bool in_editor);
  void MouseDown(int x, int y, WPARAM keys);
  void MouseMove(int x, int y);
  void MouseUp(int x, int y);
  void Scroll(int bar, WORD request);
  void Wheel(int delta);
  void Scrolled();  // after the top row or left column moved: bars, editor, repaint
  void Paint(HDC dc, const RECT& area);

  // After the current cell moved: scroll it into view, put the editor on it, repaint.
  void CurrentChanged();
  void UpdateScrollBars();
  void UpdateEditor(bool reload_text);
  void ToggleEditorSelection();
  // Puts the input method's composition window over the current cell, in the grid's font.
  void PlaceComposition();
  // Hands one character, typed while the grid had the focus, to the editor. False when the bytes
  // are no character of the ANSI code page.
  bool TypeIntoEditor(std::string_view ansi, LPARAM key_data);
  int RowAtOrNearest(int y) const;
  SIZE ClientSize() const;

  koe::GridModel model_;
  HWND editor_ = nullptr;
  HFONT font_ = nullptr;
  koe::GridCoord editor_cell_{-1, -1};
  bool loading_editor_ = false;
  int wheel_rest_ = 0;  // wheel turned but not yet scrolled, in WHEEL_DELTA units of rows
  BYTE pending_lead_ = 0;  // a double-byte character's lead byte, typed, waiting for its trail byte
  bool updating_bars_ = false;
  Drag drag_ = Drag::kNone;
  int drag_from_ = -1;    // the row being moved, or the column being sized
  int drag_offset_ = 0;   // sizing: pointer x minus the column's right edge at the start
};

}  // namespace fw
