// Bad files under the real program: journal and object files of the wrong size are repaired with
// their log lines; a journal file that cannot be written makes the red error lines appear about
// every two seconds without losing the events in memory, which are saved once the fault clears.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "store/object_table.h"
#include "system_config.h"
#include "system_harness.h"

namespace sys {
namespace {

TEST(Bad_Files, WrongSizeJournalAndObjectFilesAreRecreatedWithTheirLines) {
  Quenor_Process q;
  q.Write_Settings(Test_Settings(Free_Port(), LINK_TCP_SERVER, Free_Port(), 0));
  Write_File(q.File(JOURNAL_FILE_NAME), std::string(1000, 'x'));
  Write_File(q.File(OBJECT_FILE_NAME), std::string(5, 'x'));
  q.Start();
  ASSERT_TRUE(q.Wait_Log("Program started. Hostname of this computer: ", 5s));
  ASSERT_TRUE(q.Wait_Log("->327684) error, new file created.", 3s)) << q.Log_Text();
  const std::string log = q.Log_Text();
  const std::string objects_line =
      "File " + q.File(OBJECT_FILE_NAME) + " size (5->880000) error, new file created.";
  const std::string journal_line =
      "File " + q.File(JOURNAL_FILE_NAME) + " size (1000->327684) error, new file created.";
  const size_t start = log.find("Program started.");
  const size_t objects_at = log.find(objects_line);
  const size_t journal_at = log.find(journal_line);
  ASSERT_NE(objects_at, std::string::npos) << log;
  ASSERT_NE(journal_at, std::string::npos) << log;
  EXPECT_LT(start, objects_at);
  EXPECT_LT(objects_at, journal_at);
  EXPECT_EQ(File_Size(q.File(JOURNAL_FILE_NAME)), 327684);
  EXPECT_EQ(File_Size(q.File(OBJECT_FILE_NAME)), 880000);
  EXPECT_EQ(Read_File(q.File(JOURNAL_FILE_NAME)), std::string(327684, '\0'));
  EXPECT_EQ(q.Terminate(6s), 0);
}

// The journal file is put out of reach by putting a folder in its place (this works as root
// too, where file permissions do not stop a write), then given back.
// An ACK means the event is in the journal file: while the file cannot be written nothing is
// answered (the communicators keep their events and send them again), the error is logged
// again while it lasts, and once the file is back the messages sent again are answered and
// stored.
TEST(Bad_Files, UnwritableJournalLeavesMessagesUnansweredUntilTheFaultClears) {
  Quenor_Process q;
  const int dc9_port = Free_Port();
  q.Write_Settings(Test_Settings(dc9_port, LINK_TCP_SERVER, Free_Port(), 0));
  q.Start();
  const std::string journal = q.File(JOURNAL_FILE_NAME);
  const std::string aside = journal + ".aside";
  ASSERT_TRUE(q.Wait_Log("is open.", 5s));
  ASSERT_EQ(std::rename(journal.c_str(), aside.c_str()), 0);
  ASSERT_EQ(::mkdir(journal.c_str(), 0700), 0);

  // The communicators keep sending: none is answered, and the error is logged again while it
  // lasts (at most once every 3 s, so a flood of messages does not flood the log).
  int sent = 0;
  const auto until = std::chrono::steady_clock::now() + 15s;
  while (q.Log_Count("File open error. ") < 2 && std::chrono::steady_clock::now() < until) {
    const int i = sent++ % 3;
    Dc9_Answer a = Send_Frame(dc9_port, Contact_Id_Frame(std::to_string(3000 + i), i + 1), 0, 1s);
    ASSERT_EQ(a.Token, "") << sent;
  }
  ASSERT_GE(q.Log_Count("File open error. "), 2) << q.Log_Text();
  EXPECT_GE(sent, 3);
  EXPECT_TRUE(q.Log_Has("File open error.  Error: "));

  ASSERT_EQ(::rmdir(journal.c_str()), 0);
  ASSERT_EQ(std::rename(aside.c_str(), journal.c_str()), 0);
  for (int i = 0; i < 3; ++i) {
    Dc9_Answer a = Send_Frame(dc9_port, Contact_Id_Frame(std::to_string(3000 + i), i + 1));
    EXPECT_EQ(a.Token, "ACK") << i;
  }
  // Each account is in the file, written before its ACK.
  const std::string bytes = Read_File(journal);
  ASSERT_EQ(bytes.size(), JOURNAL_FILE_SIZE);
  for (int i = 0; i < 3; ++i) {
    const std::string account = std::to_string(3000 + i);
    bool found = false;
    for (int k = 0; k < 8 && !found; ++k) {
      Event_Record r;
      std::memcpy(&r, bytes.data() + Journal_Slot_Offset(k), sizeof r);
      found = r.Status == EVT_PRESENT && std::string(r.Account_Nr) == account;
    }
    EXPECT_TRUE(found) << account;
  }
  EXPECT_GE(static_cast<uint8_t>(bytes[0]), 3u);  // the head
  EXPECT_EQ(q.Terminate(6s), 0);
}

}  // namespace
}  // namespace sys
