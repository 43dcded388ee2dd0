// Tcp_Link: the TCP connections of the automation link, beside Serial_Port. The link manager
// (main thread) adds the connections it accepts or opens and removes the ones it closes; the
// report sender (its own thread) writes each line on the newest connection and reads the answer
// byte there itself, so that a line and its answer never wait for the main thread.
//
// Threads: every member may be called from any thread; `mutex_` guards the connection list and
// the sender's use of one of them. A connection removed while the sender waits on it is shut
// down at once (the wait wakes) and its descriptor released when the sender lets it go.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/thread_annotations.h"

class Tcp_Link {
 public:
  enum class Result { No_Connection, No_Answer, Answered, Stopped };
  // What an unasked block of bytes becomes: only its first byte counts, and only ACK or NAK.
  using Answer_Sink = std::function<void(uint8_t)>;

  Tcp_Link() = default;
  ~Tcp_Link();
  Tcp_Link(const Tcp_Link&) = delete;
  Tcp_Link& operator=(const Tcp_Link&) = delete;

  // Takes `fd` over as the newest connection.
  void Add(int fd) EXCLUDES(mutex_);
  // Closes `fd` (later, when the sender uses it) and forgets it. False when it was not held.
  bool Remove(int fd) EXCLUDES(mutex_);
  // Closes every connection.
  void Remove_All() EXCLUDES(mutex_);
  int Count() const EXCLUDES(mutex_);
  // The oldest connection, -1 when none.
  int Oldest() const EXCLUDES(mutex_);
  // Writes `line` on the newest connection without waiting for an answer. False when none.
  bool Write(const std::string& line) EXCLUDES(mutex_);

  // Main thread, when `fd` is readable: -1 when the connection ended (end of stream or an
  // error, `error` holds its errno, 0 at an orderly end) and should be removed; otherwise 0, and
  // a block nobody waits for is taken, its first byte given to `sink` when ACK or NAK. While the
  // sender waits on `fd` the block is left to it: 1.
  int Take_Readable(int fd, const Answer_Sink& sink, int& error) EXCLUDES(mutex_);

  // Sender thread: writes `line` on the newest connection and waits at most `timeout` for its
  // answer (the first byte of a block, ACK or NAK; other blocks are dropped). `stop` is asked
  // every `slice`; true ends the wait with Stopped.
  Result Send_And_Wait(const std::string& line, std::chrono::milliseconds timeout,
                       std::chrono::milliseconds slice, const std::function<bool()>& stop,
                       uint8_t& answer) EXCLUDES(mutex_);

 private:
  void Release(int fd) EXCLUDES(mutex_);

  mutable Mutex mutex_;
  std::vector<int> fds_ GUARDED_BY(mutex_);  // oldest first; the last one is written to
  int busy_fd_ GUARDED_BY(mutex_) = -1;      // the connection the sender waits on
  bool busy_removed_ GUARDED_BY(mutex_) = false;
};
