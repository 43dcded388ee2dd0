#include "ui/widgets/grid_painting.h"

#include <QAbstractItemModel>
#include <QLinearGradient>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

QColor Cell_Colour(const QPalette& palette, Cell_Text_Colour role) {
  switch (role) {
    case Cell_Text_Colour::Selection_Text:
      return palette.color(QPalette::Active, QPalette::HighlightedText);
    case Cell_Text_Colour::Yellow:
      return QColor(255, 255, 0);
    case Cell_Text_Colour::Window_Text:
      break;
  }
  return palette.color(QPalette::Active, QPalette::Text);
}

QColor Cell_Colour(const QPalette& palette, Cell_Back_Colour role) {
  switch (role) {
    case Cell_Back_Colour::Selection:
      return palette.color(QPalette::Active, QPalette::Highlight);
    case Cell_Back_Colour::Red:
      return QColor(255, 0, 0);
    case Cell_Back_Colour::Light_Grey:
      return QColor(250, 250, 250);
    case Cell_Back_Colour::Window:
      break;
  }
  return palette.color(QPalette::Active, QPalette::Base);
}

Gradient_Header::Gradient_Header(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
  setFixedHeight(GRID_HEADER_HEIGHT);
  setSectionsClickable(false);
  setHighlightSections(false);
}

void Gradient_Header::paintSection(QPainter* painter, const QRect& rect, int section) const {
  painter->save();
  QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
  gradient.setColorAt(0, palette().color(QPalette::Light));
  gradient.setColorAt(1, palette().color(QPalette::Dark));
  painter->fillRect(rect, gradient);
  painter->setPen(palette().color(QPalette::Mid));
  painter->drawLine(rect.topRight(), rect.bottomRight());
  painter->setPen(palette().color(QPalette::WindowText));
  const QString text = model() ? model()->headerData(section, orientation()).toString() : QString();
  painter->drawText(rect.adjusted(2, 0, -2, 0), Qt::AlignCenter | Qt::TextWordWrap, text);
  painter->restore();
}

Grid_Cell_Delegate::Grid_Cell_Delegate(Colour_Choice colours, Decoration decorate, QObject* parent)
    : QStyledItemDelegate(parent), colours_(std::move(colours)), decorate_(std::move(decorate)) {}

void Grid_Cell_Delegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
  const bool selected = option.state.testFlag(QStyle::State_Selected);
  const Cell_Colours colours = colours_(index, selected);
  painter->save();
  painter->fillRect(option.rect, Cell_Colour(option.palette, colours.Back));
  painter->setPen(Cell_Colour(option.palette, colours.Text));
  painter->setFont(option.font);
  const QString text = index.data(Qt::DisplayRole).toString();
  if (!text.isEmpty()) {
    painter->drawText(option.rect.adjusted(2, 0, 0, 0), Qt::AlignCenter | Qt::TextSingleLine, text);
  }
  if (decorate_) decorate_(painter, option.rect, index);
  painter->restore();
}

void Shape_Grid(QTableView& grid) {
  grid.setHorizontalHeader(new Gradient_Header(&grid));
  grid.horizontalHeader()->setStretchLastSection(false);
  grid.horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid.verticalHeader()->hide();
  grid.verticalHeader()->setMinimumSectionSize(1);
  grid.verticalHeader()->setDefaultSectionSize(GRID_ROW_HEIGHT);
  grid.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid.setSelectionBehavior(QAbstractItemView::SelectRows);
  grid.setSelectionMode(QAbstractItemView::SingleSelection);
  grid.setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid.setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  grid.setWordWrap(false);
  grid.setTextElideMode(Qt::ElideNone);
}

int Fit_Grid_To_Font(QTableView& grid, std::span<const Grid_Column> columns,
                     std::span<const char* const> widest_cells, int scroll_allowance) {
  const QFontMetrics metrics = grid.fontMetrics();
  // A column c is W * p / 100 wide and its text keeps 2 pixels (header: 2 on each side) free.
  const auto width_for = [&](int text_width, int percent) {
    return ((text_width + 5) * 100 + percent - 1) / percent + scroll_allowance;
  };
  int width = 0;
  for (std::size_t c = 0; c < columns.size(); ++c) {
    for (const QString& word : QString(columns[c].Header).split(' ', Qt::SkipEmptyParts))
      width = std::max(width, width_for(metrics.horizontalAdvance(word), columns[c].Percent));
    if (c < widest_cells.size())
      width = std::max(width,
                       width_for(metrics.horizontalAdvance(widest_cells[c]), columns[c].Percent));
  }
  // The header row takes as many lines as the most wrapped title needs at that width.
  int header = GRID_HEADER_HEIGHT;
  const std::vector<int> widths = Column_Widths(columns, width, true, scroll_allowance);
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const QRect text = metrics.boundingRect(QRect(0, 0, widths[c] - 4, 1000),
                                            Qt::AlignCenter | Qt::TextWordWrap, columns[c].Header);
    header = std::max(header, text.height() + 6);
  }
  grid.horizontalHeader()->setFixedHeight(header);
  grid.verticalHeader()->setDefaultSectionSize(std::max(GRID_ROW_HEIGHT, metrics.height() + 4));
  return width;
}

void Fit_Grid_Columns(QTableView& grid, std::span<const Grid_Column> columns, int window_width,
                      int scroll_allowance) {
  // Whether the grid needs its vertical scroll bar follows from the rows and the viewport height.
  const int rows = grid.model() != nullptr ? grid.model()->rowCount() : 0;
  const bool scroll_bar =
      rows * grid.verticalHeader()->defaultSectionSize() > grid.viewport()->height() ||
      grid.verticalScrollBar()->isVisible();
  const std::vector<int> widths =
      Column_Widths(columns, window_width, scroll_bar, scroll_allowance);
  for (int c = 0; c < static_cast<int>(widths.size()); ++c) grid.setColumnWidth(c, widths[c]);
}
