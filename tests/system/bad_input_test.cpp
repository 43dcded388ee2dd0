// Bad input at the receiver port of the real program: random bytes, an oversize read, frames cut
// at every position, more idle connections than the receiver tracks, peers that never send. The
// program stays up, closes the tracked idle connections after about five seconds and answers a
// valid message exactly afterwards.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <random>

#include "system_config.h"
#include "system_harness.h"

namespace sys {
namespace {

class Bad_Input : public testing::Test {
 protected:
  void SetUp() override {
    q.Write_Settings(Test_Settings(dc9_port, LINK_TCP_SERVER, Free_Port(), 0));
    q.Start();
    ASSERT_TRUE(q.Wait_Log("is open.", 10s));
  }
  void Expect_Valid_Message_Answered() {
    Dc9_Answer a = Send_Frame(dc9_port, Contact_Id_Frame("1234", 1));
    ASSERT_TRUE(a.Valid) << a.Problem;
    EXPECT_EQ(a.Token, "ACK");
    EXPECT_EQ(a.Account, "1234");
    EXPECT_TRUE(q.Running());
  }
  Quenor_Process q;
  int dc9_port = Free_Port();
};

TEST_F(Bad_Input, RandomBytesAndAnOversizeReadGetNoAnswer) {
  std::mt19937 gen(42);
  for (int round = 0; round < 20; ++round) {
    std::string junk(1 + gen() % 600, '\0');
    for (auto& c : junk) c = static_cast<char>(gen());
    auto link = Tcp_Link::Connect(dc9_port);
    ASSERT_TRUE(link);
    link->Send(junk);
  }
  auto big = Tcp_Link::Connect(dc9_port);
  ASSERT_TRUE(big);
  std::string mib(1 << 20, 'A');
  mib += Contact_Id_Frame("9999", 5);  // a frame at the end of a huge read
  big->Send(mib);
  // The end of the stream comes behind the whole read: once the receiver closes its side, it has
  // been through all of it.
  big->Shutdown_Sending();
  EXPECT_TRUE(big->Closed_By_Peer(10s));
  Expect_Valid_Message_Answered();
}

TEST_F(Bad_Input, FramesCutAtEveryPositionAreNotAnswered) {
  const std::string frame = Contact_Id_Frame("4321", 3);
  std::vector<Tcp_Link> links;
  for (size_t cut = 1; cut < frame.size(); ++cut) {
    auto link = Tcp_Link::Connect(dc9_port);
    ASSERT_TRUE(link);
    link->Send(frame.substr(0, cut));
    links.push_back(std::move(*link));
  }
  // Each stays unanswered until the receiver drops it at its fifth tick.
  for (auto& l : links) {
    bool closed = false;
    EXPECT_EQ(l.Read_Until_Closed(15s, closed), "");
    EXPECT_TRUE(closed);
  }
  Expect_Valid_Message_Answered();
}

TEST_F(Bad_Input, IdleConnectionsBeyondTheTrackedOnesDoNotStopTheReceiver) {
  rlimit lim{};
  ::getrlimit(RLIMIT_NOFILE, &lim);
  lim.rlim_cur = lim.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &lim);
  if (lim.rlim_cur < 2300) GTEST_SKIP() << "open-file limit " << lim.rlim_cur;

  const int kIdle = 2100;
  std::vector<Tcp_Link> idle;
  idle.reserve(kIdle);
  for (int i = 0; i < kIdle; ++i) {
    auto link = Tcp_Link::Connect(dc9_port);
    ASSERT_TRUE(link) << "connection " << i;
    idle.push_back(std::move(*link));
  }
  // The receiver tracks 2048 connections and closes them at their fifth tick.
  ASSERT_TRUE(Wait_Until([&] { return Count_Closed_By_Peer(idle) >= 2000; }, 20s));
  // A connection made now takes a slot that those closes freed and is closed at its own fifth
  // tick; the untracked connections have seen those ticks too, and stay open.
  auto probe = Tcp_Link::Connect(dc9_port);
  ASSERT_TRUE(probe);
  EXPECT_TRUE(probe->Closed_By_Peer(15s));
  int closed = 0;
  for (auto& l : idle) closed += l.Closed_By_Peer(1ms) ? 1 : 0;
  EXPECT_GE(closed, 2000);
  EXPECT_LT(closed, kIdle);
  Expect_Valid_Message_Answered();
}

}  // namespace
}  // namespace sys
