// TForm_Latest_Events ("Object List"): one row per object of the object table with its last
// event, address, signal quality and link-test timeout, lost objects in red. The operator edits a
// timeout in place (each keystroke is applied at once), deletes one object through the trash
// picture of its row, or deletes all. The grid is a view of a snapshot that each
// Refresh_ID_List_Grid takes from the table. The one-second supervision timer belongs to the
// program's core: after each of its Ping_Tick runs, Ping_Ticked() takes the window's part of the
// tick (refresh on a new event or a new loss, not while a timeout is being edited). Main thread.
#pragma once

#include <QAbstractTableModel>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPixmap>
#include <QTableView>
#include <QTimer>
#include <vector>

#include "base/sync_objects.h"
#include "store/object_table.h"
#include "ui/widgets/message_box.h"

// The table as the grid shows it: model row i is grid row i + 1, record i; at least one row.
class Objects_Model : public QAbstractTableModel {
  Q_OBJECT
 public:
  static constexpr int Lost_Role = Qt::UserRole + 1;  // bool: OBJ_LOST of the row's record

  explicit Objects_Model(QObject* parent = nullptr);
  // Copies the used records; returns their number.
  int Load(const Object_Table& table);
  int Count() const { return static_cast<int>(records_.size()); }
  const Object_Record* Record(int i) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::vector<Object_Record> records_;
  int rows_ = 1;
};

// The grid reports every selection of a cell, including a click on the cell already selected.
class Object_Grid : public QTableView {
  Q_OBJECT
 public:
  explicit Object_Grid(QWidget* parent = nullptr) : QTableView(parent) {}
  // While quiet (during a refresh), changes of the current cell are not reported.
  void Set_Quiet(bool quiet) { quiet_ = quiet; }

 signals:
  void Cell_Selected(int row, int column);  // model row and column

 protected:
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  bool quiet_ = false;
};

class TForm_Latest_Events : public QMainWindow {
  Q_OBJECT
 public:
  // `supervision_timer` (may be null) is stopped around "Delete all objects".
  TForm_Latest_Events(Object_Table& objects, Shared_Sync& sync, QTimer* supervision_timer,
                      QWidget* parent = nullptr);

  // Refills the grid from the table; does nothing while the window is hidden.
  void Refresh_ID_List_Grid();
  void Adjust_Grid_Size();
  // The window's part of a supervision tick, after Ping_Tick; `lost` when it declared a loss.
  void Ping_Ticked(bool lost);
  // The selection of grid cell (row, column), row 0 being the header row.
  void Select_Cell(int row, int column);
  // "Delete all objects": the question, then the clear on OK.
  void Menu_Delete_ObjectsClick();

  void Set_Box_Runner(Operator_Box_Runner runner) { box_ = std::move(runner); }

  // The grid's content in its own terms: row 0 is the header row.
  int Row_Count() const;
  QString Cell(int row, int column) const;
  bool Row_Lost(int row) const;
  QString Status_Text() const { return status_count_->text(); }

  Object_Grid* StringGrid_Latest_Events;
  QLineEdit* Edit_Tmr;
  QAction* Menu_Delete_Objects;
  QPixmap Image_Trash;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Edit_TmrChange(const QString& text);
  void Place_Edit_Tmr();

  Object_Table& objects_;
  Shared_Sync& sync_;
  QTimer* supervision_timer_;
  Objects_Model* model_;
  QLabel* status_count_;
  Operator_Box_Runner box_ = Run_Operator_Box;
  int selected_row_ = 0;  // grid row (1.. for data rows) and column of the last selection
  int selected_column_ = 0;
};
