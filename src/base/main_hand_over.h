// Main_Hand_Over: the synchronous hand-over of work from a worker thread to the main thread.
// A worker queues its work and waits until the main thread has run it; the main thread runs
// queued work whenever its event loop turns (an eventfd wakes it) or when a wait calls Serve().
// The queue is guarded by a standard mutex, so the hand-over orders memory for race checkers
// too (Qt's own blocking queued calls synchronise inside the uninstrumented Qt library).
//
// Close() (shutdown, after the waits for the workers) refuses further work and releases every
// waiting worker without running its work, so no worker can hang on a main thread that stopped
// serving.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class QSocketNotifier;

class Main_Hand_Over {
 public:
  // Created on the main thread (the thread that will run the work) after its QCoreApplication,
  // whose event loop wakes it.
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

  std::thread::id main_thread_;
  int wake_fd_ = -1;                     // eventfd written by workers, read by the main thread
  QSocketNotifier* notifier_ = nullptr;  // main thread only
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Task*> queue_;  // guarded by mutex_
  bool closed_ = false;      // guarded by mutex_
  bool held_ = false;        // main thread only
};
