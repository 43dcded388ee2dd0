// The Object List window on a real object table in a temporary data folder; the supervision
// ticks are driven by the test as the core's one-second timer drives them.
#include "ui/object_list_form.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>

#include "store/object_grid_text.h"
#include "support/example_event.h"
#include "support/qt_widgets_app.h"
#include "support/temp_folder.h"
#include "ui/operator_box_recorder.h"

namespace {

Event_Record Event(const char* account) {
  return Example_Event({.Line = "",
                        .Account = account,
                        .Group = "",
                        .Zone = "",
                        .Address = "10.1.2.3",
                        .Quality = 0});
}

Extended_Data Extended(const char* text) {
  Extended_Data data{};
  std::memcpy(data.data(), text, std::min(std::strlen(text), data.size()));
  return data;
}

class Object_List_Test : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "Europe/Vilnius", 1);
    tzset();
    ASSERT_EQ(objects_.Load(), "");
    form_.Set_Box_Runner(boxes_.Runner());
  }
  void Show() {
    form_.show();
    QCoreApplication::processEvents();
  }
  // A message from `account`, as the receiver stores it.
  void Receive(const char* account, const char* extended = "") {
    Event_Record event = Event(account);
    objects_.Update(event, Extended(extended));
    sync_.New_Event_Signal.Set();
  }
  // One tick of the supervision timer.
  void Tick() { form_.Ping_Ticked(objects_.Ping_Tick()); }
  // Selects grid cell (row, column) as a click or a key would.
  void Select(int row, int column) {
    auto* grid = form_.StringGrid_Latest_Events;
    grid->setCurrentIndex(grid->model()->index(row - 1, column));
    QCoreApplication::processEvents();
  }
  void Type(Qt::Key key, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(form_.Edit_Tmr, &press);
  }
  Object_Record File_Record(int i) {
    std::ifstream file(objects_.Path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), {});
    Object_Record record{};
    std::memcpy(&record, bytes.data() + sizeof(Object_Record) * i, sizeof record);
    return record;
  }
  // The colour of the grid's pixel at the left edge of a row's first cell.
  QColor Row_Colour(int row) {
    auto* grid = form_.StringGrid_Latest_Events;
    const QRect cell = grid->visualRect(grid->model()->index(row - 1, 0));
    const QImage image = grid->viewport()->grab().toImage();
    return image.pixelColor(cell.left() + 1, cell.center().y());
  }

  QApplication& app_ = Test_Widgets_App();
  Temp_Folder folder_;
  Shared_Sync sync_;
  Object_Table objects_{folder_.File(OBJECT_FILE_NAME), sync_.Object_Table_Lock};
  QTimer supervision_;
  Operator_Box_Recorder boxes_;
  TForm_Latest_Events form_{objects_, sync_, &supervision_};
};

TEST_F(Object_List_Test, The_Window_Has_Its_Frame_And_Menu) {
  EXPECT_EQ(form_.windowTitle(), "Object List");
  EXPECT_TRUE(form_.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_FALSE(form_.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_FALSE(form_.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
  // The client area under the menu bar is 777 x 366, wider only where the font needs it.
  EXPECT_GE(form_.width(), 777);
  EXPECT_EQ(form_.height(), form_.menuBar()->sizeHint().height() + 366);
  EXPECT_EQ(form_.minimumSize(), QSize(600, 200));
  EXPECT_EQ(form_.Menu_Delete_Objects->text(), "Delete all objects");
  EXPECT_GE(form_.StringGrid_Latest_Events->horizontalHeader()->height(), 36);
  EXPECT_EQ(form_.Image_Trash.size(), QSize(16, 16));
  EXPECT_FALSE(form_.Edit_Tmr->isVisibleTo(&form_));
}

TEST_F(Object_List_Test, An_Empty_Table_Shows_The_Header_And_One_Empty_Row) {
  Show();
  ASSERT_EQ(form_.Row_Count(), 2);
  for (int c = 0; c < OBJECT_GRID_COLUMN_COUNT; ++c) {
    EXPECT_EQ(form_.Cell(0, c), OBJECT_GRID_COLUMNS[c].Header);
    EXPECT_EQ(form_.Cell(1, c), "") << "column " << c;
  }
  EXPECT_EQ(form_.Status_Text(), "Number of objects: 0");
}

TEST_F(Object_List_Test, New_Objects_Show_At_The_Next_Tick_With_Their_Timeout) {
  Show();
  Receive("1234");
  Receive("5678", "[Q55]");
  EXPECT_EQ(form_.Row_Count(), 2);  // not before the tick
  Tick();
  ASSERT_EQ(form_.Row_Count(), 3);
  EXPECT_EQ(form_.Cell(1, 1), "1234");
  EXPECT_EQ(form_.Cell(1, 9), "70 min");
  EXPECT_EQ(form_.Cell(1, 8), "");
  EXPECT_EQ(form_.Cell(2, 1), "5678");
  EXPECT_EQ(form_.Cell(2, 9), "6 min");
  EXPECT_EQ(form_.Cell(2, 8), " 55 %");
  EXPECT_EQ(form_.Cell(2, 0), "00:13:20   2023-11-15");
  EXPECT_EQ(form_.Status_Text(), "Number of objects: 2");
}

TEST_F(Object_List_Test, An_Expired_Object_Turns_Red_At_The_Tick_Of_Expiry) {
  Receive("1234");
  Receive("5678");
  ASSERT_TRUE(objects_.Change_Timeout(0, 1));  // 60 seconds
  Show();
  const QColor window = Row_Colour(1);
  for (int t = 1; t < 60; ++t) Tick();
  EXPECT_FALSE(form_.Row_Lost(1));
  EXPECT_EQ(Row_Colour(1), window);

  Tick();  // the 60th: no event arrived, the loss alone refreshes
  EXPECT_TRUE(form_.Row_Lost(1));
  EXPECT_FALSE(form_.Row_Lost(2));
  EXPECT_EQ(Row_Colour(1), QColor(255, 0, 0));
  EXPECT_EQ(Row_Colour(2), window);

  // Selected, the lost row stays red (with yellow text).
  Select(1, 2);
  EXPECT_EQ(Row_Colour(1), QColor(255, 0, 0));
  Select(2, 2);
  EXPECT_EQ(Row_Colour(2), QColor(250, 250, 250));

  Receive("1234");  // back
  Tick();
  EXPECT_FALSE(form_.Row_Lost(1));
  EXPECT_EQ(Row_Colour(1), window);
}

TEST_F(Object_List_Test, Typing_A_Timeout_Writes_The_Record_On_Every_Keystroke) {
  Receive("1234");
  Show();
  Select(1, OBJECT_COLUMN_TIMEOUT);
  ASSERT_TRUE(form_.Edit_Tmr->isVisible());
  EXPECT_EQ(form_.Edit_Tmr->text(), "70");

  form_.Edit_Tmr->selectAll();
  Type(Qt::Key_1, "1");
  EXPECT_EQ(objects_.Record(0).Ping_Timeout, 1u);
  EXPECT_EQ(objects_.Record(0).Ping_Countdown, 60u);
  EXPECT_EQ(File_Record(0).Ping_Timeout, 1u);
  Type(Qt::Key_5, "5");
  EXPECT_EQ(objects_.Record(0).Ping_Timeout, 15u);
  EXPECT_EQ(File_Record(0).Ping_Timeout, 15u);

  // Clearing the text writes nothing.
  form_.Edit_Tmr->selectAll();
  Type(Qt::Key_Delete, "");
  EXPECT_EQ(form_.Edit_Tmr->text(), "");
  EXPECT_EQ(File_Record(0).Ping_Timeout, 15u);
  EXPECT_TRUE(boxes_.Boxes.empty());

  // A text that is no number is refused and changes nothing.
  Type(Qt::Key_X, "x");
  ASSERT_EQ(boxes_.Boxes.size(), 1u);
  EXPECT_EQ(boxes_.Boxes[0].Text, "'x' is not a valid integer value");
  EXPECT_EQ(objects_.Record(0).Ping_Timeout, 15u);
  form_.Edit_Tmr->setText("7");
  Type(Qt::Key_1, "1");  // 71 would pass; 71582789 minutes does not fit the countdown
  form_.Edit_Tmr->setText("7158278");
  Type(Qt::Key_9, "9");
  ASSERT_EQ(boxes_.Boxes.size(), 2u);
  EXPECT_EQ(objects_.Record(0).Ping_Timeout, 71u);

  // Another column hides the edit box.
  Select(1, 2);
  EXPECT_FALSE(form_.Edit_Tmr->isVisible());
}

TEST_F(Object_List_Test, While_A_Timeout_Is_Edited_Events_Do_Not_Refresh_The_List) {
  Receive("1234");
  Show();
  Tick();
  Select(1, OBJECT_COLUMN_TIMEOUT);
  ASSERT_TRUE(form_.Edit_Tmr->isVisible());
  Receive("5678");
  Tick();
  EXPECT_EQ(form_.Row_Count(), 2);
  Select(1, 3);  // the edit box goes
  ASSERT_FALSE(form_.Edit_Tmr->isVisible());
  Tick();
  EXPECT_EQ(form_.Row_Count(), 3);
  EXPECT_EQ(form_.Cell(2, 1), "5678");
}

TEST_F(Object_List_Test, Deleting_An_Object_Asks_And_Moves_The_Rows_Below_Up) {
  for (int n = 1; n <= 8; ++n) Receive(std::to_string(1000 + n).c_str());
  Show();
  ASSERT_EQ(form_.Row_Count(), 9);

  boxes_.Answer = QMessageBox::No;
  Select(5, OBJECT_COLUMN_TRASH);
  ASSERT_EQ(boxes_.Boxes.size(), 1u);
  EXPECT_EQ(boxes_.Boxes[0].Title, MAIN_WINDOW_CAPTION);
  EXPECT_EQ(boxes_.Boxes[0].Text, "Delete object  1005 ?");
  EXPECT_EQ(boxes_.Boxes[0].Icon, QMessageBox::Question);
  EXPECT_EQ(boxes_.Boxes[0].Buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(objects_.Count(), 8);

  // A second click on the same cell asks again.
  boxes_.Answer = QMessageBox::Yes;
  auto* grid = form_.StringGrid_Latest_Events;
  const QPoint at = grid->visualRect(grid->model()->index(4, OBJECT_COLUMN_TRASH)).center();
  QMouseEvent press(QEvent::MouseButtonPress, at, grid->viewport()->mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(grid->viewport(), &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, grid->viewport()->mapToGlobal(at),
                      Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(grid->viewport(), &release);
  QCoreApplication::processEvents();
  ASSERT_EQ(boxes_.Boxes.size(), 2u);

  EXPECT_EQ(objects_.Count(), 7);
  ASSERT_EQ(form_.Row_Count(), 8);
  const char* accounts[] = {"1001", "1002", "1003", "1004", "1006", "1007", "1008"};
  for (int r = 1; r <= 7; ++r) EXPECT_EQ(form_.Cell(r, 1), accounts[r - 1]) << "row " << r;
  EXPECT_EQ(File_Record(7).Last_Event_Time, 0);
  EXPECT_EQ(std::string(File_Record(4).Account_Nr), "1006");
  EXPECT_EQ(boxes_.Boxes.size(), 2u);  // the refresh asked nothing more
  EXPECT_TRUE(sync_.Run_Gate.Is_Set());

  // The empty row and the other columns never ask.
  Select(3, 4);
  EXPECT_EQ(boxes_.Boxes.size(), 2u);
}

TEST_F(Object_List_Test, Delete_All_Objects_Asks_And_Keeps_The_Timer_Running) {
  for (int n = 1; n <= 3; ++n) Receive(std::to_string(n).c_str());
  supervision_.start(1000);
  Show();

  boxes_.Answer = QMessageBox::Cancel;
  form_.Menu_Delete_Objects->trigger();
  ASSERT_EQ(boxes_.Boxes.size(), 1u);
  EXPECT_EQ(boxes_.Boxes[0].Title, "Delete all objects");
  EXPECT_EQ(boxes_.Boxes[0].Text, "     Are you sure you want to delete all objects?");
  EXPECT_EQ(boxes_.Boxes[0].Icon, QMessageBox::Question);
  EXPECT_EQ(boxes_.Boxes[0].Buttons, QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(objects_.Count(), 3);

  boxes_.Answer = QMessageBox::Ok;
  form_.Menu_Delete_Objects->trigger();
  EXPECT_EQ(objects_.Count(), 0);
  EXPECT_EQ(form_.Row_Count(), 2);
  EXPECT_EQ(form_.Status_Text(), "Number of objects: 0");
  EXPECT_TRUE(supervision_.isActive());
  EXPECT_TRUE(sync_.Run_Gate.Is_Set());
  EXPECT_EQ(File_Record(0).Last_Event_Time, 0);
}

TEST_F(Object_List_Test, Column_Widths_Follow_The_Window_Width) {
  Show();
  const int w = form_.frameGeometry().width();
  EXPECT_EQ(form_.StringGrid_Latest_Events->columnWidth(0), w * 17 / 100);
  EXPECT_EQ(form_.StringGrid_Latest_Events->columnWidth(7), w * 15 / 100);
}

}  // namespace
