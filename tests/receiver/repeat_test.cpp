// Repeated messages: a copy of an object's last stored message (same sequence number and data)
// that comes within the repeat window is answered as the first was but not stored again; after the
// window, with another sequence number or other data, or with the window at 0, every copy is
// stored. Real sockets on 127.0.0.1, a fixed clock moved by the test.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>

#include "receiver/repeat_memory.h"
#include "receiver_fixture.h"

namespace receiver_test {
namespace {

class Repeats : public Receiver_Fixture {
 protected:
  void Start_With_Window(int minutes) {
    settings_.DC9_Repeat_Window = static_cast<uint8_t>(minutes);
    settings_.DC9_Conn_Timeout = 0;
    Start();
    Server().Set_Clock([this] { return now_.load(); });
  }
  // Sends `frame` and returns the answer; the journal's head tells what was stored.
  std::string Exchange(Client& client, const std::string& frame) {
    client.Send(frame);
    return client.Answer();
  }
  uint32_t Stored() { return core_->Journal().Head(); }

  std::atomic<int64_t> now_{FIXED_NOW};
};

TEST_F(Repeats, CopiesWithinTheWindowAreAnsweredButStoredOnce) {
  Start_With_Window(2);
  auto client = Connect();
  const std::string first = Exchange(*client, Cid_Frame("1234", 5));
  ASSERT_NE(first.find("\"ACK\"0005"), std::string::npos) << first;
  EXPECT_EQ(Stored(), 1u);

  // Two copies, the second a second before the window closes.
  EXPECT_EQ(Exchange(*client, Cid_Frame("1234", 5)), first);
  now_ += 119;
  EXPECT_EQ(Exchange(*client, Cid_Frame("1234", 5)), first);
  EXPECT_EQ(Stored(), 1u);
  EXPECT_EQ(Server().Repeat_Count(), 2);
  // A repeat is answered, so it counts among the messages answered.
  EXPECT_EQ(Server().Answers(), 3u);

  // The window counts from the stored message: a copy at 120 s is stored again.
  now_ += 1;
  EXPECT_EQ(Exchange(*client, Cid_Frame("1234", 5)), first);
  EXPECT_EQ(Stored(), 2u);

  struct Row {
    const char* name;
    std::string frame;
  } rows[] = {
      {"another sequence number", Cid_Frame("1234", 6)},
      {"other data, same sequence number", Frame("\"ADM-CID\"0006R1L1#1234[#1234|1402 01 001]")},
      {"another object", Cid_Frame("1235", 6)},
      {"another line of the same account", Frame("\"ADM-CID\"0006R1L2#1235[#1235|1401 01 001]")},
  };
  uint32_t stored = Stored();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_NE(Exchange(*client, row.frame).find("ACK"), std::string::npos);
    EXPECT_EQ(Stored(), ++stored);
  }
  EXPECT_EQ(Server().Repeat_Count(), 2);
}

TEST_F(Repeats, TheDataLogMarksARepeatWithTheTimeOfTheStoredMessage) {
  screen_.Data_Log_Shown = true;
  Start_With_Window(5);
  Server().Settings_Changed();  // the data log's visibility
  auto client = Connect();
  Exchange(*client, Cid_Frame("1234", 5));
  now_ += 61;
  Exchange(*client, Cid_Frame("1234", 5));
  const std::time_t stored = FIXED_NOW;
  std::tm local{};
  localtime_r(&stored, &local);
  char mark[64];
  std::snprintf(mark, sizeof mark, "repeat of the message at %02d:%02d:%02d", local.tm_hour,
                local.tm_min, local.tm_sec);
  // The answer may reach the client before the pass's data log lines reach the main thread.
  Wait_Until([&] {
    Server().Deliver_Pending();
    return !screen_.Data_Log.empty() && screen_.Data_Log.back() == mark;
  });
  ASSERT_FALSE(screen_.Data_Log.empty());
  EXPECT_EQ(screen_.Data_Log.back(), mark);
  // Both copies were logged as received, the repeat with its mark after it.
  EXPECT_EQ(
      std::count_if(screen_.Data_Log.begin(), screen_.Data_Log.end(),
                    [](const std::string& l) { return l.find("ADM-CID") != std::string::npos; }),
      2);
}

TEST_F(Repeats, WindowZeroStoresEveryCopy) {
  Start_With_Window(0);
  auto client = Connect();
  for (int copy = 1; copy <= 3; ++copy) {
    EXPECT_NE(Exchange(*client, Cid_Frame("1234", 5)).find("\"ACK\"0005"), std::string::npos);
    EXPECT_EQ(Stored(), static_cast<uint32_t>(copy));
  }
  EXPECT_EQ(Server().Repeat_Count(), 0);
}

TEST_F(Repeats, RefusedMessageIsNotRemembered) {
  // A NAK'd or DUH'd message was never stored: its next copy is a new message.
  Start_With_Window(5);
  auto client = Connect();
  EXPECT_NE(Exchange(*client, Frame("\"ADM-CID\"0005R1L1#1234[garbage]")).find("DUH"),
            std::string::npos);
  EXPECT_EQ(Stored(), 0u);
  EXPECT_NE(Exchange(*client, Cid_Frame("1234", 5)).find("ACK"), std::string::npos);
  EXPECT_EQ(Stored(), 1u);
}

}  // namespace
}  // namespace receiver_test

namespace receiver_test {
namespace {

Event_Record Record_Of(const char* account) {
  Event_Record r{};
  std::snprintf(r.Account_Nr, sizeof r.Account_Nr, "%s", account);
  std::snprintf(r.Receiver_Nr, sizeof r.Receiver_Nr, "1");
  std::snprintf(r.Line_Nr, sizeof r.Line_Nr, "1");
  std::snprintf(r.Event_Code, sizeof r.Event_Code, "1401");
  return r;
}

// The memory holds at most its capacity of objects: the one remembered longest ago makes room,
// and remembering an object again makes it the newest.
TEST(Repeat_Memory, HoldsAtMostItsCapacityAndDropsTheOldestObject) {
  Repeat_Memory memory(2);
  const Extended_Data none{};
  int64_t earlier = 0;
  memory.Remember(Record_Of("A1"), 1, none, 100);
  memory.Remember(Record_Of("A2"), 1, none, 100);
  memory.Remember(Record_Of("A1"), 2, none, 101);  // A1 is now the newest
  memory.Remember(Record_Of("A3"), 1, none, 102);  // A2 goes
  EXPECT_EQ(memory.Size(), 2u);
  EXPECT_TRUE(memory.Is_Repeat(Record_Of("A1"), 2, none, 110, 1, earlier));
  EXPECT_EQ(earlier, 101);
  EXPECT_FALSE(memory.Is_Repeat(Record_Of("A2"), 1, none, 110, 1, earlier));
  EXPECT_TRUE(memory.Is_Repeat(Record_Of("A3"), 1, none, 110, 1, earlier));
  // A clock set back is no repeat, nor is anything with the window off.
  EXPECT_FALSE(memory.Is_Repeat(Record_Of("A3"), 1, none, 90, 1, earlier));
  EXPECT_FALSE(memory.Is_Repeat(Record_Of("A3"), 1, none, 110, 0, earlier));
}

}  // namespace
}  // namespace receiver_test
