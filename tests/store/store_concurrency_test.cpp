// The report sender's calls on the journal and the object table run on their own thread while
// the main thread appends, updates, ticks, deletes and clears. Run under ThreadSanitizer, this
// shows the stores free of data races; the checks show that no record is ever seen half-copied.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "base/sync_objects.h"
#include "store/event_journal.h"
#include "store/object_table.h"
#include "store/test_files.h"
#include "support/temp_folder.h"

namespace {

constexpr int64_t kBase = 1700000000;

// A journal record whose account text and time carry the same number, so a torn copy shows.
Event_Record Numbered_Event(int n) {
  Event_Record r{};
  r.Status = EVT_PRESENT;
  std::snprintf(r.Account_Nr, sizeof r.Account_Nr, "%d", n);
  std::strcpy(r.Event_Code, n % 7 == 0 ? "NULL" : "1130");
  std::snprintf(r.Zone_Nr, sizeof r.Zone_Nr, "%03u", static_cast<unsigned>(n) % 1000u);
  r.Time_Received = kBase + n;
  return r;
}

bool Whole(const Event_Record& r) {
  if (r.Status == 0) return true;
  const int n = std::atoi(r.Account_Nr);
  char zone[4];
  std::snprintf(zone, sizeof zone, "%03u", static_cast<unsigned>(n) % 1000u);
  return r.Time_Received == kBase + n && std::strcmp(r.Zone_Nr, zone) == 0;
}

TEST(Store_Concurrency_Test, SenderCallsRaceFreeAgainstMainThreadWork) {
  Temp_Folder folder;
  Shared_Sync sync;
  auto journal = std::make_unique<Event_Journal>(folder.File(JOURNAL_FILE_NAME));
  auto objects =
      std::make_unique<Object_Table>(folder.File(OBJECT_FILE_NAME), sync.Object_Table_Lock);
  ASSERT_EQ(journal->Load(), "");
  ASSERT_EQ(objects->Load(), "");

  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::atomic<int> reports{0};
  std::atomic<int> supervision_reports{0};
  std::atomic<int> errors{0};

  std::thread sender([&] {
    while (!done.load()) {
      if (!sync.Run_Gate.Wait(std::chrono::milliseconds(10))) continue;
      if (!journal->Save_New(sync.Run_Gate).Error.empty()) ++errors;
      for (int i = 0; i < OBJECT_SLOTS && sync.Run_Gate.Is_Set(); ++i) {
        Supervision_Report line;
        if (objects->Record(i).Last_Event_Time == 0) break;
        if (!objects->Supervision_Event(i, line)) continue;
        objects->Clear_Report_Due(line);
        ++supervision_reports;
      }
      Event_Journal::Status_Writer writer(*journal);
      for (int k = 0; k < JOURNAL_SLOTS && sync.Run_Gate.Is_Set(); ++k) {
        if (!journal->Is_Due(k)) continue;
        if (!Whole(journal->Slot(k))) ++torn;
        if (!writer.Save_Status(k).empty()) ++errors;
        ++reports;
      }
      writer.Close();
      // The real sender sleeps 50 ms a cycle; a short pause keeps this one from starving the
      // main thread on a busy machine.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });

  // Each account comes back every 37 rounds, 74 ticks: after its 60-second timeout ran out.
  constexpr int kRounds = 600;
  constexpr int kAccounts = 37;
  for (int n = 1; n <= kRounds; ++n) {
    Event_Record object_event = Numbered_Event(n);
    std::snprintf(object_event.Account_Nr, sizeof object_event.Account_Nr, "C%d", n % kAccounts);
    const int i = objects->Update(object_event, Extended_Data{});
    if (n <= kAccounts) objects->Change_Timeout(i, 1);
    // Eight events a round wrap the ring, so appends overwrite slots the sender works on.
    for (int e = 0; e < 8; ++e) journal->Append(Numbered_Event(8 * n + e));
    sync.New_Event_Signal.Set();
    objects->Ping_Tick();
    objects->Ping_Tick();
    if (n == kRounds / 3) objects->Delete(0, Field_Text(objects->Record(0).Account_Nr));
    if (n == kRounds / 2) journal->Clear();
  }
  done = true;
  sender.join();

  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(errors.load(), 0);
  EXPECT_GT(reports.load(), 0);
  EXPECT_GT(supervision_reports.load(), 0);

  // After a last pass the file holds every slot as memory does, with the file's status bytes.
  ASSERT_EQ(journal->Save_New(sync.Run_Gate).Error, "");
  const std::string image = Read_Bytes(folder.File(JOURNAL_FILE_NAME));
  uint32_t head;
  std::memcpy(&head, image.data(), 4);
  EXPECT_EQ(head, journal->Head());
  int mismatches = 0;
  for (int k = 0; k < JOURNAL_SLOTS; ++k) {
    Event_Record in_memory = journal->Slot(k);
    Event_Record in_file;
    std::memcpy(&in_file, image.data() + Journal_Slot_Offset(k), 80);
    ASSERT_TRUE(in_memory.Status == 0 || in_memory.Status == 3 || in_memory.Status == 7) << k;
    EXPECT_TRUE(Whole(in_memory)) << k;
    in_memory.Status = in_memory.Status == 3 ? 1 : in_memory.Status;
    if (std::memcmp(&in_memory, &in_file, 80) != 0) ++mismatches;
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
