// The Data Log window: lines only while visible, unprintable bytes as <XX>, Save and Clear.
#include "ui/data_log_form.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QMenuBar>
#include <fstream>
#include <iterator>

#include "support/qt_widgets_app.h"
#include "support/temp_folder.h"
#include "ui/operator_box_recorder.h"

namespace {

std::string Read_File(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class Data_Log_Test : public ::testing::Test {
 protected:
  void SetUp() override {
    form_.Set_Box_Runner(boxes_.Runner());
    form_.Set_File_Chooser([this](QWidget*) { return chosen_; });
  }
  void Show() {
    form_.show();
    QCoreApplication::processEvents();
  }

  QApplication& app_ = Test_Widgets_App();
  Temp_Folder folder_;
  Operator_Box_Recorder boxes_;
  QString chosen_;
  TForm_Log_Test form_;
};

TEST_F(Data_Log_Test, The_Window_Has_Its_Frame_And_Menu) {
  EXPECT_EQ(form_.windowTitle(), "Data Log");
  // The client area under the menu bar is 676 x 473.
  EXPECT_EQ(form_.size(), QSize(676, form_.menuBar()->sizeHint().height() + 473));
  EXPECT_TRUE(form_.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_FALSE(form_.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_EQ(form_.Meniu_Log_Save->text(), "Save");
  EXPECT_EQ(form_.Clear1->text(), "Clear");
}

TEST_F(Data_Log_Test, Lines_Are_Added_Only_While_Visible_And_Stay_Whole) {
  EXPECT_FALSE(form_.Data_Log_Visible());
  form_.Data_Log_Line("lost while hidden");
  Show();
  EXPECT_TRUE(form_.Data_Log_Visible());
  EXPECT_EQ(form_.Memo_Log_Test->toPlainText(), "");

  form_.Data_Log_Line("");
  form_.Data_Log_Line("14:03:07:5  \n\"SIA-DCS\"0001R1L0#1234[#1234|1401 01 015]\r");
  form_.Data_Log_Line(std::string("14:03:07:9  RX: 6\0\x01\xFF", 20));
  EXPECT_EQ(form_.Memo_Log_Test->document()->blockCount(), 3);
  EXPECT_EQ(form_.Memo_Log_Test->toPlainText(),
            "\n14:03:07:5  <0A>\"SIA-DCS\"0001R1L0#1234[#1234|1401 01 015]<0D>\n"
            "14:03:07:9  RX: 6<00><01><FF>");

  // Hiding keeps the lines; what arrives meanwhile is lost to the window.
  form_.hide();
  form_.Data_Log_Line("meanwhile");
  Show();
  EXPECT_EQ(form_.Memo_Log_Test->document()->blockCount(), 3);

  form_.Clear1->trigger();
  EXPECT_EQ(form_.Memo_Log_Test->toPlainText(), "");
  EXPECT_TRUE(boxes_.Boxes.empty());
}

TEST_F(Data_Log_Test, Save_Writes_The_Lines_And_Asks_Before_Overwriting) {
  Show();
  form_.Data_Log_Line("first");
  form_.Data_Log_Line("second");
  const std::string path = folder_.File("traffic.txt");

  chosen_ = "";  // cancelled
  form_.Meniu_Log_Save->trigger();
  EXPECT_EQ(Read_File(path), "");

  chosen_ = QString::fromStdString(path);
  form_.Meniu_Log_Save->trigger();
  EXPECT_TRUE(boxes_.Boxes.empty());
  EXPECT_EQ(Read_File(path), "first\nsecond\n");

  form_.Data_Log_Line("third");
  boxes_.Answer = QMessageBox::No;
  form_.Meniu_Log_Save->trigger();
  ASSERT_EQ(boxes_.Boxes.size(), 1u);
  EXPECT_EQ(boxes_.Boxes[0].Title, "File name already exist");
  EXPECT_EQ(boxes_.Boxes[0].Text, "This file name already exist, do you want to override it?");
  EXPECT_EQ(boxes_.Boxes[0].Icon, QMessageBox::NoIcon);
  EXPECT_EQ(boxes_.Boxes[0].Buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(Read_File(path), "first\nsecond\n");

  boxes_.Answer = QMessageBox::Yes;
  form_.Meniu_Log_Save->trigger();
  EXPECT_EQ(Read_File(path), "first\nsecond\nthird\n");

  form_.Clear1->trigger();
  form_.Meniu_Log_Save->trigger();
  EXPECT_EQ(Read_File(path), "");
}

TEST_F(Data_Log_Test, A_File_That_Cannot_Be_Written_Is_Reported) {
  Show();
  form_.Data_Log_Line("line");
  chosen_ = QString::fromStdString(folder_.File("no_such_folder/traffic.txt"));
  form_.Meniu_Log_Save->trigger();
  ASSERT_EQ(boxes_.Boxes.size(), 1u);
  EXPECT_EQ(boxes_.Boxes[0].Icon, QMessageBox::Critical);
  EXPECT_TRUE(boxes_.Boxes[0].Text.startsWith("Cannot create file \"" + chosen_ + "\"."));
  EXPECT_EQ(form_.Memo_Log_Test->toPlainText(), "line");
}

}  // namespace
