// DC-09 over UDP on the real program: datagrams are answered with the bytes a TCP connection
// gets, plain and AES-256; junk and oversize datagrams get no answer; with UDP off nothing
// listens on UDP; a UDP port that cannot be bound is logged and TCP goes on. Repeats: one message
// sent three times (TCP, TCP, UDP) within the window is answered three times, stored once and
// reported once; an encrypted copy with a new pad counts as a repeat.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "support/automation_peer.h"
#include "system_config.h"
#include "system_harness.h"

namespace sys {
namespace {

Settings_Record Udp_Settings(int dc9_port, int out_port, bool udp, int window, int aes_mode = 0) {
  Settings_Record s = Test_Settings(dc9_port, LINK_TCP_SERVER, out_port, 0, 0, aes_mode);
  s.DC9_UDP_Enable = udp ? 1 : 0;
  s.DC9_Repeat_Window = static_cast<uint8_t>(window);
  return s;
}

::testing::AssertionResult Start(Quenor_Process& q, const Settings_Record& s) {
  q.Write_Settings(s);
  q.Start();
  if (q.Wait_Log("Port " + std::to_string(s.DC9_Port) + " is open.", 10s)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "the receiver port did not open: " << q.Stderr();
}

// A Contact ID frame of `account` whose pad comes from `seed` (an encrypted copy of a message
// with another pad).
std::string Frame_With_Pad(const std::string& account, uint32_t sequence, int aes_mode,
                           unsigned seed) {
  Dc9_Frame_Fields f;
  f.Sequence = sequence;
  f.Receiver = "1";
  f.Line = "1";
  f.Account = account;
  f.Data = Contact_ID_Data(account, "1401", "01", "001");
  auto gen = std::make_shared<std::mt19937>(seed);
  return Build_DC9_Frame(f, Dc9_Aes_Config{aes_mode, Test_Key()},
                         [gen] { return static_cast<uint32_t>((*gen)()); });
}

std::string Tcp_Answer(int port, const std::string& frame) {
  auto link = Tcp_Link::Connect(port, 10s);
  if (!link || !link->Send(frame)) return {};
  return link->Read_Until('\r', 5s);
}

// Events of `account` the journal file holds.
int Stored_Of(const std::string& journal_path, const std::string& account) {
  const std::string bytes = Read_File(journal_path);
  if (bytes.size() != JOURNAL_FILE_SIZE) return -1;
  int count = 0;
  for (int k = 0; k < JOURNAL_SLOTS; ++k) {
    Event_Record r{};
    std::memcpy(&r, bytes.data() + Journal_Slot_Offset(k), sizeof r);
    if ((r.Status & EVT_PRESENT) != 0 && Field_Text(r.Account_Nr) == account) ++count;
  }
  return count;
}

TEST(Udp_Port, DatagramsAreAnsweredAsConnectionsAre) {
  for (int aes_mode : {0, 3}) {
    SCOPED_TRACE(aes_mode == 0 ? "plain" : "AES-256");
    Quenor_Process q;
    const int dc9_port = Free_Port();
    ASSERT_TRUE(Start(q, Udp_Settings(dc9_port, Free_Port(), true, 0, aes_mode)));
    ASSERT_TRUE(q.Wait_Log("UDP port " + std::to_string(dc9_port) + " is open.", 10s));
    const std::string frame = Contact_Id_Frame("4321", 3, "1401", aes_mode);
    const std::string over_tcp = Tcp_Answer(dc9_port, frame);
    ASSERT_FALSE(over_tcp.empty());

    Udp_Link udp(dc9_port);
    // Junk and a datagram over 1,024 bytes get no answer: the first answer is the frame's.
    ASSERT_TRUE(udp.Send("hello"));
    ASSERT_TRUE(udp.Send(frame + std::string(1025, ' ')));
    ASSERT_TRUE(udp.Send(frame));
    const std::string over_udp = udp.Receive(5s);
    const Dc9_Aes_Config aes{aes_mode, Test_Key()};
    const Dc9_Answer a_tcp = Decode_DC9_Answer(over_tcp, aes);
    const Dc9_Answer a_udp = Decode_DC9_Answer(over_udp, aes);
    ASSERT_TRUE(a_udp.Valid) << over_udp;
    EXPECT_EQ(a_udp.Token, a_tcp.Token);
    EXPECT_EQ(a_udp.Sequence, 3u);
    if (aes_mode == 0) {
      EXPECT_EQ(over_udp, over_tcp);  // plain: the very same bytes
    } else {
      EXPECT_EQ(a_udp.Token, "*ACK");
      EXPECT_EQ(over_udp.size(), over_tcp.size());
    }
    EXPECT_TRUE(Wait_Until([&] { return Stored_Of(q.File(JOURNAL_FILE_NAME), "4321") == 2; }, 5s));
    EXPECT_TRUE(q.Log_Has("Unrecognised data received from IP: 127.0.0.1, port: "));
    EXPECT_EQ(q.Terminate(10s), 0);
  }
}

TEST(Udp_Port, OffMeansNothingListensAndAFailedBindLeavesTcpAnswering) {
  {
    SCOPED_TRACE("UDP off");
    Quenor_Process q;
    const int dc9_port = Free_Port();
    ASSERT_TRUE(Start(q, Udp_Settings(dc9_port, Free_Port(), false, 0)));
    Udp_Link udp(dc9_port);
    bool refused = false;
    ASSERT_TRUE(udp.Send(Contact_Id_Frame("4321")));
    EXPECT_EQ(udp.Receive(5s, &refused), "");
    EXPECT_TRUE(refused) << "something answers on UDP";
    EXPECT_FALSE(q.Log_Has("UDP port"));
    EXPECT_EQ(q.Terminate(10s), 0);
  }
  {
    SCOPED_TRACE("UDP port taken");
    const int dc9_port = Free_Port();
    const int taken = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(dc9_port));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    Quenor_Process q;
    ASSERT_TRUE(Start(q, Udp_Settings(dc9_port, Free_Port(), true, 0)));
    EXPECT_TRUE(q.Wait_Log("UDP port " + std::to_string(dc9_port) + " not opened. ", 10s));
    EXPECT_TRUE(q.Log_Has("on API 'bind'"));
    const Dc9_Answer answer = Send_Frame(dc9_port, Contact_Id_Frame("4321", 9));
    EXPECT_TRUE(answer.Valid && answer.Token == "ACK");
    EXPECT_EQ(q.Terminate(10s), 0);
    ::close(taken);
  }
}

// One message three times within the window (TCP, TCP, then UDP), then the same data with the
// next sequence number: four answers, two events stored and reported.
TEST(Repeats, ThreeCopiesAreAnsweredThreeTimesStoredAndReportedOnce) {
  for (int aes_mode : {0, 3}) {
    SCOPED_TRACE(aes_mode == 0 ? "plain" : "AES-256, a new pad for each copy");
    Quenor_Process q;
    const int dc9_port = Free_Port();
    const int out_port = Free_Port();
    ASSERT_TRUE(Start(q, Udp_Settings(dc9_port, out_port, true, 5, aes_mode)));
    ASSERT_TRUE(q.Wait_Log("UDP port " + std::to_string(dc9_port) + " is open.", 10s));
    auto automation = Tcp_Link::Connect(out_port, 10s);
    ASSERT_TRUE(automation);
    Automation_Peer peer(automation->Fd(), Automation_Peer::Always(PEER_ACK));

    const Dc9_Aes_Config aes{aes_mode, Test_Key()};
    for (unsigned copy = 0; copy < 2; ++copy) {
      const Dc9_Answer a = Decode_DC9_Answer(
          Tcp_Answer(dc9_port, Frame_With_Pad("5678", 7, aes_mode, 100 + copy)), aes);
      EXPECT_TRUE(a.Valid && a.Sequence == 7) << "copy " << copy;
    }
    Udp_Link udp(dc9_port);
    ASSERT_TRUE(udp.Send(Frame_With_Pad("5678", 7, aes_mode, 102)));
    const Dc9_Answer third = Decode_DC9_Answer(udp.Receive(5s), aes);
    EXPECT_TRUE(third.Valid && third.Sequence == 7);
    const Dc9_Answer next =
        Decode_DC9_Answer(Tcp_Answer(dc9_port, Frame_With_Pad("5678", 8, aes_mode, 103)), aes);
    EXPECT_TRUE(next.Valid && next.Sequence == 8);

    EXPECT_EQ(Stored_Of(q.File(JOURNAL_FILE_NAME), "5678"), 2);
    // Events are reported in the journal's order: once a later object's event is reported, any
    // third line of the repeated message would have come before it.
    EXPECT_TRUE(
        Decode_DC9_Answer(Tcp_Answer(dc9_port, Frame_With_Pad("5679", 1, aes_mode, 104)), aes)
            .Valid);
    ASSERT_TRUE(Wait_Until([&] { return peer.Event_Lines().size() >= 3; }, 10s));
    const std::vector<std::string> lines = peer.Event_Lines();
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(),
                      [](const std::string& l) { return l.find("5678") != std::string::npos; }),
        2);
    EXPECT_NE(lines.back().find("5679"), std::string::npos);
    peer.Stop();
    EXPECT_EQ(q.Terminate(10s), 0);
  }
}

}  // namespace
}  // namespace sys
