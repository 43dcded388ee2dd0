#include "automation/at_rec_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/pty_pair.h"
#include "support/wait.h"

namespace {

using namespace std::chrono_literals;

class AT_Rec_Thread_Test : public ::testing::Test {
 protected:
  void SetUp() override {
    port_.Set_Port_Name(pty_.Slave_Path());
    port_.Open_Port();
    sync_.Link_State = LINK_OPEN;
  }

  // Lets the thread run `n` more whole cycles.
  void Wait_Cycles(uint64_t n) {
    const uint64_t target = thread_.Cycle_Count() + n;
    ASSERT_TRUE(Wait_Until([&] { return thread_.Cycle_Count() >= target; }));
  }

  std::vector<std::string> Errors() {
    std::lock_guard lock(errors_mutex_);
    return errors_;
  }

  Pty_Pair pty_;
  Serial_Port port_;
  Shared_Sync sync_;
  std::mutex errors_mutex_;
  std::vector<std::string> errors_;
  AT_Rec_Thread thread_{port_, sync_, [this](const std::string& line) {
                          std::lock_guard lock(errors_mutex_);
                          errors_.push_back(line);
                        }};
};

TEST_F(AT_Rec_Thread_Test, AnAnswerByteSetsTheAnswerEvent) {
  thread_.Start();
  pty_.Write_Master("\x06");
  ASSERT_TRUE(sync_.Answer_Event.Wait(5000ms));
  EXPECT_EQ(sync_.Answer_Byte.load(), ANSWER_ACK);
  EXPECT_TRUE(Errors().empty());
}

TEST_F(AT_Rec_Thread_Test, OfTwoAnswersArrivingTogetherTheSecondIsKept) {
  thread_.Start();
  for (const std::string& pair : {std::string("\x06\x15"), std::string("\x15\x06")}) {
    sync_.Answer_Event.Reset();
    sync_.Answer_Byte = 0;
    pty_.Write_Master(pair);
    const uint8_t second = static_cast<uint8_t>(pair[1]);
    ASSERT_TRUE(Wait_Until([&] { return sync_.Answer_Byte.load() == second; }));
    EXPECT_TRUE(sync_.Answer_Event.Is_Set());
    EXPECT_EQ(port_.Bytes_Waiting(), 0);  // both bytes were taken
  }
}

TEST_F(AT_Rec_Thread_Test, OtherBytesAreReadAndDropped) {
  thread_.Start();
  // An echo of the line and noise around one ACK: the ACK stays the answer.
  pty_.Write_Master(std::string("5011 181234E13001015\x14\x06\x00\xff\x07zz", 27));
  ASSERT_TRUE(
      Wait_Until([&] { return sync_.Answer_Event.Is_Set() && port_.Bytes_Waiting() == 0; }));
  thread_.Stop();  // after the thread has ended, every byte has been handled
  ASSERT_TRUE(thread_.Wait_Ended(5000ms));
  EXPECT_EQ(sync_.Answer_Byte.load(), ANSWER_ACK);
  EXPECT_TRUE(Errors().empty());
}

TEST_F(AT_Rec_Thread_Test, NothingIsReadWhileTheLinkStateIsZero) {
  sync_.Link_State = 0;
  thread_.Start();
  pty_.Write_Master("\x06");
  ASSERT_TRUE(Wait_Until([&] { return port_.Bytes_Waiting() == 1; }));
  Wait_Cycles(5);
  EXPECT_EQ(port_.Bytes_Waiting(), 1);
  EXPECT_FALSE(sync_.Answer_Event.Is_Set());

  sync_.Link_State = LINK_OPEN | LINK_ALIVE;
  ASSERT_TRUE(sync_.Answer_Event.Wait(5000ms));
  EXPECT_EQ(sync_.Answer_Byte.load(), ANSWER_ACK);
}

TEST_F(AT_Rec_Thread_Test, AClosedPortWithTheLinkOpenOverTcpIsLeftAlone) {
  port_.Close_Port();
  thread_.Start();
  Wait_Cycles(5);
  EXPECT_TRUE(Errors().empty());
  EXPECT_FALSE(sync_.Answer_Event.Is_Set());
}

TEST_F(AT_Rec_Thread_Test, AReadFailureIsReportedAndAStopEndsThePause) {
  thread_.Start();
  pty_.Close_Master();  // hangs the line up: asking for waiting bytes fails with EIO (5)
  ASSERT_TRUE(Wait_Until([&] { return !Errors().empty(); }));
  EXPECT_EQ(Errors().front(), "Serial Port Error: 5 (Input/output error)");
  // The thread now pauses 1000 ms; a stop request ends the pause at once.
  thread_.Stop();
  EXPECT_TRUE(thread_.Wait_Ended(5000ms));
  EXPECT_FALSE(thread_.Is_Running());
  EXPECT_EQ(Errors().size(), 1u);
}

TEST_F(AT_Rec_Thread_Test, ClosingThePortUnderTheThreadIsNoError) {
  thread_.Start();
  for (int i = 0; i < 50; ++i) {
    pty_.Write_Master("\x06\x15\x06");
    port_.Close_Port();
    port_.Open_Port();
  }
  Wait_Cycles(2);
  EXPECT_TRUE(Errors().empty());
}

TEST(AT_Rec_Thread, NeverStartedCountsAsEndedAndDestroysCleanly) {
  Serial_Port port;
  Shared_Sync sync;
  AT_Rec_Thread thread(port, sync, [](const std::string&) {});
  EXPECT_FALSE(thread.Is_Running());
  EXPECT_TRUE(thread.Wait_Ended(0ms));
}

}  // namespace
