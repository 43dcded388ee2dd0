// The whole road of an alarm through the core object, with the journal full: communicators
// report over DC-09 while no automation link is open, until the journal holds 4096 events that
// were never reported and the receiver stops answering; once the link opens every stored event
// reaches the automation software exactly once, and the refused ones are taken when sent again.
#include <gtest/gtest.h>

#include <map>

#include "automation/link_manager.h"
#include "receiver/receiver_fixture.h"
#include "support/automation_peer.h"

namespace receiver_test {
namespace {

constexpr int EVENTS = 4100;

// Event n as a Contact ID message whose group and zone name it (group n / 1000, zone n % 1000).
std::string Numbered_Frame(int n) {
  char body[96];
  std::snprintf(body, sizeof body, "\"ADM-CID\"%04dR1L1#1234[#1234|1401 %02d %03d]", n % 10000,
                n / 1000, n % 1000);
  return Frame(body);
}
std::string Numbered_Line(int n) {
  char line[48];
  std::snprintf(line, sizeof line, "5011 181234E401%02d%03d\x14", n / 1000, n % 1000);
  return line;
}

using Journal_Full = Receiver_Fixture;

TEST_F(Journal_Full, EveryStoredEventReachesTheAutomationSoftwareOnceAndRefusedOnesAreRetaken) {
  // The automation link is on (TCP server) but not yet open: the journal refuses when full.
  settings_.Out_Mode = 1;
  settings_.HB_Period = 0;
  Start();
  core_->Link().Stop();  // the link is ticked by hand

  auto communicator = Connect();
  for (int n = 0; n < EVENTS; ++n) Send_And_Wait(*communicator, Numbered_Frame(n));
  // 4096 events were answered and stored; the last four got no answer.
  const std::string answers = communicator->Pending();
  EXPECT_EQ(std::count(answers.begin(), answers.end(), '\r'), JOURNAL_SLOTS);
  EXPECT_TRUE(core_->Journal().Is_Full());
  EXPECT_EQ(pane_.With("Event journal full").size(), 1u);
  // The sender saves them whatever the link's state.
  EXPECT_TRUE(Wait_Until(
      [&] {
        for (int k = 0; k < JOURNAL_SLOTS; ++k) {
          if (core_->Journal().Slot(k).Status != (EVT_PRESENT | EVT_SAVED)) return false;
        }
        return true;
      },
      std::chrono::milliseconds(20000)));

  // The automation link opens (TCP server mode) and the automation software acknowledges all.
  core_->Settings().Out_Mode = 1;
  core_->Settings().Out_TCP_Server = 1;
  core_->Settings().Out_Port = 0;
  for (int port = 39200; port < 39300 && !core_->Link().Listener_Active(); ++port) {
    core_->Settings().Out_Port = port;
    core_->Link().Set_Reconnect_Delay(0);
    core_->Link().Timer_OutTimer();
  }
  ASSERT_TRUE(core_->Link().Listener_Active());
  Automation_Peer peer(Automation_Peer::Connect_Fd(core_->Settings().Out_Port),
                       Automation_Peer::Always(PEER_ACK), Automation_Peer::Fd::Owned);
  ASSERT_TRUE(Wait_Until([&] { return core_->Link().Listener_Connections() == 1; }));
  core_->Link().Timer_OutTimer();
  ASSERT_TRUE(
      Wait_Until([&] { return peer.Count() >= JOURNAL_SLOTS; }, std::chrono::milliseconds(60000)));

  // The refused events, sent again, are taken now and reported too.
  auto again = Connect();
  for (int n = JOURNAL_SLOTS; n < EVENTS; ++n) Send_And_Wait(*again, Numbered_Frame(n));
  ASSERT_TRUE(Wait_Until([&] { return peer.Count() >= EVENTS; }, std::chrono::milliseconds(20000)));
  Wait_Until([] { return false; },
             std::chrono::milliseconds(200));  // a duplicate would show up within a cycle or two

  std::map<std::string, int> received;
  for (const std::string& line : peer.Texts()) ++received[line];
  EXPECT_EQ(peer.Count(), static_cast<std::size_t>(EVENTS));
  for (int n = 0; n < EVENTS; ++n) EXPECT_EQ(received[Numbered_Line(n)], 1) << n;
  EXPECT_EQ(pane_.With("Event journal full, events are not answered").size(), 1u);
}

}  // namespace
}  // namespace receiver_test
