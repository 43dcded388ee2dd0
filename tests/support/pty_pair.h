// A pseudo-terminal pair for serial-line tests: the test holds the master; the code under test
// opens the slave by its path (directly or through a "ports/COMn" link). The master is
// non-blocking; Read_Master waits for bytes with a deadline.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <string>

class Pty_Pair {
 public:
  Pty_Pair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
      throw std::runtime_error("no pseudo-terminal");
    }
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("no pty name");
    slave_path_ = name;
  }
  ~Pty_Pair() { Close_Master(); }
  Pty_Pair(const Pty_Pair&) = delete;
  Pty_Pair& operator=(const Pty_Pair&) = delete;

  const std::string& Slave_Path() const { return slave_path_; }
  int Master() const { return master_; }

  // Writes all of `bytes` to the master (the slave's reader sees them as received data);
  // false when the line refused them.
  bool Write_Master(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        return false;  // the line is hung up
      } else {
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, 100);
      }
    }
    return true;
  }

  // Reads from the master until `count` bytes came or `timeout` passed; returns what came.
  std::string Read_Master(std::size_t count,
                          std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
      char buffer[4096];
      const ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - got.size()));
      if (n > 0) {
        got.append(buffer, static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EIO) {  // no slave open at the moment: the master reports a hang-up
        ::usleep(2000);
        continue;
      }
      pollfd p{master_, POLLIN, 0};
      ::poll(&p, 1, 10);
    }
    return got;
  }

  // Closing the master hangs the slave up: its further use fails with EIO.
  void Close_Master() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string slave_path_;
};
