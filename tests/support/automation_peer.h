// The automation software's side of the link in tests and benchmarks: on its own thread it reads
// report lines (each ended by DC4) from a TCP connection (as client or server) or from the master
// of a pseudo-terminal, records them with their arrival time, and answers each as its policy
// says (ACK, NAK, or nothing). Plain POSIX sockets, so it never needs the main thread's events.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// Answers of the automation software to a report line.
inline constexpr int PEER_ACK = 0x06;
inline constexpr int PEER_NAK = 0x15;
inline constexpr int PEER_SILENT = -1;  // no answer at all

// True for a heartbeat line ("1" first, "@" in it), false for an event or object line.
inline bool Is_Heartbeat(const std::string& line) {
  return !line.empty() && line[0] == '1' && line.find('@') != std::string::npos;
}

class Automation_Peer {
 public:
  // The answer for the line with 0-based index `index`: a byte, or PEER_SILENT. Called on the
  // peer's thread with the peer's lock held.
  using Policy = std::function<int(int index, const std::string& line)>;
  static Policy Always(int answer) {
    return [answer](int, const std::string&) { return answer; };
  }

  // Whether the peer closes a descriptor it was given.
  enum class Fd { Borrowed, Owned };

  struct Received {
    std::string Text;  // the line with its DC4
    std::chrono::steady_clock::time_point At;
  };

  // Connects to a TCP listener on 127.0.0.1:`port` (throws when nothing listens there).
  static int Connect_Fd(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd);
      throw std::runtime_error("peer cannot connect");
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
  }

  // A peer on an open descriptor: a connected socket or a pseudo-terminal master.
  Automation_Peer(int fd, Policy policy, Fd use = Fd::Borrowed)
      : fd_(fd), owns_fd_(use == Fd::Owned), policy_(std::move(policy)) {
    thread_ = std::thread([this] { Run(); });
  }
  // A TCP server peer on 127.0.0.1 with an ephemeral port; it accepts one connection at a time.
  explicit Automation_Peer(Policy policy) : owns_fd_(true), policy_(std::move(policy)) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listen_fd_, 4) != 0 ||
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      throw std::runtime_error("peer cannot listen");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~Automation_Peer() {
    Stop();
    if (owns_fd_ && fd_ >= 0) ::close(fd_);
    if (listen_fd_ >= 0) ::close(listen_fd_);
  }
  Automation_Peer(const Automation_Peer&) = delete;
  Automation_Peer& operator=(const Automation_Peer&) = delete;

  // Stops reading and answering (a borrowed descriptor may be closed after this).
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  int Port() const { return port_; }
  void Set_Policy(Policy policy) {
    std::lock_guard lock(mutex_);
    policy_ = std::move(policy);
  }
  std::vector<Received> Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const Received& line : Lines()) texts.push_back(line.Text);
    return texts;
  }
  // The lines without the heartbeats.
  std::vector<std::string> Event_Lines() const {
    std::vector<std::string> texts;
    for (const Received& line : Lines()) {
      if (!Is_Heartbeat(line.Text)) texts.push_back(line.Text);
    }
    return texts;
  }
  std::size_t Count() const {
    std::lock_guard lock(mutex_);
    return lines_.size();
  }
  // True while the other side is gone: the connection ended, or the pseudo-terminal has no slave
  // open. Bytes that arrive, or a new connection, clear it. Once set after the program ended,
  // every line the program sent has been read.
  bool Closed() const { return closed_; }

 private:
  void Run() {
    std::string pending;
    while (!stop_) {
      if (fd_ < 0 && listen_fd_ >= 0) {
        pollfd p{listen_fd_, POLLIN, 0};
        if (::poll(&p, 1, 10) > 0) {
          fd_ = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
          const int one = 1;
          ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
          closed_ = false;
        }
        continue;
      }
      if (fd_ < 0) return;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) {
        // End of stream, a reset, or a pseudo-terminal whose slave is not open (EIO): the other
        // side is gone. A server peer waits for the next connection; a pseudo-terminal may be
        // opened again, so its master is looked at again after a pause.
        closed_ = true;
        if (n == 0 && listen_fd_ >= 0) {
          ::close(fd_);
          fd_ = -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        continue;
      }
      closed_ = false;
      pending.append(buffer, static_cast<std::size_t>(n));
      std::size_t end;
      while ((end = pending.find('\x14')) != std::string::npos) {
        std::string line = pending.substr(0, end + 1);
        pending.erase(0, end + 1);
        int answer;
        {
          std::lock_guard lock(mutex_);
          lines_.push_back({line, std::chrono::steady_clock::now()});
          answer = policy_(static_cast<int>(lines_.size()) - 1, line);
        }
        if (answer >= 0) {
          const char byte = static_cast<char>(answer);
          if (::write(fd_, &byte, 1) != 1) closed_ = true;
        }
      }
    }
  }

  int fd_ = -1;
  int listen_fd_ = -1;
  int port_ = 0;
  bool owns_fd_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> closed_{false};
  mutable std::mutex mutex_;
  Policy policy_;                // guarded by mutex_
  std::vector<Received> lines_;  // guarded by mutex_
};
