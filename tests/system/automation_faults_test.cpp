// Faults on the automation side, through the real program: a refused line, a silent automation
// software, a disconnection in the middle of a data pass and the reconnection. In the end every
// event reaches the automation software acknowledged exactly once and the journal file shows it
// reported.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "support/automation_peer.h"
#include "system_config.h"
#include "system_harness.h"

namespace sys {
namespace {

// Counts, per event line, how often the automation software acknowledged it.
class Ack_Ledger {
 public:
  Automation_Peer::Policy Policy(Automation_Peer::Policy answer) {
    return [this, answer](int index, const std::string& line) {
      const int a = answer(index, line);
      if (a == PEER_ACK && !Is_Heartbeat(line)) {
        std::lock_guard lock(mutex_);
        ++acked_[line];
      }
      return a;
    };
  }
  std::map<std::string, int> Acked() const {
    std::lock_guard lock(mutex_);
    return acked_;
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::string, int> acked_;
};

std::string Account(int i) {
  return std::to_string(1000 + i);
}

class Automation_Faults : public testing::Test {
 protected:
  void Start_Server_Mode(int hb_period) {
    q.Write_Settings(Test_Settings(dc9_port, LINK_TCP_SERVER, out_port, hb_period));
    q.Start();
  }
  void Send_Events(int first, int count) {
    for (int i = first; i < first + count; ++i) {
      Dc9_Answer a = Send_Frame(dc9_port, Contact_Id_Frame(Account(i), i % 10000));
      ASSERT_EQ(a.Token, "ACK") << "event " << i;
    }
  }
  // The file's Status follows the ACK: the program writes it once the ACK has reached it.
  void Expect_All_Acked_Once(const Ack_Ledger& ledger, int count) {
    auto acked = ledger.Acked();
    for (int i = 0; i < count; ++i) {
      EXPECT_EQ(acked[Example_Line(Account(i), 0)], 1) << "event " << i;
      int status = -1;
      EXPECT_TRUE(Wait_Until(
          [&] { return (status = Journal_File_Status(q.File(JOURNAL_FILE_NAME), i)) == 7; }, 5s))
          << "slot " << i << " Status " << status;
    }
    EXPECT_EQ(acked.size(), static_cast<size_t>(count));
  }

  Quenor_Process q;
  int dc9_port = Free_Port();
  int out_port = Free_Port();
};

TEST_F(Automation_Faults, RefusedLineIsOfferedAgainAndHoldsBackTheLinesBehindIt) {
  Start_Server_Mode(0);
  auto link = Tcp_Link::Connect(out_port, 10s);
  ASSERT_TRUE(link);
  Ack_Ledger ledger;
  std::atomic<int> refusals{0};
  Automation_Peer peer(link->Fd(), ledger.Policy([&](int, const std::string& line) -> int {
    if (line == Example_Line(Account(0), 0) && refusals < 2) {
      ++refusals;
      return PEER_NAK;
    }
    return PEER_ACK;
  }));
  Send_Events(0, 3);
  ASSERT_TRUE(Wait_Until([&] { return ledger.Acked().size() == 3; }, 20s)) << q.Log_Text();
  auto lines = peer.Event_Lines();
  // The first event is refused twice; nothing behind it goes out before it is taken.
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[0], Example_Line(Account(0), 0));
  EXPECT_EQ(lines[1], Example_Line(Account(0), 0));
  EXPECT_EQ(lines[2], Example_Line(Account(0), 0));
  EXPECT_EQ(q.Log_Count("Link error (data): negative ACK from automation software."), 2u);
  Expect_All_Acked_Once(ledger, 3);
}

TEST_F(Automation_Faults, SilentAutomationGetsNoEventUntilItAnswersAgain) {
  Start_Server_Mode(1);
  auto link = Tcp_Link::Connect(out_port, 10s);
  ASSERT_TRUE(link);
  Ack_Ledger ledger;
  std::atomic<bool> silent{true};
  Automation_Peer peer(link->Fd(), ledger.Policy([&](int, const std::string&) -> int {
    return silent ? PEER_SILENT : PEER_ACK;
  }));
  Send_Events(0, 2);
  ASSERT_TRUE(q.Wait_Log("Link error (heartbeat): no ACK from automation software.", 10s));
  EXPECT_TRUE(peer.Event_Lines().empty());
  silent = false;
  ASSERT_TRUE(Wait_Until([&] { return ledger.Acked().size() == 2; }, 15s)) << q.Log_Text();
  EXPECT_TRUE(q.Log_Has("Connection with automation software established."));
  Expect_All_Acked_Once(ledger, 2);
}

TEST_F(Automation_Faults, DisconnectInTheMiddleOfADataPassLosesNothing) {
  Start_Server_Mode(0);
  Ack_Ledger ledger;
  const int kEvents = 30;
  {
    auto link = Tcp_Link::Connect(out_port, 10s);
    ASSERT_TRUE(link);
    Send_Events(0, kEvents);
    std::atomic<bool> gone{false};
    // The first automation software takes five lines, then goes away without answering the sixth.
    Automation_Peer peer(link->Fd(), ledger.Policy([&](int, const std::string& line) -> int {
      if (Is_Heartbeat(line)) return PEER_ACK;
      if (ledger.Acked().size() >= 5) {
        gone = true;
        return PEER_SILENT;
      }
      return PEER_ACK;
    }));
    ASSERT_TRUE(Wait_Until([&] { return gone.load(); }, 15s)) << q.Log_Text();
    peer.Stop();
    link->Close();
  }
  // It comes back on a new connection and takes the rest.
  auto again = Tcp_Link::Connect(out_port, 10s);
  ASSERT_TRUE(again);
  Automation_Peer peer(again->Fd(), ledger.Policy(Automation_Peer::Always(PEER_ACK)));
  ASSERT_TRUE(Wait_Until([&] { return ledger.Acked().size() == kEvents; }, 30s)) << q.Log_Text();
  // A line acknowledged twice would come in a later cycle of the report sender; after one whole
  // cycle the program ends, and once its side of the link is gone every line it sent was answered.
  EXPECT_TRUE(Wait_Sender_Cycle(dc9_port, q.File(JOURNAL_FILE_NAME), kEvents));
  EXPECT_EQ(q.Terminate(6s), 0);
  EXPECT_TRUE(Wait_Until([&] { return peer.Closed(); }, 5s));
  Expect_All_Acked_Once(ledger, kEvents);
}

// SIGTERM while a line is in flight, the automation software answering each line with ACK after
// about 100 ms: the program awaits that answer before it ends and records the line reported, so
// after a restart no acknowledged line is offered again and every event is acknowledged once.
TEST_F(Automation_Faults, AckOfTheLineInFlightAtSigtermIsRecordedAndNeverOfferedAgain) {
  const int kEvents = 8;
  const std::string in_flight = Example_Line(Account(3), 0);
  Start_Server_Mode(0);
  Send_Events(0, kEvents);
  Ack_Ledger ledger;
  {
    auto link = Tcp_Link::Connect(out_port, 10s);
    ASSERT_TRUE(link);
    const pid_t program = q.Pid();
    std::atomic<bool> signalled{false};
    Automation_Peer peer(link->Fd(), ledger.Policy([&](int, const std::string& line) -> int {
      if (line == in_flight && !signalled.exchange(true)) ::kill(program, SIGTERM);
      std::this_thread::sleep_for(100ms);
      return PEER_ACK;
    }));
    ASSERT_EQ(q.Wait_Exit(30s), 0) << q.Log_Text();
    ASSERT_TRUE(signalled.load()) << q.Log_Text();
    peer.Stop();
  }
  // The line in flight was acknowledged, and the file says so.
  ASSERT_EQ(ledger.Acked()[in_flight], 1);
  EXPECT_EQ(Journal_File_Status(q.File(JOURNAL_FILE_NAME), 3), 7);

  q.Start();
  auto again = Tcp_Link::Connect(out_port, 10s);
  ASSERT_TRUE(again);
  Automation_Peer peer(again->Fd(), ledger.Policy(Automation_Peer::Always(PEER_ACK)));
  ASSERT_TRUE(Wait_Until([&] { return ledger.Acked().size() == kEvents; }, 30s)) << q.Log_Text();
  EXPECT_TRUE(Wait_Sender_Cycle(dc9_port, q.File(JOURNAL_FILE_NAME), kEvents));
  EXPECT_EQ(q.Terminate(30s), 0);
  EXPECT_TRUE(Wait_Until([&] { return peer.Closed(); }, 5s));
  Expect_All_Acked_Once(ledger, kEvents);
}

}  // namespace
}  // namespace sys
