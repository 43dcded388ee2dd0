// A virtual serial pair made by the Virtual Serial Ports tool carries the automation link: the
// program opens one end as COMn, the automation software reads the heartbeat at the other end and
// answers it, and an event follows.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>

#include "automation/virtual_ports.h"
#include "support/automation_peer.h"
#include "system_config.h"
#include "system_harness.h"

namespace sys {
namespace {

TEST(Virtual_Pair, HeartbeatAndEventReachTheOtherEndOfThePair) {
  Quenor_Process q;
  q.Make_Data_Folder();
  Virtual_Ports_Outcome pair = Virtual_Ports_Tool(q.Data_Folder()).Run();
  if (pair.Result == Virtual_Ports_Outcome::Failed) GTEST_SKIP() << pair.Warning;
  ASSERT_EQ(pair.Result, Virtual_Ports_Outcome::Created);
  ASSERT_EQ(pair.Ports.size(), 2u);
  struct Socat_Stop {
    int64_t pid;
    ~Socat_Stop() {
      if (pid > 0) ::kill(static_cast<pid_t>(pid), SIGTERM);
    }
  } socat{pair.Socat_Pid};

  const int dc9_port = Free_Port();
  Settings_Record s = Test_Settings(dc9_port, LINK_SERIAL, Free_Port(), 1);
  std::snprintf(s.COM_Name, sizeof s.COM_Name, "COM%d", pair.Ports[0].Number);
  q.Write_Settings(s);

  // The automation software's end.
  int fd = ::open(pair.Ports[1].Link.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(fd, TCSANOW, &t);
  q.Start();
  Automation_Peer peer(fd, Automation_Peer::Always(PEER_ACK));

  ASSERT_TRUE(Wait_Until([&] { return !peer.Texts().empty(); }, 10s)) << q.Log_Text();
  EXPECT_EQ(peer.Texts().front(), std::string("101000           @    \x14"));
  ASSERT_TRUE(q.Wait_Log("Connection with automation software established.", 5s));
  EXPECT_EQ(Send_Frame(dc9_port, Contact_Id_Frame("1234")).Token, "ACK");
  ASSERT_TRUE(Wait_Until([&] { return !peer.Event_Lines().empty(); }, 5s));
  EXPECT_EQ(peer.Event_Lines().front(), Example_Line("1234", 0));
  EXPECT_EQ(q.Terminate(6s), 0);
  peer.Stop();
  ::close(fd);
}

}  // namespace
}  // namespace sys
