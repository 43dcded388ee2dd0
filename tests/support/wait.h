// The one wait of the tests and benchmarks: checks a condition until it holds or a deadline
// passes. On the main thread of a QCoreApplication it serves that thread's events between checks,
// so worker hand-overs, sockets and timers keep running while the test waits.
#pragma once

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <thread>

// Any thread. True as soon as `condition()` holds; false when it still does not after `timeout`.
// Between checks the thread pauses for `pause` (zero: serves events without pausing, for
// benchmarks whose figures include the main thread's answer time).
template <typename Condition>
bool Wait_Until(Condition&& condition,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(8000),
                std::chrono::microseconds pause = std::chrono::milliseconds(1)) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= until) return false;
    const QCoreApplication* app = QCoreApplication::instance();
    if (app != nullptr && QThread::currentThread() == app->thread()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      if (condition()) return true;
    }
    if (pause.count() > 0) std::this_thread::sleep_for(pause);
  }
  return true;
}
