// TForm_Events ("Event List"): the whole event journal as a table, newest event first, with each
// event's reporting state; "Clear Events" empties the journal after a question. The grid is a
// view of a snapshot that each Refresh_Log_Grid takes from the journal, so an event shows only
// from the next refresh on. Main thread only; the window only reads the journal, except "Clear
// Events". It is created hidden and shown from the main window's menu.
#pragma once

#include <QAbstractTableModel>
#include <QLabel>
#include <QMainWindow>
#include <QTableView>
#include <vector>

#include "base/sync_objects.h"
#include "store/event_journal.h"
#include "ui/widgets/message_box.h"

// The journal as the grid shows it: row r-1 of the model is grid row r (row 0 of the grid being
// the header), holding the slot Journal_Slot_Of_Row(head, r); at least one (empty) row.
class Events_Model : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit Events_Model(QObject* parent = nullptr);
  // Copies the journal; returns the number of events (slots with a non-zero Status).
  int Load(const Event_Journal& journal);
  // The journal head of the snapshot: the newest event is in slot head - 1.
  uint32_t Head() const { return head_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::vector<Event_Record> slots_;  // the snapshot, JOURNAL_SLOTS records
  uint32_t head_ = 0;
  int rows_ = 1;
};

class TForm_Events : public QMainWindow {
  Q_OBJECT
 public:
  // `run_gate` is the shared Run_Gate that "Clear Events" closes while it empties the journal.
  TForm_Events(Event_Journal& journal, Manual_Reset_Event& run_gate, QWidget* parent = nullptr);

  // Refills the grid from the journal; does nothing while the window is hidden.
  void Refresh_Log_Grid();
  // Sets the column widths from the window's width.
  void Adjust_Grid_Size();
  // The confirmation of "Clear Events" (then the clear itself, on OK).
  void Menu_Clear_EventsClick();

  void Set_Box_Runner(Operator_Box_Runner runner) { box_ = std::move(runner); }

  // The grid's content in its own terms: row 0 is the header row.
  int Row_Count() const;
  QString Cell(int row, int column) const;
  QString Status_Text() const { return status_count_->text(); }

  QTableView* StringGrid_Events;
  QAction* Menu_Events_Export;
  QAction* Menu_Clear_Events;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  Event_Journal& journal_;
  Manual_Reset_Event& run_gate_;
  Events_Model* model_;
  QLabel* status_count_;
  Operator_Box_Runner box_ = Run_Operator_Box;
};
