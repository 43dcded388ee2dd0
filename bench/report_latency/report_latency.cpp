// report-latency: the time from a DC-09 message's arrival at the receiver to its report line at
// the automation software, measured from outside the running program. The probe is both ends at
// once, so one monotonic clock stamps both moments: a communicator that sends Contact ID messages
// at a fixed rate over one connection, each for its own account (its number in 4 hex digits, the
// part of the account a report line carries), and the automation software, connected as client to
// the receiver's automation port (TCP server mode), which answers every line with ACK at once.
// The send moment stands for the arrival: on the loopback they are microseconds apart.
//
// Usage: report-latency --port P --automation-port Q [--rate R] [--messages N] [--key HEX]
// Prints one JSON line; exit code 0 when every message was answered and reported exactly once.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "protocol/dc9_frame_builder.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr char LINE_END = 0x14;
constexpr char ACK = 0x06;
// The warm-up message's account, outside the numbered ones (1..N, N below 0xFFFF).
constexpr long WARM_UP = 0xFFFF;

struct Options {
  int Port = 7777;
  int Automation_Port = 9999;
  double Rate = 100;
  long Messages = 1000;
  int Aes_Mode = 0;  // 0 plain, 1..3 from the key length
  uint8_t Key[32] = {};
};

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr,
               "report-latency: %s\nusage: report-latency --port P --automation-port Q "
               "[--rate R] [--messages N] [--key HEX]\n",
               why.c_str());
  std::exit(2);
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (i + 1 >= argc) Fail("missing value after " + name);
    const std::string value = argv[++i];
    if (name == "--port") {
      o.Port = std::atoi(value.c_str());
    } else if (name == "--automation-port") {
      o.Automation_Port = std::atoi(value.c_str());
    } else if (name == "--rate") {
      o.Rate = std::atof(value.c_str());
    } else if (name == "--messages") {
      o.Messages = std::atol(value.c_str());
    } else if (name == "--key") {
      if (value.size() != 32 && value.size() != 48 && value.size() != 64) Fail("bad key");
      for (std::size_t b = 0; b < value.size() / 2; ++b) {
        o.Key[b] = static_cast<uint8_t>(std::strtol(value.substr(2 * b, 2).c_str(), nullptr, 16));
      }
      o.Aes_Mode = value.size() == 32 ? 1 : value.size() == 48 ? 2 : 3;
    } else {
      Fail("unknown option " + name);
    }
  }
  if (o.Rate <= 0 || o.Messages < 1 || o.Messages >= WARM_UP) Fail("bad rate or message count");
  return o;
}

// Connects to 127.0.0.1:port, retrying for up to `timeout` (the program opens its ports late).
int Connect(int port, std::chrono::milliseconds timeout) {
  const auto end = Clock::now() + timeout;
  do {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      return fd;
    }
    ::close(fd);
    std::this_thread::sleep_for(100ms);
  } while (Clock::now() < end);
  Fail("cannot connect to port " + std::to_string(port));
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * values.size()));
  return values[std::min(values.size() - 1, rank == 0 ? 0 : rank - 1)];
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

class Probe {
 public:
  explicit Probe(const Options& o)
      : o_(o), sent_at_(o.Messages + 1), reported_(o.Messages + 1, 0) {}

  int Run() {
    automation_ = Connect(o_.Automation_Port, 20s);
    dc9_ = Connect(o_.Port, 20s);
    // The first message waits until the link is open and alive; it is not measured.
    Send(WARM_UP);
    const auto warm_up_end = Clock::now() + 20s;
    while (!warm_up_reported_ && Clock::now() < warm_up_end) Pump(Clock::now() + 10ms);
    if (!warm_up_reported_) Fail("the warm-up event was not reported within 20 s");

    const auto start = Clock::now();
    const auto step =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / o_.Rate));
    long next = 1;
    while (next <= o_.Messages) {
      const auto due = start + step * (next - 1);
      // One connection, one message at a time: a late answer delays the next send.
      if (Clock::now() >= due && !awaiting_answer_) {
        Send(next++);
      } else {
        Pump(awaiting_answer_ ? Clock::now() + 100ms : due);
      }
    }
    // The lines of the last messages: at most a few seconds behind.
    const auto end = Clock::now() + 10s;
    while ((reported_count_ < o_.Messages || awaiting_answer_) && Clock::now() < end) {
      Pump(Clock::now() + 10ms);
    }
    Print();
    const bool exact = answered_ == o_.Messages + 1 && reported_count_ == o_.Messages &&
                       duplicates_ == 0 && unknown_ == 0;
    return exact ? 0 : 1;
  }

 private:
  void Send(long number) {
    char account[8];
    std::snprintf(account, sizeof account, "%04lX", number);
    const Dc9_Frame_Fields fields{"ADM-CID", static_cast<uint32_t>(number % 10000),        "1", "1",
                                  account,   Contact_ID_Data(account, "1130", "01", "001")};
    const Dc9_Aes_Config aes{o_.Aes_Mode, o_.Key};
    const std::string frame =
        Build_DC9_Frame(fields, aes, [this] { return pad_ = pad_ * 1664525u + 1013904223u; });
    const auto now = Clock::now();
    if (number != WARM_UP) sent_at_[number] = now;
    answer_sent_at_ = now;
    if (::send(dc9_, frame.data(), frame.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(frame.size())) {
      Fail("the receiver closed the connection");
    }
    awaiting_answer_ = true;
  }

  // Waits for input on both connections until `until`, and takes what came.
  void Pump(Clock::time_point until) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    pollfd fds[2] = {{automation_, POLLIN, 0}, {dc9_, POLLIN, 0}};
    if (::poll(fds, 2, static_cast<int>(std::max<long>(0, left))) <= 0) return;
    const auto now = Clock::now();
    char buffer[65536];
    if (fds[0].revents) {
      const ssize_t n = ::recv(automation_, buffer, sizeof buffer, 0);
      if (n <= 0) Fail("the receiver closed the automation link");
      for (ssize_t i = 0; i < n; ++i) {
        if (buffer[i] != LINE_END) {
          line_.push_back(buffer[i]);
          continue;
        }
        if (::send(automation_, &ACK, 1, MSG_NOSIGNAL) != 1) Fail("cannot answer a line");
        Take_Line(now);
        line_.clear();
      }
    }
    if (fds[1].revents) {
      const ssize_t n = ::recv(dc9_, buffer, sizeof buffer, 0);
      if (n <= 0) Fail("the receiver closed the communicator's connection");
      answer_.append(buffer, static_cast<std::size_t>(n));
      if (answer_.find('\r') != std::string::npos) {
        answer_.clear();
        if (awaiting_answer_) answer_ms_.push_back(Ms(now - answer_sent_at_));
        awaiting_answer_ = false;
        ++answered_;
      }
    }
  }

  // An event line reads "5" receiver line " 18" account(4) qualifier event group zone.
  void Take_Line(Clock::time_point now) {
    const std::size_t at = line_.find(" 18");
    if (at == std::string::npos || line_.size() < at + 7) {
      ++unknown_;
      return;
    }
    const long number = std::strtol(line_.substr(at + 3, 4).c_str(), nullptr, 16);
    if (number == WARM_UP) {
      warm_up_reported_ = true;
    } else if (number >= 1 && number <= o_.Messages && sent_at_[number] != Clock::time_point{}) {
      if (reported_[number]++ == 0) {
        ++reported_count_;
        report_ms_.push_back(Ms(now - sent_at_[number]));
      } else {
        ++duplicates_;
      }
    } else {
      ++unknown_;
    }
  }

  void Print() const {
    std::printf(
        "{\"messages\": %ld, \"rate\": %.1f, \"answered\": %ld, \"reported\": %ld, "
        "\"duplicates\": %ld, \"unknown_lines\": %ld, "
        "\"answer_ms\": {\"p50\": %.3f, \"p99\": %.3f}, "
        "\"report_ms\": {\"p50\": %.3f, \"p90\": %.3f, \"p99\": %.3f, \"max\": %.3f}}\n",
        o_.Messages, o_.Rate, answered_ - 1, reported_count_, duplicates_, unknown_,
        Percentile(answer_ms_, 50), Percentile(answer_ms_, 99), Percentile(report_ms_, 50),
        Percentile(report_ms_, 90), Percentile(report_ms_, 99), Percentile(report_ms_, 100));
  }

  const Options& o_;
  int automation_ = -1;
  int dc9_ = -1;
  uint32_t pad_ = 12345;
  std::vector<Clock::time_point> sent_at_;
  std::vector<int> reported_;
  std::vector<double> answer_ms_, report_ms_;
  Clock::time_point answer_sent_at_;
  std::string line_, answer_;
  bool awaiting_answer_ = false;
  bool warm_up_reported_ = false;
  long answered_ = 0, reported_count_ = 0, duplicates_ = 0, unknown_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const Options options = Parse(argc, argv);
  return Probe(options).Run();
}
