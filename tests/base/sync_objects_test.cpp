#include "base/sync_objects.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(Sync_Objects_Test, InitialStates) {
  Shared_Sync sync;
  EXPECT_TRUE(sync.Run_Gate.Is_Set());
  EXPECT_FALSE(sync.Answer_Event.Is_Set());
  EXPECT_FALSE(sync.New_Event_Signal.Try_Take());
  EXPECT_EQ(sync.Link_State.load(), 0u);
  EXPECT_EQ(sync.Answer_Byte.load(), 0);
  EXPECT_TRUE(sync.Object_Table_Lock.Try_Lock());
  sync.Object_Table_Lock.Unlock();
}

TEST(Sync_Objects_Test, ManualResetEventStaysSetUntilReset) {
  Manual_Reset_Event event(false);
  EXPECT_FALSE(event.Wait(std::chrono::milliseconds(1)));
  event.Set();
  EXPECT_TRUE(event.Wait(std::chrono::milliseconds(0)));
  EXPECT_TRUE(event.Wait(std::chrono::milliseconds(0)));
  event.Reset();
  EXPECT_FALSE(event.Is_Set());
}

TEST(Sync_Objects_Test, SetFromAnotherThreadEndsAWait) {
  Shared_Sync sync;
  std::thread answer([&] {
    sync.Answer_Byte.store(ANSWER_ACK);
    sync.Answer_Event.Set();
  });
  // The deadline is generous: the pass condition is the set event, not the time taken.
  EXPECT_TRUE(sync.Answer_Event.Wait(std::chrono::seconds(10)));
  EXPECT_EQ(sync.Answer_Byte.load(), ANSWER_ACK);
  answer.join();
}

TEST(Sync_Objects_Test, AutoResetEventIsTakenOnce) {
  Auto_Reset_Event signal;
  signal.Set();
  signal.Set();
  EXPECT_TRUE(signal.Try_Take());
  EXPECT_FALSE(signal.Try_Take());
}

}  // namespace
