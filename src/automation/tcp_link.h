// Tcp_Link: the TCP connections of the automation link, beside Serial_Port. The link manager
// (main thread) adds the connections it accepts or opens and removes the ones it closes; the
// report sender (its own thread) writes each line on the newest connection and reads the answer
// byte there itself, so that a line and its answer never wait for the main thread.
//
// Ownership of reads: the sender holds the connection it writes to from its first line until it
// lets it go (Let_Go, before it rests between cycles); while held, only the sender reads it, and
// the link manager's watch of it stands parked. The sender leaves two notices for the main
// thread, never waiting for them: a parked watch may resume (after Let_Go), and the peer of the
// held connection has ended it or failed (the main thread then closes and logs it as a watch
// would have).
//
// Threads: every member may be called from any thread unless it says otherwise; `mutex_` guards
// the connection list and the hold. A connection removed while held is shut down at once (a
// waiting read wakes) and its descriptor released by the sender when it lets it go.
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
  // The sender's notices for the main thread; each must only post its work there. `Resume`:
  // the watch of `fd` may read again. `Ended`: the peer of `fd` ended the connection (`error` 0)
  // or it failed with `error`.
  struct Notices {
    std::function<void(int fd)> Resume;
    std::function<void(int fd, int error)> Ended;
  };

  Tcp_Link() = default;
  ~Tcp_Link();
  Tcp_Link(const Tcp_Link&) = delete;
  Tcp_Link& operator=(const Tcp_Link&) = delete;

  // Set once, before the sender starts.
  void Set_Notices(Notices notices) { notices_ = std::move(notices); }

  // Takes `fd` over as the newest connection.
  void Add(int fd) EXCLUDES(mutex_);
  // Closes `fd` (later, when the sender holds it) and forgets it. False when it was not held.
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
  // sender holds `fd` nothing is read: 1, and the caller parks its watch until the Resume notice.
  int Take_Readable(int fd, const Answer_Sink& sink, int& error) EXCLUDES(mutex_);
  // Main thread, at the Ended notice: true when the sender still holds `fd` and saw its end (a
  // notice about a connection let go or removed meanwhile is stale).
  bool Ended_While_Held(int fd) const EXCLUDES(mutex_);

  // Sender thread: writes `line` on the newest connection (holding it) and waits at most
  // `timeout` for its answer (the first byte of a block, ACK or NAK; other blocks are dropped).
  // `stop` is asked every `slice`; true ends the wait with Stopped.
  Result Send_And_Wait(const std::string& line, std::chrono::milliseconds timeout,
                       std::chrono::milliseconds slice, const std::function<bool()>& stop,
                       uint8_t& answer) EXCLUDES(mutex_);
  // Sender thread: gives the held connection back to the link manager's watch.
  void Let_Go() EXCLUDES(mutex_);

 private:
  // Gives the held connection up; the Resume notice to send, if any, in `resume_fd`.
  void Release_Held(int& resume_fd) REQUIRES(mutex_);

  Notices notices_;
  mutable Mutex mutex_;
  std::vector<int> fds_ GUARDED_BY(mutex_);  // oldest first; the last one is written to
  int held_fd_ GUARDED_BY(mutex_) = -1;      // the connection the sender holds
  bool held_removed_ GUARDED_BY(mutex_) = false;
  bool held_ended_ GUARDED_BY(mutex_) = false;  // the sender saw its end
  bool parked_ GUARDED_BY(mutex_) = false;      // the watch of the held connection is parked
};
