// The window thread held busy for 2 s (the program's test hook) while alarms arrive: their report
// lines reach the automation software before the window thread is free again.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "support/automation_peer.h"
#include "system_config.h"
#include "system_harness.h"
#include "ui/window_hold_hook.h"

namespace sys {
namespace {

TEST(Window_Hold, ReportLinesReachTheAutomationSoftwareWhileTheWindowThreadIsBusy) {
  Quenor_Process q;
  const int dc9_port = Free_Port();
  const int out_port = Free_Port();
  q.Write_Settings(Test_Settings(dc9_port, LINK_TCP_SERVER, out_port, 0));
  const std::string trigger = q.Runtime_Dir() + "/hold";
  ::setenv(HOLD_WINDOW_VARIABLE, trigger.c_str(), 1);
  q.Start();
  ::unsetenv(HOLD_WINDOW_VARIABLE);

  std::optional<Tcp_Link> automation = Tcp_Link::Connect(out_port, 10s);
  ASSERT_TRUE(automation.has_value()) << q.Stderr();
  Automation_Peer peer(automation->Fd(), Automation_Peer::Always(PEER_ACK));
  ASSERT_TRUE(Send_Frame(dc9_port, Contact_Id_Frame("1234", 1)).Valid);
  ASSERT_TRUE(Wait_Until([&] { return peer.Event_Lines().size() == 1; }, 30s)) << q.Log_Text();

  Write_File(trigger, "");
  ASSERT_TRUE(Wait_Until([&] { return File_Size(trigger + ".held") >= 0; }, 10s));
  constexpr std::size_t HELD_EVENTS = 3;
  for (uint32_t k = 0; k < HELD_EVENTS; ++k) {
    ASSERT_TRUE(Send_Frame(dc9_port, Contact_Id_Frame("12" + std::to_string(35 + k), 2 + k)).Valid);
  }
  // The count is read before the release is looked for: lines counted while the release file is
  // still missing came during the hold.
  bool during_hold = false;
  ASSERT_TRUE(Wait_Until(
      [&] {
        const std::size_t lines = peer.Event_Lines().size();
        const bool released = File_Size(trigger + ".released") >= 0;
        during_hold = lines == 1 + HELD_EVENTS && !released;
        return lines == 1 + HELD_EVENTS || released;
      },
      10s));
  EXPECT_TRUE(during_hold);
  ASSERT_TRUE(Wait_Until([&] { return File_Size(trigger + ".released") >= 0; }, 10s));
  ASSERT_TRUE(Wait_Until([&] { return peer.Event_Lines().size() == 1 + HELD_EVENTS; }, 10s));
  EXPECT_EQ(peer.Event_Lines().back(), Example_Line("1237", 0));
  EXPECT_EQ(q.Terminate(6s), 0);
}

}  // namespace
}  // namespace sys
