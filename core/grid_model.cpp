#include "grid_model.h"

#include <algorithm>
#include <utility>

namespace koe {
namespace {

// How far from a column border (in pixels, either side) the size cursor still takes it.
constexpr int kBorderGrip = 2;

const std::string& EmptyText() {
  static const std::string empty;
  return empty;
}

}  // namespace

GridModel::GridModel() : rows_(5), widths_(5, kDefaultColWidth) {}

void GridModel::SetColCount(int count) {
  count = std::max(count, 1);
  col_count_ = count;
  widths_.resize(static_cast<std::size_t>(count), kDefaultColWidth);
  fixed_cols_ = std::min(fixed_cols_, count - 1);
  ClampState();
}

void GridModel::SetRowCount(int count) {
  count = std::max(count, 1);
  rows_.resize(static_cast<std::size_t>(count));
  fixed_rows_ = std::min(fixed_rows_, count - 1);
  ClampState();
}

void GridModel::SetFixedCols(int count) {
  fixed_cols_ = std::clamp(count, 0, col_count_ - 1);
  ClampState();
}

void GridModel::SetFixedRows(int count) {
  fixed_rows_ = std::clamp(count, 0, RowCount() - 1);
  ClampState();
}

const std::string& GridModel::Cell(int col, int row) const {
  if (row < 0 || row >= RowCount() || col < 0) return EmptyText();
  const auto& cells = rows_[static_cast<std::size_t>(row)];
  if (static_cast<std::size_t>(col) >= cells.size()) return EmptyText();
  return cells[static_cast<std::size_t>(col)];
}

bool GridModel::SetCell(int col, int row, std::string text) {
  if (row < 0 || row >= RowCount() || col < 0) return false;
  auto& cells = rows_[static_cast<std::size_t>(row)];
  if (static_cast<std::size_t>(col) >= cells.size()) {
    if (text.empty()) return true;  // nothing to store
    cells.resize(static_cast<std::size_t>(col) + 1);
  }
  cells[static_cast<std::size_t>(col)] = std::move(text);
  return true;
}

GridRect GridModel::Selection() const {
  return {std::min(anchor_.col, current_.col), std::min(anchor_.row, current_.row),
          std::max(anchor_.col, current_.col), std::max(anchor_.row, current_.row)};
}

GridCoord GridModel::Clamp(int col, int row) const {
  return {std::clamp(col, fixed_cols_, col_count_ - 1), std::clamp(row, fixed_rows_, RowCount() - 1)};
}

void GridModel::ClampState() {
  current_ = Clamp(current_.col, current_.row);
  anchor_ = Clamp(anchor_.col, anchor_.row);
  top_row_ = std::clamp(top_row_, fixed_rows_, RowCount() - 1);
  left_col_ = std::clamp(left_col_, fixed_cols_, col_count_ - 1);
}

void GridModel::SetCurrent(int col, int row, bool extend) {
  current_ = Clamp(col, row);
  if (!extend) anchor_ = current_;
}

void GridModel::Move(GridMove move, bool extend) {
  GridCoord to = current_;
  switch (move) {
    case GridMove::kLeft: --to.col; break;
    case GridMove::kRight: ++to.col; break;
    case GridMove::kUp: --to.row; break;
    case GridMove::kDown: ++to.row; break;
  }
  SetCurrent(to.col, to.row, extend);
}

void GridModel::Tab(bool backwards) {
  GridCoord to = current_;
  if (!backwards) {
    if (++to.col >= col_count_) {
      to.col = fixed_cols_;
      if (++to.row >= RowCount()) to.row = fixed_rows_;
    }
  } else {
    if (--to.col < fixed_cols_) {
      to.col = col_count_ - 1;
      if (--to.row < fixed_rows_) to.row = RowCount() - 1;
    }
  }
  SetCurrent(to.col, to.row);
}

bool GridModel::MoveRow(int from, int to) {
  const int count = RowCount();
  if (from < fixed_rows_ || from >= count || to < fixed_rows_ || to >= count) return false;
  const auto first = rows_.begin();
  if (from < to) {
    std::rotate(first + from, first + from + 1, first + to + 1);
  } else if (from > to) {
    std::rotate(first + to, first + from, first + from + 1);
  }
  return true;
}

int GridModel::ColWidth(int col) const {
  if (col < 0 || col >= col_count_) return 0;
  return widths_[static_cast<std::size_t>(col)];
}

bool GridModel::SetColWidth(int col, int width) {
  if (col < 0 || col >= col_count_) return false;
  widths_[static_cast<std::size_t>(col)] = std::max(width, 0);
  return true;
}

void GridModel::SetRowHeight(int height) { row_height_ = std::max(height, 1); }

int GridModel::LastColWidthToFill(int client_width) const {
  int width = client_width - (col_count_ - 1) * kLineWidth;
  for (int col = 0; col < col_count_ - 1; ++col) width -= ColWidth(col);
  return width;
}

void GridModel::SetTopRow(int row) { top_row_ = std::clamp(row, fixed_rows_, RowCount() - 1); }

void GridModel::SetLeftCol(int col) { left_col_ = std::clamp(col, fixed_cols_, col_count_ - 1); }

namespace {
// Rows of the given pitch that fit whole into `space` pixels (the last needs no line after it).
int RowsThatFit(int space, int height) {
  return std::max(1, (space + GridModel::kLineWidth) / (height + GridModel::kLineWidth));
}
}  // namespace

int GridModel::MaxTopRow(int client_height) const {
  const int fit = RowsThatFit(client_height - fixed_rows_ * (row_height_ + kLineWidth), row_height_);
  return std::max(fixed_rows_, RowCount() - fit);
}

int GridModel::FullyVisibleRows(int client_height) const {
  const int fit = RowsThatFit(client_height - fixed_rows_ * (row_height_ + kLineWidth), row_height_);
  return std::max(1, std::min(fit, RowCount() - top_row_));
}

namespace {
int FixedWidth(const GridModel& grid) {
  int x = 0;
  for (int col = 0; col < grid.FixedCols(); ++col) x += grid.ColWidth(col) + GridModel::kLineWidth;
  return x;
}
}  // namespace

int GridModel::MaxLeftCol(int client_width) const {
  const int space = client_width - FixedWidth(*this);
  int used = 0;
  int col = col_count_ - 1;
  while (col >= fixed_cols_ && used + ColWidth(col) <= space) {
    used += ColWidth(col) + kLineWidth;
    --col;
  }
  return std::clamp(col + 1, fixed_cols_, col_count_ - 1);
}

int GridModel::FullyVisibleCols(int client_width) const {
  const int space = client_width - FixedWidth(*this);
  int used = 0;
  int count = 0;
  for (int col = left_col_; col < col_count_ && used + ColWidth(col) <= space; ++col) {
    used += ColWidth(col) + kLineWidth;
    ++count;
  }
  return std::max(1, count);
}

void GridModel::ScrollToCurrent(int client_width, int client_height) {
  if (current_.row < top_row_) {
    top_row_ = current_.row;
  } else {
    const int fit = RowsThatFit(client_height - fixed_rows_ * (row_height_ + kLineWidth), row_height_);
    if (current_.row >= top_row_ + fit) top_row_ = current_.row - fit + 1;
  }
  if (current_.col < left_col_) {
    left_col_ = current_.col;
  } else {
    while (left_col_ < current_.col && current_.col >= left_col_ + FullyVisibleCols(client_width)) {
      ++left_col_;
    }
  }
  ClampState();
}

bool GridModel::ColSpan(int col, int& left, int& right) const {
  if (col < 0 || col >= col_count_ || (col >= fixed_cols_ && col < left_col_)) return false;
  int x = 0;
  if (col < fixed_cols_) {
    for (int c = 0; c < col; ++c) x += ColWidth(c) + kLineWidth;
  } else {
    x = FixedWidth(*this);
    for (int c = left_col_; c < col; ++c) x += ColWidth(c) + kLineWidth;
  }
  left = x;
  right = x + ColWidth(col);
  return true;
}

bool GridModel::RowSpan(int row, int& top, int& bottom) const {
  if (row < 0 || row >= RowCount() || (row >= fixed_rows_ && row < top_row_)) return false;
  const int pitch = row_height_ + kLineWidth;
  top = row < fixed_rows_ ? row * pitch : (fixed_rows_ + row - top_row_) * pitch;
  bottom = top + row_height_;
  return true;
}

bool GridModel::CellPixels(int col, int row, PixelRect& rect) const {
  return ColSpan(col, rect.left, rect.right) && RowSpan(row, rect.top, rect.bottom);
}

GridCoord GridModel::CellAt(int x, int y) const {
  GridCoord at{-1, -1};
  if (x < 0 || y < 0) return at;
  const int pitch = row_height_ + kLineWidth;
  const int fixed_height = fixed_rows_ * pitch;
  const int row = y < fixed_height ? y / pitch : top_row_ + (y - fixed_height) / pitch;
  if (row >= RowCount()) return at;
  int left = 0;
  for (int col = 0; col < col_count_; ++col) {
    if (col == fixed_cols_) col = left_col_;
    const int next = left + ColWidth(col) + kLineWidth;
    if (x < next) return {col, row};
    left = next;
  }
  return at;
}

int GridModel::ColBorderAt(int x, int y) const {
  if (y < 0 || y >= fixed_rows_ * (row_height_ + kLineWidth)) return -1;
  for (int col = 0; col < col_count_; ++col) {
    if (col == fixed_cols_) col = left_col_;
    int left = 0;
    int right = 0;
    if (ColSpan(col, left, right) && x >= right - kBorderGrip && x <= right + kBorderGrip) return col;
  }
  return -1;
}

int GridModel::ExtentX() const {
  int x = FixedWidth(*this);
  for (int col = left_col_; col < col_count_; ++col) x += ColWidth(col) + kLineWidth;
  return x;
}

int GridModel::ExtentY() const {
  return (fixed_rows_ + RowCount() - top_row_) * (row_height_ + kLineWidth);
}

}  // namespace koe
