// Main_Hand_Over: the synchronous hand-over of work from a worker thread to the main thread.
// A worker posts its work on the main thread's one bridge (a Main_Queue, woken through
// poll_loop's Wake_Fd) and waits until the main thread has run it; the main thread runs it when
// it drains that queue (its event loop turns, or a wait calls Serve()). The wait is guarded by a
// mutex the race checkers see, so the hand-over orders memory for them too. The work posted on the
// queue holds the hand-over's state, not the hand-over, so work still queued when the hand-over
// is gone finds it closed and does nothing.
//
// Close() (shutdown, after the waits for the workers) refuses further work and releases every
// waiting worker without running its work, so no worker can hang on a main thread that stopped
// serving.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "base/main_queue.h"
#include "base/thread_annotations.h"

class Main_Hand_Over {
 public:
  // Created on the main thread (the thread that will run the work) after its QCoreApplication.
  // The work goes through `queue` (which outlives the hand-over), or through a queue of its own.
  explicit Main_Hand_Over(Main_Queue* queue = nullptr);
  ~Main_Hand_Over();  // Close()
  Main_Hand_Over(const Main_Hand_Over&) = delete;
  Main_Hand_Over& operator=(const Main_Hand_Over&) = delete;

  // Any thread. On the main thread `work` runs at once. Elsewhere it runs on the main thread and
  // this returns when it is done: true; false (work not run) once the hand-over is closed.
  bool Run(const std::function<void()>& work);
  // Main thread: runs every queued work now (everything on the bridge, in order).
  void Serve();
  // Main thread: refuses further work and releases every waiting worker.
  void Close();
  // Main thread: while held, handed-over work is not run, so every worker that hands work over
  // waits (a stand-in for a worker that is stuck, for the watchdog's tests). Close() and
  // releasing the hold end the wait. Other work on the bridge still runs.
  void Hold(bool held);

 private:
  enum class State { Queued, Running, Done, Cancelled };
  struct Task {
    const std::function<void()>* Work;  // valid while Queued: the worker waits for it
    State Now = State::Queued;          // guarded by the hand-over's mutex
  };
  // What the work on the queue reaches: shared with it, so it outlives the hand-over.
  struct Shared {
    Mutex mutex;
    std::condition_variable changed;
    std::vector<std::shared_ptr<Task>> pending GUARDED_BY(mutex);  // queued, not yet run
    bool closed GUARDED_BY(mutex) = false;
    bool held = false;                          // main thread only
    std::vector<std::shared_ptr<Task>> parked;  // main thread only: arrived while held
  };
  // Main thread: runs the task unless it was cancelled; parks it while held.
  static void Perform(Shared& shared, const std::shared_ptr<Task>& task);

  std::thread::id main_thread_;
  std::unique_ptr<Main_Queue> own_queue_;
  Main_Queue& queue_;
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};
