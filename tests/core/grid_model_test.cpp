// The string grid's behaviour without a window: cells, moves, row moves, widths, hit testing.
#include "grid_model.h"

#include <gtest/gtest.h>

#include <string>

namespace koe {
namespace {

// The readings editor's shape: number column, key, reading; title row and 500 data rows.
GridModel EditorGrid() {
  GridModel grid;
  grid.SetFixedCols(1);
  grid.SetFixedRows(1);
  grid.SetColCount(3);
  grid.SetRowCount(501);
  return grid;
}

TEST(GridModelCells, StoreGrowsShrinksAndKeepsHiddenColumns) {
  GridModel grid = EditorGrid();
  EXPECT_TRUE(grid.SetCell(2, 500, "last"));
  EXPECT_TRUE(grid.SetCell(4, 7, "third field"));  // beyond the 3 shown columns
  EXPECT_EQ(grid.Cell(2, 500), "last");
  EXPECT_EQ(grid.Cell(4, 7), "third field");
  EXPECT_EQ(grid.Cell(9, 7), "");
  EXPECT_EQ(grid.Cell(1, 9999), "");

  grid.SetColCount(2);
  EXPECT_EQ(grid.Cell(2, 500), "last") << "narrowing hides cells, it does not drop them";
  grid.SetColCount(3);
  EXPECT_EQ(grid.Cell(2, 500), "last");

  grid.SetRowCount(100);
  EXPECT_FALSE(grid.SetCell(1, 100, "x")) << "no such row";
  grid.SetRowCount(501);
  EXPECT_EQ(grid.Cell(2, 500), "") << "removed rows lose their cells";
  EXPECT_EQ(grid.Cell(4, 7), "third field");
}

TEST(GridModelCells, CurrentCellNeverLandsOnAFixedCell) {
  GridModel grid = EditorGrid();
  grid.SetCurrent(0, 0);
  EXPECT_EQ(grid.Current(), (GridCoord{1, 1}));
  grid.SetCurrent(7, 900);
  EXPECT_EQ(grid.Current(), (GridCoord{2, 500}));
  grid.SetRowCount(10);
  EXPECT_EQ(grid.Current(), (GridCoord{2, 9})) << "shrinking pulls the current cell in";
}

struct TabCase {
  const char* what;
  GridCoord from;
  bool backwards;
  GridCoord to;
};

class GridModelTab : public testing::TestWithParam<TabCase> {};

TEST_P(GridModelTab, MovesAndWraps) {
  GridModel grid = EditorGrid();
  grid.SetCurrent(GetParam().from.col, GetParam().from.row);
  grid.Tab(GetParam().backwards);
  EXPECT_EQ(grid.Current(), GetParam().to) << GetParam().what;
  EXPECT_EQ(grid.Selection(), (GridRect{grid.Current().col, grid.Current().row,
                                        grid.Current().col, grid.Current().row}));
}

const TabCase kTabCases[] = {
    {"right within the row", {1, 4}, false, {2, 4}},
    {"last column wraps to column 1 of the next row", {2, 4}, false, {1, 5}},
    {"last cell wraps to the first data row", {2, 500}, false, {1, 1}},
    {"shift+tab left within the row", {2, 4}, true, {1, 4}},
    {"shift+tab from column 1 to the last column of the row above", {1, 4}, true, {2, 3}},
    {"shift+tab from the first cell to the last", {1, 1}, true, {2, 500}},
};
INSTANTIATE_TEST_SUITE_P(Cases, GridModelTab, testing::ValuesIn(kTabCases));

TEST(GridModelSelection, ShiftArrowsSpanABlockAndPlainArrowsCollapseIt) {
  GridModel grid = EditorGrid();
  grid.SetCurrent(2, 5);
  grid.Move(GridMove::kDown, true);
  grid.Move(GridMove::kDown, true);
  grid.Move(GridMove::kLeft, true);
  EXPECT_EQ(grid.Selection(), (GridRect{1, 5, 2, 7}));
  EXPECT_EQ(grid.Anchor(), (GridCoord{2, 5}));
  grid.Move(GridMove::kUp, true);
  grid.Move(GridMove::kUp, true);
  grid.Move(GridMove::kUp, true);
  EXPECT_EQ(grid.Selection(), (GridRect{1, 4, 2, 5})) << "the block flips over the anchor";
  grid.Move(GridMove::kLeft, true);  // already at column 1: stays
  EXPECT_EQ(grid.Current(), (GridCoord{1, 4}));
  grid.Move(GridMove::kRight, false);
  EXPECT_EQ(grid.Selection(), (GridRect{2, 4, 2, 4}));
}

TEST(GridModelRows, MovingARowTakesAllItsCellsAndTheOthersShift) {
  GridModel grid = EditorGrid();
  for (int r = 1; r <= 6; ++r) {
    EXPECT_TRUE(grid.SetCell(0, r, std::to_string(r)));
    EXPECT_TRUE(grid.SetCell(1, r, "k" + std::to_string(r)));
    EXPECT_TRUE(grid.SetCell(3, r, "hidden" + std::to_string(r)));
  }
  EXPECT_TRUE(grid.MoveRow(5, 1));
  const char* numbers[] = {"5", "1", "2", "3", "4", "6"};
  for (int r = 1; r <= 6; ++r) {
    EXPECT_EQ(grid.Cell(0, r), numbers[r - 1]) << "row " << r;
    EXPECT_EQ(grid.Cell(1, r), std::string("k") + numbers[r - 1]) << "row " << r;
    EXPECT_EQ(grid.Cell(3, r), std::string("hidden") + numbers[r - 1]) << "row " << r;
  }
  EXPECT_TRUE(grid.MoveRow(1, 5));  // and back down
  for (int r = 1; r <= 6; ++r) EXPECT_EQ(grid.Cell(0, r), std::to_string(r));
  EXPECT_FALSE(grid.MoveRow(0, 3)) << "the title row stays";
}

TEST(GridModelWidths, LastColumnFillsTheClientWidth) {
  GridModel grid = EditorGrid();
  EXPECT_TRUE(grid.SetColWidth(0, 24));
  EXPECT_TRUE(grid.SetColWidth(1, 50));
  // client − number column − column 1 − (3 − 1) lines: client − 24 − 52.
  EXPECT_EQ(grid.LastColWidthToFill(532), 532 - 24 - 52);
  EXPECT_TRUE(grid.SetColWidth(2, grid.LastColWidthToFill(532)));
  EXPECT_EQ(grid.ExtentX(), 532 + 1) << "the last column's line falls just outside";
  EXPECT_EQ(GridModel().ColWidth(3), GridModel::kDefaultColWidth);
  EXPECT_TRUE(grid.SetColWidth(1, -5));
  EXPECT_EQ(grid.ColWidth(1), 0);
}

TEST(GridModelGeometry, PointsMapToCellsAndBordersWithScrolling) {
  GridModel grid = EditorGrid();
  EXPECT_TRUE(grid.SetColWidth(0, 30));
  EXPECT_TRUE(grid.SetColWidth(1, 50));
  EXPECT_TRUE(grid.SetColWidth(2, 100));
  const int pitch = GridModel::kDefaultRowHeight + 1;
  struct {
    int x, y;
    GridCoord cell;
  } points[] = {
      {0, 0, {0, 0}},       {30, 0, {0, 0}},           {31, pitch, {1, 1}},
      {82, 5 * pitch, {2, 5}}, {81, 5 * pitch, {1, 5}}, {183, 5, {-1, -1}}, {40, 501 * pitch, {-1, -1}},
  };
  for (const auto& p : points) EXPECT_EQ(grid.CellAt(p.x, p.y), p.cell) << p.x << "," << p.y;

  grid.SetTopRow(100);
  EXPECT_EQ(grid.CellAt(40, pitch + 3), (GridCoord{1, 100}));
  EXPECT_EQ(grid.CellAt(40, 3), (GridCoord{1, 0})) << "the title row does not scroll";
  PixelRect rect;
  EXPECT_FALSE(grid.CellPixels(1, 99, rect));
  ASSERT_TRUE(grid.CellPixels(2, 101, rect));
  EXPECT_EQ(rect.left, 82);
  EXPECT_EQ(rect.top, 2 * pitch);

  EXPECT_EQ(grid.ColBorderAt(80, 4), 1);
  EXPECT_EQ(grid.ColBorderAt(182, 4), 2);
  EXPECT_EQ(grid.ColBorderAt(60, 4), -1);
  EXPECT_EQ(grid.ColBorderAt(80, pitch + 4), -1) << "only between titles";
}

TEST(GridModelGeometry, ScrollingFollowsTheCurrentCell) {
  GridModel grid = EditorGrid();
  const int pitch = GridModel::kDefaultRowHeight + 1;
  const int height = 11 * pitch;  // title row + 10 data rows
  EXPECT_EQ(grid.FullyVisibleRows(height), 10);
  EXPECT_EQ(grid.MaxTopRow(height), 491);
  grid.SetCurrent(1, 30);
  grid.ScrollToCurrent(1000, height);
  EXPECT_EQ(grid.TopRow(), 21);
  grid.SetCurrent(1, 5);
  grid.ScrollToCurrent(1000, height);
  EXPECT_EQ(grid.TopRow(), 5);

  grid.SetColCount(10);
  grid.SetCurrent(9, 5);
  grid.ScrollToCurrent(64 * 3 + 4, height);  // fixed column + 2 columns fit
  EXPECT_EQ(grid.LeftCol(), 8);
  EXPECT_EQ(grid.MaxLeftCol(64 * 3 + 4), 8);
}

}  // namespace
}  // namespace koe
