// The objects by which the main thread, the report sender and the serial receive thread
// coordinate: one mutex, three events and the two plain variables of the automation link.
// All members are safe to use from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "base/thread_annotations.h"

// An event that stays set until it is reset (Answer_Event, Run_Gate).
class Manual_Reset_Event {
 public:
  explicit Manual_Reset_Event(bool initially_set) : set_(initially_set) {}
  void Set();
  void Reset();
  // Test without waiting.
  bool Is_Set() const;
  // Waits at most `timeout` for the event; true when it is set.
  bool Wait(std::chrono::milliseconds timeout) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool set_;  // guarded by mutex_
  // A copy of set_ for Is_Set, which the report sender calls before every journal slot and
  // object; written under mutex_.
  std::atomic<bool> is_set_{set_};
};

// An event that one successful test consumes (New_Event_Signal).
class Auto_Reset_Event {
 public:
  void Set() { set_.store(true, std::memory_order_release); }
  // Test without waiting; consumes the event when it was set.
  bool Try_Take() { return set_.exchange(false, std::memory_order_acq_rel); }

 private:
  std::atomic<bool> set_{false};
};

// An auto-reset event that a thread can wait on with a time limit (Event_Stored): Set() from any
// thread wakes one wait, or the next one when none is waiting.
class Waitable_Signal {
 public:
  void Set();
  // Waits at most `timeout`; true when the signal was set (and consumes it).
  bool Wait(std::chrono::milliseconds timeout);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool set_ = false;  // guarded by mutex_
};

// Link_State flags: reports flow only while both are set (value 3).
inline constexpr uint32_t LINK_OPEN = 1;   // set by the link manager when the transport is up
inline constexpr uint32_t LINK_ALIVE = 2;  // set by the report sender on a heartbeat ACK

inline constexpr uint8_t ANSWER_ACK = 0x06;
inline constexpr uint8_t ANSWER_NAK = 0x15;

struct Shared_Sync {
  // Held around every change of the object table that is written to "latevn.dat", from the
  // change to the end of its write; it guards the file and is taken before the table's own lock.
  Mutex Object_Table_Lock;
  // Carries an answer byte to the report sender; set by the serial receive thread, the TCP read
  // handlers and shutdown; reset by the sender before each line.
  Manual_Reset_Event Answer_Event{false};
  // Set after each stored event; taken by the object list's one-second timer.
  Auto_Reset_Event New_Event_Signal;
  // Set by the receiver when events are stored (durable in the journal file), so that the report
  // sender starts its next cycle at once instead of at the end of its 50 ms sleep.
  Waitable_Signal Event_Stored;
  // Open while the report sender may run its passes; closed by "Clear Events", "Delete all
  // objects", and for good by shutdown.
  Manual_Reset_Event Run_Gate{true};
  // LINK_OPEN | LINK_ALIVE; changed flag-wise with fetch_or / fetch_and so no change is lost.
  std::atomic<uint32_t> Link_State{0};
  // The last ACK (0x06) or NAK (0x15) received; written before Answer_Event is set.
  std::atomic<uint8_t> Answer_Byte{0};
};
