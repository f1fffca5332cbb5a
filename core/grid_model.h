// The logic of the string grid, apart from any window: cell texts, fixed rows and columns,
// the current cell and the selected block, keyboard moves, row moves, column widths, and the
// geometry that maps cells to pixels and back.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace koe {

struct GridCoord {
  int col = 0;
  int row = 0;
  friend bool operator==(const GridCoord&, const GridCoord&) = default;
};

// A block of cells, inclusive on all sides.
struct GridRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool Contains(int col, int row) const {
    return col >= left && col <= right && row >= top && row <= bottom;
  }
  friend bool operator==(const GridRect&, const GridRect&) = default;
};

// A cell's place in pixels, right and bottom exclusive; the grid line follows right and bottom.
struct PixelRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

enum class GridMove { kLeft, kRight, kUp, kDown };

class GridModel {
 public:
  static constexpr int kDefaultColWidth = 64;
  static constexpr int kDefaultRowHeight = 24;
  static constexpr int kLineWidth = 1;

  // The shape a new grid has: 5 × 5 cells, one fixed row and one fixed column.
  GridModel();

  int ColCount() const { return col_count_; }
  int RowCount() const { return static_cast<int>(rows_.size()); }
  int FixedCols() const { return fixed_cols_; }
  int FixedRows() const { return fixed_rows_; }
  // Counts never go below fixed count + 1; fixed counts never reach the count.
  // Cell texts of columns beyond the count stay stored; rows removed lose their cells.
  void SetColCount(int count);
  void SetRowCount(int count);
  void SetFixedCols(int count);
  void SetFixedRows(int count);

  // Text of a cell. Any column is stored, also columns at or beyond ColCount (never shown);
  // rows outside the grid read as empty, and a write to them is refused (false).
  const std::string& Cell(int col, int row) const;
  [[nodiscard]] bool SetCell(int col, int row, std::string text);

  // --- current cell and selection -------------------------------------------------------
  // The current cell is never a fixed cell.
  GridCoord Current() const { return current_; }
  GridCoord Anchor() const { return anchor_; }
  // The selected block: anchor and current cell, normalised.
  GridRect Selection() const;
  // Moves the current cell (clamped to the non-fixed cells). With extend the anchor stays and
  // the selection grows or shrinks; without it the selection collapses to the current cell.
  void SetCurrent(int col, int row, bool extend = false);
  // Arrow-key move by one cell; stops at the grid's edges.
  void Move(GridMove move, bool extend);
  // Tab: one cell to the right; from the last column to the first non-fixed column of the next
  // row; from the last row back to the first non-fixed row. Shift+Tab goes the other way.
  void Tab(bool backwards);

  // Moves row `from` (all its cells, fixed ones included) to position `to`; the rows between
  // shift by one. Both must be non-fixed rows (else false, nothing moved). The current cell
  // stays where it is on screen.
  [[nodiscard]] bool MoveRow(int from, int to);

  // --- sizes ---------------------------------------------------------------------------
  int ColWidth(int col) const;
  // Negative widths become 0; a column beyond the count is refused (false).
  [[nodiscard]] bool SetColWidth(int col, int width);
  int RowHeight() const { return row_height_; }
  void SetRowHeight(int height);
  int LineWidth() const { return kLineWidth; }
  // The width that makes the last column end at the client's right edge:
  // client width − widths of all other columns − (ColCount − 1) × line width.
  int LastColWidthToFill(int client_width) const;

  // --- scrolling and geometry ------------------------------------------------------------
  // First non-fixed row and column shown after the fixed ones.
  int TopRow() const { return top_row_; }
  int LeftCol() const { return left_col_; }
  void SetTopRow(int row);   // clamped to [FixedRows, RowCount − 1]
  void SetLeftCol(int col);  // clamped to [FixedCols, ColCount − 1]
  // The largest TopRow / LeftCol with which the last row / column is still shown whole.
  int MaxTopRow(int client_height) const;
  int MaxLeftCol(int client_width) const;
  // Rows / columns shown whole from TopRow / LeftCol (at least 1).
  int FullyVisibleRows(int client_height) const;
  int FullyVisibleCols(int client_width) const;
  // Scrolls the least needed so that the current cell is shown whole.
  void ScrollToCurrent(int client_width, int client_height);

  // Pixel extent of a column / row, or false when it is scrolled out of view.
  bool ColSpan(int col, int& left, int& right) const;
  bool RowSpan(int row, int& top, int& bottom) const;
  bool CellPixels(int col, int row, PixelRect& rect) const;
  // The cell under a point (a point on a grid line belongs to the cell before it), or
  // {-1, -1} when the point is beyond the last shown cell.
  GridCoord CellAt(int x, int y) const;
  // Within the fixed rows: the column whose right border lies within a few pixels of x, or -1.
  int ColBorderAt(int x, int y) const;

  // Width and height of all cells as laid out from the current scroll position.
  int ExtentX() const;
  int ExtentY() const;

 private:
  GridCoord Clamp(int col, int row) const;
  void ClampState();

  std::vector<std::vector<std::string>> rows_;
  std::vector<int> widths_;
  int col_count_ = 5;
  int fixed_cols_ = 1;
  int fixed_rows_ = 1;
  int row_height_ = kDefaultRowHeight;
  GridCoord current_{1, 1};
  GridCoord anchor_{1, 1};
  int top_row_ = 1;
  int left_col_ = 1;
};

}  // namespace koe
