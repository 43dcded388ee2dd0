// End-to-end tests of the report sender: real sockets on 127.0.0.1 and a pseudo-terminal pair
// carry the report lines to a stand-in automation software, and the journal file is read back.
#include "automation/report_sender.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include <QDir>
#include <QFile>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <regex>
#include <thread>

#include "automation/link_fixture.h"
#include "support/automation_peer.h"
#include "support/pty_pair.h"

namespace {

using namespace automation_test;

using namespace std::chrono_literals;

constexpr uint32_t LINK_UP = LINK_OPEN | LINK_ALIVE;

const std::string EXAMPLE_DG = "5011 181234E40101001\x14";
const std::string EXAMPLE_2000 = "501001 181234E40101001\x14";

class Report_Sender_Test : public ::testing::Test {
 protected:
  // A new receiver side (empty journal, new link) for each row of a table.
  void Renew() {
    f.reset();
    peer.reset();
    f = std::make_unique<Link_Fixture>();
  }

  // TCP server mode: opens the listener, connects a peer and ticks until LINK_OPEN.
  void Open_Server_Link(Automation_Peer::Policy policy) {
    f->settings.Out_Mode = 1;
    f->settings.Out_TCP_Server = 1;
    f->link.Timer_OutTimer();
    ASSERT_TRUE(f->link.Listener_Active());
    peer = std::make_unique<Automation_Peer>(Automation_Peer::Connect_Fd(f->settings.Out_Port),
                                             std::move(policy), Automation_Peer::Fd::Owned);
    ASSERT_TRUE(f->Tick_Until([&] { return (f->sync.Link_State.load() & LINK_OPEN) != 0; }));
  }

  // Serial mode on a pseudo-terminal linked as COM7, the peer answering ACK at its master; the
  // workers started and the first tick done.
  void Open_Serial_Link(Automation_Peer::Policy policy = Automation_Peer::Always(PEER_ACK)) {
    pty = std::make_unique<Pty_Pair>();
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(f->folder.File("ports"))));
    ASSERT_EQ(::symlink(pty->Slave_Path().c_str(), f->folder.File("ports/COM7").c_str()), 0);
    peer = std::make_unique<Automation_Peer>(pty->Master(), std::move(policy));
    f->settings.Out_Mode = OUT_MODE_SERIAL;
    std::snprintf(f->settings.COM_Name, sizeof f->settings.COM_Name, "COM7");
    f->Start_Workers();
    f->link.Timer_OutTimer();
  }

  // The heartbeat goes out first; after its ACK the link is alive and the example event follows
  // as `expected`; after that ACK the journal file holds Status 7 for its slot. A link test
  // stored before it is never sent.
  void Expect_Heartbeat_Then_Event(const std::string& expected) {
    const int sounds = f->screen.Sounds;
    const int beeps = f->screen.Beeps;
    ASSERT_TRUE(Wait_Until([&] { return peer->Count() >= 1; }));
    EXPECT_EQ(peer->Texts()[0], HEARTBEAT_1);
    ASSERT_TRUE(Wait_Until([&] { return f->sync.Link_State.load() == LINK_UP; }));
    EXPECT_TRUE(Wait_Until([&] {
      return f->screen.Logged("Connection with automation software established.", LOG_BLACK);
    }));
    EXPECT_EQ(f->screen.Sounds, sounds + 1);

    f->journal.Append(Example_Event({.Code = "NULL"}));
    f->journal.Append(Example_Event());
    ASSERT_TRUE(Wait_Until([&] { return f->File_Status(1) == 7; }));
    EXPECT_EQ(peer->Texts(), (std::vector<std::string>{HEARTBEAT_1, expected}));
    EXPECT_EQ(f->journal.Slot(1).Status, EVT_PRESENT | EVT_SAVED | EVT_REPORTED);
    EXPECT_EQ(f->journal.Slot(0).Status, EVT_PRESENT | EVT_SAVED);  // link test: saved only
    EXPECT_EQ(f->File_Status(0), 1);
    EXPECT_TRUE(Wait_Until([&] { return f->screen.Event_Refreshes >= 2; }));
    EXPECT_EQ(f->screen.Beeps, beeps);
  }

  std::unique_ptr<Pty_Pair> pty;
  std::unique_ptr<Automation_Peer> peer;
  std::unique_ptr<Link_Fixture> f = std::make_unique<Link_Fixture>();
};

TEST_F(Report_Sender_Test, ServerModeSendsHeartbeatThenEventInBothFormats) {
  struct Row {
    int8_t Format;
    std::string Expected;
  };
  for (const Row& row : {Row{0, EXAMPLE_DG}, Row{1, EXAMPLE_2000}, Row{7, EXAMPLE_DG}}) {
    SCOPED_TRACE(row.Format);
    Renew();
    f->settings.Report_Format = row.Format;
    f->screen.Data_Log_Shown = true;
    f->Start_Workers();
    Open_Server_Link(Automation_Peer::Always(PEER_ACK));
    Expect_Heartbeat_Then_Event(row.Expected);
    // Each answer while the data log is shown gives "hh:mm:ss:ms  RX: 6".
    ASSERT_TRUE(Wait_Until([&] { return f->screen.Data_Log.size() >= 2; }));
    const std::regex rx_line(R"(\d\d:\d\d:\d\d:\d{1,3}  RX: 6)");
    for (const std::string& line : f->screen.Data_Log) {
      EXPECT_TRUE(std::regex_match(line, rx_line)) << line;
    }
  }
}

TEST_F(Report_Sender_Test, ClientModeSendsHeartbeatThenEvent) {
  peer = std::make_unique<Automation_Peer>(Automation_Peer::Always(PEER_ACK));
  f->settings.Out_Mode = 1;
  f->settings.Out_TCP_Server = 0;
  f->settings.Out_Port = peer->Port();
  std::snprintf(f->settings.Out_IP, sizeof f->settings.Out_IP, "127.0.0.1");
  f->Start_Workers();
  f->link.Timer_OutTimer();  // starts the connection; it completes afterwards
  ASSERT_TRUE(Wait_Until([&] { return f->link.Client_Connected(); }));
  f->link.Set_Reconnect_Delay(0);
  f->link.Timer_OutTimer();
  ASSERT_EQ(f->sync.Link_State.load() & LINK_OPEN, LINK_OPEN);
  EXPECT_TRUE(f->screen.Logged("Port " + std::to_string(peer->Port()) + " connected.", LOG_BLACK));
  Expect_Heartbeat_Then_Event(EXAMPLE_DG);
}

TEST_F(Report_Sender_Test, SerialLineSendsHeartbeatThenEvent) {
  Open_Serial_Link();
  ASSERT_TRUE(f->serial.Is_Open());
  ASSERT_EQ(f->sync.Link_State.load(), LINK_OPEN);
  Expect_Heartbeat_Then_Event(EXAMPLE_DG);
}

// A serial line hung up under the sender: the failed write is logged with the system's code and
// its text.
TEST_F(Report_Sender_Test, AFailedSerialWriteIsLoggedWithItsReason) {
  Open_Serial_Link();
  ASSERT_TRUE(Wait_Until([&] { return f->sync.Link_State.load() == LINK_UP; }));
  peer.reset();
  pty->Close_Master();  // the slave's further writes fail with EIO
  f->journal.Append(Example_Event());
  EXPECT_TRUE(Wait_Until(
      [&] { return f->screen.Logged("COM port error: 5 (Input/output error)", LOG_RED); }, 20s));
}

// With HB_Period 0 no heartbeat is sent and events flow at once. A refused event is offered again
// in a later cycle, and the event in the slot behind it waits until it is taken.
TEST_F(Report_Sender_Test, RefusedEventIsOfferedAgainAndHoldsBackLaterSlots) {
  f->settings.HB_Period = 0;
  f->Start_Workers();
  Open_Server_Link([](int index, const std::string&) { return index == 0 ? PEER_NAK : PEER_ACK; });
  ASSERT_TRUE(Wait_Until([&] { return f->sync.Link_State.load() == LINK_UP; }));
  f->journal.Append(Example_Event({.Account = "1111"}));
  f->journal.Append(Example_Event({.Account = "2222"}));
  ASSERT_TRUE(Wait_Until([&] { return f->File_Status(1) == 7; }));
  const std::string first = "5011 181111E40101001\x14";
  const std::string second = "5011 182222E40101001\x14";
  EXPECT_EQ(peer->Texts(), (std::vector<std::string>{first, first, second}));
  EXPECT_EQ(f->File_Status(0), 7);
  EXPECT_TRUE(
      f->screen.Logged("Link error (data): negative ACK from automation software.", LOG_RED));
  EXPECT_EQ(f->screen.Beeps, 1);
  EXPECT_FALSE(f->screen.Logged("Connection with automation software established.", LOG_BLACK));
  EXPECT_EQ(f->sync.Link_State.load(), LINK_UP);  // a NAK never changes Link_State
}

// "Clear Events" while a report waits for its ACK, then a new event stored (and synced) in the
// same slot, then the late ACK: the new event is not marked; it is reported in its own right.
TEST_F(Report_Sender_Test, LateAckAfterClearingMarksNotTheEventThatTookTheSlot) {
  f->settings.HB_Period = 0;
  f->Start_Workers();
  std::mutex mutex;
  std::condition_variable changed;
  bool offered = false;
  bool answer = false;
  Open_Server_Link([&](int, const std::string& line) {
    if (line.find("1111") != std::string::npos) {
      std::unique_lock lock(mutex);
      offered = true;
      changed.notify_all();
      changed.wait(lock, [&] { return answer; });
    }
    return PEER_ACK;
  });
  ASSERT_TRUE(Wait_Until([&] { return f->sync.Link_State.load() == LINK_UP; }));
  f->journal.Append(Example_Event({.Account = "1111"}));
  // The main thread's loop runs while waiting: the sender hands the line over through it.
  ASSERT_TRUE(Wait_Until([&] {
    std::lock_guard lock(mutex);
    return offered;
  }));
  ASSERT_TRUE(f->journal.Clear());
  // The receiver's write-ahead stores the next event in slot 0, saved once its sync returned.
  const Event_Journal::Written written =
      f->journal.Append_Written(Example_Event({.Account = "2222"}));
  ASSERT_EQ(written.Slot, 0);
  ASSERT_EQ(f->journal.Sync_File(), "");
  f->journal.Settle(&written.Slot, &written.Ticket, 1, true);
  {
    std::lock_guard lock(mutex);
    answer = true;
    changed.notify_all();
  }
  const std::string first = "5011 181111E40101001\x14";
  const std::string second = "5011 182222E40101001\x14";
  ASSERT_TRUE(Wait_Until([&] { return peer->Texts().size() >= 2 && f->File_Status(0) == 7; }));
  EXPECT_EQ(peer->Texts(), (std::vector<std::string>{first, second}));
  EXPECT_EQ(f->journal.Slot(0).Status, EVT_PRESENT | EVT_SAVED | EVT_REPORTED);
}

// The automation software stays silent: the heartbeat goes unanswered, the error is logged and
// no event line is sent.
TEST_F(Report_Sender_Test, SilentAutomationSoftwareGetsOnlyHeartbeats) {
  f->settings.HB_Period = 1;
  f->Start_Workers();
  f->journal.Append(Example_Event());
  Open_Server_Link(Automation_Peer::Always(PEER_SILENT));
  ASSERT_TRUE(Wait_Until([&] {
    return f->screen.Logged("Link error (heartbeat): no ACK from automation software.", LOG_RED);
  }));
  EXPECT_GE(f->screen.Beeps, 1);
  EXPECT_EQ(f->sync.Link_State.load(), LINK_OPEN);
  for (const std::string& line : peer->Texts()) EXPECT_EQ(line, HEARTBEAT_1);
  EXPECT_EQ(f->journal.Slot(0).Status, EVT_PRESENT | EVT_SAVED);
  EXPECT_EQ(f->File_Status(0), 1);
}

// An object with a one-minute timeout is reported lost ("1350") once its countdown has run out,
// and restored ("3350") after its next message.
TEST_F(Report_Sender_Test, SupervisionReportsLostAndRestoredObject) {
  f->settings.HB_Period = 0;
  Event_Record message = Example_Event();
  const int index = f->objects.Update(message, Extended_Data{});
  ASSERT_TRUE(f->objects.Change_Timeout(index, 1));
  f->Start_Workers();
  Open_Server_Link(Automation_Peer::Always(PEER_ACK));
  ASSERT_TRUE(Wait_Until([&] { return f->sync.Link_State.load() == LINK_UP; }));

  for (int tick = 1; tick < 60; ++tick) ASSERT_FALSE(f->objects.Ping_Tick());
  EXPECT_EQ(f->objects.Record(index).Object_Flags, 0);
  ASSERT_TRUE(f->objects.Ping_Tick());
  const std::string lost = "5011 181234E35001000\x14";
  ASSERT_TRUE(Wait_Until([&] { return peer->Count() >= 1; }));
  ASSERT_TRUE(
      Wait_Until([&] { return (f->objects.Record(index).Object_Flags & OBJ_REPORT_DUE) == 0; }));
  EXPECT_EQ(f->objects.Record(index).Object_Flags, OBJ_LOST);

  Event_Record next = Example_Event();
  next.Time_Received += 61;
  ASSERT_EQ(f->objects.Update(next, Extended_Data{}), index);
  ASSERT_TRUE(Wait_Until([&] { return peer->Count() >= 2; }));
  ASSERT_TRUE(Wait_Until([&] { return f->objects.Record(index).Object_Flags == 0; }));
  EXPECT_EQ(peer->Texts(), (std::vector<std::string>{lost, "5011 181234R35001000\x14"}));
}

// TCP server mode without a client: the next line finds no transport and Link_State becomes 0;
// once a client is taken in again, the heartbeat goes out at once, before the waiting event.
TEST_F(Report_Sender_Test, LostClientStopsReportsUntilHeartbeatAnsweredAgain) {
  f->Start_Workers();
  Open_Server_Link(Automation_Peer::Always(PEER_ACK));
  ASSERT_TRUE(Wait_Until([&] { return f->sync.Link_State.load() == LINK_UP; }));
  peer.reset();  // the automation software goes away
  ASSERT_TRUE(Wait_Until([&] { return f->link.Listener_Connections() == 0; }));
  f->journal.Append(Example_Event());
  ASSERT_TRUE(Wait_Until([&] { return f->sync.Link_State.load() == 0; }));
  EXPECT_EQ(f->journal.Slot(0).Status, EVT_PRESENT | EVT_SAVED);

  peer = std::make_unique<Automation_Peer>(Automation_Peer::Connect_Fd(f->settings.Out_Port),
                                           Automation_Peer::Always(PEER_ACK),
                                           Automation_Peer::Fd::Owned);
  ASSERT_TRUE(f->Tick_Until([&] { return f->sync.Link_State.load() != 0; }));
  ASSERT_TRUE(Wait_Until([&] { return f->File_Status(0) == 7; }));
  EXPECT_EQ(peer->Texts(), (std::vector<std::string>{HEARTBEAT_1, EXAMPLE_DG}));
}

// The automation software goes away while the sender waits for its answer. The sender alone reads
// the connection then; what it sees reaches the main thread at once, which closes the connection
// long before the answer time has run out; the line counts as unanswered.
TEST_F(Report_Sender_Test, ClientGoneWhileTheSenderWaitsIsClosedAtOnce) {
  f->settings.HB_Period = 0;
  f->Start_Workers();
  Open_Server_Link(Automation_Peer::Always(PEER_SILENT));
  ASSERT_TRUE(Wait_Until([&] { return f->sync.Link_State.load() == LINK_UP; }));
  f->journal.Append(Example_Event());
  ASSERT_TRUE(Wait_Until([&] { return peer->Count() >= 1; }));
  peer.reset();
  const std::string no_ack = "Link error (data): no ACK from automation software.";
  ASSERT_TRUE(Wait_Until([&] { return f->link.Listener_Connections() == 0; }));
  EXPECT_FALSE(f->screen.Logged(no_ack, LOG_RED));
  EXPECT_TRUE(Wait_Until([&] { return f->screen.Logged(no_ack, LOG_RED); }));
  EXPECT_EQ(f->journal.Slot(0).Status, EVT_PRESENT | EVT_SAVED);
}

// A journal file that cannot be opened: the error is logged in red with a beep, nothing is sent;
// once the file is back, the event is saved and reported.
TEST_F(Report_Sender_Test, JournalFileErrorIsLoggedAndOvercome) {
  f->settings.HB_Period = 0;
  const QString path = QString::fromStdString(f->journal.Path());
  ASSERT_TRUE(QFile::remove(path));
  ASSERT_TRUE(QDir().mkdir(path));  // a folder in the file's place cannot be opened for writing
  f->Start_Workers();
  Open_Server_Link(Automation_Peer::Always(PEER_ACK));
  f->journal.Append(Example_Event());
  ASSERT_TRUE(Wait_Until([&] {
    for (const auto& line : f->screen.Lines) {
      if (line.Text.rfind("File open error.", 0) == 0 && line.Colour == LOG_RED) return true;
    }
    return false;
  }));
  EXPECT_GE(f->screen.Beeps, 1);
  EXPECT_EQ(peer->Count(), 0u);

  ASSERT_TRUE(QDir().rmdir(path));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  ASSERT_TRUE(file.resize(JOURNAL_FILE_SIZE));
  file.close();
  ASSERT_TRUE(Wait_Until([&] { return f->File_Status(0) == 7; }));
  EXPECT_EQ(peer->Texts(), std::vector<std::string>{EXAMPLE_DG});
}

// The serial box unticked and ticked again within one tick: meanwhile the sender found no
// transport and cleared Link_State, while the port itself stayed open. The next tick must take the
// open port into Link_State again, so the heartbeat goes out and the waiting event follows.
TEST_F(Report_Sender_Test, SerialBoxUntickedAndTickedWithinOneTickKeepsTheLinkUsable) {
  Open_Serial_Link();
  ASSERT_TRUE(Wait_Until([&] { return f->sync.Link_State.load() == LINK_UP; }));

  f->settings.Out_Mode = 0;          // unticked: the event finds no transport
  f->automation.Settings_Changed();  // the page pushes its change at once
  f->journal.Append(Example_Event());
  ASSERT_TRUE(Wait_Until([&] { return f->sync.Link_State.load() == 0; }));
  f->settings.Out_Mode = OUT_MODE_SERIAL;  // ticked again before the tick came
  f->automation.Settings_Changed();
  f->link.Timer_OutTimer();
  EXPECT_TRUE(f->serial.Is_Open());
  EXPECT_NE(f->sync.Link_State.load() & LINK_OPEN, 0u);
  ASSERT_TRUE(Wait_Until([&] { return f->File_Status(0) == 7; }));
  EXPECT_EQ(peer->Texts(), (std::vector<std::string>{HEARTBEAT_1, HEARTBEAT_1, EXAMPLE_DG}));
}

// The orderly end leaves in the journal file what memory holds: reported events with Status 7,
// and events accepted after the last save pass (here held back by the closed gate, as shutdown
// closes it first) whole with Status 1, with the head behind them.
TEST_F(Report_Sender_Test, ShutdownSavesWhatTheLastPassesLeftInMemory) {
  f->settings.HB_Period = 0;
  f->Start_Workers();
  Open_Server_Link(Automation_Peer::Always(PEER_ACK));
  f->journal.Append(Example_Event({.Account = "1111"}));
  f->journal.Append(Example_Event({.Account = "2222"}));
  ASSERT_TRUE(Wait_Until([&] { return f->File_Status(1) == 7; }));

  // From here on no pass saves or sends anything: every slot is preceded by a test of the gate.
  f->sync.Run_Gate.Reset();
  f->journal.Append(Example_Event({.Account = "3333"}));
  f->journal.Append(Example_Event({.Account = "4444", .Code = "NULL"}));
  ASSERT_TRUE(f->Shut_Down());

  QFile file(QString::fromStdString(f->journal.Path()));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray image = file.readAll();
  ASSERT_EQ(static_cast<std::size_t>(image.size()), JOURNAL_FILE_SIZE);
  uint32_t head = 0;
  std::memcpy(&head, image.constData(), sizeof head);
  EXPECT_EQ(head, 4u);
  const uint8_t expected_status[] = {7, 7, 1, 1};
  for (int k = 0; k < 4; ++k) {
    SCOPED_TRACE(k);
    Event_Record on_disk{};
    std::memcpy(&on_disk, image.constData() + Journal_Slot_Offset(k), sizeof on_disk);
    Event_Record in_memory = f->journal.Slot(k);
    EXPECT_EQ(on_disk.Status, expected_status[k]);
    on_disk.Status = in_memory.Status = 0;
    EXPECT_EQ(std::memcmp(&on_disk, &in_memory, sizeof on_disk), 0);
  }
  EXPECT_EQ(peer->Texts(),
            (std::vector<std::string>{"5011 181111E40101001\x14", "5011 182222E40101001\x14"}));
}

// Shutdown while a line is in flight, on each of the three links: the answer that comes after
// shutdown began (the automation software answers ~100 ms after it saw the gate close) is still
// taken, and the event is recorded reported in memory and in the file, so it is never offered
// again.
TEST_F(Report_Sender_Test, ShutdownRecordsTheAckOfTheLineInFlight) {
  enum class Link { Server, Client, Serial };
  for (const Link kind : {Link::Server, Link::Client, Link::Serial}) {
    SCOPED_TRACE(static_cast<int>(kind));
    Renew();
    f->settings.HB_Period = 0;
    std::atomic<bool> in_flight{false};
    const Automation_Peer::Policy late_ack = [&](int, const std::string&) {
      in_flight = true;
      Wait_Until([&] { return !f->sync.Run_Gate.Is_Set(); }, 20s);
      std::this_thread::sleep_for(100ms);
      return PEER_ACK;
    };
    switch (kind) {
      case Link::Server:
        f->Start_Workers();
        Open_Server_Link(late_ack);
        break;
      case Link::Client:
        peer = std::make_unique<Automation_Peer>(late_ack);
        f->settings.Out_Mode = 1;
        f->settings.Out_TCP_Server = 0;
        f->settings.Out_Port = peer->Port();
        std::snprintf(f->settings.Out_IP, sizeof f->settings.Out_IP, "127.0.0.1");
        f->Start_Workers();
        f->link.Timer_OutTimer();
        ASSERT_TRUE(Wait_Until([&] { return f->link.Client_Connected(); }));
        f->link.Set_Reconnect_Delay(0);
        f->link.Timer_OutTimer();
        break;
      case Link::Serial:
        Open_Serial_Link(late_ack);
        break;
    }
    f->journal.Append(Example_Event());
    ASSERT_TRUE(Wait_Until([&] { return in_flight.load(); }));
    EXPECT_TRUE(f->Shut_Down());
    EXPECT_EQ(peer->Event_Lines(), (std::vector<std::string>{EXAMPLE_DG}));
    EXPECT_EQ(f->journal.Slot(0).Status, EVT_PRESENT | EVT_SAVED | EVT_REPORTED);
    EXPECT_EQ(f->File_Status(0), 7);
  }
}

// Shutdown while the automation software never answers: the wait runs out within its answer
// time, the thread ends, and nothing is logged for the missing answer (the program is closing).
TEST_F(Report_Sender_Test, ShutdownWithASilentAutomationSoftwareEnds) {
  f->Start_Workers();
  Open_Server_Link(Automation_Peer::Always(PEER_SILENT));
  ASSERT_TRUE(Wait_Until([&] { return peer->Count() >= 1; }));
  EXPECT_TRUE(f->Shut_Down());
  EXPECT_TRUE(f->sender.Has_Ended());
  EXPECT_FALSE(
      f->screen.Logged("Link error (heartbeat): no ACK from automation software.", LOG_RED));
}

// A report sender whose hand-overs are never served (the runner never returns), destroyed
// while its thread waits in one: the red line of a journal file it cannot save to.
void Destroy_Sender_Stuck_In_A_Hand_Over() {
  Test_Core_App();
  Temp_Folder folder;
  Settings_Record settings = Settings_Defaults();
  Shared_Sync sync;
  Event_Journal journal{folder.File(JOURNAL_FILE_NAME)};
  Object_Table objects{folder.File(OBJECT_FILE_NAME), sync.Object_Table_Lock};
  journal.Load();
  objects.Load();
  std::filesystem::remove(folder.File(JOURNAL_FILE_NAME));
  std::filesystem::create_directory(folder.File(JOURNAL_FILE_NAME));
  journal.Append(Example_Event());
  Recording_Screen screen;
  Serial_Port serial;
  Link_Manager link(settings, sync, serial, screen, folder.Path());
  std::atomic<bool> handed{false};
  Report_Sender sender(settings, sync, journal, objects, serial, link, screen,
                       [&](const std::function<void()>&) {
                         handed = true;
                         while (true) std::this_thread::sleep_for(1s);
                         return false;
                       });
  sender.Start();
  Wait_Until([&] { return handed.load(); }, 20s);
}

// A hand-over the main thread never serves cannot hang the end: the destructor waits a bounded
// time, then ends the process instead of freeing what the stuck thread uses.
TEST(Report_Sender_Death_Test, DestructorEndsTheProcessWhenTheThreadStaysStuck) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(Destroy_Sender_Stuck_In_A_Hand_Over(), testing::ExitedWithCode(1),
              "Monitoring_Thread did not end at shutdown");
}

// A thread that waits on a gate that never opens again still ends when asked to.
TEST_F(Report_Sender_Test, StopEndsTheThreadWhileTheGateStaysClosed) {
  f->sync.Run_Gate.Reset();
  f->sender.Start();
  EXPECT_FALSE(f->sender.Has_Ended());
  EXPECT_TRUE(f->sender.Stop(5000ms));
  EXPECT_TRUE(f->sender.Has_Ended());
}

}  // namespace
