// Poll_Loop and its two helper descriptors: the one place that calls epoll, timerfd and eventfd.
// A Poll_Loop waits for readiness of the descriptors added to it, each known by a 64-bit tag the
// caller chooses. A Wake_Fd lets another thread wake the loop; a Timer_Fd becomes readable once
// when its time has run out. Each object belongs to the thread that waits on it; only
// Wake_Fd::Signal may be called from any thread.
#pragma once

#include <cstdint>

class Poll_Loop {
 public:
  Poll_Loop();
  ~Poll_Loop();
  Poll_Loop(const Poll_Loop&) = delete;
  Poll_Loop& operator=(const Poll_Loop&) = delete;

  // Level-triggered interest: readable unless `want_read` is off (errors and hang-ups are always
  // reported), writable when `want_write`. False on failure.
  bool Add(int fd, uint64_t tag, bool want_write = false);
  bool Modify(int fd, uint64_t tag, bool want_write, bool want_read = true);
  void Remove(int fd);

  struct Ready {
    uint64_t Tag;
    bool Readable;  // data, or the peer's end of stream
    bool Writable;
    bool Failed;  // an error or hang-up is pending on the descriptor
  };
  // Waits at most `timeout_ms` (-1: no limit) and fills up to `max` entries; the count, 0 on a
  // time-out or an interrupted wait.
  int Wait(Ready* ready, int max, int timeout_ms);

 private:
  int fd_ = -1;
};

// An eventfd: Signal() from any thread makes it readable until Consume().
class Wake_Fd {
 public:
  Wake_Fd();
  ~Wake_Fd();
  Wake_Fd(const Wake_Fd&) = delete;
  Wake_Fd& operator=(const Wake_Fd&) = delete;
  int Fd() const { return fd_; }
  void Signal();
  void Consume();

 private:
  int fd_ = -1;
};

// A one-shot timerfd on the monotonic clock: Arm(ms) makes it readable `ms` from now.
class Timer_Fd {
 public:
  Timer_Fd();
  ~Timer_Fd();
  Timer_Fd(const Timer_Fd&) = delete;
  Timer_Fd& operator=(const Timer_Fd&) = delete;
  int Fd() const { return fd_; }
  void Arm(int ms);
  void Disarm();
  // Clears the readable state; true when the time had run out.
  bool Consume();

 private:
  int fd_ = -1;
};
