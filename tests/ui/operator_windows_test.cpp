// The operator's windows on a running core: the Object List follows the core's supervision
// ticks, the Event List follows the report sender's save passes, "Delete all objects" leaves the
// supervision timer running.
#include "ui/operator_windows.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "app/receiver_core.h"
#include "support/qt_widgets_app.h"
#include "support/temp_folder.h"
#include "ui/operator_box_recorder.h"

namespace {

// The screen of the test: only the window hooks, as the main window forwards them.
class Window_Screen : public Operator_Port {
 public:
  explicit Window_Screen(Operator_Windows*& windows) : windows_(windows) {}
  void Log_Message(const std::string&, uint32_t) override {}
  void Beep() override {}
  void Play_Notify_Sound() override {}
  void Set_Status_Text(int, const std::string&) override {}
  bool Data_Log_Visible() override { return windows_ && windows_->Data_Log().Data_Log_Visible(); }
  void Data_Log_Line(const std::string& line) override {
    if (windows_) windows_->Data_Log().Data_Log_Line(line);
  }
  void Refresh_Events() override {
    if (windows_) windows_->Events().Refresh_Log_Grid();
  }
  void Refresh_Mon_Out() override {}
  void Show_Message(const std::string&) override {}

 private:
  Operator_Windows*& windows_;
};

Event_Record Event(const char* account) {
  Event_Record e{};
  e.Status = EVT_PRESENT;
  std::snprintf(e.Account_Nr, sizeof e.Account_Nr, "%s", account);
  std::snprintf(e.Event_Code, sizeof e.Event_Code, "1401");
  e.Time_Received = 1700000000;
  e.Signal_Quality = 255;
  return e;
}

class Operator_Windows_Test : public ::testing::Test {
 protected:
  void SetUp() override {
    core_.Attach_Screen(&screen_);
    core_.Start();
    windows_ = &owned_;
    owned_.Set_Box_Runner(boxes_.Runner());
  }
  void TearDown() override {
    core_.Shutdown();
    core_.Attach_Screen(nullptr);
    windows_ = nullptr;
  }
  // A message as the receiver stores it.
  void Receive(const char* account) {
    Event_Record event = Event(account);
    core_.Objects().Update(event, Extended_Data{});
    core_.Journal().Append(event);
    core_.Sync().New_Event_Signal.Set();
  }

  QApplication& app_ = Test_Widgets_App();
  Temp_Folder folder_;
  Operator_Windows* windows_ = nullptr;
  Window_Screen screen_{windows_};
  Receiver_Core core_{folder_.Path()};
  Operator_Windows owned_{core_, nullptr};
  Operator_Box_Recorder boxes_;
};

TEST_F(Operator_Windows_Test, The_Object_List_Follows_The_Supervision_Ticks) {
  TForm_Latest_Events& list = owned_.Objects();
  Operator_Windows::Show_Window(list);
  ASSERT_TRUE(Pump_Until([&] { return list.isVisible(); }));
  EXPECT_EQ(list.Status_Text(), "Number of objects: 0");

  Receive("1234");
  EXPECT_TRUE(Pump_Until([&] { return list.Cell(1, 1) == "1234"; }, 3000));
  EXPECT_EQ(list.Cell(1, 9), "70 min");
  EXPECT_EQ(list.Status_Text(), "Number of objects: 1");

  owned_.Set_Box_Runner([](QWidget*, const Operator_Box&) { return QMessageBox::Ok; });
  list.Menu_Delete_Objects->trigger();
  EXPECT_EQ(core_.Objects().Count(), 0);
  EXPECT_EQ(list.Status_Text(), "Number of objects: 0");
  EXPECT_TRUE(core_.Ping_Timer().isActive());
}

TEST_F(Operator_Windows_Test, The_Event_List_Refreshes_Through_The_Operator_Port) {
  TForm_Events& events = owned_.Events();
  Operator_Windows::Show_Window(events);
  ASSERT_TRUE(Pump_Until([&] { return events.isVisible(); }));
  Receive("5678");
  EXPECT_EQ(events.Cell(1, 3), "");  // shown from the next refresh on
  // The save pass as the report sender runs it: the event is saved, and the window is refreshed
  // through the core's operator port.
  const Event_Journal::Save_Outcome saved = core_.Journal().Save_New(core_.Sync().Run_Gate);
  ASSERT_TRUE(saved.Refresh);
  core_.Operator().Refresh_Events();
  EXPECT_EQ(events.Cell(1, 9), "Pending");
  EXPECT_EQ(events.Cell(1, 3), " 5678");
  EXPECT_EQ(events.Status_Text(), "Events received: 1");
}

}  // namespace
