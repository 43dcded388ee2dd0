// Main_Hand_Over: the synchronous hand-over of work from a worker thread to the main thread.
// A worker queues its work and waits until the main thread has run it. The wake-up goes through
// a Main_Queue, the one bridge to the main thread (its poll_loop eventfd): the main thread runs
// queued work whenever that bridge is drained or when a wait calls Serve(). The queue is guarded
// by a standard mutex, so the hand-over orders memory for race checkers too (Qt's own blocking
// queued calls synchronise inside the uninstrumented Qt library).
//
// Close() (shutdown, after the waits for the workers) refuses further work and releases every
// waiting worker without running its work, so no worker can hang on a main thread that stopped
// serving.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "base/main_queue.h"

class Main_Hand_Over {
 public:
  // Created on the main thread (the thread that will run the work) after its QCoreApplication.
  // The hand-over wakes the main thread through `bridge`, which outlives it; the default
  // constructor makes a bridge of its own (a program part that has no other).
  explicit Main_Hand_Over(Main_Queue& bridge);
  Main_Hand_Over();
  ~Main_Hand_Over();  // Close()
  Main_Hand_Over(const Main_Hand_Over&) = delete;
  Main_Hand_Over& operator=(const Main_Hand_Over&) = delete;

  // Any thread. On the main thread `work` runs at once. Elsewhere it runs on the main thread and
  // this returns when it is done: true; false (work not run) once the hand-over is closed.
  bool Run(const std::function<void()>& work);
  // Main thread: runs every queued work now.
  void Serve();
  // Main thread: refuses further work and releases every waiting worker.
  void Close();
  // Main thread: while held, queued work is not run, so every worker that hands work over
  // waits (a stand-in for a worker that is stuck, for the watchdog's tests). Close() and
  // releasing the hold end the wait.
  void Hold(bool held);

 private:
  enum class State { Queued, Running, Done, Cancelled };
  struct Task {
    const std::function<void()>* Work;
    State Now = State::Queued;
  };
  // What the bridge's posted wake-ups reach: shared with them, so that one drained after the
  // hand-over is gone finds it closed and does nothing.
  struct Shared {
    std::thread::id Main_Thread;
    std::mutex Mutex;
    std::condition_variable Changed;
    std::deque<Task*> Queue;  // guarded by Mutex
    bool Closed = false;      // guarded by Mutex
    bool Held = false;        // main thread only
    void Serve();
  };

  std::unique_ptr<Main_Queue> own_bridge_;  // only when made by the default constructor
  Main_Queue& bridge_;
  std::shared_ptr<Shared> shared_;
};
