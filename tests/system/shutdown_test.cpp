// Shutdown of the real program by SIGTERM: during heavy traffic at the receiver port and while
// the report sender waits for an answer, it ends within 6 s with "Program closed" as the last
// line, and nothing is written to the journal file after that line; it also ends when the
// automation software hangs (never reads, never answers) on any of the three links.
#include <dirent.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include "support/automation_peer.h"
#include "system_config.h"
#include "system_harness.h"

namespace sys {
namespace {

// Modification time in nanoseconds.
int64_t Mtime_Ns(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  return int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
}

std::string Last_Line(const std::string& text) {
  size_t end = text.rfind("\r\n");
  if (end == std::string::npos) return text;
  size_t start = text.rfind("\r\n", end - 1);
  return text.substr(start == std::string::npos ? 0 : start + 2,
                     end - (start == std::string::npos ? 0 : start + 2));
}

// "Program closed" is the last line, and the journal was not written after it.
void Expect_Orderly_End(Quenor_Process& q) {
  const std::string last = Last_Line(q.Log_Text());
  EXPECT_NE(last.find("Program closed"), std::string::npos) << last;
  // The journal was not touched after the last log line was written.
  int64_t journal_time = Mtime_Ns(q.File(JOURNAL_FILE_NAME));
  int64_t newest_log = 0;
  if (DIR* d = ::opendir(q.Data_Folder().c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string n = e->d_name;
      if (n.rfind("dorvex_", 0) == 0 && n.size() > 4 && n.substr(n.size() - 4) == ".log")
        newest_log = std::max(newest_log, Mtime_Ns(q.File(n)));
    }
    ::closedir(d);
  }
  EXPECT_LE(journal_time, newest_log);
}

void Expect_Clean_End(Quenor_Process& q, std::chrono::steady_clock::time_point asked) {
  const double seconds = std::chrono::duration<double>(Clock::now() - asked).count();
  EXPECT_LT(seconds, 6.0);
  Expect_Orderly_End(q);
}

TEST(Shutdown, SigtermDuringHeavyTrafficEndsPromptly) {
  Quenor_Process q;
  const int dc9_port = Free_Port();
  q.Write_Settings(Test_Settings(dc9_port, LINK_TCP_SERVER, Free_Port(), 0));
  q.Start();
  ASSERT_TRUE(q.Wait_Log("is open.", 5s));
  std::atomic<bool> stop{false};
  std::atomic<int> answered{0};
  std::vector<std::thread> senders;
  for (int t = 0; t < 4; ++t) {
    senders.emplace_back([&, t] {
      uint32_t seq = 1;
      while (!stop) {
        auto link = Tcp_Link::Connect(dc9_port, 200ms);
        if (!link) continue;
        for (int i = 0; i < 50 && !stop; ++i) {
          if (!link->Send(Contact_Id_Frame(std::to_string(5000 + t), seq++ % 10000))) break;
          if (link->Read_Until('\r', 500ms).empty()) break;
          ++answered;
        }
      }
    });
  }
  ASSERT_TRUE(Wait_Until([&] { return answered > 200; }, 10s));
  auto asked = Clock::now();
  int code = q.Terminate(8s);
  stop = true;
  for (auto& s : senders) s.join();
  EXPECT_EQ(code, 0);
  Expect_Clean_End(q, asked);
}

TEST(Shutdown, SigtermWhileTheSenderWaitsForAnAnswerEndsPromptly) {
  Quenor_Process q;
  const int dc9_port = Free_Port();
  const int out_port = Free_Port();
  q.Write_Settings(Test_Settings(dc9_port, LINK_TCP_SERVER, out_port, 0));
  q.Start();
  auto link = Tcp_Link::Connect(out_port, 10s);
  ASSERT_TRUE(link);
  Automation_Peer silent(link->Fd(), Automation_Peer::Always(PEER_SILENT));
  ASSERT_EQ(Send_Frame(dc9_port, Contact_Id_Frame("6000", 1)).Token, "ACK");
  ASSERT_TRUE(Wait_Until([&] { return !silent.Event_Lines().empty(); }, 10s));
  auto asked = Clock::now();
  EXPECT_EQ(q.Terminate(8s), 0);
  Expect_Clean_End(q, asked);
}

// True once `fd` has bytes to read (the program has written to the automation side).
bool Readable(int fd, std::chrono::milliseconds timeout) {
  return Wait_Until(
      [&] {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 10) > 0 && (p.revents & POLLIN) != 0;
      },
      timeout);
}

// An automation software that takes the connection (or holds the serial line) and then neither
// reads nor answers: on SIGTERM the program still ends, in order, with "Program closed" last.
TEST(Shutdown, SigtermEndsTheProgramWhenTheAutomationPeerHangs) {
  for (const Link_Kind kind : {LINK_TCP_SERVER, LINK_TCP_CLIENT, LINK_SERIAL}) {
    SCOPED_TRACE(kind == LINK_TCP_SERVER   ? "TCP server"
                 : kind == LINK_TCP_CLIENT ? "TCP client"
                                           : "serial");
    Quenor_Process q;
    const int dc9_port = Free_Port();
    const int out_port = Free_Port();
    q.Write_Settings(Test_Settings(dc9_port, kind, out_port, 1));
    std::unique_ptr<Tcp_Listener> listener;
    std::unique_ptr<Pty_Pair> pty;
    if (kind == LINK_TCP_CLIENT) listener = std::make_unique<Tcp_Listener>(out_port);
    if (kind == LINK_SERIAL) pty = std::make_unique<Pty_Pair>(q.Data_Folder(), 7);
    q.Start();

    std::optional<Tcp_Link> link;
    switch (kind) {
      case LINK_TCP_SERVER:
        // The heartbeat reaches the connection, which is never read.
        link = Tcp_Link::Connect(out_port, 10s);
        ASSERT_TRUE(link);
        ASSERT_TRUE(Readable(link->Fd(), 10s));
        break;
      case LINK_TCP_CLIENT:
        // The program connects; its first line would come only after the reconnect delay.
        link = listener->Accept(10s);
        ASSERT_TRUE(link);
        break;
      case LINK_SERIAL:
        ASSERT_TRUE(Readable(pty->Master(), 10s));
        break;
    }
    ASSERT_EQ(Send_Frame(dc9_port, Contact_Id_Frame("6100", 1)).Token, "ACK");
    EXPECT_EQ(q.Terminate(30s), 0) << q.Log_Text();
    Expect_Orderly_End(q);
  }
}

}  // namespace
}  // namespace sys
