#include "ui/events_form.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <algorithm>

#include "store/event_grid_text.h"
#include "ui/widgets/grid_painting.h"
#include "ui/widgets/window_place.h"

Events_Model::Events_Model(QObject* parent)
    : QAbstractTableModel(parent), slots_(JOURNAL_SLOTS, Event_Record{}) {}

int Events_Model::Load(const Event_Journal& journal) {
  const uint32_t head = journal.Head();
  int count = 0;
  for (int k = 0; k < JOURNAL_SLOTS; ++k) {
    slots_[k] = journal.Slot(k);
    if (slots_[k].Status != 0) ++count;
  }
  const int rows = count > 0 ? count : 1;
  // Rows are added or taken at the end and the rest reported changed, so the view keeps its
  // selection and scroll position over a refresh.
  if (rows > rows_) {
    beginInsertRows({}, rows_, rows - 1);
    head_ = head;
    rows_ = rows;
    endInsertRows();
  } else if (rows < rows_) {
    beginRemoveRows({}, rows, rows_ - 1);
    head_ = head;
    rows_ = rows;
    endRemoveRows();
  }
  head_ = head;
  emit dataChanged(index(0, 0), index(rows_ - 1, EVENT_GRID_COLUMN_COUNT - 1), {Qt::DisplayRole});
  return count;
}

int Events_Model::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int Events_Model::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : EVENT_GRID_COLUMN_COUNT;
}

QVariant Events_Model::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  const Event_Record& event = slots_[Journal_Slot_Of_Row(head_, index.row() + 1)];
  if (event.Status == 0) return QString();
  return QString::fromLatin1(Event_Cell_Text(event, index.column()));
}

QVariant Events_Model::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
  if (section < 0 || section >= EVENT_GRID_COLUMN_COUNT) return {};
  return QString::fromLatin1(EVENT_GRID_COLUMNS[section].Header);
}

namespace {

// The widest text each column shows (six-character receiver and line numbers, a 16-character
// account).
constexpr const char* WIDEST_EVENT_CELLS[] = {"   23:59:59 2026-12-31",
                                              " 888888",
                                              " 888888",
                                              " 8888888888888888",
                                              " 8   888",
                                              " 88",
                                              " 888",
                                              " 255.255.255.255",
                                              "100 %",
                                              "Not reportable"};

}  // namespace

TForm_Events::TForm_Events(Event_Journal& journal, Manual_Reset_Event& run_gate, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      journal_(journal),
      run_gate_(run_gate) {
  setWindowTitle("Event List");
  setObjectName("Form_Events");

  Menu_Events_Export = menuBar()->addAction("Export");
  Menu_Events_Export->setEnabled(false);  // there is no export
  Menu_Clear_Events = menuBar()->addAction("Clear Events");
  connect(Menu_Clear_Events, &QAction::triggered, this, &TForm_Events::Menu_Clear_EventsClick);

  StringGrid_Events = new QTableView(this);
  StringGrid_Events->setObjectName("StringGrid_Events");
  Shape_Grid(*StringGrid_Events);
  model_ = new Events_Model(this);
  StringGrid_Events->setModel(model_);
  StringGrid_Events->setItemDelegate(new Grid_Cell_Delegate(
      [](const QModelIndex&, bool selected) { return Event_Cell_Colours(selected); }, {},
      StringGrid_Events));
  setCentralWidget(StringGrid_Events);

  status_count_ = new QLabel(this);
  status_count_->setFixedWidth(200);
  statusBar()->setSizeGripEnabled(false);
  statusBar()->addWidget(status_count_);
  statusBar()->addWidget(new QLabel(this), 1);  // the second panel stays empty

  // The client area under the menu bar is 874 x 511, wider where the font's texts need it.
  const int fitted = Fit_Grid_To_Font(*StringGrid_Events, EVENT_GRID_COLUMNS, WIDEST_EVENT_CELLS,
                                      EVENT_GRID_SCROLL_ALLOWANCE);
  resize(std::max(874, fitted), menuBar()->sizeHint().height() + 511);
  setMinimumSize(800, 200);
  Centre_On_Screen(*this);  // beside the main window when it places the list
}

void TForm_Events::Refresh_Log_Grid() {
  if (!isVisible()) return;
  // New events come in at the top, pushing the older rows down: the selected event stays
  // selected where it went, and a grid scrolled away from the top keeps the same events in view.
  const uint32_t old_head = model_->Head();
  const QModelIndex selected = StringGrid_Events->currentIndex();
  QScrollBar* scroll = StringGrid_Events->verticalScrollBar();
  const int scrolled = scroll->value();
  const int count = model_->Load(journal_);
  const int added = static_cast<int>((model_->Head() - old_head) & 0xFFFu);
  if (added > 0 && selected.isValid()) {
    const int row = selected.row() + added;
    if (row < model_->rowCount()) {
      StringGrid_Events->setCurrentIndex(model_->index(row, selected.column()));
    } else {
      StringGrid_Events->clearSelection();  // the event's slot holds a newer one now
    }
  }
  if (added > 0 && scrolled > 0) {
    const bool per_pixel =
        StringGrid_Events->verticalScrollMode() == QAbstractItemView::ScrollPerPixel;
    const int step = per_pixel ? StringGrid_Events->verticalHeader()->defaultSectionSize() : 1;
    scroll->setValue(scrolled + added * step);
  }
  status_count_->setText(QString("Events received: %1").arg(count));
  Adjust_Grid_Size();
}

void TForm_Events::Adjust_Grid_Size() {
  Fit_Grid_Columns(*StringGrid_Events, EVENT_GRID_COLUMNS, frameGeometry().width(),
                   EVENT_GRID_SCROLL_ALLOWANCE);
}

void TForm_Events::Menu_Clear_EventsClick() {
  const QMessageBox::StandardButton answer =
      box_(this, {"Clear Events", "     Are you sure you want to delete all events?",
                  QMessageBox::Question, QMessageBox::Ok | QMessageBox::Cancel});
  if (answer != QMessageBox::Ok) return;
  if (journal_.Clear()) Refresh_Log_Grid();
}

int TForm_Events::Row_Count() const {
  return model_->rowCount() + 1;
}

QString TForm_Events::Cell(int row, int column) const {
  if (row == 0) return model_->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
  return model_->data(model_->index(row - 1, column), Qt::DisplayRole).toString();
}

void TForm_Events::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  Refresh_Log_Grid();
}

void TForm_Events::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  Adjust_Grid_Size();
}
