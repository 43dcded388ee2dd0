#include "store/object_table.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "store/test_files.h"
#include "support/example_event.h"
#include "support/temp_folder.h"

namespace {

constexpr int64_t kNow = 1700000000;

Event_Record Event(const char* account, int64_t time = kNow, const char* peer = "192.168.1.9") {
  return Example_Event({.Receiver = "12",
                        .Line = "3",
                        .Account = account,
                        .Code = "1130",
                        .Group = "02",
                        .Zone = "015",
                        .Time = time,
                        .Address = peer,
                        .Quality = 0});
}

Extended_Data Extended(const char* text) {
  Extended_Data data{};
  const std::string_view view(text);
  std::memcpy(data.data(), view.data(), std::min(view.size(), data.size()));
  return data;
}

std::string Record_Bytes(const Object_Record& r) {
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

class Object_Table_Test : public ::testing::Test {
 protected:
  Temp_Folder folder_;
  std::string path_ = folder_.File(OBJECT_FILE_NAME);
  Mutex file_lock_;
  Manual_Reset_Event gate_{true};
  std::unique_ptr<Object_Table> table_ = std::make_unique<Object_Table>(path_, file_lock_);

  void SetUp() override { ASSERT_EQ(table_->Load(), ""); }

  int Update(const char* account, const char* extended = "", int64_t time = kNow) {
    Event_Record event = Event(account, time);
    return table_->Update(event, Extended(extended));
  }
  Object_Record File_Record(int i) {
    Object_Record r;
    std::memcpy(&r, Read_Bytes(path_, 88 * i, 88).data(), 88);
    return r;
  }
  // A file of `n` used records with account "A<i>" and the given last-message time.
  void Write_Table(int n, int64_t (*time_of)(int)) {
    std::string image(OBJECT_FILE_SIZE, '\0');
    for (int i = 0; i < n; ++i) {
      Object_Record r{};
      r.Last_Event_Time = time_of(i);
      std::snprintf(r.Account_Nr, sizeof r.Account_Nr, "A%d", i);
      r.Ping_Timeout = 70;
      std::memcpy(&image[88 * i], &r, 88);
    }
    Write_Bytes(path_, image);
    ASSERT_EQ(table_->Load(), "");
  }
};

TEST_F(Object_Table_Test, FirstStartCreatesAZeroFile) {
  EXPECT_EQ(File_Size(path_), 880000);
  EXPECT_TRUE(All_Zero(Read_Bytes(path_)));
  EXPECT_EQ(table_->Count(), 0);
}

TEST_F(Object_Table_Test, WrongSizeIsReplacedWithTheKeptMessage) {
  Write_Bytes(path_, "12345");
  EXPECT_EQ(table_->Load(), "File " + path_ + " size (5->880000) error, new file created.");
  EXPECT_EQ(File_Size(path_), 880000);
  EXPECT_TRUE(All_Zero(Read_Bytes(path_)));
}

TEST_F(Object_Table_Test, UnopenableFileIsLeftAlone) {
  ASSERT_EQ(::unlink(path_.c_str()), 0);
  ASSERT_EQ(::mkdir(path_.c_str(), 0755), 0);
  EXPECT_EQ(table_->Load(), "");
  EXPECT_EQ(table_->Count(), 0);
}

TEST_F(Object_Table_Test, LoadRearmsEveryCountdownAndKeepsTheFlags) {
  std::string image(OBJECT_FILE_SIZE, '\0');
  Object_Record r{};
  r.Last_Event_Time = kNow;
  std::strcpy(r.Account_Nr, "77");
  r.Ping_Timeout = 2;
  r.Ping_Countdown = 5;
  r.Object_Flags = OBJ_LOST | OBJ_REPORT_DUE;
  std::memcpy(&image[0], &r, 88);
  r.Ping_Timeout = 0xFFFFFFFF;  // a countdown that would overflow counts from the largest value
  std::memcpy(&image[88], &r, 88);
  Write_Bytes(path_, image);
  ASSERT_EQ(table_->Load(), "");
  EXPECT_EQ(table_->Record(0).Ping_Countdown, 120u);
  EXPECT_EQ(table_->Record(0).Object_Flags, OBJ_LOST | OBJ_REPORT_DUE);
  EXPECT_EQ(table_->Record(1).Ping_Countdown, 0xFFFFFFFFu);
}

TEST_F(Object_Table_Test, FirstMessageDecidesQualityAndTimeout) {
  struct Case {
    const char* extended;
    int quality;
    uint32_t timeout;
  };
  const Case cases[] = {
      {"[Q55]", 55, 6},
      {"", 255, 70},
      {"[Q]", 255, 70},            // "[Q" followed by no digit
      {"[Q300]", 44, 6},           // low 8 bits
      {"[B1.2.3.4][Q07]", 7, 6},   //
      {"[Q1.5]", 255, 70},         // a dot does not convert
      {"[Q2147483647]", 255, 6},   // the largest 32-bit value converts
      {"[Q2147483648]", 255, 70},  // one more does not
      {"[Q99999999999999999]", 255, 70},
      {"[Qabc][Q12]", 255, 70},  // only the first "[Q" counts
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extended);
    const std::string account = "Q" + std::to_string(n++);
    Event_Record event = Event(account.c_str());
    const int i = table_->Update(event, Extended(c.extended));
    const Object_Record r = table_->Record(i);
    EXPECT_EQ(r.Signal_Quality, c.quality);
    EXPECT_EQ(event.Signal_Quality, c.quality);
    EXPECT_EQ(r.Ping_Timeout, c.timeout);
    EXPECT_EQ(r.Ping_Countdown, c.timeout * 60);
    EXPECT_EQ(r.Object_Flags, 0);
    EXPECT_EQ(Record_Bytes(File_Record(i)), Record_Bytes(r));
  }
  EXPECT_EQ(table_->Count(), n);
}

TEST_F(Object_Table_Test, RecordTakesTheEventFields) {
  Event_Record event = Event("1234");
  ASSERT_EQ(table_->Update(event, Extended("")), 0);
  const Object_Record r = table_->Record(0);
  EXPECT_EQ(r.Last_Event_Time, kNow);
  EXPECT_STREQ(r.Account_Nr, "1234");
  EXPECT_STREQ(r.Receiver_Nr, "12");
  EXPECT_STREQ(r.Line_Nr, "3");
  EXPECT_STREQ(r.Event_Code, "1130");
  EXPECT_STREQ(r.Group_Nr, "02");
  EXPECT_STREQ(r.Zone_Nr, "015");
  EXPECT_STREQ(r.IP_Address, "192.168.1.9");  // the peer address when there is no "[B"
}

TEST_F(Object_Table_Test, AddressFromTheBField) {
  struct Case {
    const char* extended;
    const char* address;
  };
  const Case cases[] = {
      {"[B10.0.0.7]", "10.0.0.7"},
      {"[Q5][B10.0.0.7]", "10.0.0.7"},
      {"[B]", "192.168.1.9"},
      {"[B123.123.123.1234]", "123.123.123.123"},  // 16 characters are cut to 15
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extended);
    const std::string account = "B" + std::to_string(n++);
    Event_Record event = Event(account.c_str());
    const int i = table_->Update(event, Extended(c.extended));
    EXPECT_STREQ(event.IP_Address, c.address);
    const Object_Record r = table_->Record(i);
    EXPECT_STREQ(r.IP_Address, c.address);
    EXPECT_EQ(r.IP_Address[15], '\0');
  }
}

TEST_F(Object_Table_Test, LaterMessageKeepsTheTimeoutAndRearmsTheCountdown) {
  Update("55", "[Q40]");
  for (int t = 0; t < 100; ++t) table_->Ping_Tick();
  EXPECT_EQ(table_->Record(0).Ping_Countdown, 260u);
  EXPECT_EQ(Update("55", "", kNow + 100), 0);
  const Object_Record r = table_->Record(0);
  EXPECT_EQ(r.Signal_Quality, 255);
  EXPECT_EQ(r.Ping_Timeout, 6u);
  EXPECT_EQ(r.Ping_Countdown, 360u);
  EXPECT_EQ(r.Last_Event_Time, kNow + 100);
  EXPECT_EQ(table_->Count(), 1);
}

TEST_F(Object_Table_Test, AccountsCompareByteWise) {
  EXPECT_EQ(Update("1234"), 0);
  EXPECT_EQ(Update("01234"), 1);
  EXPECT_EQ(Update("1234"), 0);
  EXPECT_EQ(table_->Count(), 2);
}

TEST_F(Object_Table_Test, FullTableGivesTheOldestRecordToANewAccount) {
  // Records 5 and 7 share the oldest time: the first of them goes.
  Write_Table(OBJECT_SLOTS, [](int i) -> int64_t { return (i == 5 || i == 7) ? 100 : 1000 + i; });
  EXPECT_EQ(Update("NEW", "[Q9]"), 5);
  Object_Record r = table_->Record(5);
  EXPECT_STREQ(r.Account_Nr, "NEW");
  EXPECT_EQ(r.Ping_Timeout, 6u);
  EXPECT_EQ(r.Ping_Countdown, 360u);
  EXPECT_STREQ(table_->Record(7).Account_Nr, "A7");
  EXPECT_EQ(Update("NEWER"), 7);
  EXPECT_EQ(table_->Record(7).Ping_Timeout, 70u);
  // A known account still finds its own record.
  EXPECT_EQ(Update("A9999"), 9999);
}

TEST_F(Object_Table_Test, FullTableWithNothingOlderThanNowGivesUpRecordZero) {
  Write_Table(OBJECT_SLOTS, [](int) -> int64_t { return kNow + 50; });
  EXPECT_EQ(Update("NEW"), 0);
  EXPECT_STREQ(table_->Record(0).Account_Nr, "NEW");
}

// The record a new account takes in a full table, found the way a scan from record 0 finds it:
// the first record whose last message is older than every one before it and than `now`.
int Scanned_Oldest(const Object_Table& table, int64_t now) {
  int oldest = 0;
  int64_t minimum = now;
  for (int i = 0; i < OBJECT_SLOTS; ++i) {
    const int64_t t = table.Record(i).Last_Event_Time;
    if (t < minimum) {
      oldest = i;
      minimum = t;
    }
  }
  return oldest;
}

TEST_F(Object_Table_Test, FullTableTakeOversFollowTheScanAndKeepTheIndexRight) {
  // Times in runs of equal values, some of them later than the new messages.
  Write_Table(OBJECT_SLOTS, [](int i) -> int64_t { return kNow - 5000 + (i * 7919) % 6000 / 3; });
  std::vector<std::string> gone;
  for (int n = 0; n < 40; ++n) {
    const int64_t now = kNow + n;
    const int expected = Scanned_Oldest(*table_, now);
    gone.emplace_back(Field_Text(table_->Record(expected).Account_Nr));
    const std::string account = "N" + std::to_string(n);
    ASSERT_EQ(Update(account.c_str(), "", now), expected) << account;
    EXPECT_EQ(Update(account.c_str(), "", now), expected);  // found again, not taken over again
  }
  EXPECT_EQ(table_->Count(), OBJECT_SLOTS);
  // An account that was taken over is new when it comes back: it takes the oldest record again.
  const int expected = Scanned_Oldest(*table_, kNow + 100);
  EXPECT_EQ(Update(gone.front().c_str(), "", kNow + 100), expected);
  EXPECT_EQ(table_->Record(expected).Ping_Timeout, 70u);
}

TEST_F(Object_Table_Test, AccountsAreMatchedAsAScanFromRecordZeroWould) {
  // A file written elsewhere: "A1" twice, and records behind an empty one.
  Write_Table(6, [](int i) -> int64_t { return i == 3 ? 0 : kNow - 100 + i; });
  std::string image = Read_Bytes(path_);
  std::memcpy(&image[88 * 4 + 8], "A1\0", 3);
  Write_Bytes(path_, image);
  ASSERT_EQ(table_->Load(), "");
  EXPECT_EQ(table_->Count(), 3);
  EXPECT_EQ(Update("A5"), 3);  // "A5" behind the empty record is not seen; the gap is filled
  EXPECT_EQ(table_->Count(), 6);
  EXPECT_EQ(Update("A1"), 1);  // the first of two
  EXPECT_EQ(Update("A5"), 3);
  ASSERT_TRUE(table_->Delete(1, "A1"));
  EXPECT_EQ(Update("A1"), 3);  // the second one, moved down
  EXPECT_EQ(Update("A5"), 2);
  EXPECT_EQ(table_->Count(), 5);
}

TEST_F(Object_Table_Test, SilentObjectIsLostAtThe60thTickAndReportedBack) {
  Update("900");
  ASSERT_TRUE(table_->Change_Timeout(0, 1));
  EXPECT_EQ(table_->Record(0).Ping_Countdown, 60u);
  Supervision_Report report;
  for (int t = 1; t < 60; ++t) ASSERT_FALSE(table_->Ping_Tick()) << t;
  EXPECT_FALSE(table_->Supervision_Event(0, report));
  EXPECT_TRUE(table_->Ping_Tick());
  Object_Record r = table_->Record(0);
  EXPECT_EQ(r.Ping_Countdown, 0u);
  EXPECT_EQ(r.Object_Flags, OBJ_LOST | OBJ_REPORT_DUE);
  EXPECT_EQ(File_Record(0).Object_Flags, OBJ_LOST);  // the due flag is set after the write
  EXPECT_FALSE(table_->Ping_Tick());                 // lost once only

  ASSERT_TRUE(table_->Supervision_Event(0, report));
  Event_Record expected{};
  std::strcpy(expected.Receiver_Nr, "12");
  std::strcpy(expected.Line_Nr, "3");
  std::strcpy(expected.Account_Nr, "900");
  std::strcpy(expected.Event_Code, "1350");
  std::strcpy(expected.Group_Nr, "01");
  std::strcpy(expected.Zone_Nr, "000");
  EXPECT_EQ(std::memcmp(&report.Event, &expected, sizeof expected), 0);
  table_->Clear_Report_Due(report);
  EXPECT_EQ(table_->Record(0).Object_Flags, OBJ_LOST);
  EXPECT_EQ(Update("900", "", kNow + 70), 0);
  r = table_->Record(0);
  EXPECT_EQ(r.Object_Flags, OBJ_REPORT_DUE);
  EXPECT_EQ(r.Ping_Countdown, 60u);
  EXPECT_EQ(File_Record(0).Object_Flags, 0);
  ASSERT_TRUE(table_->Supervision_Event(0, report));
  EXPECT_STREQ(report.Event.Event_Code, "3350");
  table_->Clear_Report_Due(report);
  EXPECT_FALSE(table_->Supervision_Event(0, report));
}

TEST_F(Object_Table_Test, ReturnBeforeTheLossWasReportedSendsOnlyTheReturn) {
  Update("900");
  table_->Change_Timeout(0, 1);
  for (int t = 0; t < 60; ++t) table_->Ping_Tick();
  Update("900", "", kNow + 61);
  Supervision_Report report;
  ASSERT_TRUE(table_->Supervision_Event(0, report));
  EXPECT_STREQ(report.Event.Event_Code, "3350");
}

TEST_F(Object_Table_Test, ChangeDuringTheWaitForTheAnswerStaysDue) {
  Update("900");
  table_->Change_Timeout(0, 1);
  for (int t = 0; t < 60; ++t) table_->Ping_Tick();
  Supervision_Report report;
  ASSERT_TRUE(table_->Supervision_Event(0, report));  // "1350" is on its way
  Update("900", "", kNow + 61);                       // the object comes back meanwhile
  table_->Clear_Report_Due(report);                   // the ACK of "1350"
  ASSERT_TRUE(table_->Supervision_Event(0, report));
  EXPECT_STREQ(report.Event.Event_Code, "3350");
}

TEST_F(Object_Table_Test, AcknowledgementFollowsARecordThatADeletionMoved) {
  Update("X0");
  Update("X1");
  table_->Change_Timeout(1, 1);
  for (int t = 0; t < 60; ++t) table_->Ping_Tick();
  Supervision_Report report;
  ASSERT_TRUE(table_->Supervision_Event(1, report));
  ASSERT_TRUE(table_->Delete(0, "X0"));  // "X1" moves to record 0 before the ACK arrives
  table_->Clear_Report_Due(report);
  EXPECT_EQ(table_->Record(0).Object_Flags, OBJ_LOST);
}

// A deletion right behind an Update or a Ping_Tick (in the hook after their writes, as the
// operator's click may come while the receiver thread or the tick is at that point) moves the
// records: each report-due flag stays with the account it was set for.
TEST_F(Object_Table_Test, ReturnFlagStaysWithItsAccountWhenADeletionComesRightBehind) {
  Update("X0");
  Update("X1");
  Update("X2");
  table_->Change_Timeout(1, 1);
  for (int t = 0; t < 60; ++t) table_->Ping_Tick();
  Supervision_Report loss;
  ASSERT_TRUE(table_->Supervision_Event(1, loss));
  table_->Clear_Report_Due(loss);  // "1350" acknowledged
  ASSERT_EQ(table_->Record(1).Object_Flags, OBJ_LOST);

  bool deleted = false;
  table_->Set_After_Write_Hook([&] {
    if (!std::exchange(deleted, true)) {
      EXPECT_TRUE(table_->Delete(0, "X0"));
    }
  });
  EXPECT_EQ(Update("X1", "", kNow + 61), 1);  // back: its return is due
  ASSERT_TRUE(deleted);
  EXPECT_STREQ(table_->Record(0).Account_Nr, "X1");
  EXPECT_EQ(table_->Record(0).Object_Flags, OBJ_REPORT_DUE);
  EXPECT_STREQ(table_->Record(1).Account_Nr, "X2");
  EXPECT_EQ(table_->Record(1).Object_Flags, 0);  // no false line for the neighbour
  EXPECT_TRUE(All_Zero(Record_Bytes(table_->Record(2))));
  EXPECT_EQ(table_->Count(), 2);
  Supervision_Report report;
  ASSERT_TRUE(table_->Supervision_Event(0, report));
  EXPECT_STREQ(report.Event.Account_Nr, "X1");
  EXPECT_STREQ(report.Event.Event_Code, "3350");
}

TEST_F(Object_Table_Test, LossFlagsStayWithTheirAccountsWhenADeletionComesRightBehind) {
  for (const char* account : {"Y0", "Y1", "Y2", "Y3"}) Update(account);
  table_->Change_Timeout(1, 1);
  table_->Change_Timeout(2, 1);
  for (int t = 1; t < 60; ++t) ASSERT_FALSE(table_->Ping_Tick());

  bool deleted = false;
  table_->Set_After_Write_Hook([&] {
    if (!std::exchange(deleted, true)) {
      EXPECT_TRUE(table_->Delete(0, "Y0"));
    }
  });
  ASSERT_TRUE(table_->Ping_Tick());  // Y1 and Y2 are lost
  ASSERT_TRUE(deleted);
  const struct {
    const char* account;
    uint8_t flags;
  } expected[] = {{"Y1", OBJ_LOST | OBJ_REPORT_DUE}, {"Y2", OBJ_LOST | OBJ_REPORT_DUE}, {"Y3", 0}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_STREQ(table_->Record(i).Account_Nr, expected[i].account);
    EXPECT_EQ(table_->Record(i).Object_Flags, expected[i].flags) << expected[i].account;
  }
  EXPECT_TRUE(All_Zero(Record_Bytes(table_->Record(3))));
  // The deletion rewrote the file from memory, the losses included.
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(Record_Bytes(File_Record(i)), Record_Bytes(table_->Record(i)));
}

TEST_F(Object_Table_Test, UnsupervisedAndEmptyRecordsNeverExpire) {
  Update("1");
  table_->Change_Timeout(0, 0);
  std::string image = Read_Bytes(path_);
  Object_Record empty_account{};
  empty_account.Last_Event_Time = kNow;
  empty_account.Ping_Timeout = 1;
  std::memcpy(&image[88], &empty_account, 88);
  Write_Bytes(path_, image);
  ASSERT_EQ(table_->Load(), "");
  for (int t = 0; t < 200; ++t) ASSERT_FALSE(table_->Ping_Tick());
  EXPECT_EQ(table_->Record(0).Object_Flags, 0);
  EXPECT_EQ(table_->Record(1).Ping_Countdown, 60u);  // never counted down
}

TEST_F(Object_Table_Test, TimeoutChange) {
  Update("1");
  EXPECT_FALSE(table_->Change_Timeout(0, MAX_PING_TIMEOUT + 1));
  EXPECT_EQ(table_->Record(0).Ping_Timeout, 70u);
  EXPECT_FALSE(table_->Change_Timeout(1, 5));  // not a used record
  ASSERT_TRUE(table_->Change_Timeout(0, MAX_PING_TIMEOUT));
  EXPECT_EQ(table_->Record(0).Ping_Countdown, 4294967280u);
  table_->Ping_Tick();
  // The same value again writes the record but does not re-arm the countdown.
  ASSERT_TRUE(table_->Change_Timeout(0, MAX_PING_TIMEOUT));
  EXPECT_EQ(table_->Record(0).Ping_Countdown, 4294967279u);
  EXPECT_EQ(File_Record(0).Ping_Countdown, 4294967279u);
}

TEST_F(Object_Table_Test, DeleteMovesTheLaterRecordsDown) {
  for (int i = 0; i < 8; ++i) Update(("D" + std::to_string(i)).c_str());
  EXPECT_FALSE(table_->Delete(4, "D5"));  // record 4 no longer holds the confirmed account
  EXPECT_FALSE(table_->Delete(8, ""));    // not a used record
  EXPECT_EQ(table_->Count(), 8);
  ASSERT_TRUE(table_->Delete(4, "D4"));
  EXPECT_EQ(table_->Count(), 7);
  const char* expected[] = {"D0", "D1", "D2", "D3", "D5", "D6", "D7"};
  for (int i = 0; i < 7; ++i) EXPECT_STREQ(table_->Record(i).Account_Nr, expected[i]);
  EXPECT_TRUE(All_Zero(Record_Bytes(table_->Record(7))));
  EXPECT_EQ(Read_Bytes(path_).substr(0, 88 * 7), [&] {
    std::string bytes;
    for (int i = 0; i < 7; ++i) bytes += Record_Bytes(table_->Record(i));
    return bytes;
  }());
  EXPECT_TRUE(All_Zero(Read_Bytes(path_).substr(88 * 7)));
}

TEST_F(Object_Table_Test, DeleteInAFullTableZeroesTheLastRecord) {
  Write_Table(OBJECT_SLOTS, [](int i) -> int64_t { return 1000 + i; });
  ASSERT_TRUE(table_->Delete(0, "A0"));
  EXPECT_EQ(table_->Count(), OBJECT_SLOTS - 1);
  EXPECT_STREQ(table_->Record(0).Account_Nr, "A1");
  EXPECT_TRUE(All_Zero(Record_Bytes(table_->Record(9999))));
  EXPECT_TRUE(All_Zero(Read_Bytes(path_).substr(88 * 9999)));
}

TEST_F(Object_Table_Test, ClearZeroesTableAndFileUnlessTheFileIsGone) {
  Update("1");
  Update("2");
  ASSERT_EQ(::unlink(path_.c_str()), 0);
  EXPECT_FALSE(table_->Clear(gate_));
  EXPECT_EQ(table_->Count(), 2);
  EXPECT_EQ(File_Size(path_), -1);

  Write_Bytes(path_, std::string(OBJECT_FILE_SIZE, '\x01'));
  EXPECT_TRUE(table_->Clear(gate_));
  EXPECT_TRUE(gate_.Is_Set());
  EXPECT_EQ(table_->Count(), 0);
  EXPECT_EQ(File_Size(path_), 880000);
  EXPECT_TRUE(All_Zero(Read_Bytes(path_)));
}

// An update whose write is left for later reaches the file at Write_Pending with the bytes Update
// would have written (a returning object's report-due flag stays in memory), neighbours in one
// go; a newer write of the same record in between (a timeout change, a deletion that moved the
// records) is not overwritten by the older bytes.
TEST_F(Object_Table_Test, LaterUpdatesAreWrittenTogetherUnlessANewerWriteCameFirst) {
  for (const char* account : {"L0", "L1", "L2"}) Update(account);
  ASSERT_TRUE(table_->Change_Timeout(1, 1));
  for (int t = 0; t < 60; ++t) table_->Ping_Tick();
  Supervision_Report loss;
  ASSERT_TRUE(table_->Supervision_Event(1, loss));
  table_->Clear_Report_Due(loss);  // the loss was reported
  ASSERT_EQ(table_->Record(1).Object_Flags, OBJ_LOST);
  const std::string before = Read_Bytes(path_, 0, 88 * 4);

  for (const char* account : {"L1", "L0", "L3", "L0"}) {
    Event_Record event = Event(account, kNow + 5);
    table_->Update_Later(event, Extended("[Q9]"));
  }
  EXPECT_EQ(table_->Count(), 4);
  EXPECT_EQ(Read_Bytes(path_, 0, 88 * 4), before);  // nothing written yet
  table_->Write_Pending();
  Object_Record returned = table_->Record(1);
  EXPECT_EQ(returned.Object_Flags, OBJ_REPORT_DUE);
  returned.Object_Flags = 0;  // the file gets the return without its report-due flag
  EXPECT_EQ(Record_Bytes(File_Record(1)), Record_Bytes(returned));
  for (int i : {0, 3}) EXPECT_EQ(Record_Bytes(File_Record(i)), Record_Bytes(table_->Record(i)));

  Event_Record event = Event("L2", kNow + 9);
  table_->Update_Later(event, Extended(""));
  ASSERT_TRUE(table_->Change_Timeout(2, 9));
  table_->Write_Pending();
  EXPECT_EQ(File_Record(2).Ping_Timeout, 9u);
  EXPECT_EQ(File_Record(2).Last_Event_Time, kNow + 9);

  event = Event("L3", kNow + 10);
  table_->Update_Later(event, Extended(""));  // record 3, which the deletion moves to 2
  ASSERT_TRUE(table_->Delete(0, "L0"));
  table_->Write_Pending();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Record_Bytes(File_Record(i)), Record_Bytes(table_->Record(i))) << i;
  }
  EXPECT_TRUE(All_Zero(Record_Bytes(File_Record(3))));
}

TEST_F(Object_Table_Test, WritesToAMissingFileAreSkipped) {
  ASSERT_EQ(::unlink(path_.c_str()), 0);
  Update("1");
  EXPECT_EQ(table_->Count(), 1);  // memory stays ahead of the file
  EXPECT_EQ(File_Size(path_), -1);
}

}  // namespace
