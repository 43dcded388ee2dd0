#include "base/main_hand_over.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cstdint>

Main_Hand_Over::Main_Hand_Over() : main_thread_(std::this_thread::get_id()) {
  wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_fd_ >= 0) {
    notifier_ = new QSocketNotifier(wake_fd_, QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, [this] { Serve(); });
  }
}

Main_Hand_Over::~Main_Hand_Over() {
  Close();
  delete notifier_;
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

bool Main_Hand_Over::Run(const std::function<void()>& work) {
  if (std::this_thread::get_id() == main_thread_) {
    work();
    return true;
  }
  Task task{&work};
  std::unique_lock lock(mutex_);
  if (closed_) return false;
  queue_.push_back(&task);
  const uint64_t one = 1;
  // A full counter (never in practice) still leaves the descriptor readable, so the wake holds.
  [[maybe_unused]] const ssize_t written = ::write(wake_fd_, &one, sizeof one);
  changed_.wait(lock, [&] { return task.Now == State::Done || task.Now == State::Cancelled; });
  return task.Now == State::Done;
}

void Main_Hand_Over::Serve() {
  uint64_t count;
  while (::read(wake_fd_, &count, sizeof count) > 0) {
  }
  // Drained even while held, so the wake-up does not fire again and again.
  if (held_) return;
  std::unique_lock lock(mutex_);
  while (!queue_.empty()) {
    Task* task = queue_.front();
    queue_.pop_front();
    task->Now = State::Running;
    lock.unlock();
    (*task->Work)();
    lock.lock();
    task->Now = State::Done;
    changed_.notify_all();
  }
}

void Main_Hand_Over::Close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  for (Task* task : queue_) task->Now = State::Cancelled;
  queue_.clear();
  changed_.notify_all();
}

void Main_Hand_Over::Hold(bool held) {
  held_ = held;
  if (!held) Serve();
}
