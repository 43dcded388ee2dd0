// The real program under two faults of the receiver port: a communicator that half-closes after
// sending while the journal's sync is slow still gets its ACK; a flood of connections past the
// open-file limit neither keeps the receiver busy nor floods the log. Real sockets on 127.0.0.1.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <optional>
#include <vector>

#include "system_config.h"
#include "system_harness.h"

namespace sys {
namespace {

// The program started under a wrapper that stays its parent (strace): its own pid.
pid_t Program_Under(Quenor_Process& q) {
  pid_t program = 0;
  Wait_Until(
      [&] {
        const std::string children = Read_File("/proc/" + std::to_string(q.Pid()) + "/task/" +
                                               std::to_string(q.Pid()) + "/children");
        program = static_cast<pid_t>(std::atol(children.c_str()));
        return program > 0;
      },
      10s);
  return program;
}

// Every fdatasync is held up: the end of stream arrives while the answer waits for the sync, and
// the answer still leaves before the receiver closes the connection.
TEST(Receiver_Faults, HalfClosedCommunicatorGetsItsAckDespiteASlowSync) {
  if (std::system("strace -o /dev/null /bin/true >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "strace cannot trace processes here";
  }
  Quenor_Process q;
  const int dc9_port = Free_Port();
  q.Write_Settings(Test_Settings(dc9_port, LINK_TCP_SERVER, Free_Port(), 0));
  q.Start({"/usr/bin/strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=fdatasync", "-e",
           "inject=fdatasync:delay_exit=300000"});
  ASSERT_TRUE(q.Wait_Log("Port " + std::to_string(dc9_port) + " is open.", 30s)) << q.Stderr();
  auto link = Tcp_Link::Connect(dc9_port, 10s);
  ASSERT_TRUE(link);
  ASSERT_TRUE(link->Send(Contact_Id_Frame("4321", 7)));
  link->Shutdown_Sending();
  bool closed = false;
  const std::string got = link->Read_Until_Closed(20s, closed);
  EXPECT_TRUE(closed);
  const Dc9_Answer answer = Decode_DC9_Answer(got, Dc9_Aes_Config{0, Test_Key()});
  EXPECT_TRUE(answer.Valid) << got;
  EXPECT_EQ(answer.Token, "ACK");
  EXPECT_EQ(answer.Sequence, 7u);

  const pid_t program = Program_Under(q);
  ASSERT_GT(program, 0);
  ::kill(program, SIGTERM);
  EXPECT_EQ(q.Wait_Exit(30s), 0);
}

// With 128 descriptors allowed, 300 communicators connect: the newcomers that find none left are
// taken and closed at once, the cause is logged once, and the port answers again afterwards.
TEST(Receiver_Faults, ConnectionFloodPastTheFileLimitIsShedAndLoggedOnce) {
  Quenor_Process q;
  const int dc9_port = Free_Port();
  q.Write_Settings(Test_Settings(dc9_port, LINK_TCP_SERVER, Free_Port(), 0));
  q.Start({"/usr/bin/prlimit", "--nofile=128:128"});
  ASSERT_TRUE(q.Wait_Log("Port " + std::to_string(dc9_port) + " is open.", 30s)) << q.Stderr();

  std::vector<Tcp_Link> links;
  for (int i = 0; i < 300; ++i) {
    auto link = Tcp_Link::Connect(dc9_port, 10s);
    ASSERT_TRUE(link) << i;
    links.push_back(std::move(*link));
  }
  const std::string cause = "Receiver port error. 24Too many open files";
  ASSERT_TRUE(q.Wait_Log(cause, 20s));
  // The last newcomer found no descriptor: it is closed, not left waiting in the backlog.
  EXPECT_TRUE(links.back().Closed_By_Peer(20s));
  EXPECT_GE(Count_Closed_By_Peer(links), 100);
  EXPECT_EQ(q.Log_Count(cause), 1u);

  links.clear();
  const Dc9_Answer answer = Send_Frame(dc9_port, Contact_Id_Frame("4321", 8), 0, 10s);
  EXPECT_TRUE(answer.Valid);
  EXPECT_EQ(answer.Token, "ACK");
  EXPECT_EQ(q.Terminate(30s), 0);
}

}  // namespace
}  // namespace sys
