// Crash and restart: events accepted while the automation link is down are in the journal file
// once the report sender's save pass has run; killed with SIGKILL and started again, the program
// reports every one of them. The window in which an acknowledged event is not yet in the file
// (answer sent, save pass not yet run) is measured and recorded.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "support/automation_peer.h"
#include "system_config.h"
#include "system_harness.h"

namespace sys {
namespace {

TEST(Crash_Restart, SavedEventsAreReportedAfterSigkillAndRestart) {
  Quenor_Process q;
  const int dc9_port = Free_Port();
  const int out_port = Free_Port();
  q.Write_Settings(Test_Settings(dc9_port, LINK_TCP_SERVER, out_port, 0));
  q.Start();
  const std::string journal = q.File(JOURNAL_FILE_NAME);

  // No automation software: events are answered and saved, never reported.
  const int kEvents = 20;
  std::vector<double> window_ms;
  for (int i = 0; i < kEvents; ++i) {
    std::string account = std::to_string(2000 + i);
    Dc9_Answer a = Send_Frame(dc9_port, Contact_Id_Frame(account, i + 1));
    ASSERT_EQ(a.Token, "ACK");
    auto answered = Clock::now();
    ASSERT_TRUE(Wait_Until([&] { return Journal_File_Status(journal, i) == 1; }, 5s));
    window_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - answered).count());
  }
  std::sort(window_ms.begin(), window_ms.end());
  RecordProperty("unsaved_window_max_ms", std::to_string(window_ms.back()));
  RecordProperty("unsaved_window_median_ms", std::to_string(window_ms[window_ms.size() / 2]));
  std::printf("answer-to-file window: median %.1f ms, max %.1f ms over %d events\n",
              window_ms[window_ms.size() / 2], window_ms.back(), kEvents);

  q.Kill();
  q.Start();
  auto link = Tcp_Link::Connect(out_port, 10s);
  ASSERT_TRUE(link);
  Automation_Peer peer(link->Fd(), Automation_Peer::Always(PEER_ACK));
  ASSERT_TRUE(Wait_Until([&] { return peer.Event_Lines().size() >= kEvents; }, 20s))
      << q.Log_Text();
  for (int i = 0; i < kEvents; ++i) {
    EXPECT_TRUE(Wait_Until([&] { return Journal_File_Status(journal, i) == 7; }, 2s));
  }
  // A line reported twice would come in a later cycle of the report sender; after one whole
  // cycle the program ends, and once its side of the link is gone every line it sent was read.
  EXPECT_TRUE(Wait_Sender_Cycle(dc9_port, journal, kEvents));
  EXPECT_EQ(q.Terminate(6s), 0);
  EXPECT_TRUE(Wait_Until([&] { return peer.Closed(); }, 5s));
  auto lines = peer.Event_Lines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kEvents));
  for (int i = 0; i < kEvents; ++i) {
    EXPECT_EQ(lines[i], Example_Line(std::to_string(2000 + i), 0));
  }
}

}  // namespace
}  // namespace sys
