#include "dlgYOMI.h"

#include <algorithm>
#include <cstdio>

#include "KMDIni.h"
#include "KoemadoError.h"
#include "application.h"
#include "entry_format.h"
#include "entry_join.h"
#include "help.h"
#include "messages.h"
#include "system.h"

TdlgYomikata* dlgYomikata = nullptr;

namespace {

constexpr int kPanelHeight = 41;
constexpr int kButtonTop = 8;
constexpr int kMinGridWidth = 300;
constexpr int kGlyphSize = 16;
constexpr int kNumberMargins = 2 + 2;  // the grid draws a cell's text 2 pixels in from its edges
// Posted to the dialog by FormShow: the grid takes the focus once the dialog is up.
constexpr UINT kMsgFocusGrid = WM_APP + 1;

fw::FormLayout YomikataLayout() {
  fw::FormLayout layout;
  layout.class_name = "TdlgYomikata";
  layout.caption = "読み方の設定";
  layout.left = 478;
  layout.top = 144;
  layout.width = 556;
  layout.height = 370;
  layout.border = fw::BorderStyle::Sizeable;
  layout.font = {"ＭＳ Ｐゴシック", -12, SHIFTJIS_CHARSET};
  return layout;
}

enum class Glyph { Ok, Help, Cancel };

// The small images of the three buttons, drawn once: a green check mark, a blue question mark,
// a red cross. The same strokes go black into the mask, so everything else stays transparent.
HICON DrawGlyph(Glyph glyph) {
  HDC screen = ::GetDC(nullptr);
  HDC dc = ::CreateCompatibleDC(screen);
  HBITMAP color = ::CreateCompatibleBitmap(screen, kGlyphSize, kGlyphSize);
  HBITMAP mask = ::CreateBitmap(kGlyphSize, kGlyphSize, 1, 1, nullptr);
  ::ReleaseDC(nullptr, screen);

  auto draw = [&](HBITMAP target, COLORREF background, COLORREF ink) {
    HGDIOBJ old_bitmap = ::SelectObject(dc, target);
    RECT all = {0, 0, kGlyphSize, kGlyphSize};
    HBRUSH fill = ::CreateSolidBrush(background);
    ::FillRect(dc, &all, fill);
    ::DeleteObject(fill);
    if (glyph == Glyph::Help) {
      HFONT font = ::CreateFontA(-15, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET,
                                 OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, NONANTIALIASED_QUALITY,
                                 DEFAULT_PITCH, "Arial");
      HGDIOBJ old_font = ::SelectObject(dc, font);
      ::SetBkMode(dc, TRANSPARENT);
      ::SetTextColor(dc, ink);
      ::DrawTextA(dc, "?", 1, &all, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
      ::SelectObject(dc, old_font);
      ::DeleteObject(font);
    } else {
      HPEN pen = ::CreatePen(PS_SOLID, 3, ink);
      HGDIOBJ old_pen = ::SelectObject(dc, pen);
      if (glyph == Glyph::Ok) {
        const POINT check[] = {{2, 8}, {6, 12}, {13, 3}};
        ::Polyline(dc, check, 3);
      } else {
        ::MoveToEx(dc, 3, 3, nullptr);
        ::LineTo(dc, 12, 12);
        ::MoveToEx(dc, 12, 3, nullptr);
        ::LineTo(dc, 3, 12);
      }
      ::SelectObject(dc, old_pen);
      ::DeleteObject(pen);
    }
    ::SelectObject(dc, old_bitmap);
  };
  const COLORREF ink = glyph == Glyph::Ok     ? RGB(0, 128, 0)
                       : glyph == Glyph::Help ? RGB(0, 0, 160)
                                              : RGB(192, 0, 0);
  draw(color, RGB(0, 0, 0), ink);
  draw(mask, RGB(255, 255, 255), RGB(0, 0, 0));

  ICONINFO info = {};
  info.fIcon = TRUE;
  info.hbmMask = mask;
  info.hbmColor = color;
  HICON icon = ::CreateIconIndirect(&info);
  ::DeleteObject(mask);
  ::DeleteObject(color);
  ::DeleteDC(dc);
  return icon;
}

void SetButtonGlyph(const fw::Button& button, HICON icon) {
  ::SendMessageA(button.Handle(), BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
}

int ClientWidthOf(HWND hwnd) {
  RECT client = {};
  ::GetClientRect(hwnd, &client);
  return client.right;
}

}  // namespace

TdlgYomikata::TdlgYomikata()
    : fw::Form(YomikataLayout()),
      grid_font_({"ＭＳ ゴシック", -13, SHIFTJIS_CHARSET}),
      ok_glyph_(DrawGlyph(Glyph::Ok)),
      help_glyph_(DrawGlyph(Glyph::Help)),
      cancel_glyph_(DrawGlyph(Glyph::Cancel)),
      Panel1(*this, Handle(), 0, 0, ClientWidthOf(Handle()), kPanelHeight, fw::Panel::Bevel::None,
             fw::Panel::Bevel::Raised),
      BtnOK(*this, Panel1.Handle(), "OK", 296, kButtonTop, 75, 25,
            {fw::mrOk, /*is_default=*/true, /*is_cancel=*/false}),
      BitBtn3(*this, Panel1.Handle(), "ヘルプ(&H)", 464, kButtonTop, 75, 25, {}),
      BtnCancel(*this, Panel1.Handle(), "キャンセル", 376, kButtonTop, 80, 25,
                {fw::mrCancel, /*is_default=*/false, /*is_cancel=*/true}) {
  // Tab and the arrow keys go on into the buttons of the bar.
  ::SetWindowLongPtrA(Panel1.Handle(), GWL_EXSTYLE,
                      ::GetWindowLongPtrA(Panel1.Handle(), GWL_EXSTYLE) | WS_EX_CONTROLPARENT);

  RECT grid_bounds = {0, 0, ClientWidthOf(Handle()), 0};
  // Made after the bar, so it follows the bar in the focus order.
  StringGrid1.Create(Handle(), NextControlId(), grid_bounds);
  StringGrid1.SetFont(grid_font_.Handle());
  StringGrid1.OnKeyDown = [this](WORD& key, UINT shift) { StringGrid1KeyDown(key, shift); };

  SetButtonGlyph(BtnOK, ok_glyph_.Get());
  SetButtonGlyph(BitBtn3, help_glyph_.Get());
  SetButtonGlyph(BtnCancel, cancel_glyph_.Get());
  BtnOK.OnClick = [this] { BtnOKClick(); };
  BitBtn3.OnClick = [this] { OpenHelpContents(Handle()); };

  const int bar_width = ClientWidthOf(Handle());
  ok_from_right_ = bar_width - 296;
  help_from_right_ = bar_width - 464;
  cancel_from_right_ = bar_width - 376;

  LayoutChildren();
}

void TdlgYomikata::Dispatch(fw::Message& message) {
  switch (message.Msg) {
    case WM_SIZE:
      message.Default();
      LayoutChildren();
      return;
    case WM_GETMINMAXINFO: {
      RECT frame = {0, 0, kMinGridWidth, 0};
      ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongPtrA(Handle(), GWL_STYLE)),
                           FALSE, static_cast<DWORD>(::GetWindowLongPtrA(Handle(), GWL_EXSTYLE)));
      auto* info = reinterpret_cast<MINMAXINFO*>(message.LParam);
      message.Default();
      info->ptMinTrackSize.x = std::max<LONG>(info->ptMinTrackSize.x, frame.right - frame.left);
      return;
    }
    case WM_ACTIVATE: {
      // Coming back to the dialog (after a message box, from another program) gives the focus
      // back to the control that had it.
      const HWND focus = ::GetFocus();
      fw::Form::Dispatch(message);
      message.Default();
      if (LOWORD(message.WParam) == WA_INACTIVE) {
        if (focus && ::IsChild(Handle(), focus)) last_focus_ = focus;
      } else if (!::IsIconic(Handle())) {
        if (last_focus_ && ::IsWindow(last_focus_) && ::IsWindowVisible(last_focus_)) {
          ::SetFocus(last_focus_);
        } else {
          FocusGrid();
        }
      }
      return;
    }
    case kMsgFocusGrid:
      FocusGrid();
      message.Handled = true;
      return;
  }
  fw::Form::Dispatch(message);
}

void TdlgYomikata::LayoutChildren() {
  RECT client = {};
  ::GetClientRect(Handle(), &client);
  const int bar_top = std::max<int>(0, client.bottom - kPanelHeight);
  Panel1.SetBounds(0, bar_top, client.right, kPanelHeight);
  ::SetWindowPos(StringGrid1.Handle(), nullptr, 0, 0, client.right, bar_top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  BtnOK.SetBounds(client.right - ok_from_right_, kButtonTop, 75, 25);
  BitBtn3.SetBounds(client.right - help_from_right_, kButtonTop, 75, 25);
  BtnCancel.SetBounds(client.right - cancel_from_right_, kButtonTop, 80, 25);
  ::InvalidateRect(Panel1.Handle(), nullptr, TRUE);
}

void TdlgYomikata::FocusGrid() {
  if (Visible()) ::SetFocus(StringGrid1.Handle());
}

void TdlgYomikata::FormShow() {
  koe::GridModel& grid = StringGrid1.Model();
  grid.SetFixedCols(1);
  grid.SetFixedRows(1);
  grid.SetColCount(3);
  grid.SetRowCount(grid.FixedRows() + kDataRows);

  // "WWW" in the grid's font; its half-width W is no wider than a digit, so the column is made
  // wide enough for the last row number with the cell's text margins where "WWW" falls short.
  char last_number[16];
  std::snprintf(last_number, sizeof last_number, "%d", kDataRows);
  number_col_width_ = std::max(StringGrid1.TextWidth("WWW"),
                               StringGrid1.TextWidth(last_number) + kNumberMargins);
  StringGrid1.SetColWidth(0, number_col_width_);
  StringGrid1.SetColWidth(1, 50);
  StringGrid1.SetColWidth(2, grid.LastColWidthToFill(StringGrid1.ClientWidth()));

  for (int r = 1; r <= kDataRows; ++r) {
    char number[16];
    std::snprintf(number, sizeof number, "%d", r);
    StringGrid1.SetCell(0, r, number);
  }
  StringGrid1.SetCell(1, 0, "記号");
  StringGrid1.SetCell(2, 0, "読み方");

  // The grid shows the list exactly: what was typed into a row and left by Cancel, or the
  // fields of an entry that is no longer there, would otherwise stay and be saved by a later OK.
  for (int r = 1; r < grid.RowCount(); ++r)
    for (int c = 1; c < std::max(grid.ColCount(), stored_cols_); ++c) StringGrid1.SetCell(c, r, {});

  const koe::ReadingsList& readings = KoemadoIni->Readings;
  const int entries = static_cast<int>(std::min<std::size_t>(readings.Count(), kDataRows));
  for (int k = 1; k <= entries; ++k) {
    const std::vector<std::string> fields = koe::SplitEntry(readings.At(static_cast<std::size_t>(k - 1)));
    for (std::size_t j = 0; j < fields.size(); ++j) StringGrid1.SetCell(static_cast<int>(j) + 1, k, fields[j]);
    stored_cols_ = std::max(stored_cols_, static_cast<int>(fields.size()) + 1);
  }
  StringGrid1.Refresh();

  FocusGrid();
  // Showing the window moves the focus; take it back once the dialog is up.
  ::PostMessageA(Handle(), kMsgFocusGrid, 0, 0);
}

void TdlgYomikata::StringGrid1KeyDown(WORD& Key, UINT /*Shift*/) {
  if (Key == VK_ESCAPE) SetModalResult(fw::mrCancel);
}

void TdlgYomikata::BtnOKClick() {
  const koe::GridModel& grid = StringGrid1.Model();
  koe::ReadingsList& readings = KoemadoIni->Readings;
  readings.Clear();
  for (int r = 1; r < grid.RowCount(); ++r) readings.Append(koe::JoinEntryCells(grid.Cell(1, r), grid.Cell(2, r)));
  // Under another code page, or when the file could not be read at start-up, the list is used
  // from now on but the file is left as it is, and the user is told why and what to do.
  if (!KoemadoIni->ReadingsSaved()) throw EKoemadoError(KoemadoIni->WhyReadingsAreNotSaved());
  KoemadoIni->Save();
}
