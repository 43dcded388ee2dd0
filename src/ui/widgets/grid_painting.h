// The drawing shared by the events and object list grids: the header row (a vertical gradient
// from the button-highlight to the button-shadow colour, twice the data row height, text centred
// and word-wrapped) and the data cells (colours by role, one line of text centred in the cell with
// its left edge moved 2 pixels right). Main thread only.
#pragma once

#include <QHeaderView>
#include <QPalette>
#include <QStyledItemDelegate>
#include <QTableView>
#include <functional>
#include <span>

#include "store/grid_layout.h"

inline constexpr int GRID_ROW_HEIGHT = 18;
inline constexpr int GRID_HEADER_HEIGHT = 2 * GRID_ROW_HEIGHT;

QColor Cell_Colour(const QPalette& palette, Cell_Text_Colour role);
QColor Cell_Colour(const QPalette& palette, Cell_Back_Colour role);

class Gradient_Header : public QHeaderView {
  Q_OBJECT
 public:
  explicit Gradient_Header(QWidget* parent = nullptr);

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int section) const override;
};

// Paints every data cell with the colours its window chooses for (index, selected).
class Grid_Cell_Delegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using Colour_Choice = std::function<Cell_Colours(const QModelIndex& index, bool selected)>;
  // `decorate` (may be empty) draws over the cell after its text, e.g. a picture.
  using Decoration = std::function<void(QPainter*, const QRect& cell, const QModelIndex& index)>;
  Grid_Cell_Delegate(Colour_Choice colours, Decoration decorate, QObject* parent);

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;

 private:
  Colour_Choice colours_;
  Decoration decorate_;
};

// Sizes the rows (at least 18 pixels) and the header row (at least 36) of `grid` to its font and
// returns the smallest outer window width at which every header word of `columns` and every text
// of `widest_cells` (one per column, the widest a cell of it shows) fits its column whole. The
// column widths keep their percentages; only the window grows.
int Fit_Grid_To_Font(QTableView& grid, std::span<const Grid_Column> columns,
                     std::span<const char* const> widest_cells, int scroll_allowance);

// Shares the outer window width `window_width` among the columns of `grid` by their percentages,
// leaving `scroll_allowance` for the vertical scroll bar while the rows overflow the viewport (or
// the bar already shows).
void Fit_Grid_Columns(QTableView& grid, std::span<const Grid_Column> columns, int window_width,
                      int scroll_allowance);

// Gives `grid` the common form: whole-row single selection, no row header, fixed 18-pixel rows,
// the gradient header, a vertical scroll bar only, no grid editing.
void Shape_Grid(QTableView& grid);
