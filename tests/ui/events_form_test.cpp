// The Event List window on a real journal in a temporary data folder.
#include "ui/events_form.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QMenuBar>
#include <QScrollBar>
#include <QTableView>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>

#include "store/event_grid_text.h"
#include "support/example_event.h"
#include "support/qt_widgets_app.h"
#include "support/temp_folder.h"
#include "ui/operator_box_recorder.h"

namespace {

Event_Record Event(int n, const char* code = "1401", int32_t quality = 255) {
  return Example_Event({.Line = "",
                        .Account = std::to_string(n),
                        .Code = code,
                        .Group = "",
                        .Zone = "",
                        .Time = 1700000000 + n,
                        .Quality = quality});
}

class Events_Form_Test : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "Europe/Vilnius", 1);
    tzset();
    ASSERT_EQ(journal_.Load(), "");
    form_.Set_Box_Runner(boxes_.Runner());
  }
  void Show() {
    form_.show();
    QCoreApplication::processEvents();
  }
  QString Account(int row) { return form_.Cell(row, 3); }

  QApplication& app_ = Test_Widgets_App();
  Temp_Folder folder_;
  Event_Journal journal_{folder_.File(JOURNAL_FILE_NAME)};
  Manual_Reset_Event gate_{true};
  Operator_Box_Recorder boxes_;
  TForm_Events form_{journal_, gate_};
};

TEST_F(Events_Form_Test, The_Window_Has_Its_Frame_And_Menu) {
  EXPECT_EQ(form_.windowTitle(), "Event List");
  EXPECT_TRUE(form_.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_FALSE(form_.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(form_.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_EQ(form_.minimumSize(), QSize(800, 200));
  // The client area under the menu bar is 874 x 511, wider only where the font needs it.
  EXPECT_GE(form_.width(), 874);
  EXPECT_EQ(form_.height(), form_.menuBar()->sizeHint().height() + 511);
  EXPECT_EQ(form_.Menu_Events_Export->text(), "Export");
  EXPECT_FALSE(form_.Menu_Events_Export->isEnabled());
  EXPECT_EQ(form_.Menu_Clear_Events->text(), "Clear Events");
  EXPECT_GE(form_.StringGrid_Events->horizontalHeader()->height(), 36);
  EXPECT_GE(form_.StringGrid_Events->verticalHeader()->defaultSectionSize(), 18);
  EXPECT_EQ(form_.StringGrid_Events->selectionBehavior(), QAbstractItemView::SelectRows);
}

TEST_F(Events_Form_Test, An_Empty_Journal_Shows_The_Header_And_One_Empty_Row) {
  Show();
  ASSERT_EQ(form_.Row_Count(), 2);
  for (int c = 0; c < EVENT_GRID_COLUMN_COUNT; ++c) {
    EXPECT_EQ(form_.Cell(0, c), EVENT_GRID_COLUMNS[c].Header);
    EXPECT_EQ(form_.Cell(1, c), "") << "column " << c;
  }
  EXPECT_EQ(form_.Status_Text(), "Events received: 0");
}

TEST_F(Events_Form_Test, The_Newest_Event_Comes_First) {
  for (int n = 0; n < 10; ++n) journal_.Append(Event(n));
  Show();
  ASSERT_EQ(form_.Row_Count(), 11);
  EXPECT_EQ(Account(1), " 9");
  EXPECT_EQ(Account(10), " 0");
  EXPECT_EQ(form_.Status_Text(), "Events received: 10");
}

TEST_F(Events_Form_Test, After_A_Wrap_The_Rows_Follow_The_Ring) {
  // Event n lands in slot n mod 4096; after 4106 appends the head is 10.
  for (int n = 0; n < JOURNAL_SLOTS + 10; ++n) journal_.Append(Event(n));
  ASSERT_EQ(journal_.Head(), 10u);
  Show();
  ASSERT_EQ(form_.Row_Count(), 4097);
  EXPECT_EQ(Account(1), " 4105");   // slot 9
  EXPECT_EQ(Account(10), " 4096");  // slot 0
  EXPECT_EQ(Account(11), " 4095");  // slot 4095
  EXPECT_EQ(Account(4096), " 10");  // slot 10, the oldest
  EXPECT_EQ(form_.Status_Text(), "Events received: 4096");
}

TEST_F(Events_Form_Test, Cells_Show_Codes_Link_Tests_And_Signal_Quality) {
  journal_.Append(Event(1, "NULL"));
  journal_.Append(Event(2, "1401", 100));
  journal_.Append(Event(3, "3401", 101));
  journal_.Append(Event(4, "1401", 255));
  Show();
  // Row 1 is the newest (account 4).
  EXPECT_EQ(form_.Cell(4, 4), " PING");
  EXPECT_EQ(form_.Cell(4, 9), "Not reportable");
  EXPECT_EQ(form_.Cell(3, 4), " 1   401");
  EXPECT_EQ(form_.Cell(3, 8), "100 %");
  EXPECT_EQ(form_.Cell(2, 4), " 3   401");
  EXPECT_EQ(form_.Cell(2, 8), "");
  EXPECT_EQ(form_.Cell(1, 8), "");
  EXPECT_EQ(form_.Cell(1, 0), "   00:13:24 2023-11-15");
  EXPECT_EQ(form_.Cell(1, 9), "Unknown");
}

TEST_F(Events_Form_Test, Events_Show_At_The_Next_Refresh_With_Their_State) {
  Show();
  journal_.Append(Event(7));
  EXPECT_EQ(form_.Row_Count(), 2);
  EXPECT_EQ(Account(1), "");  // not yet refreshed

  // The report sender's save pass asks for the refresh.
  Manual_Reset_Event open{true};
  const Event_Journal::Save_Outcome saved = journal_.Save_New(open);
  ASSERT_TRUE(saved.Error.empty()) << saved.Error;
  ASSERT_TRUE(saved.Refresh);
  form_.Refresh_Log_Grid();
  EXPECT_EQ(Account(1), " 7");
  EXPECT_EQ(form_.Cell(1, 9), "Pending");

  {
    Event_Journal::Status_Writer writer(journal_);
    ASSERT_EQ(writer.Save_Status(0), "");
  }
  form_.Refresh_Log_Grid();
  EXPECT_EQ(form_.Cell(1, 9), "Reported");
}

TEST_F(Events_Form_Test, New_Events_Keep_The_Selected_Event_And_The_Events_In_View) {
  for (int n = 0; n < 100; ++n) journal_.Append(Event(n));
  Show();
  QTableView& grid = *form_.StringGrid_Events;
  const auto account_at = [&](int model_row) {
    return grid.model()->index(model_row, 3).data().toString();
  };
  grid.setCurrentIndex(grid.model()->index(4, 0));  // event 95
  ASSERT_EQ(account_at(grid.currentIndex().row()), " 95");
  grid.verticalScrollBar()->setValue(grid.verticalScrollBar()->value() + 20);
  QCoreApplication::processEvents();
  const int top_row = grid.rowAt(0);
  ASSERT_GT(top_row, 0);
  const QString top_account = account_at(top_row);

  for (int n = 100; n < 103; ++n) journal_.Append(Event(n));
  form_.Refresh_Log_Grid();
  QCoreApplication::processEvents();
  EXPECT_EQ(account_at(grid.currentIndex().row()), " 95");
  EXPECT_TRUE(grid.selectionModel()->isRowSelected(grid.currentIndex().row(), {}));
  EXPECT_EQ(account_at(grid.rowAt(0)), top_account);

  // Scrolled back to the top, the newest events come into view as they arrive.
  grid.verticalScrollBar()->setValue(0);
  journal_.Append(Event(103));
  form_.Refresh_Log_Grid();
  QCoreApplication::processEvents();
  EXPECT_EQ(account_at(grid.rowAt(0)), " 103");
  EXPECT_EQ(account_at(grid.currentIndex().row()), " 95");
}

TEST_F(Events_Form_Test, A_Hidden_Window_Does_Not_Refresh_And_Refreshes_When_Shown) {
  Show();
  form_.hide();
  journal_.Append(Event(5));
  form_.Refresh_Log_Grid();
  EXPECT_EQ(form_.Status_Text(), "Events received: 0");
  Show();
  EXPECT_EQ(form_.Status_Text(), "Events received: 1");
  EXPECT_EQ(Account(1), " 5");
}

TEST_F(Events_Form_Test, Clear_Events_Asks_First) {
  for (int n = 0; n < 3; ++n) journal_.Append(Event(n));
  Show();

  boxes_.Answer = QMessageBox::Cancel;
  form_.Menu_Clear_Events->trigger();
  ASSERT_EQ(boxes_.Boxes.size(), 1u);
  const Operator_Box& box = boxes_.Boxes[0];
  EXPECT_EQ(box.Title, "Clear Events");
  EXPECT_EQ(box.Text, "     Are you sure you want to delete all events?");
  EXPECT_EQ(box.Icon, QMessageBox::Question);
  EXPECT_EQ(box.Buttons, QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(journal_.Head(), 3u);
  EXPECT_EQ(form_.Row_Count(), 4);

  boxes_.Answer = QMessageBox::Ok;
  form_.Menu_Clear_Events->trigger();
  EXPECT_EQ(journal_.Head(), 0u);
  EXPECT_EQ(journal_.Slot(0).Status, 0);
  EXPECT_TRUE(gate_.Is_Set());
  EXPECT_EQ(form_.Row_Count(), 2);
  EXPECT_EQ(Account(1), "");
  EXPECT_EQ(form_.Status_Text(), "Events received: 0");
  std::ifstream file(journal_.Path(), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), {});
  EXPECT_EQ(bytes, std::string(JOURNAL_FILE_SIZE, '\0'));
}

TEST_F(Events_Form_Test, Column_Widths_Follow_The_Window_Width) {
  Show();
  const int w = form_.frameGeometry().width();
  EXPECT_EQ(form_.StringGrid_Events->columnWidth(0), w * 16 / 100);
  EXPECT_EQ(form_.StringGrid_Events->columnWidth(9), w * 17 / 100);

  for (int n = 0; n < 200; ++n) journal_.Append(Event(n));
  form_.Refresh_Log_Grid();
  QCoreApplication::processEvents();
  ASSERT_TRUE(form_.StringGrid_Events->verticalScrollBar()->isVisible());
  EXPECT_EQ(form_.StringGrid_Events->columnWidth(0), (w - 25) * 16 / 100);

  form_.resize(1000, 600);
  QCoreApplication::processEvents();
  EXPECT_EQ(form_.StringGrid_Events->columnWidth(3),
            (form_.frameGeometry().width() - 25) * 16 / 100);
}

}  // namespace
