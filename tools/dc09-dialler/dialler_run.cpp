#include "dialler_run.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <queue>

namespace {

using Clock = std::chrono::steady_clock;

enum class Conn_State { Connecting, Ready, Waiting, Done };

struct Connection {
  int Fd = -1;
  Conn_State State = Conn_State::Done;
  long Completed = 0;  // messages answered or given up
  uint32_t Sequence = 0;
  Clock::time_point Sent_At;
  Clock::time_point Due;  // with a period: the earliest time of the next message
  std::string Account;    // the account it sends for
  std::string Input;
};

// The account of connection `index` when every connection is an object of its own: the account
// plus the index, in upper-case hex, at least as wide as the account.
std::string Account_Plus(const std::string& account, int index) {
  const unsigned long long value = std::strtoull(account.c_str(), nullptr, 16) + index;
  char text[24];
  std::snprintf(text, sizeof text, "%0*llX", static_cast<int>(account.size()), value);
  return text;
}

// Thousands of connections need more descriptors than the usual soft limit.
void Raise_Open_File_Limit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

class Dialler {
 public:
  Dialler(const Dialler_Options& options, const Answer_Report& report)
      : options_(options), report_(report), connections_(options.Connections) {
    fields_.Token = options.Token;
    fields_.Receiver = options.Receiver;
    fields_.Line = options.Line;
    fields_.Account = options.Account;
    aes_ = {options.Aes_Mode, options.Key};
    if (options.Rate > 0)
      interval_ = std::chrono::nanoseconds(static_cast<long>(1e9 / options.Rate));
    period_ = std::chrono::milliseconds(options.Period_Ms);
    for (int i = 0; i < options.Connections; ++i) {
      connections_[i].Account =
          options.Distinct_Accounts ? Account_Plus(options.Account, i) : options.Account;
    }
  }

  ~Dialler() {
    for (Connection& c : connections_) {
      if (c.Fd >= 0) close(c.Fd);
    }
    if (epoll_ >= 0) close(epoll_);
  }

  bool Run(std::string& error) {
    addrinfo hints{};
    hints.ai_socktype = options_.Udp ? SOCK_DGRAM : SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(options_.Port);
    if (int rc = getaddrinfo(options_.Host.c_str(), port.c_str(), &hints, &found); rc != 0) {
      error = std::string("cannot resolve ") + options_.Host + ": " + gai_strerror(rc);
      return false;
    }
    std::memcpy(&address_, found->ai_addr, found->ai_addrlen);
    address_length_ = found->ai_addrlen;
    family_ = found->ai_family;
    freeaddrinfo(found);

    Raise_Open_File_Limit();
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    start_ = Clock::now();
    next_slot_ = start_;
    last_answer_ = start_;
    for (int i = 0; i < options_.Connections; ++i) {
      connections_[i].Sequence = options_.First_Sequence;
      connections_[i].Due = start_ + period_ * i / options_.Connections;
      Connect(i);
    }

    std::vector<epoll_event> events(256);
    while (active_ > 0) {
      Send_Ready();
      int wait_ms = 10;
      if (!ready_.empty() && interval_.count() > 0) {
        auto until = std::chrono::ceil<std::chrono::milliseconds>(next_slot_ - Clock::now());
        wait_ms = static_cast<int>(std::max<long>(0, std::min<long>(10, until.count())));
      }
      if (!waiting_.empty()) {
        auto until =
            std::chrono::ceil<std::chrono::milliseconds>(waiting_.top().first - Clock::now());
        wait_ms = static_cast<int>(std::max<long>(0, std::min<long>(wait_ms, until.count())));
      }
      const int n = epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), wait_ms);
      for (int e = 0; e < n; ++e) {
        Handle(static_cast<int>(events[e].data.u32), events[e].events);
      }
      Check_Timeouts();
    }
    totals_.Elapsed_S = std::chrono::duration<double>(last_answer_ - start_).count();
    return true;
  }

  Dialler_Totals& Totals() { return totals_; }

 private:
  void Connect(int i) {
    Connection& c = connections_[i];
    // A connected UDP socket takes datagrams from the receiver's address alone.
    c.Fd = socket(family_, (options_.Udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC,
                  0);
    if (c.Fd < 0) {
      Give_Up(i, errno);
      return;
    }
    int one = 1;
    if (!options_.Udp) setsockopt(c.Fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const int rc = connect(c.Fd, reinterpret_cast<sockaddr*>(&address_), address_length_);
    if (rc != 0 && errno != EINPROGRESS) {
      Give_Up(i, errno);
      return;
    }
    epoll_event event{};
    event.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP;
    event.data.u32 = static_cast<uint32_t>(i);
    epoll_ctl(epoll_, EPOLL_CTL_ADD, c.Fd, &event);
    if (c.State == Conn_State::Done) ++active_;
    c.State = Conn_State::Connecting;
  }

  // The connection could not be made: its remaining messages are not sent.
  void Give_Up(int i, int error_code) {
    Connection& c = connections_[i];
    if (totals_.Connect_Failures++ == 0) totals_.Connect_Error = std::strerror(error_code);
    totals_.Not_Sent += Copies() - c.Completed;
    Close(i);
    if (c.State != Conn_State::Done) --active_;
    c.State = Conn_State::Done;
  }

  void Close(int i) {
    Connection& c = connections_[i];
    if (c.Fd >= 0) {
      epoll_ctl(epoll_, EPOLL_CTL_DEL, c.Fd, nullptr);
      close(c.Fd);
      c.Fd = -1;
    }
    c.Input.clear();
  }

  void Handle(int i, uint32_t events) {
    Connection& c = connections_[i];
    if (c.State == Conn_State::Connecting) {
      int so_error = 0;
      socklen_t length = sizeof so_error;
      getsockopt(c.Fd, SOL_SOCKET, SO_ERROR, &so_error, &length);
      if (so_error != 0 || (events & (EPOLLERR | EPOLLHUP))) {
        Give_Up(i, so_error != 0 ? so_error : ECONNRESET);
        return;
      }
      epoll_event event{};
      event.events = EPOLLIN | EPOLLRDHUP;
      event.data.u32 = static_cast<uint32_t>(i);
      epoll_ctl(epoll_, EPOLL_CTL_MOD, c.Fd, &event);
      c.State = Conn_State::Ready;
      Make_Ready(i);
      return;
    }
    if (events & EPOLLIN) Read(i);
    if (c.Fd >= 0 && (events & (EPOLLERR | EPOLLHUP | EPOLLRDHUP)) && !(events & EPOLLIN)) {
      Lost(i);
    }
  }

  // A ready connection sends when the rate allows; with a period, not before its due time.
  void Make_Ready(int i) {
    if (period_.count() > 0) {
      waiting_.emplace(connections_[i].Due, i);
    } else {
      ready_.push_back(i);
    }
  }

  void Send_Ready() {
    const auto moment = Clock::now();
    while (!waiting_.empty() && waiting_.top().first <= moment) {
      const int i = waiting_.top().second;
      waiting_.pop();
      // An entry left from before a reconnection is not the connection's current one.
      if (connections_[i].State == Conn_State::Ready && connections_[i].Due <= moment) {
        ready_.push_back(i);
      }
    }
    while (!ready_.empty()) {
      if (interval_.count() > 0) {
        const auto now = Clock::now();
        if (now < next_slot_) return;
        next_slot_ += interval_;
      }
      const int i = ready_.front();
      ready_.pop_front();
      if (connections_[i].State == Conn_State::Ready) Send(i);
    }
  }

  void Send(int i) {
    Connection& c = connections_[i];
    fields_.Sequence = c.Sequence;
    fields_.Account = c.Account;
    const std::string stamp = options_.Time_Stamp ? DC9_Time_Stamp(std::time(nullptr)) : "";
    fields_.Data = options_.Token == "NULL"
                       ? Link_Test_Data(options_.Extended, stamp)
                       : Contact_ID_Data(c.Account, options_.Event, options_.Group, options_.Zone,
                                         options_.Extended, stamp);
    const std::string frame = Build_DC9_Frame(fields_, aes_, [this] { return Next_Pad(); });
    c.Sent_At = Clock::now();
    const ssize_t written = send(c.Fd, frame.data(), frame.size(), MSG_NOSIGNAL);
    ++totals_.Sent;
    c.State = Conn_State::Waiting;
    // A frame is far below the socket buffer; a short write means the connection is gone.
    if (written != static_cast<ssize_t>(frame.size())) Lost(i);
  }

  void Read(int i) {
    Connection& c = connections_[i];
    char chunk[4096];
    bool closed = false;  // by the receiver, or an error; an answer before it still counts
    for (;;) {
      const ssize_t n = recv(c.Fd, chunk, sizeof chunk, 0);
      if (n > 0) {
        c.Input.append(chunk, static_cast<std::size_t>(n));
        // A short read took all there was; epoll reports the rest, or the close, again.
        if (static_cast<std::size_t>(n) < sizeof chunk) break;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n == 0 && options_.Udp) break;  // an empty datagram, no end of stream
      closed = !(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
      break;
    }
    Take_Answer(i);
    if (closed) Lost(i);
  }

  void Take_Answer(int i) {
    Connection& c = connections_[i];
    const std::size_t cr = c.Input.find('\r');
    if (cr == std::string::npos || c.State != Conn_State::Waiting) return;
    const auto now = Clock::now();
    std::size_t lf = c.Input.rfind('\n', cr);
    if (lf == std::string::npos) lf = 0;
    const std::string frame = c.Input.substr(lf, cr + 1 - lf);
    c.Input.erase(0, cr + 1);
    Dc9_Answer answer = Decode_DC9_Answer(frame, aes_);
    if (answer.Valid && answer.Token != "NAK" && answer.Sequence != c.Sequence) {
      answer.Valid = false;
      answer.Problem = "sequence differs from the message's";
    }
    const double latency = std::chrono::duration<double, std::micro>(now - c.Sent_At).count();
    ++totals_.Answered;
    totals_.Latency_Us.push_back(latency);
    last_answer_ = now;
    if (!answer.Valid) {
      ++totals_.Invalid;
    } else if (answer.Token == "ACK" || answer.Token == "*ACK") {
      ++totals_.Ack;
    } else if (answer.Token == "DUH") {
      ++totals_.Duh;
    } else if (answer.Token == "NAK") {
      ++totals_.Nak;
    } else {
      ++totals_.Invalid;
    }
    Finish(i, frame, answer, latency);
  }

  // The receiver closed the connection or it failed: a message waiting for its answer has none;
  // the remaining messages go over a new connection.
  void Lost(int i) {
    Connection& c = connections_[i];
    if (c.State == Conn_State::Done) return;
    Close(i);
    if (c.State == Conn_State::Waiting) {
      ++totals_.No_Answer;
      Finish(i, std::string(), Dc9_Answer{}, 0);
      if (c.State == Conn_State::Done) return;
    }
    Reconnect(i);
  }

  void Reconnect(int i) {
    Connection& c = connections_[i];
    Close(i);
    --active_;
    c.State = Conn_State::Done;
    Connect(i);
  }

  void Finish(int i, const std::string& frame, const Dc9_Answer& answer, double latency) {
    Connection& c = connections_[i];
    if (report_) report_(i, c.Completed + 1, c.Sequence, frame, answer, latency);
    ++c.Completed;
    // The copies of one message share its sequence number.
    if (c.Completed % options_.Repeat == 0) c.Sequence = (c.Sequence + 1) % 10000;
    c.Due = c.Sent_At + period_;
    if (c.Completed >= Copies()) {
      Close(i);
      c.State = Conn_State::Done;
      --active_;
      return;
    }
    c.State = Conn_State::Ready;
    if (c.Fd >= 0) Make_Ready(i);
  }

  // An answer that does not come in time is given up; a late one must not be taken for the next
  // message's, so the connection is made anew.
  void Check_Timeouts() {
    const auto now = Clock::now();
    if (now < next_timeout_check_) return;
    next_timeout_check_ = now + std::chrono::milliseconds(10);
    const auto limit = std::chrono::milliseconds(options_.Timeout_Ms);
    for (int i = 0; i < options_.Connections; ++i) {
      Connection& c = connections_[i];
      if (c.State != Conn_State::Waiting || now - c.Sent_At < limit) continue;
      ++totals_.No_Answer;
      Close(i);
      Finish(i, std::string(), Dc9_Answer{}, 0);
      if (c.State == Conn_State::Ready) Reconnect(i);
    }
  }

  // Frames each connection sends: every message with its copies.
  long Copies() const { return options_.Messages * options_.Repeat; }

  uint32_t Next_Pad() {
    pad_state_ ^= pad_state_ << 13;
    pad_state_ ^= pad_state_ >> 17;
    pad_state_ ^= pad_state_ << 5;
    return pad_state_;
  }

  const Dialler_Options& options_;
  const Answer_Report& report_;
  std::vector<Connection> connections_;
  Dc9_Frame_Fields fields_;
  Dc9_Aes_Config aes_;
  sockaddr_storage address_{};
  socklen_t address_length_ = 0;
  int family_ = AF_INET;
  int epoll_ = -1;
  int active_ = 0;  // connections not Done
  std::deque<int> ready_;
  using Due_Entry = std::pair<Clock::time_point, int>;
  std::priority_queue<Due_Entry, std::vector<Due_Entry>, std::greater<>> waiting_;
  std::chrono::nanoseconds interval_{0};
  std::chrono::nanoseconds period_{0};
  Clock::time_point start_, next_slot_, last_answer_, next_timeout_check_;
  uint32_t pad_state_ = 0x9E3779B9u;
  Dialler_Totals totals_;
};

}  // namespace

Dialler_Totals Run_Dialler(const Dialler_Options& options, const Answer_Report& report,
                           std::string& error) {
  Dialler dialler(options, report);
  dialler.Run(error);
  return std::move(dialler.Totals());
}
