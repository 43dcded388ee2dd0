// The column layout shared by the events and object list grids: each column has a header text and
// a width in percent of the grid's width W; a column gets W * percent / 100 pixels (integer
// division), so the percentages of a grid add up to 98 and leave room for the frame.
#pragma once

#include <span>
#include <vector>

struct Grid_Column {
  const char* Header;
  int Percent;
};

// The pixel widths of `columns` for a window whose outer width is `outer_width`; when the grid
// shows its vertical scroll bar, `scroll_bar_allowance` pixels are taken off W first.
std::vector<int> Column_Widths(std::span<const Grid_Column> columns, int outer_width,
                               bool scroll_bar_shown, int scroll_bar_allowance);

// Colours of a grid cell as roles, mapped to the platform's palette by the window.
enum class Cell_Text_Colour { Window_Text, Selection_Text, Yellow };
enum class Cell_Back_Colour { Window, Selection, Red, Light_Grey };
struct Cell_Colours {
  Cell_Text_Colour Text;
  Cell_Back_Colour Back;
  bool operator==(const Cell_Colours&) const = default;
};
