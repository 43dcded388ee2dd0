// The whole road of an alarm through the real program: a communicator's DC-09 message over TCP,
// its answer, the journal file, and the report line at the automation software over each link
// kind, plain and encrypted, in both report formats, with and without heartbeat.
#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "support/automation_peer.h"
#include "system_config.h"
#include "system_harness.h"

namespace sys {
namespace {

struct Road_Case {
  const char* name;
  Link_Kind link;
  int format;
  int aes_mode;
  int hb_period;
};

void PrintTo(const Road_Case& c, std::ostream* out) {
  *out << c.name;
}

class Alarm_Road : public testing::TestWithParam<Road_Case> {};

TEST_P(Alarm_Road, EventIsAnsweredReportedOnceAndMarkedInTheJournalFile) {
  const Road_Case& c = GetParam();
  Quenor_Process q;
  const int dc9_port = Free_Port();
  const int out_port = Free_Port();
  q.Make_Data_Folder();
  std::unique_ptr<Pty_Pair> pty;
  std::unique_ptr<Tcp_Listener> listener;
  if (c.link == LINK_SERIAL) pty = std::make_unique<Pty_Pair>(q.Data_Folder(), 7);
  if (c.link == LINK_TCP_CLIENT) listener = std::make_unique<Tcp_Listener>(out_port);
  q.Write_Settings(Test_Settings(dc9_port, c.link, out_port, c.hb_period, c.format, c.aes_mode));
  q.Start();

  std::optional<Tcp_Link> automation;
  int fd = -1;
  if (c.link == LINK_TCP_SERVER) {
    automation = Tcp_Link::Connect(out_port, 10s);
  } else if (c.link == LINK_TCP_CLIENT) {
    automation = listener->Accept(15s);
  }
  if (c.link == LINK_SERIAL) {
    fd = pty->Master();
  } else {
    ASSERT_TRUE(automation.has_value()) << q.Stderr();
    fd = automation->Fd();
  }
  Automation_Peer peer(fd, Automation_Peer::Always(PEER_ACK));

  Dc9_Answer answer =
      Send_Frame(dc9_port, Contact_Id_Frame("1234", 1, "1401", c.aes_mode), c.aes_mode, 10s);
  ASSERT_TRUE(answer.Valid) << answer.Problem;
  EXPECT_EQ(answer.Token, c.aes_mode ? "*ACK" : "ACK");
  EXPECT_EQ(answer.Account, "1234");
  Dc9_Answer ping = Send_Frame(dc9_port, Link_Test_Frame("1234", c.aes_mode), c.aes_mode);
  EXPECT_EQ(ping.Token, c.aes_mode ? "*ACK" : "ACK");

  // Client mode takes the connection into the link state as soon as it completes.
  ASSERT_TRUE(Wait_Until([&] { return !peer.Event_Lines().empty(); }, 50s)) << q.Log_Text();
  const std::string journal = q.File(JOURNAL_FILE_NAME);
  EXPECT_TRUE(Wait_Until([&] { return Journal_File_Status(journal, 0) == 7; }, 5s));
  // The link test sits in slot 1: saved, never reported.
  EXPECT_EQ(Journal_File_Status(journal, 1), 1);
  // A wrong second report would come in a later cycle of the report sender; after one whole
  // cycle the program ends, and once its side of the link is gone the automation software has
  // read every line the program sent.
  EXPECT_TRUE(Wait_Sender_Cycle(dc9_port, journal, 2, c.aes_mode));
  EXPECT_EQ(q.Terminate(6s), 0);
  EXPECT_TRUE(q.Log_Has("Program closed"));
  EXPECT_TRUE(Wait_Until([&] { return peer.Closed(); }, 5s));
  EXPECT_EQ(peer.Event_Lines(), std::vector<std::string>{Example_Line("1234", c.format)});

  const auto lines = peer.Texts();
  const bool heartbeat_seen =
      std::any_of(lines.begin(), lines.end(), [](auto& l) { return Is_Heartbeat(l); });
  EXPECT_EQ(heartbeat_seen, c.hb_period != 0);
  if (c.hb_period != 0) {
    EXPECT_EQ(lines.front(), std::string("101000           @    \x14"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Links, Alarm_Road,
    testing::Values(Road_Case{"TcpServerPlainMlr2dgNoHeartbeat", LINK_TCP_SERVER, 0, 0, 0},
                    Road_Case{"TcpServerAes128Mlr2000Heartbeat", LINK_TCP_SERVER, 1, 1, 1},
                    Road_Case{"SerialAes192Mlr2dgHeartbeat", LINK_SERIAL, 0, 2, 1},
                    Road_Case{"SerialPlainMlr2000NoHeartbeat", LINK_SERIAL, 1, 0, 0},
                    Road_Case{"TcpClientAes256Mlr2dgHeartbeat", LINK_TCP_CLIENT, 0, 3, 2}),
    [](const testing::TestParamInfo<Road_Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sys
