#include "ui/object_list_form.h"

#include <QEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <algorithm>

#include "base/settings_rules.h"
#include "store/object_grid_text.h"
#include "ui/widgets/grid_painting.h"
#include "ui/widgets/window_place.h"

namespace {

// The 16 x 16 trash picture drawn into the last column.
QPixmap Draw_Trash_Picture() {
  QPixmap picture(16, 16);
  picture.fill(Qt::transparent);
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing, false);
  const QColor outline(70, 70, 70), body(190, 190, 190);
  p.setPen(outline);
  p.setBrush(body);
  p.drawRect(6, 1, 3, 1);   // handle
  p.drawRect(2, 3, 11, 2);  // lid
  p.drawRect(3, 5, 9, 10);  // can
  p.drawLine(5, 7, 5, 13);
  p.drawLine(7, 7, 7, 13);
  p.drawLine(10, 7, 10, 13);
  return picture;
}

// The widest text each column shows (a 16-character account, six-character receiver and line
// numbers, a day-long timeout); the last column holds the 16-pixel trash picture.
constexpr const char* WIDEST_OBJECT_CELLS[] = {
    "23:59:59   2026-12-31", "8888888888888888", "888888",   "888888", " 8   888", "88", "888",
    "255.255.255.255",       " 100 %",           "1440 min", "MMM"};

}  // namespace

Objects_Model::Objects_Model(QObject* parent) : QAbstractTableModel(parent) {}

int Objects_Model::Load(const Object_Table& table) {
  records_ = table.Snapshot();
  const int count = static_cast<int>(records_.size());
  const int rows = count > 0 ? count : 1;
  // Rows are added or taken at the end and the rest reported changed, so the view keeps its
  // current cell over a refresh.
  if (rows > rows_) {
    beginInsertRows({}, rows_, rows - 1);
    rows_ = rows;
    endInsertRows();
  } else if (rows < rows_) {
    beginRemoveRows({}, rows, rows_ - 1);
    rows_ = rows;
    endRemoveRows();
  }
  emit dataChanged(index(0, 0), index(rows_ - 1, OBJECT_GRID_COLUMN_COUNT - 1));
  return count;
}

const Object_Record* Objects_Model::Record(int i) const {
  if (i < 0 || i >= Count()) return nullptr;
  return &records_[i];
}

int Objects_Model::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int Objects_Model::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : OBJECT_GRID_COLUMN_COUNT;
}

QVariant Objects_Model::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const Object_Record* record = Record(index.row());
  if (role == Lost_Role) return record != nullptr && (record->Object_Flags & OBJ_LOST) != 0;
  if (role != Qt::DisplayRole) return {};
  if (record == nullptr) return QString();
  return QString::fromLatin1(Object_Cell_Text(*record, index.column()));
}

QVariant Objects_Model::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
  if (section < 0 || section >= OBJECT_GRID_COLUMN_COUNT) return {};
  return QString::fromLatin1(OBJECT_GRID_COLUMNS[section].Header);
}

void Object_Grid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTableView::currentChanged(current, previous);
  if (!quiet_ && current.isValid()) emit Cell_Selected(current.row(), current.column());
}

void Object_Grid::mousePressEvent(QMouseEvent* event) {
  const QModelIndex before = currentIndex();
  QTableView::mousePressEvent(event);
  // A click on the cell that was already current changes nothing, yet it is a selection too
  // (the trash picture asks again).
  const QModelIndex hit = indexAt(event->position().toPoint());
  if (!quiet_ && hit.isValid() && hit == before && currentIndex() == before) {
    emit Cell_Selected(hit.row(), hit.column());
  }
}

TForm_Latest_Events::TForm_Latest_Events(Object_Table& objects, Shared_Sync& sync,
                                         QTimer* supervision_timer, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                              Qt::WindowStaysOnTopHint),
      objects_(objects),
      sync_(sync),
      supervision_timer_(supervision_timer) {
  setWindowTitle("Object List");
  setObjectName("Form_Latest_Events");
  Image_Trash = Draw_Trash_Picture();

  Menu_Delete_Objects = menuBar()->addAction("Delete all objects");
  connect(Menu_Delete_Objects, &QAction::triggered, this,
          &TForm_Latest_Events::Menu_Delete_ObjectsClick);

  StringGrid_Latest_Events = new Object_Grid(this);
  StringGrid_Latest_Events->setObjectName("StringGrid_Latest_Events");
  Shape_Grid(*StringGrid_Latest_Events);
  model_ = new Objects_Model(this);
  StringGrid_Latest_Events->setModel(model_);
  StringGrid_Latest_Events->setItemDelegate(new Grid_Cell_Delegate(
      [](const QModelIndex& index, bool selected) {
        return Object_Cell_Colours(index.data(Objects_Model::Lost_Role).toBool(), selected);
      },
      [this](QPainter* painter, const QRect& cell, const QModelIndex& index) {
        if (index.column() != OBJECT_COLUMN_TRASH) return;
        const Object_Record* record = model_->Record(index.row());
        if (record == nullptr || record->Account_Nr[0] == '\0') return;
        painter->drawPixmap(cell.left() + 4, cell.top(), Image_Trash);
      },
      StringGrid_Latest_Events));
  setCentralWidget(StringGrid_Latest_Events);
  // Queued, so that a question box never opens inside the view's own selection handling.
  connect(
      StringGrid_Latest_Events, &Object_Grid::Cell_Selected, this,
      [this](int row, int column) { Select_Cell(row + 1, column); }, Qt::QueuedConnection);

  Edit_Tmr = new QLineEdit(StringGrid_Latest_Events->viewport());
  Edit_Tmr->setObjectName("Edit_Tmr");
  Edit_Tmr->hide();
  Edit_Tmr->installEventFilter(this);
  connect(Edit_Tmr, &QLineEdit::textEdited, this, &TForm_Latest_Events::Edit_TmrChange);
  connect(StringGrid_Latest_Events->verticalScrollBar(), &QScrollBar::valueChanged, this,
          &TForm_Latest_Events::Place_Edit_Tmr);

  status_count_ = new QLabel(this);
  status_count_->setMinimumWidth(50);
  statusBar()->setSizeGripEnabled(false);
  statusBar()->addWidget(status_count_, 1);

  // The client area under the menu bar is 777 x 366, wider where the font's texts need it.
  const int fitted = Fit_Grid_To_Font(*StringGrid_Latest_Events, OBJECT_GRID_COLUMNS,
                                      WIDEST_OBJECT_CELLS, OBJECT_GRID_SCROLL_ALLOWANCE);
  resize(std::max(777, fitted), menuBar()->sizeHint().height() + 366);
  setMinimumSize(600, 200);
  Centre_On_Screen(*this);  // beside the main window when it places the list
}

void TForm_Latest_Events::Refresh_ID_List_Grid() {
  if (!isVisible()) return;
  StringGrid_Latest_Events->Set_Quiet(true);
  const int count = model_->Load(objects_);
  StringGrid_Latest_Events->Set_Quiet(false);
  status_count_->setText(QString("Number of objects: %1").arg(count));
  StringGrid_Latest_Events->viewport()->update();
  Adjust_Grid_Size();
}

void TForm_Latest_Events::Adjust_Grid_Size() {
  Fit_Grid_Columns(*StringGrid_Latest_Events, OBJECT_GRID_COLUMNS, frameGeometry().width(),
                   OBJECT_GRID_SCROLL_ALLOWANCE);
  Place_Edit_Tmr();
}

void TForm_Latest_Events::Ping_Ticked(bool lost) {
  // While a timeout is being edited the list stands still and the new-event signal stays set,
  // so the first tick after the edit box is hidden refreshes.
  if (Edit_Tmr->isVisibleTo(this)) return;
  const bool new_event = sync_.New_Event_Signal.Try_Take();
  if (new_event || lost) Refresh_ID_List_Grid();
}

void TForm_Latest_Events::Select_Cell(int row, int column) {
  selected_row_ = row;
  selected_column_ = column;
  const Object_Record* record = model_->Record(row - 1);
  if (column == OBJECT_COLUMN_TIMEOUT && record != nullptr) {
    Edit_Tmr->setText(QString::number(record->Ping_Timeout));
    Place_Edit_Tmr();
    Edit_Tmr->show();
    Edit_Tmr->setFocus();
    return;
  }
  Edit_Tmr->hide();
  if (column != OBJECT_COLUMN_TRASH || record == nullptr || record->Account_Nr[0] == '\0') return;

  const std::string account(Field_Text(record->Account_Nr));
  const QMessageBox::StandardButton answer =
      box_(this, {MAIN_WINDOW_CAPTION, QString::fromLatin1("Delete object  " + account + " ?"),
                  QMessageBox::Question, QMessageBox::Yes | QMessageBox::No});
  if (answer != QMessageBox::Yes) return;
  // Messages keep arriving while the question is open; a full table may have given this record
  // to another object meanwhile, and the operator agreed to delete this account only: the table
  // checks it under the same lock as the move.
  objects_.Delete(row - 1, account);
  Refresh_ID_List_Grid();
}

void TForm_Latest_Events::Edit_TmrChange(const QString& text) {
  const std::string typed = text.toStdString();
  const Timeout_Reading reading = Read_Timeout_Text(typed);
  switch (reading.Result) {
    case Timeout_Reading::Empty:
      return;
    case Timeout_Reading::Valid:
      objects_.Change_Timeout(selected_row_ - 1, reading.Minutes);
      return;
    case Timeout_Reading::Not_Number:
      box_(this, {MAIN_WINDOW_CAPTION, QString::fromStdString(Invalid_Integer_Text(typed)),
                  QMessageBox::Warning, QMessageBox::Ok});
      return;
    case Timeout_Reading::Too_Large:
      box_(this, {MAIN_WINDOW_CAPTION, QString::fromStdString(Timeout_Too_Large_Message(typed)),
                  QMessageBox::Warning, QMessageBox::Ok});
      return;
  }
}

void TForm_Latest_Events::Place_Edit_Tmr() {
  if (selected_row_ < 1) return;
  const QRect cell =
      StringGrid_Latest_Events->visualRect(model_->index(selected_row_ - 1, OBJECT_COLUMN_TIMEOUT));
  if (cell.isValid()) Edit_Tmr->setGeometry(cell);
}

void TForm_Latest_Events::Menu_Delete_ObjectsClick() {
  const QMessageBox::StandardButton answer =
      box_(this, {"Delete all objects", "     Are you sure you want to delete all objects?",
                  QMessageBox::Question, QMessageBox::Ok | QMessageBox::Cancel});
  if (answer != QMessageBox::Ok) return;
  // No Ping_Tick may run while the table is emptied.
  const bool was_running = supervision_timer_ != nullptr && supervision_timer_->isActive();
  if (was_running) supervision_timer_->stop();
  objects_.Clear(sync_.Run_Gate);
  Refresh_ID_List_Grid();
  if (was_running) supervision_timer_->start();
}

int TForm_Latest_Events::Row_Count() const {
  return model_->rowCount() + 1;
}

QString TForm_Latest_Events::Cell(int row, int column) const {
  if (row == 0) return model_->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
  return model_->data(model_->index(row - 1, column), Qt::DisplayRole).toString();
}

bool TForm_Latest_Events::Row_Lost(int row) const {
  return row >= 1 && model_->data(model_->index(row - 1, 0), Objects_Model::Lost_Role).toBool();
}

void TForm_Latest_Events::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  Edit_Tmr->hide();
  Refresh_ID_List_Grid();
}

void TForm_Latest_Events::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  Adjust_Grid_Size();
}

bool TForm_Latest_Events::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Edit_Tmr && event->type() == QEvent::FocusOut) Refresh_ID_List_Grid();
  return QMainWindow::eventFilter(watched, event);
}
