#include "receiver/connection_table.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using Closed = std::vector<std::pair<std::string, int>>;

Closed Tick(Connection_Table& table) {
  Closed closed;
  table.Tick([&](std::string_view address, int32_t port) {
    closed.emplace_back(std::string(address), port);
  });
  return closed;
}

TEST(Connection_Table, PeerIsClosedAtTheTickThatFindsCountdownOne) {
  Connection_Table table;
  ASSERT_EQ(table.Set_Countdown("10.0.0.1", 5000, 5), 0);
  for (int tick = 1; tick <= 4; ++tick) EXPECT_TRUE(Tick(table).empty()) << tick;
  EXPECT_EQ(Tick(table), (Closed{{"10.0.0.1", 5000}}));
  EXPECT_EQ(table.Slot(0).Countdown, 0);
  EXPECT_EQ(table.Slot(0).Port, 0);
  EXPECT_STREQ(table.Slot(0).Address, "");
  EXPECT_TRUE(Tick(table).empty());
}

TEST(Connection_Table, AddressMatchesOnlyWhenEqual) {
  // 10.0.0.1 occurs within 10.0.0.11: the two peers still keep separate slots, so the first
  // one's countdown never closes the second.
  Connection_Table table;
  EXPECT_EQ(table.Set_Countdown("10.0.0.11", 4000, 30), 0);
  EXPECT_EQ(table.Set_Countdown("10.0.0.1", 4000, 2), 1);
  EXPECT_EQ(table.Set_Countdown("10.0.0.11", 4000, 30), 0);
  EXPECT_TRUE(Tick(table).empty());
  EXPECT_EQ(Tick(table), (Closed{{"10.0.0.1", 4000}}));
  EXPECT_EQ(table.Slot(0).Countdown, 28);
}

TEST(Connection_Table, SamePeerKeepsItsSlotAndRestartsTheCountdown) {
  Connection_Table table;
  EXPECT_EQ(table.Set_Countdown("10.0.0.1", 1, 2), 0);
  EXPECT_EQ(table.Set_Countdown("10.0.0.2", 2, 30), 1);
  EXPECT_EQ(Tick(table).size(), 0u);
  EXPECT_EQ(Tick(table).size(), 1u);  // slot 0 is free again
  // Slot 0 is free but the peer of slot 1 still holds slot 1: a second entry would go on
  // counting the old time and close it too soon.
  EXPECT_EQ(table.Set_Countdown("10.0.0.2", 2, 30), 1);
  EXPECT_EQ(table.Slot(1).Countdown, 30);
  EXPECT_EQ(table.Set_Countdown("10.0.0.3", 3, 5), 0);
  EXPECT_EQ(table.Live_Count(), 2);
}

TEST(Connection_Table, CountdownZeroFreesTheSlotAndNeverCloses) {
  Connection_Table table;
  EXPECT_EQ(table.Set_Countdown("127.0.0.1", 7, 5), 0);
  EXPECT_EQ(table.Set_Countdown("127.0.0.1", 7, 0), 0);
  for (int tick = 0; tick < 10; ++tick) EXPECT_TRUE(Tick(table).empty());
  EXPECT_EQ(table.Live_Count(), 0);
}

TEST(Connection_Table, FullTableLeavesNewPeersUntracked) {
  Connection_Table table;
  for (int i = 0; i < CONNECTION_SLOTS; ++i) ASSERT_EQ(table.Set_Countdown("10.1.1.1", i, 5), i);
  EXPECT_EQ(table.Set_Countdown("10.1.1.2", 1, 5), -1);
  EXPECT_EQ(table.Set_Countdown("10.1.1.1", 2047, 9), 2047);  // a tracked peer is still found
  for (int tick = 0; tick < 4; ++tick) Tick(table);
  EXPECT_EQ(Tick(table).size(), static_cast<size_t>(CONNECTION_SLOTS - 1));
  EXPECT_EQ(table.Set_Countdown("10.1.1.2", 1, 5), 0);
}

TEST(Connection_Table, LongIpv6AddressIsTrackedWhole) {
  Connection_Table table;
  const std::string a = "2001:db8:85a3:1234:5678:8a2e:370:7334";
  const std::string b = "2001:db8:85a3:1234:5678:8a2e:370:7335";
  EXPECT_EQ(table.Set_Countdown(a, 9, 1), 0);
  EXPECT_EQ(table.Set_Countdown(b, 9, 5), 1);
  EXPECT_EQ(Tick(table), (Closed{{a, 9}}));
}

}  // namespace
