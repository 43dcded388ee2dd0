// The "Virtual Serial Ports" menu item: the pair made or found goes to the log in black, a socat
// that cannot start gives a warning box, and the port list is refreshed in every case.
#include "ui/virtual_ports_menu.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "support/qt_widgets_app.h"
#include "support/recording_screen.h"
#include "support/temp_folder.h"
#include "ui/operator_box_recorder.h"

namespace {

class Virtual_Ports_Menu_Test : public ::testing::Test {
 protected:
  QApplication& app_ = Test_Widgets_App();
  Temp_Folder data_;
  Recording_Screen screen_;
  Operator_Box_Recorder boxes_;
  int port_lists_ = 0;
  std::function<void()> com_ports_available_ = [this] { ++port_lists_; };
};

TEST_F(Virtual_Ports_Menu_Test, A_New_Pair_Is_Logged_And_The_Port_List_Refreshed) {
  Temp_Folder dev;  // no real serial port takes a number
  Virtual_Ports_Tool tool(data_.Path(), "socat", {}, dev.Path());
  const Virtual_Ports_Outcome made =
      VirtualPortsTool1Click(tool, screen_, boxes_.Runner(), nullptr, com_ports_available_);
  ASSERT_EQ(made.Result, Virtual_Ports_Outcome::Created) << made.Warning;
  struct Stop_Socat {
    int64_t pid;
    ~Stop_Socat() { kill(static_cast<pid_t>(pid), SIGTERM); }
  } stop{made.Socat_Pid};

  EXPECT_TRUE(boxes_.Boxes.empty());
  EXPECT_EQ(port_lists_, 1);
  ASSERT_EQ(screen_.Lines.size(), 1u);
  EXPECT_EQ(screen_.Lines[0].Text, "Virtual serial ports created: COM1 = " + data_.Path() +
                                       "ports/COM1 linked to COM2 = " + data_.Path() +
                                       "ports/COM2");
  EXPECT_EQ(screen_.Lines[0].Colour, LOG_BLACK);
  // Both ends are there for the port list to open.
  for (const char* end : {"ports/COM1", "ports/COM2"}) {
    const int fd = open((data_.Path() + end).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(fd, 0) << end;
    if (fd >= 0) close(fd);
  }

  const Virtual_Ports_Outcome found =
      VirtualPortsTool1Click(tool, screen_, boxes_.Runner(), nullptr, com_ports_available_);
  EXPECT_EQ(found.Result, Virtual_Ports_Outcome::Found);
  EXPECT_EQ(port_lists_, 2);
  ASSERT_EQ(screen_.Lines.size(), 2u);
  EXPECT_EQ(screen_.Lines[1].Text.rfind("Virtual serial ports found: COM1 = ", 0), 0u)
      << screen_.Lines[1].Text;
}

TEST_F(Virtual_Ports_Menu_Test, A_Socat_That_Cannot_Start_Gives_A_Warning) {
  Virtual_Ports_Tool tool(data_.Path(), "/nonexistent/socat");
  VirtualPortsTool1Click(tool, screen_, boxes_.Runner(), nullptr, com_ports_available_);
  ASSERT_EQ(boxes_.Boxes.size(), 1u);
  EXPECT_EQ(boxes_.Boxes[0].Title, MAIN_WINDOW_CAPTION);
  EXPECT_EQ(boxes_.Boxes[0].Icon, QMessageBox::Warning);
  EXPECT_EQ(boxes_.Boxes[0].Buttons, QMessageBox::Ok);
  EXPECT_TRUE(boxes_.Boxes[0].Text.startsWith("socat could not be started"));
  EXPECT_TRUE(screen_.Lines.empty());
  EXPECT_EQ(port_lists_, 1);
}

}  // namespace

// Without a screen a box cannot be answered: the real runner takes the safe answer at once.
TEST(Operator_Box_Test, Headless_Boxes_Take_The_Safe_Answer) {
  Test_Widgets_App();
  ASSERT_EQ(QGuiApplication::platformName(), "offscreen");
  const std::pair<QMessageBox::StandardButtons, QMessageBox::StandardButton> cases[] = {
      {QMessageBox::Yes | QMessageBox::No, QMessageBox::No},
      {QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel},
      {QMessageBox::Ok, QMessageBox::Ok},
  };
  for (const auto& [buttons, answer] : cases) {
    EXPECT_EQ(Run_Operator_Box(nullptr, {"Title", "Question?", QMessageBox::Question, buttons}),
              answer);
  }
}
