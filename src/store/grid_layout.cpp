#include "store/grid_layout.h"

std::vector<int> Column_Widths(std::span<const Grid_Column> columns, int outer_width,
                               bool scroll_bar_shown, int scroll_bar_allowance) {
  const int w = outer_width - (scroll_bar_shown ? scroll_bar_allowance : 0);
  std::vector<int> widths;
  widths.reserve(columns.size());
  for (const Grid_Column& column : columns) widths.push_back(w * column.Percent / 100);
  return widths;
}
