#include "store/event_journal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/raw_file.h"
#include "store/test_files.h"
#include "support/example_event.h"
#include "support/temp_folder.h"

namespace {

Event_Record Event(int n, const char* code = "1130") {
  return Example_Event({.Receiver = "",
                        .Line = "",
                        .Account = std::to_string(n),
                        .Code = code,
                        .Group = "",
                        .Zone = "",
                        .Time = 1700000000 + n,
                        .Quality = 0});
}

std::string Record_Bytes(const Event_Record& r) {
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

class Event_Journal_Test : public ::testing::Test {
 protected:
  Temp_Folder folder_;
  std::string path_ = folder_.File(JOURNAL_FILE_NAME);
  std::unique_ptr<Event_Journal> journal_ = std::make_unique<Event_Journal>(path_);
  Manual_Reset_Event gate_{true};

  std::string File_Slot(int k) { return Read_Bytes(path_, Journal_Slot_Offset(k), 80); }
  uint32_t File_Head() {
    uint32_t head;
    std::memcpy(&head, Read_Bytes(path_, 0, 4).data(), 4);
    return head;
  }
};

TEST_F(Event_Journal_Test, FirstStartCreatesAZeroFile) {
  EXPECT_EQ(journal_->Load(), "");
  EXPECT_EQ(File_Size(path_), 327684);
  EXPECT_TRUE(All_Zero(Read_Bytes(path_)));
  EXPECT_EQ(journal_->Head(), 0u);
  // The created file loads again as an empty journal.
  EXPECT_EQ(journal_->Load(), "");
  EXPECT_EQ(journal_->Slot(0).Status, 0);
}

TEST_F(Event_Journal_Test, WrongSizeIsReplacedWithTheKeptMessage) {
  for (std::size_t size : {std::size_t{1000}, std::size_t{327683}, std::size_t{327685}}) {
    SCOPED_TRACE(size);
    Write_Bytes(path_, std::string(size, '\x07'));
    EXPECT_EQ(journal_->Load(), "File " + path_ + " size (" + std::to_string(size) +
                                    "->327684) error, new file created.");
    EXPECT_EQ(File_Size(path_), 327684);
    EXPECT_TRUE(All_Zero(Read_Bytes(path_)));
    EXPECT_EQ(journal_->Slot(0).Status, 0);
  }
}

TEST_F(Event_Journal_Test, LoadsTheImageAndTakesAHugeHeadModulo4096) {
  std::string image(JOURNAL_FILE_SIZE, '\0');
  const uint32_t head = 4096 * 3 + 5;
  std::memcpy(&image[0], &head, 4);
  Event_Record saved = Event(42);
  saved.Status = 7;
  std::memcpy(&image[Journal_Slot_Offset(4)], &saved, 80);
  Write_Bytes(path_, image);

  EXPECT_EQ(journal_->Load(), "");
  EXPECT_EQ(journal_->Head(), 5u);
  EXPECT_EQ(Record_Bytes(journal_->Slot(4)), Record_Bytes(saved));
  EXPECT_EQ(Read_Bytes(path_), image);  // loading never writes
}

TEST_F(Event_Journal_Test, UnopenableFileIsLeftAloneAndTheJournalStartsEmpty) {
  ASSERT_EQ(::mkdir(path_.c_str(), 0755), 0);
  EXPECT_EQ(journal_->Load(), "");
  EXPECT_EQ(journal_->Head(), 0u);
  struct stat st;
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(Event_Journal_Test, RingWrapsAfter4096Appends) {
  journal_->Load();
  for (int n = 1; n <= 4096; ++n) journal_->Append(Event(n));
  EXPECT_EQ(journal_->Head(), 0u);
  EXPECT_STREQ(journal_->Slot(4095).Account_Nr, "4096");
  journal_->Append(Event(4097));
  EXPECT_EQ(journal_->Head(), 1u);
  EXPECT_STREQ(journal_->Slot(0).Account_Nr, "4097");
  EXPECT_STREQ(journal_->Slot(1).Account_Nr, "2");
  // Appends never touch the file.
  EXPECT_TRUE(All_Zero(Read_Bytes(path_)));
}

TEST_F(Event_Journal_Test, SavePassThenStatusGiveFileStatus1Then7) {
  journal_->Load();
  journal_->Append(Event(1));
  journal_->Append(Event(2, "NULL"));
  Event_Journal::Save_Outcome outcome = journal_->Save_New(gate_);
  EXPECT_TRUE(outcome.Wrote);
  EXPECT_TRUE(outcome.Refresh);
  EXPECT_EQ(outcome.Error, "");
  EXPECT_EQ(File_Slot(0), Record_Bytes(Event(1)));  // written while its byte was still 1
  EXPECT_EQ(File_Slot(1), Record_Bytes(Event(2, "NULL")));
  EXPECT_EQ(File_Head(), 2u);
  EXPECT_EQ(journal_->Slot(0).Status, 3);
  EXPECT_EQ(journal_->Slot(1).Status, 3);
  EXPECT_TRUE(journal_->Is_Due(0));
  EXPECT_FALSE(journal_->Is_Due(1));  // a link test is never reported

  {
    Event_Journal::Status_Writer writer(*journal_);
    EXPECT_FALSE(writer.Is_Open());
    EXPECT_EQ(writer.Save_Status(0), "");
    EXPECT_TRUE(writer.Is_Open());
  }
  EXPECT_EQ(journal_->Slot(0).Status, 7);
  EXPECT_EQ(Read_Bytes(path_)[Journal_Slot_Offset(0)], 7);
  EXPECT_FALSE(journal_->Is_Due(0));
  EXPECT_EQ(File_Head(), 2u);

  // Nothing new: the next pass writes nothing.
  outcome = journal_->Save_New(gate_);
  EXPECT_FALSE(outcome.Wrote);
  EXPECT_FALSE(outcome.Refresh);
}

// An idle pass writes nothing, even with the file gone; a deleted file is made again from the
// ring (saved slots with their file status 1) at the next write, with a red line.
TEST_F(Event_Journal_Test, IdlePassWritesNothingAndADeletedFileIsMadeFromTheRing) {
  journal_->Load();
  journal_->Append(Event(1));
  journal_->Save_New(gate_);
  ASSERT_EQ(::unlink(path_.c_str()), 0);
  Event_Journal::Save_Outcome outcome = journal_->Save_New(gate_);
  EXPECT_EQ(outcome.Error, "");
  EXPECT_FALSE(outcome.Wrote);
  EXPECT_EQ(File_Size(path_), -1);

  journal_->Append(Event(2));
  outcome = journal_->Save_New(gate_);
  EXPECT_EQ(outcome.Error, "");
  EXPECT_TRUE(outcome.Refresh);
  EXPECT_EQ(journal_->Slot(1).Status, 3);
  ASSERT_EQ(File_Size(path_), 327684);
  EXPECT_EQ(File_Slot(0), Record_Bytes(Event(1)));
  EXPECT_EQ(File_Slot(1), Record_Bytes(Event(2)));
  EXPECT_EQ(File_Head(), 2u);
  EXPECT_EQ(journal_->Take_Notice(),
            "File " + path_ + " was missing or replaced, new file written from memory.");
  EXPECT_EQ(journal_->Take_Notice(), "");
}

TEST_F(Event_Journal_Test, ClosedGateStopsThePass) {
  journal_->Load();
  journal_->Append(Event(1));
  gate_.Reset();
  EXPECT_FALSE(journal_->Save_New(gate_).Wrote);
  EXPECT_EQ(journal_->Slot(0).Status, 1);
}

TEST_F(Event_Journal_Test, WriteFailuresGiveTheRedLines) {
  // Every write to /dev/full fails with "no space".
  Event_Journal full("/dev/full");
  full.Append(Event(1));
  Event_Journal::Save_Outcome outcome = full.Save_New(gate_);
  EXPECT_EQ(outcome.Error, "Disk write error.  Error: 28. No space left on device");
  EXPECT_TRUE(outcome.Refresh);
  EXPECT_EQ(full.Slot(0).Status, 1);

  Event_Journal::Status_Writer writer(full);
  EXPECT_EQ(writer.Save_Status(0), "");  // not saved yet: nothing to mark, nothing written

  Event_Journal missing(folder_.File("none/dorvex.dat"));
  EXPECT_EQ(missing.Append_Written(Event(1)).Error,
            "File open error.  Error: 2. No such file or directory");
  EXPECT_EQ(missing.Head(), 0u);
}

TEST_F(Event_Journal_Test, SavedButUnreportedSlotIsSavedAgainAfterARestart) {
  journal_->Load();
  journal_->Append(Event(1));
  journal_->Save_New(gate_);

  Event_Journal restarted(path_);
  EXPECT_EQ(restarted.Load(), "");
  EXPECT_EQ(restarted.Slot(0).Status, 1);
  EXPECT_FALSE(restarted.Is_Due(0));
  // Make the file differ so that the rewrite is visible.
  std::string image = Read_Bytes(path_);
  image[Journal_Slot_Offset(0) + 15] = 'X';
  Write_Bytes(path_, image);
  EXPECT_TRUE(restarted.Save_New(gate_).Wrote);
  EXPECT_EQ(File_Slot(0), Record_Bytes(Event(1)));
  EXPECT_EQ(restarted.Slot(0).Status, 3);
  EXPECT_TRUE(restarted.Is_Due(0));
}

TEST_F(Event_Journal_Test, ClearZeroesRingAndFile) {
  journal_->Load();
  journal_->Append(Event(1));
  journal_->Save_New(gate_);
  ASSERT_TRUE(journal_->Clear());
  EXPECT_TRUE(gate_.Is_Set());
  EXPECT_EQ(journal_->Head(), 0u);
  EXPECT_EQ(journal_->Slot(0).Status, 0);
  EXPECT_EQ(File_Size(path_), 327684);
  EXPECT_TRUE(All_Zero(Read_Bytes(path_)));
}

// A report's ACK that comes after the slot was cleared and taken by a new event marks nothing:
// the new event stays due, in memory and in the file.
TEST_F(Event_Journal_Test, ReportStatusLandsOnlyOnTheEventThatWasSent) {
  journal_->Load();
  auto store = [&](const Event_Record& record) {
    const Event_Journal::Written written = journal_->Append_Written(record);
    ASSERT_EQ(written.Error, "");
    ASSERT_EQ(journal_->Sync_File(), "");
    journal_->Settle(&written.Slot, &written.Ticket, 1, true);
  };
  store(Event(1));
  Event_Record offered;
  uint32_t generation = 0;
  ASSERT_TRUE(journal_->Due_Slot(0, offered, generation));
  EXPECT_EQ(Record_Bytes(offered), Record_Bytes(journal_->Slot(0)));

  ASSERT_TRUE(journal_->Clear());
  store(Event(2));  // takes slot 0 while the report of Event(1) waits for its ACK
  Event_Journal::Status_Writer writer(*journal_);
  EXPECT_EQ(writer.Save_Status(0, generation), "");
  EXPECT_FALSE(writer.Is_Open());
  EXPECT_EQ(journal_->Slot(0).Status, EVT_PRESENT | EVT_SAVED);
  EXPECT_EQ(File_Slot(0), Record_Bytes(Event(2)));
  EXPECT_TRUE(journal_->Is_Due(0));

  // The ACK of the event that is there marks it.
  ASSERT_TRUE(journal_->Due_Slot(0, offered, generation));
  EXPECT_EQ(writer.Save_Status(0, generation), "");
  EXPECT_TRUE(writer.Is_Open());
  EXPECT_EQ(journal_->Slot(0).Status, 7);
  EXPECT_EQ(Read_Bytes(path_)[Journal_Slot_Offset(0)], 7);
}

// Clear removes what the journal holds, but not a slot whose write-ahead sync is in flight: its
// ACK has not left yet and will, so it is an event stored after the clearing.
TEST_F(Event_Journal_Test, ClearKeepsTheSlotWhoseSyncIsInFlight) {
  journal_->Load();
  journal_->Append(Event(1));
  journal_->Save_New(gate_);
  const Event_Journal::Written in_flight = journal_->Append_Written(Event(2));
  ASSERT_EQ(in_flight.Error, "");
  ASSERT_TRUE(journal_->Clear());
  EXPECT_TRUE(gate_.Is_Set());
  EXPECT_EQ(journal_->Slot(0).Status, 0);
  EXPECT_EQ(Record_Bytes(journal_->Slot(1)), Record_Bytes(Event(2)));
  EXPECT_EQ(journal_->Head(), 2u);
  EXPECT_TRUE(All_Zero(File_Slot(0)));
  EXPECT_EQ(File_Slot(1), Record_Bytes(Event(2)));
  EXPECT_EQ(File_Head(), 2u);

  EXPECT_EQ(journal_->Sync_File(), "");
  journal_->Settle(&in_flight.Slot, &in_flight.Ticket, 1, true);
  EXPECT_TRUE(journal_->Is_Due(1));
  // With nothing in flight the clearing leaves the file all zeros, the head 0.
  ASSERT_TRUE(journal_->Clear());
  EXPECT_EQ(journal_->Head(), 0u);
  EXPECT_EQ(File_Size(path_), 327684);
  EXPECT_TRUE(All_Zero(Read_Bytes(path_)));
}

TEST_F(Event_Journal_Test, ClearOfADeletedFileChangesNothing) {
  journal_->Load();
  journal_->Append(Event(1));
  ASSERT_EQ(::unlink(path_.c_str()), 0);
  EXPECT_FALSE(journal_->Clear());
  EXPECT_TRUE(gate_.Is_Set());
  EXPECT_EQ(journal_->Head(), 1u);
  EXPECT_EQ(Record_Bytes(journal_->Slot(0)), Record_Bytes(Event(1)));
  EXPECT_EQ(File_Size(path_), -1);
}

TEST_F(Event_Journal_Test, FullWhenTheNextSlotStillWaitsForItsReport) {
  journal_->Load();
  EXPECT_FALSE(journal_->Is_Full());
  for (int n = 0; n < 4096; ++n) journal_->Append(Event(n, n == 0 ? "NULL" : "1130"));
  EXPECT_FALSE(journal_->Is_Full());  // slot 0 is a link test
  journal_->Append(Event(7));
  EXPECT_TRUE(journal_->Is_Full());  // slot 1 holds an unreported event
  journal_->Save_New(gate_);
  Event_Journal::Status_Writer writer(*journal_);
  EXPECT_EQ(writer.Save_Status(1), "");
  EXPECT_FALSE(journal_->Is_Full());
  // A full journal is freed by the clearing.
  for (int n = 0; n < 4096; ++n) journal_->Append(Event(n));
  ASSERT_TRUE(journal_->Is_Full());
  ASSERT_TRUE(journal_->Clear());
  EXPECT_FALSE(journal_->Is_Full());
}

}  // namespace

namespace {

// The write-ahead writes exactly what the save pass writes (the record with Status 1, then the
// head), and once its sync has returned the save pass has nothing left to do for the slot.
TEST_F(Event_Journal_Test, WriteAheadWritesTheSavePassBytesAndSettlesTheSlot) {
  ASSERT_EQ(journal_->Load(), "");
  const Event_Record first = Event(1);
  const Event_Journal::Written written = journal_->Append_Written(first);
  ASSERT_EQ(written.Error, "");
  EXPECT_EQ(written.Slot, 0);
  EXPECT_EQ(File_Slot(0), Record_Bytes(first));
  EXPECT_EQ(journal_->Head(), 1u);

  // Until its sync has returned the save pass leaves the slot alone (its status stays 1).
  EXPECT_FALSE(journal_->Save_New(gate_).Wrote);
  EXPECT_EQ(journal_->Slot(0).Status, EVT_PRESENT);

  EXPECT_EQ(journal_->Sync_File(), "");  // writes the head, then syncs
  EXPECT_EQ(File_Head(), 1u);
  journal_->Settle(&written.Slot, &written.Ticket, 1, true);
  EXPECT_EQ(journal_->Slot(0).Status, EVT_PRESENT | EVT_SAVED);
  EXPECT_FALSE(journal_->Save_New(gate_).Wrote);

  // A sync that failed takes the slot back, in memory at once and in the file at the next write,
  // so the save pass never writes it: the communicator's retry is the only copy.
  const Event_Record second = Event(2);
  const Event_Journal::Written again = journal_->Append_Written(second);
  EXPECT_EQ(File_Slot(1), Record_Bytes(second));
  journal_->Settle(&again.Slot, &again.Ticket, 1, false);
  EXPECT_EQ(journal_->Slot(1).Status, 0);
  EXPECT_FALSE(journal_->Save_New(gate_).Wrote);
  const Event_Journal::Written retry = journal_->Append_Written(Event(3));
  ASSERT_EQ(retry.Error, "");
  EXPECT_EQ(retry.Slot, 2);
  EXPECT_TRUE(All_Zero(File_Slot(1)));
  EXPECT_EQ(File_Slot(2), Record_Bytes(Event(3)));
}

// The write-ahead of a group commit leaves the slots to the sync: nothing reaches the file
// before it, then every slot appended so far (across the ring's end too) with the head, the same
// bytes Append_Written gives. A sync that cannot write keeps them for the next one.
TEST_F(Event_Journal_Test, SlotsLeftForTheSyncAreWrittenByItWithTheHead) {
  std::string image(JOURNAL_FILE_SIZE, '\0');
  const uint32_t start = JOURNAL_SLOTS - 2;
  std::memcpy(image.data(), &start, 4);
  Write_Bytes(path_, image);
  ASSERT_EQ(journal_->Load(), "");
  Event_Journal::Written written[4];
  for (int n = 0; n < 4; ++n) written[n] = journal_->Append_Later(Event(n));
  EXPECT_EQ(written[0].Slot, JOURNAL_SLOTS - 2);
  EXPECT_EQ(written[3].Slot, 1);
  EXPECT_EQ(journal_->Head(), 2u);
  EXPECT_TRUE(All_Zero(Read_Bytes(path_, 4)));
  EXPECT_EQ(File_Head(), start);
  EXPECT_FALSE(journal_->Save_New(gate_).Wrote);  // in flight: not the save pass's

  EXPECT_EQ(journal_->Sync_File(), "");
  for (int n = 0; n < 4; ++n) EXPECT_EQ(File_Slot(written[n].Slot), Record_Bytes(Event(n))) << n;
  EXPECT_EQ(File_Head(), 2u);

  // A folder in the file's place fails the sync; once the file is back the next sync writes
  // the slot left over.
  ASSERT_EQ(std::rename(path_.c_str(), (path_ + ".away").c_str()), 0);
  ASSERT_EQ(::mkdir(path_.c_str(), 0755), 0);
  const Event_Journal::Written later = journal_->Append_Later(Event(7));
  EXPECT_EQ(journal_->Sync_File(), "File open error. " + Error_Text(EISDIR));
  ASSERT_EQ(::rmdir(path_.c_str()), 0);
  ASSERT_EQ(std::rename((path_ + ".away").c_str(), path_.c_str()), 0);
  EXPECT_EQ(journal_->Sync_File(), "");
  EXPECT_EQ(File_Slot(later.Slot), Record_Bytes(Event(7)));
  EXPECT_EQ(File_Head(), 3u);
}

// The kept descriptor must not write into a file that is no longer "dorvex.dat": a folder put in
// its place fails the sync and every write after it, until a file is back.
TEST_F(Event_Journal_Test, FileDeletedBetweenSyncsIsMadeAgainAtTheNextSyncWithTheWrites) {
  ASSERT_EQ(journal_->Load(), "");
  ASSERT_EQ(journal_->Append_Written(Event(1)).Error, "");
  ASSERT_EQ(journal_->Sync_File(), "");
  ASSERT_EQ(std::remove(path_.c_str()), 0);
  // The writes between two syncs go to the kept descriptor; the sync finds the name gone and
  // writes the whole ring, these writes included, into a new file.
  ASSERT_EQ(journal_->Append_Written(Event(2)).Error, "");
  ASSERT_EQ(journal_->Append_Written(Event(3)).Error, "");
  EXPECT_EQ(journal_->Sync_File(), "");
  EXPECT_EQ(File_Slot(0), Record_Bytes(Event(1)));
  EXPECT_EQ(File_Slot(2), Record_Bytes(Event(3)));
  EXPECT_EQ(File_Head(), 3u);
  EXPECT_NE(journal_->Take_Notice().find("was missing or replaced"), std::string::npos);
}

TEST_F(Event_Journal_Test, FileReplacedByAFolderFailsUntilAFileIsBack) {
  ASSERT_EQ(journal_->Load(), "");
  ASSERT_EQ(std::rename(path_.c_str(), (path_ + ".away").c_str()), 0);
  ASSERT_EQ(::mkdir(path_.c_str(), 0755), 0);
  const std::string folder_error = "File open error. " + Error_Text(EISDIR);
  EXPECT_EQ(journal_->Append_Written(Event(1)).Error, folder_error);
  EXPECT_EQ(journal_->Sync_File(), folder_error);
  EXPECT_EQ(journal_->Head(), 0u);  // the refused record is not in the ring

  ASSERT_EQ(::rmdir(path_.c_str()), 0);
  ASSERT_EQ(std::rename((path_ + ".away").c_str(), path_.c_str()), 0);
  const Event_Journal::Written back = journal_->Append_Written(Event(3));
  ASSERT_EQ(back.Error, "");
  EXPECT_EQ(journal_->Sync_File(), "");
  EXPECT_EQ(File_Slot(0), Record_Bytes(Event(3)));
  EXPECT_EQ(File_Head(), 1u);
  EXPECT_EQ(journal_->Take_Notice(), "");  // the same file came back: nothing made again
}

}  // namespace
