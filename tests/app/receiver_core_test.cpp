// The headless core: start-up loads the files and runs the timers, shutdown stops them in order,
// worker threads reach the main thread through Run_On_Main.
#include "app/receiver_core.h"

#include <QThread>
#include <filesystem>
#include <thread>
#include <vector>

#include "automation/link_manager.h"
#include "automation/report_format.h"
#include "receiver/receiver_fixture.h"
#include "support/automation_peer.h"

namespace receiver_test {
namespace {

using Core = Receiver_Fixture;

TEST_F(Core, StartLoadsTheFilesAndTheTimersOpenThePort) {
  Test_Core_App();
  std::ofstream(folder_.File(SETTINGS_FILE_NAME), std::ios::binary)
      .write(reinterpret_cast<const char*>(&settings_), sizeof(settings_));
  core_ = std::make_unique<Receiver_Core>(folder_.Path());
  core_->Log().Set_Pane(&pane_);
  core_->Start();
  EXPECT_TRUE(core_->Is_Running());
  EXPECT_EQ(std::filesystem::file_size(folder_.File(JOURNAL_FILE_NAME)), JOURNAL_FILE_SIZE);
  EXPECT_EQ(std::filesystem::file_size(folder_.File(OBJECT_FILE_NAME)), OBJECT_FILE_SIZE);
  EXPECT_EQ(core_->Settings().DC9_Port_Enable, 1);
  EXPECT_FALSE(core_->Receiver().Is_Active());  // start-up itself opens nothing

  int ticks = 0;
  QObject::connect(core_.get(), &Receiver_Core::Ping_Ticked, [&](bool) { ++ticks; });
  EXPECT_TRUE(
      Wait_Until([&] { return core_->Receiver().Is_Active(); }, std::chrono::milliseconds(3000)));
  EXPECT_TRUE(Wait_Until([&] { return !pane_.With("Program started.").empty(); }));
  EXPECT_EQ(pane_.With("Program started.").size(), 1u);
  EXPECT_TRUE(Wait_Until([&] { return ticks > 0; }, std::chrono::milliseconds(3000)));
}

TEST_F(Core, ShutdownStopsEverythingAndLogsProgramClosedLast) {
  Start();
  auto client = Connect();
  core_->Shutdown();
  EXPECT_FALSE(core_->Is_Running());
  EXPECT_FALSE(Server().Is_Active());
  EXPECT_FALSE(Server().Timer_Running());
  EXPECT_FALSE(core_->Ping_Timer().isActive());
  EXPECT_FALSE(core_->Sync().Run_Gate.Is_Set());
  EXPECT_TRUE(core_->Sync().Answer_Event.Is_Set());
  EXPECT_TRUE(client->Closed_By_Peer());
  ASSERT_FALSE(pane_.Lines.empty());
  EXPECT_NE(pane_.Lines.back().Text.find("  Program closed"), std::string::npos);
  core_->Shutdown();
  core_.reset();
  EXPECT_EQ(pane_.With("Program closed").size(), 1u);
}

TEST_F(Core, ReloadAppliesTheFileAndReopensAChangedAutomationPort) {
  const int out_a = Free_Port(), out_b = Free_Port();
  settings_.Out_Mode = OUT_MODE_TCP;
  settings_.Out_TCP_Server = OUT_TCP_SERVER;
  settings_.Out_Port = out_a;
  settings_.HB_Period = 0;
  Start();
  core_->Link().Timer_OutTimer();
  ASSERT_TRUE(core_->Link().Listener_Active());
  EXPECT_TRUE(Client(static_cast<uint16_t>(out_a)).Connected());

  // The file changes under the running core (a link port and a plain number).
  Settings_Record changed = settings_;
  changed.Out_Port = out_b;
  changed.HB_Receiver_Nr = 77;
  std::ofstream(folder_.File(SETTINGS_FILE_NAME), std::ios::binary)
      .write(reinterpret_cast<const char*>(&changed), sizeof(changed));
  ASSERT_TRUE(core_->Reload_Settings());
  EXPECT_EQ(static_cast<int>(core_->Settings().HB_Receiver_Nr), 77);
  EXPECT_EQ(static_cast<int>(core_->Settings().Out_Port), out_b);
  EXPECT_FALSE(core_->Link().Listener_Active());  // the old port closed at once
  EXPECT_EQ(pane_.With("Automation software port " + std::to_string(out_a) + " closed.").size(),
            1u);
  core_->Link().Timer_OutTimer();  // the prompt tick the reload asked for
  EXPECT_TRUE(core_->Link().Listener_Active());
  EXPECT_TRUE(Client(static_cast<uint16_t>(out_b)).Connected());
  EXPECT_FALSE(Client(static_cast<uint16_t>(out_a)).Connected());
  // The receiver port did not change: it stayed open throughout.
  EXPECT_TRUE(Server().Is_Active());
  EXPECT_TRUE(pane_.With("closed to reopen").empty());

  // A file that cannot be read leaves the settings as they are.
  std::filesystem::remove(folder_.File(SETTINGS_FILE_NAME));
  std::filesystem::create_directory(folder_.File(SETTINGS_FILE_NAME));
  EXPECT_FALSE(core_->Reload_Settings());
  EXPECT_EQ(static_cast<int>(core_->Settings().HB_Receiver_Nr), 77);
  const auto refused = pane_.With("Settings not reloaded: cannot read");
  ASSERT_EQ(refused.size(), 1u);
  // The line says why: the system's text for the failure.
  EXPECT_NE(refused[0].Text.find(" Error: "), std::string::npos) << refused[0].Text;
}

// A change pushed by the main thread (as a page's change or the data log's showing does) is the
// report sender's at once: the next line has the new format, with no tick of the link between.
TEST_F(Core, PushedSettingsAreTheReportSendersAtOnce) {
  settings_.Out_Mode = OUT_MODE_TCP;
  settings_.Out_TCP_Server = OUT_TCP_SERVER;
  settings_.Out_Port = Free_Port();
  settings_.HB_Period = 0;
  settings_.Report_Format = 0;
  Start();
  core_->Link().Timer_OutTimer();
  ASSERT_TRUE(core_->Link().Listener_Active());
  Automation_Peer peer(Automation_Peer::Connect_Fd(settings_.Out_Port),
                       Automation_Peer::Always(PEER_ACK), Automation_Peer::Fd::Owned);
  ASSERT_TRUE(Wait_Until([&] { return core_->Link().Listener_Connections() == 1; }));
  core_->Link().Timer_OutTimer();
  ASSERT_TRUE(
      Wait_Until([&] { return core_->Sync().Link_State.load() == (LINK_OPEN | LINK_ALIVE); }));

  core_->Link().Stop();  // Timer_Out stands still: no tick hands the settings over meanwhile
  core_->Settings().Report_Format = 1;
  core_->Push_Settings();
  auto client = Connect();
  Send_And_Wait(*client, Cid_Frame("1234", 2));
  ASSERT_TRUE(Wait_Until([&] { return peer.Count() >= 1; }));
  const Event_Record stored = core_->Journal().Slot(0);
  EXPECT_EQ(peer.Texts()[0], Format_Report_Line(stored, 1));
  EXPECT_NE(peer.Texts()[0], Format_Report_Line(stored, 0));
}

TEST_F(Core, RunOnMainRunsWorkOnTheMainThreadAndWaits) {
  Start(false);
  QThread* main = QThread::currentThread();
  QThread* ran_on = nullptr;
  bool returned = false;
  std::thread worker([&] {
    core_->Run_On_Main([&] {
      ran_on = QThread::currentThread();
      core_->Operator().Log_Message("from the worker", LOG_BLACK);
    });
    returned = true;  // written after the work, read after join
  });
  EXPECT_TRUE(Wait_Until([&] { return !pane_.With("from the worker").empty(); }));
  worker.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(ran_on, main);
}

TEST_F(Core, MessageBoxReachesTheScreenAndHeadlessOperatorIsSilent) {
  Start(false);
  core_->Operator().Show_Message("Port in use");
  ASSERT_EQ(screen_.Messages.size(), 1u);
  EXPECT_EQ(screen_.Messages[0], "Port in use");
  core_->Attach_Screen(nullptr);
  core_->Operator().Show_Message("headless");
  core_->Operator().Beep();
  core_->Operator().Set_Status_Text(STATUS_RECEIVER, "x");
  EXPECT_FALSE(core_->Operator().Data_Log_Visible());
  EXPECT_EQ(screen_.Messages.size(), 1u);
}

TEST_F(Core, StoredMessagesRefreshTheEventsWhileTheLinkIsDownLinkTestsIncluded) {
  settings_.Out_Mode = OUT_MODE_CLOSED;  // nobody takes the events: no report sender refresh
  Start();
  auto client = Connect();
  const int before = screen_.Event_Refreshes;
  Send_And_Wait(*client, Link_Test_Frame());
  EXPECT_TRUE(Wait_Until([&] { return screen_.Event_Refreshes > before; }));
  const int after_link_test = screen_.Event_Refreshes;
  Send_And_Wait(*client, Cid_Frame("1234", 2));
  EXPECT_TRUE(Wait_Until([&] { return screen_.Event_Refreshes > after_link_test; }));
  EXPECT_EQ(core_->Journal().Head(), 2u);
}

TEST_F(Core, EventsRefreshesAskedFromManyThreadsRunOnceOnTheMainThread) {
  Start(false);
  const int before = screen_.Event_Refreshes;
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t) {
    posters.emplace_back([&] {
      for (int i = 0; i < 500; ++i) core_->Post_Events_Refresh();
    });
  }
  for (std::thread& poster : posters) poster.join();
  EXPECT_TRUE(Wait_Until([&] { return screen_.Event_Refreshes > before; }));
  QCoreApplication::processEvents();
  EXPECT_EQ(screen_.Event_Refreshes, before + 1);
  // Once it has run, the next request is served again.
  core_->Post_Events_Refresh();
  EXPECT_TRUE(Wait_Until([&] { return screen_.Event_Refreshes == before + 2; }));
}

}  // namespace
}  // namespace receiver_test
