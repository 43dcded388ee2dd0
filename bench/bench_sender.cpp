// Report sender figures over a real TCP link on 127.0.0.1 (server mode, heartbeat off) to an
// automation software stand-in that answers every line with ACK at once:
// - BM_Forwarded_Lines: lines per second while a full backlog of events drains;
// - BM_Minimal_Sender / BM_Sender_To_Minimal_Standin: a loop that writes one line and waits for
//   its byte on one socket, and the real report sender, each against the same minimal stand-in
//   (a thread that answers ACK to every line at once and only counts), for the ratio of the two;
// - BM_Arrival_To_Report_Line: time from an event's arrival in the journal to its report line at
//   the automation software, p50 and p99, with events arriving at random moments of the cycle.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <atomic>
#include <vector>

#include "../tests/support/automation_peer.h"
#include "../tests/support/example_event.h"
#include "../tests/support/recording_screen.h"
#include "../tests/support/temp_folder.h"
#include "../tests/support/wait.h"
#include "automation/automation_link.h"
#include "base/main_hand_over.h"
#include "base/settings.h"
#include "base/sync_objects.h"
#include "store/event_journal.h"
#include "store/object_table.h"

namespace {

using Clock = std::chrono::steady_clock;

QCoreApplication& App() {
  if (auto* app = QCoreApplication::instance()) return *app;
  static int argc = 1;
  static char name[] = "quenor-bench";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

// Serves the main thread's events every 2 ms until `condition` holds. The report
// sender writes its lines and reads their answers on its own thread and hands nothing over per
// line, so the main thread is idle here as it is for the minimal sender: the two figures compare
// the senders alone, not a main thread spinning beside one of them on a two-core machine.
bool Serve_Until(const std::function<bool()>& condition, std::chrono::seconds deadline) {
  return Wait_Until(condition, deadline, std::chrono::milliseconds(2));
}

Event_Record Event(int n) {
  char account[8];
  std::snprintf(account, sizeof account, "%04d", n % 10000);
  return Example_Event({.Account = account, .Time = 1700000000 + n});
}

// The minimal automation stand-in: connects to `port`, answers ACK to every line (ended by 0x14)
// at once and counts the lines; nothing else.
class Minimal_Standin {
 public:
  explicit Minimal_Standin(int fd) : fd_(fd) {
    thread_ = std::thread([this] { Run(); });
  }
  ~Minimal_Standin() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
    ::close(fd_);
  }
  std::size_t Count() const { return count_.load(std::memory_order_acquire); }
  // The moments the line numbered `first` (counted from 1) and the line numbered `last` came.
  void Time_Lines(std::size_t first, std::size_t last) {
    first_at_.store({}, std::memory_order_relaxed);
    last_at_.store({}, std::memory_order_relaxed);
    first_ = first;
    last_.store(last, std::memory_order_release);
  }
  Clock::time_point First_At() const { return first_at_.load(std::memory_order_acquire); }
  Clock::time_point Last_At() const { return last_at_.load(std::memory_order_acquire); }

 private:
  void Run() {
    char block[4096];
    const char ack = 0x06;
    while (!stop_) {
      const ssize_t n = ::recv(fd_, block, sizeof block, 0);
      if (n <= 0) return;
      for (ssize_t i = 0; i < n; ++i) {
        if (block[i] != 0x14) continue;
        const std::size_t n = count_.fetch_add(1, std::memory_order_release) + 1;
        if (n == first_) first_at_.store(Clock::now(), std::memory_order_release);
        if (n == last_.load(std::memory_order_acquire)) {
          last_at_.store(Clock::now(), std::memory_order_release);
        }
        if (::send(fd_, &ack, 1, MSG_NOSIGNAL) != 1) return;
      }
    }
  }
  int fd_;
  std::atomic<bool> stop_{false};
  std::atomic<std::size_t> count_{0};
  std::size_t first_ = 0;  // written before last_ is released
  std::atomic<std::size_t> last_{0};
  std::atomic<Clock::time_point> first_at_{};
  std::atomic<Clock::time_point> last_at_{};
  std::thread thread_;
};

// A listening socket on 127.0.0.1 with an ephemeral port, and its connections.
int Listen_Loopback(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
  ::listen(fd, 4);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  port = ntohs(address.sin_port);
  return fd;
}

int No_Delay(int fd) {
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

constexpr int MINIMAL_LINES = 4000;

// A loop that writes one report line and waits for its answer byte.
void BM_Minimal_Sender(benchmark::State& state) {
  int port = 0;
  const int listener = Listen_Loopback(port);
  const int sender = No_Delay(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  ::connect(sender, reinterpret_cast<sockaddr*>(&address), sizeof address);
  Minimal_Standin standin(No_Delay(::accept(listener, nullptr, nullptr)));
  const std::string line = "5011 181234E40101001\x14";
  for (auto _ : state) {
    for (int i = 0; i < MINIMAL_LINES; ++i) {
      if (::send(sender, line.data(), line.size(), MSG_NOSIGNAL) <= 0) break;
      char answer = 0;
      if (::recv(sender, &answer, 1, 0) != 1) break;
    }
  }
  state.counters["lines_per_s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * MINIMAL_LINES), benchmark::Counter::kIsRate);
  ::close(sender);
  ::close(listener);
}
// Real time: the loop mostly waits for the stand-in's answers, and a rate over the thread's CPU
// time alone would count only the part spent in system calls (about half here).
BENCHMARK(BM_Minimal_Sender)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

// The automation side of the receiver with an open, alive TCP server link and an ACKing peer.
struct Bench_Link {
  explicit Bench_Link(bool minimal_standin = false) {
    settings.Out_Mode = 1;
    settings.Out_TCP_Server = 1;
    settings.HB_Period = 0;
    settings.Out_Port = 0;
    for (int port = 39000; port < 39100 && !link.Listener_Active(); ++port) {
      settings.Out_Port = port;
      link.Timer_OutTimer();
      link.Set_Reconnect_Delay(0);
    }
    journal.Load();
    objects.Load();
    if (minimal_standin) {
      standin = std::make_unique<Minimal_Standin>(Automation_Peer::Connect_Fd(settings.Out_Port));
    } else {
      peer = std::make_unique<Automation_Peer>(Automation_Peer::Connect_Fd(settings.Out_Port),
                                               Automation_Peer::Always(PEER_ACK),
                                               Automation_Peer::Fd::Owned);
    }
    Serve_Until([&] { return link.Listener_Connections() == 1; }, std::chrono::seconds(5));
    link.Timer_OutTimer();
    automation.Start_Workers();
    Serve_Until([&] { return sync.Link_State.load() == (LINK_OPEN | LINK_ALIVE); },
                std::chrono::seconds(5));
  }
  ~Bench_Link() { automation.Stop(); }

  QCoreApplication& app = App();  // first, so the event dispatcher exists for every member
  Temp_Folder folder;
  Settings_Record settings = Settings_Defaults();
  Shared_Sync sync;
  Event_Journal journal{folder.File(JOURNAL_FILE_NAME)};
  Object_Table objects{folder.File(OBJECT_FILE_NAME), sync.Object_Table_Lock};
  Recording_Screen screen;
  Main_Hand_Over hand_over;
  Automation_Link automation{settings, sync, journal, objects, screen, folder.Path(), hand_over};
  Link_Manager& link = automation.Link();
  std::unique_ptr<Automation_Peer> peer;
  std::unique_ptr<Minimal_Standin> standin;
};

// The real report sender against the minimal stand-in: a backlog of MINIMAL_LINES events drains.
void BM_Sender_To_Minimal_Standin(benchmark::State& state) {
  Bench_Link bench(true);
  int appended = 0;
  for (auto _ : state) {
    const std::size_t before = bench.standin->Count();
    // Timed from the first line to the last, as the minimal sender's loop is (the backlog's save
    // pass before the first line is not the sender's line rate).
    bench.standin->Time_Lines(before + 1, before + MINIMAL_LINES);
    for (int i = 0; i < MINIMAL_LINES; ++i) bench.journal.Append(Event(appended++));
    bench.sync.Event_Stored.Set();
    if (!Serve_Until([&] { return bench.standin->Count() >= before + MINIMAL_LINES; },
                     std::chrono::seconds(60))) {
      state.SkipWithError("the backlog did not drain");
      return;
    }
    Serve_Until([&] { return bench.standin->Last_At() != Clock::time_point{}; },
                std::chrono::seconds(5));
    // MINIMAL_LINES - 1 gaps between the first line and the last.
    state.SetIterationTime(
        std::chrono::duration<double>(bench.standin->Last_At() - bench.standin->First_At())
            .count() *
        MINIMAL_LINES / (MINIMAL_LINES - 1));
    Serve_Until([&] { return !bench.journal.Is_Due((appended - 1) % JOURNAL_SLOTS); },
                std::chrono::seconds(5));
  }
  state.counters["lines_per_s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * MINIMAL_LINES), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Sender_To_Minimal_Standin)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

void BM_Forwarded_Lines(benchmark::State& state) {
  Bench_Link bench;
  const int backlog = static_cast<int>(state.range(0));
  int appended = 0;
  for (auto _ : state) {
    const std::size_t before = bench.peer->Count();
    for (int i = 0; i < backlog; ++i) bench.journal.Append(Event(appended++));
    bench.sync.Event_Stored.Set();
    if (!Serve_Until([&] { return bench.peer->Count() >= before + backlog; },
                     std::chrono::seconds(60))) {
      state.SkipWithError("the backlog did not drain");
      return;
    }
    // From the first line to the last, as automation-sim times it.
    const auto lines = bench.peer->Lines();
    state.SetIterationTime(
        std::chrono::duration<double>(lines[before + backlog - 1].At - lines[before].At).count() *
        backlog / (backlog - 1));
    // Let the last ACK be recorded before the next backlog overwrites the slots.
    Serve_Until([&] { return !bench.journal.Is_Due((appended - 1) % JOURNAL_SLOTS); },
                std::chrono::seconds(5));
  }
  state.SetItemsProcessed(state.iterations() * backlog);
  state.counters["lines_per_s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * backlog), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Forwarded_Lines)
    ->Arg(4000)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

void BM_Arrival_To_Report_Line(benchmark::State& state) {
  Bench_Link bench;
  std::mt19937 random(7);
  std::uniform_int_distribution<int> gap_ms(5, 60);
  std::vector<double> latencies_ms;
  int n = 0;
  for (auto _ : state) {
    const std::size_t before = bench.peer->Count();
    const auto arrived = Clock::now();
    bench.journal.Append(Event(n++));
    bench.sync.Event_Stored.Set();  // as the receiver does after an event is stored
    if (!Serve_Until([&] { return bench.peer->Count() > before; }, std::chrono::seconds(10))) {
      state.SkipWithError("no report line");
      return;
    }
    const auto line_at = bench.peer->Lines()[before].At;
    latencies_ms.push_back(std::chrono::duration<double, std::milli>(line_at - arrived).count());
    // The next event arrives at a random moment of the sender's cycle.
    const auto next = Clock::now() + std::chrono::milliseconds(gap_ms(random));
    Serve_Until([&] { return Clock::now() >= next; }, std::chrono::seconds(1));
  }
  std::sort(latencies_ms.begin(), latencies_ms.end());
  auto percentile = [&](double p) {
    return latencies_ms[static_cast<std::size_t>(p * (latencies_ms.size() - 1))];
  };
  state.counters["p50_ms"] = percentile(0.50);
  state.counters["p99_ms"] = percentile(0.99);
  state.counters["max_ms"] = latencies_ms.back();
}
BENCHMARK(BM_Arrival_To_Report_Line)->Iterations(300)->Unit(benchmark::kMillisecond);

}  // namespace
