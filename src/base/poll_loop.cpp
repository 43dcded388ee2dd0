#include "base/poll_loop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>

namespace {

uint32_t Interest(bool want_write, bool want_read = true) {
  return (want_read ? EPOLLIN | EPOLLRDHUP : 0u) | (want_write ? EPOLLOUT : 0u);
}

}  // namespace

Poll_Loop::Poll_Loop() : fd_(::epoll_create1(EPOLL_CLOEXEC)) {}

Poll_Loop::~Poll_Loop() {
  if (fd_ >= 0) ::close(fd_);
}

bool Poll_Loop::Add(int fd, uint64_t tag, bool want_write) {
  epoll_event event{};
  event.events = Interest(want_write);
  event.data.u64 = tag;
  return ::epoll_ctl(fd_, EPOLL_CTL_ADD, fd, &event) == 0;
}

bool Poll_Loop::Modify(int fd, uint64_t tag, bool want_write, bool want_read) {
  epoll_event event{};
  event.events = Interest(want_write, want_read);
  event.data.u64 = tag;
  return ::epoll_ctl(fd_, EPOLL_CTL_MOD, fd, &event) == 0;
}

void Poll_Loop::Remove(int fd) {
  ::epoll_ctl(fd_, EPOLL_CTL_DEL, fd, nullptr);
}

int Poll_Loop::Wait(Ready* ready, int max, int timeout_ms) {
  constexpr int BATCH = 256;
  epoll_event events[BATCH];
  const int n = ::epoll_wait(fd_, events, max < BATCH ? max : BATCH, timeout_ms);
  if (n <= 0) return 0;  // EINTR counts as an empty wait
  for (int i = 0; i < n; ++i) {
    const uint32_t e = events[i].events;
    ready[i].Tag = events[i].data.u64;
    ready[i].Readable = (e & (EPOLLIN | EPOLLRDHUP)) != 0;
    ready[i].Writable = (e & EPOLLOUT) != 0;
    ready[i].Failed = (e & (EPOLLERR | EPOLLHUP)) != 0;
  }
  return n;
}

Wake_Fd::Wake_Fd() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

Wake_Fd::~Wake_Fd() {
  if (fd_ >= 0) ::close(fd_);
}

void Wake_Fd::Signal() {
  const uint64_t one = 1;
  // A full counter still leaves the descriptor readable, so the wake holds.
  [[maybe_unused]] const ssize_t written = ::write(fd_, &one, sizeof one);
}

void Wake_Fd::Consume() {
  uint64_t count;
  [[maybe_unused]] const ssize_t got = ::read(fd_, &count, sizeof count);
}

Timer_Fd::Timer_Fd() : fd_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {}

Timer_Fd::~Timer_Fd() {
  if (fd_ >= 0) ::close(fd_);
}

void Timer_Fd::Arm(int ms) {
  itimerspec expiry{};
  expiry.it_value.tv_sec = ms / 1000;
  expiry.it_value.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  if (ms <= 0) expiry.it_value.tv_nsec = 1;  // a zero value would disarm it
  ::timerfd_settime(fd_, 0, &expiry, nullptr);
}

void Timer_Fd::Disarm() {
  itimerspec expiry{};
  ::timerfd_settime(fd_, 0, &expiry, nullptr);
  Consume();
}

bool Timer_Fd::Consume() {
  uint64_t expirations = 0;
  return ::read(fd_, &expirations, sizeof expirations) == sizeof expirations && expirations > 0;
}
