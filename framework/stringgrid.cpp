#include "stringgrid.h"

#include <commctrl.h>
#include <imm.h>

#include <algorithm>
#include <optional>
#include <string>

#include "edge.h"
#include "errors.h"
#include "gdi.h"
#include "messages.h"
#include "text.h"

namespace fw {
namespace {

constexpr char kClassName[] = "TStringGrid";
constexpr int kEditorId = 1;
constexpr UINT_PTR kEditorSubclass = 1;
constexpr int kTextInset = 2;  // pixels between a cell's left/top edge and its text
constexpr UINT kWantKeys = DLGC_WANTALLKEYS | DLGC_WANTTAB | DLGC_WANTARROWS | DLGC_WANTCHARS;

// A memory bitmap to paint into, copied to the window in one go.
class BackBuffer {
 public:
  BackBuffer(HDC target, int width, int height)
      : target_(target), width_(width), height_(height), dc_(CreateCompatibleDC(target)),
        bitmap_(CreateCompatibleBitmap(target, std::max(width, 1), std::max(height, 1))),
        old_(SelectObject(dc_, bitmap_)) {}
  ~BackBuffer() {
    BitBlt(target_, 0, 0, width_, height_, dc_, 0, 0, SRCCOPY);
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  BackBuffer(const BackBuffer&) = delete;
  BackBuffer& operator=(const BackBuffer&) = delete;
  HDC Dc() const { return dc_; }

 private:
  HDC target_;
  int width_;
  int height_;
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ old_;
};

void Fill(HDC dc, int left, int top, int right, int bottom, int color_index) {
  RECT r{left, top, right, bottom};
  FillRect(dc, &r, GetSysColorBrush(color_index));
}

}  // namespace

UINT CurrentShiftState() {
  UINT shift = 0;
  if (GetKeyState(VK_SHIFT) < 0) shift |= kShiftKey;
  if (GetKeyState(VK_MENU) < 0) shift |= kAltKey;
  if (GetKeyState(VK_CONTROL) < 0) shift |= kCtrlKey;
  return shift;
}

StringGrid::~StringGrid() {
  if (editor_) RemoveWindowSubclass(editor_, &StringGrid::EditorProc, kEditorSubclass);
}

void StringGrid::Create(HWND parent, int id, const RECT& bounds) {
  if (!CreateHandle(WS_EX_CLIENTEDGE, RegisterWindowClass(kClassName, 0, nullptr), "",
                    WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_HSCROLL | WS_VSCROLL | WS_CLIPCHILDREN,
                    bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top,
                    parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)))) {
    throw EOutOfResources(koe::text::kCannotCreateControl);
  }
  // A Unicode edit control: the input method's characters reach it unconverted.
  editor_ = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | ES_AUTOHSCROLL, 0, 0, 0, 0, Handle(),
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEditorId)),
                            GetModuleHandleW(nullptr), nullptr);
  if (!editor_ || !SetWindowSubclass(editor_, &StringGrid::EditorProc, kEditorSubclass,
                                     reinterpret_cast<DWORD_PTR>(this))) {
    throw EOutOfResources(koe::text::kCannotCreateControl);
  }
  SendMessageA(editor_, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(kTextInset, kTextInset));
  if (!font_) font_ = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  SendMessageA(editor_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  Refresh();
}

void StringGrid::Refresh() {
  if (!Handle()) return;
  UpdateScrollBars();
  UpdateEditor(true);
  InvalidateRect(Handle(), nullptr, FALSE);
}

void StringGrid::SetCell(int col, int row, std::string text) {
  if (!model_.SetCell(col, row, std::move(text))) throw EInvalidOperation(koe::text::kNoSuchGridCell);
}

void StringGrid::SetColWidth(int col, int width) {
  if (!model_.SetColWidth(col, width)) throw EInvalidOperation(koe::text::kNoSuchGridCell);
}

void StringGrid::SetFont(HFONT font) {
  font_ = font ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  if (editor_) {
    SendMessageA(editor_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    SendMessageA(editor_, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN,
                 MAKELPARAM(kTextInset, kTextInset));
  }
  if (Handle()) InvalidateRect(Handle(), nullptr, FALSE);
}

// Texts reach GDI in UTF-16: GDI reads ANSI texts in the system's code page, which need not be
// the program's (a manifest's code page does not reach GDI).
int StringGrid::TextWidth(std::string_view text) const {
  const WindowDc dc(Handle(), font_);
  SIZE size{};
  const std::wstring wide = FromShiftJis(text);
  GetTextExtentPoint32W(dc.Get(), wide.data(), static_cast<int>(wide.size()), &size);
  return size.cx;
}

SIZE StringGrid::ClientSize() const {
  RECT r{};
  GetClientRect(Handle(), &r);
  return {r.right, r.bottom};
}

int StringGrid::ClientWidth() {
  UpdateScrollBars();
  return ClientSize().cx;
}

int StringGrid::ClientHeight() {
  UpdateScrollBars();
  return ClientSize().cy;
}

void StringGrid::Dispatch(Message& message) {
  if (const std::optional<LRESULT> result = HandleMessage(message.Msg, message.WParam, message.LParam)) {
    message.Result = *result;
    message.Handled = true;
  }
}

void StringGrid::Destroyed() { editor_ = nullptr; }

LRESULT CALLBACK StringGrid::EditorProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                                        UINT_PTR, DWORD_PTR self) {
  if (msg == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, &StringGrid::EditorProc, kEditorSubclass);
    reinterpret_cast<StringGrid*>(self)->editor_ = nullptr;
    return DefSubclassProc(hwnd, msg, wparam, lparam);
  }
  return ShowingErrors([&] {
    return reinterpret_cast<StringGrid*>(self)->HandleEditorMessage(msg, wparam, lparam);
  });
}

LRESULT StringGrid::HandleEditorMessage(UINT msg, WPARAM wparam, LPARAM lparam) {
  HWND editor = editor_;
  switch (msg) {
    case WM_GETDLGCODE:
      return DefSubclassProc(editor, msg, wparam, lparam) | kWantKeys;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (KeyDown(static_cast<WORD>(wparam), CurrentShiftState(), true)) return 0;
      break;
    case WM_CHAR:
      // Keys the grid acts on would only beep in a one-line edit.
      if (wparam == '\t' || wparam == '\r' || wparam == '\n' || wparam == VK_ESCAPE) return 0;
      break;
    default:
      break;
  }
  return DefSubclassProc(editor, msg, wparam, lparam);
}

std::optional<LRESULT> StringGrid::HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) {
  HWND hwnd = Handle();
  switch (msg) {
    case WM_GETDLGCODE:
      return kWantKeys;
    case WM_SETFOCUS:
      if (editor_ && IsWindowVisible(editor_)) SetFocus(editor_);
      return 0;
    case WM_SETFONT:
      SetFont(reinterpret_cast<HFONT>(wparam));
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(font_);
    case WM_SIZE:
      UpdateScrollBars();
      UpdateEditor(false);
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT covers every pixel
    case WM_PAINT: {
      const PaintDc dc(hwnd);
      RECT client{};
      GetClientRect(hwnd, &client);
      BackBuffer buffer(dc.Get(), client.right, client.bottom);
      Paint(buffer.Dc(), client);
      return 0;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (KeyDown(static_cast<WORD>(wparam), CurrentShiftState(), false)) return 0;
      break;
    case WM_CHAR:
      // Typed while the grid itself has the focus (after a click on a number cell, or with the
      // editor scrolled away). An ANSI window gets a double-byte character as two messages,
      // lead byte first: the two are joined before the editor sees them.
      if (pending_lead_ != 0) {
        const char bytes[2] = {static_cast<char>(pending_lead_), static_cast<char>(wparam & 0xFF)};
        pending_lead_ = 0;
        if (TypeIntoEditor(std::string_view(bytes, 2), lparam)) return 0;
        // Not a character: the lead byte is dropped and this byte taken on its own.
      }
      if (IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(wparam))) {
        pending_lead_ = static_cast<BYTE>(wparam);
      } else if ((wparam & 0xFF) >= 0x20) {
        const char byte = static_cast<char>(wparam & 0xFF);
        TypeIntoEditor(std::string_view(&byte, 1), lparam);
      }
      return 0;
    case WM_IME_CHAR: {
      // The input method hands an ANSI window a whole character, the lead byte in bits 8..15.
      // Taken here, it does not come again as two WM_CHAR messages.
      const auto lead = static_cast<char>((wparam >> 8) & 0xFF);
      const auto last = static_cast<char>(wparam & 0xFF);
      const char bytes[2] = {lead, last};
      TypeIntoEditor(lead != 0 ? std::string_view(bytes, 2) : std::string_view(&bytes[1], 1), lparam);
      return 0;
    }
    case WM_IME_STARTCOMPOSITION:
      // The default handling opens the input method's composition window where it was placed.
      PlaceComposition();
      break;
    case WM_KILLFOCUS:
      pending_lead_ = 0;
      break;
    case WM_COMMAND:
      if (reinterpret_cast<HWND>(lparam) == editor_ && editor_ && HIWORD(wparam) == EN_CHANGE &&
          !loading_editor_ && editor_cell_.col >= 0) {
        // The editor is a Unicode window: its text is read as Unicode and made Shift-JIS here,
        // whatever the system's code page (the ANSI call would convert in that code page).
        const int length = GetWindowTextLengthW(editor_);
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        text.resize(static_cast<std::size_t>(GetWindowTextW(editor_, text.data(), length + 1)));
        SetCell(editor_cell_.col, editor_cell_.row, ToShiftJis(text));
      }
      return 0;
    case WM_LBUTTONDOWN:
      MouseDown(static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam)), wparam);
      return 0;
    case WM_MOUSEMOVE:
      MouseMove(static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam)));
      return 0;
    case WM_LBUTTONUP:
      MouseUp(static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam)));
      return 0;
    case WM_CAPTURECHANGED:
      drag_ = Drag::kNone;
      return 0;
    case WM_SETCURSOR:
      if (LOWORD(lparam) == HTCLIENT && reinterpret_cast<HWND>(wparam) == hwnd) {
        POINT p{};
        GetCursorPos(&p);
        ScreenToClient(hwnd, &p);
        if (drag_ == Drag::kSizeCol || model_.ColBorderAt(p.x, p.y) >= 0) {
          SetCursor(LoadCursor(nullptr, IDC_SIZEWE));
          return TRUE;
        }
      }
      break;
    case WM_VSCROLL:
      Scroll(SB_VERT, LOWORD(wparam));
      return 0;
    case WM_HSCROLL:
      Scroll(SB_HORZ, LOWORD(wparam));
      return 0;
    case WM_MOUSEWHEEL:
      Wheel(GET_WHEEL_DELTA_WPARAM(wparam));
      return 0;
    default:
      break;
  }
  return std::nullopt;  // the default handling
}

bool StringGrid::KeyDown(WORD key, UINT shift, bool in_editor) {
  HWND hwnd = Handle();
  if (OnKeyDown) {
    OnKeyDown(key, shift);
    if (!IsWindow(hwnd)) return true;
  }
  if (key == 0) return true;
  const bool with_shift = (shift & kShiftKey) != 0;
  DWORD start = 0;
  DWORD end = 0;
  int length = 0;
  if (in_editor) {
    SendMessageA(editor_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    // The editor is a Unicode control: its positions count UTF-16 units, not Shift-JIS bytes.
    length = GetWindowTextLengthW(editor_);
  }
  switch (key) {
    case VK_TAB:
      if (shift & (kAltKey | kCtrlKey)) return false;
      model_.Tab(with_shift);
      break;
    case VK_UP:
      model_.Move(koe::GridMove::kUp, with_shift);
      break;
    case VK_DOWN:
      model_.Move(koe::GridMove::kDown, with_shift);
      break;
    case VK_LEFT:
      // In the editor the caret moves within the text; at the text's start (or with the whole
      // text selected, as right after arriving) the key moves to the cell on the left.
      if (in_editor && !with_shift && !(start == 0 && (end == 0 || end == static_cast<DWORD>(length)))) {
        return false;
      }
      model_.Move(koe::GridMove::kLeft, with_shift);
      break;
    case VK_RIGHT:
      if (in_editor && !with_shift &&
          !(end == static_cast<DWORD>(length) && (start == end || start == 0))) {
        return false;
      }
      model_.Move(koe::GridMove::kRight, with_shift);
      break;
    case VK_PRIOR:
    case VK_NEXT: {
      const int page = model_.FullyVisibleRows(ClientSize().cy);
      const koe::GridCoord at = model_.Current();
      model_.SetTopRow(model_.TopRow() + (key == VK_PRIOR ? -page : page));
      model_.SetTopRow(std::min(model_.TopRow(), model_.MaxTopRow(ClientSize().cy)));
      model_.SetCurrent(at.col, at.row + (key == VK_PRIOR ? -page : page), with_shift);
      break;
    }
    case VK_RETURN:
      if (in_editor) ToggleEditorSelection();
      return true;
    default:
      return false;
  }
  CurrentChanged();
  return true;
}

bool StringGrid::TypeIntoEditor(std::string_view ansi, LPARAM key_data) {
  if (!editor_) return true;
  wchar_t wide[2] = {};
  const int count = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(),
                                        static_cast<int>(ansi.size()), wide, 2);
  if (count <= 0) return false;
  // The first character typed into the grid starts editing its current cell: the editor comes
  // (back) onto it with the whole text selected, so typing replaces it. Characters that follow
  // go on into the editor as typed, even those still queued for the grid.
  if (GetFocus() != editor_ || !IsWindowVisible(editor_) || !(editor_cell_ == model_.Current())) {
    CurrentChanged();
    SetFocus(editor_);
  }
  for (int i = 0; i < count && editor_; ++i) SendMessageW(editor_, WM_CHAR, wide[i], key_data);
  return true;
}

void StringGrid::PlaceComposition() {
  HIMC context = ImmGetContext(Handle());
  if (!context) return;  // no input method
  // At the current cell's text when it is in view, else at the first cell the user can type in.
  const koe::GridCoord at = model_.Current();
  koe::PixelRect cell;
  if (!model_.CellPixels(at.col, at.row, cell) &&
      !model_.CellPixels(model_.LeftCol(), model_.TopRow(), cell)) {
    cell = {};
  }
  COMPOSITIONFORM form{};
  form.dwStyle = CFS_POINT;
  form.ptCurrentPos = {cell.left + kTextInset, cell.top + kTextInset};
  ImmSetCompositionWindow(context, &form);
  LOGFONTA font{};
  if (GetObjectA(font_, sizeof font, &font) == sizeof font) ImmSetCompositionFontA(context, &font);
  ImmReleaseContext(Handle(), context);
}

void StringGrid::ToggleEditorSelection() {
  DWORD start = 0;
  DWORD end = 0;
  SendMessageA(editor_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  const auto length = static_cast<DWORD>(GetWindowTextLengthW(editor_));
  if (start == end) {
    SendMessageA(editor_, EM_SETSEL, 0, -1);
  } else {
    SendMessageA(editor_, EM_SETSEL, length, length);
  }
}

void StringGrid::CurrentChanged() {
  UpdateScrollBars();
  model_.ScrollToCurrent(ClientSize().cx, ClientSize().cy);
  UpdateScrollBars();
  UpdateEditor(true);
  InvalidateRect(Handle(), nullptr, FALSE);
}

void StringGrid::UpdateScrollBars() {
  if (!Handle() || updating_bars_) return;
  updating_bars_ = true;
  // Showing or hiding one bar changes the client size and so the other; two rounds settle it.
  for (int round = 0; round < 2; ++round) {
    const int width = ClientSize().cx;
    const int height = ClientSize().cy;
    model_.SetTopRow(std::min(model_.TopRow(), model_.MaxTopRow(height)));
    model_.SetLeftCol(std::min(model_.LeftCol(), model_.MaxLeftCol(width)));

    SCROLLINFO v{sizeof v, SIF_RANGE | SIF_PAGE | SIF_POS, 0, 0, 0, 0, 0};
    v.nMax = model_.RowCount() - model_.FixedRows() - 1;
    v.nPage = static_cast<UINT>(model_.RowCount() - model_.MaxTopRow(height));
    v.nPos = model_.TopRow() - model_.FixedRows();
    SetScrollInfo(Handle(), SB_VERT, &v, TRUE);

    SCROLLINFO h{sizeof h, SIF_RANGE | SIF_PAGE | SIF_POS, 0, 0, 0, 0, 0};
    h.nMax = model_.ColCount() - model_.FixedCols() - 1;
    h.nPage = static_cast<UINT>(model_.ColCount() - model_.MaxLeftCol(width));
    h.nPos = model_.LeftCol() - model_.FixedCols();
    SetScrollInfo(Handle(), SB_HORZ, &h, TRUE);
  }
  updating_bars_ = false;
}

void StringGrid::Scroll(int bar, WORD request) {
  SCROLLINFO info{sizeof info, SIF_ALL, 0, 0, 0, 0, 0};
  GetScrollInfo(Handle(), bar, &info);
  int pos = info.nPos;
  const int page = std::max(1, static_cast<int>(info.nPage));
  switch (request) {
    case SB_LINEUP: --pos; break;
    case SB_LINEDOWN: ++pos; break;
    case SB_PAGEUP: pos -= page; break;
    case SB_PAGEDOWN: pos += page; break;
    case SB_THUMBTRACK:  // follows the thumb while it is dragged
    case SB_THUMBPOSITION: pos = info.nTrackPos; break;
    case SB_TOP: pos = 0; break;
    case SB_BOTTOM: pos = info.nMax; break;
    default: return;
  }
  if (bar == SB_VERT) {
    model_.SetTopRow(std::min(model_.FixedRows() + pos, model_.MaxTopRow(ClientSize().cy)));
  } else {
    model_.SetLeftCol(std::min(model_.FixedCols() + pos, model_.MaxLeftCol(ClientSize().cx)));
  }
  Scrolled();
}

void StringGrid::Scrolled() {
  UpdateScrollBars();
  UpdateEditor(false);
  InvalidateRect(Handle(), nullptr, FALSE);
}

// A notch of the wheel (WHEEL_DELTA) scrolls the rows the user chose in the mouse settings, or
// a page. Fine wheels and touchpads send parts of a notch: they are added up, and what is not
// yet a row is kept for the next turn.
void StringGrid::Wheel(int delta) {
  UINT lines = 3;
  SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
  if (lines == 0) return;
  // A page, or at most as many rows as the list has (and no overflow below).
  const int rows = lines == WHEEL_PAGESCROLL ? model_.FullyVisibleRows(ClientSize().cy)
                                             : static_cast<int>(std::min<UINT>(lines, model_.RowCount()));
  if ((wheel_rest_ < 0) != (delta < 0)) wheel_rest_ = 0;  // turned the other way
  wheel_rest_ += delta * rows;
  const int up = wheel_rest_ / WHEEL_DELTA;
  if (up == 0) return;
  wheel_rest_ -= up * WHEEL_DELTA;
  model_.SetTopRow(std::min(model_.TopRow() - up, model_.MaxTopRow(ClientSize().cy)));
  Scrolled();
}

void StringGrid::UpdateEditor(bool reload_text) {
  if (!editor_) return;
  const koe::GridCoord at = model_.Current();
  koe::PixelRect cell;
  if (!model_.CellPixels(at.col, at.row, cell)) {
    const bool had_focus = GetFocus() == editor_;
    ShowWindow(editor_, SW_HIDE);
    if (had_focus) SetFocus(Handle());
    return;
  }
  MoveWindow(editor_, cell.left, cell.top, cell.right - cell.left, cell.bottom - cell.top, TRUE);
  if (reload_text || !(editor_cell_ == at)) {
    editor_cell_ = at;
    loading_editor_ = true;
    SetWindowTextW(editor_, FromShiftJis(model_.Cell(at.col, at.row)).c_str());
    loading_editor_ = false;
    SendMessageA(editor_, EM_SETSEL, 0, -1);
  }
  if (!IsWindowVisible(editor_)) {
    ShowWindow(editor_, SW_SHOW);
    if (GetFocus() == Handle()) SetFocus(editor_);
  }
}

int StringGrid::RowAtOrNearest(int y) const {
  const koe::GridCoord cell = model_.CellAt(0, std::max(y, 0));
  if (cell.row < 0) return model_.RowCount() - 1;
  return std::max(cell.row, model_.TopRow());
}

void StringGrid::MouseDown(int x, int y, WPARAM keys) {
  SetFocus(Handle());
  const int border = model_.ColBorderAt(x, y);
  if (border >= 0) {
    int left = 0;
    int right = 0;
    model_.ColSpan(border, left, right);
    drag_ = Drag::kSizeCol;
    drag_from_ = border;
    drag_offset_ = x - right;
    SetCapture(Handle());
    return;
  }
  const koe::GridCoord cell = model_.CellAt(x, y);
  if (cell.col < 0) return;
  if (cell.row >= model_.FixedRows() && cell.col < model_.FixedCols()) {
    drag_ = Drag::kMoveRow;
    drag_from_ = cell.row;
    SetCapture(Handle());
    return;
  }
  if (cell.row < model_.FixedRows() || cell.col < model_.FixedCols()) return;
  model_.SetCurrent(cell.col, cell.row, (keys & MK_SHIFT) != 0);
  CurrentChanged();
  drag_ = Drag::kSelect;
  SetCapture(Handle());
  if (editor_ && IsWindowVisible(editor_)) SetFocus(editor_);
}

void StringGrid::MouseMove(int x, int y) {
  switch (drag_) {
    case Drag::kSizeCol: {
      int left = 0;
      int right = 0;
      if (!model_.ColSpan(drag_from_, left, right)) return;
      if (!model_.SetColWidth(drag_from_, x - drag_offset_ - left)) return;
      UpdateScrollBars();
      UpdateEditor(false);
      InvalidateRect(Handle(), nullptr, FALSE);
      break;
    }
    case Drag::kSelect: {
      const koe::GridCoord cell = model_.CellAt(x, y);
      if (cell.col < model_.FixedCols() || cell.row < model_.FixedRows()) return;
      if (cell == model_.Current()) return;
      model_.SetCurrent(cell.col, cell.row, true);
      CurrentChanged();
      break;
    }
    default:
      break;
  }
}

void StringGrid::MouseUp(int x, int y) {
  (void)x;
  const Drag drag = drag_;
  drag_ = Drag::kNone;
  if (GetCapture() == Handle()) ReleaseCapture();
  if (drag == Drag::kMoveRow) {
    const int to = RowAtOrNearest(y);
    if (to != drag_from_ && to >= model_.FixedRows()) {
      if (model_.MoveRow(drag_from_, to)) Refresh();
    }
  }
}

void StringGrid::Paint(HDC dc, const RECT& area) {
  Fill(dc, area.left, area.top, area.right, area.bottom, COLOR_WINDOW);
  HGDIOBJ old_font = SelectObject(dc, font_);
  SetBkMode(dc, TRANSPARENT);
  const koe::GridRect selection = model_.Selection();
  const koe::GridCoord current = model_.Current();
  const int line = model_.LineWidth();

  for (int row = 0; row < model_.RowCount(); ++row) {
    if (row == model_.FixedRows()) row = model_.TopRow();
    int top = 0;
    int bottom = 0;
    if (!model_.RowSpan(row, top, bottom)) continue;
    if (top >= area.bottom) break;
    for (int col = 0; col < model_.ColCount(); ++col) {
      if (col == model_.FixedCols()) col = model_.LeftCol();
      int left = 0;
      int right = 0;
      if (!model_.ColSpan(col, left, right)) continue;
      if (left >= area.right) break;
      const bool fixed = row < model_.FixedRows() || col < model_.FixedCols();
      RECT cell{left, top, right, bottom};
      int text_color = COLOR_WINDOWTEXT;
      if (fixed) {
        Fill(dc, left, top, right, bottom, COLOR_BTNFACE);
        DrawEdge(dc, &cell, BDR_RAISEDINNER, BF_RECT);
        text_color = COLOR_BTNTEXT;
      } else if (selection.Contains(col, row) && !(current == koe::GridCoord{col, row})) {
        Fill(dc, left, top, right, bottom, COLOR_HIGHLIGHT);
        text_color = COLOR_HIGHLIGHTTEXT;
      }
      // The grid lines after the cell: right and below.
      const int line_color = fixed ? COLOR_3DDKSHADOW : COLOR_BTNFACE;
      Fill(dc, right, top, right + line, bottom + line, line_color);
      Fill(dc, left, bottom, right + line, bottom + line, line_color);
      const std::string& text = model_.Cell(col, row);
      if (!text.empty()) {
        SetTextColor(dc, GetSysColor(text_color));
        RECT clip{left + kTextInset, top + kTextInset, right - kTextInset, bottom};
        const std::wstring wide = FromShiftJis(text);
        ExtTextOutW(dc, clip.left, clip.top, ETO_CLIPPED, &clip, wide.data(),
                    static_cast<UINT>(wide.size()), nullptr);
      }
    }
  }
  SelectObject(dc, old_font);
}

}  // namespace fw
