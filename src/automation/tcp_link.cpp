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
  // The sender has ended: a connection it still held is released here.
  Mutex_Lock lock(mutex_);
  if (held_fd_ >= 0 && held_removed_) Socket_Close(held_fd_);
  held_fd_ = -1;
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
  if (fd == held_fd_) {
    held_removed_ = true;
    Socket_Shut_Down(fd);
  } else {
    Socket_Close(fd);
  }
  return true;
}

void Tcp_Link::Remove_All() {
  Mutex_Lock lock(mutex_);
  for (const int fd : fds_) {
    if (fd == held_fd_) {
      held_removed_ = true;
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
  if (fd == held_fd_) {
    parked_ = true;  // the sender reads it; the Resume notice comes when it lets it go
    return 1;
  }
  const long n = Socket_Read(fd, block, sizeof block);
  if (n == 0) return -1;
  if (n < 0) {
    if (n == -EAGAIN || n == -EWOULDBLOCK) return 0;
    error = static_cast<int>(-n);
    return -1;
  }
  if (Is_Answer(static_cast<uint8_t>(block[0]))) sink(static_cast<uint8_t>(block[0]));
  return 0;
}

bool Tcp_Link::Ended_While_Held(int fd) const {
  Mutex_Lock lock(mutex_);
  return fd == held_fd_ && held_ended_ && !held_removed_;
}

Tcp_Link::Result Tcp_Link::Send_And_Wait(const std::string& line, std::chrono::milliseconds timeout,
                                         std::chrono::milliseconds slice,
                                         const std::function<bool()>& stop, uint8_t& answer) {
  int fd = -1;
  int resume_fd = -1;
  bool ended = false;
  char block[BLOCK];
  {
    Mutex_Lock lock(mutex_);
    if (fds_.empty()) {
      Release_Held(resume_fd);
      return Result::No_Connection;
    }
    fd = fds_.back();
    if (fd != held_fd_) {
      // A newer connection: the one held so far goes back (or is released when removed).
      Release_Held(resume_fd);
      held_fd_ = fd;
      held_removed_ = false;
      held_ended_ = false;
      parked_ = false;
      Socket_Wait_On_Reads(fd, static_cast<int>(slice.count()));
    }
    ended = held_ended_;
    // Bytes that came before the line answer nothing.
    while (!ended) {
      const long n = Socket_Read(fd, block, sizeof block);
      if (n > 0) continue;
      if (n == 0 || (n != -EAGAIN && n != -EWOULDBLOCK)) ended = held_ended_ = true;
      break;
    }
    Socket_Send(fd, line.data(), line.size());
  }
  if (resume_fd >= 0 && notices_.Resume) notices_.Resume(resume_fd);
  const auto until = std::chrono::steady_clock::now() + timeout;
  Result result = Result::No_Answer;
  int end_error = 0;
  bool noticed = false;
  while (true) {
    if (stop()) {
      result = Result::Stopped;
      break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    if (ended) {
      if (!noticed && notices_.Ended) notices_.Ended(fd, end_error);
      noticed = true;
      // The peer has gone: nothing more can come; the wait runs out as it would for silence.
      std::this_thread::sleep_for(std::min(left, slice));
      continue;
    }
    // The held reads wait at most a slice; the last part of the answer time is waited for
    // exactly.
    if (left < slice && !Socket_Wait_Readable(fd, static_cast<int>(left.count()))) continue;
    const long n = Socket_Read_Waiting(fd, block, sizeof block);
    if (n > 0) {
      if (!Is_Answer(static_cast<uint8_t>(block[0]))) continue;
      answer = static_cast<uint8_t>(block[0]);
      result = Result::Answered;
      break;
    }
    if (n == -EAGAIN) continue;
    end_error = n == 0 ? 0 : static_cast<int>(-n);
    Mutex_Lock lock(mutex_);
    ended = held_ended_ = true;
  }
  return result;
}

void Tcp_Link::Let_Go() {
  int resume_fd = -1;
  {
    Mutex_Lock lock(mutex_);
    Release_Held(resume_fd);
  }
  if (resume_fd >= 0 && notices_.Resume) notices_.Resume(resume_fd);
}

void Tcp_Link::Release_Held(int& resume_fd) {
  resume_fd = -1;
  if (held_fd_ < 0) return;
  if (held_removed_) {
    Socket_Close(held_fd_);
  } else {
    Socket_Wait_On_Reads(held_fd_, -1);
    if (parked_) resume_fd = held_fd_;
  }
  held_fd_ = -1;
  held_removed_ = false;
  held_ended_ = false;
  parked_ = false;
}
