// AT_Rec_Thread: the serial receive thread. Every 5 ms, while Link_State is not 0 and the serial
// port is open, it reads every waiting byte; an ACK (0x06) or NAK (0x15) is stored in
// Answer_Byte and then Answer_Event is set, every other byte (an echo, noise) is dropped.
// A read failure is reported as "Serial Port Error: " + errno through the error callback,
// then the thread sleeps 1000 ms. The port, the shared objects and the callback must outlive
// this object; the destructor stops the thread and waits for it within a bound (ending the
// process if a stuck thread outlives it, stuck_worker.h), so it never touches freed objects.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "automation/serial_port.h"
#include "base/sync_objects.h"
#include "base/thread_annotations.h"

class AT_Rec_Thread {
 public:
  // Called on the receive thread with the error line; the owner hands it to the main thread
  // (red log line with a beep) and returns when that is done. It must also return once the
  // owner is shutting down, or the thread cannot end.
  using Error_Report = std::function<void(const std::string& line)>;

  inline static constexpr std::chrono::milliseconds POLL_PERIOD{5};
  inline static constexpr std::chrono::milliseconds ERROR_PAUSE{1000};
  inline static constexpr std::chrono::milliseconds STOP_DEADLINE{5000};

  AT_Rec_Thread(Serial_Port& port, Shared_Sync& sync, Error_Report report_error);
  // Stop(), then at most STOP_DEADLINE for the thread to end (one poll, one read time-out and
  // one error report, which the owner must let return), then the join.
  ~AT_Rec_Thread();
  AT_Rec_Thread(const AT_Rec_Thread&) = delete;
  AT_Rec_Thread& operator=(const AT_Rec_Thread&) = delete;

  // Starts the thread (once; further calls do nothing). Main thread.
  void Start();
  // Asks the thread to end; wakes it from its 5 ms or 1000 ms sleep at once. Any thread.
  void Stop();
  // Waits at most `deadline` for the thread to end (after Stop()); true when it has ended or
  // never started. A thread that has not ended is still joined by the destructor, which is why
  // the owner keeps the port and the shared objects until this object is gone.
  bool Wait_Ended(std::chrono::milliseconds deadline);
  // True from Start() until the thread's last step (the reference the shutdown waits on).
  bool Is_Running() const { return running_.load(std::memory_order_acquire); }
  // Cycles completed so far (each ends with its sleep); lets a caller see the thread at work.
  uint64_t Cycle_Count() const { return cycles_.load(std::memory_order_acquire); }

 private:
  void Run();
  // Sleeps `period` unless asked to stop; false when asked to stop.
  bool Sleep(std::chrono::milliseconds period);

  Serial_Port& port_;
  Shared_Sync& sync_;
  Error_Report report_error_;
  std::thread thread_;  // main thread only
  // Atomics, read without a lock; running_ turns false under stop_mutex_ so that Wait_Ended
  // cannot miss it between its test and its wait.
  std::atomic<bool> running_{false};
  std::atomic<uint64_t> cycles_{0};
  Mutex stop_mutex_;
  std::condition_variable stop_changed_;
  bool stop_ GUARDED_BY(stop_mutex_) = false;
  std::condition_variable ended_;  // notified with stop_mutex_ when running_ turns false
};
