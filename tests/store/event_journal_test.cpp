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

TEST_F(Event_Journal_Test, IdlePassOpensNoFile) {
  journal_->Load();
  journal_->Append(Event(1));
  journal_->Save_New(gate_);
  // With the file gone any open for writing would fail and report it.
  ASSERT_EQ(::unlink(path_.c_str()), 0);
  Event_Journal::Save_Outcome outcome = journal_->Save_New(gate_);
  EXPECT_EQ(outcome.Error, "");
  EXPECT_FALSE(outcome.Wrote);
  EXPECT_EQ(File_Size(path_), -1);

  journal_->Append(Event(2));
  outcome = journal_->Save_New(gate_);
  EXPECT_EQ(outcome.Error, "File open error.  Error: 2. No such file or directory");
  EXPECT_FALSE(outcome.Refresh);
  EXPECT_EQ(journal_->Slot(1).Status, 1);  // tried again in the next cycle
  EXPECT_EQ(File_Size(path_), -1);         // never created by the save pass
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
  Event_Journal::Status_Writer missing_writer(missing);
  EXPECT_EQ(missing_writer.Save_Status(0), "File open error.  Error: 2. No such file or directory");
  EXPECT_FALSE(missing_writer.Is_Open());
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
  ASSERT_TRUE(journal_->Clear(gate_));
  EXPECT_TRUE(gate_.Is_Set());
  EXPECT_EQ(journal_->Head(), 0u);
  EXPECT_EQ(journal_->Slot(0).Status, 0);
  EXPECT_EQ(File_Size(path_), 327684);
  EXPECT_TRUE(All_Zero(Read_Bytes(path_)));
}

TEST_F(Event_Journal_Test, ClearOfADeletedFileChangesNothing) {
  journal_->Load();
  journal_->Append(Event(1));
  ASSERT_EQ(::unlink(path_.c_str()), 0);
  EXPECT_FALSE(journal_->Clear(gate_));
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

  // A sync that failed leaves the slot to the save pass, which writes the same bytes again.
  const Event_Record second = Event(2);
  const Event_Journal::Written again = journal_->Append_Written(second);
  journal_->Settle(&again.Slot, &again.Ticket, 1, false);
  EXPECT_EQ(journal_->Slot(1).Status, EVT_PRESENT);
  Write_Bytes(path_, std::string(JOURNAL_FILE_SIZE, '\0'));  // same file, content wiped
  const Event_Journal::Save_Outcome saved = journal_->Save_New(gate_);
  EXPECT_TRUE(saved.Wrote);
  EXPECT_EQ(saved.Error, "");
  EXPECT_EQ(File_Slot(1), Record_Bytes(second));
  EXPECT_EQ(File_Head(), 2u);
}

// The kept descriptor must not write into a file that is no longer "dorvex.dat": a folder put in
// its place fails the sync and every write after it, until a file is back.
TEST_F(Event_Journal_Test, FileReplacedByAFolderFailsUntilAFileIsBack) {
  ASSERT_EQ(journal_->Load(), "");
  ASSERT_EQ(std::rename(path_.c_str(), (path_ + ".away").c_str()), 0);
  ASSERT_EQ(::mkdir(path_.c_str(), 0755), 0);
  const Event_Journal::Written lost = journal_->Append_Written(Event(1));
  ASSERT_EQ(lost.Error, "");  // still the old file, now under another name
  const std::string folder_error = "File open error. " + Error_Text(EISDIR);
  EXPECT_EQ(journal_->Sync_File(), folder_error);
  journal_->Settle(&lost.Slot, &lost.Ticket, 1, false);
  EXPECT_EQ(journal_->Append_Written(Event(2)).Error, folder_error);
  EXPECT_EQ(journal_->Head(), 1u);  // the refused record is not in the ring

  ASSERT_EQ(::rmdir(path_.c_str()), 0);
  ASSERT_EQ(std::rename((path_ + ".away").c_str(), path_.c_str()), 0);
  const Event_Journal::Written back = journal_->Append_Written(Event(3));
  ASSERT_EQ(back.Error, "");
  EXPECT_EQ(journal_->Sync_File(), "");
  EXPECT_EQ(File_Slot(1), Record_Bytes(Event(3)));
  EXPECT_EQ(File_Head(), 2u);
}

}  // namespace
