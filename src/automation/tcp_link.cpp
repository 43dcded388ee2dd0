#include "automation/tcp_link.h"

#include <algorithm>
#include <cerrno>
#include <thread>

#include "base/listen_socket.h"
#include "base/sync_objects.h"

namespace {

constexpr std::size_t BLOCK = 4096;

bool Is_Answer(uint8_t byte) {
  return byte == ANSWER_ACK || byte == ANSWER_NAK;
}

}  // namespace

Tcp_Link::~Tcp_Link() {
  Remove_All();
}

void Tcp_Link::Add(int fd) {
  Mutex_Lock lock(mutex_);
  fds_.push_back(fd);
}

bool Tcp_Link::Remove(int fd) {
  Mutex_Lock lock(mutex_);
  const auto found = std::find(fds_.begin(), fds_.end(), fd);
  if (found == fds_.end()) return false;
  fds_.erase(found);
  if (fd == busy_fd_) {
    busy_removed_ = true;
    Socket_Shut_Down(fd);
  } else {
    Socket_Close(fd);
  }
  return true;
}

void Tcp_Link::Remove_All() {
  Mutex_Lock lock(mutex_);
  for (const int fd : fds_) {
    if (fd == busy_fd_) {
      busy_removed_ = true;
      Socket_Shut_Down(fd);
    } else {
      Socket_Close(fd);
    }
  }
  fds_.clear();
}

int Tcp_Link::Count() const {
  Mutex_Lock lock(mutex_);
  return static_cast<int>(fds_.size());
}

int Tcp_Link::Oldest() const {
  Mutex_Lock lock(mutex_);
  return fds_.empty() ? -1 : fds_.front();
}

bool Tcp_Link::Write(const std::string& line) {
  Mutex_Lock lock(mutex_);
  if (fds_.empty()) return false;
  Socket_Send(fds_.back(), line.data(), line.size());
  return true;
}

int Tcp_Link::Take_Readable(int fd, const Answer_Sink& sink, int& error) {
  error = 0;
  char block[BLOCK];
  Mutex_Lock lock(mutex_);
  const long peeked = Socket_Peek(fd, block, 1);
  if (peeked == 0) return -1;
  if (peeked < 0) {
    if (peeked == -EAGAIN || peeked == -EWOULDBLOCK) return 0;
    error = static_cast<int>(-peeked);
    return -1;
  }
  if (fd == busy_fd_) return 1;  // the sender takes it
  const long n = Socket_Read(fd, block, sizeof block);
  if (n > 0 && Is_Answer(static_cast<uint8_t>(block[0]))) sink(static_cast<uint8_t>(block[0]));
  return 0;
}

Tcp_Link::Result Tcp_Link::Send_And_Wait(const std::string& line, std::chrono::milliseconds timeout,
                                         std::chrono::milliseconds slice,
                                         const std::function<bool()>& stop, uint8_t& answer) {
  int fd = -1;
  char block[BLOCK];
  {
    Mutex_Lock lock(mutex_);
    if (fds_.empty()) return Result::No_Connection;
    fd = fds_.back();
    busy_fd_ = fd;
    busy_removed_ = false;
    // Bytes that came before the line answer nothing.
    while (Socket_Read(fd, block, sizeof block) > 0) {
    }
    Socket_Send(fd, line.data(), line.size());
  }
  const auto until = std::chrono::steady_clock::now() + timeout;
  Result result = Result::No_Answer;
  bool ended = false;
  while (true) {
    if (stop()) {
      result = Result::Stopped;
      break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    const auto wait = std::min(left, slice);
    if (ended) {
      // The peer has gone: nothing more can come; the wait runs out as it would for silence.
      std::this_thread::sleep_for(wait);
      continue;
    }
    if (!Socket_Wait_Readable(fd, static_cast<int>(wait.count()))) continue;
    const long n = Socket_Read(fd, block, sizeof block);
    if (n > 0 && Is_Answer(static_cast<uint8_t>(block[0]))) {
      answer = static_cast<uint8_t>(block[0]);
      result = Result::Answered;
      break;
    }
    if (n == 0 || (n < 0 && n != -EAGAIN && n != -EWOULDBLOCK)) ended = true;
  }
  Release(fd);
  return result;
}

void Tcp_Link::Release(int fd) {
  Mutex_Lock lock(mutex_);
  if (busy_removed_) Socket_Close(fd);
  busy_fd_ = -1;
  busy_removed_ = false;
}
