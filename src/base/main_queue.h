// Main_Queue: the bridge from worker threads to the main thread. Work that a worker leaves for
// the main thread (the receiver's log lines, status texts and data log lines, and the work that
// Main_Hand_Over waits for) runs on the main thread in the order it was posted, a whole batch per
// wake-up (poll_loop's Wake_Fd wakes the main thread's event loop). The queue is guarded by a
// standard mutex; a poster never waits for the main thread.
#pragma once

#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "base/poll_loop.h"

class QSocketNotifier;

class Main_Queue {
 public:
  using Work = std::function<void()>;

  // Created on the main thread after its QCoreApplication.
  Main_Queue();
  ~Main_Queue();
  Main_Queue(const Main_Queue&) = delete;
  Main_Queue& operator=(const Main_Queue&) = delete;

  // Any thread: appends the batch (emptied) behind what is queued and wakes the main thread.
  void Post(std::vector<Work>& batch);
  // Main thread: runs everything queued now, in order (work may call Drain itself).
  void Drain();

 private:
  Wake_Fd wake_;
  QSocketNotifier* notifier_ = nullptr;  // main thread only
  std::mutex mutex_;
  std::vector<Work> queue_;  // guarded by mutex_
};
