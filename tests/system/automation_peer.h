// The automation software's side of the link in the whole-program tests: a thread that reads
// report lines (ended by DC4) from a socket or a pty master, records them and answers each one
// as the test's policy says (ACK, NAK, or nothing).
#pragma once

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sys {

// The answer byte for the n-th line (0-based) and its text; 0 means "stay silent".
using Answer_Policy = std::function<uint8_t(int index, const std::string& line)>;

inline uint8_t Always_Ack(int, const std::string&) {
  return 0x06;
}

inline bool Is_Heartbeat(const std::string& line) {
  return line.find('@') != std::string::npos && line[0] == '1';
}

class Automation_Peer {
 public:
  // Takes `fd` (closed by the owner after Stop()).
  Automation_Peer(int fd, Answer_Policy policy) : fd_(fd), policy_(std::move(policy)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~Automation_Peer() { Stop(); }

  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  void Set_Policy(Answer_Policy policy) {
    std::lock_guard lock(mutex_);
    policy_ = std::move(policy);
  }
  std::vector<std::string> Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  // Event lines only (heartbeats left out).
  std::vector<std::string> Event_Lines() const {
    std::vector<std::string> out;
    for (auto& l : Lines())
      if (!Is_Heartbeat(l)) out.push_back(l);
    return out;
  }
  bool Closed() const { return closed_; }

 private:
  void Run() {
    std::string line;
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      char buf[512];
      ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n <= 0) {
        closed_ = true;
        if (n == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        continue;
      }
      for (ssize_t i = 0; i < n; ++i) {
        line.push_back(buf[i]);
        if (buf[i] != '\x14') continue;
        uint8_t answer;
        {
          std::lock_guard lock(mutex_);
          answer = policy_(static_cast<int>(lines_.size()), line);
          lines_.push_back(line);
        }
        if (answer != 0 && ::write(fd_, &answer, 1) != 1) closed_ = true;
        line.clear();
      }
    }
  }

  int fd_;
  mutable std::mutex mutex_;
  Answer_Policy policy_;            // guarded by mutex_
  std::vector<std::string> lines_;  // guarded by mutex_
  std::atomic<bool> stop_{false};
  std::atomic<bool> closed_{false};
  std::thread thread_;
};

}  // namespace sys
