// The receiver's write-ahead end to end: an acknowledged message is in "dorvex.dat" and synced
// before its answer leaves; a journal file that cannot be written stops the answers until it is
// repaired; the journal refuses events only while someone will take them; the port number is
// checked. Real sockets on 127.0.0.1, real files in a temporary data folder.
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "automation/link_manager.h"
#include "base/raw_file.h"
#include "receiver_fixture.h"
#include "store/test_files.h"

namespace receiver_test {
namespace {

const std::string EXAMPLE_ACK = "\nD2770014\"ACK\"0001R1L1#1234[]\r";

using Write_Ahead = Receiver_Fixture;

// A sync held up by the test: the slot and the head are already in the file, and the answer
// leaves only once the sync has returned.
TEST_F(Write_Ahead, AnswerLeavesOnlyAfterTheSlotIsWrittenAndSynced) {
  Start();
  std::mutex mutex;
  std::condition_variable changed;
  bool syncing = false;
  bool release = false;
  std::string file_during_sync;
  const std::string path = folder_.File(JOURNAL_FILE_NAME);
  core_->Journal().Set_Sync_Hook([&] {
    std::unique_lock lock(mutex);
    if (!syncing) file_during_sync = Read_Bytes(path);
    syncing = true;
    changed.notify_all();
    changed.wait(lock, [&] { return release; });
  });
  auto released = [&] {
    std::lock_guard lock(mutex);
    release = true;
    changed.notify_all();
  };

  auto client = Connect();
  client->Send(Cid_Frame());
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(5), [&] { return syncing; }));
  }
  // Held in the sync: no answer yet, though the receiver has long handled the read.
  EXPECT_EQ(client->Answer(300), "");
  ASSERT_EQ(file_during_sync.size(), JOURNAL_FILE_SIZE);
  uint32_t head;
  std::memcpy(&head, file_during_sync.data(), 4);
  EXPECT_EQ(head, 1u);
  Event_Record in_file;
  std::memcpy(&in_file, file_during_sync.data() + Journal_Slot_Offset(0), sizeof in_file);
  EXPECT_EQ(in_file.Status, EVT_PRESENT);
  EXPECT_EQ(Field_Text(in_file.Account_Nr), "1234");
  EXPECT_EQ(Field_Text(in_file.Event_Code), "1401");
  EXPECT_EQ(in_file.Time_Received, FIXED_NOW);

  released();
  EXPECT_EQ(client->Answer(), EXAMPLE_ACK);
  // Saved once the sync returned: the save pass has nothing left for the slot.
  EXPECT_EQ(core_->Journal().Slot(0).Status, EVT_PRESENT | EVT_SAVED);
  EXPECT_EQ(std::memcmp(&in_file, Read_Bytes(path, Journal_Slot_Offset(0), 80).data(), 80), 0);
  core_->Journal().Set_Sync_Hook({});
}

// The object's record of an acknowledged message is in "latevn.dat" before the sync that lets
// its answer go.
TEST_F(Write_Ahead, ObjectRecordIsWrittenBeforeTheSyncThatReleasesTheAnswer) {
  Start();
  const std::string path = folder_.File(OBJECT_FILE_NAME);
  std::mutex mutex;
  std::string object_during_sync;
  core_->Journal().Set_Sync_Hook([&] {
    std::lock_guard lock(mutex);
    if (object_during_sync.empty()) object_during_sync = Read_Bytes(path, 0, sizeof(Object_Record));
  });
  auto client = Connect();
  client->Send(Cid_Frame());
  EXPECT_EQ(client->Answer(), EXAMPLE_ACK);
  core_->Journal().Set_Sync_Hook({});
  std::lock_guard lock(mutex);
  const Object_Record object = core_->Objects().Record(0);
  ASSERT_EQ(object_during_sync.size(), sizeof object);
  EXPECT_EQ(std::memcmp(object_during_sync.data(), &object, sizeof object), 0);
  EXPECT_EQ(Field_Text(object.Account_Nr), "1234");
}

// A folder in the place of "dorvex.dat": nothing is answered and the red file-error line is
// logged; once the file is back, answers resume by themselves.
TEST_F(Write_Ahead, FailingJournalFileStopsAnswersUntilItIsRepaired) {
  Start();
  const std::string path = folder_.File(JOURNAL_FILE_NAME);
  auto client = Connect();
  ASSERT_EQ(std::rename(path.c_str(), (path + ".away").c_str()), 0);
  ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);

  const std::string error_line = "File open error. " + Error_Text(EISDIR);
  client->Send(Cid_Frame("1234", 1));
  ASSERT_TRUE(Wait_Until([&] { return !pane_.With(error_line).empty(); }));
  EXPECT_EQ(pane_.With(error_line)[0].Colour, LOG_RED);
  EXPECT_EQ(client->Pending(), "");
  Send_And_Wait(*client, Cid_Frame("1234", 2));
  EXPECT_EQ(client->Pending(), "");
  EXPECT_EQ(Countdown_Of(*client), SHORT_COUNTDOWN);

  ASSERT_EQ(::rmdir(path.c_str()), 0);
  ASSERT_EQ(std::rename((path + ".away").c_str(), path.c_str()), 0);
  client->Send(Cid_Frame("1234", 3));
  EXPECT_EQ(client->Answer(), Frame("\"ACK\"0003R1L1#1234[]"));
  const uint32_t head = core_->Journal().Head();
  ASSERT_GE(head, 1u);
  Event_Record in_file;
  std::memcpy(&in_file,
              Read_Bytes(path, Journal_Slot_Offset(static_cast<int>(head) - 1), 80).data(),
              sizeof in_file);
  // The file holds the record as written before the answer: the memory's with Status 1.
  Event_Record expected = core_->Journal().Slot(static_cast<int>(head) - 1);
  EXPECT_EQ(expected.Status, EVT_PRESENT | EVT_SAVED);
  expected.Status = EVT_PRESENT;
  EXPECT_EQ(std::memcmp(&in_file, &expected, sizeof in_file), 0);
  EXPECT_EQ(Field_Text(in_file.Account_Nr), "1234");
}

// A journal whose 4096 slots all hold events the automation software never took.
void Write_Full_Journal(const std::string& path) {
  std::string image(JOURNAL_FILE_SIZE, '\0');
  for (int k = 0; k < JOURNAL_SLOTS; ++k) {
    Event_Record r{};
    r.Status = EVT_PRESENT;
    std::snprintf(r.Account_Nr, sizeof r.Account_Nr, "9999");
    std::snprintf(r.Event_Code, sizeof r.Event_Code, "1130");
    r.Time_Received = FIXED_NOW - 100;
    std::memcpy(image.data() + Journal_Slot_Offset(k), &r, sizeof r);
  }
  Write_Bytes(path, image);
}

// "Journal full" holds only while the automation link is on (serial or TCP); with it off the
// ring takes each new event over the oldest and every message is answered.
TEST_F(Write_Ahead, FullJournalRefusesOnlyWhileTheAutomationLinkIsOn) {
  struct Case {
    uint8_t Out_Mode;
    bool Answered;
  };
  for (const Case c : {Case{0, true}, Case{1, false}, Case{2, false}}) {
    SCOPED_TRACE(static_cast<int>(c.Out_Mode));
    core_.reset();
    pane_.Lines.clear();
    Write_Full_Journal(folder_.File(JOURNAL_FILE_NAME));
    settings_.Out_Mode = c.Out_Mode;
    Start();
    core_->Link().Stop();  // the link itself never opens here
    auto client = Connect();
    Send_And_Wait(*client, Cid_Frame());
    if (c.Answered) {
      EXPECT_EQ(client->Answer(), EXAMPLE_ACK);
      EXPECT_EQ(core_->Journal().Head(), 1u);
      EXPECT_EQ(Field_Text(core_->Journal().Slot(0).Account_Nr), "1234");
      EXPECT_TRUE(pane_.With("Event journal full").empty());
    } else {
      EXPECT_EQ(client->Answer(300), "");
      EXPECT_EQ(core_->Journal().Head(), 0u);
      EXPECT_EQ(Field_Text(core_->Journal().Slot(0).Account_Nr), "9999");
      EXPECT_EQ(pane_.With("Event journal full").size(), 1u);
    }
  }
}

// A port number outside 1..65535 opens nothing (70000 would otherwise open 4464).
TEST_F(Write_Ahead, PortOutsideTheRangeIsNotOpened) {
  for (const int32_t port : {70000, 0, -1}) {
    SCOPED_TRACE(port);
    core_.reset();
    pane_.Lines.clear();
    settings_.DC9_Port = port;
    Start(false);
    Server().Timer_DC9Timer();
    EXPECT_FALSE(Server().Is_Active());
    EXPECT_EQ(pane_.With("Opening receiver port " + std::to_string(port)).size(), 1u);
    const auto lines = pane_.With("Invalid port number " + std::to_string(port));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Colour, LOG_RED);
    EXPECT_TRUE(pane_.With(" is open.").empty());
    EXPECT_EQ(Server().Timer_Interval(), 10000);
  }
}

}  // namespace
}  // namespace receiver_test
